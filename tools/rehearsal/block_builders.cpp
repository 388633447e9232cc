// Builders for single stream blocks with consistent header counts.
#include "rehearsal/block_builders.h"

#include <algorithm>
#include <cstring>

#include "rehearsal/rng.h"

namespace kit {

namespace {

// Plausible metadata: the values matter to nobody but must look real.
constexpr int32_t kBaseTime = 1700000000;  // seconds, late 2023
constexpr uint32_t kFilePerms = 0644;
constexpr uint32_t kDirPerms = 0755;
constexpr uint32_t kOwner = 1000;
constexpr uint32_t kQtreeId = 7;
constexpr uint32_t kQtreeRootInum = 64;
constexpr uint32_t kQtreeFsid = 0x2A5E;
constexpr uint32_t kSnapId = 12;
constexpr uint32_t kVolMaxInum = 1u << 24;

uint32_t wire(uint32_t v) { return marshal_uint4(v); }
int32_t wire_s(int32_t v) { return static_cast<int32_t>(marshal_uint4(static_cast<uint32_t>(v))); }

void copy_text(char* dst, size_t width, const std::string& text) {
  const size_t n = text.size() < width - 1 ? text.size() : width - 1;
  memcpy(dst, text.data(), n);
  dst[n] = '\0';
}

Block header_block(int32_t type, uint32_t sync, uint32_t blk_num) {
  Block b{};
  put_magic(b);
  set_hdr_type(b, type);
  set_sync_num(b, sync);
  set_blk_num(b, blk_num);
  return b;
}

// A header about one object (a file or an attribute) with its inode.
Block object_header(int32_t type, uint32_t sync, uint32_t blk_num, uint32_t inumber,
                    uint32_t gennum) {
  Block b = header_block(type, sync, blk_num);
  hdr(b).h_inumber = wire(inumber);
  hdr(b).h_gennum = wire(gennum);
  return b;
}

void put_size(uint32_t (&words)[2], uint64_t size) {
  words[0] = wire(static_cast<uint32_t>(size));
  words[1] = wire(static_cast<uint32_t>(size >> 32));
}

// Entry counts, h_holes and the following-block count from a hole pattern.
void put_entries(Block& b, const HolePattern& holes) {
  lr_hdr_info& h = hdr(b);
  const size_t n = std::min<size_t>(holes.size(), LR_MAX_HOLE_ENTRIES);
  uint32_t hole_count = 0;
  for (size_t i = 0; i < n; ++i) {
    h.h_holes[i] = static_cast<char>(holes[i]);
    hole_count += holes[i] == 1;
  }
  set_valid_entries(b, static_cast<uint32_t>(n));
  set_hole_entries(b, hole_count);
  set_following_blocks(b, static_cast<uint32_t>(n) - hole_count);
}

void put_times(lr_inode& ri, int32_t when) {
  ri.ri_atime_sec = ri.ri_mtime_sec = ri.ri_ctime_sec = ri.ri_crtime_sec = wire_s(when);
}

void fill_random(Block& b, uint64_t seed) {
  Rng rng(seed);
  for (size_t off = 0; off < LR_BLOCK_SIZE; off += sizeof(uint64_t)) {
    const uint64_t v = rng.next();
    memcpy(b.bytes + off, &v, sizeof v);
  }
}

}  // namespace

Block start_header(const StartInfo& info) {
  Block b = header_block(LR_HDR_START_STREAM, LRD_RESTART_BASE, 0);
  lr_neg_data_reply& r = hdr_block(b).u_lr_hdr_data.d_neg;
  r.ndr_errcode = wire_s(RPL_NEG_SUCCESS);
  r.ndr_qtree_id = wire(kQtreeId);
  r.ndr_qtree_root_inum = wire(kQtreeRootInum);
  r.ndr_qtree_root_gen_num = wire(1);
  r.ndr_qtree_root_fsid = wire(kQtreeFsid);
  r.ndr_new_snap_id = wire(kSnapId);
  r.ndr_new_snap_cp_count = wire(kSnapId);
  r.ndr_new_snap_sec = wire_s(kBaseTime);
  r.ndr_vol_max_inum = wire(kVolMaxInum);
  copy_text(r.ndr_src_machine, sizeof r.ndr_src_machine, info.src_machine);
  copy_text(r.ndr_src_path, sizeof r.ndr_src_path, info.src_path);
  r.ndr_lr_maj_version = wire(info.lr_maj_version);
  r.ndr_lr_min_version = wire(info.lr_min_version);
  r.ndr_system_type = wire(info.system_type);
  set_blks_done(b, 0);
  return b;
}

Block mid_stream_header(uint32_t sync, uint32_t blk_num) {
  Block b = header_block(LR_HDR_MID_STREAM, sync, blk_num);
  hdr_block(b).u_lr_hdr_data.d_blknos[0] = wire(blk_num);
  return b;
}

Block end_of_stream_header(uint32_t sync, uint32_t blk_num) {
  return header_block(LR_HDR_END_OF_STREAM, sync, blk_num);
}

Block deleted_file_header(uint32_t sync, uint32_t blk_num, uint32_t entries, uint32_t first_inum) {
  Block b = header_block(LR_HDR_DELETED_FILE, sync, blk_num);
  set_valid_entries(b, entries);
  for (uint32_t i = 0; i < entries && i < LR_MAX_LIST_ENTRIES; ++i) {
    hdr_block(b).u_lr_hdr_data.d_deleted_files[i].deleted_fid = wire(first_inum + i);
    hdr_block(b).u_lr_hdr_data.d_deleted_files[i].deleted_gen = wire(1 + i % 3);
  }
  return b;
}

Block strmdir_header(uint32_t sync, uint32_t blk_num, uint32_t entries, uint32_t first_inum) {
  Block b = header_block(LR_HDR_STRMDIR_RELATIONSHIP, sync, blk_num);
  set_valid_entries(b, entries);
  for (uint32_t i = 0; i < entries && i < LR_MAX_LIST_ENTRIES; ++i) {
    hdr_block(b).u_lr_hdr_data.d_ntstream_maps[i].has_stream_fid = wire(first_inum + 2 * i);
    hdr_block(b).u_lr_hdr_data.d_ntstream_maps[i].stream_dir_fid = wire(first_inum + 2 * i + 1);
  }
  return b;
}

Block discard_header(uint32_t sync, uint32_t blk_num, uint32_t inumber) {
  return object_header(LR_HDR_DISCARD_DATA, sync, blk_num, inumber, 0);
}

HolePattern holes_at(size_t entries, std::initializer_list<size_t> hole_indices) {
  HolePattern p(entries, 0);
  for (size_t i : hole_indices) {
    if (i < entries) p[i] = 1;
  }
  return p;
}

uint32_t data_blocks_of(const HolePattern& holes) {
  uint32_t n = 0;
  for (uint8_t h : holes) n += h == 0;
  return n;
}

Block file_header(const FileHeaderFields& fields) {
  Block b = object_header(LR_HDR_FILE, fields.sync, fields.blk_num, fields.inumber, fields.gennum);
  lr_hdr_info& h = hdr(b);
  lr_inode& ri = h.h_file_metadata;
  const bool dir = is_directory_type(fields.file_type);
  ri.ri_file_type = wire(fields.file_type);
  ri.ri_nlink = wire(dir ? 2 : 1);
  ri.ri_perms = wire(dir ? kDirPerms : kFilePerms);
  ri.ri_uid = ri.ri_gid = wire(kOwner);
  put_size(ri.ri_size, fields.size);
  put_times(ri, kBaseTime + static_cast<int32_t>(fields.inumber % 86400));
  if (dir) h.h_dir_num = wire(fields.dir_num);
  put_entries(b, fields.holes);
  for (size_t i = 0; i < fields.holes.size() && i < LR_MAX_FOLLOWING_BLKS; ++i) {
    hdr_block(b).u_lr_hdr_data.d_blknos[i] = wire(fields.first_fbn + static_cast<uint32_t>(i));
  }
  return b;
}

Block ext_attr_header(const ExtAttrFields& fields) {
  Block b =
      object_header(LR_HDR_EXT_ATTR, fields.sync, fields.blk_num, fields.inumber, fields.gennum);
  lr_hdr_info& h = hdr(b);
  lr_ext_attr_info& ea = h.h_attr_metadata;
  ea.rea_base_file_inum = wire(fields.base_file_inum);
  ea.rea_type = wire(fields.type);
  put_size(ea.rea_size, fields.size);
  if (fields.type == EXT_ATTR_TYPE_NT_ALTERNATE_DATA) {
    // The stream's name as 16-bit code units, least significant byte first.
    const size_t units = std::min<size_t>(fields.stream_name.size(), LR_HDR_SPARES_SIZE / 2);
    for (size_t i = 0; i < units; ++i) {
      hdr_block(b).spares[2 * i] = fields.stream_name[i];
      hdr_block(b).spares[2 * i + 1] = 0;
    }
    ea.rea_attr_name_size = marshal_uint2(static_cast<uint16_t>(2 * units));
    ea.rea_nametype = LRN_UNICODE_LONG;
  }
  put_entries(b, fields.holes);
  return b;
}

Block data_block(uint64_t seed) {
  Block b;
  fill_random(b, seed);
  if (is_header(b)) b.bytes[0] ^= 0xFF;
  return b;
}

Block data_block_with_magic(uint64_t seed) {
  Block b;
  fill_random(b, seed);
  put_magic(b);
  return b;
}

}  // namespace kit
