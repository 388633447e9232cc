// The password prompt: the line rules (cut at 64, one line end removed, a CR
// before it kept, empty input), echo switched off on a terminal, and the
// terminal put back when a signal ends the process at the prompt.
#include "getpass.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Standard input taken from `fd` for the object's life.
class StdinFrom {
 public:
  explicit StdinFrom(int fd) : saved_(dup(0)) {
    dup2(fd, 0);
    clearerr(stdin);
  }
  ~StdinFrom() {
    dup2(saved_, 0);
    close(saved_);
    clearerr(stdin);
  }

 private:
  int saved_;
};

struct Answer {
  std::string password;
  std::string err;
};

Answer answer_from_pipe(const std::string& typed) {
  int fds[2];
  EXPECT_EQ(pipe(fds), 0);
  EXPECT_EQ(write(fds[1], typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
  close(fds[1]);
  StdinFrom input(fds[0]);
  close(fds[0]);
  testing::internal::CaptureStderr();
  char* password = getpassword(DECRYPTION_PROMPT);
  Answer a{password, testing::internal::GetCapturedStderr()};
  free(password);
  return a;
}

TEST(GetPassword, LineRules) {
  const std::string s64(64, 'p');
  struct Case {
    std::string typed, password, message;
  } cases[] = {
      {"secret\n", "secret", ""},
      {"secret\r\n", "secret\r", ""},  // only the final line end goes
      {"secret\r", "secret", ""},
      {"secret", "secret", ""},  // input ends without a line end
      {"", "", ""},              // nothing at all: the empty password
      {"\n", "", ""},
      {s64 + "\n", s64, ""},  // exactly 64: whole, no message
      {s64 + "x\n", s64, "Truncating the password to 64 characters\n"},
      {s64 + "xyz", s64, "Truncating the password to 64 characters\n"},
  };
  for (const Case& c : cases) {
    Answer a = answer_from_pipe(c.typed);
    EXPECT_EQ(a.password, c.password) << c.typed.size();
    EXPECT_EQ(a.err, std::string(DECRYPTION_PROMPT) + c.message) << c.typed.size();
  }
}

TEST(GetPassword, TerminalDoesNotEchoThePasswordAndGetsItsSettingsBack) {
  int master = -1, slave = -1;
  ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  termios before;
  ASSERT_EQ(tcgetattr(slave, &before), 0);
  ASSERT_TRUE(before.c_lflag & ECHO);
  {
    StdinFrom input(slave);
    // Typed after the prompt switched echo off: the flush of pending input
    // (TCSAFLUSH) would discard anything typed earlier.
    testing::internal::CaptureStderr();
    pid_t typist = fork();
    if (typist == 0) {
      usleep(200 * 1000);
      ssize_t ignored = write(master, "hunter2\n", 8);
      (void)ignored;
      _exit(0);
    }
    char* password = getpassword(DECRYPTION_PROMPT);
    std::string err = testing::internal::GetCapturedStderr();
    waitpid(typist, nullptr, 0);
    EXPECT_STREQ(password, "hunter2");
    EXPECT_EQ(err, std::string(DECRYPTION_PROMPT) + "\n");  // a line end replaces the echo
    free(password);
  }
  termios after;
  ASSERT_EQ(tcgetattr(slave, &after), 0);
  EXPECT_TRUE(after.c_lflag & ECHO);

  std::string echoed;
  char buf[256];
  pollfd p = {master, POLLIN, 0};
  while (poll(&p, 1, 100) > 0) {
    ssize_t n = read(master, buf, sizeof(buf));
    if (n <= 0) break;
    echoed.append(buf, static_cast<size_t>(n));
  }
  EXPECT_EQ(echoed.find("hunter2"), std::string::npos) << echoed;
  close(master);
  close(slave);
}

// Ctrl-C, kill or a hang-up at the prompt end the process as the signal
// does, but only once the terminal has its echo back.
TEST(GetPassword, SignalAtThePromptRestoresTheEchoBeforeTheProcessEnds) {
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(strsignal(signal_number));
    int master = -1, slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    pid_t prompter = fork();
    if (prompter == 0) {
      dup2(slave, 0);
      int quiet = open("/dev/null", O_WRONLY);
      dup2(quiet, 2);
      getpassword(DECRYPTION_PROMPT);
      _exit(0);
    }
    termios mode;
    for (int waited_ms = 0; waited_ms < 10000; waited_ms += 10) {
      if (tcgetattr(slave, &mode) == 0 && !(mode.c_lflag & ECHO)) break;
      usleep(10 * 1000);
    }
    ASSERT_FALSE(mode.c_lflag & ECHO) << "the prompt never turned echo off";
    kill(prompter, signal_number);
    int status = 0;
    ASSERT_EQ(waitpid(prompter, &status, 0), prompter);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal_number) << status;
    ASSERT_EQ(tcgetattr(slave, &mode), 0);
    EXPECT_TRUE(mode.c_lflag & ECHO);
    close(master);
    close(slave);
  }
}

}  // namespace
