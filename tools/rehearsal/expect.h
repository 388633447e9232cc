// What a destination receives compared with the plain dump set it should
// receive, block for block by stream block number: stream block 0 is the
// start-of-stream header, which arrives as the negotiation reply (its
// ndr_blks_done is not compared); after a reply with count n, block n + 1 is
// due next, so a restarted transfer is compared from where it says it
// resumes. The first lost, repeated and different block are reported.
#ifndef REHEARSAL_EXPECT_H
#define REHEARSAL_EXPECT_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "rehearsal/block.h"

namespace kit {

// A plain dump set (PREFIX.0, PREFIX.1, ... up to the first missing file)
// read by stream block number; the partial block at the end of a file is
// left out, as the writer leaves it out.
class DumpSetBlocks {
 public:
  DumpSetBlocks() = default;
  ~DumpSetBlocks();
  DumpSetBlocks(const DumpSetBlocks&) = delete;
  DumpSetBlocks& operator=(const DumpSetBlocks&) = delete;

  // False with error() when the set has no file 0 or a file cannot be read.
  bool open(const std::string& prefix);
  uint64_t blocks() const { return blocks_; }
  // Stream block `number`; false past the end or when the read fails.
  bool read(uint64_t number, Block& out);
  const std::string& error() const { return error_; }

 private:
  struct File {
    std::string path;
    uint64_t first = 0;  // stream number of its first block
    uint64_t blocks = 0;
  };
  std::vector<File> files_;
  uint64_t blocks_ = 0;
  int fd_ = -1;         // the file last read, or -1
  size_t fd_file_ = 0;  // its index in files_
  std::string error_;
};

// The first block of each kind found out of place, by stream block number.
struct ExpectFindings {
  std::optional<uint64_t> first_lost;      // due but skipped
  std::optional<uint64_t> first_repeated;  // came again after it had come
  std::optional<uint64_t> first_different;
  uint64_t different_blocks = 0;
  std::string lost_detail, repeated_detail;               // what came instead, in words
  std::optional<uint64_t> first_compared, last_compared;  // stream blocks after the reply
  bool reply_compared = false;
  bool identical() const { return !first_lost && !first_repeated && !first_different; }
};

class ExpectCheck {
 public:
  explicit ExpectCheck(DumpSetBlocks& set) : set_(set) {}
  // The reply: block 0 but for its ndr_blks_done, which sets the next due block.
  void reply(const Block& b);
  // The next stream block after the reply.
  void block(const Block& b);
  const ExpectFindings& findings() const { return findings_; }

 private:
  // The stream number of the block within kSearchWindow of `due_` that
  // equals `b`, looking back first.
  std::optional<uint64_t> find_nearby(const Block& b);
  bool matches(uint64_t number, const Block& b);

  DumpSetBlocks& set_;
  uint64_t due_ = 0;  // stream number of the block that should come next
  ExpectFindings findings_;
};

// "expect: identical ..." or one line per kind of finding, each ending in a line feed.
std::string describe_findings(const ExpectFindings& f, const std::string& prefix);

}  // namespace kit

#endif  // REHEARSAL_EXPECT_H
