// Names that the stream library's interface publishes but the writer itself
// never uses, kept in one place so that nobody mistakes them for live code:
//   - xdr_neg_reply (below): the byte order of a negotiation reply record;
//     the writer's reply is the stored start header, sent as read.
//   - the item list of list.h: the chunk table is kept in a vector.
//   - block_source::prev_blk_index: blocks still staged behind the last one
//     delivered; a checkpoint asks the block source for the position itself.
//   - check_point::chunk_len: the recorded chunk's stored size; a restart
//     takes the size from the chunk table.
#ifndef BRIX_INTERFACE_ONLY_H
#define BRIX_INTERFACE_ONLY_H

#include "list.h"
#include "lr.h"

void xdr_neg_reply(lr_neg_data_reply* in, lr_neg_data_reply* out);

#endif  // BRIX_INTERFACE_ONLY_H
