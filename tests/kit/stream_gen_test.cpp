// The stream generator: well-formed output for many shapes, exact sizes,
// the stripped and inflated forms, and the documented minimal stream.
#include "kit/stream_gen.h"

#include <gtest/gtest.h>

#include <cstring>

#include "kit/dir_block.h"
#include "kit/inflate.h"
#include "kit/stream_check.h"

namespace kit {
namespace {

std::vector<StreamShape> varied_shapes() {
  std::vector<StreamShape> shapes;
  for (uint64_t seed : {1, 2, 77, 4242}) {
    StreamShape s;
    s.seed = seed;
    s.directories = static_cast<uint32_t>(seed % 5);
    s.files = static_cast<uint32_t>(seed % 13);
    s.hole_ratio = 0.3;
    s.ext_attrs = 20;  // covers every attribute type, the alternate data stream among them
    s.headers_per_sync = static_cast<uint32_t>(seed % 4);
    shapes.push_back(s);
  }
  StreamShape big_files;
  big_files.files = 3;
  big_files.min_file_blocks = 1000;
  big_files.max_file_blocks = 1600;
  shapes.push_back(big_files);
  StreamShape bare;  // nothing but the phase headers
  bare.directories = bare.files = bare.tree_ext_attrs = bare.ext_attrs = 0;
  bare.deleted_file_headers = bare.strmdir_headers = bare.discard_headers = 0;
  shapes.push_back(bare);
  StreamShape all_holes;
  all_holes.hole_ratio = 1.0;
  all_holes.max_file_blocks = 600;
  shapes.push_back(all_holes);
  return shapes;
}

TEST(StreamGenerator, StreamsOfManyShapesPassTheStructureCheckAndTheInflatingRules) {
  for (const StreamShape& shape : varied_shapes()) {
    SCOPED_TRACE("seed " + std::to_string(shape.seed) + ", files " + std::to_string(shape.files));
    const Stream s = generate_stream(shape);
    EXPECT_EQ(check_stream_structure(s), "");
    InflateRules full;
    full.data_present = true;
    EXPECT_EQ(check_inflating_rules(s, full), "");
    EXPECT_EQ(check_inflating_rules(strip_file_phase_data(s)), "");
    for (size_t i : header_indices(s)) ASSERT_EQ(blk_num(s[i]), i);
  }
}

TEST(StreamGenerator, HeadersOnlyShapeYieldsTheStrippedFullStream) {
  for (StreamShape shape : varied_shapes()) {
    const Stream stripped = strip_file_phase_data(generate_stream(shape));
    shape.file_phase_headers_only = true;
    const Stream direct = generate_stream(shape);
    ASSERT_EQ(direct.size(), stripped.size());
    EXPECT_EQ(memcmp(direct.data(), stripped.data(), direct.size() * sizeof(Block)), 0);
  }
}

TEST(StreamGenerator, TotalBlocksIsMetExactly) {
  for (bool end : {true, false}) {
    for (uint64_t total : {30, 513, 514, 515, 1027, 4000}) {
      StreamShape shape;
      shape.total_blocks = total;
      shape.end_header = end;
      shape.max_file_blocks = 700;
      const Stream s = generate_stream(shape);
      EXPECT_EQ(s.size(), total) << "end header " << end;
      StructureOptions opts;
      opts.require_end = end;
      EXPECT_EQ(check_stream_structure(s, opts), "") << total;
    }
  }
}

TEST(StreamGenerator, SameSeedGivesTheSameStreamAndAnotherSeedAnother) {
  StreamShape shape;
  const Stream a = generate_stream(shape);
  const Stream b = generate_stream(shape);
  shape.seed = 2;
  const Stream c = generate_stream(shape);
  ASSERT_EQ(a.size(), b.size());
  EXPECT_EQ(memcmp(a.data(), b.data(), a.size() * sizeof(Block)), 0);
  EXPECT_TRUE(a.size() != c.size() || memcmp(a.data(), c.data(), a.size() * sizeof(Block)) != 0);
}

TEST(StreamGenerator, FilePhaseSyncPointsRiseEveryKHeadersFrom101) {
  StreamShape shape;
  shape.files = 20;
  shape.headers_per_sync = 3;
  const Stream s = generate_stream(shape);
  uint32_t k = 0;
  bool file_phase = false;
  for (size_t i : header_indices(s)) {
    if (hdr_type(s[i]) == LR_HDR_MID_STREAM) file_phase = true;
    if (!file_phase) {
      EXPECT_EQ(sync_num(s[i]), 0u) << "tree-phase header " << i;
      continue;
    }
    EXPECT_EQ(sync_num(s[i]), 101 + k / 3) << "file-phase header " << k;
    ++k;
  }
  EXPECT_GT(k, 20u);
}

TEST(StreamGenerator, FilesLongerThan512PositionsContinueInFurtherHeaders) {
  StreamShape shape;
  shape.files = 1;
  shape.min_file_blocks = shape.max_file_blocks = 1100;
  shape.hole_ratio = 0;
  shape.ext_attrs = shape.discard_headers = 0;
  const Stream s = generate_stream(shape);
  const uint32_t expected_entries[] = {512, 512, 76};
  for (size_t n = 0; n < 3; ++n) {
    const long i = find_header(s, LR_HDR_FILE, shape.directories + n);
    ASSERT_GE(i, 0);
    EXPECT_EQ(valid_entries(s[i]), expected_entries[n]);
    EXPECT_EQ(following_blocks(s[i]), expected_entries[n]);
    EXPECT_EQ(marshal_uint4(hdr_block(s[i]).u_lr_hdr_data.d_blknos[0]), 512 * n);
    EXPECT_EQ(hdr(s[i]).h_inumber,
              hdr(s[find_header(s, LR_HDR_FILE, shape.directories)]).h_inumber);
  }
  EXPECT_EQ(find_header(s, LR_HDR_FILE, shape.directories + 3), -1);
}

TEST(StreamGenerator, DataBlocksNeverCarryTheMagicUnlessAskedTo) {
  StreamShape shape;
  shape.total_blocks = 20000;
  const Stream s = generate_stream(shape);
  EXPECT_EQ(header_indices(s).size(),
            static_cast<size_t>(
                std::count_if(s.begin(), s.end(), [](const Block& b) { return is_header(b); })));
  EXPECT_FALSE(is_header(data_block(7)));
  const Block magic = data_block_with_magic(7);
  EXPECT_TRUE(is_header(magic));
  const Block plain = data_block(7);
  EXPECT_EQ(memcmp(magic.bytes + 4, plain.bytes + 4, LR_BLOCK_SIZE - 4), 0);
}

TEST(StreamGenerator, AlternateDataStreamNameIsStoredAsSixteenBitUnits) {
  ExtAttrFields fields;
  fields.type = EXT_ATTR_TYPE_NT_ALTERNATE_DATA;
  fields.stream_name = "ads";
  fields.holes = holes_at(2, {0});
  const Block b = ext_attr_header(fields);
  const unsigned char name[6] = {'a', 0, 'd', 0, 's', 0};
  EXPECT_EQ(memcmp(hdr_block(b).spares, name, sizeof name), 0);
  EXPECT_EQ(marshal_uint2(hdr(b).h_attr_metadata.rea_attr_name_size), 6);
  EXPECT_EQ(hdr(b).h_attr_metadata.rea_nametype, LRN_UNICODE_LONG);
  EXPECT_EQ(following_blocks(b), 1u);
  EXPECT_EQ(hole_entries(b), 1u);
}

TEST(StreamGenerator, FileSizeOfFourGibibytesIsStoredLowWordFirst) {
  FileHeaderFields fields;
  fields.size = uint64_t{1} << 32;
  const Block b = file_header(fields);
  const unsigned char expected[8] = {0, 0, 0, 0, 1, 0, 0, 0};
  EXPECT_EQ(memcmp(b.bytes + 64, expected, 8), 0);
}

TEST(MinimalStream, IsTheDocumentedEightBlocks) {
  const Stream s = minimal_stream();
  ASSERT_EQ(s.size(), 8u);
  const int32_t types[] = {LR_HDR_START_STREAM, LR_HDR_FILE, 0, LR_HDR_MID_STREAM,
                           LR_HDR_FILE,         0,           0, LR_HDR_END_OF_STREAM};
  const uint32_t syncs[] = {0, 0, 0, 101, 101, 0, 0, 101};
  const uint32_t following[] = {0, 1, 0, 0, 2, 0, 0, 0};
  for (size_t i = 0; i < 8; ++i) {
    SCOPED_TRACE(i);
    ASSERT_EQ(is_header(s[i]), types[i] != 0);
    if (types[i] == 0) continue;
    EXPECT_EQ(hdr_type(s[i]), types[i]);
    EXPECT_EQ(sync_num(s[i]), syncs[i]);
    EXPECT_EQ(following_blocks(s[i]), following[i]);
    EXPECT_EQ(blk_num(s[i]), i);
  }
  EXPECT_EQ(file_type(s[1]), FILE_TYPE_DIRECTORY);
  EXPECT_EQ(valid_entries(s[1]), 1u);
  EXPECT_EQ(hole_entries(s[1]), 0u);
  EXPECT_EQ(check_dir_block(s[2]), "");
  EXPECT_EQ(file_type(s[4]), FILE_TYPE_REGULAR);
  EXPECT_EQ(valid_entries(s[4]), 3u);
  EXPECT_EQ(hole_entries(s[4]), 1u);
  for (size_t i = 0; i < LR_MAX_HOLE_ENTRIES; ++i)
    EXPECT_EQ(hdr(s[4]).h_holes[i], i == 1 ? 1 : 0) << i;
  EXPECT_EQ(check_stream_structure(s), "");
}

TEST(MinimalStream, StartHeaderCarriesAnAcceptedReplyWithNoBlocksDone) {
  const Block start = minimal_stream()[0];
  const lr_neg_data_reply& r = hdr_block(start).u_lr_hdr_data.d_neg;
  EXPECT_EQ(marshal_uint4(static_cast<uint32_t>(r.ndr_errcode)), 0u);
  EXPECT_STREQ(r.ndr_src_path, StartInfo().src_path.c_str());
  EXPECT_EQ(blks_done(start), 0u);
}

TEST(InflatedWire, FilePhaseDataBecomesZeroBlocksAndAllElseIsKept) {
  StreamShape shape;
  shape.tree_ext_attrs = 2;  // tree-phase data that must pass unchanged
  const Stream full = generate_stream(shape);
  const Stream wire = expected_inflated_wire(full);
  ASSERT_EQ(wire.size(), full.size());
  const size_t mid = static_cast<size_t>(find_header(full, LR_HDR_MID_STREAM));
  const std::vector<size_t> headers = header_indices(full);
  static const Block zero{};
  size_t zeroed = 0;
  for (size_t i = 0; i < full.size(); ++i) {
    const bool header = std::find(headers.begin(), headers.end(), i) != headers.end();
    if (i <= mid || header) {
      EXPECT_EQ(memcmp(wire[i].bytes, full[i].bytes, LR_BLOCK_SIZE), 0) << i;
    } else {
      EXPECT_EQ(memcmp(wire[i].bytes, zero.bytes, LR_BLOCK_SIZE), 0) << i;
      ++zeroed;
    }
  }
  EXPECT_EQ(full.size() - zeroed, strip_file_phase_data(full).size());
}

}  // namespace
}  // namespace kit
