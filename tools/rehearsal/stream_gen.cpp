// The stream generator: a small state machine that plans one header at a
// time and then hands out the data blocks the header announced.
#include "rehearsal/stream_gen.h"

#include <algorithm>

#include "rehearsal/dir_block.h"

namespace kit {

namespace {

constexpr uint32_t kRootInum = 64;
constexpr uint32_t kDirInumBase = 65;
constexpr uint32_t kEntryInumBase = 5000;  // inodes named in directory blocks
constexpr uint32_t kDeletedInumBase = 50000;
constexpr uint32_t kFileInumBase = 100000;
constexpr uint32_t kAttrInumBase = 900000;
constexpr uint32_t kMaxDirBlocks = 3;
constexpr uint32_t kMaxStrmdirEntries = 16;
constexpr uint32_t kMaxAttrBlocks = 4;
constexpr uint32_t kMaxGen = 16;
constexpr uint32_t kValidAttrTypes = EXT_ATTR_TYPE_COMPRESS_NT_ALTERNATE_DATA;  // 1 to 17
const uint32_t kTreeAttrTypes[] = {EXT_ATTR_TYPE_NT_ACL, EXT_ATTR_TYPE_SOLARIS_ACL,
                                   EXT_ATTR_TYPE_NFS_ACL};

// A byte size that ends inside the last of `blocks` blocks.
uint64_t size_within(Rng& rng, uint64_t blocks) {
  return blocks == 0 ? 0 : blocks * LR_BLOCK_SIZE - rng.below(LR_BLOCK_SIZE);
}

}  // namespace

StreamGenerator::StreamGenerator(const StreamShape& shape)
    : shape_(shape), rng_(shape.seed), dir_entry_inum_(kEntryInumBase) {}

bool StreamGenerator::next(Block& out) {
  if (data_left_ == 0) return plan_header(out);
  const uint64_t seed = mix_seed(shape_.seed, full_index_);
  if (data_kind_ == Data::dir) {
    const uint32_t index = dir_blocks_total_ - data_left_;
    uint32_t written = 0;
    out = generated_dir_block(seed, dir_entry_inum_, index + 1 < dir_blocks_total_, &written);
    dir_entry_inum_ += written;
  } else {
    out = data_block(seed);
  }
  --data_left_;
  ++full_index_;
  ++produced_;
  return true;
}

bool StreamGenerator::plan_header(Block& out) {
  const uint32_t at = static_cast<uint32_t>(full_index_);
  for (;;) {
    switch (phase_) {
      case Phase::start:
        phase_ = Phase::dirs;
        emit_header(out, start_header(shape_.start), 0, Data::none);
        return true;
      case Phase::dirs:
        if (counter_ < shape_.directories) {
          FileHeaderFields fields;
          fields.blk_num = at;
          fields.file_type = FILE_TYPE_DIRECTORY;
          fields.inumber = kDirInumBase + counter_;
          fields.gennum = rng_.between(1, kMaxGen);
          fields.dir_num = ++counter_;
          dir_blocks_total_ = rng_.between(1, kMaxDirBlocks);
          fields.size = uint64_t{dir_blocks_total_} * LR_BLOCK_SIZE;
          fields.holes = HolePattern(dir_blocks_total_, 0);
          emit_header(out, file_header(fields), dir_blocks_total_, Data::dir);
          return true;
        }
        phase_ = Phase::deleted;
        counter_ = 0;
        break;
      case Phase::deleted:
        if (counter_ < shape_.deleted_file_headers) {
          ++counter_;
          const uint32_t n = rng_.between(1, LR_MAX_LIST_ENTRIES);
          emit_header(out,
                      deleted_file_header(LRD_RESTART_BASE, at, n,
                                          kDeletedInumBase + rng_.below(kDeletedInumBase)),
                      0, Data::none);
          return true;
        }
        phase_ = Phase::strmdir;
        counter_ = 0;
        break;
      case Phase::strmdir:
        if (counter_ < shape_.strmdir_headers) {
          ++counter_;
          const uint32_t n = rng_.between(1, kMaxStrmdirEntries);
          emit_header(
              out,
              strmdir_header(LRD_RESTART_BASE, at, n, kEntryInumBase + rng_.below(kEntryInumBase)),
              0, Data::none);
          return true;
        }
        phase_ = Phase::tree_attrs;
        counter_ = 0;
        break;
      case Phase::tree_attrs:
        if (counter_ < shape_.tree_ext_attrs) {
          ExtAttrFields fields;
          fields.blk_num = at;
          fields.inumber = kAttrInumBase + counter_;
          fields.gennum = rng_.between(1, kMaxGen);
          fields.base_file_inum =
              shape_.directories ? kDirInumBase + counter_ % shape_.directories : kRootInum;
          fields.type =
              kTreeAttrTypes[counter_ % (sizeof kTreeAttrTypes / sizeof kTreeAttrTypes[0])];
          fields.size = size_within(rng_, 1);
          fields.holes = HolePattern(1, 0);
          ++counter_;
          emit_header(out, ext_attr_header(fields), 1, Data::plain);
          return true;
        }
        phase_ = Phase::mid;
        break;
      case Phase::mid:
        phase_ = Phase::files;
        emit_header(out, mid_stream_header(next_file_phase_sync(), at), 0, Data::none);
        return true;
      case Phase::files:
        if (plan_file_phase(out)) return true;
        phase_ = Phase::end;
        break;
      case Phase::end:
        phase_ = Phase::done;
        if (!shape_.end_header) return false;
        emit_header(out, end_of_stream_header(next_file_phase_sync(), at), 0, Data::none);
        return true;
      case Phase::done:
        return false;
    }
  }
}

bool StreamGenerator::plan_file_phase(Block& out) {
  const bool budget = shape_.total_blocks != 0;
  for (;;) {
    if (in_file_) {
      file_chunk(out);
      return true;
    }
    if (attrs_done_ < due(shape_.ext_attrs)) {
      if (file_phase_attr(out)) return true;
      continue;
    }
    if (discards_done_ < due(shape_.discard_headers)) {
      ++discards_done_;
      if (budget && remaining() == 0) continue;
      const uint32_t target = files_done_ ? file_inum_ : kFileInumBase;
      emit_header(
          out, discard_header(next_file_phase_sync(), static_cast<uint32_t>(full_index_), target),
          0, Data::none);
      return true;
    }
    const bool more_files = budget ? remaining() > 0 : files_done_ < shape_.files;
    if (!more_files) return false;
    begin_file();
  }
}

void StreamGenerator::begin_file() {
  uint32_t entries = rng_.between(shape_.min_file_blocks, shape_.max_file_blocks);
  HolePattern holes = random_holes(entries);
  if (shape_.total_blocks != 0) {
    const uint64_t headers =
        std::max<uint64_t>(1, (entries + LR_MAX_FOLLOWING_BLKS - 1) / LR_MAX_FOLLOWING_BLKS);
    // The last file fills the budget exactly: one header, no holes.
    if (headers + data_blocks_of(holes) > remaining()) {
      entries = static_cast<uint32_t>(std::min<uint64_t>(remaining() - 1, LR_MAX_FOLLOWING_BLKS));
      holes.assign(entries, 0);
    }
  }
  file_holes_ = std::move(holes);
  file_pos_ = 0;
  file_inum_ = kFileInumBase + files_done_;
  file_gen_ = rng_.between(1, kMaxGen);
  file_size_ = size_within(rng_, entries);
  in_file_ = true;
}

void StreamGenerator::file_chunk(Block& out) {
  const uint32_t total = static_cast<uint32_t>(file_holes_.size());
  const uint32_t n = std::min<uint32_t>(total - file_pos_, LR_MAX_FOLLOWING_BLKS);
  FileHeaderFields fields;
  fields.sync = next_file_phase_sync();
  fields.blk_num = static_cast<uint32_t>(full_index_);
  fields.inumber = file_inum_;
  fields.gennum = file_gen_;
  fields.size = file_size_;
  fields.first_fbn = file_pos_;
  fields.holes.assign(file_holes_.begin() + file_pos_, file_holes_.begin() + file_pos_ + n);
  file_pos_ += n;
  if (file_pos_ >= total) {
    in_file_ = false;
    ++files_done_;
  }
  emit_header(out, file_header(fields), data_blocks_of(fields.holes), Data::plain);
}

bool StreamGenerator::file_phase_attr(Block& out) {
  const uint32_t j = attrs_done_++;
  const uint32_t entries = rng_.between(1, kMaxAttrBlocks);
  ExtAttrFields fields;
  fields.holes = random_holes(entries);
  const uint32_t data = data_blocks_of(fields.holes);
  if (shape_.total_blocks != 0 && 1 + uint64_t{data} > remaining()) return false;
  fields.sync = next_file_phase_sync();
  fields.blk_num = static_cast<uint32_t>(full_index_);
  fields.inumber = kAttrInumBase + shape_.tree_ext_attrs + j;
  fields.gennum = rng_.between(1, kMaxGen);
  fields.base_file_inum = files_done_ ? file_inum_ : kRootInum;
  fields.type = 1 + j % kValidAttrTypes;
  if (fields.type == EXT_ATTR_TYPE_NT_ALTERNATE_DATA)
    fields.stream_name = "stream_" + std::to_string(j);
  fields.size = size_within(rng_, entries);
  emit_header(out, ext_attr_header(fields), data, Data::plain);
  return true;
}

void StreamGenerator::emit_header(Block& out, const Block& header, uint32_t data_blocks,
                                  Data kind) {
  out = header;
  ++produced_;
  ++full_index_;
  const bool file_phase = phase_ == Phase::files || phase_ == Phase::done;
  if (file_phase && shape_.file_phase_headers_only) {
    full_index_ += data_blocks;  // left out, but still counted in block numbers
    data_left_ = 0;
  } else {
    data_left_ = data_blocks;
  }
  data_kind_ = kind;
}

uint32_t StreamGenerator::next_file_phase_sync() {
  const uint32_t k = file_phase_headers_++;
  return LRD_RESTART_FILE_PHASE_BASE + (shape_.headers_per_sync ? k / shape_.headers_per_sync : 0);
}

uint64_t StreamGenerator::remaining() const {
  const uint64_t reserved = full_index_ + (shape_.end_header ? 1 : 0);
  return shape_.total_blocks > reserved ? shape_.total_blocks - reserved : 0;
}

uint32_t StreamGenerator::due(uint32_t total) const {
  // Spread over the files; all at once when the file count is open.
  if (shape_.total_blocks != 0 || shape_.files == 0) return total;
  return static_cast<uint32_t>((uint64_t{files_done_} * total + shape_.files - 1) / shape_.files);
}

HolePattern StreamGenerator::random_holes(uint32_t entries) {
  HolePattern p(entries, 0);
  for (uint8_t& h : p) h = rng_.chance(shape_.hole_ratio) ? 1 : 0;
  return p;
}

Stream generate_stream(const StreamShape& shape) {
  Stream s;
  if (shape.total_blocks != 0) s.reserve(shape.total_blocks);
  StreamGenerator gen(shape);
  Block b;
  while (gen.next(b)) s.push_back(b);
  return s;
}

Stream minimal_stream() {
  Stream s;
  s.push_back(start_header());
  FileHeaderFields dir;
  dir.blk_num = 1;
  dir.file_type = FILE_TYPE_DIRECTORY;
  dir.inumber = kDirInumBase;
  dir.size = LR_BLOCK_SIZE;
  dir.holes = HolePattern(1, 0);
  dir.dir_num = 1;
  s.push_back(file_header(dir));
  s.push_back(generated_dir_block(mix_seed(0, 2), kEntryInumBase, false));
  s.push_back(mid_stream_header(LRD_RESTART_FILE_PHASE_BASE, 3));
  FileHeaderFields file;
  file.sync = LRD_RESTART_FILE_PHASE_BASE;
  file.blk_num = 4;
  file.inumber = kFileInumBase;
  file.size = 3 * LR_BLOCK_SIZE;
  file.holes = holes_at(3, {1});
  s.push_back(file_header(file));
  s.push_back(data_block(mix_seed(0, 5)));
  s.push_back(data_block(mix_seed(0, 6)));
  s.push_back(end_of_stream_header(LRD_RESTART_FILE_PHASE_BASE, 7));
  return s;
}

}  // namespace kit
