// The chunk inflater: zlib's verdict wins on every construct that libdeflate
// accepts and zlib refuses, and the chunks zlib writes take libdeflate's path.
#include "chunk_inflate.h"

#include <gtest/gtest.h>
#include <libdeflate.h>
#include <zlib.h>

#include <cstring>
#include <string>
#include <vector>

#include "container_format.h"
#include "deflate_scan.h"
#include "kit/lenient_chunks.h"
#include "rehearsal/stream_gen.h"

namespace {

const unsigned char* bytes_of(const std::string& s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

TEST(ChunkInflater, ZlibsVerdictWinsWhereLibdeflateAcceptsWhatZlibRefuses) {
  chunk_inflater inflater;
  std::unique_ptr<libdeflate_decompressor, decltype(&libdeflate_free_decompressor)> alone(
      libdeflate_alloc_decompressor(), &libdeflate_free_decompressor);
  std::vector<unsigned char> out(CHUNK_DECODED_MAX), zlib_out(CHUNK_DECODED_MAX);
  for (const kit::LenientChunk& c : kit::lenient_chunks()) {
    const unsigned char* in = bytes_of(c.chunk);
    size_t decoded = 0;
    ASSERT_EQ(libdeflate_zlib_decompress(alone.get(), in, c.chunk.size(), out.data(), out.size(),
                                         &decoded),
              LIBDEFLATE_SUCCESS)
        << c.construct << ": libdeflate alone no longer accepts it";

    uLongf zlib_size = CHUNK_DECODED_MAX;
    const int zlib_result = uncompress(zlib_out.data(), &zlib_size, in, c.chunk.size());
    EXPECT_EQ(zlib_result, Z_DATA_ERROR) << c.construct;
    size_t size = 0;
    EXPECT_EQ(inflater.inflate(out.data(), out.size(), &size, in, c.chunk.size()), zlib_result)
        << c.construct;
    EXPECT_EQ(size, zlib_size) << c.construct;
    EXPECT_EQ(memcmp(out.data(), zlib_out.data(), zlib_size), 0) << c.construct;
  }
}

// Sixteen stream blocks, as a chunk holds them, at every level and with
// every strategy of zlib's compressor: stored, fixed and dynamic blocks.
TEST(ChunkInflater, ChunksZlibWritesAreLeftToLibdeflate) {
  kit::StreamShape shape;
  shape.total_blocks = 16;
  std::string blocks;
  for (const kit::Block& b : kit::generate_stream(shape)) {
    blocks.append(reinterpret_cast<const char*>(b.bytes), LR_BLOCK_SIZE);
  }
  for (int strategy : {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED}) {
    for (int level = 0; level <= 9; level++) {
      std::string chunk(compressBound(blocks.size()), '\0');
      z_stream z{};
      ASSERT_EQ(deflateInit2(&z, level, Z_DEFLATED, 15, 8, strategy), Z_OK);
      z.next_in = const_cast<Bytef*>(bytes_of(blocks));
      z.avail_in = static_cast<uInt>(blocks.size());
      z.next_out = reinterpret_cast<Bytef*>(&chunk[0]);
      z.avail_out = static_cast<uInt>(chunk.size());
      ASSERT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
      chunk.resize(z.total_out);
      deflateEnd(&z);
      EXPECT_TRUE(libdeflate_verdict_is_zlibs(bytes_of(chunk), chunk.size()))
          << "level " << level << ", strategy " << strategy;
    }
  }
}

}  // namespace
