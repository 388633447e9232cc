// The logical-replication stream format: 4096-byte blocks, the header
// records at the start of header blocks, the negotiation request and reply,
// the directory-entry records inside directory data blocks, and every
// enumeration and constant of the format. All integers are little-endian on
// the wire; read them only through the marshal operations (marshal.h).
#ifndef BRIX_LR_H
#define BRIX_LR_H

#include <cstddef>
#include <cstdint>

#include "types.h"

// ---------------------------------------------------------------------------
// Constants of the format

enum : uint32_t {
  LR_BLOCK_SIZE = 4096,       // every stream block, header or data
  LR_HDR_MAGIC = 0x000134FD,  // first word of every header block
  LR_DIR_ENTRY_MAGIC = 0x74257691,
  LR_MAX_FOLLOWING_BLKS = 512,  // data blocks after one FILE/EXT_ATTR header
  LR_MAX_HOLE_ENTRIES = 512,    // bytes of h_holes
  LR_MAX_LIST_ENTRIES = 256,    // DELETED_FILE / STRMDIR_RELATIONSHIP lists
  LR_HDR_INFO_AREA_SIZE = 1024,
  LR_HDR_DATA_AREA_SIZE = 2048,
  LR_HDR_DATA_OFFSET = 1024,  // block offset of u_lr_hdr_data
  LR_HDR_SPARES_SIZE = 1024,
  LR_NEG_REPLY_SIZE = 1380,       // the refusal record is sent at this size
  LR_NEG_BLKS_DONE_OFFSET = 2384  // block offset of ndr_blks_done in the start header
};

// Values of h_hdr_type.
enum lr_hdr_type : int32_t {
  LR_HDR_INVALID = 0,
  LR_HDR_START_STREAM = 1,
  LR_HDR_MID_STREAM = 2,
  LR_HDR_END_OF_STREAM = 3,
  LR_HDR_DELETED_FILE = 4,
  LR_HDR_STRMDIR_RELATIONSHIP = 5,
  LR_HDR_DISCARD_DATA = 6,
  LR_HDR_FILE = 1024,
  LR_HDR_EXT_ATTR = 1025
};
static_assert(sizeof(lr_hdr_type) == 4, "header type is 32 bits");

// Values of ri_file_type.
enum lr_file_type : uint32_t {
  FILE_TYPE_INVALID = 0,
  FILE_TYPE_REGULAR = 1,
  FILE_TYPE_DIRECTORY = 2,
  FILE_TYPE_BLOCK_DEV = 3,
  FILE_TYPE_CHAR_DEV = 4,
  FILE_TYPE_SYMLINK = 5,
  FILE_TYPE_SOCKET = 6,
  FILE_TYPE_FIFO = 7,
  FILE_TYPE_RSVD1 = 8,
  FILE_TYPE_RSVD2 = 9,
  FILE_TYPE_RSVD3 = 10,
  FILE_TYPE_NTACL = 11,
  FILE_TYPE_NTSTREAM_DIR = 12,
  FILE_TYPE_NTSTREAM = 13,
  FILE_TYPE_RSVD4 = 14,
  FILE_TYPE_VDISK = 15
};

// Values of rea_type. Valid in a stream: 1 to 17.
enum lr_ext_attr_type : uint32_t {
  EXT_ATTR_TYPE_INVALID = 0,
  EXT_ATTR_TYPE_NT_ACL = 1,
  EXT_ATTR_TYPE_SOLARIS_ACL = 2,
  EXT_ATTR_TYPE_HPUX_ACL = 3,
  EXT_ATTR_TYPE_AIX_ACL = 4,
  EXT_ATTR_TYPE_NT_EA_DATA = 5,
  EXT_ATTR_TYPE_NT_ALTERNATE_DATA = 6,
  EXT_ATTR_TYPE_NT_LINK = 7,
  EXT_ATTR_TYPE_NT_PROPERTY_DATA = 8,
  EXT_ATTR_TYPE_NT_OBJECT_ID = 9,
  EXT_ATTR_TYPE_NT_REPARSE_DATA = 10,
  EXT_ATTR_TYPE_NT_SPARSE_BLOCK = 11,
  EXT_ATTR_TYPE_NT_ENCRYPTED_DATA = 12,
  EXT_ATTR_TYPE_NFS_ACL = 13,
  EXT_ATTR_TYPE_IRIX_ACL = 14,
  EXT_ATTR_TYPE_HPUX_VXFS_ACL = 15,
  EXT_ATTR_TYPE_SNAP_APPL_ACL = 16,
  EXT_ATTR_TYPE_COMPRESS_NT_ALTERNATE_DATA = 17,
  EXT_ATTR_TYPE_FAKE = 18
};

// Synchronisation (restart) points carried in h_sync_num.
enum lr_sync_point : uint32_t {
  LRD_RESTART_BASE = 0,
  LRD_RESTART_TREE_DELETE = 1,
  LRD_RESTART_TREE_CLEAN = 2,
  LRD_RESTART_TREE_ACLFILE = 3,
  LRD_RESTART_TREE_SPCLFILE = 4,
  LRD_RESTART_TREE_STRMDIR = 5,
  LRD_RESTART_TREE_BUILD = 6,
  LRD_RESTART_TREE_EXTATTRS = 7,
  LRD_RESTART_DST_TREE_MAX = 100,
  LRD_RESTART_FILE_PHASE_BASE = 101
};

// Directory-entry enumerations.
enum lrd_dh_dirent_type : uint8_t { LR_END_OF_DATA = 0, LR_VALID_DIRENT_V1 = 1 };
enum lrd_dh_action_type : uint8_t { LR_DIR_DELETE = 0, LR_DIR_CREATE = 1 };
enum lrd_dh_name_type : uint8_t {
  LRN_NFS_LONG = 0,
  LRN_NFS_ALT = 1,
  LRN_UNICODE_LONG = 2,
  LRN_UNICODE_8_3 = 3,
  LRN_NON_UNICODE_8_3 = 4
};

// System type of the source, in ndr_system_type.
enum ndr_system_type : uint32_t {
  NDR_SYSTEM_TYPE_KORVEN = 0,
  NDR_SYSTEM_TYPE_SOLARIS = 1,
  NDR_SYSTEM_TYPE_HPUX = 2,
  NDR_SYSTEM_TYPE_AIX = 3,
  NDR_SYSTEM_TYPE_LINUX = 4,
  NDR_SYSTEM_TYPE_WIN2K = 5,
  NDR_SYSTEM_TYPE_WINNT = 6,
  NDR_SYSTEM_TYPE_WINXP = 7,
  NDR_SYSTEM_TYPE_MAX = 8
};

// Result codes of a negotiation (ndr_errcode).
enum neg_result_t : int32_t {
  RPL_NEG_SUCCESS = 0,
  RPL_NEG_FAIL_GENERIC = 1,
  RPL_NEG_FAIL_GENERIC_ASSERT = 2,
  RPL_NEG_FAIL_VOL_STATE = 3,
  RPL_NEG_FAIL_PATHNAME = 4,
  RPL_NEG_FAIL_NETWORK = 5,
  RPL_NEG_FAIL_VERSION = 6,
  RPL_NEG_FAIL_ALLOW = 7,
  RPL_NEG_FAIL_CHECKPOINT = 8,
  RPL_NEG_FAIL_NO_QTREE = 9,
  RPL_NEG_FAIL_QTREE_MISMATCH = 10,
  RPL_NEG_FAIL_SOURCE_REPLICATORED = 11,
  RPL_NEG_FAIL_SOURCE_BUSY = 12,
  RPL_NEG_FAIL_NO_CASCADE_DATA = 13,
  RPL_NEG_FAIL_NO_BASE_SNAP = 14,
  RPL_NEG_FAIL_SOURCE_NO_NEW_SNAP = 15,
  RPL_NEG_FAIL_NO_QTREE_IN_SNAP = 16,
  RPL_NEG_FAIL_TOO_MANY_XFERS = 17,
  RPL_NEG_FAIL_NOT_ENABLED = 18,
  RPL_NEG_FAIL_RESTART_SNAP_NOT_NAMED_SNAP = 19
};

// ---------------------------------------------------------------------------
// Header block records

// File metadata (block offset 40).
struct lr_inode {
  uint32 ri_file_type;
  uint32 ri_nlink;
  uint32 ri_flags;
  uint32 ri_perms;
  uint32 ri_uid;
  uint32 ri_gid;
  uint32 ri_size[2];  // low word first
  int32 ri_atime_sec;
  int32 ri_atime_usec;
  int32 ri_mtime_sec;
  int32 ri_mtime_usec;
  int32 ri_ctime_sec;
  int32 ri_ctime_usec;
  int32 ri_crtime_sec;
  int32 ri_crtime_usec;
  int32 ri_rdev;
  uint32 ri_acl_inode;
  uint32 ri_streamdir_inode;
  uint32 ri_dosbits;
  uint8 ri_spares[48];
};
static_assert(sizeof(lr_inode) == 128, "lr_inode size");
static_assert(offsetof(lr_inode, ri_file_type) == 0, "");
static_assert(offsetof(lr_inode, ri_nlink) == 4, "");
static_assert(offsetof(lr_inode, ri_flags) == 8, "");
static_assert(offsetof(lr_inode, ri_perms) == 12, "");
static_assert(offsetof(lr_inode, ri_uid) == 16, "");
static_assert(offsetof(lr_inode, ri_gid) == 20, "");
static_assert(offsetof(lr_inode, ri_size) == 24, "");
static_assert(offsetof(lr_inode, ri_atime_sec) == 32, "");
static_assert(offsetof(lr_inode, ri_atime_usec) == 36, "");
static_assert(offsetof(lr_inode, ri_mtime_sec) == 40, "");
static_assert(offsetof(lr_inode, ri_mtime_usec) == 44, "");
static_assert(offsetof(lr_inode, ri_ctime_sec) == 48, "");
static_assert(offsetof(lr_inode, ri_ctime_usec) == 52, "");
static_assert(offsetof(lr_inode, ri_crtime_sec) == 56, "");
static_assert(offsetof(lr_inode, ri_crtime_usec) == 60, "");
static_assert(offsetof(lr_inode, ri_rdev) == 64, "");
static_assert(offsetof(lr_inode, ri_acl_inode) == 68, "");
static_assert(offsetof(lr_inode, ri_streamdir_inode) == 72, "");
static_assert(offsetof(lr_inode, ri_dosbits) == 76, "");
static_assert(offsetof(lr_inode, ri_spares) == 80, "");

// Extended-attribute metadata (block offset 688).
struct lr_ext_attr_info {
  uint32 rea_base_file_inum;
  uint32 rea_type;
  uint32 rea_size[2];  // low word first
  uint32 rea_attr_flags;
  uint16 rea_attr_name_size;
  uint8 rea_nametype;
  uint8 spare_one;
  uint8 spare_two[8];
};
static_assert(sizeof(lr_ext_attr_info) == 32, "lr_ext_attr_info size");
static_assert(offsetof(lr_ext_attr_info, rea_base_file_inum) == 0, "");
static_assert(offsetof(lr_ext_attr_info, rea_type) == 4, "");
static_assert(offsetof(lr_ext_attr_info, rea_size) == 8, "");
static_assert(offsetof(lr_ext_attr_info, rea_attr_flags) == 16, "");
static_assert(offsetof(lr_ext_attr_info, rea_attr_name_size) == 20, "");
static_assert(offsetof(lr_ext_attr_info, rea_nametype) == 22, "");
static_assert(offsetof(lr_ext_attr_info, spare_one) == 23, "");
static_assert(offsetof(lr_ext_attr_info, spare_two) == 24, "");

// The header record at block offset 0.
struct lr_hdr_info {
  int32 h_magic;
  int32 h_checksum;  // carried through unchanged, never checked
  int32 h_hdr_type;
  int32 h_flags;
  int32 h_sync_num;  // compared as unsigned
  uint32 h_blk_num;
  uint32 h_blks_until_hdr;
  uint32 h_valid_data_entries;
  uint32 h_inumber;
  uint32 h_gennum;
  lr_inode h_file_metadata;
  uint32 h_hole_entries;
  char h_holes[LR_MAX_HOLE_ENTRIES];  // 0 = data block sent, 1 = hole
  uint32 h_dir_num;
  lr_ext_attr_info h_attr_metadata;
  uint32 h_attr_flags;
};
static_assert(sizeof(lr_hdr_info) == 724, "lr_hdr_info size");
static_assert(offsetof(lr_hdr_info, h_magic) == 0, "");
static_assert(offsetof(lr_hdr_info, h_checksum) == 4, "");
static_assert(offsetof(lr_hdr_info, h_hdr_type) == 8, "");
static_assert(offsetof(lr_hdr_info, h_flags) == 12, "");
static_assert(offsetof(lr_hdr_info, h_sync_num) == 16, "");
static_assert(offsetof(lr_hdr_info, h_blk_num) == 20, "");
static_assert(offsetof(lr_hdr_info, h_blks_until_hdr) == 24, "");
static_assert(offsetof(lr_hdr_info, h_valid_data_entries) == 28, "");
static_assert(offsetof(lr_hdr_info, h_inumber) == 32, "");
static_assert(offsetof(lr_hdr_info, h_gennum) == 36, "");
static_assert(offsetof(lr_hdr_info, h_file_metadata) == 40, "");
static_assert(offsetof(lr_hdr_info, h_hole_entries) == 168, "");
static_assert(offsetof(lr_hdr_info, h_holes) == 172, "");
static_assert(offsetof(lr_hdr_info, h_dir_num) == 684, "");
static_assert(offsetof(lr_hdr_info, h_attr_metadata) == 688, "");
static_assert(offsetof(lr_hdr_info, h_attr_flags) == 720, "");

// ---------------------------------------------------------------------------
// Negotiation records

// The negotiation reply (1380 bytes). On success it travels in the data area
// of the start-of-stream header; a refusal sends the record alone.
struct lr_neg_data_reply {
  int32 ndr_errcode;  // a neg_result_t
  uint32 ndr_zero_field;
  uint32 ndr_flags;
  uint32 ndr_qtree_id;
  uint32 ndr_qtree_root_inum;
  uint32 ndr_qtree_root_gen_num;
  uint32 ndr_qtree_root_fsid;
  uint32 ndr_new_snap_cp_count;
  uint32 ndr_new_snap_id;
  int32 ndr_new_snap_sec;
  int32 ndr_new_snap_usec;
  uint32 ndr_base_snap_cp_count;
  uint32 ndr_base_snap_id;
  int32 ndr_base_snap_sec;
  int32 ndr_base_snap_usec;
  uint32 ndr_vol_max_inum;
  uint32 ndr_confirmed_throttle;
  uint32 ndr_qtree_sec_style;
  uint32 ndr_qtree_oplocks;
  char ndr_src_machine[257];
  char ndr_src_path[1025];
  uint16 ndr_align_flags;
  uint64_a4 ndr_blks_done;  // the only field the writer sets
  uint32 ndr_lr_maj_version;
  uint32 ndr_lr_min_version;
  uint32 ndr_system_type;
};
static_assert(sizeof(lr_neg_data_reply) == LR_NEG_REPLY_SIZE, "reply size");
static_assert(offsetof(lr_neg_data_reply, ndr_errcode) == 0, "");
static_assert(offsetof(lr_neg_data_reply, ndr_zero_field) == 4, "");
static_assert(offsetof(lr_neg_data_reply, ndr_flags) == 8, "");
static_assert(offsetof(lr_neg_data_reply, ndr_qtree_id) == 12, "");
static_assert(offsetof(lr_neg_data_reply, ndr_qtree_root_inum) == 16, "");
static_assert(offsetof(lr_neg_data_reply, ndr_qtree_root_gen_num) == 20, "");
static_assert(offsetof(lr_neg_data_reply, ndr_qtree_root_fsid) == 24, "");
static_assert(offsetof(lr_neg_data_reply, ndr_new_snap_cp_count) == 28, "");
static_assert(offsetof(lr_neg_data_reply, ndr_new_snap_id) == 32, "");
static_assert(offsetof(lr_neg_data_reply, ndr_new_snap_sec) == 36, "");
static_assert(offsetof(lr_neg_data_reply, ndr_new_snap_usec) == 40, "");
static_assert(offsetof(lr_neg_data_reply, ndr_base_snap_cp_count) == 44, "");
static_assert(offsetof(lr_neg_data_reply, ndr_base_snap_id) == 48, "");
static_assert(offsetof(lr_neg_data_reply, ndr_base_snap_sec) == 52, "");
static_assert(offsetof(lr_neg_data_reply, ndr_base_snap_usec) == 56, "");
static_assert(offsetof(lr_neg_data_reply, ndr_vol_max_inum) == 60, "");
static_assert(offsetof(lr_neg_data_reply, ndr_confirmed_throttle) == 64, "");
static_assert(offsetof(lr_neg_data_reply, ndr_qtree_sec_style) == 68, "");
static_assert(offsetof(lr_neg_data_reply, ndr_qtree_oplocks) == 72, "");
static_assert(offsetof(lr_neg_data_reply, ndr_src_machine) == 76, "");
static_assert(offsetof(lr_neg_data_reply, ndr_src_path) == 333, "");
static_assert(offsetof(lr_neg_data_reply, ndr_align_flags) == 1358, "");
static_assert(offsetof(lr_neg_data_reply, ndr_blks_done) == 1360, "");
static_assert(offsetof(lr_neg_data_reply, ndr_lr_maj_version) == 1368, "");
static_assert(offsetof(lr_neg_data_reply, ndr_lr_min_version) == 1372, "");
static_assert(offsetof(lr_neg_data_reply, ndr_system_type) == 1376, "");

// The destination's request: one 4096-byte block.
struct lr_neg_data_request {
  char dst_filer[257];
  char dst_path[1025];
  char dst_nvramid[16];
  char src_path[1025];  // NUL-terminated within its width
  char soy_by_product;
  uint32 base_snap_id;
  uint32 base_snap_cp_cnt;
  uint32 base_snap_sec;
  uint32 base_snap_usec;
  uint32 restart_snap_id;
  uint32 restart_snap_cp_cnt;
  uint32 restart_snap_sec;
  uint32 restart_snap_usec;
  uint32 restart_sync_point;
  uint32 qtree_id;
  uint32 qtree_root_inum;
  uint32 qtree_root_gen_num;
  uint32 qtree_root_fsid;
  uint32 requested_throttle;
  char named_snapshot[256];
  char rollback;
  char potted_meat_product[3];
  uint32 dst_root_inum;
  uint32 dst_root_gen_num;
  uint32 dst_root_fsid;
  uint32 dst_tid;
  uint32 zrb_maj_version;
  uint32 zrb_min_version;
  uint32 accepted_major_version;
  uint32 accepted_minor_version;
  uint32 req_options;
  char spares[1420];
};
static_assert(sizeof(lr_neg_data_request) == LR_BLOCK_SIZE, "request size");
static_assert(offsetof(lr_neg_data_request, dst_filer) == 0, "");
static_assert(offsetof(lr_neg_data_request, dst_path) == 257, "");
static_assert(offsetof(lr_neg_data_request, dst_nvramid) == 1282, "");
static_assert(offsetof(lr_neg_data_request, src_path) == 1298, "");
static_assert(offsetof(lr_neg_data_request, soy_by_product) == 2323, "");
static_assert(offsetof(lr_neg_data_request, base_snap_id) == 2324, "");
static_assert(offsetof(lr_neg_data_request, base_snap_cp_cnt) == 2328, "");
static_assert(offsetof(lr_neg_data_request, base_snap_sec) == 2332, "");
static_assert(offsetof(lr_neg_data_request, base_snap_usec) == 2336, "");
static_assert(offsetof(lr_neg_data_request, restart_snap_id) == 2340, "");
static_assert(offsetof(lr_neg_data_request, restart_snap_cp_cnt) == 2344, "");
static_assert(offsetof(lr_neg_data_request, restart_snap_sec) == 2348, "");
static_assert(offsetof(lr_neg_data_request, restart_snap_usec) == 2352, "");
static_assert(offsetof(lr_neg_data_request, restart_sync_point) == 2356, "");
static_assert(offsetof(lr_neg_data_request, qtree_id) == 2360, "");
static_assert(offsetof(lr_neg_data_request, qtree_root_inum) == 2364, "");
static_assert(offsetof(lr_neg_data_request, qtree_root_gen_num) == 2368, "");
static_assert(offsetof(lr_neg_data_request, qtree_root_fsid) == 2372, "");
static_assert(offsetof(lr_neg_data_request, requested_throttle) == 2376, "");
static_assert(offsetof(lr_neg_data_request, named_snapshot) == 2380, "");
static_assert(offsetof(lr_neg_data_request, rollback) == 2636, "");
static_assert(offsetof(lr_neg_data_request, potted_meat_product) == 2637, "");
static_assert(offsetof(lr_neg_data_request, dst_root_inum) == 2640, "");
static_assert(offsetof(lr_neg_data_request, dst_root_gen_num) == 2644, "");
static_assert(offsetof(lr_neg_data_request, dst_root_fsid) == 2648, "");
static_assert(offsetof(lr_neg_data_request, dst_tid) == 2652, "");
static_assert(offsetof(lr_neg_data_request, zrb_maj_version) == 2656, "");
static_assert(offsetof(lr_neg_data_request, zrb_min_version) == 2660, "");
static_assert(offsetof(lr_neg_data_request, accepted_major_version) == 2664, "");
static_assert(offsetof(lr_neg_data_request, accepted_minor_version) == 2668, "");
static_assert(offsetof(lr_neg_data_request, req_options) == 2672, "");
static_assert(offsetof(lr_neg_data_request, spares) == 2676, "");

// ---------------------------------------------------------------------------
// The header block

struct lr_deleted_file {
  uint32 deleted_fid;
  uint32 deleted_gen;
};
static_assert(sizeof(lr_deleted_file) == 8, "lr_deleted_file size");
static_assert(offsetof(lr_deleted_file, deleted_gen) == 4, "");

struct lr_ntstream_map {
  uint32 has_stream_fid;
  uint32 stream_dir_fid;
};
static_assert(sizeof(lr_ntstream_map) == 8, "lr_ntstream_map size");
static_assert(offsetof(lr_ntstream_map, stream_dir_fid) == 4, "");

// One header block (4096 bytes).
struct lr_hdr {
  union {
    lr_hdr_info hdr;
    char padding[LR_HDR_INFO_AREA_SIZE];
  } u_lr_hdr_info;
  union {
    lr_neg_data_reply d_neg;                               // START_STREAM
    lr_ntstream_map d_ntstream_maps[LR_MAX_LIST_ENTRIES];  // STRMDIR_RELATIONSHIP
    lr_deleted_file d_deleted_files[LR_MAX_LIST_ENTRIES];  // DELETED_FILE
    uint32 d_blknos[LR_MAX_FOLLOWING_BLKS];                // MID_STREAM, FILE
    char padding[LR_HDR_DATA_AREA_SIZE];
  } u_lr_hdr_data;
  char spares[LR_HDR_SPARES_SIZE];  // alternate data stream name of an EXT_ATTR header
};
static_assert(sizeof(lr_hdr) == LR_BLOCK_SIZE, "lr_hdr size");
static_assert(offsetof(lr_hdr, u_lr_hdr_info) == 0, "");
static_assert(offsetof(lr_hdr, u_lr_hdr_data) == LR_HDR_DATA_OFFSET, "");
static_assert(offsetof(lr_hdr, spares) == 3072, "");
static_assert(offsetof(lr_hdr, u_lr_hdr_data.d_neg.ndr_blks_done) == LR_NEG_BLKS_DONE_OFFSET, "");

// ---------------------------------------------------------------------------
// Directory data blocks

// Head of one directory entry record.
struct lr_dir_entry_hdr {
  uint32 dh_magic;  // LR_DIR_ENTRY_MAGIC
  uint8 dh_type;    // lrd_dh_dirent_type
  uint8 dh_action;  // lrd_dh_action_type
  uint16 dh_len;    // 32 + the dn_record_size of each name record
  uint32 dh_inum;
  uint32 dh_gen_num;
  uint32 dh_name_mask;  // bit n set when a name of type n is present
  uint8 dh_num_names;
  uint8 dh_name_8_3_flags;
  char dh_spares[10];
};
static_assert(sizeof(lr_dir_entry_hdr) == 32, "lr_dir_entry_hdr size");
static_assert(offsetof(lr_dir_entry_hdr, dh_magic) == 0, "");
static_assert(offsetof(lr_dir_entry_hdr, dh_type) == 4, "");
static_assert(offsetof(lr_dir_entry_hdr, dh_action) == 5, "");
static_assert(offsetof(lr_dir_entry_hdr, dh_len) == 6, "");
static_assert(offsetof(lr_dir_entry_hdr, dh_inum) == 8, "");
static_assert(offsetof(lr_dir_entry_hdr, dh_gen_num) == 12, "");
static_assert(offsetof(lr_dir_entry_hdr, dh_name_mask) == 16, "");
static_assert(offsetof(lr_dir_entry_hdr, dh_num_names) == 20, "");
static_assert(offsetof(lr_dir_entry_hdr, dh_name_8_3_flags) == 21, "");
static_assert(offsetof(lr_dir_entry_hdr, dh_spares) == 22, "");

// Head of one name record as it lies in the block; the name bytes follow,
// padded up to dn_record_size (a multiple of 8).
struct lr_dir_entry_name_head {
  uint8 dn_name_type;  // lrd_dh_name_type
  uint8 dn_spare1;
  uint16 dn_record_size;
  uint16 dn_name_size;
  uint16 dn_spare2;
};
static_assert(sizeof(lr_dir_entry_name_head) == 8, "name record head size");
static_assert(offsetof(lr_dir_entry_name_head, dn_name_type) == 0, "");
static_assert(offsetof(lr_dir_entry_name_head, dn_spare1) == 1, "");
static_assert(offsetof(lr_dir_entry_name_head, dn_record_size) == 2, "");
static_assert(offsetof(lr_dir_entry_name_head, dn_name_size) == 4, "");
static_assert(offsetof(lr_dir_entry_name_head, dn_spare2) == 6, "");

// A parsed name record: the head's fields and a pointer to the name bytes
// inside the block (not terminated).
struct lr_dir_entry_name {
  uint8 dn_name_type;
  uint8 dn_spare1;
  uint16 dn_record_size;
  uint16 dn_name_size;
  uint16 dn_spare2;
  const char* dn_name_data;
};

// ---------------------------------------------------------------------------
// Names for messages (hdr_names.cpp). The fallback texts live in one shared
// static buffer, valid until the next call of either function.

const char* hdr_type_to_string(uint32 type);
const char* file_type_to_string(uint32 type);

#endif  // BRIX_LR_H
