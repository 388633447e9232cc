// Restarts refused before their reply because their record cannot serve:
// one that leads to another header than its point's, whatever the kind of
// set, and a tree-phase point without a record in a container set (a plain
// set starts again). Damaged records: tests/brix/checkpoint_test.cpp.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <utility>

#include "checkpoint.h"
#include "e2e_support.h"
#include "fault_support.h"
#include "kit/temp_dir.h"
#include "rehearsal/dump_writer.h"
#include "rehearsal/stream_gen.h"

namespace {

using e2e::bytes_of;
using e2e::Playback;

class RestartRecord : public testing::TestWithParam<kit::DumpFormat>, protected fault::StoredSet {
 protected:
  void SetUp() override { store(61, 600, {250}, GetParam()); }
};

TEST_P(RestartRecord, RecordOfAnotherHeadersPlaceIsRefusedBeforeTheReply) {
  interrupt_at_the_acknowledgement();  // the last ten points keep their records
  const std::vector<uint32_t> points = fault::checkpointed_points(prefix);
  ASSERT_GE(points.size(), 2u);
  const uint32_t point = points[points.size() - 2];
  std::string good, next, error;
  ASSERT_TRUE(kit::read_file(kit::checkpoint_file_name(prefix, point), good, error)) << error;
  ASSERT_TRUE(kit::read_file(kit::checkpoint_file_name(prefix, points.back()), next, error));
  // The record of `point` with the place of the next point's header (its
  // offset's high word, batch, index in the chunk, file, offset, chunk and
  // decryption context), sealed again as if the writer had made it.
  check_point moved;
  memcpy(&moved, good.data(), sizeof(moved));
  for (auto [at, size] : {std::pair<size_t, size_t>{20, 4}, {40, 8}, {56, 8}, {68, 660}}) {
    memcpy(reinterpret_cast<char*>(&moved) + at, next.data() + at, size);
  }
  seal_checkpoint_record(&moved);
  std::ofstream(kit::checkpoint_file_name(prefix, point), std::ios::binary)
      << std::string(reinterpret_cast<const char*>(&moved), sizeof(moved));
  kit::DestinationOptions d;
  d.restart_sync_point = point;
  Playback p = e2e::play({prefix}, d, answer);
  EXPECT_EQ(p.status.code, 255);
  EXPECT_NE(p.err.find("Cannot restart from point " + std::to_string(point) +
                       ": its checkpoint file does not lead to the header of that point in "),
            std::string::npos)
      << p.err;
  EXPECT_EQ(p.dest.reply_kind, kit::ReplyKind::none);
}

INSTANTIATE_TEST_SUITE_P(Kinds, RestartRecord,
                         testing::Values(kit::DumpFormat::plain, kit::DumpFormat::compressed,
                                         kit::DumpFormat::encrypted,
                                         kit::DumpFormat::compressed_encrypted),
                         [](const testing::TestParamInfo<kit::DumpFormat>& info) {
                           std::string name = kit::format_name(info.param);
                           if (name.find('+') != std::string::npos) name[name.find('+')] = '_';
                           return name;
                         });

// A tree-phase point without a file: a plain set starts again from its first
// block, which is then sent twice (and counted once, so that a later restart
// from a record of that run gets the count of a fresh run); a container
// cannot and is refused.
TEST(RestartWithoutRecord, PlainSetStartsAgainAndAContainerIsRefused) {
  kit::TempDir dir;
  const kit::Stream stream = e2e::sample_stream(300);
  ASSERT_TRUE(kit::write_plain_set(dir.file("p"), stream, {}).ok());
  kit::ContainerOptions options;
  ASSERT_TRUE(
      kit::write_container_set(dir.file("c"), stream, {}, kit::DumpFormat::compressed, options)
          .ok());
  kit::DestinationOptions d;
  d.restart_sync_point = 57;
  d.send_ack = false;  // the run's checkpoint files stay
  Playback plain = e2e::play({dir.file("p")}, d);
  EXPECT_EQ(kit::blks_done(plain.dest.reply), 0u);
  EXPECT_TRUE(e2e::same_blocks(bytes_of(plain.dest.blocks), bytes_of(stream)));
  const uint32_t last = kit::sync_num(stream.back());
  kit::DestinationOptions again;
  again.restart_sync_point = last;
  Playback resumed = e2e::play({dir.file("p")}, again);
  EXPECT_EQ(resumed.status.code, 0) << resumed.err;
  EXPECT_EQ(kit::blks_done(resumed.dest.reply), e2e::restart_place(stream, last, false).blks_done);
  d.send_ack = true;
  Playback compressed = e2e::play({dir.file("c")}, d);
  EXPECT_EQ(compressed.status.code, 255);
  EXPECT_NE(compressed.err.find("Cannot restart a compressed or encrypted dump set from point 57 "
                                "without its checkpoint file\n"),
            std::string::npos);
  EXPECT_EQ(compressed.dest.reply_kind, kit::ReplyKind::none);
}

}  // namespace
