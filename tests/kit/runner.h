// Running a program under test (the writer, or a tool) as a child process:
// its arguments, working directory and standard input (fixed bytes, an
// interactive stream, or a terminal session), its standard output and error
// captured in the background, waiting for
// output or for the end with a time-out, and killing it. Only the child it
// started is ever signalled.
#ifndef KIT_RUNNER_H
#define KIT_RUNNER_H

#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kit {

enum class Output {
  out,      // standard output
  err,      // standard error
  terminal  // StdinMode::terminal: everything the child wrote
};

enum class StdinMode {
  bytes,    // ProcessOptions::stdin_bytes, then the end of input
  stream,   // fed while it runs: write_stdin, close_stdin
  terminal  // a pseudo-terminal as the child's controlling terminal and its
            // standard input, output and error, as in a session at the keyboard
};

struct ProcessOptions {
  std::string path;               // the program
  std::vector<std::string> args;  // its arguments (without the program name)
  std::string cwd;                // working directory; empty: this process's
  StdinMode stdin_mode = StdinMode::bytes;
  std::string stdin_bytes;
  // "NAME=value" entries set over the inherited environment, for this child
  // only (a preloaded library and its settings, say).
  std::vector<std::string> env;
};

struct ExitStatus {
  bool exited = false;  // it called exit: `code` is the status
  int code = -1;
  bool signaled = false;  // a signal ended it: `signal`
  int signal = 0;
  bool timed_out = false;  // still running when the wait gave up
};

class WriterProcess {
 public:
  WriterProcess() = default;
  // Kills and reaps a child that still runs.
  ~WriterProcess();
  WriterProcess(const WriterProcess&) = delete;
  WriterProcess& operator=(const WriterProcess&) = delete;

  // Starts the program; false with error() when it cannot be run.
  bool start(const ProcessOptions& options);
  const std::string& error() const { return error_; }
  pid_t pid() const { return pid_; }

  // Interactive input (StdinMode::stream).
  bool write_stdin(const std::string& bytes);
  // The end of input.
  void close_stdin();
  // StdinMode::stream: hands our end of the child's standard input (a
  // connected socket) to the caller, who then owns it; -1 otherwise.
  int take_stdin_socket();

  // Everything captured so far.
  std::string output(Output which) const;
  // True once the output contains `text`; false when the time-out passes or
  // the output ended without it.
  bool wait_for_output(Output which, const std::string& text, int timeout_ms);
  // Waits for the end of the child and then for the rest of its output.
  ExitStatus wait(int timeout_ms);
  // SIGKILL to the child if it has not been reaped yet.
  bool kill();

 private:
  static constexpr int kStreams = 3;
  struct Capture {
    int fd = -1;
    std::string text;
    bool ended = false;
    std::thread reader;
  };

  bool fail(const std::string& what);
  void capture(int which);
  void feed_fixed_input(std::string bytes);
  bool reap(int flags);
  void stop_threads();

  std::string error_;
  pid_t pid_ = -1;
  bool reaped_ = false;
  ExitStatus status_;
  StdinMode mode_ = StdinMode::bytes;
  int stdin_fd_ = -1;  // our end of the child's standard input (the terminal master too)
  std::thread stdin_feeder_;
  mutable std::mutex mutex_;  // guards Capture::text and Capture::ended
  std::condition_variable changed_;
  Capture captures_[kStreams];
  std::atomic<bool> stopping_{false};  // capture threads end at the next quiet moment
};

}  // namespace kit

#endif  // KIT_RUNNER_H
