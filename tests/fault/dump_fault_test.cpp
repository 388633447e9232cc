// Faults on the dump files of a plain and of a compressed and encrypted set:
// open failing at the probe or at a file's turn (or the file vanishing in
// between), read errors, reads that fall short, and failed seeks. A failure
// gives its exact message and status 255 and sends no wrong block; the
// checkpoint files stay, and a restart completes once the file is back. A
// short read is not the end of a file.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "fault_support.h"
#include "rehearsal/dump_writer.h"
#include "rehearsal/stream_gen.h"

namespace {

using e2e::bytes_of;
using e2e::Playback;
using fault::perror_line;

// Uses of each dump file. Open 1 is the probe, open 2 its turn (the first
// file has only one). A plain file: lseeks 1 to 5 and reads 1 to 3 look for
// container headers, each refill is read 4, 5, ... A container: lseeks 1 to
// 4 and reads 1 to 3 find its headers, lseek 5 and reads 4 and 5 load its
// chunk table, lseek 6 goes to its data, its chunks are reads 6, 7, ...
struct Uses {
  int first_data_read, last_header_seek;
};
const Uses kPlainUses = {4, 5}, kContainerUses = {6, 6};

class DumpFault : public testing::TestWithParam<kit::DumpFormat>, protected fault::StoredSet {
 protected:
  void SetUp() override { store(31, 600, {200, 200}, GetParam()); }
  bool container() const { return GetParam() != kit::DumpFormat::plain; }
  const Uses& uses() const { return container() ? kContainerUses : kPlainUses; }
  std::string file(int number) const { return kit::dump_file_name(prefix, number); }
  // A rule for use `n` (and with "+" every later one) of dump file `number`.
  static std::string rule(const char* call, int number, int n, const std::string& action,
                          const char* every = "") {
    return std::string(call) + ":/vol." + std::to_string(number) + "$@" + std::to_string(n) +
           every + "=" + action;
  }
  // What arrived is the stored stream as far as it went.
  void expect_prefix_of_stream(const Playback& p) {
    EXPECT_TRUE(
        e2e::same_blocks(bytes_of(p.dest.blocks), bytes_of(stream, 1, p.dest.blocks.size())));
  }
};

TEST_P(DumpFault, ProbeThatCannotOpenAFileEndsTheRunBeforeListening) {
  const struct {
    int file;
    int error;
  } cases[] = {{0, EIO}, {0, EACCES}, {1, EACCES}, {3, EIO}};  // 3: behind the last file
  for (const auto& c : cases) {
    const std::string rules = rule("open", c.file, 1, strerrorname_np(c.error));
    SCOPED_TRACE(rules);
    Playback p = fault::FaultyRun(dir, rules).run_alone({prefix}, answer);
    EXPECT_EQ(p.status.code, 255);
    EXPECT_EQ(p.err, "Can't open " + file(c.file) + ": " + strerror(c.error) + "\n");
    EXPECT_EQ(p.out, "");
  }
}

TEST_P(DumpFault, FileThatCannotBeOpenedAtItsTurnEndsTheTransferAndARestartCompletes) {
  const struct {
    int file;
    const char* action;
  } cases[] = {{1, "vanish"}, {2, "vanish"}, {2, "EACCES"}, {2, "EMFILE"}};
  for (const auto& c : cases) {
    const std::string rules = rule("open", c.file, 2, c.action);
    SCOPED_TRACE(rules);
    std::string bytes, error;
    ASSERT_TRUE(kit::read_file(file(c.file), bytes, error)) << error;
    Playback p = play_failing(rules, "Failed to open " + file(c.file) + " for reading\n");
    EXPECT_EQ(p.dest.blocks.size(), 200u * c.file - 1);
    expect_prefix_of_stream(p);

    std::ofstream(file(c.file), std::ios::binary) << bytes;  // the file is back
    std::vector<uint32_t> points = fault::checkpointed_points(prefix);
    ASSERT_FALSE(points.empty());
    fault::expect_restart_continues(prefix, stream, files, points.back(), answer);
  }
}

// Nothing after the file hit goes out, and of it at most the chunk read
// before the failure.
TEST_P(DumpFault, FailedReadOrSeekEndsTheTransferAtTheFileHit) {
  const std::string eio = perror_line("Bad read from Source", EIO);
  const int data = uses().first_data_read;
  enum Sets { both, plain_only, containers_only };
  const struct {
    const char* call;
    int file, use;
    const char* action;
    std::string reported;
    Sets sets;
    bool end_of_input;  // the file could not be prepared: the input ends there
  } cases[] = {
      {"read", 0, data, "EIO", eio, both, false},  // before the reply
      {"read", 1, data, "EIO", eio, both, false},
      {"read", 1, data + 1, "EINTR", perror_line("Bad read from Source", EINTR), both, false},
      {"read", 2, data + 1, "EIO", eio, both, false},
      {"read", 1, 1, "EIO", eio, both, false},        // looking for a compression header
      {"read", 2, 2, "EIO", eio, plain_only, false},  // looking for an encryption header
      {"lseek", 1, 5, "EIO", eio, plain_only, false},
      {"lseek", 2, 1, "ESPIPE", perror_line("Bad read from Source", ESPIPE), plain_only, false},
      {"read", 1, 4, "EIO", eio + "No chunk headers found\n", containers_only, true},
      {"lseek", 1, 6, "EIO", eio, containers_only, true},  // to the data
  };
  for (const auto& c : cases) {
    if (c.sets != both && (c.sets == containers_only) != container()) continue;
    const std::string rules = rule(c.call, c.file, c.use, c.action);
    SCOPED_TRACE(rules);
    Playback p = play_failing(rules, c.reported);
    EXPECT_EQ(p.out.find(fault::kNoEndOfStream) != std::string::npos, c.end_of_input);
    EXPECT_EQ(p.dest.reply_kind, c.file == 0 ? kit::ReplyKind::none : kit::ReplyKind::block);
    if (c.file > 0) {
      EXPECT_GE(p.dest.blocks.size(), 200u * c.file - 1);
      EXPECT_LE(p.dest.blocks.size(), 200u * c.file - 1 + 16);
    }
    expect_prefix_of_stream(p);
  }
  // The first file: before anything listens.
  Playback p = fault::FaultyRun(dir, rule("lseek", 0, 1, "EIO")).run_alone({prefix}, answer);
  EXPECT_EQ(p.status.code, 255);
  EXPECT_EQ(p.err, eio);
  EXPECT_EQ(p.out.find("Waiting"), std::string::npos);
}

TEST_P(DumpFault, ReadsThatFallShortBeforeTheEndAreCompleted) {
  const int data = uses().first_data_read;
  const std::string cases[] = {
      rule("read", 1, data, "short:5000"),  // not whole blocks
      rule("read", 1, data, "short:100"),   // less than a block
      rule("read", 0, data + 1, "short:4096"),
      rule("read", 2, 1, "short:1000", "+"),  // every read of the file, headers included
      rule("read", 1, 1, "short:10"),         // the container header read
  };
  for (const std::string& rules : cases) {
    SCOPED_TRACE(rules);
    fault::FaultyRun run(dir, rules);
    Playback p = run.play({prefix}, kit::DestinationOptions(), answer);
    EXPECT_EQ(p.status.code, 0) << p.err;
    EXPECT_TRUE(p.dest.complete) << p.dest.error << p.dest.structure_error;
    EXPECT_TRUE(e2e::same_blocks(bytes_of(p.dest.blocks), bytes_of(stream, 1, stream.size() - 1)));
    EXPECT_EQ(p.err, prompt() + fault::kArchivistHint);
    EXPECT_NE(run.fired(), "");
  }
}

// A restart from the last checkpoint, recorded in file 2, whose seek to the
// recorded place fails: the restart is refused before its reply.
TEST_P(DumpFault, FailedSeekToTheCheckpointSendsNoBlockAfterTheReply) {
  interrupt_at_the_acknowledgement();
  std::vector<uint32_t> points = fault::checkpointed_points(prefix);
  ASSERT_FALSE(points.empty());
  ASSERT_GE(e2e::opening_header(stream, points.back()), 400u) << "recorded in file 2";
  // Reopening file 2 at the checkpoint takes the header seeks, then the seek
  // to the recorded place.
  Playback p = play_failing(rule("lseek", 2, uses().last_header_seek + 1, "EIO"),
                            perror_line("Bad read from Source", EIO), points.back());
  EXPECT_EQ(p.dest.reply_kind, kit::ReplyKind::none);
  fault::expect_restart_continues(prefix, stream, files, points.back(), answer);
}

INSTANTIATE_PLAIN_AND_CONTAINER_SETS(DumpFault);

}  // namespace
