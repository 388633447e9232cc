// The container format of a dump file: the compression header, the
// encryption header and the chunk header of the chunk table, with the
// identifiers and limits that reading them relies on.
#ifndef BRIX_CONTAINER_FORMAT_H
#define BRIX_CONTAINER_FORMAT_H

#include <cstddef>

#include "types.h"

enum {
  CONTAINER_ID_SIZE = 32,
  COMP_HEADER_SIZE = 80,
  ENCR_HEADER_SIZE = 464,
  CHUNK_HEADER_SIZE = 8232,
  CHUNK_TABLE_ENTRIES = 2048,       // chunk sizes per chunk header
  CHUNK_READ_BUFFER_SIZE = 131072,  // largest stored chunk accepted
  CHUNK_DECODED_MAX = 131072        // largest decoded chunk accepted
};

// Compression header, at offset 0 of a compressed file.
struct comp_header_type {
  char identifier[CONTAINER_ID_SIZE];  // CompressionID, NUL-padded
  uint32 version;
  uint32 fileno;
  uint64_a4 data_size;        // stream bytes before compression
  uint64_a4 compressed_size;  // bytes of the data area
  char spares[24];
};
static_assert(sizeof(comp_header_type) == COMP_HEADER_SIZE, "comp_header_type size");
static_assert(offsetof(comp_header_type, identifier) == 0, "");
static_assert(offsetof(comp_header_type, version) == 32, "");
static_assert(offsetof(comp_header_type, fileno) == 36, "");
static_assert(offsetof(comp_header_type, data_size) == 40, "");
static_assert(offsetof(comp_header_type, compressed_size) == 48, "");
static_assert(offsetof(comp_header_type, spares) == 56, "");

// Encryption header, at offset 0, or 80 behind a compression header.
struct encr_header_type {
  char identifier[CONTAINER_ID_SIZE];  // EncryptionID, NUL-padded
  uint32 version;
  uint32 fileno;
  uint64_a4 data_size;
  uint64_a4 encrypted_size;  // bytes of the data area
  uint8 salt_len;            // 8, 12 or 16: selects the AES key length
  unsigned char salt_value[64];
  uint8 pad1;
  uint16 digest_len;  // 64 from the capture tool
  unsigned char digest_value[256];
  uint8 passwd_verifier_len;  // 2 from the capture tool
  unsigned char passwd_verifier[32];
  char spares[48];
  uint8 pad2[3];
};
static_assert(sizeof(encr_header_type) == ENCR_HEADER_SIZE, "encr_header_type size");
static_assert(offsetof(encr_header_type, identifier) == 0, "");
static_assert(offsetof(encr_header_type, version) == 32, "");
static_assert(offsetof(encr_header_type, fileno) == 36, "");
static_assert(offsetof(encr_header_type, data_size) == 40, "");
static_assert(offsetof(encr_header_type, encrypted_size) == 48, "");
static_assert(offsetof(encr_header_type, salt_len) == 56, "");
static_assert(offsetof(encr_header_type, salt_value) == 57, "");
static_assert(offsetof(encr_header_type, digest_len) == 122, "");
static_assert(offsetof(encr_header_type, digest_value) == 124, "");
static_assert(offsetof(encr_header_type, passwd_verifier_len) == 380, "");
static_assert(offsetof(encr_header_type, passwd_verifier) == 381, "");
static_assert(offsetof(encr_header_type, spares) == 413, "");

// One chunk header of the chunk table at the end of a container.
struct chunk_header_type {
  uint32 version;
  uint32 num_chunks;                        // used entries of chunk_sizes, at most 2048
  uint32 chunk_size;                        // largest chunk before compression: 65536
  uint32 chunk_sizes[CHUNK_TABLE_ENTRIES];  // stored size of each chunk
  uint8 last;                               // 1 in the last chunk header of the table
  char spares[24];
  uint8 pad[3];
};
static_assert(sizeof(chunk_header_type) == CHUNK_HEADER_SIZE, "chunk_header_type size");
static_assert(offsetof(chunk_header_type, version) == 0, "");
static_assert(offsetof(chunk_header_type, num_chunks) == 4, "");
static_assert(offsetof(chunk_header_type, chunk_size) == 8, "");
static_assert(offsetof(chunk_header_type, chunk_sizes) == 12, "");
static_assert(offsetof(chunk_header_type, last) == 8204, "");
static_assert(offsetof(chunk_header_type, spares) == 8205, "");

// The identifiers, NUL-padded to 32 bytes; all 32 bytes are compared.
extern const char CompressionID[CONTAINER_ID_SIZE];
extern const char EncryptionID[CONTAINER_ID_SIZE];

#endif  // BRIX_CONTAINER_FORMAT_H
