// Turns what the reading core said when it stopped into the kind of fault,
// the part of the file it points at, and what the user should do. The
// core's messages are the writer's own, so one table serves every stage.
#ifndef VERIFY_FAULT_KINDS_H
#define VERIFY_FAULT_KINDS_H

#include <string>

namespace verify {

// The part of a dump file a fault points at.
enum class fault_site {
  file_open,     // the file itself: it could not be opened
  header,        // a container header field (the password verifier, the digest length)
  chunk_table,   // the chunk table at the file's end
  chunk,         // the chunk being read when it failed
  file_end,      // the end-of-file checks (digest, decoded size) of the file read last
  stream_block,  // the stream block just taken
};

struct fault_kind {
  const char* kind;  // stable name
  fault_site site;
  const char* advice;       // what is wrong and what to do; "%s" is the file's name
  bool cannot_run = false;  // the file cannot be read at all (status 2)
};

// The kind of the first message of `told` that the table knows; a generic
// "read_failed" when none. `later_file`: an encrypted file after the first
// one, whose verifier failed with the password that opened the first.
fault_kind classify_fault(const std::string& told, bool later_file);

// The reading core's text on one line: its lines joined by "; ".
std::string one_line(const std::string& told);

// Fills "%s" in an advice text with a file name.
std::string advice_for(const fault_kind& k, const std::string& file);

}  // namespace verify

#endif  // VERIFY_FAULT_KINDS_H
