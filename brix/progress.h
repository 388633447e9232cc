// How far the transfer has come: the blocks sent, the dump file being read
// and how much of the set's stored bytes lie behind, the last
// synchronisation point. The sender, the block source and the dump set write
// it as they go; the status line (SIGUSR1, from a thread of its own), the
// live line and the closing summary on a terminal are made from it.
#ifndef BRIX_PROGRESS_H
#define BRIX_PROGRESS_H

#include <cstdint>
#include <string>

#include "types.h"

// The dump set's probe, before anything is read: a new set, then every file
// of it in reading order (fd open on it, for its size).
void progress_new_set();
void progress_count_file(const char* prefix, uint32 batch, uint32 file, int fd);

// The block source, after each chunk it reads: file `file` of prefix
// `batch` has been read up to `offset` (a plain file's blocks, a container's
// stored bytes).
void progress_input_at(uint32 batch, uint32 file, int64 offset);

// The sender, for every block that goes out, with the synchronisation point
// reached before it. On a terminal it redraws the live line (at most twice a
// second).
void progress_block_sent(uint32 sync_point);

// The driver: the sending begins, its clock starts.
void progress_start_sending();

// What one look at the progress sees.
struct progress_snapshot {
  uint64_t blocks = 0;      // blocks sent
  double seconds = 0;       // since the sending began
  uint32 sync_point = 0;    // the last synchronisation point reached
  std::string file;         // the dump file being read; empty before any
  uint32 file_number = 0;   // its place in the set, from 1; 0 when the probe did not find it
  uint32 files = 0;         // the files the probe found
  int64 done = 0;           // stored bytes of the set read ...
  int64 done_at_start = 0;  // ... and read when the sending began
  int64 total = 0;          // the sizes of the files the probe found
};
progress_snapshot take_progress_snapshot();

// "brix_writer: <blocks> blocks, <bytes> bytes sent in <s> s, <r> MB/s",
// with a line end: the closing summary.
std::string format_summary_line(const progress_snapshot& s);
// The summary, then "; reading <file>; last sync point <n>": what SIGUSR1
// prints.
std::string format_status_line(const progress_snapshot& s);
// "<MB> MB sent, <r> MB/s, file <n> of <N>, <p>%, ETA <h:mm:ss>", without a
// line end; the file, percentage and ETA only where the set's sizes tell.
std::string format_live_line(const progress_snapshot& s);

#endif  // BRIX_PROGRESS_H
