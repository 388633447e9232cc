// The send loop, its two modes, and the acknowledgement.
#include "send_stream.h"

#include <cstdio>
#include <cstring>

#include "client_io.h"
#include "dump_set.h"
#include "marshal.h"
#include "progress.h"
#include "reading_state.h"
#include "stream_checks.h"

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

// Sends the data blocks that a file-phase header of the inflating mode
// announces.
bool_t send_generated_blocks(rpl_Session* session, uint32 count) {
  for (; count > 0; count--) {
    if (!send_block(session, kGeneratedBlock)) {
      fprintf(stderr, "Failed to properly inflate stream\n");
      return B_FALSE;
    }
    session->data_blks_til_header--;
  }
  return B_TRUE;
}

}  // namespace

bool_t send_rpl_stream(rpl_Session* session) {
  session->cur_hdr = LR_HDR_INVALID;
  stream_walk walk;
  uint32 generated = 0;
  // A restart that continues behind its point's header (the reply counted
  // it) still checks that header, so that the blocks it announces are
  // expected.
  if (take_header_counted_by_restart(session) &&
      !(check_taken_block(session, walk, false, create_brix_writer_checkpoint_file, &generated) &&
        send_generated_blocks(session, generated))) {
    return B_FALSE;
  }
  // Blocks a restart sends once more, which its reply counted already, are
  // not counted again: later records count as a fresh run would.
  int64 uncounted = take_blocks_repeated_by_restart();
  start_reading_ahead();
  int error = 0;
  for (;;) {
    const char* block = nullptr;
    if (!read_next_block(session, &block, &error)) return error == READ_END ? B_TRUE : B_FALSE;
    if (block_follows_end(session, walk)) {
      warn_of_blocks_after_the_end(session);
      return B_TRUE;
    }
    // Data blocks go out from where they were read; a block that is checked
    // is taken into in_buf first.
    const bool checked = block_is_checked(session, walk);
    if (checked) block = static_cast<const char*>(memcpy(session->in_buf, block, LR_BLOCK_SIZE));
    // Nothing wrong may end as a complete stream: the file that holds the
    // end header is checked to its end before that header goes out.
    const bool ending = checked && block_ends_stream(session, walk);
    if (ending && !check_rest_of_input_file(session)) return B_FALSE;
    if (!send_block(session, block)) return B_FALSE;
    if (!check_taken_block(session, walk, ending, create_brix_writer_checkpoint_file, &generated) ||
        !send_generated_blocks(session, generated)) {
      return B_FALSE;
    }
    if (uncounted > 0) {
      uncounted--;
    } else {
      session->blk_num++;
    }
  }
}

bool_t check_header(rpl_Session* session, uint32* blks_till_hdr) {
  return check_due_header(session, blks_till_hdr, create_brix_writer_checkpoint_file);
}

bool_t send_data_blocks_rpl_stream(rpl_Session* session) {
  uint32 generated = 0;
  return check_inflated_block(session, &generated) && send_generated_blocks(session, generated)
             ? B_TRUE
             : B_FALSE;
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
