// Full validation of a header in the inflating mode of sending: its type in
// the stage of the stream, its synchronisation point, its following blocks,
// entries, holes and metadata. Each check prints its own message (beginning
// "brix_reader: ") and returns B_FALSE when the header breaks its rule.
#ifndef BRIX_HEADER_CHECKS_H
#define BRIX_HEADER_CHECKS_H

#include "brix.h"

// Stages of the stream in the inflating mode (data_stage).
enum { STAGE_TREE = 0, STAGE_FILES = 1, STAGE_ENDED = 2 };

// True exactly when a header is due (no data blocks outstanding).
bool check_hdr_is_expected(const rpl_Session* session);

// Moves the stage at LR_HDR_MID_STREAM (0 -> 1) and LR_HDR_END_OF_STREAM
// (1 -> 2) before the later checks run.
bool_t check_hdr_type(rpl_Session* session, const lr_hdr_info* hdr);
bool_t check_sync_num(rpl_Session* session, const lr_hdr_info* hdr);
bool_t check_following_blks(rpl_Session* session, const lr_hdr_info* hdr);
bool_t check_valid_entries(rpl_Session* session, const lr_hdr_info* hdr);
bool_t check_holes(rpl_Session* session, const lr_hdr_info* hdr);
bool_t check_metadata(rpl_Session* session, const lr_hdr_info* hdr);
bool_t check_ea_metadata(rpl_Session* session, const lr_hdr_info* hdr);

// All checks in order (check_valid_entries only with hbak support).
bool_t check_header_fully(rpl_Session* session, const lr_hdr_info* hdr);

#endif  // BRIX_HEADER_CHECKS_H
