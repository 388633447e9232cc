// Writing streams as dump sets (files named "prefix.N") the way the capture
// tool leaves them, plain or as containers, with the irregular layouts tests
// need: several prefixes, empty files, gaps in the numbering, trailing
// partial blocks. And reading a set back.
#ifndef REHEARSAL_DUMP_WRITER_H
#define REHEARSAL_DUMP_WRITER_H

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "rehearsal/block.h"
#include "rehearsal/container_writer.h"
#include "rehearsal/dump_format.h"

namespace kit {

// The name of file `number` of a set: "%s.%d".
std::string dump_file_name(const std::string& prefix, int number);
// The writer's checkpoint file for a synchronisation point: "%s-checkpoint-writer.%d".
std::string checkpoint_file_name(const std::string& prefix, uint32_t sync);

// Marks a file that takes all blocks still to come.
constexpr uint64_t kRestOfStream = UINT64_MAX;

struct DumpFilePlan {
  // Keeps the brace form DumpFilePlan{prefix, number, blocks, tail, format} valid.
  DumpFilePlan(size_t prefix_index = 0, int file_number = 0, uint64_t block_count = 0,
               size_t tail = 0, DumpFormat file_format = DumpFormat::plain)
      : prefix(prefix_index),
        number(file_number),
        blocks(block_count),
        tail_bytes(tail),
        format(file_format) {}

  size_t prefix = 0;      // index into DumpSetLayout::prefixes
  int number = 0;         // the file is named dump_file_name(prefix, number)
  uint64_t blocks = 0;    // stream blocks it holds (0: an empty file), or kRestOfStream
  size_t tail_bytes = 0;  // bytes of a partial block appended after them (below 4096; plain only)
  DumpFormat format = DumpFormat::plain;
  std::optional<ContainerOptions> container;  // this container's options; unset: the layout's
};

// Files are written in the order listed and take the stream's blocks in that order.
struct DumpSetLayout {
  std::vector<std::string> prefixes;
  std::vector<DumpFilePlan> files;
  ContainerOptions container;  // options of every container file without its own
  // How the stream is laid out, to find its headers (and so the chunks a
  // new synchronisation point closes): Form::stripped for the inflating
  // mode's input.
  Form form = Form::full;
};

// One prefix; file k holds blocks_per_file[k] blocks; blocks left after the
// listed files go into one more file.
DumpSetLayout split_layout(const std::string& prefix, const std::vector<uint64_t>& blocks_per_file);
// Several prefixes: per_prefix[p] lists the block counts of the files under prefix p.
DumpSetLayout multi_prefix_layout(const std::vector<std::string>& prefixes,
                                  const std::vector<std::vector<uint64_t>>& per_prefix);
// Files of `per_file` blocks each (the last one may hold fewer) for a stream
// of `total` blocks; at least one file.
DumpSetLayout even_layout(const std::string& prefix, uint64_t total, uint64_t per_file);
// Moves the files of prefix `prefix` numbered `number` and above up by one,
// so that file `number` is missing from the set.
void leave_gap(DumpSetLayout& layout, size_t prefix, int number);
// Gives every file of the layout the format `format`.
void set_format(DumpSetLayout& layout, DumpFormat format);

struct DumpSetResult {
  std::vector<std::string> files;       // names written, in order
  std::vector<DumpFileInfo> file_info;  // what each of them holds, in the same order
  uint64_t blocks = 0;
  uint64_t bytes = 0;  // stream bytes taken, with the trailing partial blocks
  std::string error;
  bool ok() const { return error.empty(); }
};

// Writes a set block by block, holding at most one file open: for streams
// too large for memory.
class DumpSetWriter {
 public:
  explicit DumpSetWriter(DumpSetLayout layout);
  ~DumpSetWriter();
  DumpSetWriter(const DumpSetWriter&) = delete;
  DumpSetWriter& operator=(const DumpSetWriter&) = delete;

  // False (with result().error) when the layout has no room left or a write fails.
  bool add(const Block& b);
  // Closes the last file and creates the empty files still listed; fails
  // when a listed file would need blocks that never came.
  bool finish();
  const DumpSetResult& result() const { return result_; }

 private:
  bool open_next();
  bool close_current();
  bool file_open() const { return current_ != nullptr || container_.is_open(); }
  bool fail(const std::string& what);

  DumpSetLayout layout_;
  DumpSetResult result_;
  size_t next_file_ = 0;           // index in layout_.files of the next file to open
  FILE* current_ = nullptr;        // the open plain file, or null
  ContainerFileWriter container_;  // the open container, when is_open()
  uint64_t current_first_ = 0;     // stream index of the open file's first block
  uint64_t current_left_ = 0;      // blocks still to go into it
  HeaderWalker walk_;              // finds the headers across the whole set
  bool seen_header_ = false;
  uint32_t last_sync_ = 0;  // synchronisation point of the last header met
};

DumpSetResult write_dump_set(const DumpSetLayout& layout, const Stream& blocks);
DumpSetResult write_plain_set(const std::string& prefix, const Stream& blocks,
                              const std::vector<uint64_t>& blocks_per_file);
// The same split (split_layout), every file a container of `format`.
DumpSetResult write_container_set(const std::string& prefix, const Stream& blocks,
                                  const std::vector<uint64_t>& blocks_per_file, DumpFormat format,
                                  const ContainerOptions& options);

// Reading back, as the writer finds the set: per prefix, files 0, 1, ...
// up to the first missing number.
struct SetBytes {
  std::string bytes;               // every file's bytes, in order
  std::vector<std::string> files;  // the files read
  std::string error;
};
SetBytes read_set_bytes(const std::vector<std::string>& prefixes);
// The whole blocks of a byte string (a trailing partial block is left out).
Stream blocks_of(const std::string& bytes);
// A whole file; false with `error` set when it cannot be read.
bool read_file(const std::string& path, std::string& out, std::string& error);

}  // namespace kit

#endif  // REHEARSAL_DUMP_WRITER_H
