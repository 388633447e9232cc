// The test decoder against the committed container fixtures, which another
// implementation wrote: each set decodes to its stored stream, with a table
// of one chunk header per file, so the decoder the kit is checked with is
// itself checked.
#include <gtest/gtest.h>

#include "kit/container_decoder.h"
#include "kit/corruption_tables.h"
#include "rehearsal/dump_writer.h"

namespace kit {
namespace {

TEST(FixtureDecode, EachFixtureSetDecodesToItsStoredStream) {
  for (const FixtureSet& set : kFixtureSets) {
    SCOPED_TRACE(set.prefix);
    const std::string prefix = std::string(BRIX_CONTAINER_FIXTURES) + "/" + set.prefix;
    std::vector<std::string> files;
    for (int n = 0; n < set.files; ++n) files.push_back(dump_file_name(prefix, n));
    const DecodedSet d = decode_dump_files(files, set.password ? set.password : "");
    ASSERT_EQ(d.error, "");
    std::string expected, error;
    ASSERT_TRUE(read_file(prefix + ".stream", expected, error)) << error;
    EXPECT_TRUE(d.stream == expected);
    ASSERT_EQ(d.files.size(), files.size());
    for (const DecodedFile& f : d.files) {
      EXPECT_EQ(f.encrypted, set.password != nullptr);
      EXPECT_EQ(f.last_flags, std::vector<uint8_t>{1});
    }
  }
}

}  // namespace
}  // namespace kit
