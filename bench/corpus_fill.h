// The content of the container benchmark's stream: the generated stream
// structure with the regular files' data blocks refilled to compress about
// as a server volume's do. Runs of log-like text lines, runs of all-zero
// blocks and runs of random blocks (data stored compressed already).
#ifndef BENCH_CORPUS_FILL_H
#define BENCH_CORPUS_FILL_H

#include <cstdint>

#include "rehearsal/block.h"
#include "rehearsal/rng.h"

namespace bench {

// Each kind of content comes in runs of 1 to this many blocks, as files and
// free space hold it.
constexpr uint32_t kLongestCorpusRun = 16;

// Shares of the refilled data blocks; the rest is text.
struct CorpusMix {
  double zero_share = 0.06;
  double random_share = 0.20;
};

// Blocks of each kind taken by the fill.
struct CorpusCounts {
  uint64_t headers = 0;
  uint64_t other_data = 0;  // directory and attribute data, left as generated
  uint64_t text = 0;
  uint64_t zero = 0;
  uint64_t random = 0;
  uint64_t total() const { return headers + other_data + text + zero + random; }
};

class CorpusFill {
 public:
  explicit CorpusFill(uint64_t seed, CorpusMix mix = CorpusMix());
  // Takes the next block of the stream, in order: a data block of a regular
  // file gets the corpus's content, every other block stays as it is.
  void next(kit::Block& b);
  const CorpusCounts& counts() const { return counts_; }

 private:
  enum class Kind { text, zero, random };
  void start_run();
  void fill_text(kit::Block& b);
  void fill_random(kit::Block& b);

  CorpusMix mix_;
  kit::Rng rng_;
  kit::HeaderWalker walk_;
  CorpusCounts counts_;
  bool in_file_data_ = false;  // the last header met is a regular file's
  Kind kind_ = Kind::text;
  uint32_t run_left_ = 0;  // blocks of the current run still to fill
  uint64_t clock_ms_ = 0;  // the log's clock, rising line by line
};

}  // namespace bench

#endif  // BENCH_CORPUS_FILL_H
