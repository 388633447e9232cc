// Faults on the writer's checkpoint files: a file that cannot be created, a
// write that fails or falls short, and removals that fail. Creation faults end the transfer with
// the exact messages after the header block has gone out, leave the earlier files in place and a
// restart from them complete; a short record is refused as corrupted. Failed removals change
// nothing of the outcome.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "fault_support.h"
#include "rehearsal/dump_writer.h"
#include "rehearsal/stream_gen.h"

namespace {

using e2e::Playback;

const char kCreateFailed[] = "error in creating writer checkpoint file \n";
// A record is written into a new file beside its own, then renamed.
const char kCreation[] = "open:.new$@";
const char kCorrupted[] = "checkpoint file is corrupted\n";

class CheckpointFault : public testing::Test, protected fault::StoredSet {
 protected:
  std::vector<uint32_t> points;

  void SetUp() override {
    store(41, 500, {250});
    points = points_in_order();
    ASSERT_GT(points.size(), 12u);
  }
  bool has_checkpoint(uint32_t point) const {
    return access(kit::checkpoint_file_name(prefix, point).c_str(), F_OK) == 0;
  }
  static std::string rule(const char* call, const std::string& when) {
    return std::string(call) + ":-checkpoint-writer.@" + when;
  }
};

TEST_F(CheckpointFault, FailedCreationEndsTheTransferAfterTheHeaderAndARestartCompletes) {
  struct Case {
    std::string rules;
    std::string reported;
  } cases[] = {
      {kCreation + std::string("3=ENOSPC"), kCreateFailed},
      {rule("write", "3=ENOSPC"),
       std::string("Bad write in dump file: ") + strerror(ENOSPC) + "\n" + kCreateFailed},
      {rule("write", "3=EIO"),
       std::string("Bad write in dump file: ") + strerror(EIO) + "\n" + kCreateFailed},
      {rule("write", "3=short:1000"), std::string("Short write in dump file") + kCreateFailed},
  };
  const size_t third_header = e2e::opening_header(stream, points[2]);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rules);
    Playback p = play_failing(c.rules, c.reported);
    EXPECT_EQ(p.out.find(fault::kNoEndOfStream), std::string::npos);
    // The header went out before its checkpoint was written; nothing after it.
    EXPECT_TRUE(
        e2e::same_blocks(e2e::bytes_of(p.dest.blocks), e2e::bytes_of(stream, 1, third_header)));
    EXPECT_TRUE(has_checkpoint(points[0]) && has_checkpoint(points[1]));
    // A record that could not be written whole never takes the point's name.
    EXPECT_FALSE(has_checkpoint(points[2]));
    fault::expect_restart_continues(prefix, stream, files, points[1]);
  }
}

TEST_F(CheckpointFault, CheckpointThatCannotBeReadIsRefusedBeforeTheReply) {
  interrupt_at_the_acknowledgement();
  const uint32_t point = fault::checkpointed_points(prefix).back();
  struct Case {
    std::string rules;
    std::string reported;
  } cases[] = {
      {rule("open", "1=EACCES"), "could not find checkpoint file \n"},
      {rule("read", "1=EIO"),
       std::string("Bad read from Source: ") + strerror(EIO) + "\n" + kCorrupted},
      {rule("read", "2=EIO"),  // after a first part of the record
       std::string("Bad read from Source: ") + strerror(EIO) + "\n" + kCorrupted},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rules);
    kit::DestinationOptions d;
    d.restart_sync_point = point;
    fault::FaultyRun run(
        dir, c.rules + (c.rules.find("@2") != std::string::npos ? ";" + rule("read", "1=short:900")
                                                                : ""));
    Playback p = run.play({prefix}, d);
    EXPECT_EQ(p.status.code, 255);
    EXPECT_EQ(p.err, fault::kArchivistHint + c.reported);
    EXPECT_EQ(p.dest.reply_kind, kit::ReplyKind::none);
    EXPECT_NE(run.fired(), "");
  }
  // A read that falls short is completed: the restart resumes.
  fault::FaultyRun run(dir, rule("read", "1=short:900"));
  kit::DestinationOptions d;
  d.restart_sync_point = point;
  d.keep_blocks = false;
  Playback p = run.play({prefix}, d);
  EXPECT_EQ(p.status.code, 0) << p.err;
  EXPECT_TRUE(p.dest.complete) << p.dest.error << p.dest.structure_error;
  EXPECT_EQ(run.fired(), "read@1\n");
}

// A restart goes on counting the files kept from its record: the transfer
// cut at the header of the sixth point left five, and a restart from the
// fifth that sends the rest still leaves ten.
TEST_F(CheckpointFault, RestartGoesOnCountingTheFilesKept) {
  // Writes on the connection: the version answer, the command echo, the
  // reply, then stream block i as write 3 + i.
  const size_t sixth = e2e::opening_header(stream, points[5]);
  play_failing("write:sock@" + std::to_string(3 + sixth) + "=EPIPE",
               fault::perror_line("Bad write to destination", EPIPE));
  ASSERT_EQ(fault::checkpointed_points(prefix),
            std::vector<uint32_t>(points.begin(), points.begin() + 5));
  kit::DestinationOptions d;
  d.restart_sync_point = points[4];
  d.send_ack = false;  // the writer fails at the acknowledgement; its files stay
  d.keep_blocks = false;
  ASSERT_EQ(e2e::play({prefix}, d).status.code, 255);
  EXPECT_EQ(fault::checkpointed_points(prefix),
            std::vector<uint32_t>(points.end() - 10, points.end()));
}

TEST_F(CheckpointFault, FailedRemovalsAreIgnored) {
  // Every removal after the acknowledgement fails: the transfer still counts
  // as done, and the last ten files stay.
  kit::DestinationOptions d;
  d.keep_blocks = false;
  // Only the removals after the acknowledgement: the files of the points
  // before the last ten went while the stream ran.
  Playback p =
      fault::FaultyRun(dir, rule("remove", std::to_string(points.size() - 10 + 1) + "+=EACCES"))
          .play({prefix}, d);
  EXPECT_EQ(p.status.code, 0) << p.err;
  EXPECT_TRUE(p.dest.complete);
  EXPECT_EQ(p.err, fault::kArchivistHint);
  EXPECT_EQ(p.out, e2e::archivist_transcript(prefix, 2));
  EXPECT_EQ(fault::checkpointed_points(prefix),
            std::vector<uint32_t>(points.end() - 10, points.end()));

  // The removal of the oldest file when the eleventh is created fails: it
  // stays, the transfer goes on, and the end removes the last ten.
  for (uint32_t point : points) remove(kit::checkpoint_file_name(prefix, point).c_str());
  p = fault::FaultyRun(dir, rule("remove", "1=EBUSY")).play({prefix}, d);
  EXPECT_EQ(p.status.code, 0) << p.err;
  EXPECT_TRUE(p.dest.complete);
  EXPECT_EQ(p.err, fault::kArchivistHint);
  EXPECT_EQ(fault::checkpointed_points(prefix), std::vector<uint32_t>{points[0]});
}

}  // namespace
