// What every fuzz target of the writer shares: a scratch directory for the
// files an input becomes, a session that starts each input from the state of
// a new process and releases everything it owns, and the check that ends the
// run loudly when an input breaks a promise without crashing.
#ifndef FUZZ_FUZZ_SUPPORT_H
#define FUZZ_FUZZ_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "brix.h"
#include "kit/owned_session.h"
#include "lr.h"

namespace fuzz {

// The password of every encrypted file the targets read; the seed corpora's
// containers are made with it, so that their verifiers match.
constexpr const char kFuzzPassword[] = "fuzzing-the-dump-reader";

// The scratch directory of this process, made on first use and removed at
// exit. Targets write their inputs into it.
const std::string& scratch_dir();
std::string scratch_file(const std::string& name);
// Removes every file in the scratch directory (checkpoint files that an
// input made, for instance), so that no input sees what an earlier one left.
void clear_scratch_dir();

// The writer's checkpoint files in a directory ("<prefix>-checkpoint-writer.<point>").
struct CheckpointFile {
  std::string path;
  uint32_t point = 0;  // as named: the point in signed decimal
};
std::vector<CheckpointFile> checkpoint_files_in(const std::string& dir);

// Writes size bytes to path, replacing the file; aborts when it cannot.
void write_whole_file(const std::string& path, const void* data, size_t size);

// A session as the driver makes it (kit::OwnedSession: fresh process state
// on creation and again on destruction, so that an input leaves nothing
// behind), with SIGPIPE ignored as the driver does; a prefix that does not
// fit aborts the run.
struct FuzzSession : kit::OwnedSession {
  FuzzSession();

  void add_prefix(const std::string& prefix);
  void set_password(const char* password);
};

// An in-memory file standing in for the destination connection: every write
// succeeds and what was sent can be read back.
class MemorySink {
 public:
  MemorySink();
  ~MemorySink();
  MemorySink(const MemorySink&) = delete;
  MemorySink& operator=(const MemorySink&) = delete;

  int fd() const { return fd_; }
  std::string contents() const;

 private:
  int fd_ = -1;
};

// Ends the process with the message when ok is false: an input broke a
// promise of the code under test (a wrong block sent, a state left behind).
// The message goes to the standard error the process started with, which
// the fuzzer's own output redirection does not hide.
void require(bool ok, const char* what);

}  // namespace fuzz

#endif  // FUZZ_FUZZ_SUPPORT_H
