// The password prompt.
#include "getpass.h"

#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const int kRestOfLineSize = 256;

// Scrubs a buffer that held a password; the compiler may not drop it.
void wipe(char* buf, size_t len) {
  volatile char* p = buf;
  while (len-- > 0) *p++ = 0;
}

// Drops the rest of an over-long line; tells the operator when more than a
// line end was cut off.
void discard_rest_of_line() {
  char rest[kRestOfLineSize + 1];
  memset(rest, 0, sizeof(rest));
  if (fgets(rest, sizeof(rest), stdin) != nullptr && strlen(rest) > 1) {
    fprintf(stderr, "Truncating the password to %d characters\n", BRIX_PASSWD_MAX);
  }
  wipe(rest, sizeof(rest));
}

}  // namespace

char* getpassword(const char* prompt) {
  char* password = static_cast<char*>(calloc(BRIX_PASSWD_MAX + 1, 1));
  if (password == nullptr) return nullptr;

  termios saved, silent;
  bool echo_off = false;
  if (tcgetattr(STDIN_FILENO, &saved) == 0) {
    silent = saved;
    silent.c_lflag &= ~static_cast<tcflag_t>(ECHO);  // canonical line input stays on
    echo_off = tcsetattr(STDIN_FILENO, TCSAFLUSH, &silent) == 0;
  }
  if (prompt != nullptr) {
    fputs(prompt, stderr);
    fflush(stderr);
  }
  bool got_line = fgets(password, BRIX_PASSWD_MAX + 1, stdin) != nullptr;
  if (echo_off) {
    fputs("\n", stderr);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
  }
  if (!got_line) {
    password[0] = '\0';  // nothing could be read: the empty password
    return password;
  }

  size_t len = strlen(password);
  if (len > 0 && (password[len - 1] == '\n' || password[len - 1] == '\r')) {
    password[len - 1] = '\0';  // one line end only: a CR before the LF stays
  } else {
    discard_rest_of_line();
  }
  return password;
}

bool_t get_decryption_password(rpl_Session* session) {
  char* password = getpassword(DECRYPTION_PROMPT);
  if (password == nullptr) {
    fprintf(stderr, "error in allocating memory\n");
    return B_FALSE;
  }
  strncpy(session->encr_passwd, password, BRIX_PASSWD_MAX);
  session->encr_passwd[BRIX_PASSWD_MAX] = '\0';
  wipe(password, BRIX_PASSWD_MAX + 1);
  free(password);
  return B_TRUE;
}
