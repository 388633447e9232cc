// The dump-file set and the block source: finds the numbered files of each
// prefix, opens them in order, and delivers the stream one 4096-byte block at
// a time across file boundaries, with the operator's pause dialogue.
#ifndef BRIX_DUMP_READER_H
#define BRIX_DUMP_READER_H

#include "brix.h"

enum {
  DUMP_READ_SIZE = 65536,      // one read of a plain dump file: 16 blocks
  DUMP_STAGING_SIZE = 131072,  // decoded data of the last refill
  DUMP_BLOCKS_PER_READ = DUMP_READ_SIZE / LR_BLOCK_SIZE
};

// Longest prefix accepted: every name "<prefix>.<number>" of its set must fit
// the 1023 characters of a name buffer, whatever the number.
enum { DUMP_PREFIX_MAX = BRIX_NAME_BUF_SIZE - 1 - 12 };  // "." and up to 11 digits and sign

// Block source state, one per process, kept between calls.
struct block_source_state {
  alignas(16) unsigned char buffer[DUMP_STAGING_SIZE];
  int blk_cnt;          // staged blocks not yet delivered; 0 = the next call refills
  int blk_index;        // index of the next staged block to deliver
  int prev_blk_index;   // after a delivery: blocks still staged behind it
  bool_t writer;        // a reposition to the checkpoint is pending
  int64 refill_offset;  // file offset of the first staged byte (plain files)
};
extern block_source_state block_source;

// The destination asked for a restart: set by the negotiation, cleared by the
// first refill, which then delivers only the start header.
extern bool_t chkpoint;

// Makes the blocks of a refill (now in the staging buffer) ready to deliver,
// under the restart rule: after a restart request only the first block, the
// start header, is delivered and a reposition is made pending.
void stage_refilled_blocks(int blocks);

// Writes "<prefix>.<n>" into name (BRIX_NAME_BUF_SIZE bytes).
void format_dump_file_name(char* name, const char* prefix, uint32 n);

// Opens file input_file_index of batch input_batch_index into src_fd and
// counts the files of that batch and of every later one.
bool_t open_input_dump(rpl_Session* session);

// Advances to the next file of the set and writes its name into infile;
// B_FALSE when the set is exhausted.
bool_t get_next_input_file(char* infile, rpl_Session* session);

// Result convention of both readers: B_TRUE = a new block is in in_buf;
// B_FALSE with *error 0 = end of input; B_FALSE with *error non-zero = failure.
// read_dump_block crosses file boundaries; read_dump_block2 reads the open file.
bool_t read_dump_block(rpl_Session* session, int* error);
bool_t read_dump_block2(rpl_Session* session, int* error);

// Ends the container reading of the open file (a plain file needs nothing).
bool_t close_input_file(rpl_Session* session);

// Closes src_fd if open; always B_TRUE.
bool_t close_input_dump(rpl_Session* session);

#endif  // BRIX_DUMP_READER_H
