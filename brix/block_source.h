// The block source: hands out the stream of the open dump file one 4096-byte
// block at a time from a staging buffer that it refills (a plain file
// sixteen blocks per read, a container one chunk at a time), and tells
// where in the set any delivered block lies. It knows nothing of the files
// around the one it reads or of restarts: the dump set attaches each file,
// and a restart places the file before asking for a refill.
#ifndef BRIX_BLOCK_SOURCE_H
#define BRIX_BLOCK_SOURCE_H

#include "brix.h"
#include "brix_comp_encr.h"
#include "fault_report.h"

enum {
  DUMP_READ_SIZE = 65536,      // one read of a plain dump file: 16 blocks
  DUMP_STAGING_SIZE = 131072,  // decoded data of the last refill
  DUMP_BLOCKS_PER_READ = DUMP_READ_SIZE / LR_BLOCK_SIZE
};
static_assert(static_cast<int>(DUMP_STAGING_SIZE) >= static_cast<int>(CHUNK_DECODED_MAX),
              "a decoded chunk fits the staging buffer");

// Where a delivered block lies: what a checkpoint records.
struct block_position {
  uint32 batch = 0;  // the dump file: its prefix index ...
  uint32 file = 0;   // ... and its number under that prefix
  bool_t compressed = B_FALSE;
  bool_t encrypted = B_FALSE;
  int64 offset = 0;        // plain files: the block's own offset
  chunk_origin chunk;      // containers: the chunk holding the block
  int index_in_chunk = 0;  // containers: the block's index among the chunk's blocks
};

class block_source {
 public:
  // Reading goes on in the file open on fd, positioned at `offset` (plain)
  // or prepared (a container, when `container` is not null).
  void attach(int fd, dump_container* container, uint32 batch, uint32 file, int64 offset);

  // Delivers the next block of the attached file into in_buf. B_TRUE: a
  // block is there; B_FALSE with *error 0: the file is used up; B_FALSE with
  // *error non-zero: a failure, reported.
  bool_t read_dump_block2(char* in_buf, int* error, fault_report& report);

  // Where the block last delivered lies.
  block_position last_block_position() const;

  // Drops what is staged and refills from where the attached file stands, as
  // read_dump_block2 would; the staged blocks are then looked at with
  // staged_block() and delivery starts at deliver_from().
  bool_t refill_now(int* error, fault_report& report);
  int staged_blocks() const { return staged; }
  const char* staged_block(int i) const {
    return reinterpret_cast<const char*>(buffer) + static_cast<size_t>(i) * LR_BLOCK_SIZE;
  }
  // The next delivery is staged block i, 0 <= i <= staged_blocks().
  void deliver_from(int i);

  // Forgets the file and what is staged.
  void reset();

 private:
  bool_t refill(int* error, fault_report& report);
  bool_t refill_from_plain_file(int* error, fault_report& report);

  alignas(16) unsigned char buffer[DUMP_STAGING_SIZE];  // decoded data of the last refill
  int staged = 0;          // blocks the last refill staged
  int blk_cnt = 0;         // staged blocks not yet delivered; 0: the next call refills
  int blk_index = 0;       // index of the next staged block to deliver
  int prev_blk_index = 0;  // interface-only: blocks still staged behind the one just delivered

  int fd_ = -1;                          // the attached file
  dump_container* container_ = nullptr;  // its container, or null for a plain file
  uint32 batch_ = 0, file_ = 0;          // its place in the set
  int64 next_plain_offset = 0;  // plain files: where the next read begins
  int64 refill_offset = 0;      // plain files: offset of the first staged block
  chunk_origin chunk_;          // containers: where the staged chunk is stored
};

#endif  // BRIX_BLOCK_SOURCE_H
