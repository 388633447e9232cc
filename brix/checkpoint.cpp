// Making, writing, loading and removing writer checkpoint files.
#include "checkpoint.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "source_io.h"
#include "unique_fd.h"

namespace {

// Narrowed by the umask. A record of an encrypted file holds its expanded
// key, so it is kept from everyone but the owner.
const mode_t kCheckpointMode = 0777;
const mode_t kSecretCheckpointMode = 0600;

// The point of the header at which a transfer enters the file phase: its
// record counts the header as sent.
bool counts_its_header(uint32 sync_num) { return sync_num == LRD_RESTART_FILE_PHASE_BASE; }

// The record of the header at `at` for sync_num, with a continuation at the
// header itself, or (file phase base, containers) the block behind it.
check_point make_record(const rpl_Session* session, const block_position& at, uint32 sync_num) {
  check_point record{};
  record.restart_sync_point = sync_num;
  record.batch_index = static_cast<int>(at.batch);
  record.file_num = static_cast<int>(at.file);
  if (at.compressed || at.encrypted) {
    set_checkpoint_offset(&record, at.chunk.offset);
    record.chunk_header_count = at.chunk.header_num;
    record.chunk_index = at.chunk.index;
    record.chunk_len = at.chunk.stored_len;
    record.zcx = at.chunk.ctx_before;
    record.data_stage = at.index_in_chunk + (counts_its_header(sync_num) ? 1 : 0);
  } else {
    set_checkpoint_offset(&record, at.offset);
  }
  record.blk_num = session->blk_num + (counts_its_header(sync_num) ? 1 : 0);
  record.h_magic = CHECKPOINT_MAGIC;
  return record;
}

mode_t current_umask() {
  mode_t mask = umask(0);
  umask(mask);
  return mask;
}

// Writes cp into the file for sync_num, keeping at most ten files.
bool write_checkpoint_file(const rpl_Session* session, checkpoint_state& state, uint32 sync_num,
                           bool secret) {
  char name[BRIX_NAME_BUF_SIZE];
  if (!format_checkpoint_name(name, session, static_cast<int32>(sync_num))) return false;
  unique_fd file(creat(name, secret ? kSecretCheckpointMode : kCheckpointMode));
  if (!file.valid()) return false;
  // creat keeps the mode of a file that already existed.
  if (secret && fchmod(file.get(), kSecretCheckpointMode & ~current_umask()) != 0) return false;

  state.files_kept++;
  state.cp.file_del = state.files_kept;
  if (state.files_kept > static_cast<int>(CHECKPOINT_FILES_KEPT)) {
    char oldest[BRIX_NAME_BUF_SIZE];
    if (format_checkpoint_name(oldest, session,
                               static_cast<int32>(sync_num - CHECKPOINT_FILES_KEPT))) {
      remove(oldest);
    }
    state.files_kept--;
    state.cp.file_del = state.files_kept;
  }

  ssize_t n = write(file.get(), &state.cp, sizeof(state.cp));
  if (n < 0) {
    perror("Bad write in dump file");
    return false;
  }
  if (n != static_cast<ssize_t>(sizeof(state.cp))) {
    fputs("Short write in dump file", stderr);
    return false;
  }
  return true;
}

// A loaded record must name a place in this dump set; anything else is
// damage, not a position to resume from.
bool record_is_usable(const rpl_Session* session, const check_point& record) {
  if (record.batch_index < 0 || record.batch_index >= BRIX_MAX_INPUT_FILES) return false;
  if (session->input_file[record.batch_index] == nullptr) return false;
  if (record.file_num < 0 || checkpoint_offset(record) < 0 || record.blk_num < 0) return false;
  if (record.file_del < 0 || record.file_del > static_cast<int>(CHECKPOINT_FILES_KEPT)) return false;
  if (session->compressed || session->encrypted) {
    if (record.chunk_header_count < 0 || record.chunk_index < 0) return false;
    if (record.data_stage < 0 || record.data_stage > static_cast<int>(CHUNK_DECODED_MAX / LR_BLOCK_SIZE)) return false;
  } else if (checkpoint_offset(record) % LR_BLOCK_SIZE != 0) {
    // A plain file is recorded at its header block; from anywhere else
    // every block would be cut across two stored ones.
    return false;
  }
  return true;
}

}  // namespace

bool format_checkpoint_name(char* name, const rpl_Session* session, int32 point) {
  int len =
      snprintf(name, BRIX_NAME_BUF_SIZE, "%s-checkpoint-writer.%d", session->input_file[0], point);
  if (len < BRIX_NAME_BUF_SIZE) return true;
  fprintf(stderr, "Checkpoint file name longer than %d characters: %s-checkpoint-writer.%d\n",
          BRIX_NAME_BUF_SIZE - 1, session->input_file[0], point);
  return false;
}

bool_t create_checkpoint(rpl_Session* session, checkpoint_state& state, const block_position& at,
                         uint32 sync_num, fault_report& report) {
  if (!state.files_kept_known) {
    state.files_kept = state.cp1.file_del;
    state.files_kept_known = true;
  }
  state.cp = make_record(session, at, sync_num);
  if (write_checkpoint_file(session, state, sync_num, at.encrypted)) return B_TRUE;
  report.say("error in creating writer checkpoint file \n");
  return B_FALSE;
}

bool_t load_checkpoint(rpl_Session* session, checkpoint_state& state, fault_report& report) {
  char name[BRIX_NAME_BUF_SIZE];
  if (!format_checkpoint_name(name, session, static_cast<int32>(session->restart_checkpoint))) {
    return B_FALSE;
  }
  unique_fd file(open(name, O_RDONLY | O_CLOEXEC));
  if (!file.valid()) {
    if (session->restart_checkpoint > CHECKPOINT_OPTIONAL_MAX) {
      report.say("could not find checkpoint file \n");
      return B_FALSE;
    }
    return B_TRUE;  // nothing to restore
  }
  memset(&state.cp1, 0, sizeof(state.cp1));
  ssize_t n = read_from_source(file.get(), &state.cp1, sizeof(state.cp1), report);
  // Only a whole record counts: the last byte of the magic is 0, so a record
  // cut one byte short (a writer killed while writing it) would still match.
  if (n != static_cast<ssize_t>(sizeof(state.cp1)) || state.cp1.h_magic != CHECKPOINT_MAGIC ||
      !record_is_usable(session, state.cp1)) {
    report.say("checkpoint file is corrupted\n");
    return B_FALSE;
  }
  session->blk_num = state.cp1.blk_num;
  state.record_loaded = true;
  return B_TRUE;
}

bool_t delete_checkpoints(rpl_Session* session) {
  char name[BRIX_NAME_BUF_SIZE];
  for (uint32 k = 0; k < CHECKPOINT_FILES_KEPT; k++) {
    if (format_checkpoint_name(name, session,
                               static_cast<int32>(session->restart_checkpoint - k))) {
      remove(name);
    }
  }
  return B_TRUE;
}
