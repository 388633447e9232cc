// Stripped input and expected wire of the inflating mode.
#include "kit/inflate.h"

#include <algorithm>
#include <cstring>

namespace kit {

namespace {

// Calls fn(index, file_phase) for each header met by the structural walk;
// returns the index where the walk stopped (the stream's size, or the first
// due block that is not a header). The file phase starts after the first
// mid-stream header.
template <class Fn>
size_t walk_headers(const Stream& s, Fn fn) {
  bool file_phase = false;
  size_t i = 0;
  while (i < s.size() && is_header(s[i])) {
    fn(i, file_phase);
    if (hdr_type(s[i]) == LR_HDR_MID_STREAM) file_phase = true;
    i += 1 + static_cast<size_t>(following_blocks(s[i]));
  }
  return std::min(i, s.size());
}

}  // namespace

Stream strip_file_phase_data(const Stream& full) {
  Stream out;
  size_t copied = 0;  // blocks of `full` dealt with
  const size_t end = walk_headers(full, [&](size_t i, bool file_phase) {
    const size_t data_end = std::min(full.size(), i + 1 + following_blocks(full[i]));
    out.push_back(full[i]);
    if (!file_phase)
      out.insert(out.end(), full.begin() + static_cast<long>(i) + 1,
                 full.begin() + static_cast<long>(data_end));
    copied = data_end;
  });
  // Past a broken structure the rest is kept as it is.
  out.insert(out.end(), full.begin() + static_cast<long>(std::max(copied, end)), full.end());
  return out;
}

Stream expected_inflated_wire(const Stream& full) {
  Stream out = full;
  walk_headers(full, [&](size_t i, bool file_phase) {
    if (!file_phase) return;
    const size_t data_end = std::min(out.size(), i + 1 + following_blocks(full[i]));
    for (size_t j = i + 1; j < data_end; ++j) memset(out[j].bytes, 0, LR_BLOCK_SIZE);
  });
  return out;
}

}  // namespace kit
