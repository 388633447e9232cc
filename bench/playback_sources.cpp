// Starting and reaping the writer, and the baseline source.
#include "playback_sources.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <vector>

#include "bench_support.h"
#include "lr.h"
#include "rehearsal/dump_writer.h"

namespace bench {

namespace {

const char kLoopback[] = "127.0.0.1";
constexpr int kConnectDeadlineMs = 10000;
constexpr int kConnectAttemptMs = 100;
constexpr int kExecFailed = 127;

std::string read_log(const std::string& path) {
  std::string text;
  std::string error;
  kit::read_file(path, text, error);
  return text;
}

// The writer's standard input: the password line of an encrypted set, which
// it asks for when the first file is encrypted, in a pipe; /dev/null
// otherwise. -1 when neither can be opened.
int writer_input(const DumpSet& set) {
  if (set.password.empty()) return open("/dev/null", O_RDONLY | O_CLOEXEC);
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return -1;
  // A line far below the pipe's capacity: the write completes at once.
  const std::string line = set.password + "\n";
  const bool written =
      write(ends[1], line.data(), line.size()) == static_cast<ssize_t>(line.size());
  close(ends[1]);
  if (written) return ends[0];
  close(ends[0]);
  return -1;
}

// Forks the writer with standard input from writer_input() and standard
// output and error into `log`; -1 with `error` when it cannot be started.
//
// Forked, never vfork'd (posix_spawn): the kernel charges the memory a child
// had before exec to its peak, and a vfork'd child has the benchmark's own.
// A forked child holds only a copy of the benchmark's private pages, which
// the large buffers are kept out of (see MappedBuffer).
pid_t start_writer(const std::string& program, const DumpSet& set, const std::string& log,
                   bool one_thread, std::string& error) {
  if (access(program.c_str(), X_OK) != 0) {
    error = errno_text("cannot run " + program);
    return -1;
  }
  std::string path = program;
  std::string prefix = set.prefix;
  char* argv[] = {path.data(), prefix.data(), nullptr};
  const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, S_IRUSR | S_IWUSR);
  const int in = writer_input(set);
  pid_t pid = -1;
  if (out >= 0 && in >= 0) {
    pid = fork();
    if (pid == 0) {
      if (dup2(in, STDIN_FILENO) >= 0 && dup2(out, STDOUT_FILENO) >= 0 &&
          dup2(out, STDERR_FILENO) >= 0 &&
          (!one_thread || setenv("BRIX_DECODE_THREAD", "0", 1) == 0)) {
        execv(path.c_str(), argv);
      }
      _exit(kExecFailed);
    }
  }
  if (pid < 0) error = errno_text("cannot start " + program);
  if (out >= 0) close(out);
  if (in >= 0) close(in);
  return pid;
}

bool read_full(int fd, void* data, size_t n) {
  char* p = static_cast<char*>(data);
  while (n > 0) {
    const ssize_t got = read(fd, p, n);
    if (got <= 0) return false;
    p += got;
    n -= static_cast<size_t>(got);
  }
  return true;
}

bool echo_word(int fd) {
  uint32_t word = 0;
  return read_full(fd, &word, sizeof word) && write(fd, &word, sizeof word) == sizeof word;
}

// The baseline child's whole life: load, accept, negotiate, send, echo.
bool serve_from_memory(int listener, const DumpSet& set) {
  std::vector<char> bytes;
  if (!load_set(set, bytes)) return false;
  const int fd = accept(listener, nullptr, nullptr);
  if (fd < 0) return false;
  char request[LR_BLOCK_SIZE];
  bool ok = echo_word(fd) && echo_word(fd) && read_full(fd, request, sizeof request);
  for (size_t at = 0; ok && at < bytes.size(); at += LR_BLOCK_SIZE) {
    ok = write(fd, bytes.data() + at, LR_BLOCK_SIZE) == static_cast<ssize_t>(LR_BLOCK_SIZE);
  }
  ok = ok && echo_word(fd);
  close(fd);
  return ok;
}

// A listener on an ephemeral loopback port, with the writer's one option.
int loopback_listener(uint16_t& port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  const int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0 || listen(fd, 1) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    close(fd);
    return -1;
  }
  port = ntohs(addr.sin_port);
  return fd;
}

// True while the child has not ended; it is left to be reaped.
bool still_running(pid_t pid) {
  siginfo_t info{};
  return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
         info.si_pid == 0;
}

// Connects to a source on `port`, in short attempts so that a source that
// ended before it listened is noticed at once, and lets the reader take the
// playback.
Delivery play(uint16_t port, pid_t source, uint64_t set_bytes) {
  kit::DestinationConnection conn;
  Delivery d;
  for (int waited = 0;; waited += kConnectAttemptMs) {
    if (conn.connect(kLoopback, port, kConnectAttemptMs)) break;
    if (waited >= kConnectDeadlineMs || !still_running(source)) {
      d.error = conn.error();
      return d;
    }
  }
  return receive_playback(conn, source, set_bytes);
}

std::string status_text(int status) {
  if (WIFEXITED(status)) return "exit status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return "signal " + std::to_string(WTERMSIG(status));
  return "wait status " + std::to_string(status);
}

}  // namespace

bool run_writer(const std::string& program, const DumpSet& set, const std::string& log,
                WriterRun& run, std::string& error, bool one_thread) {
  const pid_t pid = start_writer(program, set, log, one_thread, error);
  if (pid < 0) return false;
  run.delivery = play(kit::kWriterPort, pid, set.bytes);
  if (!run.delivery.ok) kill(pid, SIGKILL);  // it may be waiting for a reader that is gone

  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid) {
    error = errno_text("wait4");
    return false;
  }
  run.peak_rss_kib = usage.ru_maxrss;
  if (run.delivery.ok && WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
  error = "brix_writer run failed (" + (run.delivery.ok ? "" : run.delivery.error + "; ") +
          status_text(status) + "); its output:\n" + read_log(log);
  return false;
}

long launch_floor_kib() {
  const pid_t pid = fork();
  if (pid == 0) _exit(0);
  int status = 0;
  rusage usage{};
  if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) return -1;
  return usage.ru_maxrss;
}

bool run_baseline(const DumpSet& set, Delivery& delivery, std::string& error) {
  uint16_t port = 0;
  const int listener = loopback_listener(port);
  if (listener < 0) {
    error = errno_text("baseline listener");
    return false;
  }
  const pid_t pid = fork();
  if (pid == 0) _exit(serve_from_memory(listener, set) ? 0 : 1);
  close(listener);
  if (pid < 0) {
    error = errno_text("fork");
    return false;
  }
  delivery = play(port, pid, set.bytes);
  if (!delivery.ok) kill(pid, SIGKILL);
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) {
    error = errno_text("waitpid");
    return false;
  }
  if (delivery.ok && WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
  error = "baseline run failed: " + (delivery.ok ? status_text(status) : delivery.error);
  return false;
}

}  // namespace bench
