// Where the reading layers tell what went wrong. The writer prints each
// message on standard error as it happens; a reader that works ahead of the
// sender keeps the message with the chunk it belongs to and prints it when
// the sender reaches that chunk, so the order of what the user sees never
// changes.
#ifndef BRIX_FAULT_REPORT_H
#define BRIX_FAULT_REPORT_H

#include <string>

class fault_report {
 public:
  virtual ~fault_report() = default;
  // Tells `text` exactly as it stands (a line end only where it has one).
  virtual void say(const char* text) = 0;

  // printf-style say().
  void sayf(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // The perror form: "<prefix>: <system error text>\n" for errno.
  void say_errno(const char* prefix);
};

// Prints at once on standard error.
class stderr_report : public fault_report {
 public:
  void say(const char* text) override;
};

// Keeps what it is told, to be printed later with print_kept().
class kept_report : public fault_report {
 public:
  void say(const char* text) override { kept_ += text; }
  bool empty() const { return kept_.empty(); }
  const std::string& text() const { return kept_; }
  void clear() { kept_.clear(); }

 private:
  std::string kept_;
};

// Prints at once on standard output (progress lines).
class stdout_report : public fault_report {
 public:
  void say(const char* text) override;
};

// The reports of the writer's own thread: its faults (standard error) and
// its progress lines (standard output). A program that reads a set without
// sending it (the verifier) points them at reports of its own; null points
// them back at the standard streams.
fault_report& writer_report();
fault_report& writer_progress();
void redirect_writer_reports(fault_report* faults, fault_report* progress);

#endif  // BRIX_FAULT_REPORT_H
