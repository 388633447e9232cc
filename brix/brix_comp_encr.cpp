// Container detection and the container reading of the open dump file.
#include "brix_comp_encr.h"

#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>

#include "checkpoint.h"
#include "chunk_table.h"
#include "dump_reader.h"
#include "marshal.h"
#include "process_state.h"
#include "source_io.h"

const char CompressionID[CONTAINER_ID_SIZE] = "BRIX COMPRESSION KORVEN";
const char EncryptionID[CONTAINER_ID_SIZE] = "BRIX ENCRYPTION KORVEN";

comp_header_type comp_header;
encr_header_type encr_header;
fcrypt_ctx zcx;
fcrypt_ctx prev_zcx;
bool_t digest_check = B_FALSE;
int chunk_header_num = 0;

namespace {

// Encryption header positions: alone at the start, or behind a compression
// header.
const off_t kEncrHeaderOffsets[] = {0, COMP_HEADER_SIZE};

// A read or seek failed while the open file's container headers were looked
// for: its kind is unknown.
bool detection_failed = false;

// Stored bytes of the chunk being read.
alignas(16) unsigned char chunk_read_buffer[CHUNK_READ_BUFFER_SIZE];

off_t data_start(const rpl_Session* session) {
  return (session->compressed ? COMP_HEADER_SIZE : 0) + (session->encrypted ? ENCR_HEADER_SIZE : 0);
}

}  // namespace

bool_t read_compression_header(rpl_Session* session) {
  ssize_t n = read_from_source(session->src_fd, &comp_header, sizeof(comp_header));
  if (n < 0) detection_failed = true;
  return n == static_cast<ssize_t>(sizeof(comp_header)) ? B_TRUE : B_FALSE;
}

bool_t read_encryption_header(rpl_Session* session) {
  ssize_t n = read_from_source(session->src_fd, &encr_header, sizeof(encr_header));
  if (n < 0) detection_failed = true;
  return n == static_cast<ssize_t>(sizeof(encr_header)) ? B_TRUE : B_FALSE;
}

bool_t is_compressed(rpl_Session* session) {
  if (!seek_source(session->src_fd, 0)) {
    detection_failed = true;
    return B_FALSE;
  }
  bool_t read_ok = read_compression_header(session);
  if (!seek_source(session->src_fd, 0)) {
    detection_failed = true;
    return B_FALSE;
  }
  if (!read_ok) return B_FALSE;
  return memcmp(comp_header.identifier, CompressionID, CONTAINER_ID_SIZE) == 0 ? B_TRUE : B_FALSE;
}

bool_t is_encrypted(rpl_Session* session) {
  for (off_t offset : kEncrHeaderOffsets) {
    if (!seek_source(session->src_fd, offset)) {
      detection_failed = true;
      return B_FALSE;
    }
    if (read_encryption_header(session) &&
        memcmp(encr_header.identifier, EncryptionID, CONTAINER_ID_SIZE) == 0) {
      return B_TRUE;  // positioned behind the header
    }
  }
  if (!seek_source(session->src_fd, 0)) detection_failed = true;
  return B_FALSE;
}

bool_t detect_container_kind(rpl_Session* session) {
  detection_failed = false;
  session->compressed = is_compressed(session);
  session->encrypted = !detection_failed && is_encrypted(session) ? B_TRUE : B_FALSE;
  return detection_failed ? B_FALSE : B_TRUE;
}

bool_t prepare_if_container(rpl_Session* session) {
  if (!session->compressed && !session->encrypted) return B_TRUE;
  return init_brix_decomp_decr(session);
}

bool_t init_brix_decompression(rpl_Session*) { return B_TRUE; }

bool_t end_brix_decompression(rpl_Session*) { return B_TRUE; }

bool_t init_brix_decomp_decr(rpl_Session* session) {
  if (session->compressed && !init_brix_decompression(session)) return B_FALSE;
  if (session->encrypted && !init_brix_decryption(session)) return B_FALSE;
  if (!read_chunk_headers(session, get_chunk_offset(session))) return B_FALSE;
  select_first_chunk_header();
  return seek_source(session->src_fd, data_start(session)) ? B_TRUE : B_FALSE;
}

bool_t term_brix_decomp_decr(rpl_Session* session) {
  if (session->compressed) end_brix_decompression(session);
  if (session->encrypted && !end_brix_decryption(session)) return B_FALSE;
  release_chunk_table();
  return B_TRUE;
}

void reset_container_state() {
  release_chunk_table();
  chunk_index = 0;
  chunk_header_num = 0;
  digest_check = B_FALSE;
  detection_failed = false;
  comp_header = comp_header_type();
  encr_header = encr_header_type();
  zcx = fcrypt_ctx();
  prev_zcx = fcrypt_ctx();
}

bool_t refill_from_chunk(rpl_Session* session, int* error) {
  block_source_state& src = block_source;
  if (src.writer && !reposition_to_checkpoint(session)) return B_FALSE;

  if (curr_chunk == nullptr) {
    fprintf(stderr, "Damaged dump file: no chunk header to read from\n");
    *error = 1;
    return B_FALSE;
  }
  // Move to the next chunk header when this one is used up.
  if (static_cast<uint32>(chunk_index) >= marshal_uint4(curr_chunk->num_chunks)) {
    chunk_index = 0;
    if (curr_chunk->last) return B_FALSE;  // the file is exhausted
    if (chunk_list_pos == nullptr) return B_FALSE;
    curr_chunk = static_cast<chunk_header_type*>(List_GetNext(&chunk_list_pos));
    chunk_header_num++;
    cp.chunk_header_count = chunk_header_num;
  }

  uint32 len = marshal_uint4(curr_chunk->chunk_sizes[chunk_index]);
  cp.chunk_len = len;
  cp.chunk_index = chunk_index;
  src.blk_index = 0;
  if (len > CHUNK_READ_BUFFER_SIZE) {
    fprintf(stderr,
            "Damaged dump file: a chunk of %u bytes is larger than the %d-byte chunk limit\n", len,
            CHUNK_READ_BUFFER_SIZE);
    *error = 1;
    return B_FALSE;
  }

  ssize_t count = read_from_source(session->src_fd, chunk_read_buffer, len);
  *error = static_cast<int>(count);
  if (count <= 0) return B_FALSE;                         // a read error, or the file ends
  if (static_cast<uint32>(count) != len) return B_FALSE;  // a damaged file ends inside the chunk

  if (session->encrypted) {
    prev_zcx = zcx;  // the context before this chunk, for a checkpoint at its first block
    decrypt_brix_data(chunk_read_buffer, static_cast<int32>(len));
  }
  uLongf decoded = DUMP_STAGING_SIZE;
  *error = Z_OK;
  if (session->compressed) {
    *error = uncompress(src.buffer, &decoded, chunk_read_buffer, len);
  } else {
    memcpy(src.buffer, chunk_read_buffer, len);
    decoded = len;
  }
  if (*error != Z_OK) {
    fputs("Error while decompressing the data", stderr);
    return B_FALSE;
  }
  if (decoded == 0 || decoded % LR_BLOCK_SIZE != 0) {
    // Chunks hold whole stream blocks; anything else is damage.
    fprintf(stderr, "Damaged dump file: a chunk holds %lu bytes, not whole blocks\n",
            static_cast<unsigned long>(decoded));
    *error = 1;
    return B_FALSE;
  }

  chunk_index++;
  stage_refilled_blocks(static_cast<int>(decoded / LR_BLOCK_SIZE));
  return B_TRUE;
}
