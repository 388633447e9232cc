// The compressed and encrypted container of one dump file: detection of its
// kind, preparation (password check, chunk table), the decoding of its
// chunks in table order into a buffer the caller passes, and the digest
// check at its end. It knows nothing of the set the file belongs to or of
// what the decoded blocks are.
#ifndef BRIX_BRIX_COMP_ENCR_H
#define BRIX_BRIX_COMP_ENCR_H

#include <cstddef>

#include "brix.h"
#include "chunk_inflate.h"
#include "chunk_table.h"
#include "container_format.h"
#include "fault_report.h"
#include "fileenc.h"

// Where a decoded chunk is stored, and the decryption state it was read
// under: what a checkpoint needs to read the chunk again.
struct chunk_origin {
  int64 offset = 0;       // file offset of the stored bytes
  uint32 stored_len = 0;  // their count
  int header_num = 0;     // the chunk header that lists the chunk
  int index = 0;          // its entry in that header
  fcrypt_ctx ctx_before{};  // encrypted files: the decryption context before the chunk
};

class dump_container {
 public:
  dump_container() = default;
  ~dump_container() { wipe(); }
  dump_container(const dump_container&) = delete;
  dump_container& operator=(const dump_container&) = delete;

  // Detection: whether the file on fd carries the header of that kind. A
  // plain file is left at offset 0; an encrypted one behind its header.
  bool_t is_compressed(int fd, fault_report& report);
  bool_t is_encrypted(int fd, fault_report& report);
  // Both tests; false when a read or a seek failed (reported): the kind of
  // the file is then unknown and it must not be read.
  bool detect_kind(int fd, bool_t* compressed, bool_t* encrypted, fault_report& report);

  // Prepares the container open on session->src_fd, of the kind in
  // session->compressed / encrypted: checks the password against the file's
  // verifier (setting session->key_size), loads the chunk table and places
  // the next chunk at the data start.
  bool_t init_brix_decomp_decr(rpl_Session* session, fault_report& report);
  // Ends the file: compares its digest (a mismatch is accepted when
  // digest_check is set: a restart leaves the file part-way) and releases
  // the chunk table.
  bool_t term_brix_decomp_decr(bool_t digest_check, fault_report& report);

  // Reads, decrypts and decompresses the next chunk from fd into out, which
  // holds CHUNK_DECODED_MAX bytes. The result convention of the block
  // readers: B_TRUE with *decoded bytes in out (whole blocks); B_FALSE with
  // *error 0 when the file's chunks are used up; B_FALSE with *error
  // non-zero on a failure, reported.
  bool_t refill(int fd, unsigned char* out, size_t* decoded, chunk_origin* origin, int* error,
                fault_report& report);

  // Whether the table lists chunk `index` of chunk header `header_num` (or
  // the place just behind that header's last chunk), stored at `offset`.
  bool lists_chunk(int header_num, int index, int64 offset) const;
  // Makes that chunk, which the table lists, the next one read, under the
  // decryption context `context` (encrypted files).
  bool_t seek_chunk(int fd, int header_num, int index, int64 offset, const fcrypt_ctx& context,
                    fault_report& report);

  // Offset of the chunk table: behind the headers and the data area.
  int64 get_chunk_offset() const;
  // Where the table says chunk `index` of chunk header `header_num` is stored.
  int64 chunk_offset(int header_num, int index) const;

  bool_t compressed() const { return compressed_; }
  bool_t encrypted() const { return encrypted_; }
  const encr_header_type& encryption_header() const { return encr_header; }

  // Forgets the file and overwrites the key material.
  void wipe();

 private:
  int64 data_start() const;
  bool_t read_compression_header(int fd, fault_report& report);
  bool_t read_encryption_header(int fd, fault_report& report);

  // Decryption (brix_decrypt.cpp): the key derived from the password and
  // the file's salt with the verifier checked, each chunk decrypted in file
  // order, the digest compared at the end.
  bool_t init_brix_decryption(rpl_Session* session, fault_report& report);
  bool_t decrypt_brix_data_begin(rpl_Session* session, fault_report& report);
  void decrypt_brix_data(unsigned char* data, int32 len);
  bool_t decrypt_brix_data_end(bool_t digest_check, fault_report& report);
  bool_t end_brix_decryption(bool_t digest_check, fault_report& report);

  // Headers of the file, as read by detection.
  comp_header_type comp_header{};
  encr_header_type encr_header{};
  bool_t compressed_ = B_FALSE;  // set by init_brix_decomp_decr
  bool_t encrypted_ = B_FALSE;   // set by init_brix_decomp_decr

  chunk_table table_;
  int chunk_header_num = 0;  // the chunk header listing the next chunk (the current one)
  int chunk_index = 0;       // the next chunk's entry in it; may equal its num_chunks
  int64 next_offset = 0;     // where the next chunk's stored bytes begin
  fcrypt_ctx zcx{};          // running decryption and authentication state

  // A read or seek failed while the headers were looked for.
  bool detection_failed = false;

  // Decompresses the chunks; its decompressor serves this container's thread.
  chunk_inflater inflater_;

  alignas(16) unsigned char chunk_read_buffer[CHUNK_READ_BUFFER_SIZE];  // stored bytes of a chunk
};

#endif  // BRIX_BRIX_COMP_ENCR_H
