// The send loop, its two modes, and the acknowledgement.
#include "send_stream.h"

#include <cstdio>
#include <cstring>

#include "client_io.h"
#include "dump_set.h"
#include "header_checks.h"
#include "marshal.h"
#include "progress.h"
#include "reading_state.h"

namespace {

const uint32 kAckValue = 1;

// Content of the data blocks the inflating mode generates: not taken from the
// input, so zero-filled.
const char kGeneratedBlock[LR_BLOCK_SIZE] = {0};

bool_t send_block(rpl_Session* session, const char* block) {
  progress_block_sent(session->restart_checkpoint);
  return write_exactly_once(session->client_fd, block, LR_BLOCK_SIZE, "Bad write to destination",
                            "Short write to destination");
}

bool_t inflate_failed() {
  fprintf(stderr, "Failed to properly inflate stream\n");
  return B_FALSE;
}

lr_hdr* header_view(rpl_Session* session) {
  return marshal_hdr(reinterpret_cast<lr_hdr*>(session->in_buf),
                     reinterpret_cast<lr_hdr*>(session->swapped_buf));
}

// What follows the sending of the block in in_buf: the inflating mode
// validates it; the plain mode checks it where a header is due.
bool_t check_sent_block(rpl_Session* session, uint32* blks_till_hdr) {
  if (session->inflate) return send_data_blocks_rpl_stream(session);
  if ((*blks_till_hdr)-- == 0) return check_header(session, blks_till_hdr);
  return B_TRUE;
}

// Whether the block in in_buf is the end-of-stream header that ends the
// stream: in the plain mode the first one where a header is due; in the
// inflating mode the one that ends a stream in its file phase (an end header
// of the tree phase is checked as any header).
bool ends_stream(rpl_Session* session, uint32 blks_till_hdr) {
  const lr_hdr* hdr = header_view(session);
  if (hdr == nullptr || hdr->u_lr_hdr_info.hdr.h_hdr_type != LR_HDR_END_OF_STREAM) return false;
  if (session->inflate) return check_hdr_is_expected(session) && session->data_stage == STAGE_FILES;
  return blks_till_hdr == 0;
}

// The stream's end header and the blocks it announces have gone out.
bool stream_has_ended(const rpl_Session* session, bool end_sent, uint32 blks_till_hdr) {
  if (!end_sent) return false;
  return session->inflate ? check_hdr_is_expected(session) : blks_till_hdr == 0;
}

// The block in in_buf follows the end of the stream (a rest of the file or a
// stale file of an earlier capture): it is not sent, and neither is
// anything after it.
void warn_of_blocks_after_the_end(const rpl_Session* session) {
  char name[BRIX_NAME_BUF_SIZE];
  format_dump_file_name(name, session->input_file[session->input_batch_index],
                        session->input_file_index);
  fprintf(stderr,
          "Warning: blocks follow the end-of-stream header and are not sent; the first is stream "
          "block %lld, in %s\n",
          static_cast<long long>(session->blk_num + 1), name);
}

}  // namespace

bool_t send_rpl_stream(rpl_Session* session) {
  session->cur_hdr = LR_HDR_INVALID;
  uint32 blks_till_hdr = 0;
  // A restart that continues behind its point's header (the reply counted
  // it) still checks that header, so that the blocks it announces are
  // expected.
  if (take_header_counted_by_restart(session) && !check_sent_block(session, &blks_till_hdr)) {
    return B_FALSE;
  }
  // Blocks a restart sends once more, which its reply counted already, are
  // not counted again: later records count as a fresh run would.
  int64 uncounted = take_blocks_repeated_by_restart();
  start_reading_ahead();
  int error = 0;
  bool end_sent = false;
  for (;;) {
    const char* block = nullptr;
    if (!read_next_block(session, &block, &error)) return error == 0 ? B_TRUE : B_FALSE;
    if (stream_has_ended(session, end_sent, blks_till_hdr)) {
      warn_of_blocks_after_the_end(session);
      return B_TRUE;
    }
    // Data blocks go out from where they were read; a block that is checked
    // is taken into in_buf first.
    const bool checked = session->inflate || blks_till_hdr == 0;
    if (checked) block = static_cast<const char*>(memcpy(session->in_buf, block, LR_BLOCK_SIZE));
    // Nothing wrong may end as a complete stream: the file that holds the
    // end header is checked to its end before that header goes out.
    const bool ending = checked && ends_stream(session, blks_till_hdr);
    if (ending && !check_rest_of_input_file(session)) return B_FALSE;
    if (!send_block(session, block)) return B_FALSE;
    if (!check_sent_block(session, &blks_till_hdr)) return B_FALSE;
    if (uncounted > 0) {
      uncounted--;
    } else {
      session->blk_num++;
    }
    end_sent = end_sent || ending;
  }
}

bool_t check_header(rpl_Session* session, uint32* blks_till_hdr) {
  lr_hdr* hdr = header_view(session);
  if (hdr == nullptr) {
    fprintf(stderr, "Fatal Error. Header not found where expected. (Input data corrupt?)\n");
    return B_FALSE;
  }
  lr_hdr_info* info = &hdr->u_lr_hdr_info.hdr;
  *blks_till_hdr = info->h_blks_until_hdr;
  session->cur_hdr = static_cast<lr_hdr_type>(info->h_hdr_type);
  uint32 sync = static_cast<uint32>(info->h_sync_num);
  if (session->cmd == RPLCMD_ACQTREE && session->hbak && sync != session->restart_checkpoint &&
      !create_brix_writer_checkpoint_file(session, info, hdr, sync)) {
    return B_FALSE;
  }
  session->restart_checkpoint = sync;
  return B_TRUE;
}

bool_t send_data_blocks_rpl_stream(rpl_Session* session) {
  lr_hdr* hdr = header_view(session);
  if (hdr == nullptr) {
    if (session->data_stage != STAGE_TREE) return B_FALSE;
    if (check_hdr_is_expected(session)) {
      // A tree-phase block without the magic where a header is due: counting
      // it as data would stop every later header from being recognised.
      fprintf(stderr, "Fatal Error. Header not found where expected. (Input data corrupt?)\n");
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
  if (session->data_stage == STAGE_TREE) return B_TRUE;  // its data follows in the input

  for (uint32 n = info->h_blks_until_hdr; n > 0; n--) {
    if (!send_block(session, kGeneratedBlock)) return inflate_failed();
    session->data_blks_til_header--;
  }
  return B_TRUE;
}

bool_t rpl_get_ack(rpl_Session* session) {
  uint32 ack;
  if (!read_word_whole(session->client_fd, &ack, sizeof(ack), "Bad ack read", "Short ack read\n")) {
    return B_FALSE;
  }
  uint32 value = marshal_uint4(ack);
  if (value != kAckValue) {
    fprintf(stderr, "Bad ack received %d\n", static_cast<int>(value));
    return B_FALSE;
  }
  return write_exactly_once(session->client_fd, &ack, sizeof(ack), "Bad ack write",
                            "Short ack write\n");
}
