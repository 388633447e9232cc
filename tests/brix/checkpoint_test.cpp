// Loading a writer checkpoint file: a record is trusted only whole, sealed by
// its checksum, bound to this dump set and naming a place in it; anything
// else is refused with the exact message before a restart can use it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <string>

#include "checkpoint_record.h"
#include "dump_set.h"
#include "kit/owned_session.h"
#include "kit/temp_dir.h"
#include "reading_state.h"

namespace {

void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string bytes_of(const check_point& r) {
  return std::string(reinterpret_cast<const char*>(&r), sizeof(r));
}

// A record of the first block of this one-file plain set, sealed as the
// writer seals it after `edit`; the binding is left zero, as for a set whose
// start header was never bound (the state of a fresh process).
std::string sealed(void (*edit)(check_point&)) {
  check_point r;
  memset(&r, 0, sizeof(r));
  r.h_magic = CHECKPOINT_MAGIC;
  r.file_del = 3;
  r.blk_num = 5000000000LL;
  edit(r);
  seal_checkpoint_record(&r);
  return bytes_of(r);
}

TEST(CheckpointLoad, DamagedForeignOrImpossibleRecordsAreRefused) {
  const std::string corrupted = "checkpoint file is corrupted\n";
  std::string changed_after_sealing = sealed([](check_point&) {});
  changed_after_sealing[60] ^= 0x10;  // the offset
  check_point unsealed;
  memset(&unsealed, 0, sizeof(unsealed));
  unsealed.h_magic = CHECKPOINT_MAGIC;
  struct Case {
    const char* what;
    std::string record;  // empty with fifo: a FIFO in its place
    std::string err;     // empty: loaded
    bool container = false;
    bool fifo = false;
  } cases[] = {
      {"whole and sealed", sealed([](check_point&) {}), ""},
      {"wrong magic", sealed([](check_point& r) { r.h_magic = 0x912F7; }), corrupted},
      {"cut short", sealed([](check_point&) {}).substr(0, 1000),
       "Short read from Source" + corrupted},
      {"empty", "", corrupted},
      {"a batch without prefix", sealed([](check_point& r) { r.batch_index = 1; }), corrupted},
      {"a negative batch", sealed([](check_point& r) { r.batch_index = -1; }), corrupted},
      {"a negative offset", sealed([](check_point& r) { r.prev_checkpoint = 0x80000000; }),
       corrupted},
      {"a plain offset inside a block",
       sealed([](check_point& r) { r.offset = LR_BLOCK_SIZE + 100; }), corrupted},
      {"a negative count", sealed([](check_point& r) { r.blk_num = -1; }), corrupted},
      {"more than ten files kept", sealed([](check_point& r) { r.file_del = 11; }), corrupted},
      {"no checksum", bytes_of(unsealed), corrupted},
      {"changed after it was sealed", changed_after_sealing, corrupted},
      {"bound to another set",
       sealed([](check_point& r) { r.rng.opaque[CHECKPOINT_BINDING_OFFSET] = 1; }), corrupted},
      {"a container place without chunk header",
       sealed([](check_point& r) { r.chunk_header_count = -1; }), corrupted, true},
      {"a FIFO", "", corrupted, false, true},
  };
  alarm(60);  // an open that blocks on the FIFO ends the test instead of hanging it
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    kit::TempDir dir;
    kit::OwnedSession t;
    write_file(dir.file("vol.0"), std::string(LR_BLOCK_SIZE, 'x'));
    t.add_prefix(dir.file("vol"));
    testing::internal::CaptureStdout();
    ASSERT_TRUE(open_input_dump(&t.s) && detect_container_kind(&t.s) && prepare_input_dump(&t.s));
    testing::internal::GetCapturedStdout();
    t.s.compressed = c.container ? B_TRUE : B_FALSE;
    const std::string record = dir.file("vol-checkpoint-writer.130");
    if (c.fifo) {
      ASSERT_EQ(mkfifo(record.c_str(), 0600), 0);
    } else {
      write_file(record, c.record);
    }
    t.s.restart_checkpoint = 130;
    testing::internal::CaptureStderr();
    const bool_t loaded = ReadBrixWriterCheckpointFile(&t.s);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.err);
    EXPECT_EQ(loaded == B_TRUE, c.err.empty());
    if (loaded) {
      EXPECT_EQ(t.s.blk_num, 5000000000LL);
    }
  }
  alarm(0);
}

}  // namespace
