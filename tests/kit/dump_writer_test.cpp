// Dump sets: the files, their sizes and contents for each kind of layout.
#include "kit/dump_writer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>

#include "kit/stream_gen.h"
#include "kit/temp_dir.h"

namespace kit {
namespace {

class DumpWriter : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(dir_.path(), ""); }
  std::string prefix(const char* name) { return dir_.file(name); }

  static long size_of(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
  }

  TempDir dir_;
  const Stream stream_ = generate_stream(StreamShape());
};

TEST_F(DumpWriter, SplitsAtTheGivenCountsAndPutsTheRestInOneMoreFile) {
  const std::string p = prefix("vol");
  const DumpSetResult r = write_plain_set(p, stream_, {3, 0, 5});
  ASSERT_TRUE(r.ok()) << r.error;
  ASSERT_EQ(r.files, (std::vector<std::string>{p + ".0", p + ".1", p + ".2", p + ".3"}));
  EXPECT_EQ(size_of(p + ".0"), 3 * 4096);
  EXPECT_EQ(size_of(p + ".1"), 0);
  EXPECT_EQ(size_of(p + ".2"), 5 * 4096);
  EXPECT_EQ(size_of(p + ".3"), static_cast<long>(stream_.size() - 8) * 4096);
  const SetBytes back = read_set_bytes({p});
  ASSERT_EQ(back.error, "");
  EXPECT_EQ(back.files, r.files);
  ASSERT_EQ(back.bytes.size(), stream_.size() * LR_BLOCK_SIZE);
  EXPECT_EQ(memcmp(back.bytes.data(), stream_.data(), back.bytes.size()), 0);
}

TEST_F(DumpWriter, ExactSplitMakesNoEmptyTrailingFile) {
  const std::string p = prefix("exact");
  const DumpSetResult r = write_plain_set(p, stream_, {10, stream_.size() - 10});
  ASSERT_TRUE(r.ok()) << r.error;
  EXPECT_EQ(r.files.size(), 2u);
  EXPECT_EQ(r.blocks, stream_.size());
}

TEST_F(DumpWriter, GapHidesTheFilesBehindIt) {
  const std::string p = prefix("gap");
  DumpSetLayout layout = split_layout(p, {4, 4});
  leave_gap(layout, 0, 1);
  const DumpSetResult r = write_dump_set(layout, stream_);
  ASSERT_TRUE(r.ok()) << r.error;
  EXPECT_EQ(r.files, (std::vector<std::string>{p + ".0", p + ".2", p + ".3"}));
  const SetBytes back = read_set_bytes({p});
  EXPECT_EQ(back.files, std::vector<std::string>{p + ".0"});
  EXPECT_EQ(back.bytes.size(), 4u * LR_BLOCK_SIZE);
}

TEST_F(DumpWriter, TrailingPartialBlockIsAppendedToItsFile) {
  const std::string p = prefix("tail");
  DumpSetLayout layout = split_layout(p, {5});
  layout.files[0].tail_bytes = 100;
  const DumpSetResult r = write_dump_set(layout, stream_);
  ASSERT_TRUE(r.ok()) << r.error;
  EXPECT_EQ(size_of(p + ".0"), 5 * 4096 + 100);
  const SetBytes back = read_set_bytes({p});
  EXPECT_EQ(back.bytes.size(), stream_.size() * LR_BLOCK_SIZE + 100);
  const Stream first = blocks_of(back.bytes.substr(0, 5 * 4096 + 100));
  EXPECT_EQ(first.size(), 5u);
}

TEST_F(DumpWriter, BlocksAreSpreadOverSeveralPrefixesInOrder) {
  const std::string a = prefix("a"), b = prefix("b");
  const DumpSetResult r = write_dump_set(multi_prefix_layout({a, b}, {{2, 3}, {4}}), stream_);
  ASSERT_TRUE(r.ok()) << r.error;
  EXPECT_EQ(r.files, (std::vector<std::string>{a + ".0", a + ".1", b + ".0", b + ".1"}));
  const SetBytes back = read_set_bytes({a, b});
  ASSERT_EQ(back.bytes.size(), stream_.size() * LR_BLOCK_SIZE);
  EXPECT_EQ(memcmp(back.bytes.data(), stream_.data(), back.bytes.size()), 0);
}

TEST_F(DumpWriter, LayoutsThatDoNotMatchTheStreamAreRefused) {
  DumpSetLayout too_big;
  too_big.prefixes = {prefix("big")};
  too_big.files = {DumpFilePlan{0, 0, stream_.size() + 1, 0, DumpFormat::plain}};
  DumpSetResult r = write_dump_set(too_big, stream_);
  EXPECT_NE(r.error.find("wants 1 more blocks"), std::string::npos) << r.error;

  DumpSetLayout too_small;
  too_small.prefixes = {prefix("small")};
  too_small.files = {DumpFilePlan{0, 0, 2, 0, DumpFormat::plain}};
  r = write_dump_set(too_small, stream_);
  EXPECT_EQ(r.error, "the layout has no room for more blocks");

  DumpSetLayout bad_dir;
  bad_dir.prefixes = {dir_.file("missing/vol")};
  bad_dir.files = {DumpFilePlan{0, 0, kRestOfStream, 0, DumpFormat::plain}};
  r = write_dump_set(bad_dir, stream_);
  EXPECT_NE(r.error.find("cannot create " + dir_.file("missing/vol.0")), std::string::npos)
      << r.error;
}

TEST(DumpNames, FilesAndCheckpointsAreNamedAfterThePrefix) {
  EXPECT_EQ(dump_file_name("/dumps/vol1", 12), "/dumps/vol1.12");
  EXPECT_EQ(checkpoint_file_name("/dumps/vol1", 102), "/dumps/vol1-checkpoint-writer.102");
  EXPECT_EQ(even_layout("p", 10, 4).files.size(), 3u);
}

}  // namespace
}  // namespace kit
