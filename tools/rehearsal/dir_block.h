// Directory data blocks: packing entry records (lr_dir_entry_hdr followed by
// its name records) into a block, generating realistic blocks, and the walk
// that decides whether a block is well formed.
#ifndef REHEARSAL_DIR_BLOCK_H
#define REHEARSAL_DIR_BLOCK_H

#include <cstdint>
#include <string>
#include <vector>

#include "rehearsal/block.h"

namespace kit {

struct DirName {
  uint8_t type = LRN_NFS_LONG;  // lrd_dh_name_type
  std::string bytes;            // as stored: 16-bit units, low byte first, for LRN_UNICODE_*
};

struct DirEntry {
  uint32_t inum = 0;
  uint32_t gen = 1;
  uint8_t action = LR_DIR_CREATE;
  std::vector<DirName> names;
};

// An ASCII name as a LRN_UNICODE_LONG name.
DirName unicode_name(const std::string& ascii);
// Size of one name record: its 8-byte head and the name, padded to a multiple of 8.
size_t dir_name_record_size(const DirName& name);
// dh_len of an entry: 32 plus the record size of each of its names.
size_t dir_entry_size(const DirEntry& entry);

// Packs the entries from offset 0 and closes them with an LR_END_OF_DATA
// record when 32 bytes or more remain. False (and `out` unspecified) when
// they do not fit in one block.
bool pack_dir_block(const std::vector<DirEntry>& entries, Block& out);

// A generated directory block with entries for inodes from `first_inum` on:
// as many as fit when `fill` is set, else 1 to 8 of them. `entries_written`
// (optional) receives the count.
Block generated_dir_block(uint64_t seed, uint32_t first_inum, bool fill,
                          uint32_t* entries_written = nullptr);

// Walks the block as a destination does; empty when it is well formed, else
// the first fault with its offset.
std::string check_dir_block(const Block& b);

}  // namespace kit

#endif  // REHEARSAL_DIR_BLOCK_H
