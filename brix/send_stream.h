// Sending the stream to the destination block by block, with the plain-mode
// header check (and checkpoints) or the inflating mode (full validation and
// generated data blocks), and the final acknowledgement.
#ifndef BRIX_SEND_STREAM_H
#define BRIX_SEND_STREAM_H

#include "brix.h"

// Sends every remaining block of the dump set. B_TRUE when the input ended
// without error, whatever the last header was (cur_hdr tells).
bool_t send_rpl_stream(rpl_Session* session);

// Plain mode, where a header is due: the block in in_buf must carry the
// magic; *blks_till_hdr receives its following-block count.
bool_t check_header(rpl_Session* session, uint32* blks_till_hdr);

// Inflating mode: validates the block in in_buf (already sent) and sends the
// data blocks a file-phase header announces.
bool_t send_data_blocks_rpl_stream(rpl_Session* session);

// Receives the destination's acknowledgement (the value 1) and echoes it.
bool_t rpl_get_ack(rpl_Session* session);

#endif  // BRIX_SEND_STREAM_H
