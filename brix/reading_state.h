// The writer's process-wide reading state, in one record with one reset, and
// the operations of the stream library that act on it with the session
// alone: the ones the driver, the negotiation and the sender call.
#ifndef BRIX_READING_STATE_H
#define BRIX_READING_STATE_H

#include "block_source.h"
#include "brix.h"
#include "brix_comp_encr.h"
#include "checkpoint.h"
#include "restart.h"

// One per process, for the whole run. Each part is written by one module
// only (named beside it); the others reach it through the operations below.
struct reading_state {
  // The open dump file's container state. Prepared and ended by the dump set
  // (prepare_dump_file, end_dump_file), read on by the block source's
  // refills, placed by a restart (restart.cpp). Unused for a plain file.
  dump_container container;
  // The staged blocks and the position of the open file. Attached by the dump
  // set, refilled and delivered by itself, placed by a restart.
  block_source source;
  // cp, cp1 and the kept-file count: written by checkpoint.cpp only.
  checkpoint_state checkpoints;
  // The restart request and the header a restart counted: written by
  // request_restart and restart.cpp, taken by the sender.
  restart_state restart;
};

// Puts the state back as a new process has it, wiping the key material and
// the decoded data.
void reset_reading_state();

// Sets compressed and encrypted for the dump file open on src_fd; B_FALSE
// when a read or a seek failed (reported).
bool_t detect_container_kind(rpl_Session* session);
// Prepares the detected dump file (a container's password check and chunk
// table) and makes it the one the block source reads.
bool_t prepare_input_dump(rpl_Session* session);

// The next block of the set in place, as read_dump_block gives it: *block
// stays valid until the next call.
bool_t read_next_block(rpl_Session* session, const char** block, int* error);
// From now on the chunks of a container set are read ahead of the sender by
// a second thread, where the machine has one to give.
void start_reading_ahead();

// Result convention of both readers: B_TRUE = a new block is in in_buf;
// B_FALSE with *error 0 = end of input; B_FALSE with *error non-zero =
// failure. read_dump_block crosses file boundaries; read_dump_block2 reads
// the open file.
bool_t read_dump_block(rpl_Session* session, int* error);
bool_t read_dump_block2(rpl_Session* session, int* error);

// Ends the reading of the open dump file after the final acknowledgement.
// Nothing is compared: the file that holds the end-of-stream header was
// checked before that header went out (check_rest_of_input_file).
bool_t close_input_file(rpl_Session* session);

// Before the end-of-stream header goes out: the rest of the open dump file
// is read aside and a container's end-of-file checks (digest, decoded size)
// are made now. B_FALSE, reported, when they fail.
bool_t check_rest_of_input_file(rpl_Session* session);

// The destination asked for a restart (its request names a point).
void request_restart();
// After the set's first block was read for the reply: loads the checkpoint
// of the requested point and moves the reading to it (restart.cpp).
bool_t serve_restart_request(rpl_Session* session);
// The header that a restart counted but did not send, into in_buf.
bool take_header_counted_by_restart(rpl_Session* session);
// The blocks that a restart sends once more although its reply counted them.
int64 take_blocks_repeated_by_restart();

// Records the header block just delivered and sent (in in_buf; hdr_info and
// hdr point to its host-order view) as the checkpoint of sync_num.
bool_t create_brix_writer_checkpoint_file(rpl_Session* session, lr_hdr_info* hdr_info, lr_hdr* hdr,
                                          uint32 sync_num);
// Loads the checkpoint file of restart_checkpoint (the block count).
bool_t ReadBrixWriterCheckpointFile(rpl_Session* session);
// Removes the files of the last ten points after a completed transfer.
bool_t delete_checkpoint_file(rpl_Session* session);

#endif  // BRIX_READING_STATE_H
