// Directory blocks: packing, closing records and the well-formedness walk.
#include "kit/dir_block.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

namespace kit {
namespace {

DirEntry entry_with_names(std::initializer_list<size_t> name_sizes) {
  DirEntry e;
  e.inum = 4711;
  uint8_t type = LRN_NFS_LONG;
  for (size_t n : name_sizes) e.names.push_back(DirName{type++, std::string(n, 'n')});
  return e;
}

TEST(DirBlock, GeneratedBlocksAreWellFormed) {
  for (uint64_t seed = 0; seed < 200; ++seed) {
    uint32_t written = 0;
    const Block b = generated_dir_block(seed, 100, seed % 2 == 0, &written);
    EXPECT_EQ(check_dir_block(b), "") << seed;
    EXPECT_GE(written, 1u);
  }
}

TEST(DirBlock, EntryWithNamesOf24And16RecordBytesHasLength72) {
  // 16 name bytes make a 24-byte record, 8 make a 16-byte one.
  const DirEntry e = entry_with_names({16, 8});
  EXPECT_EQ(dir_entry_size(e), 72u);
  Block b;
  ASSERT_TRUE(pack_dir_block({e}, b));
  lr_dir_entry_hdr h;
  memcpy(&h, b.bytes, sizeof h);
  EXPECT_EQ(marshal_uint2(h.dh_len), 72);
  EXPECT_EQ(h.dh_num_names, 2);
  EXPECT_EQ(marshal_uint4(h.dh_name_mask), 0x3u);
  EXPECT_EQ(check_dir_block(b), "");
}

TEST(DirBlock, ClosingRecordFollowsWhenThirtyTwoBytesOrMoreRemain) {
  Block b;
  ASSERT_TRUE(pack_dir_block({entry_with_names({5})}, b));  // 32 + 16 bytes used
  lr_dir_entry_hdr closing;
  memcpy(&closing, b.bytes + 48, sizeof closing);
  EXPECT_EQ(marshal_uint4(closing.dh_magic), LR_DIR_ENTRY_MAGIC);
  EXPECT_EQ(closing.dh_type, LR_END_OF_DATA);
}

TEST(DirBlock, NoClosingRecordWhenFewerThanThirtyTwoBytesRemain) {
  // One entry of 4088 bytes leaves 8.
  const DirEntry e = entry_with_names({LR_BLOCK_SIZE - 32 - 8 - 8});
  ASSERT_EQ(dir_entry_size(e), LR_BLOCK_SIZE - 8u);
  Block b;
  ASSERT_TRUE(pack_dir_block({e}, b));
  const unsigned char zeros[8] = {};
  EXPECT_EQ(memcmp(b.bytes + LR_BLOCK_SIZE - 8, zeros, 8), 0);
  EXPECT_EQ(check_dir_block(b), "");
}

TEST(DirBlock, EntriesThatDoNotFitAreRefused) {
  const DirEntry e = entry_with_names({3000});
  Block b;
  EXPECT_FALSE(pack_dir_block({e, e}, b));
}

TEST(DirBlock, DamagedBlocksAreReportedWithTheFault) {
  // One entry (32 + 16 bytes, name head at 32) and the closing record at 48.
  struct Case {
    const char* what;
    std::function<void(Block&)> damage;
    const char* fault;
  };
  const Case cases[] = {
      {"entry magic", [](Block& b) { b.bytes[0] ^= 1; }, "bad entry magic at offset 0"},
      {"closing magic", [](Block& b) { b.bytes[48] ^= 1; }, "bad entry magic at offset 48"},
      {"action", [](Block& b) { b.bytes[5] = 2; }, "bad entry action at offset 0"},
      {"name type", [](Block& b) { b.bytes[32] = 5; }, "bad name type at offset 32"},
      {"mask", [](Block& b) { b.bytes[16] = 0x2; }, "name type missing from the mask at offset 32"},
      {"record size", [](Block& b) { b.bytes[34] = 12; }, "bad name record size at offset 32"},
      {"entry too long", [](Block& b) { b.bytes[6] = 56; },
       "entry length differs from its records at offset 0"},
      {"entry too short", [](Block& b) { b.bytes[6] = 40; },
       "name record beyond its entry at offset 32"},
      {"name too long", [](Block& b) { b.bytes[36] = 9; },
       "name longer than its record at offset 32"},
      {"length past block",
       [](Block& b) {
         b.bytes[6] = 0;
         b.bytes[7] = 0x20;
       },
       "entry length out of the block"},
  };
  for (const Case& c : cases) {
    Block b;
    ASSERT_TRUE(pack_dir_block({entry_with_names({5})}, b));
    ASSERT_EQ(check_dir_block(b), "");
    c.damage(b);
    EXPECT_NE(check_dir_block(b).find(c.fault), std::string::npos)
        << c.what << ": " << check_dir_block(b);
  }
}

}  // namespace
}  // namespace kit
