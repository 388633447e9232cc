// Faults on the destination connection, at every step of the conversation:
// read and write errors, short counts, EINTR and a peer that has gone, on the
// version word, the command word, the request, the reply, the stream blocks
// and the acknowledgement. Each gives its step's exact message and status
// 255, and the checkpoint files written so far stay for a restart, which then
// completes. Only the reads of the words go on after an interrupted or short
// read, until the word is whole.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "fault_support.h"
#include "rehearsal/dump_writer.h"
#include "rehearsal/stream_gen.h"

namespace {

using e2e::Playback;
using fault::perror_line;

// Uses of the connection by the writer: reads are the version word (1), the
// command word (2), the request (3, whole in one read on loopback) and the
// acknowledgement (4); writes are the version answer (1), the command echo
// (2), the reply (3), the stream blocks (4 on) and the acknowledgement echo.
const int kVersionUse = 1, kCommandUse = 2, kRequestRead = 3, kReplyWrite = 3, kAckRead = 4;
const int kFirstBlockWrite = 4;

struct Case {
  std::string rules;
  std::string reported;  // standard error after the listening hint
};

class ConnectionFault : public testing::Test, protected fault::StoredSet {
 protected:
  void SetUp() override { store(21, 240, {100}); }
  // A rule for use `use` of the connection by `call` (read or write).
  static std::string rule(const char* call, int use, const std::string& action) {
    return std::string(call) + ":sock@" + std::to_string(use) + "=" + action;
  }
  int ack_write() const { return kFirstBlockWrite + static_cast<int>(stream.size()) - 1; }

  Playback run(const Case& c) {
    fault::FaultyRun faulty(dir, c.rules);
    kit::DestinationOptions d;
    d.io_timeout_ms = 10000;
    d.keep_blocks = false;
    Playback p = faulty.play({prefix}, d);
    EXPECT_EQ(p.status.code, 255);
    EXPECT_EQ(p.err, fault::kArchivistHint + c.reported);
    EXPECT_EQ(p.out.find("Transfer done."), std::string::npos);
    EXPECT_NE(faulty.fired(), "");
    return p;
  }
};

TEST_F(ConnectionFault, NegotiationFailsAtTheStepHitWithThatStepsMessage) {
  const Case cases[] = {
      {rule("read", kVersionUse, "EIO"), perror_line("Bad version read", EIO)},
      {rule("read", kVersionUse, "eof"), "Short version read\n"},
      {rule("write", kVersionUse, "hangup"), perror_line("Bad version write", EPIPE)},
      {rule("write", kVersionUse, "short:3"), "Short version write\n"},
      {rule("read", kCommandUse, "EIO"), perror_line("Bad command read", EIO)},
      {rule("read", kCommandUse, "eof"), "Short command read\n"},
      {rule("write", kCommandUse, "EINTR"), perror_line("Bad command write", EINTR)},
      {rule("write", kCommandUse, "short:2"), "Short command write\n"},
      {rule("read", kRequestRead, "EIO"), perror_line("brix_reader: read failed", EIO)},
      {rule("read", kRequestRead, "eof"), "brix_reader: socket broken.\n"},
      {rule("write", kReplyWrite, "ECONNRESET"), perror_line("Bad reply write", ECONNRESET)},
      {rule("write", kReplyWrite, "short:4000"), "Short reply write\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rules);
    Playback p = run(c);
    EXPECT_EQ(p.out.find("Transfer started."), std::string::npos);
    EXPECT_EQ(p.dest.stream_blocks, 0u);
  }
}

// Writes stay one call each: only the reads of the words are repeated.
TEST_F(ConnectionFault, WordReadInterruptedOrFallingShortIsRepeatedUntilWhole) {
  const std::string rules[] = {
      rule("read", kVersionUse, "EINTR"), rule("read", kVersionUse, "short:2"),
      rule("read", kCommandUse, "EINTR"), rule("read", kCommandUse, "short:1"),
      rule("read", kAckRead, "EINTR"),    rule("read", kAckRead, "short:3"),
  };
  for (const std::string& rule : rules) {
    SCOPED_TRACE(rule);
    fault::FaultyRun faulty(dir, rule);
    Playback p = faulty.play({prefix}, kit::DestinationOptions());
    EXPECT_EQ(p.status.code, 0) << p.err;
    EXPECT_TRUE(p.dest.complete) << p.dest.error;
    EXPECT_NE(faulty.fired(), "");
  }
}

TEST_F(ConnectionFault, RequestArrivingInPiecesIsReadWhole) {
  fault::FaultyRun faulty(dir, rule("read", kRequestRead, "short:1000"));
  Playback p = faulty.play({prefix}, kit::DestinationOptions());
  EXPECT_EQ(p.status.code, 0) << p.err;
  EXPECT_TRUE(p.dest.complete) << p.dest.error << p.dest.structure_error;
  EXPECT_TRUE(
      e2e::same_blocks(e2e::bytes_of(p.dest.blocks), e2e::bytes_of(stream, 1, stream.size() - 1)));
  EXPECT_EQ(faulty.fired(), "read@3\n");
}

TEST_F(ConnectionFault, FailedBlockWriteEndsTheTransferAndKeepsTheCheckpoints) {
  const int late = kFirstBlockWrite + 180;  // well into the file phase
  const Case cases[] = {
      {rule("write", kFirstBlockWrite, "EPIPE"), perror_line("Bad write to destination", EPIPE)},
      {rule("write", late, "EPIPE"), perror_line("Bad write to destination", EPIPE)},
      {rule("write", late, "EINTR"), perror_line("Bad write to destination", EINTR)},
      {rule("write", late, "hangup"), perror_line("Bad write to destination", EPIPE)},
      {rule("write", late, "short:4095"), "Short write to destination"},
      {rule("write", late, "short:1"), "Short write to destination"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rules);
    Playback p = run(c);
    EXPECT_NE(p.out.find("Transfer started."), std::string::npos);
    bool into_file_phase = c.rules != cases[0].rules;
    EXPECT_EQ(fault::checkpointed_points(prefix).empty(), !into_file_phase);
  }
  // The last run left its checkpoints: the transfer resumes from the last.
  std::vector<uint32_t> points = fault::checkpointed_points(prefix);
  ASSERT_FALSE(points.empty());
  fault::expect_restart_continues(prefix, stream, files, points.back());
}

TEST_F(ConnectionFault, FailedAcknowledgementLeavesTheCheckpointsInPlace) {
  const Case cases[] = {
      {rule("read", kAckRead, "EIO"), perror_line("Bad ack read", EIO)},
      {rule("read", kAckRead, "eof"), "Short ack read\n"},
      {rule("write", ack_write(), "hangup"), perror_line("Bad ack write", EPIPE)},
      {rule("write", ack_write(), "short:2"), "Short ack write\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rules);
    Playback p = run(c);
    EXPECT_EQ(p.dest.stream_blocks, stream.size() - 1);
    EXPECT_FALSE(fault::checkpointed_points(prefix).empty());
  }
}

}  // namespace
