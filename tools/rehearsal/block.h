// Stream blocks as the rehearsal engine handles them: the 4096-byte Block, typed
// views of its header record, host-order field reads and writes (through the
// marshal operations), and the small edits tests use to build malformed
// variants of a well-formed stream.
#ifndef REHEARSAL_BLOCK_H
#define REHEARSAL_BLOCK_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "lr.h"
#include "marshal.h"

namespace kit {

struct alignas(8) Block {
  unsigned char bytes[LR_BLOCK_SIZE];
};
static_assert(sizeof(Block) == LR_BLOCK_SIZE, "a Block is exactly one stream block");

using Stream = std::vector<Block>;

// Typed views of a block. The fields hold stream (little-endian) order: read
// and write them with the marshal operations or the helpers below.
lr_hdr& hdr_block(Block& b);
const lr_hdr& hdr_block(const Block& b);
lr_hdr_info& hdr(Block& b);
const lr_hdr_info& hdr(const Block& b);

// A block is a header exactly when it starts with the header magic.
inline bool is_header(const Block& b) { return lr_is_header(b.bytes); }

// Host-order reads of the header fields the engine works with.
int32_t hdr_type(const Block& b);
uint32_t sync_num(const Block& b);
uint32_t blk_num(const Block& b);
uint32_t following_blocks(const Block& b);  // h_blks_until_hdr
uint32_t valid_entries(const Block& b);
uint32_t hole_entries(const Block& b);
uint32_t file_type(const Block& b);  // ri_file_type
uint32_t ea_type(const Block& b);    // rea_type
uint64_t blks_done(const Block& b);  // ndr_blks_done of a start header

// Header types that may carry data blocks (FILE and EXT_ATTR).
inline bool carries_data(int32_t type) { return type == LR_HDR_FILE || type == LR_HDR_EXT_ATTR; }
// The header types that exist (1 to 6, 1024, 1025).
bool is_valid_hdr_type(int32_t type);
// Directory file types, whose data blocks hold directory entries.
inline bool is_directory_type(uint32_t type) {
  return type == FILE_TYPE_DIRECTORY || type == FILE_TYPE_NTSTREAM_DIR;
}

// Host-order writes, for building and for damaging headers.
void set_hdr_type(Block& b, int32_t type);
void set_sync_num(Block& b, uint32_t sync);
void set_blk_num(Block& b, uint32_t num);
void set_following_blocks(Block& b, uint32_t n);
void set_valid_entries(Block& b, uint32_t n);
void set_hole_entries(Block& b, uint32_t n);
void set_file_type(Block& b, uint32_t type);
void set_ea_type(Block& b, uint32_t type);
void set_blks_done(Block& b, uint64_t n);
// Overwrites the first word so that the block is no longer a header.
void break_magic(Block& b);
// Writes the header magic as the first word (a data block that looks like a header).
void put_magic(Block& b);

// Raw little-endian access at a byte offset of the block.
uint32_t get_u32(const Block& b, size_t offset);
void put_u32(Block& b, size_t offset, uint32_t value);

// ---------------------------------------------------------------------------
// Walking a stream by its structure: a header is due at index 0 and after the
// h_blks_until_hdr data blocks of each header. The walk stops at the first
// due block that is not a header.

// How the stream is laid out: the full stream, or the inflating mode's input
// whose file-phase headers (after the mid-stream header) stand without their
// data blocks.
enum class Form { full, stripped };

// The same walk one block at a time, for streams that are never held whole.
class HeaderWalker {
 public:
  explicit HeaderWalker(Form form = Form::full) : form_(form) {}
  // Takes the next block of the stream; true when it is a header due here.
  // A due block without the magic ends the structure: lost() turns true and
  // every later block is taken as data.
  bool next(const Block& b);
  bool lost() const { return lost_; }

 private:
  Form form_;
  uint64_t data_due_ = 0;    // data blocks still to come before the next header
  bool file_phase_ = false;  // the mid-stream header has passed
  bool lost_ = false;
};

// Indices of the headers met by the walk.
std::vector<size_t> header_indices(const Stream& s, Form form = Form::full);
// Index of the n-th (from 0) header of the given type met by the walk, or -1.
long find_header(const Stream& s, int32_t type, size_t nth = 0, Form form = Form::full);
// Sets every header's h_blk_num to its index, after blocks were inserted or erased.
void renumber_headers(Stream& s);

}  // namespace kit

#endif  // REHEARSAL_BLOCK_H
