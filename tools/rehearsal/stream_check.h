// The structural check a destination makes on the stream it receives: a
// header wherever one is due, valid header types, following-block counts
// within their bounds, well-formed directory blocks, and an end-of-stream
// header closing the stream. Usable block by block, so that a receiver of
// a huge stream holds none of it.
#ifndef REHEARSAL_STREAM_CHECK_H
#define REHEARSAL_STREAM_CHECK_H

#include <cstdint>
#include <map>
#include <string>

#include "rehearsal/block.h"

namespace kit {

struct StructureOptions {
  bool start_header_first = true;  // block 0 must be LR_HDR_START_STREAM
  bool check_dir_blocks = true;    // data blocks of directory headers must be well formed
  bool require_end = true;         // finish() demands a closing LR_HDR_END_OF_STREAM
};

class StructureChecker {
 public:
  explicit StructureChecker(const StructureOptions& options = StructureOptions());

  // Takes the next block. The first violation is kept; after it the checker
  // goes on following the headers' counts, unless a non-header came where a
  // header was due (then it is lost and only counts blocks).
  void feed(const Block& b);
  // No more blocks come: nothing may still be due, and the end header must
  // have been seen (when required).
  void finish();

  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }
  uint64_t blocks() const { return blocks_; }
  const std::map<int32_t, uint64_t>& headers_by_type() const { return headers_by_type_; }
  bool end_seen() const { return end_seen_; }
  bool lost() const { return lost_; }
  // The last header was LR_HDR_END_OF_STREAM and all its blocks have come:
  // the point at which a destination acknowledges.
  bool at_end() const { return !lost_ && last_type_ == LR_HDR_END_OF_STREAM && data_due_ == 0; }

 private:
  void fail(const std::string& what);
  void take_header(const Block& b);

  StructureOptions options_;
  std::string error_;
  uint64_t blocks_ = 0;
  uint64_t data_due_ = 0;      // data blocks before the next header
  bool in_directory_ = false;  // the data due belong to a directory
  bool lost_ = false;
  bool end_seen_ = false;
  int32_t last_type_ = LR_HDR_INVALID;
  std::map<int32_t, uint64_t> headers_by_type_;
};

// Checks a whole stream; empty when it is well formed, else the first violation.
std::string check_stream_structure(const Stream& s,
                                   const StructureOptions& options = StructureOptions());

}  // namespace kit

#endif  // REHEARSAL_STREAM_CHECK_H
