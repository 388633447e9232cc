// Container dump files as the kit writes them, read back by the independent
// decoder: every format and mode gives the stream back, chunks are cut where
// the capture tool cuts them, the chunk table grows a header every 2048
// chunks, and the description says where everything lies.
#include "kit/container_writer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <set>

#include "kit/container_decoder.h"
#include "kit/dump_writer.h"
#include "kit/stream_gen.h"
#include "kit/temp_dir.h"

namespace kit {
namespace {

const char kPassword[] = "correct horse battery staple";

int64_t file_size(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}

Stream test_stream(uint64_t blocks, uint64_t seed = 5) {
  StreamShape shape;
  shape.total_blocks = blocks;
  shape.seed = seed;
  shape.max_file_blocks = 30;
  return generate_stream(shape);
}

bool same_bytes(const std::string& bytes, const Stream& s) {
  return bytes.size() == s.size() * LR_BLOCK_SIZE &&
         (s.empty() || memcmp(bytes.data(), s.data(), bytes.size()) == 0);
}

// Block counts of the chunks of a set, worked out from the whole stream: a
// chunk begins at each file start and at each header whose synchronisation
// point differs from the previous header's; a run is cut every 16 blocks.
std::vector<uint32_t> expected_chunks(const Stream& s, Form form,
                                      const std::vector<uint64_t>& file_starts) {
  std::set<uint64_t> starts(file_starts.begin(), file_starts.end());
  const std::vector<size_t> headers = header_indices(s, form);
  for (size_t k = 1; k < headers.size(); ++k) {
    if (sync_num(s[headers[k]]) != sync_num(s[headers[k - 1]])) starts.insert(headers[k]);
  }
  starts.insert(s.size());
  std::vector<uint32_t> chunks;
  for (auto it = starts.begin(); std::next(it) != starts.end(); ++it) {
    for (uint64_t left = *std::next(it) - *it; left > 0; left -= std::min<uint64_t>(left, 16)) {
      chunks.push_back(static_cast<uint32_t>(std::min<uint64_t>(left, 16)));
    }
  }
  return chunks;
}

std::vector<uint32_t> decoded_chunks(const DecodedSet& set) {
  std::vector<uint32_t> all;
  for (const DecodedFile& f : set.files) {
    all.insert(all.end(), f.chunk_blocks.begin(), f.chunk_blocks.end());
  }
  return all;
}

// The description of a file agrees with what the decoder found in it.
void expect_description_matches(const DumpFileInfo& info, const DecodedFile& d) {
  SCOPED_TRACE(info.path);
  EXPECT_EQ(d.compressed, has_compression(info.format));
  EXPECT_EQ(d.encrypted, has_encryption(info.format));
  EXPECT_EQ(info.data_start, (d.compressed ? 80 : 0) + (d.encrypted ? 464 : 0));
  EXPECT_EQ(info.size, file_size(info.path));
  EXPECT_EQ(info.mode, d.mode);
  EXPECT_EQ(info.chunk_headers, static_cast<int>(d.header_counts.size()));
  ASSERT_EQ(info.chunks.size(), d.stored_sizes.size());
  int64_t offset = info.data_start;
  uint64_t block = info.first_block;
  for (size_t c = 0; c < info.chunks.size(); ++c) {
    const ChunkInfo& chunk = info.chunks[c];
    EXPECT_EQ(chunk.offset, offset);
    EXPECT_EQ(chunk.stored_size, d.stored_sizes[c]);
    EXPECT_EQ(chunk.first_block, block);
    EXPECT_EQ(chunk.blocks, d.chunk_blocks[c]);
    EXPECT_EQ(chunk.header_number, static_cast<int>(c / 2048));
    EXPECT_EQ(chunk.index_in_header, static_cast<int>(c % 2048));
    offset += chunk.stored_size;
    block += chunk.blocks;
  }
  EXPECT_EQ(info.table_offset, offset);
  EXPECT_EQ(block - info.first_block, info.blocks);
  EXPECT_EQ(info.blocks * LR_BLOCK_SIZE, d.stream.size());
}

class ContainerWriter : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(dir_.path(), ""); }

  DumpSetLayout layout(const std::string& name, DumpFormat format,
                       const std::vector<uint64_t>& split) {
    DumpSetLayout l = split_layout(dir_.file(name), split);
    set_format(l, format);
    l.container.password = kPassword;
    return l;
  }

  TempDir dir_;
};

TEST_F(ContainerWriter, EveryFormatAndModeDecodesBackToTheStreamAsDescribed) {
  const Stream s = test_stream(300);
  const struct {
    DumpFormat format;
    int mode;
  } cases[] = {{DumpFormat::compressed, 1},
               {DumpFormat::encrypted, 1},
               {DumpFormat::encrypted, 2},
               {DumpFormat::encrypted, 3},
               {DumpFormat::compressed_encrypted, 1},
               {DumpFormat::compressed_encrypted, 2},
               {DumpFormat::compressed_encrypted, 3}};
  for (const auto& c : cases) {
    const std::string name = std::string(format_name(c.format)) + std::to_string(c.mode);
    SCOPED_TRACE(name);
    DumpSetLayout l = layout(name, c.format, {40, 100});
    l.container.mode = c.mode;
    const DumpSetResult r = write_dump_set(l, s);
    ASSERT_TRUE(r.ok()) << r.error;
    ASSERT_EQ(r.file_info.size(), 3u);
    const DecodedSet d = decode_dump_files(r.files, kPassword);
    ASSERT_EQ(d.error, "");
    EXPECT_TRUE(same_bytes(d.stream, s));
    for (size_t f = 0; f < r.file_info.size(); ++f) {
      expect_description_matches(r.file_info[f], d.files[f]);
      EXPECT_EQ(r.file_info[f].salt.size(), has_encryption(c.format) ? 4u * (c.mode + 1) : 0u);
    }
    EXPECT_EQ(r.file_info[1].first_block, 40u);
    EXPECT_EQ(r.file_info[2].first_block, 140u);
  }
}

TEST_F(ContainerWriter, FindBlockNamesTheFileAndChunkThatHoldAStreamBlock) {
  const Stream s = test_stream(120);
  const DumpSetResult r = write_dump_set(layout("find", DumpFormat::compressed, {50}), s);
  ASSERT_TRUE(r.ok()) << r.error;
  for (size_t f = 0; f < r.file_info.size(); ++f) {
    for (size_t c = 0; c < r.file_info[f].chunks.size(); ++c) {
      const ChunkInfo& chunk = r.file_info[f].chunks[c];
      const BlockPlace last = find_block(r.file_info, chunk.first_block + chunk.blocks - 1);
      EXPECT_TRUE(last.found);
      EXPECT_EQ(last.file, f);
      EXPECT_EQ(last.chunk, c);
      EXPECT_EQ(last.in_chunk, chunk.blocks - 1);
    }
  }
  EXPECT_FALSE(find_block(r.file_info, s.size()).found);
}

TEST_F(ContainerWriter, ChunksHoldSixteenBlocksUnlessSomethingClosesThemEarlier) {
  const Stream s = test_stream(300);
  DumpSetLayout l = layout("full", DumpFormat::compressed, {});
  l.container.close_before_new_sync = false;
  const DumpSetResult r = write_dump_set(l, s);
  ASSERT_TRUE(r.ok()) << r.error;
  std::vector<uint32_t> expected(300 / 16, 16);
  expected.push_back(300 % 16);
  EXPECT_EQ(decoded_chunks(decode_dump_files(r.files, "")), expected);
}

TEST_F(ContainerWriter, ChunkClosesJustBeforeEachHeaderOpeningANewSyncPoint) {
  for (Form form : {Form::full, Form::stripped}) {
    SCOPED_TRACE(form == Form::full ? "full" : "stripped");
    StreamShape shape;
    shape.total_blocks = 400;
    shape.max_file_blocks = 20;
    shape.headers_per_sync = 3;
    shape.file_phase_headers_only = form == Form::stripped;
    const Stream s = generate_stream(shape);
    DumpSetLayout l = layout(form == Form::full ? "full" : "stripped", DumpFormat::compressed,
                             {s.size() / 3, s.size() / 3});
    l.form = form;
    const DumpSetResult r = write_dump_set(l, s);
    ASSERT_TRUE(r.ok()) << r.error;
    const DecodedSet d = decode_dump_files(r.files, "");
    ASSERT_EQ(d.error, "");
    EXPECT_EQ(decoded_chunks(d), expected_chunks(s, form, {0, s.size() / 3, 2 * (s.size() / 3)}));
  }
}

TEST_F(ContainerWriter, NewSyncPointIsJudgedAgainstTheLastHeaderOfThePreviousFile) {
  const Stream s = test_stream(300);
  // A header opening a new point with two data blocks before it: the next
  // file begins with those two blocks, so the header is not its first block.
  const std::vector<size_t> headers = header_indices(s);
  size_t target = 0;
  for (size_t k = 1; k < headers.size() && target == 0; ++k) {
    if (sync_num(s[headers[k]]) != sync_num(s[headers[k - 1]]) &&
        headers[k] - headers[k - 1] >= 3) {
      target = headers[k];
    }
  }
  ASSERT_NE(target, 0u);
  const DumpSetResult r = write_dump_set(layout("carry", DumpFormat::compressed, {target - 2}), s);
  ASSERT_TRUE(r.ok()) << r.error;
  ASSERT_GE(r.file_info.size(), 2u);
  ASSERT_GE(r.file_info[1].chunks.size(), 2u);
  EXPECT_EQ(r.file_info[1].chunks[0].blocks, 2u);
  EXPECT_EQ(r.file_info[1].chunks[1].first_block, target);
}

TEST_F(ContainerWriter, ExtraBoundariesBeginChunksWhereAsked) {
  const Stream s = test_stream(100);
  DumpSetLayout l = layout("extra", DumpFormat::encrypted, {});
  l.container.close_before_new_sync = false;
  l.container.extra_boundaries = {5, 6, 40};
  const DumpSetResult r = write_dump_set(l, s);
  ASSERT_TRUE(r.ok()) << r.error;
  const DecodedSet d = decode_dump_files(r.files, kPassword);
  ASSERT_EQ(d.error, "");
  EXPECT_EQ(decoded_chunks(d), (std::vector<uint32_t>{5, 1, 16, 16, 2, 16, 16, 16, 12}));
}

TEST_F(ContainerWriter, ChunkTableTakesAnotherHeaderEvery2048Chunks) {
  const struct {
    uint64_t blocks;
    std::vector<uint32_t> counts;
    std::vector<uint8_t> last;
  } cases[] = {{2048, {2048}, {1}}, {2100, {2048, 52}, {0, 1}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.blocks);
    const Stream s = test_stream(c.blocks);
    DumpSetLayout l = layout("table" + std::to_string(c.blocks), DumpFormat::compressed, {});
    l.container.max_chunk_blocks = 1;
    const DumpSetResult r = write_dump_set(l, s);
    ASSERT_TRUE(r.ok()) << r.error;
    const DecodedSet d = decode_dump_files(r.files, "");
    ASSERT_EQ(d.error, "");
    EXPECT_TRUE(same_bytes(d.stream, s));
    EXPECT_EQ(d.files[0].header_counts, c.counts);
    EXPECT_EQ(d.files[0].last_flags, c.last);
    expect_description_matches(r.file_info[0], d.files[0]);
  }
}

TEST_F(ContainerWriter, EmptyFileHoldsOneEmptyLastChunkHeader) {
  const Stream s = test_stream(60);
  for (DumpFormat format :
       {DumpFormat::compressed, DumpFormat::encrypted, DumpFormat::compressed_encrypted}) {
    SCOPED_TRACE(format_name(format));
    const DumpSetResult r = write_dump_set(layout(format_name(format), format, {30, 0}), s);
    ASSERT_TRUE(r.ok()) << r.error;
    ASSERT_EQ(r.file_info.size(), 3u);
    const DumpFileInfo& empty = r.file_info[1];
    EXPECT_EQ(empty.blocks, 0u);
    EXPECT_EQ(empty.size, empty.data_start + 8232);
    const DecodedSet d = decode_dump_files(r.files, kPassword);
    ASSERT_EQ(d.error, "");
    EXPECT_EQ(d.files[1].header_counts, std::vector<uint32_t>{0});
    EXPECT_EQ(d.files[1].last_flags, std::vector<uint8_t>{1});
    EXPECT_TRUE(same_bytes(d.stream, s));
  }
}

TEST_F(ContainerWriter, EachFileDrawsItsOwnSaltFromTheSeedUnlessOneIsGiven) {
  const Stream s = test_stream(60);
  auto salts = [&](const std::string& name, const ContainerOptions& o) {
    DumpSetLayout l = layout(name, DumpFormat::encrypted, {30});
    l.container = o;
    const DumpSetResult r = write_dump_set(l, s);
    EXPECT_TRUE(r.ok()) << r.error;
    std::vector<std::vector<unsigned char>> out;
    for (const DumpFileInfo& f : r.file_info) out.push_back(f.salt);
    return out;
  };
  ContainerOptions o;
  o.mode = 3;
  const auto first = salts("a", o);
  ASSERT_EQ(first.size(), 2u);
  EXPECT_EQ(first[0].size(), 16u);
  EXPECT_NE(first[0], first[1]);
  EXPECT_EQ(salts("b", o), first);
  o.salt_seed = 2;
  EXPECT_NE(salts("c", o)[0], first[0]);
  o.salt = std::vector<unsigned char>(16, 0x5A);
  EXPECT_EQ(salts("d", o), (std::vector<std::vector<unsigned char>>(2, o.salt)));
}

TEST_F(ContainerWriter, OptionsItCannotHonourAreRefused) {
  const Stream s = test_stream(40);
  const struct {
    const char* what;
    void (*change)(DumpSetLayout&);
    const char* error;
  } cases[] = {
      {"mode 0", [](DumpSetLayout& l) { l.container.mode = 0; },
       "the encryption mode is 1, 2 or 3"},
      {"mode 4", [](DumpSetLayout& l) { l.container.mode = 4; },
       "the encryption mode is 1, 2 or 3"},
      {"0 blocks", [](DumpSetLayout& l) { l.container.max_chunk_blocks = 0; },
       "a chunk holds 1 to 16 blocks"},
      {"17 blocks", [](DumpSetLayout& l) { l.container.max_chunk_blocks = 17; },
       "a chunk holds 1 to 16 blocks"},
      {"long password", [](DumpSetLayout& l) { l.container.password = std::string(65, 'p'); },
       "the password is longer than 64 bytes"},
      {"short salt",
       [](DumpSetLayout& l) {
         l.container.salt = {1, 2, 3};
       },
       "the salt is shorter than the mode needs"},
      {"tail", [](DumpSetLayout& l) { l.files[0].tail_bytes = 10; },
       "a trailing partial block belongs to plain files only"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    DumpSetLayout l = layout("bad", DumpFormat::compressed_encrypted, {});
    c.change(l);
    EXPECT_EQ(write_dump_set(l, s).error, c.error);
  }
}

TEST_F(ContainerWriter, PlainAndContainerFilesMixInOneSet) {
  const Stream s = test_stream(90);
  DumpSetLayout l = layout("mixed", DumpFormat::plain, {30, 30});
  l.files[1].format = DumpFormat::encrypted;
  l.files[1].container = l.container;
  l.files[1].container->mode = 2;
  l.files[2].format = DumpFormat::compressed;
  const DumpSetResult r = write_dump_set(l, s);
  ASSERT_TRUE(r.ok()) << r.error;
  const DecodedSet d = decode_dump_files(r.files, kPassword);
  ASSERT_EQ(d.error, "");
  EXPECT_TRUE(same_bytes(d.stream, s));
  EXPECT_EQ(r.file_info[0].size, 30 * 4096);
  EXPECT_EQ(d.files[1].mode, 2);
  EXPECT_TRUE(d.files[2].compressed);
}

}  // namespace
}  // namespace kit
