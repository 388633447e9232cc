// Negotiation with the destination, played over a socket pair: version and
// command words, the request and its refusal, and the reply.
#include "negotiate.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "checkpoint.h"
#include "checkpoint_record.h"
#include "dump_set.h"
#include "reading_state.h"
#include "test_support.h"

namespace {

using testing_support::Block;
using testing_support::concat;
using testing_support::data_block;
using testing_support::header_block;
using testing_support::SocketPair;
using testing_support::TempDir;
using testing_support::TestSession;
using testing_support::write_file;

std::string u32(uint32 v) { return std::string(reinterpret_cast<const char*>(&v), 4); }

// A record as the writer writes it for the set whose start header is
// `start`: bound to it and sealed.
std::string sealed_record(check_point record, const std::string& start) {
  checkpoint_state set;
  set_binding_from(set, start.data());
  memcpy(record.rng.opaque + CHECKPOINT_BINDING_OFFSET, set.binding, CHECKPOINT_BINDING_SIZE);
  seal_checkpoint_record(&record);
  return std::string(reinterpret_cast<const char*>(&record), sizeof(record));
}

lr_neg_data_request make_request(const char* src_path, uint32 restart_sync_point = 0,
                                 uint32 restart_snap_id = 0) {
  lr_neg_data_request r;
  memset(&r, 0, sizeof(r));
  strcpy(r.src_path, src_path);
  r.restart_sync_point = restart_sync_point;
  r.restart_snap_id = restart_snap_id;
  return r;
}

class Negotiation : public testing::Test {
 protected:
  TempDir dir;
  TestSession t;
  SocketPair link;
  Block start = header_block(LR_HDR_START_STREAM, 0);

  void SetUp() override {
    memset(&start[LR_HDR_DATA_OFFSET], 0x5A, 1380);  // a recognisable stored reply
    write_file(dir.file("vol.0"), start + concat({header_block(LR_HDR_FILE, 150),
                                                  header_block(LR_HDR_END_OF_STREAM, 151)}));
    t.add_prefix(dir.file("vol"));
    testing::internal::CaptureStdout();
    ASSERT_EQ(open_input_dump(&t.s), B_TRUE);
    ASSERT_EQ(detect_container_kind(&t.s), B_TRUE);
    ASSERT_EQ(prepare_input_dump(&t.s), B_TRUE);
    testing::internal::GetCapturedStdout();
    t.s.client_fd = link.writer;
  }

  void destination_sends(const std::string& bytes) {
    ASSERT_EQ(write(link.destination, bytes.data(), bytes.size()),
              static_cast<ssize_t>(bytes.size()));
  }
  void destination_sends(const lr_neg_data_request& r) {
    destination_sends(std::string(reinterpret_cast<const char*>(&r), sizeof(r)));
  }
  void destination_opens(uint32 command = RPLCMD_ACQTREE) {
    destination_sends(u32(0x00040004) + u32(command));
  }

  // Runs the negotiation; returns its result, its standard error, and what
  // reached the destination.
  bool_t run(std::string* err, std::string* sent) {
    shutdown(link.destination, SHUT_WR);  // everything the destination says is queued
    testing::internal::CaptureStderr();
    bool_t ok = negotiate_dst(&t.s);
    *err = testing::internal::GetCapturedStderr();
    *sent = link.drain();
    return ok;
  }

  std::string expected_reply(uint64_t blks_done) {
    Block reply = start;
    memcpy(&reply[LR_NEG_BLKS_DONE_OFFSET], &blks_done, 8);
    return reply;
  }
};

TEST_F(Negotiation, VersionRangeDecidesTheAnswer) {
  struct Case {
    uint32 word, answer;
  } cases[] = {{0x00040004, 4}, {0x00010007, 4}, {0x0000FFFF, 4}, {0x00010003, 0}, {0x00050009, 0}};
  for (const Case& c : cases) {
    SocketPair pair;
    t.s.client_fd = pair.writer;
    write(pair.destination, u32(c.word).data(), 4);
    EXPECT_EQ(negotiate_dst_version(&t.s), B_TRUE);
    uint32 answer = 99;
    EXPECT_EQ(read(pair.destination, &answer, 4), 4);
    EXPECT_EQ(answer, c.answer) << std::hex << c.word;
  }
}

TEST_F(Negotiation, AnswerZeroGoesOnToTheCommandReadWhichFailsWhenTheDestinationLeaves) {
  destination_sends(u32(0x00010003));
  std::string err, sent;
  EXPECT_EQ(run(&err, &sent), B_FALSE);
  EXPECT_EQ(sent, u32(0));
  EXPECT_EQ(err, "Short command read\n");
}

TEST_F(Negotiation, VersionWordZeroCancels) {
  destination_sends(u32(0));
  std::string err, sent;
  EXPECT_EQ(run(&err, &sent), B_FALSE);
  EXPECT_EQ(err, "Negotiation Canceled by destination\n");
  EXPECT_EQ(sent, "");
}

TEST_F(Negotiation, InvertedVersionRangeIsRefusedWithoutAnswer) {
  destination_sends(u32(0x00070002));
  std::string err, sent;
  EXPECT_EQ(run(&err, &sent), B_FALSE);
  EXPECT_EQ(err, "Invalid version range from destination: lowest 7 above highest 2\n");
  EXPECT_EQ(sent, "");
}

TEST_F(Negotiation, ShortVersionWordIsReported) {
  destination_sends(std::string("\x04\x00", 2));
  std::string err, sent;
  EXPECT_EQ(run(&err, &sent), B_FALSE);
  EXPECT_EQ(err, "Short version read\n");
}

TEST_F(Negotiation, OtherCommandThanTheSessionsGetsNoAnswer) {
  destination_opens(RPLCMD_RCQTREE);
  std::string err, sent;
  EXPECT_EQ(run(&err, &sent), B_FALSE);
  EXPECT_EQ(err, "Unknown/Unsupported command received 4\n");
  EXPECT_EQ(sent, u32(4));  // the version answer only
}

TEST_F(Negotiation, IncompleteRequestIsReportedAsABrokenSocket) {
  destination_opens();
  destination_sends(std::string(100, 'r'));
  std::string err, sent;
  EXPECT_EQ(run(&err, &sent), B_FALSE);
  EXPECT_EQ(err, "brix_reader: socket broken.\n");
  EXPECT_EQ(sent, u32(4) + u32(RPLCMD_ACQTREE));
}

TEST_F(Negotiation, FreshTransferIsAnsweredWithTheStoredStartHeader) {
  destination_opens();
  destination_sends(make_request("/vol/vol1/q1"));
  std::string err, sent;
  ASSERT_EQ(run(&err, &sent), B_TRUE) << err;
  EXPECT_EQ(err, "");
  EXPECT_EQ(sent, u32(4) + u32(RPLCMD_ACQTREE) + expected_reply(0));
  EXPECT_STREQ(t.s.qtree, "/vol/vol1/q1");
}

TEST_F(Negotiation, RestartSnapshotIsRefusedOutsideArchivistBaselineWithHbak) {
  struct Case {
    rpl_Command cmd;
    bool_t hbak;
    bool refused;
  } cases[] = {{RPLCMD_ACQTREE, B_TRUE, false},
               {RPLCMD_ACQTREE, B_FALSE, true},
               {RPLCMD_ACRESTORE, B_TRUE, true},
               {RPLCMD_RCQTREE, B_TRUE, true}};
  for (const Case& c : cases) {
    TestSession s;
    SocketPair pair;
    s.s.cmd = c.cmd;
    s.s.hbak = c.hbak;
    s.s.client_fd = pair.writer;
    lr_neg_data_request r = make_request("/q", 0, 77);
    memcpy(s.s.in_buf, &r, sizeof(r));
    testing::internal::CaptureStderr();
    bool_t ok = rpl_verify_req(&s.s);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(ok == B_FALSE, c.refused) << c.cmd;
    EXPECT_EQ(err, c.refused ? "Cannot handle checkpoint restarts yet.\n" : "");
  }
}

TEST_F(Negotiation, RefusedRequestIsAnsweredWithTheBareErrorRecord) {
  t.s.cmd = RPLCMD_ACRESTORE;
  destination_opens(RPLCMD_ACRESTORE);
  destination_sends(make_request("/q", 0, 5));
  std::string err, sent;
  EXPECT_EQ(run(&err, &sent), B_FALSE);
  EXPECT_EQ(err, "Cannot handle checkpoint restarts yet.\n");
  std::string refusal(LR_NEG_REPLY_SIZE, '\0');
  refusal[0] = RPL_NEG_FAIL_VERSION;
  EXPECT_EQ(sent, u32(4) + u32(RPLCMD_ACRESTORE) + refusal);
}

TEST_F(Negotiation, SourcePathWithoutTerminatorIsRefused) {
  lr_neg_data_request r = make_request("");
  memset(r.src_path, 'p', sizeof(r.src_path));
  destination_opens();
  destination_sends(r);
  std::string err, sent;
  EXPECT_EQ(run(&err, &sent), B_FALSE);
  EXPECT_EQ(err, "The source path of the request is not terminated\n");
  EXPECT_EQ(sent.size(), 8u + LR_NEG_REPLY_SIZE);
  EXPECT_EQ(t.s.qtree, nullptr);
}

TEST_F(Negotiation, LongestTerminatedSourcePathIsAccepted) {
  lr_neg_data_request r = make_request("");
  memset(r.src_path, 'p', sizeof(r.src_path) - 1);
  destination_opens();
  destination_sends(r);
  std::string err, sent;
  ASSERT_EQ(run(&err, &sent), B_TRUE) << err;
  EXPECT_EQ(strlen(t.s.qtree), 1024u);
}

TEST_F(Negotiation, FirstBlockThatIsNotAHeaderIsNeverSentAsTheReply) {
  write_file(dir.file("vol.0"), data_block(1));
  destination_opens();
  destination_sends(make_request("/q"));
  std::string err, sent;
  EXPECT_EQ(run(&err, &sent), B_FALSE);
  EXPECT_EQ(err, "The first block of the dump set is not a stream header. (Input data corrupt?)\n");
  EXPECT_EQ(sent, u32(4) + u32(RPLCMD_ACQTREE));
}

TEST_F(Negotiation, EmptyDumpSetHasNoReply) {
  write_file(dir.file("vol.0"), "");
  destination_opens();
  destination_sends(make_request("/q"));
  std::string err, sent;
  EXPECT_EQ(run(&err, &sent), B_FALSE);
  EXPECT_EQ(err, "The dump set holds no block: no start header to reply with\n");
  EXPECT_EQ(sent, u32(4) + u32(RPLCMD_ACQTREE));
}

TEST_F(Negotiation, RestartFromAMissingTreePhaseCheckpointStartsFromZero) {
  destination_opens();
  destination_sends(make_request("/q", 57));
  std::string err, sent;
  ASSERT_EQ(run(&err, &sent), B_TRUE) << err;
  EXPECT_EQ(sent, u32(4) + u32(RPLCMD_ACQTREE) + expected_reply(0));
  EXPECT_EQ(t.s.restart_checkpoint, 57u);
  int error = 0;  // the stream starts again with its first block
  testing::internal::CaptureStdout();
  ASSERT_EQ(read_dump_block(&t.s, &error), B_TRUE);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(Block(t.s.in_buf, LR_BLOCK_SIZE), start);
}

TEST_F(Negotiation, RestartFromAMissingFilePhaseCheckpointFailsWithoutReply) {
  destination_opens();
  destination_sends(make_request("/q", 150));
  std::string err, sent;
  EXPECT_EQ(run(&err, &sent), B_FALSE);
  EXPECT_EQ(err, "could not find checkpoint file \n");
  EXPECT_EQ(sent, u32(4) + u32(RPLCMD_ACQTREE));
}

TEST_F(Negotiation, RestartReportsTheCheckpointedBlockCount) {
  check_point record;
  memset(&record, 0, sizeof(record));
  record.h_magic = CHECKPOINT_MAGIC;
  record.blk_num = 0x1234567890LL;
  record.file_del = 1;
  record.offset = LR_BLOCK_SIZE;  // the header of point 150
  write_file(dir.file("vol-checkpoint-writer.150"), sealed_record(record, start));
  destination_opens();
  destination_sends(make_request("/q", 150));
  std::string err, sent;
  ASSERT_EQ(run(&err, &sent), B_TRUE) << err;
  EXPECT_EQ(sent, u32(4) + u32(RPLCMD_ACQTREE) + expected_reply(0x1234567890ULL));
  EXPECT_EQ(t.s.blk_num, 0x1234567890LL);
}

TEST_F(Negotiation, RestartWhoseRecordDoesNotLeadToThePointsHeaderHasNoReply) {
  check_point record;
  memset(&record, 0, sizeof(record));
  record.h_magic = CHECKPOINT_MAGIC;
  record.file_del = 1;
  record.offset = 2 * LR_BLOCK_SIZE;  // the end header, not the header of point 150
  write_file(dir.file("vol-checkpoint-writer.150"), sealed_record(record, start));
  destination_opens();
  destination_sends(make_request("/q", 150));
  std::string err, sent;
  EXPECT_EQ(run(&err, &sent), B_FALSE);
  EXPECT_EQ(err, "Cannot restart from point 150: its checkpoint file does not lead to the header "
                 "of that point in " + dir.file("vol.0") + "\n");
  EXPECT_EQ(sent, u32(4) + u32(RPLCMD_ACQTREE));
}

TEST_F(Negotiation, ResultCodesHaveTheirTextsAndUnknownCodesTheGenericOne) {
  EXPECT_STREQ(rpl_neg_strerror(0), "operation was successful");
  EXPECT_STREQ(rpl_neg_strerror(4), "source is not a valid volume name or qtree path ");
  EXPECT_STREQ(rpl_neg_strerror(6), "incompatible replicator versions on systems");
  EXPECT_STREQ(rpl_neg_strerror(19),
               "destination requested snapshot that is not the restartable snapshot");
  EXPECT_STREQ(rpl_neg_strerror(25), "the source could not execute the update");
  EXPECT_STREQ(rpl_neg_strerror(-1), "the source could not execute the update");
}

}  // namespace
