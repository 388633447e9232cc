// Detection, preparation and chunk decoding of a container dump file.
#include "brix_comp_encr.h"

#include <zlib.h>

#include <cstring>

#include "marshal.h"
#include "source_io.h"
#include "wipe.h"

const char CompressionID[CONTAINER_ID_SIZE] = "BRIX COMPRESSION KORVEN";
const char EncryptionID[CONTAINER_ID_SIZE] = "BRIX ENCRYPTION KORVEN";

namespace {

// Encryption header positions: alone at the start, or behind a compression
// header.
const off_t kEncrHeaderOffsets[] = {0, COMP_HEADER_SIZE};

// Compression has nothing to prepare or end beyond its header.
bool_t init_brix_decompression() { return B_TRUE; }
bool_t end_brix_decompression() { return B_TRUE; }

}  // namespace

int64 dump_container::data_start() const {
  return (compressed_ ? COMP_HEADER_SIZE : 0) + (encrypted_ ? ENCR_HEADER_SIZE : 0);
}

bool_t dump_container::read_compression_header(int fd, fault_report& report) {
  ssize_t n = read_from_source(fd, &comp_header, sizeof(comp_header), report);
  if (n < 0) detection_failed = true;
  return n == static_cast<ssize_t>(sizeof(comp_header)) ? B_TRUE : B_FALSE;
}

bool_t dump_container::read_encryption_header(int fd, fault_report& report) {
  ssize_t n = read_from_source(fd, &encr_header, sizeof(encr_header), report);
  if (n < 0) detection_failed = true;
  return n == static_cast<ssize_t>(sizeof(encr_header)) ? B_TRUE : B_FALSE;
}

bool_t dump_container::is_compressed(int fd, fault_report& report) {
  if (!seek_source(fd, 0, report)) {
    detection_failed = true;
    return B_FALSE;
  }
  bool_t read_ok = read_compression_header(fd, report);
  if (!seek_source(fd, 0, report)) {
    detection_failed = true;
    return B_FALSE;
  }
  if (!read_ok) return B_FALSE;
  return memcmp(comp_header.identifier, CompressionID, CONTAINER_ID_SIZE) == 0 ? B_TRUE : B_FALSE;
}

bool_t dump_container::is_encrypted(int fd, fault_report& report) {
  for (off_t offset : kEncrHeaderOffsets) {
    if (!seek_source(fd, offset, report)) {
      detection_failed = true;
      return B_FALSE;
    }
    if (read_encryption_header(fd, report) &&
        memcmp(encr_header.identifier, EncryptionID, CONTAINER_ID_SIZE) == 0) {
      return B_TRUE;  // positioned behind the header
    }
  }
  if (!seek_source(fd, 0, report)) detection_failed = true;
  return B_FALSE;
}

bool dump_container::detect_kind(int fd, bool_t* compressed, bool_t* encrypted,
                                 fault_report& report) {
  detection_failed = false;
  *compressed = is_compressed(fd, report);
  *encrypted = !detection_failed && is_encrypted(fd, report) ? B_TRUE : B_FALSE;
  return !detection_failed;
}

int64 dump_container::get_chunk_offset() const {
  // Sizes are taken as 32-bit values; computed in 64 bits so that a damaged
  // size can only point past the end of the file, never before its start.
  int64 offset = data_start();
  if (compressed_) {
    offset += static_cast<uint32>(marshal_uint8(comp_header.compressed_size));
  } else if (encrypted_) {
    offset += static_cast<uint32>(marshal_uint8(encr_header.encrypted_size));
  }
  return offset;
}

bool_t dump_container::init_brix_decomp_decr(rpl_Session* session, fault_report& report) {
  compressed_ = session->compressed;
  encrypted_ = session->encrypted;
  chunk_header_num = 0;
  chunk_index = 0;
  if (compressed_ && !init_brix_decompression()) return B_FALSE;
  if (encrypted_ && !init_brix_decryption(session, report)) return B_FALSE;
  if (!table_.read_chunk_headers(session->src_fd, get_chunk_offset(), report)) return B_FALSE;
  next_offset = data_start();
  return seek_source(session->src_fd, static_cast<off_t>(next_offset), report) ? B_TRUE : B_FALSE;
}

bool_t dump_container::term_brix_decomp_decr(bool_t digest_check, fault_report& report) {
  if (compressed_) end_brix_decompression();
  if (encrypted_ && !end_brix_decryption(digest_check, report)) return B_FALSE;
  table_.clear();
  return B_TRUE;
}

int64 dump_container::chunk_offset(int header_num, int index) const {
  int64 offset = data_start();
  for (int n = 0; n < header_num; n++) {
    const chunk_header_type& header = table_.header(n);
    for (uint32 i = 0; i < marshal_uint4(header.num_chunks); i++) {
      offset += marshal_uint4(header.chunk_sizes[i]);
    }
  }
  for (int i = 0; i < index; i++) offset += marshal_uint4(table_.header(header_num).chunk_sizes[i]);
  return offset;
}

bool dump_container::lists_chunk(int header_num, int index, int64 offset) const {
  return header_num >= 0 && header_num < table_.count() && index >= 0 &&
         static_cast<uint32>(index) <= marshal_uint4(table_.header(header_num).num_chunks) &&
         offset == chunk_offset(header_num, index);
}

bool_t dump_container::seek_chunk(int fd, int header_num, int index, int64 offset,
                                  const fcrypt_ctx& context, fault_report& report) {
  chunk_header_num = header_num;
  chunk_index = index;
  next_offset = offset;
  if (encrypted_) zcx = context;
  return seek_source(fd, static_cast<off_t>(offset), report) ? B_TRUE : B_FALSE;
}

bool_t dump_container::refill(int fd, unsigned char* out, size_t* decoded, chunk_origin* origin,
                              int* error, fault_report& report) {
  *error = 0;
  if (table_.count() == 0) {
    report.say("Damaged dump file: no chunk header to read from\n");
    *error = 1;
    return B_FALSE;
  }
  const chunk_header_type* curr = &table_.header(chunk_header_num);
  // Move to the next chunk header when this one is used up.
  if (static_cast<uint32>(chunk_index) >= marshal_uint4(curr->num_chunks)) {
    chunk_index = 0;
    if (curr->last || chunk_header_num + 1 >= table_.count()) return B_FALSE;  // file exhausted
    curr = &table_.header(++chunk_header_num);
  }

  const uint32 len = marshal_uint4(curr->chunk_sizes[chunk_index]);
  if (len > CHUNK_READ_BUFFER_SIZE) {
    report.sayf("Damaged dump file: a chunk of %u bytes is larger than the %d-byte chunk limit\n",
                len, CHUNK_READ_BUFFER_SIZE);
    *error = 1;
    return B_FALSE;
  }
  // Stored bytes that need no decompression are read straight into out.
  unsigned char* stored = compressed_ ? chunk_read_buffer : out;
  ssize_t count = read_from_source(fd, stored, len, report);
  *error = static_cast<int>(count);
  if (count <= 0) return B_FALSE;                         // a read error, or the file ends
  if (static_cast<uint32>(count) != len) return B_FALSE;  // a damaged file ends inside the chunk

  origin->offset = next_offset;
  origin->stored_len = len;
  origin->header_num = chunk_header_num;
  origin->index = chunk_index;
  next_offset += len;
  if (encrypted_) {
    origin->ctx_before = zcx;
    decrypt_brix_data(stored, static_cast<int32>(len));
  }
  size_t size = len;
  *error = Z_OK;
  if (compressed_) *error = inflater_.inflate(out, CHUNK_DECODED_MAX, &size, stored, len);
  if (*error != Z_OK) {
    report.say("Error while decompressing the data");
    return B_FALSE;
  }
  if (size == 0 || size % LR_BLOCK_SIZE != 0) {
    // Chunks hold whole stream blocks; anything else is damage.
    report.sayf("Damaged dump file: a chunk holds %zu bytes, not whole blocks\n", size);
    *error = 1;
    return B_FALSE;
  }
  chunk_index++;
  *decoded = size;
  return B_TRUE;
}

void dump_container::wipe() {
  table_.clear();
  wipe_secret(&zcx, sizeof(zcx));
  wipe_secret(chunk_read_buffer, sizeof(chunk_read_buffer));
  compressed_ = encrypted_ = B_FALSE;
  chunk_header_num = chunk_index = 0;
  next_offset = 0;
  detection_failed = false;
}
