// The block source: hands out the stream of the open dump file one 4096-byte
// block at a time from the chunk it has staged (a plain file's sixteen
// blocks, a container's decoded chunk), and tells where in the set any
// delivered block lies. Its chunks are read in place or, once the sending
// has begun, by the read-ahead thread. It knows nothing of
// the files around the one it reads or of restarts: the dump set attaches
// each file, and a restart places the file before asking for a refill.
#ifndef BRIX_BLOCK_SOURCE_H
#define BRIX_BLOCK_SOURCE_H

#include <functional>
#include <memory>

#include "brix.h"
#include "brix_comp_encr.h"
#include "chunk_reader.h"
#include "fault_report.h"
#include "read_ahead.h"

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
  block_source();
  ~block_source();

  // Reading goes on in the file open on fd, positioned at `offset` (plain)
  // or prepared (a container, when `container` is not null).
  void attach(int fd, dump_container* container, uint32 batch, uint32 file, int64 offset);

  // From the next refill on, the chunks of every file are read ahead by a
  // second thread when the machine has one to give (read_ahead::wanted).
  void read_ahead_from_now();

  // The next block of the attached file, in place: *block stays valid until
  // the next call. B_TRUE: a block is there; B_FALSE with *error 0: the file
  // is used up; B_FALSE with *error non-zero: a failure, reported.
  bool_t next_block(const char** block, int* error, fault_report& report);
  // The same, copied into in_buf.
  bool_t read_dump_block2(char* in_buf, int* error, fault_report& report);

  // Where the block last delivered lies.
  block_position last_block_position() const;

  // Runs `still` while nothing reads the attached file ahead: it may then
  // look at the file's container.
  void with_reading_still(const std::function<void()>& still);

  // Drops what is staged and refills in place from where the attached file
  // stands, as next_block would; the staged blocks are then looked at with
  // staged_block() and delivery starts at deliver_from(). Before the
  // sending begins only.
  bool_t refill_now(int* error, fault_report& report);
  int staged_blocks() const { return staged; }
  const char* staged_block(int i) const {
    return reinterpret_cast<const char*>(data_) + static_cast<size_t>(i) * LR_BLOCK_SIZE;
  }
  // The next delivery is staged block i, 0 <= i <= staged_blocks().
  void deliver_from(int i);

  // Stops reading the attached file ahead (the staged blocks stay): its
  // container may then be ended.
  void stop_reading_ahead();

  // Forgets the file and what is staged, and stops reading ahead.
  void reset();

 private:
  bool_t refill(int* error, fault_report& report);

  alignas(16) unsigned char buffer[DUMP_STAGING_SIZE];  // chunks read in place
  const unsigned char* data_ = buffer;  // the staged chunk: buffer, or one of the ring's
  int staged = 0;                       // blocks of the staged chunk
  int blk_cnt = 0;                      // staged blocks not yet delivered; 0: the next call refills
  int blk_index = 0;                    // index of the next staged block to deliver
  int prev_blk_index = 0;  // interface-only: blocks still staged behind the one just delivered

  chunk_reader reader_{-1, nullptr, 0};  // the attached file, read in place
  uint32 batch_ = 0, file_ = 0;          // its place in the set
  bool file_done_ = false;               // its end or a failure was delivered
  read_chunk_result got_;                // where the staged chunk came from
  bool ahead_wanted_ = false;            // read_ahead_from_now was called
  std::unique_ptr<read_ahead> ahead_;    // the thread, once wanted
};

#endif  // BRIX_BLOCK_SOURCE_H
