// The table from the reading core's messages to located faults.
#include "verify/fault_kinds.h"

#include <algorithm>
#include <cstring>

namespace verify {

namespace {

struct message_rule {
  const char* starts;  // the message's first characters
  fault_kind kind;
};

// In the order of the stages that print them; the first rule whose text
// begins a line of the report wins.
const message_rule kRules[] = {
    {"The password is incorrect",
     {"wrong_password", fault_site::header,
      "the password is wrong (the file's password verifier does not match it); give the "
      "password the set was written with"}},
    {"Damaged encryption header",
     {"header_damaged", fault_site::header,
      "the encryption header of %s is damaged; copy %s again from where it was written"}},
    {"Error while reading the chunk header information",
     {"table_damaged", fault_site::chunk_table,
      "the chunk table at the end of %s is damaged or cut off; copy %s again from where it was "
      "written"}},
    {"No chunk headers found",
     {"table_damaged", fault_site::chunk_table,
      "%s has no readable chunk table: it is cut short or damaged; copy %s again from where it "
      "was written"}},
    {"Damaged dump file: its chunk table lists",
     {"table_damaged", fault_site::chunk_table,
      "the chunk table of %s does not account for its data; copy %s again from where it was "
      "written"}},
    {"Damaged dump file: no chunk header",
     {"table_damaged", fault_site::chunk_table,
      "%s has an empty chunk table; copy %s again from where it was written"}},
    {"Damaged dump file: its chunks decode to",
     {"size_mismatch", fault_site::file_end,
      "the chunks of %s decode to another size than its header says: the file is damaged; copy "
      "%s again from where it was written"}},
    {"Error while decompressing the data",
     {"chunk_damaged", fault_site::chunk,
      "this chunk does not decompress: its stored bytes are damaged (the password is right); "
      "copy %s again from where it was written"}},
    {"Damaged dump file: a chunk",
     {"chunk_damaged", fault_site::chunk,
      "this chunk is not what the capture writes: the file is damaged; copy %s again from where "
      "it was written"}},
    {"Damaged dump file: ",  // "... bytes long where its headers, data and chunk table take ..."
     {"table_damaged", fault_site::chunk_table,
      "%s is not as long as its headers and chunk table say; copy %s again from where it was "
      "written"}},
    {"Short read from Source",
     {"short_file", fault_site::chunk,
      "%s ends inside this chunk: it is cut short; copy %s again from where it was written"}},
    {"Bad read from Source",
     {"unreadable_file", fault_site::chunk,
      "%s cannot be read here (the system says so above): check the disk it is on", true}},
    {"The data digest code does not match",
     {"digest_mismatch", fault_site::file_end,
      "the data of %s does not match its digest: a stored byte is damaged (the password is "
      "right); copy %s again from where it was written"}},
    {"Failed to open",
     {"missing_file", fault_site::file_open,
      "%s is missing from the set: put it beside the other files of the set"}},
    {"Can't open",
     {"missing_file", fault_site::file_open,
      "%s is missing from the set: put it beside the other files of the set"}},
    {"Dump file",  // "... is not a regular file"
     {"unreadable_file", fault_site::file_open,
      "%s is not a regular file: put the dump file itself in its place", true}},
    {"Fatal Error. Header not found where expected",
     {"header_missing", fault_site::stream_block,
      "a header is due here but the block is not one: the stream is damaged or its files are "
      "out of order; copy %s again"}},
    {"brix_reader: ",
     {"header_invalid", fault_site::stream_block,
      "this header breaks the rules of the stream as -i checks them (see the message); the "
      "capture is damaged, so %s must be captured or copied again"}},
};

const fault_kind kPasswordMismatch = {
    "password_mismatch", fault_site::header,
    "the password that opened the set's first file does not open %s: its header is damaged or "
    "it was written with another password; copy %s again from where it was written"};

const fault_kind kReadFailed = {"read_failed", fault_site::chunk,
                                "%s could not be read to its end; copy %s again", true};

bool begins_a_line(const std::string& text, const char* starts) {
  for (size_t at = 0; at < text.size();) {
    if (text.compare(at, strlen(starts), starts) == 0) return true;
    // The core's short-read message has no line end: the next message may follow it directly.
    const size_t next_line = text.find('\n', at);
    const size_t next_short = text.find("Short read from Source", at + 1);
    at = std::min(next_line == std::string::npos ? text.size() : next_line + 1,
                  next_short == std::string::npos ? text.size() : next_short);
  }
  return false;
}

}  // namespace

fault_kind classify_fault(const std::string& told, bool later_file) {
  for (const message_rule& r : kRules) {
    if (!begins_a_line(told, r.starts)) continue;
    if (strcmp(r.kind.kind, "wrong_password") == 0 && later_file) return kPasswordMismatch;
    return r.kind;
  }
  return kReadFailed;
}

std::string one_line(const std::string& told) {
  std::string line;
  size_t at = 0;
  while (at < told.size()) {
    size_t end = told.find('\n', at);
    if (end == std::string::npos) end = told.size();
    if (end > at) line += (line.empty() ? "" : "; ") + told.substr(at, end - at);
    at = end + 1;
  }
  return line;
}

std::string advice_for(const fault_kind& k, const std::string& file) {
  std::string text = k.advice;
  for (size_t at = text.find("%s"); at != std::string::npos; at = text.find("%s", at)) {
    text.replace(at, 2, file);
    at += file.size();
  }
  return text;
}

}  // namespace verify
