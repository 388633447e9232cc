// Child processes under test: start, feed, capture, wait, kill.
#include "kit/runner.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>

namespace kit {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kPollMs = 50;            // how soon capture threads notice a stop
constexpr int kInputTimeoutMs = 5000;  // a child that reads nothing for this long fails the write
constexpr int kOutputGraceMs = 1000;   // output still arriving after the child has ended
constexpr auto kReapPause = std::chrono::milliseconds(2);
constexpr int kExecFailedStatus = 127;
constexpr int kFailedChdir = 1;  // steps of the child's set-up that can fail
constexpr int kFailedExec = 2;

// Writes everything to a socket, giving up when the reader stays blocked too
// long or has gone.
bool write_all(int fd, const char* p, size_t n) {
  while (n > 0) {
    pollfd pfd{fd, POLLOUT, 0};
    if (poll(&pfd, 1, kInputTimeoutMs) != 1) return false;
    const ssize_t w = send(fd, p, n, MSG_NOSIGNAL);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

// This process's environment with the entries of `overrides` put in place
// of (or beside) those of the same name.
std::vector<std::string> child_environment(const std::vector<std::string>& overrides) {
  auto name_of = [](const std::string& entry) { return entry.substr(0, entry.find('=')); };
  std::vector<std::string> result;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    bool replaced = false;
    for (const std::string& o : overrides) replaced = replaced || name_of(o) == name_of(entry);
    if (!replaced) result.push_back(entry);
  }
  result.insert(result.end(), overrides.begin(), overrides.end());
  return result;
}

// In the child, between fork and exec: only async-signal-safe calls.
[[noreturn]] void exec_child(const ProcessOptions& o, char* const* argv, char* const* envp, int in,
                             int out, int err, int status_fd) {
  const bool terminal = o.stdin_mode == StdinMode::terminal;
  if (terminal) setsid();
  dup2(in, STDIN_FILENO);
  dup2(terminal ? in : out, STDOUT_FILENO);
  dup2(terminal ? in : err, STDERR_FILENO);
  if (terminal) ioctl(STDIN_FILENO, TIOCSCTTY, 0);
  // What failed goes back to the parent: the step and errno.
  int failure[2] = {kFailedChdir, 0};
  if (o.cwd.empty() || chdir(o.cwd.c_str()) == 0) {
    execve(o.path.c_str(), argv, envp);
    failure[0] = kFailedExec;
  }
  failure[1] = errno;
  if (write(status_fd, failure, sizeof failure) < 0) _exit(kExecFailedStatus);
  _exit(kExecFailedStatus);
}

}  // namespace

bool WriterProcess::fail(const std::string& what) {
  error_ = what + ": " + strerror(errno);
  return false;
}

bool WriterProcess::start(const ProcessOptions& o) {
  if (pid_ > 0) {
    error_ = "already started";
    return false;
  }
  mode_ = o.stdin_mode;
  // [0] ours, [1] the child's; all closed on every failure path.
  int out[2] = {-1, -1}, err[2] = {-1, -1}, status[2] = {-1, -1}, in[2] = {-1, -1};
  auto give_up = [&](const std::string& what) {
    const int cause = errno;
    for (int fd : {out[0], out[1], err[0], err[1], status[0], status[1], in[0], in[1]}) {
      if (fd >= 0) close(fd);
    }
    errno = cause;
    return fail(what);
  };
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0 || pipe2(status, O_CLOEXEC) != 0) {
    return give_up("pipe");
  }
  if (mode_ == StdinMode::terminal) {
    in[0] = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128];
    if (in[0] < 0 || grantpt(in[0]) != 0 || unlockpt(in[0]) != 0 ||
        ptsname_r(in[0], name, sizeof name) != 0) {
      return give_up("pseudo-terminal");
    }
    in[1] = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (in[1] < 0) return give_up(std::string("open ") + name);
  } else if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, in) != 0) {
    // A socket rather than a pipe: writing to a child that has gone fails
    // with an error instead of raising SIGPIPE in the test process.
    return give_up("socketpair");
  }

  std::vector<std::string> words{o.path};
  words.insert(words.end(), o.args.begin(), o.args.end());
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(&w[0]);
  argv.push_back(nullptr);
  std::vector<std::string> environment = child_environment(o.env);
  std::vector<char*> envp;
  for (std::string& e : environment) envp.push_back(&e[0]);
  envp.push_back(nullptr);

  pid_ = fork();
  if (pid_ == 0) exec_child(o, argv.data(), envp.data(), in[1], out[1], err[1], status[1]);
  if (pid_ < 0) return give_up("fork");
  for (int* fd : {&in[1], &out[1], &err[1], &status[1]}) {
    close(*fd);
    *fd = -1;
  }
  int failure[2] = {0, 0};
  const bool child_failed = read(status[0], failure, sizeof failure) == sizeof failure;
  close(status[0]);
  if (child_failed) {
    reap(0);
    for (int fd : {in[0], out[0], err[0]}) close(fd);
    errno = failure[1];
    return fail(failure[0] == kFailedChdir ? "cannot enter " + o.cwd : "cannot run " + o.path);
  }

  stdin_fd_ = in[0];
  captures_[static_cast<int>(Output::out)].fd = out[0];
  captures_[static_cast<int>(Output::err)].fd = err[0];
  if (mode_ == StdinMode::terminal) captures_[static_cast<int>(Output::terminal)].fd = dup(in[0]);
  for (int i = 0; i < kStreams; ++i) {
    if (captures_[i].fd >= 0) {
      captures_[i].reader = std::thread(&WriterProcess::capture, this, i);
    } else {
      captures_[i].ended = true;
    }
  }
  if (mode_ == StdinMode::bytes)
    stdin_feeder_ = std::thread(&WriterProcess::feed_fixed_input, this, o.stdin_bytes);
  return true;
}

void WriterProcess::feed_fixed_input(std::string bytes) {
  write_all(stdin_fd_, bytes.data(), bytes.size());
  close(stdin_fd_);
  stdin_fd_ = -1;
}

void WriterProcess::capture(int which) {
  Capture& c = captures_[which];
  char buf[4096];
  for (;;) {
    pollfd p{c.fd, POLLIN, 0};
    const int n = poll(&p, 1, kPollMs);
    if (n == 0 && stopping_) break;
    if (n <= 0) continue;
    const ssize_t r = read(c.fd, buf, sizeof buf);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;  // the end, or EIO once a terminal's last user is gone
    std::lock_guard<std::mutex> lock(mutex_);
    c.text.append(buf, static_cast<size_t>(r));
    changed_.notify_all();
  }
  std::lock_guard<std::mutex> lock(mutex_);
  c.ended = true;
  changed_.notify_all();
}

bool WriterProcess::write_stdin(const std::string& bytes) {
  if (mode_ != StdinMode::stream || stdin_fd_ < 0) return false;
  return write_all(stdin_fd_, bytes.data(), bytes.size());
}

void WriterProcess::close_stdin() {
  if (mode_ != StdinMode::stream || stdin_fd_ < 0) return;
  close(stdin_fd_);
  stdin_fd_ = -1;
}

int WriterProcess::take_stdin_socket() {
  if (mode_ != StdinMode::stream) return -1;
  int fd = stdin_fd_;
  stdin_fd_ = -1;
  return fd;
}

std::string WriterProcess::output(Output which) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return captures_[static_cast<int>(which)].text;
}

bool WriterProcess::wait_for_output(Output which, const std::string& text, int timeout_ms) {
  const Capture& c = captures_[static_cast<int>(which)];
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                    [&] { return c.text.find(text) != std::string::npos || c.ended; });
  return c.text.find(text) != std::string::npos;
}

bool WriterProcess::reap(int flags) {
  int st = 0;
  if (waitpid(pid_, &st, flags) != pid_) return false;
  reaped_ = true;
  status_.exited = WIFEXITED(st);
  status_.code = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  status_.signaled = WIFSIGNALED(st);
  status_.signal = WIFSIGNALED(st) ? WTERMSIG(st) : 0;
  return true;
}

ExitStatus WriterProcess::wait(int timeout_ms) {
  if (pid_ <= 0) {
    ExitStatus none;
    none.timed_out = true;
    return none;
  }
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!reaped_ && !reap(WNOHANG)) {
    if (Clock::now() >= deadline) {
      ExitStatus running = status_;
      running.timed_out = true;
      return running;
    }
    std::this_thread::sleep_for(kReapPause);
  }
  const auto grace = std::max(deadline, Clock::now() + std::chrono::milliseconds(kOutputGraceMs));
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait_until(lock, grace, [&] {
    for (const Capture& c : captures_) {
      if (!c.ended) return false;
    }
    return true;
  });
  return status_;
}

bool WriterProcess::kill() {
  if (pid_ <= 0 || reaped_) return false;
  return ::kill(pid_, SIGKILL) == 0;
}

void WriterProcess::stop_threads() {
  stopping_ = true;
  if (stdin_feeder_.joinable()) stdin_feeder_.join();
  for (Capture& c : captures_) {
    if (c.reader.joinable()) c.reader.join();
    if (c.fd >= 0) close(c.fd);
    c.fd = -1;
  }
  if (stdin_fd_ >= 0) close(stdin_fd_);
  stdin_fd_ = -1;
}

WriterProcess::~WriterProcess() {
  if (pid_ > 0 && !reaped_) {
    kill();
    reap(0);
  }
  stop_threads();
}

}  // namespace kit
