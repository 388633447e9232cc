// Faults on the dump files of a plain set: open failing at the probe or at
// a file's turn (or the file vanishing in between), read errors, reads that
// fall short, and failed seeks. A failure gives its exact message and status
// 255 and sends no wrong block; the checkpoint files stay, and a restart
// completes once the file is back. A short read is not the end of a file.
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

// Uses of each plain dump file: open 1 is the probe, open 2 its turn (the
// first file has only one); lseeks 1 to 5 and reads 1 to 3 look for
// container headers; then each refill is read 4, 5, ...
const int kFirstRefillRead = 4;
const int kLastDetectionSeek = 5;

class DumpFault : public testing::Test, protected fault::StoredSet {
 protected:
  void SetUp() override { store(31, 600, {200, 200}); }
  std::string file(int number) const { return kit::dump_file_name(prefix, number); }
  // A rule for the uses of dump file `number`.
  static std::string rule(const char* call, int number, const std::string& when) {
    return std::string(call) + ":/vol." + std::to_string(number) + "$@" + when;
  }
  void expect_whole_stream(const Playback& p) {
    EXPECT_EQ(p.status.code, 0) << p.err;
    EXPECT_TRUE(p.dest.complete) << p.dest.error << p.dest.structure_error;
    EXPECT_TRUE(e2e::same_blocks(bytes_of(p.dest.blocks), bytes_of(stream, 1, stream.size() - 1)));
  }
  // A restart from the last checkpoint, recorded in file 2, whose seek to
  // the recorded place fails: the restart is refused before its reply.
  void expect_failed_seek_to_the_checkpoint(const std::string& rules) {
    interrupt_at_the_acknowledgement();
    std::vector<uint32_t> points = fault::checkpointed_points(prefix);
    ASSERT_FALSE(points.empty());
    ASSERT_GE(e2e::opening_header(stream, points.back()), 400u) << "recorded in file 2";
    Playback p = play_failing(rules, perror_line("Bad read from Source", EIO), points.back());
    EXPECT_EQ(p.dest.reply_kind, kit::ReplyKind::none);
    fault::expect_restart_continues(prefix, stream, files, points.back(), answer);
  }
  // What arrived is the stored stream as far as it went.
  void expect_prefix_of_stream(const Playback& p) {
    EXPECT_TRUE(
        e2e::same_blocks(bytes_of(p.dest.blocks), bytes_of(stream, 1, p.dest.blocks.size())));
  }
};

TEST_F(DumpFault, ProbeThatCannotOpenAFileEndsTheRunBeforeListening) {
  struct Case {
    std::string rules;
    int file;
    int error;
  } cases[] = {
      {rule("open", 0, "1=EIO"), 0, EIO},
      {rule("open", 0, "1=EACCES"), 0, EACCES},
      {rule("open", 1, "1=EACCES"), 1, EACCES},
      {rule("open", 3, "1=EIO"), 3, EIO},  // the number after the last file
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rules);
    Playback p = fault::FaultyRun(dir, c.rules).run_alone({prefix});
    EXPECT_EQ(p.status.code, 255);
    EXPECT_EQ(p.err, "Can't open " + file(c.file) + ": " + strerror(c.error) + "\n");
    EXPECT_EQ(p.out, "");
  }
}

TEST_F(DumpFault, FileThatCannotBeOpenedAtItsTurnEndsTheTransferAndARestartCompletes) {
  struct Case {
    std::string rules;
    int file;
  } cases[] = {
      {rule("open", 1, "2=vanish"), 1},
      {rule("open", 2, "2=vanish"), 2},
      {rule("open", 2, "2=EACCES"), 2},
      {rule("open", 2, "2=EMFILE"), 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rules);
    std::string bytes, error;
    ASSERT_TRUE(kit::read_file(file(c.file), bytes, error)) << error;
    Playback p = play_failing(c.rules, "Failed to open " + file(c.file) + " for reading\n");
    EXPECT_EQ(p.dest.blocks.size(), 200u * c.file - 1);
    expect_prefix_of_stream(p);

    std::ofstream(file(c.file), std::ios::binary) << bytes;  // the file is back
    std::vector<uint32_t> points = fault::checkpointed_points(prefix);
    ASSERT_FALSE(points.empty());
    fault::expect_restart_continues(prefix, stream, files, points.back());
  }
}

TEST_F(DumpFault, ReadErrorOnADumpFileEndsTheTransfer) {
  struct Case {
    std::string rules;
    int error;
    bool replied;
  } cases[] = {
      {rule("read", 0, std::to_string(kFirstRefillRead) + "=EIO"), EIO, false},
      {rule("read", 1, std::to_string(kFirstRefillRead) + "=EIO"), EIO, true},
      {rule("read", 1, std::to_string(kFirstRefillRead + 3) + "=EINTR"), EINTR, true},
      {rule("read", 2, std::to_string(kFirstRefillRead + 1) + "=EIO"), EIO, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rules);
    Playback p = play_failing(c.rules, perror_line("Bad read from Source", c.error));
    EXPECT_EQ(p.dest.reply_kind, c.replied ? kit::ReplyKind::block : kit::ReplyKind::none);
    expect_prefix_of_stream(p);
  }
}

TEST_F(DumpFault, ReadsThatFallShortBeforeTheEndAreCompleted) {
  const std::string cases[] = {
      rule("read", 1, std::to_string(kFirstRefillRead) + "=short:5000"),  // not whole blocks
      rule("read", 1, std::to_string(kFirstRefillRead) + "=short:100"),   // less than a block
      rule("read", 0, std::to_string(kFirstRefillRead + 1) + "=short:4096"),
      rule("read", 2, "1+=short:1000"),  // every read of the file, detection included
      rule("read", 1, "1=short:10"),     // the container header read
  };
  for (const std::string& rules : cases) {
    SCOPED_TRACE(rules);
    fault::FaultyRun run(dir, rules);
    Playback p = run.play({prefix}, kit::DestinationOptions());
    expect_whole_stream(p);
    EXPECT_EQ(p.err, fault::kArchivistHint);
    EXPECT_NE(run.fired(), "");
  }
}

TEST_F(DumpFault, FailedSeekOrHeaderReadStopsTheTransferInsteadOfReadingFromTheWrongPlace) {
  struct Case {
    std::string rules;
    int file;  // the file hit: what came before it arrives whole
    int error;
  } cases[] = {
      {rule("lseek", 1, std::to_string(kLastDetectionSeek) + "=EIO"), 1, EIO},
      {rule("lseek", 2, "1=ESPIPE"), 2, ESPIPE},
      {rule("read", 2, "2=EIO"), 2, EIO},  // looking for an encryption header
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rules);
    Playback p = play_failing(c.rules, perror_line("Bad read from Source", c.error));
    EXPECT_EQ(p.out.find(fault::kNoEndOfStream), std::string::npos);
    EXPECT_EQ(p.dest.blocks.size(), 200u * c.file - 1);
    expect_prefix_of_stream(p);
  }
  // The first file: before anything listens.
  Playback p = fault::FaultyRun(dir, rule("lseek", 0, "1=EIO")).run_alone({prefix});
  EXPECT_EQ(p.status.code, 255);
  EXPECT_EQ(p.err, perror_line("Bad read from Source", EIO));
  EXPECT_EQ(p.out.find("Waiting"), std::string::npos);
}

TEST_F(DumpFault, FailedSeekToTheCheckpointSendsNoBlockAfterTheReply) {
  // Reopening file 2 at the checkpoint: detection takes lseeks 1 to 5, the
  // seek to the recorded offset is lseek 6.
  expect_failed_seek_to_the_checkpoint(rule("lseek", 2, "6=EIO"));
}

// The same faults on a compressed and encrypted set. Uses of each container:
// lseeks 1 to 4 and reads 1 to 3 find its headers, lseek 5 and reads 4 and 5
// load its chunk table, lseek 6 goes to its data, reads 6 on are its chunks.
const int kTableRead = 4, kDataSeek = 6, kFirstChunkRead = 6;

class ContainerFault : public DumpFault {
 protected:
  void SetUp() override { store(32, 600, {200, 200}, kit::DumpFormat::compressed_encrypted); }
};

TEST_F(ContainerFault, FailedReadOrSeekEndsTheTransferAtTheFileHit) {
  struct Case {
    std::string rules;
    std::string reported;
    bool end_of_input;  // the file could not be prepared: the input ends there
  } cases[] = {
      {rule("read", 1, "1=EIO"), perror_line("Bad read from Source", EIO), false},
      {rule("read", 1, std::to_string(kTableRead) + "=EIO"),
       perror_line("Bad read from Source", EIO) + "No chunk headers found\n", true},
      {rule("lseek", 1, std::to_string(kDataSeek) + "=EIO"),
       perror_line("Bad read from Source", EIO), true},
      {rule("read", 1, std::to_string(kFirstChunkRead) + "=EIO"),
       perror_line("Bad read from Source", EIO), false},
      {rule("read", 1, std::to_string(kFirstChunkRead + 1) + "=EINTR"),
       perror_line("Bad read from Source", EINTR), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rules);
    Playback p = play_failing(c.rules, c.reported);
    EXPECT_EQ(p.out.find(fault::kNoEndOfStream) != std::string::npos, c.end_of_input);
    size_t sent = p.dest.blocks.size();
    EXPECT_GE(sent, 199u);
    EXPECT_LE(sent, c.rules.find("@7") != std::string::npos ? 199u + 16 : 199u);
    expect_prefix_of_stream(p);
  }
}

TEST_F(ContainerFault, ShortChunkReadsAreCompleted) {
  fault::FaultyRun run(dir, rule("read", 1, "1+=short:700"));
  Playback p = run.play({prefix}, kit::DestinationOptions(), answer);
  expect_whole_stream(p);
  EXPECT_EQ(p.err, prompt() + fault::kArchivistHint);
  EXPECT_NE(run.fired(), "");
}

TEST_F(ContainerFault, FailedSeekToTheCheckpointSendsNoBlockAfterTheReply) {
  // Reopening file 2 at the checkpoint: its headers and table take lseeks 1
  // to 6, the checkpointed chunk is lseek 7.
  expect_failed_seek_to_the_checkpoint(rule("lseek", 2, "7=EIO"));
}

}  // namespace
