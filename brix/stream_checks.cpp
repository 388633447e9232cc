// The send loop's checks of each block, in the plain and the inflating mode.
#include "stream_checks.h"

#include "fault_report.h"
#include "header_checks.h"
#include "marshal.h"

namespace {

lr_hdr* header_view(rpl_Session* session) {
  return marshal_hdr(reinterpret_cast<lr_hdr*>(session->in_buf),
                     reinterpret_cast<lr_hdr*>(session->swapped_buf));
}

bool_t header_not_found() {
  writer_report().say("Fatal Error. Header not found where expected. (Input data corrupt?)\n");
  return B_FALSE;
}

bool_t inflate_failed() {
  writer_report().say("Failed to properly inflate stream\n");
  return B_FALSE;
}

}  // namespace

bool block_follows_end(const rpl_Session* session, const stream_walk& walk) {
  if (!walk.end_taken) return false;
  return session->inflate ? check_hdr_is_expected(session) : walk.blks_till_hdr == 0;
}

bool block_is_checked(const rpl_Session* session, const stream_walk& walk) {
  return session->inflate || walk.blks_till_hdr == 0;
}

bool block_ends_stream(rpl_Session* session, const stream_walk& walk) {
  const lr_hdr* hdr = header_view(session);
  if (hdr == nullptr || hdr->u_lr_hdr_info.hdr.h_hdr_type != LR_HDR_END_OF_STREAM) return false;
  if (session->inflate) return check_hdr_is_expected(session) && session->data_stage == STAGE_FILES;
  return walk.blks_till_hdr == 0;
}

bool_t check_due_header(rpl_Session* session, uint32* blks_till_hdr, new_point_fn on_new_point) {
  lr_hdr* hdr = header_view(session);
  if (hdr == nullptr) return header_not_found();
  lr_hdr_info* info = &hdr->u_lr_hdr_info.hdr;
  *blks_till_hdr = info->h_blks_until_hdr;
  session->cur_hdr = static_cast<lr_hdr_type>(info->h_hdr_type);
  uint32 sync = static_cast<uint32>(info->h_sync_num);
  if (on_new_point != nullptr && session->cmd == RPLCMD_ACQTREE && session->hbak &&
      sync != session->restart_checkpoint && !on_new_point(session, info, hdr, sync)) {
    return B_FALSE;
  }
  session->restart_checkpoint = sync;
  return B_TRUE;
}

bool_t check_inflated_block(rpl_Session* session, uint32* to_generate) {
  *to_generate = 0;
  lr_hdr* hdr = header_view(session);
  if (hdr == nullptr) {
    if (session->data_stage != STAGE_TREE) return B_FALSE;
    if (check_hdr_is_expected(session)) {
      // A tree-phase block without the magic where a header is due: counting
      // it as data would stop every later header from being recognised.
      header_not_found();
      return inflate_failed();
    }
    session->data_blks_til_header--;
    return B_TRUE;
  }
  if (!check_hdr_is_expected(session)) {
    session->data_blks_til_header--;  // data that happens to carry the magic
    return B_TRUE;
  }
  lr_hdr_info* info = &hdr->u_lr_hdr_info.hdr;
  if (!check_header_fully(session, info)) return inflate_failed();
  session->cur_hdr = static_cast<lr_hdr_type>(info->h_hdr_type);
  // In the tree phase the header's data follows in the input.
  if (session->data_stage != STAGE_TREE) *to_generate = info->h_blks_until_hdr;
  return B_TRUE;
}

bool_t check_taken_block(rpl_Session* session, stream_walk& walk, bool ending,
                         new_point_fn on_new_point, uint32* to_generate) {
  *to_generate = 0;
  bool_t ok = B_TRUE;
  if (session->inflate) {
    ok = check_inflated_block(session, to_generate);
  } else if (walk.blks_till_hdr-- == 0) {
    ok = check_due_header(session, &walk.blks_till_hdr, on_new_point);
  }
  walk.end_taken = walk.end_taken || (ok && ending);
  return ok;
}
