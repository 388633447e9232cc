// The password prompt.
#include "getpass.h"

#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "secrets.h"
#include "wipe.h"

namespace {

const int kRestOfLineSize = 256;

// Drops the rest of an over-long line; tells the operator when more than a
// line end was cut off.
void discard_rest_of_line() {
  char rest[kRestOfLineSize + 1];
  memset(rest, 0, sizeof(rest));
  if (fgets(rest, sizeof(rest), stdin) != nullptr && strlen(rest) > 1) {
    fprintf(stderr, "Truncating the password to %d characters\n", BRIX_PASSWD_MAX);
  }
  wipe_secret(rest, sizeof(rest));
}

// The signals that end the process at the prompt (Ctrl-C, kill, a closed
// terminal): each restores the terminal first, so that the operator's shell
// does not go on without echo.
const int kPromptSignals[] = {SIGINT, SIGTERM, SIGHUP};
const int kPromptSignalCount = sizeof(kPromptSignals) / sizeof(kPromptSignals[0]);

termios terminal_before_prompt;  // what the handlers put back
struct sigaction actions_before_prompt[kPromptSignalCount];

void restore_terminal_and_end(int signal_number) {
  tcsetattr(STDIN_FILENO, TCSAFLUSH, &terminal_before_prompt);
  // The action is the default again (SA_RESETHAND): the signal, blocked
  // while this runs, ends the process when the handler returns.
  raise(signal_number);
}

// Installs the handlers for the prompt; a signal that was ignored stays so.
void guard_prompt(const termios& saved) {
  terminal_before_prompt = saved;
  struct sigaction guard;
  memset(&guard, 0, sizeof(guard));
  guard.sa_handler = restore_terminal_and_end;
  guard.sa_flags = SA_RESETHAND;
  sigemptyset(&guard.sa_mask);
  for (int i = 0; i < kPromptSignalCount; i++) {
    sigaction(kPromptSignals[i], nullptr, &actions_before_prompt[i]);
    if (actions_before_prompt[i].sa_handler != SIG_IGN) {
      sigaction(kPromptSignals[i], &guard, nullptr);
    }
  }
}

void unguard_prompt() {
  for (int i = 0; i < kPromptSignalCount; i++) {
    sigaction(kPromptSignals[i], &actions_before_prompt[i], nullptr);
  }
}

}  // namespace

char* getpassword(const char* prompt) {
  char* password = static_cast<char*>(calloc(BRIX_PASSWD_MAX + 1, 1));
  if (password == nullptr) return nullptr;

  termios saved, silent;
  bool echo_off = false;
  const bool is_terminal = tcgetattr(STDIN_FILENO, &saved) == 0;
  if (is_terminal) {
    guard_prompt(saved);
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
  if (is_terminal) unguard_prompt();
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
  keep_out_of_dumps();
  char* password = getpassword(DECRYPTION_PROMPT);
  if (password == nullptr) {
    fprintf(stderr, "error in allocating memory\n");
    return B_FALSE;
  }
  strncpy(session->encr_passwd, password, BRIX_PASSWD_MAX);
  session->encr_passwd[BRIX_PASSWD_MAX] = '\0';
  wipe_secret(password, BRIX_PASSWD_MAX + 1);
  free(password);
  return B_TRUE;
}
