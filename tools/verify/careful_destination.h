// The checks a careful destination makes on the stream it receives, beyond
// what the writer checks: the rehearsal engine's structure check (headers
// where due, valid types, following-block bounds, well-formed directory
// blocks) and, header by header, synchronisation points that never go back,
// entry counts that add up with the holes and the data blocks, and the file
// phase after the tree phase. What it finds are warnings of the verifier.
#ifndef VERIFY_CAREFUL_DESTINATION_H
#define VERIFY_CAREFUL_DESTINATION_H

#include <cstdint>
#include <string>
#include <vector>

#include "rehearsal/stream_check.h"

namespace verify {

class careful_destination {
 public:
  // `entry_counts`: the stream carries hbak's entry counts (not with -O).
  explicit careful_destination(bool entry_counts);

  // The next block as the destination would receive it (the inflating
  // mode's generated blocks included); `header` tells that the writer took
  // it as a due header. Returns what the block breaks, one text per rule;
  // empty when nothing.
  std::vector<std::string> take(const kit::Block& b, bool header);
  // The stream ended with its end header: anything still due is reported.
  std::vector<std::string> finish();

 private:
  std::vector<std::string> header_rules(const kit::Block& b);

  bool entry_counts_;
  kit::StructureChecker structure_;
  bool structure_told_ = false;  // the structure check keeps its first violation only
  uint32_t last_point_ = 0;      // of the last header; points are unsigned, the first is 0
  bool file_phase_ = false;      // the mid-stream header has passed
};

}  // namespace verify

#endif  // VERIFY_CAREFUL_DESTINATION_H
