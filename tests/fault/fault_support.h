// Running the real writer with the fault shim preloaded: the shim's rules go
// to the writer alone (never to a checker in front of it), and what fired is
// read back from the shim's log.
#ifndef TESTS_FAULT_FAULT_SUPPORT_H
#define TESTS_FAULT_FAULT_SUPPORT_H

#include <string>
#include <vector>

#include "e2e_support.h"
#include "kit/temp_dir.h"

namespace fault {

// The hint every archivist baseline transfer prints on standard error when
// it starts to listen.
extern const char kArchivistHint[];
extern const char kNoEndOfStream[];  // the driver's line for a stream that stops early

// One writer run with faults armed by `rules` (the shim's BRIX_FAULT syntax).
class FaultyRun {
 public:
  FaultyRun(const kit::TempDir& dir, const std::string& rules);

  // The writer's options: writer_options with the shim and its settings.
  kit::ProcessOptions options(const std::vector<std::string>& args,
                              const std::string& stdin_bytes = "") const;
  e2e::Playback play(const std::vector<std::string>& args,
                     const kit::DestinationOptions& destination,
                     const std::string& stdin_bytes = "") const;
  e2e::Playback run_alone(const std::vector<std::string>& args,
                          const std::string& stdin_bytes = "") const;
  // The rules that fired, one "call@count" line each.
  std::string fired() const;

 private:
  std::string rules_;
  std::string log_;
};

// The points below `below` that have a writer checkpoint file, lowest first.
std::vector<uint32_t> checkpointed_points(const std::string& prefix, uint32_t below = 4096);

// Index of the first header of `point` in the stream (where its checkpoint
// was taken); the stream's size when there is none.
size_t first_header_of(const kit::Stream& stream, uint32_t point);

// Restarts a transfer from `point` (no fault) and checks what the rules say:
// the reply counts the blocks sent before the point's header, and the stream
// continues byte for byte from the block the rules name. When that block is
// a header the transfer completes; when it lies inside a file's data (a
// container chunk after the header's own), it goes out and the header check
// ends the transfer. `files` as written (plain or containers); `stdin_bytes`
// answers a password prompt.
void expect_restart_continues(const std::string& prefix, const kit::Stream& stream,
                              const std::vector<kit::DumpFileInfo>& files, uint32_t point,
                              const std::string& stdin_bytes = "");

}  // namespace fault

#endif  // TESTS_FAULT_FAULT_SUPPORT_H
