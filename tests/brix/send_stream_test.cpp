// The send loop over a socket pair: plain and inflating modes, checkpoints
// at new synchronisation points, failures, and the acknowledgement.
#include "send_stream.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <string>
#include <vector>

#include "dump_set.h"
#include "reading_state.h"
#include "test_support.h"

namespace {

using testing_support::Block;
using testing_support::concat;
using testing_support::data_block;
using testing_support::file_exists;
using testing_support::file_header;
using testing_support::header_block;
using testing_support::info_of;
using testing_support::SocketPair;
using testing_support::TempDir;
using testing_support::TestSession;
using testing_support::write_file;

const Block kZeroBlock(LR_BLOCK_SIZE, '\0');

class SendStream : public testing::Test {
 protected:
  TempDir dir;
  TestSession t;
  SocketPair link;

  // Stores the blocks as a one-file set and positions the reader at its
  // start, as after the negotiation.
  void store(const std::vector<Block>& blocks) {
    write_file(dir.file("vol.0"), concat(blocks));
    t.add_prefix(dir.file("vol"));
    testing::internal::CaptureStdout();
    ASSERT_EQ(open_input_dump(&t.s), B_TRUE);
    ASSERT_EQ(detect_container_kind(&t.s), B_TRUE);
    ASSERT_EQ(prepare_input_dump(&t.s), B_TRUE);
    testing::internal::GetCapturedStdout();
    t.s.client_fd = link.writer;
  }

  bool_t send(std::string* err, std::string* sent) {
    testing::internal::CaptureStderr();
    bool_t ok = send_rpl_stream(&t.s);
    *err = testing::internal::GetCapturedStderr();
    *sent = link.drain();
    return ok;
  }

  std::string checkpoint_name(int point) {
    return dir.file("vol-checkpoint-writer." + std::to_string(point));
  }
};

TEST_F(SendStream, PlainModeSendsEveryBlockAsReadAndNotesTheLastHeader) {
  std::vector<Block> stream = {file_header(0, 1, 0, FILE_TYPE_DIRECTORY),
                               data_block(1),
                               header_block(LR_HDR_MID_STREAM, 101),
                               file_header(101, 2, 1, FILE_TYPE_REGULAR),
                               data_block(2),
                               data_block(3),
                               header_block(LR_HDR_END_OF_STREAM, 101)};
  store(stream);
  std::string err, sent;
  ASSERT_EQ(send(&err, &sent), B_TRUE) << err;
  EXPECT_EQ(sent, concat(stream));
  EXPECT_EQ(t.s.cur_hdr, LR_HDR_END_OF_STREAM);
  EXPECT_EQ(t.s.blk_num, 7);
}

TEST_F(SendStream, InputEndingAfterTheStartHeaderLeavesNoHeaderSent) {
  store({});
  std::string err, sent;
  EXPECT_EQ(send(&err, &sent), B_TRUE);
  EXPECT_EQ(t.s.cur_hdr, LR_HDR_INVALID);
  EXPECT_EQ(sent, "");
}

TEST_F(SendStream, PlainModePassesAnnouncedBlocksUncheckedAndDemandsTheMagicAfterThem) {
  Block looks_like_header = header_block(LR_HDR_FILE, 0);
  std::vector<Block> stream = {header_block(LR_HDR_FILE, 0, 3), data_block(1), looks_like_header,
                               data_block(2), data_block(3)};
  store(stream);
  std::string err, sent;
  EXPECT_EQ(send(&err, &sent), B_FALSE);
  EXPECT_EQ(err, "Fatal Error. Header not found where expected. (Input data corrupt?)\n");
  EXPECT_EQ(sent, concat(stream));  // the failing block has already gone out
}

TEST_F(SendStream, PlainModeAcceptsFollowingBlocksOnAStandaloneHeader) {
  std::vector<Block> stream = {header_block(LR_HDR_DISCARD_DATA, 0, 1), data_block(1),
                               header_block(LR_HDR_END_OF_STREAM, 0)};
  store(stream);
  std::string err, sent;
  EXPECT_EQ(send(&err, &sent), B_TRUE) << err;
  EXPECT_EQ(t.s.cur_hdr, LR_HDR_END_OF_STREAM);
}

TEST_F(SendStream, CheckpointsAreWrittenAtEachNewPointOfAnArchivistBaseline) {
  store({header_block(LR_HDR_DISCARD_DATA, 0), header_block(LR_HDR_DISCARD_DATA, 0),
         header_block(LR_HDR_MID_STREAM, 101), header_block(LR_HDR_DISCARD_DATA, 101),
         header_block(LR_HDR_DISCARD_DATA, 102)});
  std::string err, sent;
  ASSERT_EQ(send(&err, &sent), B_TRUE) << err;
  EXPECT_FALSE(file_exists(checkpoint_name(0)));
  EXPECT_TRUE(file_exists(checkpoint_name(101)));
  EXPECT_TRUE(file_exists(checkpoint_name(102)));
  EXPECT_EQ(t.s.restart_checkpoint, 102u);
}

TEST_F(SendStream, OtherCommandsFollowThePointsWithoutCheckpointFiles) {
  t.s.cmd = RPLCMD_RCQTREE;
  store({header_block(LR_HDR_DISCARD_DATA, 0), header_block(LR_HDR_MID_STREAM, 101),
         header_block(LR_HDR_DISCARD_DATA, 102)});
  std::string err, sent;
  ASSERT_EQ(send(&err, &sent), B_TRUE) << err;
  EXPECT_FALSE(file_exists(checkpoint_name(101)));
  EXPECT_FALSE(file_exists(checkpoint_name(102)));
  EXPECT_EQ(t.s.restart_checkpoint, 102u);
}

TEST_F(SendStream, CheckpointThatCannotBeCreatedFailsTheTransfer) {
  store({header_block(LR_HDR_MID_STREAM, 101)});
  ASSERT_EQ(mkdir(checkpoint_name(101).c_str(), 0700), 0);  // creat() fails on it
  std::string err, sent;
  EXPECT_EQ(send(&err, &sent), B_FALSE);
  EXPECT_EQ(err, "error in creating writer checkpoint file \n");
  EXPECT_EQ(t.s.restart_checkpoint, 0u);
}

TEST_F(SendStream, InflatingModeGeneratesTheAnnouncedDataBlocksOfTheFilePhase) {
  t.s.inflate = B_TRUE;
  Block tree_dir = file_header(0, 1, 0, FILE_TYPE_DIRECTORY);
  Block file = file_header(101, 3, 2, FILE_TYPE_REGULAR);
  Block end = header_block(LR_HDR_END_OF_STREAM, 101);
  store({tree_dir, data_block(1), header_block(LR_HDR_MID_STREAM, 101), file, end});
  std::string err, sent;
  ASSERT_EQ(send(&err, &sent), B_TRUE) << err;
  EXPECT_EQ(sent, concat({tree_dir, data_block(1), header_block(LR_HDR_MID_STREAM, 101), file,
                          kZeroBlock, kZeroBlock, kZeroBlock, end}));
  EXPECT_EQ(t.s.blk_num, 5);  // generated blocks are not counted
  EXPECT_EQ(t.s.data_stage, 2);
  EXPECT_EQ(t.s.cur_hdr, LR_HDR_END_OF_STREAM);
}

TEST_F(SendStream, InflatingModeRefusesAMidStreamHeaderWithTreePoint) {
  t.s.inflate = B_TRUE;
  store({header_block(LR_HDR_MID_STREAM, 0)});
  std::string err, sent;
  EXPECT_EQ(send(&err, &sent), B_FALSE);
  EXPECT_EQ(err, "brix_reader: invalid stage 1 checkpoint: 0\nFailed to properly inflate stream\n");
}

TEST_F(SendStream, InflatingModeFailsOnDataInTheFilePhaseInput) {
  t.s.inflate = B_TRUE;
  store({header_block(LR_HDR_MID_STREAM, 101), data_block(1)});
  std::string err, sent;
  EXPECT_EQ(send(&err, &sent), B_FALSE);
  EXPECT_EQ(err, "");
}

TEST_F(SendStream, InflatingModeTreatsAMissingTreeHeaderAsCorruptInput) {
  t.s.inflate = B_TRUE;
  store(
      {header_block(LR_HDR_DELETED_FILE, 0), data_block(1), header_block(LR_HDR_MID_STREAM, 101)});
  std::string err, sent;
  EXPECT_EQ(send(&err, &sent), B_FALSE);
  EXPECT_EQ(err,
            "Fatal Error. Header not found where expected. (Input data corrupt?)\n"
            "Failed to properly inflate stream\n");
}

TEST_F(SendStream, InflatingModeCountsAMagicBlockAsDataWhereDataIsDue) {
  t.s.inflate = B_TRUE;
  Block dir_header = file_header(0, 1, 0, FILE_TYPE_DIRECTORY);
  Block bogus = header_block(9999, 5);  // data that happens to start with the magic
  store({dir_header, bogus, header_block(LR_HDR_END_OF_STREAM, 0)});
  std::string err, sent;
  EXPECT_EQ(send(&err, &sent), B_TRUE) << err;
  EXPECT_EQ(t.s.cur_hdr, LR_HDR_END_OF_STREAM);
}

TEST_F(SendStream, EndHeaderInTheTreePhaseKeepsTreeHeadersAdmitted) {
  t.s.inflate = B_TRUE;
  store({header_block(LR_HDR_END_OF_STREAM, 0), header_block(LR_HDR_DELETED_FILE, 0)});
  std::string err, sent;
  EXPECT_EQ(send(&err, &sent), B_TRUE) << err;
  EXPECT_EQ(t.s.data_stage, 0);
  EXPECT_EQ(t.s.cur_hdr, LR_HDR_DELETED_FILE);
}

TEST_F(SendStream, WriteToAClosedConnectionIsReportedNotFatal) {
  signal(SIGPIPE, SIG_IGN);
  store({header_block(LR_HDR_DISCARD_DATA, 0)});
  link.close_destination();
  std::string err, sent;
  EXPECT_EQ(send(&err, &sent), B_FALSE);
  EXPECT_EQ(err, "Bad write to destination: Broken pipe\n");
}

class Acknowledgement : public testing::Test {
 protected:
  TestSession t;
  SocketPair link;
  void SetUp() override { t.s.client_fd = link.writer; }
  bool_t receive(const std::string& from_destination, std::string* err, std::string* echoed) {
    write(link.destination, from_destination.data(), from_destination.size());
    shutdown(link.destination, SHUT_WR);
    testing::internal::CaptureStderr();
    bool_t ok = rpl_get_ack(&t.s);
    *err = testing::internal::GetCapturedStderr();
    *echoed = link.drain();
    return ok;
  }
};

TEST_F(Acknowledgement, ValueOneIsEchoed) {
  std::string err, echoed;
  EXPECT_EQ(receive(std::string("\x01\x00\x00\x00", 4), &err, &echoed), B_TRUE);
  EXPECT_EQ(echoed, std::string("\x01\x00\x00\x00", 4));
  EXPECT_EQ(err, "");
}

TEST_F(Acknowledgement, OtherValueIsRefusedAndNotEchoed) {
  std::string err, echoed;
  EXPECT_EQ(receive(std::string("\x02\x00\x00\x00", 4), &err, &echoed), B_FALSE);
  EXPECT_EQ(err, "Bad ack received 2\n");
  EXPECT_EQ(echoed, "");
}

TEST_F(Acknowledgement, ClosedConnectionIsAShortRead) {
  std::string err, echoed;
  EXPECT_EQ(receive("", &err, &echoed), B_FALSE);
  EXPECT_EQ(err, "Short ack read\n");
}

}  // namespace
