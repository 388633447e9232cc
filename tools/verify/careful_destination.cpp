// A careful destination's checks of each block.
#include "verify/careful_destination.h"

namespace verify {

namespace {

kit::StructureOptions destination_options() {
  kit::StructureOptions o;
  o.require_end = false;  // a stream without its end header is the writer's fault already
  return o;
}

bool is_file_phase_file(uint32_t type) {
  return type == FILE_TYPE_REGULAR || type == FILE_TYPE_NTSTREAM || type == FILE_TYPE_VDISK;
}

std::string type_name(int32_t type) { return hdr_type_to_string(static_cast<uint32_t>(type)); }

// The structure check's text without its own block count, which counts the
// inflating mode's generated blocks too.
std::string without_block_prefix(const std::string& error) {
  const size_t colon = error.find(": ");
  return error.compare(0, 6, "block ") == 0 && colon != std::string::npos ? error.substr(colon + 2)
                                                                          : error;
}

}  // namespace

careful_destination::careful_destination(bool entry_counts)
    : entry_counts_(entry_counts), structure_(destination_options()) {}

std::vector<std::string> careful_destination::take(const kit::Block& b, bool header) {
  std::vector<std::string> broken;
  if (header) broken = header_rules(b);
  structure_.feed(b);
  if (!structure_.ok() && !structure_told_) {
    structure_told_ = true;
    broken.push_back(without_block_prefix(structure_.error()));
  }
  return broken;
}

std::vector<std::string> careful_destination::finish() {
  structure_.finish();
  if (structure_.ok() || structure_told_) return {};
  structure_told_ = true;
  return {without_block_prefix(structure_.error())};
}

std::vector<std::string> careful_destination::header_rules(const kit::Block& b) {
  std::vector<std::string> broken;
  const int32_t type = kit::hdr_type(b);
  const uint32_t point = kit::sync_num(b);
  if (point < last_point_) {
    broken.push_back("the synchronisation point goes back from " + std::to_string(last_point_) +
                     " to " + std::to_string(point));
  }
  last_point_ = point;

  if (entry_counts_ && kit::carries_data(type)) {
    const uint32_t entries = kit::valid_entries(b), holes = kit::hole_entries(b);
    const uint32_t blocks = kit::following_blocks(b);
    uint32_t marked = 0;
    const lr_hdr_info& info = kit::hdr(b);
    for (uint32_t i = 0; i < LR_MAX_HOLE_ENTRIES; i++) marked += info.h_holes[i] == 1 ? 1 : 0;
    if (entries != holes + blocks || marked != holes) {
      broken.push_back(type_name(type) + " counts " + std::to_string(entries) + " entries, " +
                       std::to_string(holes) + " holes (" + std::to_string(marked) +
                       " marked) and " + std::to_string(blocks) +
                       " data blocks, which do not add up");
    }
  }

  const bool tree_only = type == LR_HDR_DELETED_FILE || type == LR_HDR_STRMDIR_RELATIONSHIP ||
                         (type == LR_HDR_FILE && kit::is_directory_type(kit::file_type(b)));
  const bool files_only =
      type == LR_HDR_DISCARD_DATA || (type == LR_HDR_FILE && is_file_phase_file(kit::file_type(b)));
  if (type == LR_HDR_MID_STREAM && file_phase_) {
    broken.push_back("a second LR_HDR_MID_STREAM header");
  } else if (file_phase_ && tree_only) {
    broken.push_back(type_name(type) + " of the tree phase comes after the file phase began");
  } else if (!file_phase_ && files_only) {
    broken.push_back(type_name(type) + " of the file phase comes before LR_HDR_MID_STREAM");
  }
  if (type == LR_HDR_MID_STREAM) file_phase_ = true;
  return broken;
}

}  // namespace verify
