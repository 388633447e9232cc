// Generation of realistic, well-formed replication streams: a start header,
// the tree phase (directories with their directory blocks, deleted-file and
// stream-directory lists, attributes), the mid-stream header, the file phase
// (regular files with data blocks and holes, attributes, discards, rising
// synchronisation points) and the end-of-stream header. Every stream passes
// the structure check and the inflating-mode header rules (stream_check.h).
#ifndef REHEARSAL_STREAM_GEN_H
#define REHEARSAL_STREAM_GEN_H

#include <cstdint>
#include <vector>

#include "rehearsal/block.h"
#include "rehearsal/block_builders.h"
#include "rehearsal/rng.h"

namespace kit {

struct StreamShape {
  uint64_t seed = 1;
  uint32_t directories = 3;      // tree phase: 1 to 3 directory blocks each
  uint32_t files = 6;            // file phase: regular files (ignored when total_blocks is set)
  uint32_t min_file_blocks = 0;  // entry positions (data blocks and holes) per file;
  uint32_t max_file_blocks = 8;  // files above 512 continue in further headers
  double hole_ratio = 0.1;       // share of a file's positions that are holes
  uint32_t tree_ext_attrs = 1;   // EXT_ATTR headers of the tree phase
  uint32_t ext_attrs = 2;        // EXT_ATTR headers of the file phase
  uint32_t deleted_file_headers = 1;
  uint32_t strmdir_headers = 1;
  uint32_t discard_headers = 1;
  uint32_t headers_per_sync = 4;  // file-phase headers per synchronisation point; 0: all at 101
  bool end_header = true;         // false: the stream stops without LR_HDR_END_OF_STREAM
  // When not 0, regular files are added until the stream holds exactly this
  // many blocks (never fewer than the start header, the tree phase, the
  // mid-stream header and the end header need).
  uint64_t total_blocks = 0;
  // The form the inflating mode reads: file-phase headers without their data
  // blocks. Headers keep their numbers in the full stream.
  bool file_phase_headers_only = false;
  StartInfo start;
};

// Produces the stream one block at a time, holding none of it: for streams
// too large for memory. Yields exactly the blocks generate_stream returns.
class StreamGenerator {
 public:
  explicit StreamGenerator(const StreamShape& shape);
  // The next block; false when the stream is complete.
  bool next(Block& out);
  // Blocks produced so far.
  uint64_t produced() const { return produced_; }

 private:
  enum class Phase { start, dirs, deleted, strmdir, tree_attrs, mid, files, end, done };
  enum class Data { none, dir, plain };

  bool plan_header(Block& out);
  bool plan_file_phase(Block& out);
  void begin_file();
  void file_chunk(Block& out);
  bool file_phase_attr(Block& out);
  void emit_header(Block& out, const Block& header, uint32_t data_blocks, Data kind);
  uint32_t next_file_phase_sync();
  uint64_t remaining() const;  // blocks left for the file phase in budget mode
  uint32_t due(uint32_t total) const;
  HolePattern random_holes(uint32_t entries);

  StreamShape shape_;
  Rng rng_;
  Phase phase_ = Phase::start;
  uint64_t produced_ = 0;
  uint64_t full_index_ = 0;  // index of the next block in the full stream
  uint32_t data_left_ = 0;   // data blocks still due after the last header
  Data data_kind_ = Data::none;
  uint32_t dir_blocks_total_ = 0;  // directory being written: its block count
  uint32_t dir_entry_inum_ = 0;    // next inode for directory entries
  uint32_t counter_ = 0;           // items done in the current tree-phase step
  uint32_t file_phase_headers_ = 0;
  uint32_t files_done_ = 0;
  uint32_t attrs_done_ = 0;
  uint32_t discards_done_ = 0;
  // The regular file being written.
  bool in_file_ = false;
  uint32_t file_inum_ = 0;
  uint32_t file_gen_ = 0;
  uint64_t file_size_ = 0;
  uint32_t file_pos_ = 0;  // entry positions already announced
  HolePattern file_holes_;
};

// The whole stream in memory.
Stream generate_stream(const StreamShape& shape);

// The smallest well-formed stream, 8 blocks: start header; directory FILE
// header (1 entry) and its directory block; mid-stream header (101); regular
// FILE header (3 entries, hole at position 1) and its 2 data blocks;
// end-of-stream header (101).
Stream minimal_stream();

}  // namespace kit

#endif  // REHEARSAL_STREAM_GEN_H
