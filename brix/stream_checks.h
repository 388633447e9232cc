// What the send loop checks of each block of the stream, apart from sending
// it: where a header is due, the plain mode's header check, the inflating
// mode's full validation, and where the stream ends. The writer's send loop
// and the verifier (which sends nothing) walk a stream through these same
// calls, so that what one accepts the other accepts.
#ifndef BRIX_STREAM_CHECKS_H
#define BRIX_STREAM_CHECKS_H

#include "brix.h"

// The walk's own state between two blocks; the rest lives in the session
// (cur_hdr, data_stage, data_blks_til_header, restart_checkpoint, blk_num).
struct stream_walk {
  uint32 blks_till_hdr = 0;  // plain mode: data blocks before the next header is due
  bool end_taken = false;    // the end-of-stream header that ends the stream was taken
};

// Called at a due header whose synchronisation point differs from the one
// reached so far, in an archivist baseline transfer with hbak support: the
// writer records its checkpoint there. B_FALSE stops the walk.
typedef bool_t (*new_point_fn)(rpl_Session* session, lr_hdr_info* hdr_info, lr_hdr* hdr,
                               uint32 sync_num);

// Whether the block just read follows the end of the stream: neither it nor
// anything after it belongs to the stream.
bool block_follows_end(const rpl_Session* session, const stream_walk& walk);
// Whether the block just read is looked at (and so must be in in_buf): the
// inflating mode looks at every block, the plain mode where a header is due.
bool block_is_checked(const rpl_Session* session, const stream_walk& walk);
// Whether the checked block in in_buf is the end-of-stream header that ends
// the stream: in the plain mode the first one where a header is due; in the
// inflating mode one that ends a stream in its file phase.
bool block_ends_stream(rpl_Session* session, const stream_walk& walk);

// Plain mode, where a header is due: the block in in_buf must carry the
// magic; *blks_till_hdr receives its following-block count, cur_hdr its type
// and restart_checkpoint its point (after `on_new_point`, when not null).
bool_t check_due_header(rpl_Session* session, uint32* blks_till_hdr, new_point_fn on_new_point);
// Inflating mode: validates the block in in_buf. *to_generate receives the
// data blocks that a file-phase header announces and that the sender makes
// (data_blks_til_header counts them down as they go).
bool_t check_inflated_block(rpl_Session* session, uint32* to_generate);

// The check that follows each block taken from the input, in either mode.
// `ending` tells that it is the block that ends the stream.
bool_t check_taken_block(rpl_Session* session, stream_walk& walk, bool ending,
                         new_point_fn on_new_point, uint32* to_generate);

#endif  // BRIX_STREAM_CHECKS_H
