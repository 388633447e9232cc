// Stripped input, expected wire and header rules of the inflating mode.
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

std::string type_name(int32_t t) { return hdr_type_to_string(static_cast<uint32_t>(t)); }

// Which header types each stage admits, and the stage a header moves to.
bool admit(int32_t t, int& stage) {
  switch (stage) {
    case 0:
      if (t == LR_HDR_DISCARD_DATA) return false;
      if (t == LR_HDR_MID_STREAM) stage = 1;
      return true;
    case 1:
      if (t == LR_HDR_MID_STREAM || t == LR_HDR_DELETED_FILE || t == LR_HDR_STRMDIR_RELATIONSHIP)
        return false;
      if (t == LR_HDR_END_OF_STREAM) stage = 2;
      return true;
    default:
      return false;
  }
}

std::string check_entries(const Block& b, int32_t t) {
  const uint32_t e = valid_entries(b);
  const uint32_t n = following_blocks(b);
  const uint32_t bound = carries_data(t) ? LR_MAX_FOLLOWING_BLKS : LR_MAX_LIST_ENTRIES;
  if (e > bound) return std::to_string(e) + " entries, more than " + std::to_string(bound);
  if (!carries_data(t)) return "";
  if (e < n) return "more blocks " + std::to_string(n) + " than entries " + std::to_string(e);
  if (e != hole_entries(b) + n)
    return "entries " + std::to_string(e) + " differ from blocks plus holes";
  return "";
}

std::string check_holes(const Block& b) {
  uint32_t ones = 0;
  for (size_t i = 0; i < LR_MAX_HOLE_ENTRIES; ++i) {
    const auto v = static_cast<unsigned char>(hdr(b).h_holes[i]);
    if (v > 1) return "hole byte " + std::to_string(v) + " at index " + std::to_string(i);
    ones += v;
  }
  if (ones != hole_entries(b)) {
    return std::to_string(ones) + " holes marked, " + std::to_string(hole_entries(b)) +
           " announced";
  }
  return "";
}

std::string check_file_type(const Block& b, int stage) {
  const uint32_t f = file_type(b);
  if (f < FILE_TYPE_REGULAR || f > FILE_TYPE_VDISK)
    return std::string("invalid file type ") + file_type_to_string(f);
  const bool file_phase_type =
      f == FILE_TYPE_REGULAR || f == FILE_TYPE_NTSTREAM || f == FILE_TYPE_VDISK;
  if ((stage == 0 && file_phase_type) || (stage != 0 && is_directory_type(f))) {
    return std::string("file type ") + file_type_to_string(f) + " in stage " +
           std::to_string(stage);
  }
  return "";
}

std::string check_header(const Block& b, int& stage, uint32_t& restart, const InflateRules& rules) {
  const int32_t t = hdr_type(b);
  if (!is_valid_hdr_type(t)) return "invalid header type " + type_name(t);
  const int before = stage;
  if (!admit(t, stage)) return type_name(t) + " refused in stage " + std::to_string(before);
  const uint32_t s = sync_num(b);
  if (stage == 0 && s != LRD_RESTART_BASE)
    return "synchronisation point " + std::to_string(s) + " in stage 0";
  if (stage != 0) {
    if (s <= LRD_RESTART_DST_TREE_MAX) {
      return "synchronisation point " + std::to_string(s) + " in stage " + std::to_string(stage);
    }
    if (s < restart)
      return "synchronisation point back from " + std::to_string(restart) + " to " +
             std::to_string(s);
  }
  if (rules.track_restart) restart = s;
  const uint32_t n = following_blocks(b);
  if (!carries_data(t) && n != 0)
    return "standalone header with " + std::to_string(n) + " following blocks";
  if (n > LR_MAX_FOLLOWING_BLKS) return std::to_string(n) + " following blocks";
  if (rules.hbak) {
    const std::string fault = check_entries(b, t);
    if (!fault.empty()) return type_name(t) + ": " + fault;
  }
  if (carries_data(t)) {
    const std::string fault = check_holes(b);
    if (!fault.empty()) return fault;
  }
  if (t == LR_HDR_FILE) return check_file_type(b, stage);
  if (t == LR_HDR_EXT_ATTR &&
      (ea_type(b) < EXT_ATTR_TYPE_NT_ACL || ea_type(b) >= EXT_ATTR_TYPE_FAKE)) {
    return "invalid attribute type " + std::to_string(ea_type(b));
  }
  return "";
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

std::string check_inflating_rules(const Stream& s, const InflateRules& rules) {
  int stage = 0;
  uint32_t restart = rules.restart_checkpoint;
  uint64_t due = 0;
  for (size_t i = 1; i < s.size(); ++i) {
    if (due > 0) {  // a data block, even when it carries the magic
      --due;
      continue;
    }
    if (!is_header(s[i]))
      return "block " + std::to_string(i) + ": data block where a header is due";
    const std::string fault = check_header(s[i], stage, restart, rules);
    if (!fault.empty()) return "block " + std::to_string(i) + ": " + fault;
    // Past the tree phase the writer makes the data itself.
    due = (stage == 0 || rules.data_present) ? following_blocks(s[i]) : 0;
  }
  return "";
}

}  // namespace kit
