// What the verifier found and where: a fault or a warning located in a dump
// file (byte offset, chunk, stream block, the header the block belongs to),
// with the reading core's own message and one sentence that says what is
// wrong and what to do; and the summary of a whole run.
#ifndef VERIFY_FINDINGS_H
#define VERIFY_FINDINGS_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace verify {

// Where a finding lies. A number that does not apply stays -1.
struct place {
  std::string file;           // dump or checkpoint file; empty: the set as a whole
  int64_t offset = -1;        // byte offset in that file
  int64_t chunk = -1;         // containers: the chunk's number in its file, from 0
  int64_t block = -1;         // stream block (block 0 is the start-of-stream header)
  int32_t header_type = 0;    // the header the block belongs to; 0: none taken yet
  int64_t header_sync = -1;   // its synchronisation point
  int64_t header_block = -1;  // its stream block
};

enum class severity { fault, warning };

struct finding {
  std::string kind;  // stable name, e.g. "chunk_damaged" (the manual page lists them)
  severity level = severity::fault;
  place at;
  std::string message;      // what the reading core said, lines joined by "; "; may be empty
  std::string advice;       // what is wrong and what to do
  bool cannot_run = false;  // a file could not be read at all: the run's status is 2
};

// The finding in one sentence: its place, then its advice.
std::string located_sentence(const finding& f);

struct file_summary {
  std::string name;
  std::string kind;  // "plain", "compressed", "encrypted", "compressed+encrypted"
  int64_t stored_bytes = 0;
  uint64_t blocks = 0;  // stream blocks it delivered
};

struct checkpoint_summary {
  std::string file;
  uint32_t point = 0;
  bool ok = false;
  int64_t resumes_at_block = -1;  // the block a restart from it sends next
};

struct summary {
  std::vector<std::string> prefixes;
  std::vector<file_summary> files;
  int64_t stored_bytes = 0;
  uint64_t blocks = 0;  // stream blocks read, block 0 included
  std::map<int32_t, uint64_t> headers_by_type;
  uint64_t point_count = 0;  // distinct synchronisation points
  uint32_t first_point = 0, last_point = 0;
  std::string source_machine, source_path;  // named in the start-of-stream header
  double elapsed_seconds = 0;
  std::vector<finding> faults, warnings;
  std::vector<checkpoint_summary> checkpoints;
  bool checkpoints_checked = false;

  uint64_t stream_bytes() const;
  double megabytes_per_second() const;
  // 0: whole; 1: faults found; 2: a file could not be read.
  int exit_status() const;
};

}  // namespace verify

#endif  // VERIFY_FINDINGS_H
