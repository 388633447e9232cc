// Restarts as a user meets them, on sets made by brix_mkdump: the records a
// restart refuses before its reply, and a tree-phase point without a record.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <utility>

#include "checkpoint.h"
#include "e2e_support.h"
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

  void SetUp() override {
    std::vector<std::string> args = {"--blocks", "5000", "--files", "3"};
    const std::string kind = GetParam();
    if (kind.find('c') != std::string::npos) args.push_back("--compress");
    if (kind.find('e') != std::string::npos) {
      args.insert(args.end(), {"--encrypt", "--password", kPassword});
      password_line = std::string(kPassword) + "\n";
    }
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
// block, which is then sent twice; a container cannot and is refused.
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
  Playback plain = e2e::play({dir.file("p")}, d);
  EXPECT_EQ(plain.status.code, 0) << plain.err;
  EXPECT_EQ(kit::blks_done(plain.dest.reply), 0u);
  EXPECT_TRUE(e2e::same_blocks(bytes_of(plain.dest.blocks), bytes_of(stream)));
  Playback compressed = e2e::play({dir.file("c")}, d);
  EXPECT_EQ(compressed.status.code, 255);
  EXPECT_NE(compressed.err.find("Cannot restart a compressed or encrypted dump set from point 57 "
                                "without its checkpoint file\n"),
            std::string::npos);
  EXPECT_EQ(compressed.dest.reply_kind, kit::ReplyKind::none);
}

}  // namespace
