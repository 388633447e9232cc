// The test decoder against the committed container fixtures, which another
// implementation wrote: each set decodes to its stored stream with the
// chunking its README lists, so the decoder the kit is checked with is
// itself checked.
#include <gtest/gtest.h>

#include "kit/container_decoder.h"
#include "rehearsal/dump_writer.h"

namespace kit {
namespace {

const std::string kDir = BRIX_CONTAINER_FIXTURES;

struct FixtureSet {
  const char* prefix;
  int files;
  const char* password;
  bool compressed;
  int mode;                                   // 0: not encrypted
  std::vector<std::vector<uint32_t>> chunks;  // blocks per chunk, per file
};

const FixtureSet kSets[] = {
    {"ce_mode1",
     1,
     "thirty-two bytes count in mode 1, this tail is ignored",
     true,
     1,
     {{3, 16, 2, 6, 5}}},
    {"ce_mode2", 1, "Mode2-Fixture-Pass", true, 2, {{3, 7, 4}}},
    {"ce_mode3", 1, "mode three keeps all 52 bytes of this long password!", true, 3, {{3, 7, 4}}},
    {"e_mode2", 1, "encrypted only, no compression", false, 2, {{3, 16, 1}}},
    {"c_only", 1, "", true, 0, {{3, 6, 5}}},
    {"ce2files_mode1", 2, "two files, one password", true, 1, {{3, 16, 2}, {2, 6, 4}}},
};

std::vector<std::string> files_of(const FixtureSet& set) {
  std::vector<std::string> paths;
  for (int n = 0; n < set.files; ++n) paths.push_back(dump_file_name(kDir + "/" + set.prefix, n));
  return paths;
}

TEST(FixtureDecode, EachFixtureSetDecodesToItsStoredStreamWithTheListedChunks) {
  for (const FixtureSet& set : kSets) {
    SCOPED_TRACE(set.prefix);
    const DecodedSet d = decode_dump_files(files_of(set), set.password);
    ASSERT_EQ(d.error, "");
    std::string expected, error;
    ASSERT_TRUE(read_file(kDir + "/" + set.prefix + ".stream", expected, error)) << error;
    EXPECT_TRUE(d.stream == expected);
    ASSERT_EQ(d.files.size(), static_cast<size_t>(set.files));
    for (int f = 0; f < set.files; ++f) {
      EXPECT_EQ(d.files[f].compressed, set.compressed);
      EXPECT_EQ(d.files[f].encrypted, set.mode != 0);
      EXPECT_EQ(d.files[f].mode, set.mode);
      EXPECT_EQ(d.files[f].chunk_blocks, set.chunks[f]);
      EXPECT_EQ(d.files[f].last_flags, std::vector<uint8_t>{1});
    }
  }
}

}  // namespace
}  // namespace kit
