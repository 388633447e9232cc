// Playback of plain dump sets by the real binary to a loopback destination:
// what arrives is the stored stream byte for byte, with the writer's exact
// lines and statuses, in both sending modes and whatever the destination
// does at each step of the conversation.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>

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

// The first data block at or after block `from`.
size_t data_block_from(const kit::Stream& s, size_t from) {
  while (kit::is_header(s[from])) from++;
  return from;
}

class Playback_ : public testing::Test {
 protected:
  kit::TempDir dir;
  std::string prefix = dir.file("vol");

  void store(const kit::Stream& stream, const std::vector<uint64_t>& split) {
    ASSERT_TRUE(kit::write_plain_set(prefix, stream, split).ok());
  }
  bool checkpoints_left() {
    for (uint32_t point = 0; point < 1000; point++) {
      if (access(kit::checkpoint_file_name(prefix, point).c_str(), F_OK) == 0) return true;
    }
    return false;
  }
};

// Data blocks are sent unchecked, even one that starts with the header magic.
TEST_F(Playback_, EveryBlockArrivesAsStoredAcrossFilesAndPrefixes) {
  kit::Stream stream = e2e::sample_stream(700);
  kit::put_magic(stream[data_block_from(stream, kit::find_header(stream, LR_HDR_MID_STREAM))]);
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
  EXPECT_FALSE(checkpoints_left());
}

// What the destination says or does, from its version word to its
// acknowledgement, and what the writer answers.
TEST_F(Playback_, DestinationOutcomes) {
  kit::Stream stream = e2e::sample_stream(300);
  store(stream, {});
  struct Case {
    const char* what;
    std::vector<std::string> args;  // before the prefix
    void (*edit)(kit::DestinationOptions&);
    std::string err;  // after the listening hint; empty: the transfer completes
    kit::ReplyKind reply = kit::ReplyKind::none;
    bool checkpoints_stay = false;
    std::string out = "";  // a part of standard output
  } cases[] = {
      {"versions 1 to 7", {}, [](kit::DestinationOptions& d) { d.version_word = 0x00010007; }, ""},
      {"versions 0 to 65535", {}, [](kit::DestinationOptions& d) { d.version_word = 0xFFFF; }, ""},
      // Without hbak a warning precedes the start; the transfer is named.
      {"a replicator transfer without hbak",
       {"-O", "-p", "replicator_init"},
       [](kit::DestinationOptions& d) { d.command_word = RPLCMD_RCQTREE; },
       "",
       kit::ReplyKind::none,
       false,
       "127.0.0.1\nWarning: HBAK support NOT enabled. Do not use -O option for HBAK transfers.\n"
       "Transfer started.\nUse 'replicator status' on source to monitor progress.\nTransfer "
       "done.\nVerify by using 'replicator status' on destination.\n"},
      {"from ::1",
       {},
       [](kit::DestinationOptions& d) { d.host = "::1"; },
       "",
       kit::ReplyKind::none,
       false,
       "Connection accepted from [::1]\n"},
      // The answer 0 goes out; the destination gives up and leaves.
      {"versions 1 to 3",
       {},
       [](kit::DestinationOptions& d) { d.version_word = 0x00010003; },
       "Short command read\n"},
      {"versions 5 to 9",
       {},
       [](kit::DestinationOptions& d) { d.version_word = 0x00050009; },
       "Short command read\n"},
      {"version word 0",
       {},
       [](kit::DestinationOptions& d) { d.version_word = 0; },
       "Negotiation Canceled by destination\n"},
      {"versions 7 to 2",
       {},
       [](kit::DestinationOptions& d) { d.version_word = 0x00070002; },
       "Invalid version range from destination: lowest 7 above highest 2\n"},
      {"another command",
       {},
       [](kit::DestinationOptions& d) { d.command_word = RPLCMD_RCQTREE; },
       "Unknown/Unsupported command received 4\n"},
      {"a snapshot restart", {}, [](kit::DestinationOptions& d) { d.restart_snap_id = 77; }, ""},
      {"a snapshot restart without hbak",
       {"-O"},
       [](kit::DestinationOptions& d) { d.restart_snap_id = 9; },
       "Cannot handle checkpoint restarts yet.\n",
       kit::ReplyKind::refusal},
      {"a snapshot restart of a restore",
       {"-p", "archivist_restore"},
       [](kit::DestinationOptions& d) {
         d.command_word = RPLCMD_ACRESTORE;
         d.restart_snap_id = 3;
       },
       "Cannot handle checkpoint restarts yet.\n",
       kit::ReplyKind::refusal},
      {"the longest source path",
       {},
       [](kit::DestinationOptions& d) { d.src_path = std::string(1024, 'p'); },
       ""},
      {"a source path without its end",
       {},
       [](kit::DestinationOptions& d) {
         kit::Block request = kit::make_request(d);
         memset(reinterpret_cast<lr_neg_data_request*>(request.bytes)->src_path, 'p', 1025);
         d.raw_request = request;
       },
       "The source path of the request is not terminated\n",
       kit::ReplyKind::refusal},
      {"an acknowledgement of 2",
       {},
       [](kit::DestinationOptions& d) { d.ack_value = 2; },
       "Bad ack received 2\n",
       kit::ReplyKind::block,
       true},
      {"no acknowledgement",
       {},
       [](kit::DestinationOptions& d) { d.send_ack = false; },
       "Short ack read\n",
       kit::ReplyKind::block,
       true},
      {"no acknowledgement of a replicator transfer",
       {"-p", "replicator_init"},
       [](kit::DestinationOptions& d) {
         d.command_word = RPLCMD_RCQTREE;
         d.send_ack = false;
       },
       "Short ack read\n",
       kit::ReplyKind::block,
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    kit::DestinationOptions d;
    c.edit(d);
    std::vector<std::string> args = c.args;
    args.push_back(prefix);
    Playback p = play(args, d);
    const std::string hint = c.args.empty() || c.args[0] == "-O" ? kHint : "";
    if (c.err.empty()) {
      EXPECT_EQ(p.status.code, 0) << p.err;
      EXPECT_TRUE(p.dest.complete) << p.dest.error << p.dest.structure_error;
      EXPECT_TRUE(
          e2e::same_blocks(bytes_of(p.dest.blocks), bytes_of(stream, 1, stream.size() - 1)));
    } else {
      EXPECT_EQ(p.status.code, 255);
      EXPECT_EQ(p.err, hint + c.err);
      EXPECT_EQ(p.dest.reply_kind, c.reply);
      EXPECT_EQ(p.out.find("Transfer done."), std::string::npos);
    }
    if (c.reply == kit::ReplyKind::refusal) {
      EXPECT_EQ(kit::refusal_errcode(p.dest), RPL_NEG_FAIL_VERSION);
    }
    EXPECT_EQ(checkpoints_left(), c.checkpoints_stay);
    EXPECT_NE(p.out.find(c.out), std::string::npos) << p.out;
    for (uint32_t point = 0; point < 1000; point++) {
      unlink(kit::checkpoint_file_name(prefix, point).c_str());
    }
  }
}

TEST_F(Playback_, StreamWithoutEndHeaderIsAbortedWithoutWaitingForTheAcknowledgement) {
  kit::StreamShape shape;
  shape.total_blocks = 120;
  shape.end_header = false;
  const kit::Stream stream = kit::generate_stream(shape);
  store(stream, {60});
  kit::DestinationOptions d;
  d.structure.require_end = false;
  Playback p = play({prefix}, d);
  EXPECT_EQ(p.status.code, 255);
  const std::string abort_line =
      "Transfer started.\nUse 'archivist status' on source to monitor progress.\n"
      "Transfer completed without end stream header. Aborting transfer. (Missing input files?)\n";
  ASSERT_GE(p.out.size(), abort_line.size());
  EXPECT_EQ(p.out.substr(p.out.size() - abort_line.size()), abort_line);
  EXPECT_TRUE(e2e::same_blocks(bytes_of(p.dest.blocks), bytes_of(stream, 1, stream.size() - 1)));
  EXPECT_FALSE(p.dest.ack_sent);
}

TEST_F(Playback_, PlainModeStopsWhereAHeaderIsMissing) {
  kit::Stream stream = e2e::sample_stream(200);
  long victim = kit::find_header(stream, LR_HDR_FILE, 5, kit::Form::full);
  ASSERT_GT(victim, 0);
  kit::break_magic(stream[victim]);
  store(stream, {});
  Playback p = play({prefix}, kit::DestinationOptions());
  EXPECT_EQ(p.status.code, 255);
  EXPECT_EQ(p.err, std::string(kHint) +
                       "Fatal Error. Header not found where expected. (Input data corrupt?)\n");
  // Every block up to and including the damaged one went out.
  ASSERT_GE(p.dest.blocks.size(), static_cast<size_t>(victim));
  EXPECT_EQ(bytes_of(p.dest.blocks, 0, victim), bytes_of(stream, 1, victim));
}

// The inflating mode reads headers alone in the file phase and generates
// their data blocks; a tree-phase data block that starts with the header
// magic is still data.
TEST_F(Playback_, InflatingModeSendsGeneratedBlocksForTheFilePhase) {
  kit::Stream full = e2e::sample_stream(400);
  kit::put_magic(full[data_block_from(full, 1)]);  // a directory block
  store(kit::strip_file_phase_data(full), {50});
  Playback p = play({"-i", prefix}, kit::DestinationOptions());
  EXPECT_EQ(p.status.code, 0) << p.err;
  kit::Stream wire = kit::expected_inflated_wire(full);
  EXPECT_EQ(bytes_of({p.dest.reply}), bytes_of(wire, 0, 1));
  EXPECT_TRUE(e2e::same_blocks(bytes_of(p.dest.blocks), bytes_of(wire, 1, wire.size() - 1)));
}

TEST_F(Playback_, InflatingModeStopsAtAWrongInputWithItsMessage) {
  const kit::Stream input = kit::strip_file_phase_data(e2e::sample_stream(300));
  const long third_file = kit::find_header(input, LR_HDR_FILE, 3, kit::Form::stripped);
  const long tree_header = kit::find_header(input, LR_HDR_DELETED_FILE, 0, kit::Form::stripped);
  ASSERT_GT(third_file, kit::find_header(input, LR_HDR_MID_STREAM, 0, kit::Form::stripped));
  const struct {
    const char* what;
    long at;
    void (*edit)(kit::Stream&, long at);
    std::string err;
  } cases[] = {
      {"a tree point in the file phase", third_file,
       [](kit::Stream& s, long at) { kit::set_sync_num(s[at], 50); },
       "brix_reader: invalid stage 1 checkpoint: 50\nFailed to properly inflate stream\n"},
      {"a tree header without its magic", tree_header,
       [](kit::Stream& s, long at) { kit::break_magic(s[at]); },
       "Fatal Error. Header not found where expected. (Input data corrupt?)\n"
       "Failed to properly inflate stream\n"},
      {"a data block in the file phase", third_file,
       [](kit::Stream& s, long at) { s.insert(s.begin() + at, kit::data_block(9)); }, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_GT(c.at, 0);
    kit::Stream damaged = input;
    c.edit(damaged, c.at);
    store(damaged, {});
    kit::DestinationOptions d;
    d.structure.require_end = false;
    Playback p = play({"-i", prefix}, d);
    EXPECT_EQ(p.status.code, 255);
    EXPECT_EQ(p.err, kHint + c.err);
  }
}

}  // namespace
