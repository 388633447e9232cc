// Restarts of interrupted transfers as a user meets them: the set made by
// brix_mkdump, a destination that hangs up, the restart it asks for; and the
// records a restart refuses before its reply.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <utility>

#include "checkpoint.h"
#include "e2e_support.h"
#include "fault_support.h"
#include "kit/runner.h"
#include "kit/temp_dir.h"
#include "rehearsal/dump_writer.h"
#include "rehearsal/stream_gen.h"

namespace {

using e2e::bytes_of;
using e2e::Playback;

const char kPassword[] = "restart password";

// A set of every kind made by brix_mkdump with the same content, and the
// stream it holds (its plain form).
class Restart : public testing::TestWithParam<const char*> {
 protected:
  kit::TempDir dir;
  std::string prefix = dir.file("vol");
  std::string password_line;
  kit::Stream stream;
  bool container = false;

  void SetUp() override {
    std::vector<std::string> args = {"--blocks", "5000", "--files", "3"};
    const std::string kind = GetParam();
    if (kind.find('c') != std::string::npos) args.push_back("--compress");
    if (kind.find('e') != std::string::npos) {
      args.insert(args.end(), {"--encrypt", "--password", kPassword});
      password_line = std::string(kPassword) + "\n";
    }
    container = kind != "plain";
    ASSERT_NO_FATAL_FAILURE(make(args, prefix));
    ASSERT_NO_FATAL_FAILURE(make({"--blocks", "5000", "--files", "1"}, dir.file("plain")));
    stream = kit::blocks_of(kit::read_set_bytes({dir.file("plain")}).bytes);
  }

  void make(std::vector<std::string> args, const std::string& where) {
    args.push_back(where);
    kit::WriterProcess mkdump;
    kit::ProcessOptions options;
    options.path = BRIX_MKDUMP_PATH;
    options.args = args;
    ASSERT_TRUE(mkdump.start(options));
    ASSERT_EQ(mkdump.wait(e2e::kWriterTimeoutMs).code, 0) << mkdump.output(kit::Output::err);
  }

  Playback play(kit::DestinationOptions d) { return e2e::play({prefix}, d, password_line); }

  Playback restart_from(uint32_t point) {
    kit::DestinationOptions d;
    d.restart_sync_point = point;
    return play(d);
  }
};

// The connection is lost after 500 stream blocks (the hang-up comes as the
// writer sends the next one, so that it cannot run ahead of its
// destination), and the destination asks for point 127: the reply counts 498
// blocks and the stream goes on with block 499, the header of point 127,
// whatever the kind of set; the checkpoints go after the end.
TEST_P(Restart, HangUpAndRestartNeverSkipABlock) {
  // Writes on the connection: the version answer, the command echo, the
  // reply, then the stream.
  const fault::FaultyRun hang_up(dir, "write:sock@504=hangup");
  ASSERT_EQ(hang_up.play({prefix}, kit::DestinationOptions(), password_line).status.code, 255);
  const e2e::ResumePlace resume = e2e::restart_place(stream, 127, container);
  ASSERT_EQ(resume.blks_done, 498u);
  ASSERT_EQ(resume.block, 499u);

  Playback p = restart_from(127);
  EXPECT_EQ(p.status.code, 0) << p.err;
  EXPECT_TRUE(e2e::same_blocks(bytes_of({p.dest.reply}), e2e::expected_reply(stream[0], 498)));
  EXPECT_TRUE(
      e2e::same_blocks(bytes_of(p.dest.blocks), bytes_of(stream, 499, stream.size() - 499)));
  EXPECT_TRUE(p.dest.ack_echoed);
  EXPECT_NE(access(kit::checkpoint_file_name(prefix, 127).c_str(), F_OK), 0);
}

// A record that is missing, damaged, or leads to another header is refused
// before any reply: nothing wrong goes out.
TEST_P(Restart, RecordsThatCannotBeTrustedAreRefusedBeforeTheReply) {
  kit::DestinationOptions first;
  first.send_ack = false;  // the writer fails at the acknowledgement; the last ten points stay
  ASSERT_EQ(play(first).status.code, 255);
  const uint32_t last = kit::sync_num(stream.back());
  std::string good, next, error;
  ASSERT_TRUE(kit::read_file(kit::checkpoint_file_name(prefix, last - 1), good, error)) << error;
  ASSERT_TRUE(kit::read_file(kit::checkpoint_file_name(prefix, last), next, error)) << error;
  ASSERT_EQ(good.size(), 1812u);

  // Point last-1's record with the place of point last's header (its
  // offset's high word, batch, index in the chunk, file, offset, chunk and
  // decryption context), sealed again as if the writer had made it.
  check_point moved;
  memcpy(&moved, good.data(), sizeof(moved));
  for (auto [at, size] : {std::pair<size_t, size_t>{20, 4}, {40, 8}, {56, 8}, {68, 660}}) {
    memcpy(reinterpret_cast<char*>(&moved) + at, next.data() + at, size);
  }
  seal_checkpoint_record(&moved);
  const std::string another_header(reinterpret_cast<const char*>(&moved), sizeof(moved));
  std::string changed = good;
  changed[48] ^= 1;  // the block count
  struct Case {
    const char* what;
    uint32_t point;
    std::string record;  // written as the point's file; empty: no file
    std::string err;
  } cases[] = {
      {"no file above point 99", 100, "", "could not find checkpoint file \n"},
      {"cut short", last - 1, good.substr(0, 1808),
       "Short read from Sourcecheckpoint file is corrupted\n"},
      {"changed after it was written", last - 1, changed, "checkpoint file is corrupted\n"},
      {"another header's place", last - 1, another_header,
       "Cannot restart from point " + std::to_string(last - 1) +
           ": its checkpoint file does not lead to the header of that point in "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (!c.record.empty()) {
      std::ofstream(kit::checkpoint_file_name(prefix, c.point), std::ios::binary) << c.record;
    }
    Playback p = restart_from(c.point);
    EXPECT_EQ(p.status.code, 255);
    EXPECT_NE(p.err.find(c.err), std::string::npos) << p.err;
    EXPECT_EQ(p.dest.reply_kind, kit::ReplyKind::none);
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, Restart, testing::Values("plain", "c", "e", "ce"),
                         [](const testing::TestParamInfo<const char*>& info) {
                           return std::string(info.param);
                         });

// A tree-phase point without a file: a plain set starts again from its first
// block, which is then sent twice (and counted once, so that a later restart
// from a record of that run gets the count of a fresh run); a container
// cannot and is refused.
TEST(RestartWithoutRecord, PlainSetStartsAgainAndAContainerIsRefused) {
  kit::TempDir dir;
  kit::StreamShape shape;
  shape.total_blocks = 300;
  const kit::Stream stream = kit::generate_stream(shape);
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
