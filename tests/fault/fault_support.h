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

// perror's line: the text, ": ", the system's description of `error`.
std::string perror_line(const std::string& text, int error);

// A generated stream stored as a dump set in a test directory.
class StoredSet {
 protected:
  kit::TempDir dir;
  std::string prefix = dir.file("vol");
  kit::Stream stream;
  std::vector<kit::DumpFileInfo> files;  // as written
  std::string answer;                    // to the password prompt of an encrypted set

  // A stream of `blocks` blocks from `seed`, split into files of `split`
  // blocks (the rest in one more), plain or as containers of `format`.
  void store(uint64_t seed, uint64_t blocks, const std::vector<uint64_t>& split,
             kit::DumpFormat format = kit::DumpFormat::plain);
  // The file-phase points in the order the stream opens them: one
  // checkpoint file each.
  std::vector<uint32_t> points_in_order() const;
  // Plays the whole stream without acknowledging it, which leaves the
  // checkpoint files of its last ten points.
  void interrupt_at_the_acknowledgement();
  // The prompt the writer prints before reading `answer`.
  std::string prompt() const;
  // Plays the set with the faults of `rules` armed (a restart when `restart`
  // is not 0) and checks that the run fails with status 255 and, after the
  // prompt and the listening hint, exactly `reported` on standard error.
  e2e::Playback play_failing(const std::string& rules, const std::string& reported,
                             uint32_t restart = 0);
};

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

// Restarts a transfer from `point` (no fault): the reply counts the blocks
// sent before the point's header, and the stream continues to its end byte
// for byte from the block a restart sends next. `files` as written (plain or
// containers); `stdin_bytes` answers a password prompt.
void expect_restart_continues(const std::string& prefix, const kit::Stream& stream,
                              const std::vector<kit::DumpFileInfo>& files, uint32_t point,
                              const std::string& stdin_bytes = "");

}  // namespace fault

// Runs each test of a suite parameterised by kit::DumpFormat on a plain set
// and on a compressed and encrypted one.
#define INSTANTIATE_PLAIN_AND_CONTAINER_SETS(suite)                                                \
  INSTANTIATE_TEST_SUITE_P(                                                                        \
      Sets, suite, testing::Values(kit::DumpFormat::plain, kit::DumpFormat::compressed_encrypted), \
      [](const testing::TestParamInfo<kit::DumpFormat>& info) {                                    \
        return info.param == kit::DumpFormat::plain ? "Plain" : "CompressedEncrypted";             \
      })

#endif  // TESTS_FAULT_FAULT_SUPPORT_H
