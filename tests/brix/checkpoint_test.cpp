// Writer checkpoint files: what a record holds and where, rotation, loading
// with its refusals, and deletion.
#include "checkpoint_record.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "dump_set.h"
#include "reading_state.h"
#include "test_support.h"

namespace {

using testing_support::Block;
using testing_support::concat;
using testing_support::data_block;
using testing_support::file_exists;
using testing_support::header_block;
using testing_support::info_of;
using testing_support::read_file;
using testing_support::TempDir;
using testing_support::TestSession;
using testing_support::write_file;

uint32 u32_at(const std::string& bytes, size_t offset) {
  uint32 v;
  memcpy(&v, &bytes[offset], 4);
  return v;
}

class Checkpoint : public testing::Test {
 protected:
  TempDir dir;
  TestSession t;

  void open_set(const std::vector<std::string>& files) {
    for (size_t i = 0; i < files.size(); i++)
      write_file(dir.file("vol." + std::to_string(i)), files[i]);
    t.add_prefix(dir.file("vol"));
    testing::internal::CaptureStdout();
    ASSERT_EQ(open_input_dump(&t.s), B_TRUE);
    ASSERT_EQ(detect_container_kind(&t.s), B_TRUE);
    ASSERT_EQ(prepare_input_dump(&t.s), B_TRUE);
    testing::internal::GetCapturedStdout();
  }
  // Delivers n blocks of the set; the last one stays in in_buf.
  void read_blocks(int n) {
    int error = 0;
    for (int i = 0; i < n; i++) ASSERT_EQ(read_dump_block(&t.s, &error), B_TRUE);
  }
  std::string name(int point) { return dir.file("vol-checkpoint-writer." + std::to_string(point)); }
  bool_t create(uint32 point, std::string* err = nullptr) {
    lr_hdr* hdr = reinterpret_cast<lr_hdr*>(t.s.in_buf);
    testing::internal::CaptureStderr();
    bool_t ok = create_brix_writer_checkpoint_file(&t.s, &hdr->u_lr_hdr_info.hdr, hdr, point);
    std::string e = testing::internal::GetCapturedStderr();
    if (err != nullptr) *err = e;
    return ok;
  }
  // Stores the record sealed by its checksum, as the writer writes it.
  void store_record(int point, check_point record) {
    seal_checkpoint_record(&record);
    write_file(name(point), std::string(reinterpret_cast<const char*>(&record), sizeof(record)));
  }
  bool_t load(uint32 point, std::string* err) {
    t.s.restart_checkpoint = point;
    testing::internal::CaptureStderr();
    bool_t ok = ReadBrixWriterCheckpointFile(&t.s);
    *err = testing::internal::GetCapturedStderr();
    return ok;
  }
  static check_point valid_record() {
    check_point record;
    memset(&record, 0, sizeof(record));
    record.h_magic = CHECKPOINT_MAGIC;
    record.file_del = 3;
    return record;
  }
};

TEST_F(Checkpoint, RecordHoldsThePositionOfTheHeaderAtItsOffsets) {
  std::vector<Block> blocks;
  for (int i = 0; i < 20; i++) blocks.push_back(data_block(i));
  blocks[18] = header_block(LR_HDR_FILE, 102);
  open_set({concat(std::vector<Block>(blocks.begin(), blocks.begin() + 3)),
            concat(std::vector<Block>(blocks.begin() + 3, blocks.end()))});
  read_blocks(19);  // file 1, block 15 of the first 16-block read
  t.s.blk_num = 18;
  ASSERT_EQ(create(102), B_TRUE);

  std::string record = read_file(name(102));
  ASSERT_EQ(record.size(), CHECKPOINT_RECORD_SIZE);
  EXPECT_EQ(u32_at(record, 16), 102u);                 // restart_sync_point
  EXPECT_EQ(u32_at(record, 40), 0u);                   // batch_index
  EXPECT_EQ(u32_at(record, 48), 18u);                  // blk_num, low word
  EXPECT_EQ(u32_at(record, 52), 0u);                   // blk_num, high word
  EXPECT_EQ(u32_at(record, 56), 1u);                   // file_num
  EXPECT_EQ(u32_at(record, 60), 15u * LR_BLOCK_SIZE);  // offset of the header
  EXPECT_EQ(u32_at(record, 64), 1u);                   // file_del
  EXPECT_EQ(record.substr(1808), std::string("\xF6\x12\x09\x00", 4));
}

TEST_F(Checkpoint, FirstFilePhasePointRecordsOneMoreBlock) {
  open_set({concat({header_block(LR_HDR_MID_STREAM, 101)})});
  read_blocks(1);
  t.s.blk_num = 7;
  ASSERT_EQ(create(101), B_TRUE);
  EXPECT_EQ(u32_at(read_file(name(101)), 48), 8u);
}

TEST_F(Checkpoint, OffsetIgnoresATrailingPartialBlock) {
  open_set({concat({data_block(0), data_block(1), data_block(2), header_block(LR_HDR_FILE, 103),
                    data_block(4)}) +
            std::string(100, 'x')});
  read_blocks(4);
  ASSERT_EQ(create(103), B_TRUE);
  EXPECT_EQ(u32_at(read_file(name(103)), 60), 3u * LR_BLOCK_SIZE);
}

TEST_F(Checkpoint, AtMostTenFilesAreKeptWhenPointsRiseOneByOne) {
  open_set({concat({header_block(LR_HDR_FILE, 101)})});
  read_blocks(1);
  for (int point = 101; point <= 110; point++) ASSERT_EQ(create(point), B_TRUE);
  EXPECT_TRUE(file_exists(name(101)));
  ASSERT_EQ(create(111), B_TRUE);
  EXPECT_FALSE(file_exists(name(101)));
  ASSERT_EQ(create(112), B_TRUE);
  EXPECT_FALSE(file_exists(name(102)));
  for (int point = 103; point <= 112; point++) EXPECT_TRUE(file_exists(name(point))) << point;
  EXPECT_EQ(u32_at(read_file(name(112)), 64), 10u);
}

TEST_F(Checkpoint, NameTooLongForItsBufferIsRefused) {
  std::string deep = dir.path() + "/" + std::string(990, 'd');
  t.add_prefix(deep);
  std::string err;
  EXPECT_EQ(create(101, &err), B_FALSE);
  EXPECT_EQ(err, "Checkpoint file name longer than 1023 characters: " + deep +
                     "-checkpoint-writer.101\nerror in creating writer checkpoint file \n");
}

TEST_F(Checkpoint, LoadingRestoresTheCount) {
  open_set({std::string(LR_BLOCK_SIZE, 'x'), std::string(LR_BLOCK_SIZE, 'y')});
  check_point record = valid_record();
  record.blk_num = 5000000000LL;
  record.file_num = 1;
  record.offset = 8192;
  store_record(120, record);
  std::string err;
  ASSERT_EQ(load(120, &err), B_TRUE) << err;
  EXPECT_EQ(t.s.blk_num, 5000000000LL);
}

TEST_F(Checkpoint, MissingFileIsOptionalUpToPoint99Only) {
  open_set({std::string(LR_BLOCK_SIZE, 'x')});
  std::string err;
  EXPECT_EQ(load(99, &err), B_TRUE);
  EXPECT_EQ(err, "");
  EXPECT_EQ(load(100, &err), B_FALSE);
  EXPECT_EQ(err, "could not find checkpoint file \n");
}

TEST_F(Checkpoint, FileThatIsAFifoIsRefusedWithoutBlocking) {
  open_set({std::string(LR_BLOCK_SIZE, 'x')});
  ASSERT_EQ(mkfifo(name(120).c_str(), 0600), 0);
  std::string err;
  alarm(60);  // an open that blocks ends the test instead of hanging it
  EXPECT_EQ(load(120, &err), B_FALSE);
  alarm(0);
  EXPECT_EQ(err, "checkpoint file is corrupted\n");
}

TEST_F(Checkpoint, DamagedOrForeignRecordsAreRefused) {
  open_set({std::string(LR_BLOCK_SIZE, 'x')});
  struct Case {
    const char* what;
    std::string bytes;
    std::string err;
  };
  check_point wrong_magic = valid_record();
  wrong_magic.h_magic = 0x912F7;
  check_point bad_batch = valid_record();
  bad_batch.batch_index = 1;  // no second prefix in this set
  check_point negative_batch = valid_record();
  negative_batch.batch_index = -1;
  check_point negative_offset = valid_record();
  negative_offset.prev_checkpoint = 0x80000000;  // the offset's high word
  check_point offset_inside_a_block = valid_record();
  offset_inside_a_block.offset = LR_BLOCK_SIZE + 100;  // the set is plain
  check_point negative_count = valid_record();
  negative_count.blk_num = -1;
  check_point too_many_files = valid_record();
  too_many_files.file_del = 11;
  check_point other_set = valid_record();
  other_set.rng.opaque[CHECKPOINT_BINDING_OFFSET] = 1;  // the digest of another start header
  auto unsealed = [](const check_point& r) {
    return std::string(reinterpret_cast<const char*>(&r), sizeof(r));
  };
  auto bytes = [&](check_point r) {
    seal_checkpoint_record(&r);
    return unsealed(r);
  };
  std::string changed_after_sealing = bytes(valid_record());
  changed_after_sealing[60] ^= 0x10;  // the offset
  const std::string corrupted = "checkpoint file is corrupted\n";
  const Case cases[] = {
      {"wrong magic", bytes(wrong_magic), corrupted},
      {"short file", bytes(valid_record()).substr(0, 1000), "Short read from Source" + corrupted},
      {"empty file", "", corrupted},
      {"batch without prefix", bytes(bad_batch), corrupted},
      {"negative batch", bytes(negative_batch), corrupted},
      {"negative offset", bytes(negative_offset), corrupted},
      {"plain offset inside a block", bytes(offset_inside_a_block), corrupted},
      {"negative count", bytes(negative_count), corrupted},
      {"kept-file count above ten", bytes(too_many_files), corrupted},
      {"without its checksum (an older writer's)", unsealed(valid_record()), corrupted},
      {"changed after it was sealed", changed_after_sealing, corrupted},
      {"bound to another set", bytes(other_set), corrupted},
  };
  for (const Case& c : cases) {
    write_file(name(130), c.bytes);
    std::string err;
    EXPECT_EQ(load(130, &err), B_FALSE) << c.what;
    EXPECT_EQ(err, c.err) << c.what;
  }
}

TEST_F(Checkpoint, ContainerRecordWithoutAChunkHeaderIsRefused) {
  open_set({std::string(LR_BLOCK_SIZE, 'x')});
  t.s.compressed = B_TRUE;  // the first file is a container
  check_point record = valid_record();
  record.chunk_header_count = -1;  // would leave no chunk header to read from
  store_record(140, record);
  std::string err;
  EXPECT_EQ(load(140, &err), B_FALSE);
  EXPECT_EQ(err, "checkpoint file is corrupted\n");
}

TEST_F(Checkpoint, LoadedKeptFileCountContinuesInLaterFiles) {
  open_set({concat({header_block(LR_HDR_FILE, 121)})});
  check_point record = valid_record();
  record.file_del = 10;
  store_record(120, record);
  std::string err;
  ASSERT_EQ(load(120, &err), B_TRUE);
  read_blocks(1);
  ASSERT_EQ(create(121), B_TRUE);
  EXPECT_EQ(u32_at(read_file(name(121)), 64), 10u);  // 11 files would exceed the ten kept
}

TEST_F(Checkpoint, DeletionRemovesTheTenPointsUpToTheLastOne) {
  t.add_prefix(dir.file("vol"));
  for (int point : {92, 93, 100, 102, 103}) write_file(name(point), "x");
  t.s.restart_checkpoint = 102;
  EXPECT_EQ(delete_checkpoint_file(&t.s), B_TRUE);
  EXPECT_TRUE(file_exists(name(92)));
  EXPECT_FALSE(file_exists(name(93)));
  EXPECT_FALSE(file_exists(name(100)));
  EXPECT_FALSE(file_exists(name(102)));
  EXPECT_TRUE(file_exists(name(103)));
}

TEST_F(Checkpoint, DeletionNamesPointsBelowZeroAsNegativeNumbers) {
  t.add_prefix(dir.file("vol"));
  write_file(name(-4), "x");
  write_file(name(-5), "x");
  t.s.restart_checkpoint = 5;
  delete_checkpoint_file(&t.s);
  EXPECT_FALSE(file_exists(name(-4)));
  EXPECT_TRUE(file_exists(name(-5)));
}

}  // namespace
