// Interrupted transfers of plain dump sets, restarted from the writer's
// checkpoint files: the continuation is the stored stream from the
// checkpointed header, and the reply reports the recorded block count.
#include <gtest/gtest.h>
#include <unistd.h>

#include "e2e_support.h"
#include "kit/temp_dir.h"
#include "rehearsal/dump_writer.h"
#include "rehearsal/stream_gen.h"
#include "restart_model.h"

namespace {

using e2e::bytes_of;
using e2e::play;
using e2e::Playback;

class Restart : public testing::Test {
 protected:
  kit::TempDir dir;
  std::string prefix = dir.file("vol");
  kit::Stream stream;

  void SetUp() override { store(kit::StreamShape()); }

  // A 20000-block stream of the shape, in three files.
  void store(kit::StreamShape shape) {
    shape.seed = 11;
    shape.total_blocks = 20000;
    stream = kit::generate_stream(shape);
    ASSERT_TRUE(kit::write_plain_set(prefix, stream, {7000, 7000}).ok());
  }

  // Points with a checkpoint file, lowest first.
  std::vector<uint32_t> checkpointed_points() {
    std::vector<uint32_t> points;
    for (uint32_t point = 0; point < 20000; point++) {
      if (access(kit::checkpoint_file_name(prefix, point).c_str(), F_OK) == 0)
        points.push_back(point);
    }
    return points;
  }

  int64_t recorded_blocks(uint32_t point) {
    return restarts::recorded_count(kit::checkpoint_file_name(prefix, point));
  }

  // Where the point's checkpoint was taken.
  size_t first_header_of(uint32_t point) {
    return restarts::opening_header(stream, point).value_or(0);
  }

  void interrupt_after(uint64_t blocks) {
    kit::DestinationOptions d;
    d.hangup_after_blocks = blocks;
    d.keep_blocks = false;
    Playback p = play({prefix}, d);
    ASSERT_EQ(p.status.code, 255);
  }

  Playback restart_from(uint32_t point) {
    kit::DestinationOptions d;
    d.restart_sync_point = point;
    d.structure.start_header_first = true;
    d.structure.require_end = true;
    return play({prefix}, d);
  }
};

TEST_F(Restart, ContinuesByteIdenticalFromTheCheckpointedHeader) {
  interrupt_after(9000);
  std::vector<uint32_t> points = checkpointed_points();
  ASSERT_FALSE(points.empty());
  EXPECT_LE(points.size(), 10u);
  uint32_t point = points.front();
  ASSERT_GT(point, LRD_RESTART_FILE_PHASE_BASE);
  int64_t recorded = recorded_blocks(point);
  size_t header = first_header_of(point);
  EXPECT_EQ(recorded, static_cast<int64_t>(header) - 1);  // blocks the send loop had sent before it

  Playback p = restart_from(point);
  EXPECT_EQ(p.status.code, 0) << p.err;
  EXPECT_EQ(bytes_of({p.dest.reply}), e2e::expected_reply(stream[0], recorded));
  EXPECT_TRUE(
      e2e::same_blocks(bytes_of(p.dest.blocks), bytes_of(stream, header, stream.size() - header)));
  EXPECT_TRUE(p.dest.ack_echoed);
  EXPECT_TRUE(checkpointed_points().empty());
}

TEST_F(Restart, FirstFilePhasePointResendsTheMidStreamHeaderAndCountsIt) {
  // The whole file phase at point 101, so that its file is the only one.
  kit::StreamShape one_point;
  one_point.headers_per_sync = 0;
  store(one_point);
  interrupt_after(100);
  uint32_t point = LRD_RESTART_FILE_PHASE_BASE;
  ASSERT_EQ(access(kit::checkpoint_file_name(prefix, point).c_str(), F_OK), 0);
  size_t header = first_header_of(point);
  EXPECT_EQ(recorded_blocks(point), static_cast<int64_t>(header));

  Playback p = restart_from(point);
  EXPECT_EQ(p.status.code, 0) << p.err;
  EXPECT_EQ(kit::blks_done(p.dest.reply), header);
  EXPECT_TRUE(
      e2e::same_blocks(bytes_of(p.dest.blocks), bytes_of(stream, header, stream.size() - header)));
}

TEST_F(Restart, TreePhasePointWithoutFileStartsAgainFromTheFirstBlock) {
  Playback p = restart_from(57);
  EXPECT_EQ(p.status.code, 0) << p.err;
  EXPECT_EQ(kit::blks_done(p.dest.reply), 0u);
  EXPECT_TRUE(e2e::same_blocks(bytes_of(p.dest.blocks), bytes_of(stream)));
}

TEST_F(Restart, MissingFilePhaseCheckpointIsRefusedWithoutReply) {
  Playback p = restart_from(150);
  EXPECT_EQ(p.status.code, 255);
  EXPECT_NE(p.err.find("could not find checkpoint file \n"), std::string::npos);
  EXPECT_EQ(p.dest.reply_kind, kit::ReplyKind::none);
}

TEST_F(Restart, DamagedCheckpointIsRefused) {
  interrupt_after(3000);
  uint32_t point = checkpointed_points().back();
  std::string name = kit::checkpoint_file_name(prefix, point);
  ASSERT_EQ(truncate(name.c_str(), 1808), 0);  // loses its magic
  Playback p = restart_from(point);
  EXPECT_EQ(p.status.code, 255);
  EXPECT_NE(p.err.find("Short read from Sourcecheckpoint file is corrupted\n"), std::string::npos)
      << p.err;
}

}  // namespace
