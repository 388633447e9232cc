// The rehearsal engine checked from outside: its container files read back
// by a decoder that shares no code with it (OpenSSL).
#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "kit/container_decoder.h"
#include "kit/temp_dir.h"
#include "rehearsal/dump_writer.h"
#include "rehearsal/stream_gen.h"

namespace kit {
namespace {

const char kPassword[] = "correct horse battery staple";

// Every format and mode decodes to the stream, in chunks of at most 16
// blocks, each header that opens a new synchronisation point beginning a
// chunk (where the capture tool cuts them).
TEST(RehearsalContainers, EveryFormatAndModeDecodesToTheStreamInChunksCutAtNewPoints) {
  TempDir dir;
  ASSERT_NE(dir.path(), "");
  StreamShape shape;
  shape.total_blocks = 300;
  shape.max_file_blocks = 20;
  shape.headers_per_sync = 3;
  const Stream s = generate_stream(shape);
  std::set<uint64_t> new_points;
  const std::vector<size_t> headers = header_indices(s);
  for (size_t k = 1; k < headers.size(); ++k) {
    if (sync_num(s[headers[k]]) != sync_num(s[headers[k - 1]])) new_points.insert(headers[k]);
  }
  ASSERT_GT(new_points.size(), 3u);
  const struct {
    DumpFormat format;
    int mode;
  } cases[] = {{DumpFormat::compressed, 0},
               {DumpFormat::encrypted, 2},
               {DumpFormat::compressed_encrypted, 1},
               {DumpFormat::compressed_encrypted, 3}};
  for (const auto& c : cases) {
    const std::string name = std::string(format_name(c.format)) + std::to_string(c.mode);
    SCOPED_TRACE(name);
    DumpSetLayout layout = split_layout(dir.file(name), {100});
    set_format(layout, c.format);
    layout.container.password = kPassword;
    layout.container.mode = c.mode == 0 ? 1 : c.mode;
    const DumpSetResult r = write_dump_set(layout, s);
    ASSERT_TRUE(r.ok()) << r.error;
    const DecodedSet d = decode_dump_files(r.files, kPassword);
    ASSERT_EQ(d.error, "");
    ASSERT_EQ(d.stream.size(), s.size() * LR_BLOCK_SIZE);
    EXPECT_EQ(memcmp(d.stream.data(), s.data(), d.stream.size()), 0);
    std::set<uint64_t> chunk_starts;
    uint64_t block = 0;
    for (const DecodedFile& f : d.files) {
      EXPECT_EQ(f.mode, c.mode);
      for (uint32_t blocks : f.chunk_blocks) {
        EXPECT_LE(blocks, kMaxChunkBlocks);
        chunk_starts.insert(block);
        block += blocks;
      }
    }
    for (uint64_t h : new_points) EXPECT_EQ(chunk_starts.count(h), 1u) << "header " << h;
  }
}

}  // namespace
}  // namespace kit
