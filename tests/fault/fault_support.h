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

// Names and checkpoint files of a dump set in a test directory.
std::vector<uint32_t> checkpointed_points(const std::string& prefix, uint32_t below = 4096);

}  // namespace fault

#endif  // TESTS_FAULT_FAULT_SUPPORT_H
