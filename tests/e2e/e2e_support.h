// End-to-end helpers: run the real brix_writer binary against the kit's
// destination over loopback (or, in the child mode, over its standard
// input) and collect both sides.
#ifndef TESTS_E2E_E2E_SUPPORT_H
#define TESTS_E2E_E2E_SUPPORT_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kit/runner.h"
#include "rehearsal/block.h"
#include "rehearsal/destination.h"
#include "rehearsal/dump_format.h"

namespace e2e {

constexpr int kWriterTimeoutMs = 60000;

// Both sides of one run.
struct Playback {
  kit::DestinationResult dest;
  kit::ExitStatus status;
  std::string out;  // the writer's standard output
  std::string err;  // the writer's standard error
};

kit::ProcessOptions writer_options(const std::vector<std::string>& args,
                                   const std::string& stdin_bytes = "");

// Starts the writer, plays the destination against it, and waits for the
// writer to end.
Playback play(const std::vector<std::string>& args, const kit::DestinationOptions& destination,
              const std::string& stdin_bytes = "");
// The same with the writer's options made by the caller (writer_options and
// more, such as an environment).
Playback play_with(const kit::ProcessOptions& writer, const kit::DestinationOptions& destination);

// The child mode: the writer's standard input is the connection.
Playback play_child(const std::vector<std::string>& args, kit::DestinationOptions destination);

// Runs the writer without a destination (for runs that end before listening).
Playback run_alone(const std::vector<std::string>& args, const std::string& stdin_bytes = "");
Playback run_alone_with(const kit::ProcessOptions& writer);

// A generated stream of exactly `blocks` blocks.
kit::Stream sample_stream(uint64_t blocks, uint64_t seed = 7);

// The bytes of a stream, for byte-for-byte comparisons.
std::string bytes_of(const kit::Stream& blocks);
std::string bytes_of(const kit::Stream& blocks, size_t first, size_t count);
// Compares two byte strings of whole blocks; on a difference says where,
// without printing megabytes.
testing::AssertionResult same_blocks(const std::string& got, const std::string& expected);

// The reply a destination must receive: block 0 with ndr_blks_done set.
std::string expected_reply(const kit::Block& start, uint64_t blks_done);

// The first header of `point` in the stream, where a transfer from the
// start takes that point's checkpoint; the stream size when there is none.
size_t opening_header(const kit::Stream& stream, uint32_t point);

// What a restart from `point` sends: the block count of its reply and the
// stream block it continues with. `found` is false when no header opens the
// point.
struct ResumePlace {
  bool found = false;
  size_t block = 0;
  uint64_t blks_done = 0;
};
ResumePlace restart_place(const kit::Stream& stream, uint32_t point, bool container);
// The same for a point whose opening header is stream block `header`.
ResumePlace restart_place_at(size_t header, uint32_t point, bool container);

// The stdout of a complete archivist playback of one prefix.
std::string archivist_transcript(const std::string& prefix, unsigned files,
                                 const std::string& peer = "127.0.0.1");

}  // namespace e2e

#endif  // TESTS_E2E_E2E_SUPPORT_H
