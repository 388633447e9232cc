// Container dump sets made by the kit (compressed, encrypted in every mode,
// both; several files; tables of more than one chunk header) played back by
// the real binary: byte-exact playback, and a digest failure in an earlier
// file ending the input there.
#include <gtest/gtest.h>

#include <fstream>

#include "brix_comp_encr.h"
#include "e2e_support.h"
#include "kit/temp_dir.h"
#include "rehearsal/dump_writer.h"
#include "rehearsal/stream_gen.h"

namespace {

using e2e::bytes_of;
using e2e::Playback;
using e2e::same_blocks;

const char kPassword[] = "brix container password";
const char kDigestMismatch[] = "The data digest code does not match the expected value\n";

kit::Stream sample_stream(uint64_t blocks, uint64_t seed = 3) {
  kit::StreamShape shape;
  shape.seed = seed;
  shape.total_blocks = blocks;
  return kit::generate_stream(shape);
}

class ContainerPlayback : public testing::Test {
 protected:
  kit::TempDir dir;
  std::string prefix = dir.file("vol");
  kit::Stream stream;
  std::vector<kit::DumpFileInfo> files;

  void store(const kit::Stream& s, const std::vector<uint64_t>& split, kit::DumpFormat format,
             kit::ContainerOptions options = kit::ContainerOptions()) {
    stream = s;
    if (options.password.empty()) options.password = kPassword;
    kit::DumpSetResult r = kit::write_container_set(prefix, stream, split, format, options);
    ASSERT_TRUE(r.ok()) << r.error;
    files = r.file_info;
  }
  Playback play(const kit::DestinationOptions& d = kit::DestinationOptions(),
                const std::string& answer = std::string(kPassword) + "\n") {
    return e2e::play({prefix}, d, answer);
  }
  void expect_whole_stream(const Playback& p) {
    EXPECT_EQ(p.status.code, 0) << p.err;
    EXPECT_TRUE(p.dest.complete) << p.dest.error << p.dest.structure_error;
    EXPECT_TRUE(same_blocks(bytes_of({p.dest.reply}), e2e::expected_reply(stream[0], 0)));
    EXPECT_TRUE(same_blocks(bytes_of(p.dest.blocks), bytes_of(stream, 1, stream.size() - 1)));
  }
};

TEST_F(ContainerPlayback, EveryKindAndModePlaysBackByteExactAcrossFiles) {
  struct Case {
    kit::DumpFormat format;
    int mode;
  } cases[] = {{kit::DumpFormat::compressed, 1},
               {kit::DumpFormat::encrypted, 1},
               {kit::DumpFormat::encrypted, 2},
               {kit::DumpFormat::encrypted, 3},
               {kit::DumpFormat::compressed_encrypted, 2}};
  for (const Case& c : cases) {
    kit::ContainerOptions options;
    options.mode = c.mode;
    store(sample_stream(900), {300, 250}, c.format, options);
    SCOPED_TRACE(std::string(kit::format_name(c.format)) + " mode " + std::to_string(c.mode));
    expect_whole_stream(play());
  }
}

TEST_F(ContainerPlayback, TableOfMoreThan2048ChunksCrossesIntoItsSecondHeader) {
  kit::ContainerOptions options;
  options.max_chunk_blocks = 1;
  store(sample_stream(2100), {}, kit::DumpFormat::compressed_encrypted, options);
  ASSERT_EQ(files[0].chunk_headers, 2);
  expect_whole_stream(play());
}

TEST_F(ContainerPlayback, DigestMismatchOnAnEarlierFileEndsTheInputThere) {
  store(sample_stream(300), {150}, kit::DumpFormat::compressed_encrypted);
  std::string bytes, error;
  ASSERT_TRUE(kit::read_file(files[0].path, bytes, error)) << error;
  bytes[files[0].data_start - ENCR_HEADER_SIZE + offsetof(encr_header_type, digest_value)] ^= 1;
  std::ofstream(files[0].path, std::ios::binary) << bytes;
  kit::DestinationOptions d;
  d.structure.require_end = false;
  Playback p = play(d);
  EXPECT_EQ(p.status.code, 255);
  EXPECT_NE(p.err.find(kDigestMismatch), std::string::npos);
  EXPECT_NE(p.out.find("Transfer completed without end stream header."), std::string::npos);
  EXPECT_TRUE(same_blocks(bytes_of(p.dest.blocks), bytes_of(stream, 1, 149)));
}

}  // namespace
