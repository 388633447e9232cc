// Making, writing, loading and removing writer checkpoint files.
#include "checkpoint.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "sha2.h"
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

unsigned char* binding_of(check_point* record) {
  return record->rng.opaque + CHECKPOINT_BINDING_OFFSET;
}
const unsigned char* binding_of(const check_point& record) {
  return record.rng.opaque + CHECKPOINT_BINDING_OFFSET;
}

// The digest of the whole record with its own checksum field zeroed.
void record_checksum(const check_point& record, unsigned char out[SHA512_DIGEST_SIZE]) {
  check_point copy = record;
  memset(copy.rng.opaque + CHECKPOINT_CHECKSUM_OFFSET, 0, CHECKPOINT_CHECKSUM_SIZE);
  sha512_ctx ctx;
  sha512_begin(&ctx);
  sha512_hash(reinterpret_cast<const unsigned char*>(&copy), sizeof(copy), &ctx);
  sha512_end(out, &ctx);
}

}  // namespace

void seal_checkpoint_record(check_point* record) {
  unsigned char sum[SHA512_DIGEST_SIZE];
  record_checksum(*record, sum);
  memcpy(record->rng.opaque + CHECKPOINT_CHECKSUM_OFFSET, sum, CHECKPOINT_CHECKSUM_SIZE);
}

namespace {

bool is_sealed(const check_point& record) {
  unsigned char sum[SHA512_DIGEST_SIZE];
  record_checksum(record, sum);
  return memcmp(record.rng.opaque + CHECKPOINT_CHECKSUM_OFFSET, sum, CHECKPOINT_CHECKSUM_SIZE) ==
         0;
}

// Writes `record` into `name` as a whole or not at all: into a new file
// beside it (a link planted there is never followed), then renamed over it,
// so that a crash leaves the previous file or none, never a short one.
bool write_whole_file(const char* name, const check_point& record, bool secret) {
  char temporary[BRIX_NAME_BUF_SIZE + 8];
  snprintf(temporary, sizeof(temporary), "%s.new", name);
  unlink(temporary);  // left by a run that was killed while writing
  unique_fd file(open(temporary, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                      secret ? kSecretCheckpointMode : kCheckpointMode));
  if (!file.valid()) return false;
  const ssize_t n = write(file.get(), &record, sizeof(record));
  if (n < 0) perror("Bad write in dump file");
  if (n >= 0 && n != static_cast<ssize_t>(sizeof(record))) fputs("Short write in dump file", stderr);
  file.reset();
  if (n == static_cast<ssize_t>(sizeof(record)) && rename(temporary, name) == 0) return true;
  unlink(temporary);
  return false;
}

// Writes cp into the file for sync_num, keeping at most ten files.
bool write_checkpoint_file(const rpl_Session* session, checkpoint_state& state, uint32 sync_num,
                           bool secret) {
  char name[BRIX_NAME_BUF_SIZE];
  if (!format_checkpoint_name(name, session, static_cast<int32>(sync_num))) return false;

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

  seal_checkpoint_record(&state.cp);
  return write_whole_file(name, state.cp, secret);
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
    const int most_blocks = static_cast<int>(CHUNK_DECODED_MAX / LR_BLOCK_SIZE);
    if (record.data_stage < 0 || record.data_stage > most_blocks) return false;
  } else if (checkpoint_offset(record) % LR_BLOCK_SIZE != 0) {
    // A plain file is recorded at its header block; from anywhere else
    // every block would be cut across two stored ones.
    return false;
  }
  return true;
}

}  // namespace

void set_binding_from(checkpoint_state& state, const char* start_header) {
  char header[LR_BLOCK_SIZE];
  memcpy(header, start_header, sizeof(header));
  memset(header + LR_NEG_BLKS_DONE_OFFSET, 0, sizeof(uint64_t));
  sha512_ctx ctx;
  sha512_begin(&ctx);
  sha512_hash(reinterpret_cast<const unsigned char*>(header), sizeof(header), &ctx);
  unsigned char digest[SHA512_DIGEST_SIZE];
  sha512_end(digest, &ctx);
  memcpy(state.binding, digest, CHECKPOINT_BINDING_SIZE);
}

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
  memcpy(binding_of(&state.cp), state.binding, CHECKPOINT_BINDING_SIZE);
  if (write_checkpoint_file(session, state, sync_num, at.encrypted)) return B_TRUE;
  report.say("error in creating writer checkpoint file \n");
  return B_FALSE;
}

bool_t load_checkpoint(rpl_Session* session, checkpoint_state& state, fault_report& report) {
  char name[BRIX_NAME_BUF_SIZE];
  if (!format_checkpoint_name(name, session, static_cast<int32>(session->restart_checkpoint))) {
    return B_FALSE;
  }
  // Never blocks on a FIFO planted in the file's place.
  unique_fd file(open(name, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  struct stat st;
  if (file.valid() && (fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode))) {
    report.say("checkpoint file is corrupted\n");
    return B_FALSE;
  }
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
      !record_is_usable(session, state.cp1) || !is_sealed(state.cp1) ||
      memcmp(binding_of(state.cp1), state.binding, CHECKPOINT_BINDING_SIZE) != 0) {
    report.say("checkpoint file is corrupted\n");
    return B_FALSE;
  }
  session->blk_num = state.cp1.blk_num;
  state.record_loaded = true;
  return B_TRUE;
}

bool_t delete_checkpoints(rpl_Session* session) {
  char name[BRIX_NAME_BUF_SIZE];
  char temporary[BRIX_NAME_BUF_SIZE + 8];
  for (uint32 k = 0; k < CHECKPOINT_FILES_KEPT; k++) {
    if (format_checkpoint_name(name, session,
                               static_cast<int32>(session->restart_checkpoint - k))) {
      remove(name);
      // A run killed while it wrote the record left this one behind.
      snprintf(temporary, sizeof(temporary), "%s.new", name);
      unlink(temporary);
    }
  }
  return B_TRUE;
}
