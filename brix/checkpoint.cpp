// Writer checkpoint files: creation at new synchronisation points, loading on
// a restart request, repositioning of the block source, and deletion after a
// completed transfer.
#include "checkpoint.h"

#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>

#include "chunk_table.h"
#include "dump_reader.h"
#include "process_state.h"
#include "source_io.h"

check_point cp;
check_point cp1;

namespace {

// Checkpoint files believed to exist; taken from the loaded record at the
// first creation of the run.
int files_kept = 0;
bool files_kept_known = false;

// A record was restored from a checkpoint file in this run.
bool record_loaded = false;

const mode_t kCheckpointMode = 0777;  // narrowed by the umask

// "<first prefix>-checkpoint-writer.<point>"; false (with a message) when the
// name does not fit its buffer.
bool format_checkpoint_name(char* name, const rpl_Session* session, int32 point) {
  int len =
      snprintf(name, BRIX_NAME_BUF_SIZE, "%s-checkpoint-writer.%d", session->input_file[0], point);
  if (len < BRIX_NAME_BUF_SIZE) return true;
  fprintf(stderr, "Checkpoint file name longer than %d characters: %s-checkpoint-writer.%d\n",
          BRIX_NAME_BUF_SIZE - 1, session->input_file[0], point);
  return false;
}

// Offset of the header block just delivered from a plain file: the blocks
// staged by the last refill start at refill_offset.
int64 plain_header_offset() {
  return block_source.refill_offset +
         static_cast<int64>(block_source.blk_index - 1) * LR_BLOCK_SIZE;
}

// Writes the record cp into the file for sync_num, keeping at most ten files.
bool write_checkpoint_file(const rpl_Session* session, uint32 sync_num) {
  char name[BRIX_NAME_BUF_SIZE];
  if (!format_checkpoint_name(name, session, static_cast<int32>(sync_num))) return false;
  int fd = creat(name, kCheckpointMode);
  if (fd < 0) return false;

  files_kept++;
  cp.file_del = files_kept;
  if (files_kept > static_cast<int>(CHECKPOINT_FILES_KEPT)) {
    char oldest[BRIX_NAME_BUF_SIZE];
    if (format_checkpoint_name(oldest, session,
                               static_cast<int32>(sync_num - CHECKPOINT_FILES_KEPT))) {
      remove(oldest);
    }
    files_kept--;
    cp.file_del = files_kept;
  }

  ssize_t n = write(fd, &cp, sizeof(cp));
  close(fd);
  if (n < 0) {
    perror("Bad write in dump file");
    return false;
  }
  if (n != static_cast<ssize_t>(sizeof(cp))) {
    fputs("Short write in dump file", stderr);
    return false;
  }
  return true;
}

// A loaded record must name a place in this dump set; anything else is
// damage, not a position to resume from.
bool loaded_record_is_usable(const rpl_Session* session) {
  if (cp1.batch_index < 0 || cp1.batch_index >= BRIX_MAX_INPUT_FILES) return false;
  if (session->input_file[cp1.batch_index] == nullptr) return false;
  if (cp1.file_num < 0 || cp1.offset < 0 || cp1.blk_num < 0) return false;
  if (cp1.file_del < 0 || cp1.file_del > static_cast<int>(CHECKPOINT_FILES_KEPT)) return false;
  if (session->compressed || session->encrypted) {
    // A negative chunk header number would leave no chunk header to read.
    if (cp1.chunk_header_count < 0 || cp1.chunk_index < 0) return false;
  } else if (cp1.offset % static_cast<int>(LR_BLOCK_SIZE) != 0) {
    // A plain file is recorded at its header block; from anywhere else
    // every block would be cut across two stored ones.
    return false;
  }
  return true;
}

// Reopens the recorded file as the one being read.
bool reopen_recorded_file(rpl_Session* session) {
  close_input_dump(session);
  session->input_file_index = static_cast<uint32>(cp.file_num);
  session->input_batch_index = static_cast<uint32>(cp.batch_index);
  return open_input_dump(session);
}

bool reposition_plain_file(rpl_Session* session) {
  if (!reopen_recorded_file(session) || !seek_source(session->src_fd, cp.offset)) return false;
  block_source.writer = B_FALSE;
  return true;
}

// Ends the container state of the file read so far (its digest cannot
// match), prepares the recorded file afresh (the password is checked against
// its header and its chunk table loaded), then puts back the recorded
// decryption state and chunk.
bool reposition_container(rpl_Session* session) {
  if (!reopen_recorded_file(session)) return false;
  digest_check = B_TRUE;
  bool_t closed = close_input_file(session);
  digest_check = B_FALSE;
  if (!closed) return false;
  if (!detect_container_kind(session) || !init_brix_decomp_decr(session)) return false;
  zcx = cp.zcx;
  chunk_header_num = cp.chunk_header_count;
  if (!set_curr_chunk()) {
    fprintf(stderr, "checkpoint file is corrupted\n");
    return false;
  }
  chunk_index = cp.chunk_index;
  if (!seek_source(session->src_fd, cp.offset)) return false;
  block_source.writer = B_FALSE;
  return true;
}

// Where reading resumes inside a container for a checkpoint at the header in
// in_buf. A header that begins its chunk (its data area's first word is not
// 0, and it is not the first file-phase point) is read again with that chunk,
// under the context from before the chunk; otherwise reading resumes with the
// next chunk, under the context after this one.
int64 container_resume_offset(const lr_hdr* hdr, uint32 sync_num, int64 pos) {
  uint32 first_data_word;  // zero or not whatever the byte order
  memcpy(&first_data_word, hdr->u_lr_hdr_data.padding, sizeof(first_data_word));
  if (sync_num == LRD_RESTART_FILE_PHASE_BASE || first_data_word == 0) {
    cp.chunk_index++;
    cp.zcx = zcx;
    return pos;
  }
  cp.zcx = prev_zcx;
  return pos - cp.chunk_len;
}

}  // namespace

void reset_checkpoint_state() {
  cp = check_point();
  cp1 = check_point();
  files_kept = 0;
  files_kept_known = false;
  record_loaded = false;
}

bool_t create_brix_writer_checkpoint_file(rpl_Session* session, lr_hdr_info* hdr_info, lr_hdr* hdr,
                                          uint32 sync_num) {
  (void)hdr_info;
  if (!files_kept_known) {
    files_kept = cp1.file_del;
    files_kept_known = true;
  }
  cp.restart_sync_point = sync_num;
  cp.file_num = static_cast<int>(session->input_file_index);
  // cp is also the live reading position: the next chunk that a record may
  // name is not where reading stands, and a later checkpoint taken from the
  // same chunk must still name that chunk.
  const int chunk_being_read = cp.chunk_index;

  bool ok = true;
  int64 offset = 0;
  if (session->compressed || session->encrypted) {
    off_t pos = source_position(session->src_fd);
    ok = pos >= 0;
    if (ok) offset = container_resume_offset(hdr, sync_num, pos);
  } else {
    offset = plain_header_offset();
  }
  if (ok && offset > INT_MAX) {
    ok = false;
    fprintf(stderr, "Dump file offset %lld does not fit a checkpoint record\n",
            static_cast<long long>(offset));
  }
  cp.offset = static_cast<int>(offset);
  cp.blk_num = session->blk_num + (sync_num == LRD_RESTART_FILE_PHASE_BASE ? 1 : 0);
  cp.h_magic = CHECKPOINT_MAGIC;

  const bool written = ok && write_checkpoint_file(session, sync_num);
  cp.chunk_index = chunk_being_read;
  if (written) return B_TRUE;
  fprintf(stderr, "error in creating writer checkpoint file \n");
  return B_FALSE;
}

bool_t ReadBrixWriterCheckpointFile(rpl_Session* session) {
  char name[BRIX_NAME_BUF_SIZE];
  if (!format_checkpoint_name(name, session, static_cast<int32>(session->restart_checkpoint))) {
    return B_FALSE;
  }
  int fd = open(name, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (session->restart_checkpoint > CHECKPOINT_OPTIONAL_MAX) {
      fprintf(stderr, "could not find checkpoint file \n");
      return B_FALSE;
    }
    return B_TRUE;  // nothing to restore
  }
  memset(&cp1, 0, sizeof(cp1));
  ssize_t n = read_from_source(fd, &cp1, sizeof(cp1));
  close(fd);
  // Only a whole record counts: the last byte of the magic is 0, so a record
  // cut one byte short (a writer killed while writing it) would still match.
  if (n != static_cast<ssize_t>(sizeof(cp1)) || cp1.h_magic != CHECKPOINT_MAGIC ||
      !loaded_record_is_usable(session)) {
    fprintf(stderr, "checkpoint file is corrupted\n");
    return B_FALSE;
  }

  session->blk_num = cp1.blk_num;
  cp.blk_num = cp1.blk_num;
  cp.batch_index = cp1.batch_index;
  cp.file_num = cp1.file_num;
  cp.offset = cp1.offset;
  record_loaded = true;
  if (!session->compressed && !session->encrypted) return B_TRUE;

  zcx = cp1.zcx;
  cp.zcx = cp1.zcx;
  cp.chunk_index = cp1.chunk_index;
  cp.chunk_header_count = cp1.chunk_header_count;
  return B_TRUE;
}

bool_t checkpoint_record_loaded() { return record_loaded ? B_TRUE : B_FALSE; }

bool_t delete_checkpoint_file(rpl_Session* session) {
  char name[BRIX_NAME_BUF_SIZE];
  for (uint32 k = 0; k < CHECKPOINT_FILES_KEPT; k++) {
    if (format_checkpoint_name(name, session,
                               static_cast<int32>(session->restart_checkpoint - k))) {
      remove(name);
    }
  }
  return B_TRUE;
}

bool_t reposition_to_checkpoint(rpl_Session* session) {
  bool container = session->compressed || session->encrypted;
  return (container ? reposition_container(session) : reposition_plain_file(session)) ? B_TRUE
                                                                                      : B_FALSE;
}
