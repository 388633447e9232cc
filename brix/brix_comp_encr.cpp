// Container detection and the container reading of the open dump file.
#include "brix_comp_encr.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>

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

}  // namespace

bool_t read_compression_header(rpl_Session* session) {
  ssize_t n = read_from_source(session->src_fd, &comp_header, sizeof(comp_header));
  return n == static_cast<ssize_t>(sizeof(comp_header)) ? B_TRUE : B_FALSE;
}

bool_t read_encryption_header(rpl_Session* session) {
  ssize_t n = read_from_source(session->src_fd, &encr_header, sizeof(encr_header));
  return n == static_cast<ssize_t>(sizeof(encr_header)) ? B_TRUE : B_FALSE;
}

bool_t is_compressed(rpl_Session* session) {
  lseek(session->src_fd, 0, SEEK_SET);
  bool_t read_ok = read_compression_header(session);
  lseek(session->src_fd, 0, SEEK_SET);
  if (!read_ok) return B_FALSE;
  return memcmp(comp_header.identifier, CompressionID, CONTAINER_ID_SIZE) == 0 ? B_TRUE : B_FALSE;
}

bool_t is_encrypted(rpl_Session* session) {
  for (off_t offset : kEncrHeaderOffsets) {
    lseek(session->src_fd, offset, SEEK_SET);
    if (read_encryption_header(session) &&
        memcmp(encr_header.identifier, EncryptionID, CONTAINER_ID_SIZE) == 0) {
      return B_TRUE;  // positioned behind the header
    }
  }
  lseek(session->src_fd, 0, SEEK_SET);
  return B_FALSE;
}

void detect_container_kind(rpl_Session* session) {
  session->compressed = is_compressed(session);
  session->encrypted = is_encrypted(session);
}

bool_t prepare_if_container(rpl_Session* session) {
  if (!session->compressed && !session->encrypted) return B_TRUE;
  return init_brix_decomp_decr(session);
}

bool_t init_brix_decomp_decr(rpl_Session*) {
  fprintf(stderr, "Compressed or encrypted dump files cannot be read by this version\n");
  return B_FALSE;
}

bool_t term_brix_decomp_decr(rpl_Session*) { return B_TRUE; }

bool_t refill_from_chunk(rpl_Session*, int* error) {
  fprintf(stderr, "Compressed or encrypted dump files cannot be read by this version\n");
  *error = 1;
  return B_FALSE;
}
