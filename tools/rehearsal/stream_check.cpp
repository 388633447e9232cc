// The destination's structural check of a stream.
#include "rehearsal/stream_check.h"

#include "rehearsal/dir_block.h"

namespace kit {

StructureChecker::StructureChecker(const StructureOptions& options) : options_(options) {}

void StructureChecker::fail(const std::string& what) {
  if (error_.empty()) error_ = "block " + std::to_string(blocks_) + ": " + what;
}

void StructureChecker::feed(const Block& b) {
  if (!lost_ && data_due_ > 0) {
    if (in_directory_ && options_.check_dir_blocks) {
      const std::string fault = check_dir_block(b);
      if (!fault.empty()) fail("directory block: " + fault);
    }
    --data_due_;
  } else if (!lost_) {
    if (end_seen_) fail("block after the end-of-stream header");
    if (is_header(b)) {
      take_header(b);
    } else {
      fail("header expected, found a data block");
      lost_ = true;
    }
  }
  ++blocks_;
}

void StructureChecker::take_header(const Block& b) {
  const int32_t type = hdr_type(b);
  const uint32_t following = following_blocks(b);
  ++headers_by_type_[type];
  last_type_ = type;
  if (blocks_ == 0 && options_.start_header_first && type != LR_HDR_START_STREAM) {
    fail("the stream does not begin with a start-of-stream header");
  }
  if (!is_valid_hdr_type(type)) {
    fail(std::string("invalid header type ") + hdr_type_to_string(static_cast<uint32_t>(type)));
  } else if (!carries_data(type) && following != 0) {
    fail(std::string(hdr_type_to_string(static_cast<uint32_t>(type))) + " announces " +
         std::to_string(following) + " following blocks");
  } else if (following > LR_MAX_FOLLOWING_BLKS) {
    fail(std::string(hdr_type_to_string(static_cast<uint32_t>(type))) + " announces " +
         std::to_string(following) + " following blocks, more than " +
         std::to_string(LR_MAX_FOLLOWING_BLKS));
  }
  if (type == LR_HDR_END_OF_STREAM) end_seen_ = true;
  // Counts are followed even when the header was faulty, as the writer does.
  data_due_ = following;
  in_directory_ = type == LR_HDR_FILE && is_directory_type(file_type(b));
}

void StructureChecker::finish() {
  if (lost_) return;  // already reported
  if (data_due_ > 0) {
    fail("the stream ends with " + std::to_string(data_due_) + " data blocks still due");
  } else if (options_.require_end && !end_seen_) {
    fail("the stream ends without an end-of-stream header");
  }
}

std::string check_stream_structure(const Stream& s, const StructureOptions& options) {
  StructureChecker checker(options);
  for (const Block& b : s) checker.feed(b);
  checker.finish();
  return checker.error();
}

}  // namespace kit
