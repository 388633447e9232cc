// The dump-file set: names, probing, moving from file to file, and the pause
// dialogue.
#include "dump_set.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "progress.h"
#include "regular_file.h"
#include "secrets.h"
#include "unique_fd.h"

namespace {

// Answers of the pause dialogue are read as at most this many characters of
// a line; the rest of a longer line waits for the next prompt.
const int kAnswerChars = 4;

bool prefix_fits(const char* prefix) {
  if (strlen(prefix) <= DUMP_PREFIX_MAX) return true;
  writer_report().sayf("Dump file prefix longer than %d characters: %s\n", DUMP_PREFIX_MAX, prefix);
  return false;
}

bool last_batch(const rpl_Session* session, uint32 batch) {
  return batch + 1 >= BRIX_MAX_INPUT_FILES || session->input_file[batch + 1] == nullptr;
}

void report_file_count(const rpl_Session* session, uint32 batch, uint32 count) {
  writer_progress().sayf("brix_writer: Will read %u files from prefix %s\n", count,
                         session->input_file[batch]);
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
bool open_next_file(rpl_Session* session, const char* name, int* error, fault_report& report) {
  for (;;) {
    if (session->debug) fprintf(stderr, "Opening %s for reading..\n", name);
    bool refused = false;
    session->src_fd = open_dump_file(name, &refused);
    if (session->src_fd >= 0) return true;
    if (refused || !session->pause) {
      if (!refused) report.sayf("Failed to open %s for reading\n", name);
      *error = READ_DAMAGED;
      return false;
    }
    fprintf(stderr, "Can't open %s: %s.\n(A)bort, (R)etry, (F)inish : ", name, strerror(errno));
    char answer[kAnswerChars + 1] = {0};
    if (!read_answer(answer, sizeof(answer))) {
      fprintf(stderr, "Error reading from stdin\n");
      exit(2);
    }
    if (answer[0] == 'a' || answer[0] == 'A') {
      *error = READ_DAMAGED;
      return false;
    }
    if (answer[0] == 'f' || answer[0] == 'F') {
      *error = READ_END;
      return false;
    }
  }
}

}  // namespace

int open_dump_file(const char* name, bool* refused) {
  int fd = open_regular_file(name, refused);
  if (*refused) writer_report().sayf("Dump file %s is not a regular file\n", name);
  return fd;
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
    writer_report().say("No dump file set to open\n");
    return B_FALSE;
  }

  char name[BRIX_NAME_BUF_SIZE];
  uint32 batch = session->input_batch_index;
  format_dump_file_name(name, session->input_file[batch], session->input_file_index);
  bool refused = false;
  session->src_fd = open_dump_file(name, &refused);
  if (session->src_fd < 0) {
    if (!refused) writer_report().sayf("Can't open %s: %s\n", name, strerror(errno));
    return B_FALSE;
  }

  // Probe the rest of the set without moving the reading position; the
  // sizes tell the progress how much there is to read.
  progress_new_set();
  progress_count_file(session->input_file[batch], batch, session->input_file_index,
                      session->src_fd);
  uint32 i = session->input_file_index + 1;
  for (;;) {
    format_dump_file_name(name, session->input_file[batch], i);
    unique_fd probed(open_dump_file(name, &refused));
    if (probed.valid()) {
      progress_count_file(session->input_file[batch], batch, i++, probed.get());
      continue;
    }
    if (refused) return B_FALSE;
    if (errno != ENOENT) {
      writer_report().sayf("Can't open %s: %s\n", name, strerror(errno));
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
    session->input_file_index = 0;
  }
  format_dump_file_name(infile, session->input_file[session->input_batch_index],
                        session->input_file_index);
  return B_TRUE;
}

bool_t close_input_dump(rpl_Session* session) {
  if (session->src_fd != -1) close(session->src_fd);
  session->src_fd = -1;
  return B_TRUE;
}

bool detect_dump_file(rpl_Session* session, dump_container& container, fault_report& report) {
  return container.detect_kind(session->src_fd, &session->compressed, &session->encrypted, report);
}

bool_t prepare_dump_file(rpl_Session* session, dump_container& container, block_source& source,
                         fault_report& report) {
  const bool is_container = session->compressed || session->encrypted;
  if (session->encrypted) keep_out_of_dumps();  // keys are derived here
  if (is_container && !container.init_brix_decomp_decr(session, report)) return B_FALSE;
  // Detection leaves a plain file at its start.
  source.attach(session->src_fd, is_container ? &container : nullptr, session->input_batch_index,
                session->input_file_index, 0);
  return B_TRUE;
}

bool_t end_dump_file(rpl_Session* session, dump_container& container, bool_t digest_check,
                     fault_report& report) {
  if (!session->compressed && !session->encrypted) return B_TRUE;
  return container.term_brix_decomp_decr(digest_check, report);
}

bool_t check_rest_of_dump_file(rpl_Session* session, dump_container& container,
                               block_source& source, fault_report& report) {
  if (!session->compressed && !session->encrypted) return B_TRUE;
  bool_t ok = B_FALSE;
  source.with_reading_still([&] { ok = container.check_rest_of_file(session->src_fd, report); });
  return ok;
}

bool_t read_set_block(rpl_Session* session, dump_container& container, block_source& source,
                      const char** block, int* error, fault_report& report) {
  char name[BRIX_NAME_BUF_SIZE];
  for (;;) {
    bool_t rc = source.next_block(block, error, report);
    if (rc || *error != READ_END) return rc;

    if (!get_next_input_file(name, session)) {
      if (session->debug) printf("No more input files\n");
      return B_FALSE;  // the end of the set; the driver closes the last file
    }
    if (!end_dump_file(session, container, B_FALSE, report)) return B_FALSE;
    close_input_dump(session);
    if (session->pause) pause_before_file(name);
    if (!open_next_file(session, name, error, report)) return B_FALSE;

    if (!detect_dump_file(session, container, report)) {
      *error = READ_SYSTEM_ERROR;  // the transfer fails
      return B_FALSE;
    }
    // The password given for the first file serves every later one.
    if (!prepare_dump_file(session, container, source, report)) return B_FALSE;
  }
}
