// Comparing a received stream with the dump set it should be.
#include "rehearsal/expect.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "rehearsal/dump_writer.h"

namespace kit {

namespace {

// How far from the due block an arriving block is looked for: a restart
// that resumes at the wrong place is off by a chunk (16 blocks) or by the
// blocks of one synchronisation point, far less than this.
constexpr uint64_t kSearchWindow = 256;
// Once this many blocks matched nothing nearby the stream has gone astray;
// later blocks are counted, not looked for.
constexpr uint64_t kSearchLimit = 16;

}  // namespace

DumpSetBlocks::~DumpSetBlocks() {
  if (fd_ >= 0) close(fd_);
}

bool DumpSetBlocks::open(const std::string& prefix) {
  for (int n = 0;; ++n) {
    const std::string path = dump_file_name(prefix, n);
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
      if (errno == ENOENT && n > 0) return true;
      error_ = path + ": " + strerror(errno);
      return false;
    }
    const uint64_t blocks = static_cast<uint64_t>(st.st_size) / LR_BLOCK_SIZE;
    files_.push_back(File{path, blocks_, blocks});
    blocks_ += blocks;
  }
}

bool DumpSetBlocks::read(uint64_t number, Block& out) {
  if (number >= blocks_) return false;
  // The last file whose first block is at or before `number` (empty files share a first).
  const auto after = std::upper_bound(files_.begin(), files_.end(), number,
                                      [](uint64_t n, const File& f) { return n < f.first; });
  size_t index = static_cast<size_t>(after - files_.begin()) - 1;
  while (files_[index].blocks == 0 || number >= files_[index].first + files_[index].blocks) {
    ++index;  // skip empty files
  }
  if (fd_ < 0 || fd_file_ != index) {
    if (fd_ >= 0) close(fd_);
    fd_ = ::open(files_[index].path.c_str(), O_RDONLY | O_CLOEXEC);
    fd_file_ = index;
    if (fd_ < 0) {
      error_ = files_[index].path + ": " + strerror(errno);
      return false;
    }
  }
  const off_t offset = static_cast<off_t>((number - files_[index].first) * LR_BLOCK_SIZE);
  if (pread(fd_, out.bytes, LR_BLOCK_SIZE, offset) != static_cast<ssize_t>(LR_BLOCK_SIZE)) {
    error_ = files_[index].path + ": cannot read block " + std::to_string(number);
    return false;
  }
  return true;
}

bool ExpectCheck::matches(uint64_t number, const Block& b) {
  Block expected;
  return set_.read(number, expected) && memcmp(expected.bytes, b.bytes, LR_BLOCK_SIZE) == 0;
}

std::optional<uint64_t> ExpectCheck::find_nearby(const Block& b) {
  if (findings_.different_blocks >= kSearchLimit) return std::nullopt;
  for (uint64_t d = 1; d <= kSearchWindow && d <= due_; ++d) {
    if (matches(due_ - d, b)) return due_ - d;
  }
  for (uint64_t d = 1; d <= kSearchWindow && due_ + d < set_.blocks(); ++d) {
    if (matches(due_ + d, b)) return due_ + d;
  }
  return std::nullopt;
}

void ExpectCheck::reply(const Block& b) {
  findings_.reply_compared = true;
  Block expected;
  const size_t count_end = LR_NEG_BLKS_DONE_OFFSET + sizeof(uint64_t);
  if (!set_.read(0, expected) || memcmp(expected.bytes, b.bytes, LR_NEG_BLKS_DONE_OFFSET) != 0 ||
      memcmp(expected.bytes + count_end, b.bytes + count_end, LR_BLOCK_SIZE - count_end) != 0) {
    findings_.first_different = 0;
    ++findings_.different_blocks;
  }
  due_ = blks_done(b) + 1;
}

void ExpectCheck::block(const Block& b) {
  if (!findings_.first_compared) findings_.first_compared = due_;
  if (matches(due_, b)) {
    findings_.last_compared = due_++;
    return;
  }
  const std::optional<uint64_t> found = find_nearby(b);
  if (!found) {
    if (!findings_.first_different) findings_.first_different = due_;
    ++findings_.different_blocks;
    findings_.last_compared = due_++;
    return;
  }
  const std::string where = " where " + std::to_string(due_) + " was due";
  if (*found < due_ && !findings_.first_repeated) {
    findings_.first_repeated = *found;
    findings_.repeated_detail = "it came again" + where;
  } else if (*found > due_ && !findings_.first_lost) {
    findings_.first_lost = due_;
    findings_.lost_detail = "block " + std::to_string(*found) + " came" + where;
  }
  findings_.last_compared = *found;
  due_ = *found + 1;
}

std::string describe_findings(const ExpectFindings& f, const std::string& prefix) {
  if (!f.reply_compared) return "expect: nothing compared, no reply arrived\n";
  if (f.identical()) {
    std::string line = "expect: identical to " + prefix + ": the reply";
    if (f.first_compared && f.last_compared) {
      line += " and stream blocks " + std::to_string(*f.first_compared) + " to " +
              std::to_string(*f.last_compared);
    }
    return line + "\n";
  }
  std::string lines;
  if (f.first_lost) {
    lines +=
        "expect: first lost block " + std::to_string(*f.first_lost) + ": " + f.lost_detail + "\n";
  }
  if (f.first_repeated) {
    lines += "expect: first repeated block " + std::to_string(*f.first_repeated) + ": " +
             f.repeated_detail + "\n";
  }
  if (f.first_different) {
    lines += "expect: first different block " + std::to_string(*f.first_different) + " (" +
             std::to_string(f.different_blocks) + " blocks differ)\n";
  }
  return lines;
}

}  // namespace kit
