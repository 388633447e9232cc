// What a restarted transfer must deliver, worked out from a stored dump set
// and the checkpoint rules alone: which header each writer run checkpoints,
// the block count it records there, and the block a restart from that
// checkpoint resumes with (the header itself in a plain file; in a container
// the header's chunk, or the chunk after it).
#ifndef TESTS_E2E_RESTART_MODEL_H
#define TESTS_E2E_RESTART_MODEL_H

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "rehearsal/block.h"
#include "rehearsal/dump_writer.h"
#include "rehearsal/stream_gen.h"

namespace restarts {

// The index of the first header of `stream` that carries `point`: where a
// transfer from the start takes that point's checkpoint.
std::optional<size_t> opening_header(const kit::Stream& stream, uint32_t point);

// The block a restart resumes with after loading the checkpoint taken at
// stream block `header` for `point`: the header itself in a plain set; in a
// container the header's chunk again when the first word of the header's
// data area is not 0, else (and always at the first file-phase point) the
// chunk after it. Equal to the stream size when no chunk follows.
size_t resume_block(const kit::Stream& stream, const std::vector<kit::DumpFileInfo>& files,
                    size_t header, uint32_t point);

// The block count a writer checkpoint file records (blk_num, a
// little-endian int64 at offset 48); -1 when it cannot be read or is
// shorter.
int64_t recorded_count(const std::string& checkpoint_file);

// A dump set to interrupt and restart.
struct SetRecipe {
  std::string name;
  kit::DumpFormat format = kit::DumpFormat::plain;
  kit::StreamShape shape;
  // Block counts of the files under each prefix (one prefix per entry);
  // what they leave goes into one more file of the last prefix.
  std::vector<std::vector<uint64_t>> files_per_prefix;
  kit::ContainerOptions container;
  // Tree-phase headers carry the tree restart points instead of 0, so that
  // tree-phase checkpoint files exist too.
  bool tree_points = false;
  // Every n-th header that opens a file-phase point gets a non-zero first
  // data word (a container then reads that header's chunk again); 0: none.
  uint32_t nonzero_every = 0;
};

// The set as written, and the rules applied to it.
class StoredSet {
 public:
  // Generates the stream and writes the set in `dir`; empty on success, else
  // what failed.
  std::string store(const std::string& dir, const SetRecipe& recipe);

  const SetRecipe& recipe() const { return recipe_; }
  const kit::Stream& stream() const { return stream_; }
  const std::vector<std::string>& prefixes() const { return prefixes_; }
  bool container() const { return kit::is_container(recipe_.format); }
  // The writer's arguments: the prefixes (an encrypted set's password is typed at
  // the prompt).
  std::vector<std::string> writer_args() const;

  // Stream indices of the headers, in order.
  const std::vector<size_t>& headers() const { return headers_; }
  bool header_at(size_t index) const;
  // The block a restart resumes with after loading the checkpoint that was
  // taken at header `header` for `point`. Equal to the stream size when the
  // rules leave nothing to read.
  size_t resume_block(size_t header, uint32_t point) const;
  // Containers: the chunk header (in its file's table) that lists the chunk
  // holding stream block `block`; 0 for plain sets.
  int chunk_header_of(size_t block) const;
  // The synchronisation point of the last header in stream[first, end), if any.
  std::optional<uint32_t> last_point(size_t first, size_t end) const;

 private:
  SetRecipe recipe_;
  kit::Stream stream_;
  std::vector<std::string> prefixes_;
  std::vector<kit::DumpFileInfo> files_;
  std::vector<size_t> headers_;
  std::vector<bool> is_header_;
};

// A checkpoint file as the rules make it.
struct Checkpoint {
  size_t header = 0;   // stream index of the header it was taken at
  uint64_t count = 0;  // blk_num: the count a restart from it reports
};

// The checkpoints that the writer runs of one trial have left. A run records
// one at every header whose point differs from the previous header's (the
// restart point before the first), with the count the run started from plus
// the blocks it sent before that header, and one more at the first
// file-phase point.
class CheckpointModel {
 public:
  // A run that restarted from `from` (0 for a fresh transfer), began sending
  // at stream index `first` with the count `count`, and processed the
  // headers in stream[first, end).
  void run(const StoredSet& set, uint32_t from, size_t first, uint64_t count, size_t end);
  std::optional<Checkpoint> at(uint32_t point) const;
  void clear() { points_.clear(); }

 private:
  std::map<uint32_t, Checkpoint> points_;
};

}  // namespace restarts

#endif  // TESTS_E2E_RESTART_MODEL_H
