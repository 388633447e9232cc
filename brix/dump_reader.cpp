// The dump-file set and the block source.
#include "dump_reader.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "brix_comp_encr.h"
#include "checkpoint.h"
#include "process_state.h"
#include "source_io.h"

block_source_state block_source;
bool_t chkpoint = B_FALSE;

namespace {

// Answers of the pause dialogue are read as at most this many characters of
// a line; the rest of a longer line waits for the next prompt.
const int kAnswerChars = 4;

bool prefix_fits(const char* prefix) {
  if (strlen(prefix) <= DUMP_PREFIX_MAX) return true;
  fprintf(stderr, "Dump file prefix longer than %d characters: %s\n", DUMP_PREFIX_MAX, prefix);
  return false;
}

bool last_batch(const rpl_Session* session, uint32 batch) {
  return batch + 1 >= BRIX_MAX_INPUT_FILES || session->input_file[batch + 1] == nullptr;
}

void report_file_count(const rpl_Session* session, uint32 batch, uint32 count) {
  printf("brix_writer: Will read %u files from prefix %s\n", count, session->input_file[batch]);
}

// Reads one line's first characters from standard input into answer; false
// at the end of the input or on a read error.
bool read_answer(char* answer, int size) {
  fflush(stderr);
  return fgets(answer, size, stdin) != nullptr;
}

// Before each further file in pause mode: q or Q ends the run with status 0.
// An input already at its end continues, as Enter would.
void pause_before_file(const char* name) {
  fprintf(stderr, "About to read %s. Hit enter to continue, q to quit:", name);
  char answer[kAnswerChars + 1] = {0};
  if (read_answer(answer, sizeof(answer)) && (answer[0] == 'q' || answer[0] == 'Q')) exit(0);
}

// Opens the next file into src_fd, asking the operator in pause mode when it
// is missing. Returns true when it is open; otherwise false with *error set:
// 1 to fail the transfer, 0 to end the input here.
bool open_next_file(rpl_Session* session, const char* name, int* error) {
  for (;;) {
    if (session->debug) fprintf(stderr, "Opening %s for reading..\n", name);
    session->src_fd = open(name, O_RDONLY | O_CLOEXEC);
    if (session->src_fd >= 0) return true;
    if (!session->pause) {
      fprintf(stderr, "Failed to open %s for reading\n", name);
      *error = 1;
      return false;
    }
    fprintf(stderr, "Can't open %s: %s.\n(A)bort, (R)etry, (F)inish : ", name, strerror(errno));
    char answer[kAnswerChars + 1] = {0};
    if (!read_answer(answer, sizeof(answer))) {
      fprintf(stderr, "Error reading from stdin\n");
      exit(2);
    }
    if (answer[0] == 'a' || answer[0] == 'A') {
      *error = 1;
      return false;
    }
    if (answer[0] == 'f' || answer[0] == 'F') {
      *error = 0;
      return false;
    }
  }
}

// Copies staged block blk_index into in_buf.
void deliver_staged_block(rpl_Session* session) {
  block_source_state& src = block_source;
  memcpy(session->in_buf, src.buffer + static_cast<size_t>(src.blk_index) * LR_BLOCK_SIZE,
         LR_BLOCK_SIZE);
  src.blk_cnt--;
  src.blk_index++;
  src.prev_blk_index = src.blk_cnt;
}

// Refill from a plain dump file: up to 16 blocks. A tail shorter than a block
// (only a damaged file has one) is not a block: the file ends before it,
// wherever the read boundary falls.
bool_t refill_from_plain_file(rpl_Session* session, int* error) {
  block_source_state& src = block_source;
  src.blk_index = 0;
  if (src.writer && !reposition_to_checkpoint(session)) return B_FALSE;

  src.refill_offset = source_position(session->src_fd);
  if (src.refill_offset < 0) {
    *error = -1;
    src.blk_cnt = 0;
    return B_FALSE;
  }
  ssize_t count = read_up_to(session->src_fd, src.buffer, DUMP_READ_SIZE);
  *error = static_cast<int>(count);
  if (count < 0) {
    perror("Bad read from Source");
    src.blk_cnt = 0;
    return B_FALSE;
  }
  *error = 0;
  if (count < static_cast<ssize_t>(LR_BLOCK_SIZE)) {
    src.blk_cnt = 0;
    return B_FALSE;  // end of the file
  }
  stage_refilled_blocks(static_cast<int>(count / LR_BLOCK_SIZE));
  return B_TRUE;
}

}  // namespace

void reset_block_source() {
  block_source = block_source_state();
  chkpoint = B_FALSE;
}

void stage_refilled_blocks(int blocks) {
  if (chkpoint) {
    // Restart: deliver only the start header now; the next refill resumes at
    // the checkpointed position.
    block_source.blk_cnt = 1;
    block_source.writer = B_TRUE;
    chkpoint = B_FALSE;
  } else {
    block_source.blk_cnt = blocks;
  }
}

void format_dump_file_name(char* name, const char* prefix, uint32 n) {
  snprintf(name, BRIX_NAME_BUF_SIZE, "%s.%d", prefix, static_cast<int>(n));
}

bool_t open_input_dump(rpl_Session* session) {
  for (int i = 0; i < BRIX_MAX_INPUT_FILES && session->input_file[i] != nullptr; i++) {
    if (!prefix_fits(session->input_file[i])) return B_FALSE;
  }
  if (session->input_batch_index >= BRIX_MAX_INPUT_FILES ||
      session->input_file[session->input_batch_index] == nullptr) {
    fprintf(stderr, "No dump file set to open\n");
    return B_FALSE;
  }

  char name[BRIX_NAME_BUF_SIZE];
  uint32 batch = session->input_batch_index;
  format_dump_file_name(name, session->input_file[batch], session->input_file_index);
  session->src_fd = open(name, O_RDONLY | O_CLOEXEC);
  if (session->src_fd < 0) {
    fprintf(stderr, "Can't open %s: %s\n", name, strerror(errno));
    return B_FALSE;
  }

  // Probe the rest of the set without moving the reading position.
  uint32 i = session->input_file_index + 1;
  for (;;) {
    format_dump_file_name(name, session->input_file[batch], i);
    int fd = open(name, O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
      close(fd);
      i++;
      continue;
    }
    if (errno != ENOENT) {
      fprintf(stderr, "Can't open %s: %s\n", name, strerror(errno));
      return B_FALSE;
    }
    if (last_batch(session, batch)) {
      session->input_file_max[batch] = i;
      if (!session->pause) report_file_count(session, batch, i);
      return B_TRUE;
    }
    if (!session->pause) {
      session->input_file_max[batch] = i;
      report_file_count(session, batch, i);
    }
    batch++;
    i = 0;
  }
}

bool_t get_next_input_file(char* infile, rpl_Session* session) {
  if (session->input_batch_index >= BRIX_MAX_INPUT_FILES ||
      session->input_file[session->input_batch_index] == nullptr) {
    return B_FALSE;
  }
  session->input_file_index++;
  if (!session->pause &&
      session->input_file_index >= session->input_file_max[session->input_batch_index]) {
    if (last_batch(session, session->input_batch_index)) return B_FALSE;
    session->input_batch_index++;
    cp.batch_index = static_cast<int>(session->input_batch_index);
    session->input_file_index = 0;
  }
  format_dump_file_name(infile, session->input_file[session->input_batch_index],
                        session->input_file_index);
  return B_TRUE;
}

bool_t read_dump_block(rpl_Session* session, int* error) {
  char name[BRIX_NAME_BUF_SIZE];
  for (;;) {
    bool_t rc = read_dump_block2(session, error);
    if (rc || *error != 0) return rc;

    if (!get_next_input_file(name, session)) {
      if (session->debug) printf("No more input files\n");
      return B_FALSE;  // end of the set; the driver closes the last file
    }
    if (!close_input_file(session)) return B_FALSE;
    close_input_dump(session);
    if (session->pause) pause_before_file(name);
    if (!open_next_file(session, name, error)) return B_FALSE;

    if (!detect_container_kind(session)) {
      *error = -1;  // a read error: the transfer fails
      return B_FALSE;
    }
    // The password given for the first file serves every later one.
    if (!prepare_if_container(session)) return B_FALSE;
  }
}

bool_t read_dump_block2(rpl_Session* session, int* error) {
  *error = 0;
  bool_t rc = B_TRUE;
  if (block_source.blk_cnt == 0) {
    rc = (session->compressed || session->encrypted) ? refill_from_chunk(session, error)
                                                     : refill_from_plain_file(session, error);
  }
  if (rc && block_source.blk_cnt > 0) deliver_staged_block(session);
  return rc;
}

bool_t close_input_file(rpl_Session* session) {
  if (!session->compressed && !session->encrypted) return B_TRUE;
  if (!digest_check) {
    chunk_header_num = 0;
    cp.chunk_header_count = 0;
  }
  return term_brix_decomp_decr(session);
}

bool_t close_input_dump(rpl_Session* session) {
  if (session->src_fd != -1) close(session->src_fd);
  session->src_fd = -1;
  return B_TRUE;
}
