// The process-wide reading state and the session-level operations on it.
#include "reading_state.h"

#include <cstring>

#include "dump_set.h"
#include "fault_report.h"

namespace {

reading_state the_state;

reading_state& state() { return the_state; }

}  // namespace

void reset_reading_state() {
  reading_state& s = state();
  s.source.reset();  // stops the read-ahead thread before the container goes
  s.container.wipe();
  s.checkpoints = checkpoint_state();
  s.restart = restart_state();
}

bool_t detect_container_kind(rpl_Session* session) {
  return detect_dump_file(session, state().container, writer_report()) ? B_TRUE : B_FALSE;
}

bool_t prepare_input_dump(rpl_Session* session) {
  return prepare_dump_file(session, state().container, state().source, writer_report());
}

bool_t read_next_block(rpl_Session* session, const char** block, int* error) {
  return read_set_block(session, state().container, state().source, block, error, writer_report());
}

void start_reading_ahead() { state().source.read_ahead_from_now(); }

bool_t read_dump_block(rpl_Session* session, int* error) {
  const char* block = nullptr;
  if (!read_next_block(session, &block, error)) return B_FALSE;
  memcpy(session->in_buf, block, LR_BLOCK_SIZE);
  return B_TRUE;
}

bool_t read_dump_block2(rpl_Session* session, int* error) {
  return state().source.read_dump_block2(session->in_buf, error, writer_report());
}

bool_t close_input_file(rpl_Session* session) {
  // The thread may still be reading the rest of the file after the end.
  state().source.stop_reading_ahead();
  return end_dump_file(session, state().container, B_TRUE, writer_report());
}

bool_t check_rest_of_input_file(rpl_Session* session) {
  return check_rest_of_dump_file(session, state().container, state().source, writer_report());
}

void request_restart() { state().restart.chkpoint = B_TRUE; }

bool_t serve_restart_request(rpl_Session* session) {
  reading_state& s = state();
  return prepare_restart(session, s.restart, s.checkpoints, s.container, s.source, writer_report());
}

int64 take_blocks_repeated_by_restart() { return take_repeated_blocks(state().restart); }

bool take_header_counted_by_restart(rpl_Session* session) {
  return take_counted_header(state().restart, session->in_buf);
}

bool_t create_brix_writer_checkpoint_file(rpl_Session* session, lr_hdr_info*, lr_hdr*,
                                          uint32 sync_num) {
  reading_state& s = state();
  return create_checkpoint(session, s.checkpoints, s.source.last_block_position(), sync_num,
                           writer_report());
}

bool_t ReadBrixWriterCheckpointFile(rpl_Session* session) {
  return load_checkpoint(session, state().checkpoints, writer_report());
}

bool_t delete_checkpoint_file(rpl_Session* session) { return delete_checkpoints(session); }
