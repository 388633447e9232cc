// The dump-file set: finds the numbered files of each prefix, opens them in
// order, detects and prepares each one for the block source, and delivers
// the stream across file boundaries with the operator's pause dialogue.
#ifndef BRIX_DUMP_SET_H
#define BRIX_DUMP_SET_H

#include "block_source.h"
#include "brix.h"
#include "brix_comp_encr.h"
#include "fault_report.h"

// Longest prefix accepted: every name "<prefix>.<number>" of its set must fit
// the 1023 characters of a name buffer, whatever the number.
enum { DUMP_PREFIX_MAX = BRIX_NAME_BUF_SIZE - 1 - 12 };  // "." and up to 11 digits and sign

// Writes "<prefix>.<n>" into name (BRIX_NAME_BUF_SIZE bytes).
void format_dump_file_name(char* name, const char* prefix, uint32 n);

// Opens a dump file for reading, without blocking (a FIFO). When that fails,
// *refused tells that the name is something other than a regular file, which
// has been reported; otherwise errno says why.
int open_dump_file(const char* name, bool* refused);

// Opens file input_file_index of batch input_batch_index into src_fd and
// counts the files of that batch and of every later one.
bool_t open_input_dump(rpl_Session* session);

// Advances to the next file of the set and writes its name into infile;
// B_FALSE when the set is exhausted.
bool_t get_next_input_file(char* infile, rpl_Session* session);

// Closes src_fd if open; always B_TRUE.
bool_t close_input_dump(rpl_Session* session);

// Sets compressed and encrypted for the file open on src_fd and leaves it
// positioned for reading; false when a read or a seek failed (reported).
bool detect_dump_file(rpl_Session* session, dump_container& container, fault_report& report);

// Prepares the detected file (a container's password check and chunk
// table) and attaches it to the block source.
bool_t prepare_dump_file(rpl_Session* session, dump_container& container, block_source& source,
                         fault_report& report);

// Ends the reading of the open file: a container's digest is compared (a
// mismatch is accepted with digest_check) and its table released.
bool_t end_dump_file(rpl_Session* session, dump_container& container, bool_t digest_check,
                     fault_report& report);

// Before the end-of-stream header goes out: the rest of the open file is
// read aside and a container's end-of-file checks (digest, decoded size) are
// made now, while nothing reads the file ahead. B_FALSE, reported, when they
// fail.
bool_t check_rest_of_dump_file(rpl_Session* session, dump_container& container,
                               block_source& source, fault_report& report);

// Delivers the next block of the set in place (*block stays valid until the
// next call), moving on to the next file (with the pause dialogue) when one
// is used up. B_TRUE: a block is there; B_FALSE with *error 0: the input has
// ended; B_FALSE with *error non-zero: the transfer fails.
bool_t read_set_block(rpl_Session* session, dump_container& container, block_source& source,
                      const char** block, int* error, fault_report& report);

#endif  // BRIX_DUMP_SET_H
