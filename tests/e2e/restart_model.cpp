// The checkpoint rules applied to a stored set.
#include "restart_model.h"

#include <algorithm>
#include <cstring>

namespace restarts {

namespace {

// Any non-zero value will do: the rules only ask whether the word is 0.
constexpr uint32_t kNonZeroDataWord = 0x4242;
// blk_num in a checkpoint file, read independently of the writer's own
// record declaration.
constexpr size_t kBlkNumOffset = 48;

// Gives the tree-phase headers (between the start and the mid-stream header)
// rising tree restart points: one for the directories, one more for each
// further kind of header.
void set_tree_points(kit::Stream& s, const std::vector<size_t>& headers) {
  uint32_t point = LRD_RESTART_TREE_DELETE - 1;
  int32_t previous_type = LR_HDR_INVALID;
  for (size_t h : headers) {
    if (h == 0) continue;
    const int32_t type = kit::hdr_type(s[h]);
    if (type == LR_HDR_MID_STREAM) return;
    if (type != previous_type && point < LRD_RESTART_TREE_EXTATTRS) point++;
    previous_type = type;
    kit::set_sync_num(s[h], point);
  }
}

void mark_nonzero_openings(kit::Stream& s, const std::vector<size_t>& headers, uint32_t every) {
  uint32_t previous = 0;
  uint32_t openings = 0;
  for (size_t h : headers) {
    const uint32_t point = kit::sync_num(s[h]);
    if (point != previous && point > LRD_RESTART_FILE_PHASE_BASE && openings++ % every == 0) {
      kit::put_u32(s[h], LR_HDR_DATA_OFFSET, kNonZeroDataWord);
    }
    previous = point;
  }
}

}  // namespace

std::optional<size_t> opening_header(const kit::Stream& stream, uint32_t point) {
  for (size_t i = 0; i < stream.size(); i++) {
    if (kit::is_header(stream[i]) && kit::sync_num(stream[i]) == point) return i;
  }
  return std::nullopt;
}

size_t resume_block(const kit::Stream& stream, const std::vector<kit::DumpFileInfo>& files,
                    size_t header, uint32_t point) {
  const kit::BlockPlace place = kit::find_block(files, header);
  if (!place.found || !kit::is_container(files[place.file].format)) return header;
  const kit::ChunkInfo& chunk = files[place.file].chunks[place.chunk];
  const bool next_chunk =
      point == LRD_RESTART_FILE_PHASE_BASE || kit::get_u32(stream[header], LR_HDR_DATA_OFFSET) == 0;
  return next_chunk ? chunk.first_block + chunk.blocks : chunk.first_block;
}

int64_t recorded_count(const std::string& checkpoint_file) {
  std::string record, error;
  if (!kit::read_file(checkpoint_file, record, error)) return -1;
  if (record.size() < kBlkNumOffset + sizeof(uint64_t)) return -1;
  uint64_t wire;
  memcpy(&wire, record.data() + kBlkNumOffset, sizeof wire);
  return static_cast<int64_t>(marshal_uint8(wire));
}

std::string StoredSet::store(const std::string& dir, const SetRecipe& recipe) {
  recipe_ = recipe;
  stream_ = kit::generate_stream(recipe.shape);
  headers_ = kit::header_indices(stream_);
  if (recipe.tree_points) set_tree_points(stream_, headers_);
  if (recipe.nonzero_every > 0) mark_nonzero_openings(stream_, headers_, recipe.nonzero_every);
  is_header_.assign(stream_.size(), false);
  for (size_t h : headers_) is_header_[h] = true;

  prefixes_.clear();
  for (size_t p = 0; p < recipe.files_per_prefix.size(); p++) {
    prefixes_.push_back(dir + "/" + recipe.name + "_" + std::to_string(p));
  }
  kit::DumpSetLayout layout = kit::multi_prefix_layout(prefixes_, recipe.files_per_prefix);
  kit::set_format(layout, recipe.format);
  layout.container = recipe.container;
  kit::DumpSetResult r = kit::write_dump_set(layout, stream_);
  files_ = r.file_info;
  return r.error;
}

std::vector<std::string> StoredSet::writer_args() const { return prefixes_; }

bool StoredSet::header_at(size_t index) const {
  return index < is_header_.size() && is_header_[index];
}

size_t StoredSet::resume_block(size_t header, uint32_t point) const {
  return restarts::resume_block(stream_, files_, header, point);
}

int StoredSet::chunk_header_of(size_t block) const {
  if (!container()) return 0;
  const kit::BlockPlace place = kit::find_block(files_, block);
  return place.found ? files_[place.file].chunks[place.chunk].header_number : 0;
}

std::optional<uint32_t> StoredSet::last_point(size_t first, size_t end) const {
  for (size_t i = std::min(end, stream_.size()); i > first; i--) {
    if (header_at(i - 1)) return kit::sync_num(stream_[i - 1]);
  }
  return std::nullopt;
}

void CheckpointModel::run(const StoredSet& set, uint32_t from, size_t first, uint64_t count,
                          size_t end) {
  uint32_t previous = from;
  for (size_t h : set.headers()) {
    if (h < first || h >= end) continue;
    const uint32_t point = kit::sync_num(set.stream()[h]);
    if (point == previous) continue;
    const uint64_t first_file_phase = point == LRD_RESTART_FILE_PHASE_BASE ? 1 : 0;
    points_[point] = Checkpoint{h, count + (h - first) + first_file_phase};
    previous = point;
  }
}

std::optional<Checkpoint> CheckpointModel::at(uint32_t point) const {
  auto it = points_.find(point);
  if (it == points_.end()) return std::nullopt;
  return it->second;
}

}  // namespace restarts
