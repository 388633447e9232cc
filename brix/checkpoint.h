// The writer checkpoint: at every new synchronisation point of an archivist
// baseline transfer, where in the dump set the stream stands is written to a
// small file named after the first prefix and the point; a restart request
// loads it back and the block source repositions to it.
#ifndef BRIX_CHECKPOINT_H
#define BRIX_CHECKPOINT_H

#include <cstddef>

#include "brix.h"
#include "brix_comp_encr.h"
#include "fileenc.h"
#include "prng.h"

enum : uint32_t {
  CHECKPOINT_MAGIC = 0x912F6,
  CHECKPOINT_RECORD_SIZE = 1812,
  CHECKPOINT_FILES_KEPT = 10,
  CHECKPOINT_OPTIONAL_MAX = 99  // a missing file below this point restores nothing
};

// The reading position, in memory and as the content of a checkpoint file:
// little-endian, 64-bit fields at 4-byte boundaries, no header, no checksum.
struct check_point {
  uint32 restart_snap_id;
  uint32 restart_snap_cp_cnt;
  uint32 restart_snap_sec;
  uint32 restart_snap_usec;
  uint32 restart_sync_point;  // point of the header the record was taken at
  uint32 prev_checkpoint;
  uint32 qtree_id;
  uint32 qtree_root_inum;
  uint32 qtree_root_gen_num;
  uint32 qtree_root_fsid;
  int batch_index;  // prefix index of the file being read
  int data_stage;
  int64_a4 blk_num;        // block count reported on a restart
  int file_num;            // file number within the batch
  int offset;              // byte offset where reading resumes
  int file_del;            // checkpoint files existing after this one was made (1-10)
  int chunk_index;         // container: chunk within its chunk header
  int chunk_header_count;  // container: chunk header within the table
  uint32 chunk_len;        // container: stored size of the chunk read last
  fcrypt_ctx zcx;          // container: decryption context at the resume point
  prng_ctx rng;
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

// The current reading position, and the record as last loaded from a file.
extern check_point cp;
extern check_point cp1;

// Records the current position for sync_num at the header block just sent
// (hdr_info and hdr both point to it, in in_buf) and writes the file.
bool_t create_brix_writer_checkpoint_file(rpl_Session* session, lr_hdr_info* hdr_info, lr_hdr* hdr,
                                          uint32 sync_num);

// Loads the file of restart_checkpoint and restores the block count and the
// reading position from it.
bool_t ReadBrixWriterCheckpointFile(rpl_Session* session);

// Whether ReadBrixWriterCheckpointFile restored a record in this run.
bool_t checkpoint_record_loaded();

// Removes the files of the last ten points after a completed transfer.
bool_t delete_checkpoint_file(rpl_Session* session);

// Performed by the block source when a reposition is pending: reopens the
// recorded file and seeks to the recorded place (for a container, also the
// chunk and the decryption state). B_FALSE when that fails.
bool_t reposition_to_checkpoint(rpl_Session* session);

#endif  // BRIX_CHECKPOINT_H
