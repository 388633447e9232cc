// The application-restore child mode of the real binary: the connection is
// its standard input, and the dump set is chosen from the requested path in
// the directories given.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "e2e_support.h"
#include "kit/temp_dir.h"
#include "rehearsal/dump_writer.h"
#include "rehearsal/stream_gen.h"

namespace {

using e2e::bytes_of;
using e2e::Playback;

const char kNoSet[] = "error in getting app brix dump file paths \n";

struct Directories {
  kit::TempDir root;
  std::string d1 = make("d1"), d2 = make("d2"), d3 = make("d3");
  kit::Stream stream = kit::minimal_stream();

  std::string make(const std::string& name) {
    mkdir(root.file(name).c_str(), 0700);
    return root.file(name);
  }
  void store(const std::string& prefix, const std::vector<uint64_t>& split = {}) {
    ASSERT_TRUE(kit::write_plain_set(prefix, stream, split).ok());
  }
};

TEST(ChildMode, SetIsChosenFromTheRequestedPathAndPlayedOverStandardInput) {
  struct Case {
    const char* what;
    const char* requested;
    std::string (*lay_out)(Directories& d);  // returns standard error; "": played
  } cases[] = {
      {"the configuration set, by its whole name", "/app/HBAK__APP__CONFIG__",
       [](Directories& d) {
         d.store(d.d1 + "/HBAK__APP__CONFIG__");
         return std::string();
       }},
      {"the log set, by its whole name", "/app/TLogs",
       [](Directories& d) {
         d.store(d.d3 + "/TLogs");
         return std::string();
       }},
      {"leading dots, and the first token", "/a/..db2.x.y",
       [](Directories& d) {
         d.store(d.d1 + "/db2");
         return std::string();
       }},
      {"a path without slash", "db1",
       [](Directories& d) {
         d.store(d.d1 + "/db1");
         return std::string(kNoSet);
       }},
      {"a path without a name", "/a/...", [](Directories&) { return std::string(kNoSet); }},
      {"no directory holding the set", "/vol/app/db9.mdf",
       [](Directories&) { return std::string("No dump file set to open\n"); }},
      {"a FIFO as the first file", "/vol/app/db1",
       [](Directories& d) {
         mkfifo((d.d2 + "/db1.0").c_str(), 0600);
         return "Dump file " + d.d2 + "/db1.0 is not a regular file\n" + kNoSet;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Directories d;
    const std::string err = c.lay_out(d);
    kit::DestinationOptions request;
    request.src_path = c.requested;
    Playback p = e2e::play_child({"-h", d.d1, d.d2, d.d3}, request);
    EXPECT_EQ(p.err, err);
    EXPECT_EQ(p.out.find("Waiting for connection"), std::string::npos);
    if (!err.empty()) {
      EXPECT_EQ(p.status.code, 255);
      EXPECT_EQ(p.dest.reply_kind, kit::ReplyKind::none);
      continue;
    }
    EXPECT_EQ(p.status.code, 0);
    EXPECT_TRUE(p.dest.complete) << p.dest.error;
    EXPECT_TRUE(
        e2e::same_blocks(bytes_of(p.dest.blocks), bytes_of(d.stream, 1, d.stream.size() - 1)));
  }
}

// Every directory whose copy of the set holds its first file gives a prefix,
// in the order given; a name too long for the candidate path is refused.
TEST(ChildMode, PrefixesAreTheDirectoriesThatHoldTheFirstFileInOrder) {
  Directories d;
  kit::DumpSetLayout layout = kit::multi_prefix_layout({d.d2 + "/db1", d.d3 + "/db1"}, {{3}, {1}});
  ASSERT_TRUE(kit::write_dump_set(layout, d.stream).ok());
  std::filesystem::copy_file(d.d2 + "/db1.0", d.d1 + "/db1.1");  // no first file there
  kit::DestinationOptions request;
  request.src_path = "/vol/app/db1.mdf";
  Playback p = e2e::play_child({"-h", d.d1, d.d2, d.d3}, request);
  EXPECT_EQ(p.status.code, 0) << p.err;
  EXPECT_TRUE(p.dest.complete) << p.dest.error;
  EXPECT_TRUE(
      e2e::same_blocks(bytes_of(p.dest.blocks), bytes_of(d.stream, 1, d.stream.size() - 1)));
  const size_t second = p.out.find("files from prefix " + d.d2 + "/db1\n");
  EXPECT_LT(second, p.out.find("files from prefix " + d.d3 + "/db1\n")) << p.out;

  const std::string deep = d.root.file(std::string(1000, 'd'));
  p = e2e::play_child({"-h", deep}, request);
  EXPECT_EQ(p.status.code, 255);
  EXPECT_EQ(p.err, "Dump set path longer than 1023 characters: " + deep + "/db1.0\n" + kNoSet);
}

TEST(ChildMode, EncryptedSetIsReadWithThePasswordFromTheCommandLine) {
  Directories d;
  const std::string fixtures = BRIX_FIXTURES_DIR;
  std::filesystem::copy_file(fixtures + "/ce_mode2.0", d.d1 + "/db2.0");
  std::string expected, error;
  ASSERT_TRUE(kit::read_file(fixtures + "/ce_mode2.stream", expected, error));
  kit::DestinationOptions request;
  request.src_path = "/vol/app/db2";
  Playback p = e2e::play_child({"-h", "-E", "Mode2-Fixture-Pass", d.d1}, request);
  EXPECT_EQ(p.status.code, 0) << p.err;
  EXPECT_TRUE(p.dest.complete) << p.dest.error;
  EXPECT_TRUE(e2e::same_blocks(bytes_of(p.dest.blocks), expected.substr(LR_BLOCK_SIZE)));
  EXPECT_EQ(p.err, "");  // no password prompt in this mode
}

}  // namespace
