// The writer killed (SIGKILL) while it writes a checkpoint file: right after
// creating it, before any byte of the record, part way through, and with the
// whole record written but the file not yet in place; for a plain and for a
// compressed and encrypted set. A record is written beside its file and
// renamed into place, so the point being written never has a file cut
// short: a restart from it is refused as not found, before any reply, and a
// restart from the point before it resumes. No run may send a wrong block.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>

#include "fault_support.h"
#include "rehearsal/dump_writer.h"
#include "rehearsal/stream_gen.h"

namespace {

using e2e::Playback;

// The third checkpoint of the run: two whole files exist before it.
const char* const kKills[] = {
    "open:.new$@3=kill",                   // created, nothing written
    "write:-checkpoint-writer.@3=kill:0",  // killed just before the write
    "write:-checkpoint-writer.@3=kill:1",
    "write:-checkpoint-writer.@3=kill:1000",
    "write:-checkpoint-writer.@3=kill:1808",  // all but the magic
    "write:-checkpoint-writer.@3=kill:1811",
    "write:-checkpoint-writer.@3=kill",  // the whole record, the file not yet renamed
};

class CheckpointKill : public testing::TestWithParam<kit::DumpFormat>, protected fault::StoredSet {
 protected:
  std::vector<uint32_t> points;

  void SetUp() override {
    store(51, 400, {250}, GetParam());
    points = points_in_order();
    ASSERT_GT(points.size(), 3u);
  }
  void remove_checkpoints() {
    for (uint32_t point : fault::checkpointed_points(prefix)) {
      std::remove(kit::checkpoint_file_name(prefix, point).c_str());
    }
  }
};

TEST_P(CheckpointKill, KillWhileACheckpointIsWrittenLeavesNoRecordCutShort) {
  const uint32_t killed_at = points[2];
  const size_t header = e2e::opening_header(stream, killed_at);
  for (const char* kill : kKills) {
    SCOPED_TRACE(kill);
    remove_checkpoints();
    kit::DestinationOptions d;
    d.structure.require_end = false;
    d.io_timeout_ms = 10000;
    fault::FaultyRun run(dir, kill);
    Playback killed = run.play({prefix}, d, answer);
    ASSERT_TRUE(killed.status.signaled) << killed.err;
    EXPECT_EQ(killed.status.signal, SIGKILL);
    const std::string call(kill);
    EXPECT_EQ(run.fired(), call.substr(0, call.find(':')) + "@3\n");
    // The header went out before its checkpoint, and nothing after it.
    EXPECT_TRUE(
        e2e::same_blocks(e2e::bytes_of(killed.dest.blocks), e2e::bytes_of(stream, 1, header)));
    EXPECT_EQ(fault::checkpointed_points(prefix), (std::vector<uint32_t>{points[0], points[1]}));

    kit::DestinationOptions again;
    again.restart_sync_point = killed_at;
    Playback refused = e2e::play({prefix}, again, answer);
    EXPECT_EQ(refused.status.code, 255);
    EXPECT_EQ(refused.err, prompt() + fault::kArchivistHint + "could not find checkpoint file \n");
    EXPECT_EQ(refused.dest.reply_kind, kit::ReplyKind::none);
    fault::expect_restart_continues(prefix, stream, files, points[1], answer);
  }
}

INSTANTIATE_PLAIN_AND_CONTAINER_SETS(CheckpointKill);

}  // namespace
