// Playback of plain dump sets by the real binary to a loopback destination:
// what arrives is the stored stream byte for byte, with the writer's exact
// lines and statuses, in both sending modes and at every failure the
// destination can provoke.
#include <gtest/gtest.h>
#include <unistd.h>

#include "e2e_support.h"
#include "kit/inflate.h"
#include "kit/temp_dir.h"
#include "rehearsal/dump_writer.h"
#include "rehearsal/stream_gen.h"

namespace {

using e2e::bytes_of;
using e2e::play;
using e2e::Playback;

const char kHint[] = "Use archivist start command on secondary to create a relationship\n";

kit::Stream sample_stream(uint64_t blocks, bool end_header = true, uint64_t seed = 7) {
  kit::StreamShape shape;
  shape.seed = seed;
  shape.total_blocks = blocks;
  shape.end_header = end_header;
  return kit::generate_stream(shape);
}

class Playback_ : public testing::Test {
 protected:
  kit::TempDir dir;
  std::string prefix = dir.file("vol");

  void store(const kit::Stream& stream, const std::vector<uint64_t>& split) {
    ASSERT_TRUE(kit::write_plain_set(prefix, stream, split).ok());
  }
  std::string checkpoint(uint32_t point) { return kit::checkpoint_file_name(prefix, point); }
  std::vector<std::string> checkpoints_left() {
    std::vector<std::string> left;
    for (uint32_t point = 0; point < 1000; point++) {
      if (access(checkpoint(point).c_str(), F_OK) == 0) left.push_back(checkpoint(point));
    }
    return left;
  }
};

TEST_F(Playback_, EveryBlockArrivesAsStoredAcrossFilesAndPrefixes) {
  kit::Stream stream = sample_stream(700);
  std::string second = dir.file("more");
  ASSERT_TRUE(kit::write_dump_set(
                  kit::multi_prefix_layout({prefix, second}, {{100, 250}, {0, 350}}), stream)
                  .ok());
  Playback p = play({prefix, second}, kit::DestinationOptions());
  EXPECT_EQ(p.status.code, 0) << p.err;
  EXPECT_TRUE(p.dest.complete) << p.dest.error << p.dest.structure_error;
  EXPECT_TRUE(e2e::same_blocks(bytes_of({p.dest.reply}), e2e::expected_reply(stream[0], 0)));
  EXPECT_TRUE(e2e::same_blocks(bytes_of(p.dest.blocks), bytes_of(stream, 1, stream.size() - 1)));
  EXPECT_EQ(p.out, "brix_writer: Will read 2 files from prefix " + prefix +
                       "\nbrix_writer: Will read 2 files from prefix " + second +
                       "\nWaiting for connection (inet6, inet)\nConnection accepted from "
                       "127.0.0.1\nTransfer started.\nUse 'archivist status' on source to "
                       "monitor progress.\nTransfer done.\nVerify by using 'archivist status' "
                       "on destination.\n");
  EXPECT_EQ(p.err, kHint);
  EXPECT_TRUE(checkpoints_left().empty());
}

TEST_F(Playback_, Ipv6DestinationIsNamedInBrackets) {
  kit::Stream stream = kit::minimal_stream();
  store(stream, {});
  kit::DestinationOptions d;
  d.host = "::1";
  Playback p = play({prefix}, d);
  EXPECT_EQ(p.status.code, 0) << p.err;
  EXPECT_EQ(p.out, e2e::archivist_transcript(prefix, 1, "[::1]"));
}

TEST_F(Playback_, WithoutHbakAWarningPrecedesTheStartAndReplicatorIsNamed) {
  store(kit::minimal_stream(), {});
  kit::DestinationOptions d;
  d.command_word = RPLCMD_RCQTREE;
  Playback p = play({"-O", "-p", "replicator_init", prefix}, d);
  EXPECT_EQ(p.status.code, 0) << p.err;
  EXPECT_EQ(p.out, "brix_writer: Will read 1 files from prefix " + prefix +
                       "\nWaiting for connection (inet6, inet)\nConnection accepted from "
                       "127.0.0.1\nWarning: HBAK support NOT enabled. Do not use -O option for "
                       "HBAK transfers.\nTransfer started.\nUse 'replicator status' on source to "
                       "monitor progress.\nTransfer done.\nVerify by using 'replicator status' "
                       "on destination.\n");
  EXPECT_EQ(p.err, "");  // no archivist hint for other commands
}

TEST_F(Playback_, StreamWithoutEndHeaderIsAbortedWithoutWaitingForTheAcknowledgement) {
  kit::Stream stream = sample_stream(120, false);
  store(stream, {60});
  kit::DestinationOptions d;
  d.structure.require_end = false;
  Playback p = play({prefix}, d);
  EXPECT_EQ(p.status.code, 255);
  EXPECT_NE(p.out.find("Transfer started.\n"), std::string::npos);
  const std::string abort_line =
      "Transfer completed without end stream header. Aborting transfer. (Missing input files?)\n";
  ASSERT_GE(p.out.size(), abort_line.size());
  EXPECT_EQ(p.out.substr(p.out.size() - abort_line.size()), abort_line);
  EXPECT_TRUE(e2e::same_blocks(bytes_of(p.dest.blocks), bytes_of(stream, 1, stream.size() - 1)));
  EXPECT_FALSE(p.dest.ack_sent);
}

TEST_F(Playback_, AcknowledgementOtherThanOneFailsAndIsNotEchoed) {
  store(kit::minimal_stream(), {});
  kit::DestinationOptions d;
  d.ack_value = 2;
  Playback p = play({prefix}, d);
  EXPECT_EQ(p.status.code, 255);
  EXPECT_EQ(p.err, std::string(kHint) + "Bad ack received 2\n");
  EXPECT_FALSE(p.dest.ack_echoed);
  EXPECT_EQ(p.out.find("Transfer done."), std::string::npos);
}

TEST_F(Playback_, DestinationThatLeavesInsteadOfAcknowledgingIsAShortRead) {
  store(kit::minimal_stream(), {});
  kit::DestinationOptions d;
  d.send_ack = false;
  Playback p = play({prefix}, d);
  EXPECT_EQ(p.status.code, 255);
  EXPECT_EQ(p.err, std::string(kHint) + "Short ack read\n");
}

TEST_F(Playback_, NegotiationOutcomes) {
  store(kit::minimal_stream(), {});
  struct Case {
    const char* what;
    uint32_t version_word, command;
    uint32_t restart_snap_id;
    std::vector<std::string> extra_args;
    std::string err;
  } cases[] = {
      {"versions 1 to 3", 0x00010003, RPLCMD_ACQTREE, 0, {}, "Short command read\n"},
      {"other command",
       0x00040004,
       RPLCMD_RCQTREE,
       0,
       {},
       "Unknown/Unsupported command received 4\n"},
      {"snapshot restart without hbak",
       0x00040004,
       RPLCMD_ACQTREE,
       9,
       {"-O"},
       "Cannot handle checkpoint restarts yet.\n"},
  };
  for (const Case& c : cases) {
    kit::DestinationOptions d;
    d.version_word = c.version_word;
    d.command_word = c.command;
    d.restart_snap_id = c.restart_snap_id;
    std::vector<std::string> args = c.extra_args;
    args.push_back(prefix);
    Playback p = play(args, d);
    EXPECT_EQ(p.status.code, 255) << c.what;
    EXPECT_NE(p.err.find(c.err), std::string::npos) << c.what << ": " << p.err;
    EXPECT_EQ(p.out.find("Transfer started."), std::string::npos) << c.what;
  }
}

TEST_F(Playback_, RefusedRequestGetsTheErrorRecordWithVersionFailure) {
  store(kit::minimal_stream(), {});
  kit::DestinationOptions d;
  d.restart_snap_id = 3;
  d.command_word = RPLCMD_ACRESTORE;
  Playback p = play({"-p", "archivist_restore", prefix}, d);
  EXPECT_EQ(p.status.code, 255);
  EXPECT_EQ(p.dest.reply_kind, kit::ReplyKind::refusal);
  EXPECT_EQ(kit::refusal_errcode(p.dest), RPL_NEG_FAIL_VERSION);
}

TEST_F(Playback_, InflatingModeSendsGeneratedBlocksForTheFilePhase) {
  kit::Stream full = sample_stream(400);
  store(kit::strip_file_phase_data(full), {50});
  Playback p = play({"-i", prefix}, kit::DestinationOptions());
  EXPECT_EQ(p.status.code, 0) << p.err;
  kit::Stream wire = kit::expected_inflated_wire(full);
  EXPECT_EQ(bytes_of({p.dest.reply}), bytes_of(wire, 0, 1));
  EXPECT_TRUE(e2e::same_blocks(bytes_of(p.dest.blocks), bytes_of(wire, 1, wire.size() - 1)));
}

TEST_F(Playback_, InflatingModeStopsAtAnInvalidHeaderWithItsMessage) {
  kit::Stream full = sample_stream(300);
  kit::Stream input = kit::strip_file_phase_data(full);
  long bad = kit::find_header(input, LR_HDR_FILE, 3, kit::Form::stripped);
  ASSERT_GT(bad, 0);
  kit::set_sync_num(input[bad], 50);  // a tree-phase number in the file phase
  store(input, {});
  kit::DestinationOptions d;
  Playback p = play({"-i", prefix}, d);
  EXPECT_EQ(p.status.code, 255);
  EXPECT_EQ(p.err, std::string(kHint) +
                       "brix_reader: invalid stage 1 checkpoint: 50\nFailed to properly inflate "
                       "stream\n");
}

TEST_F(Playback_, PlainModeStopsWhereAHeaderIsMissing) {
  kit::Stream stream = sample_stream(200);
  long victim = kit::find_header(stream, LR_HDR_FILE, 5, kit::Form::full);
  ASSERT_GT(victim, 0);
  kit::break_magic(stream[victim]);
  store(stream, {});
  kit::DestinationOptions d;
  Playback p = play({prefix}, d);
  EXPECT_EQ(p.status.code, 255);
  EXPECT_EQ(p.err, std::string(kHint) +
                       "Fatal Error. Header not found where expected. (Input data corrupt?)\n");
  // Every block up to and including the damaged one went out.
  ASSERT_GE(p.dest.blocks.size(), static_cast<size_t>(victim));
  EXPECT_EQ(bytes_of(p.dest.blocks, 0, victim), bytes_of(stream, 1, victim));
}

TEST_F(Playback_, DestinationHangingUpMidStreamIsAFailedWriteAndCheckpointsStay) {
  kit::Stream stream = sample_stream(40000);
  store(stream, {15000, 15000});
  kit::DestinationOptions d;
  d.hangup_after_blocks = 500;
  d.keep_blocks = false;
  Playback p = play({prefix}, d);
  EXPECT_EQ(p.status.code, 255);
  EXPECT_TRUE(p.status.exited);  // not killed by SIGPIPE
  EXPECT_EQ(p.err.rfind(std::string(kHint) + "Bad write to destination: ", 0), 0u) << p.err;
  EXPECT_FALSE(checkpoints_left().empty());
}

}  // namespace
