// Builders for single stream blocks: every header type with consistent
// counts, and data blocks with deterministic content. Each header builder
// takes the synchronisation point and the block's index in the stream
// (h_blk_num); everything else not given is filled with plausible values.
#ifndef REHEARSAL_BLOCK_BUILDERS_H
#define REHEARSAL_BLOCK_BUILDERS_H

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "rehearsal/block.h"

namespace kit {

// What the start header's negotiation reply says about the source.
struct StartInfo {
  std::string src_machine = "brix-source";
  std::string src_path = "/vol/vol1/projects";
  uint32_t lr_maj_version = 4;
  uint32_t lr_min_version = 0;
  uint32_t system_type = NDR_SYSTEM_TYPE_LINUX;
};

// LR_HDR_START_STREAM at index 0, sync 0, with ndr_errcode 0 and ndr_blks_done 0.
Block start_header(const StartInfo& info = StartInfo());
// LR_HDR_MID_STREAM; d_blknos[0] holds its own index.
Block mid_stream_header(uint32_t sync, uint32_t blk_num);
Block end_of_stream_header(uint32_t sync, uint32_t blk_num);
// Lists of `entries` (at most 256) consecutive inodes from `first_inum`.
Block deleted_file_header(uint32_t sync, uint32_t blk_num, uint32_t entries, uint32_t first_inum);
Block strmdir_header(uint32_t sync, uint32_t blk_num, uint32_t entries, uint32_t first_inum);
Block discard_header(uint32_t sync, uint32_t blk_num, uint32_t inumber);

// One byte per entry position: 1 = hole, 0 = a data block follows the header.
using HolePattern = std::vector<uint8_t>;
// `entries` positions with holes at the given indices.
HolePattern holes_at(size_t entries, std::initializer_list<size_t> hole_indices);
// Data blocks that a pattern announces (its zero bytes).
uint32_t data_blocks_of(const HolePattern& holes);

struct FileHeaderFields {
  uint32_t sync = 0;
  uint32_t blk_num = 0;
  uint32_t file_type = FILE_TYPE_REGULAR;
  uint32_t inumber = 96;
  uint32_t gennum = 1;
  uint64_t size = 0;       // ri_size
  uint32_t first_fbn = 0;  // file block of the first entry (d_blknos counts up from it)
  HolePattern holes;       // entries; at most 512
  uint32_t dir_num = 0;    // h_dir_num, for directories
};
// LR_HDR_FILE: h_valid_data_entries = entries, h_hole_entries = holes,
// h_blks_until_hdr = entries - holes, h_holes and d_blknos from the pattern.
Block file_header(const FileHeaderFields& fields);

struct ExtAttrFields {
  uint32_t sync = 0;
  uint32_t blk_num = 0;
  uint32_t inumber = 200000;  // the attribute's own inode
  uint32_t gennum = 1;
  uint32_t base_file_inum = 96;  // the file it belongs to
  uint32_t type = EXT_ATTR_TYPE_NT_ACL;
  uint64_t size = 0;  // rea_size
  HolePattern holes;
  std::string stream_name;  // for EXT_ATTR_TYPE_NT_ALTERNATE_DATA: stored as 16-bit units in spares
};
// LR_HDR_EXT_ATTR with counts from the pattern as for file_header.
Block ext_attr_header(const ExtAttrFields& fields);

// A data block of pseudo-random bytes from `seed`, never starting with the
// header magic.
Block data_block(uint64_t seed);
// The same content with the header magic as its first word.
Block data_block_with_magic(uint64_t seed);

}  // namespace kit

#endif  // REHEARSAL_BLOCK_BUILDERS_H
