// One reading of a dump set through the writer's reading core, with state
// of its own instead of the writer's process-wide record: a session naming
// the set, its block buffers, a container and a block source. The verifier's
// walk and each checkpoint check use one each.
#ifndef VERIFY_SET_READING_H
#define VERIFY_SET_READING_H

#include <memory>
#include <string>
#include <vector>

#include "block_source.h"
#include "brix.h"
#include "brix_comp_encr.h"
#include "fault_report.h"

namespace verify {

struct options;

class set_reading {
 public:
  explicit set_reading(const options& o);
  ~set_reading();  // stops the read-ahead thread, wipes the keys, closes the file
  set_reading(const set_reading&) = delete;
  set_reading& operator=(const set_reading&) = delete;

  // Opens the set's first file, probes the set and detects the file's kind,
  // as the writer does before it asks for the password.
  bool open_first(fault_report& told);
  // Prepares the detected file (a container's password check and chunk
  // table) under `password`.
  bool prepare(const std::string& password, fault_report& told);

  // The name of the file the session is at.
  std::string file_name() const;

  rpl_Session session;
  dump_container& container() { return *container_; }
  block_source& source() { return *source_; }

 private:
  alignas(8) lr_hdr in_buf_;
  alignas(8) lr_hdr swapped_buf_;
  std::vector<std::string> prefixes_;  // the session's input_file entries point here
  std::unique_ptr<dump_container> container_;
  std::unique_ptr<block_source> source_;
};

// While it lives, the writer's own reports go to `faults`, and its progress
// lines are kept quiet; then back to the standard streams.
class writer_reports_to {
 public:
  explicit writer_reports_to(fault_report& faults) { redirect_writer_reports(&faults, &progress_); }
  ~writer_reports_to() { redirect_writer_reports(nullptr, nullptr); }
  writer_reports_to(const writer_reports_to&) = delete;
  writer_reports_to& operator=(const writer_reports_to&) = delete;

 private:
  kept_report progress_;
};

// "plain", "compressed", "encrypted" or "compressed+encrypted" for the
// file the session has detected.
const char* file_kind(const rpl_Session& s);

}  // namespace verify

#endif  // VERIFY_SET_READING_H
