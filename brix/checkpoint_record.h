// The writer checkpoint record: 1812 bytes, both the content of a checkpoint
// file and the position a restart resumes from. Little-endian, 64-bit fields
// at 4-byte boundaries, written and read as it lies in memory.
#ifndef BRIX_CHECKPOINT_RECORD_H
#define BRIX_CHECKPOINT_RECORD_H

#include <cstddef>

#include "container_format.h"
#include "fileenc.h"
#include "prng.h"
#include "types.h"

enum : uint32_t {
  CHECKPOINT_MAGIC = 0x912F6,
  CHECKPOINT_RECORD_SIZE = 1812,
  CHECKPOINT_FILES_KEPT = 10,
  CHECKPOINT_OPTIONAL_MAX = 99  // a missing file up to this point restores nothing
};

// Fields that the record format reserves and this writer gives a use:
//   prev_checkpoint  the high 32 bits of `offset` (dump files of 2 GiB and more);
//   data_stage       containers: the index, inside the recorded chunk, of the
//                    block the restart continues with;
//   rng              the set binding and the record checksum (CHECKPOINT_BINDING_*
//                    and CHECKPOINT_CHECKSUM_* below); the rest stays zero.
enum : uint32_t {
  CHECKPOINT_BINDING_OFFSET = 0,  // within rng
  CHECKPOINT_BINDING_SIZE = 64,
  CHECKPOINT_CHECKSUM_OFFSET = 64,  // within rng
  CHECKPOINT_CHECKSUM_SIZE = 64
};

struct check_point {
  uint32 restart_snap_id;
  uint32 restart_snap_cp_cnt;
  uint32 restart_snap_sec;
  uint32 restart_snap_usec;
  uint32 restart_sync_point;  // point of the header the record was taken at
  uint32 prev_checkpoint;     // high word of offset
  uint32 qtree_id;
  uint32 qtree_root_inum;
  uint32 qtree_root_gen_num;
  uint32 qtree_root_fsid;
  int batch_index;  // prefix index of the recorded file
  int data_stage;   // container: block index inside the recorded chunk
  int64_a4 blk_num;        // block count reported on a restart
  int file_num;            // file number within the batch
  int offset;              // low word of the byte offset where reading resumes
  int file_del;            // checkpoint files existing after this one was made (1-10)
  int chunk_index;         // container: the recorded chunk within its chunk header
  int chunk_header_count;  // container: that chunk header within the table
  uint32 chunk_len;        // container: stored size of the recorded chunk
  fcrypt_ctx zcx;          // container: decryption context before the recorded chunk
  prng_ctx rng;            // set binding and record checksum
  bool_t compressed;
  bool_t encrypted;
  encr_header_type encr_header;
  comp_header_type comp_header;
  uint32 h_magic;  // CHECKPOINT_MAGIC
};
static_assert(sizeof(check_point) == CHECKPOINT_RECORD_SIZE, "check_point size");
static_assert(offsetof(check_point, restart_snap_id) == 0, "");
static_assert(offsetof(check_point, restart_snap_cp_cnt) == 4, "");
static_assert(offsetof(check_point, restart_snap_sec) == 8, "");
static_assert(offsetof(check_point, restart_snap_usec) == 12, "");
static_assert(offsetof(check_point, restart_sync_point) == 16, "");
static_assert(offsetof(check_point, prev_checkpoint) == 20, "");
static_assert(offsetof(check_point, qtree_id) == 24, "");
static_assert(offsetof(check_point, qtree_root_inum) == 28, "");
static_assert(offsetof(check_point, qtree_root_gen_num) == 32, "");
static_assert(offsetof(check_point, qtree_root_fsid) == 36, "");
static_assert(offsetof(check_point, batch_index) == 40, "");
static_assert(offsetof(check_point, data_stage) == 44, "");
static_assert(offsetof(check_point, blk_num) == 48, "");
static_assert(offsetof(check_point, file_num) == 56, "");
static_assert(offsetof(check_point, offset) == 60, "");
static_assert(offsetof(check_point, file_del) == 64, "");
static_assert(offsetof(check_point, chunk_index) == 68, "");
static_assert(offsetof(check_point, chunk_header_count) == 72, "");
static_assert(offsetof(check_point, chunk_len) == 76, "");
static_assert(offsetof(check_point, zcx) == 80, "");
static_assert(offsetof(check_point, zcx.encr_bfr) == 96, "");
static_assert(offsetof(check_point, zcx.encr_ctx) == 112, "");
static_assert(offsetof(check_point, zcx.encr_ctx.n_rnd) == 368, "");
static_assert(offsetof(check_point, zcx.encr_ctx.n_blk) == 372, "");
static_assert(offsetof(check_point, zcx.auth_ctx) == 376, "");
static_assert(offsetof(check_point, zcx.auth_ctx.ctx) == 504, "");
static_assert(offsetof(check_point, zcx.auth_ctx.ctx.hash) == 520, "");
static_assert(offsetof(check_point, zcx.auth_ctx.ctx.wbuf) == 584, "");
static_assert(offsetof(check_point, zcx.auth_ctx.klen) == 712, "");
static_assert(offsetof(check_point, zcx.encr_pos) == 716, "");
static_assert(offsetof(check_point, zcx.pwd_len) == 720, "");
static_assert(offsetof(check_point, zcx.mode) == 724, "");
static_assert(offsetof(check_point, rng) == 728, "");
static_assert(offsetof(check_point, compressed) == 1256, "");
static_assert(offsetof(check_point, encrypted) == 1260, "");
static_assert(offsetof(check_point, encr_header) == 1264, "");
static_assert(offsetof(check_point, comp_header) == 1728, "");
static_assert(offsetof(check_point, h_magic) == 1808, "");
static_assert(CHECKPOINT_CHECKSUM_OFFSET + CHECKPOINT_CHECKSUM_SIZE <= sizeof(prng_ctx), "");

// The 64-bit resume offset split over offset (low word) and prev_checkpoint.
inline int64 checkpoint_offset(const check_point& record) {
  return static_cast<int64>((static_cast<uint64_t>(record.prev_checkpoint) << 32) |
                            static_cast<uint32>(record.offset));
}
inline void set_checkpoint_offset(check_point* record, int64 offset) {
  record->offset = static_cast<int>(static_cast<uint32>(static_cast<uint64_t>(offset)));
  record->prev_checkpoint = static_cast<uint32>(static_cast<uint64_t>(offset) >> 32);
}

#endif  // BRIX_CHECKPOINT_RECORD_H
