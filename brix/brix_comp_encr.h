// The compressed and encrypted dump container: its three header records,
// detection of the container kinds, and (for containers) preparation, chunk
// refill and the end-of-file digest check, with the decryption state of the
// file being read.
#ifndef BRIX_BRIX_COMP_ENCR_H
#define BRIX_BRIX_COMP_ENCR_H

#include <cstddef>

#include "brix.h"
#include "fileenc.h"
#include "list.h"

enum {
  CONTAINER_ID_SIZE = 32,
  COMP_HEADER_SIZE = 80,
  ENCR_HEADER_SIZE = 464,
  CHUNK_HEADER_SIZE = 8232,
  CHUNK_TABLE_ENTRIES = 2048,  // chunk sizes per chunk header
  CHUNK_READ_BUFFER_SIZE = 131072
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

// Headers of the open file, as read by detection.
extern comp_header_type comp_header;
extern encr_header_type encr_header;

// Decryption context of the open file, and its state before the chunk now
// staged was decrypted: a checkpoint that resumes by reading a header's chunk
// again stores the context from before that chunk, wherever in the chunk the
// header lies.
extern fcrypt_ctx zcx;
extern fcrypt_ctx prev_zcx;

// Set while a checkpoint restart closes a partly read file: its digest
// cannot match and is not checked.
extern bool_t digest_check;

// Chunk table position of the open file.
extern int chunk_header_num;

// Detection: whether the open dump file carries the header of that kind. A
// plain file is left at offset 0; an encrypted one behind its header.
bool_t is_compressed(rpl_Session* session);
bool_t is_encrypted(rpl_Session* session);
bool_t read_compression_header(rpl_Session* session);
bool_t read_encryption_header(rpl_Session* session);

// Sets compressed and encrypted from the headers of the open file and leaves
// it positioned for reading. B_FALSE when a read or a seek failed (reported):
// the kind of the file is then unknown, and it must not be read.
bool_t detect_container_kind(rpl_Session* session);
// init_brix_decomp_decr when the open file is a container; B_TRUE otherwise.
bool_t prepare_if_container(rpl_Session* session);

// Prepares the open container (password check, chunk table, data start).
bool_t init_brix_decomp_decr(rpl_Session* session);
// Ends the open container: digest check, chunk table released.
bool_t term_brix_decomp_decr(rpl_Session* session);

// The refill step of the block source for a container: reads, decrypts and
// decompresses the next chunk into the staging buffer. Same result
// convention as the block readers.
bool_t refill_from_chunk(rpl_Session* session, int* error);

// Compression has nothing to prepare or end beyond its header.
bool_t init_brix_decompression(rpl_Session* session);
bool_t end_brix_decompression(rpl_Session* session);

// Decryption of the open file (brix_decrypt.cpp): key derivation from the
// password and the file's salt with the verifier check, in-place decryption
// of each chunk in file order, and the digest check at the end.
bool_t init_brix_decryption(rpl_Session* session);
bool_t decrypt_brix_data_begin(rpl_Session* session);
void decrypt_brix_data(unsigned char* data, int32 len);
bool_t decrypt_brix_data_end();
bool_t end_brix_decryption(rpl_Session* session);

#endif  // BRIX_BRIX_COMP_ENCR_H
