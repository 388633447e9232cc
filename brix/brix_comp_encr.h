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
#include "source_io.h"

// Where a decoded chunk is stored, and the decryption state it was read
// under: what a checkpoint needs to read the chunk again.
struct chunk_origin {
  int64 offset = 0;         // file offset of the stored bytes
  uint32 stored_len = 0;    // their count
  int header_num = 0;       // the chunk header that lists the chunk
  int index = 0;            // its entry in that header
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
  // Ends the file: compares its digest and, for a file read from its start,
  // the size of its decoded stream with its header; then releases the chunk
  // table. With digest_check set (a restart leaves the file part-way, or its
  // end was checked already) nothing is compared.
  bool_t term_brix_decomp_decr(bool_t digest_check, fault_report& report);

  // Does the end-of-file checks of term_brix_decomp_decr now, over the
  // chunks not read yet, without moving the reading: their stored bytes are
  // authenticated and decoded aside. B_FALSE, reported, on a mismatch or a
  // failed read. Once it has passed, the end of the file compares nothing.
  bool_t check_rest_of_file(int fd, fault_report& report);

  // Reads, decrypts and decompresses the next chunk from fd into out, which
  // holds CHUNK_DECODED_MAX bytes. The result convention of the block
  // readers: B_TRUE with *decoded bytes in out (whole blocks); B_FALSE with
  // *error 0 when the file's chunks are used up; B_FALSE with *error
  // non-zero on a failure, reported.
  bool_t refill(int fd, unsigned char* out, size_t* decoded, chunk_origin* origin, int* error,
                fault_report& report);

  // refill in three steps, for a second thread to share the decoding. The
  // steps that must go in file order: read_chunk reads the next chunk's
  // stored bytes (into stored_area when the file is compressed, else into
  // out) and authenticates them, with refill's result convention (B_TRUE:
  // stored, not yet decoded). Then any thread, in any order, with an
  // inflater of its own: decode_chunk decrypts and decompresses a chunk so
  // read into out (*decoded bytes), reporting a chunk that does not decode
  // to whole blocks. Last, count_decoded takes its outcome into what the
  // file's end compares; its calls must not overlap with each other or with
  // check_rest_of_file or term_brix_decomp_decr.
  bool_t read_chunk(int fd, unsigned char* out, unsigned char* stored_area, chunk_origin* origin,
                    int* error, fault_report& report);
  bool_t decode_chunk(chunk_inflater& inflater, unsigned char* out, unsigned char* stored_area,
                      const chunk_origin& origin, size_t* decoded, int* error,
                      fault_report& report) const;
  void count_decoded(bool decoded_ok, size_t size);

  // Whether the table lists chunk `index` of chunk header `header_num` (or
  // the place just behind that header's last chunk), stored at `offset`.
  bool lists_chunk(int header_num, int index, int64 offset) const;
  // Makes that chunk, which the table lists, the next one read, under the
  // decryption context `context` (encrypted files).
  bool_t seek_chunk(int fd, int header_num, int index, int64 offset, const fcrypt_ctx& context,
                    fault_report& report);

  // Offset of the chunk table: behind the headers and the data area.
  int64 get_chunk_offset() const;
  // Bytes of the data area, and of the stream it decodes to, by the headers.
  uint64_t data_area_size() const;
  uint64_t stream_size() const;
  // Where the table says chunk `index` of chunk header `header_num` is stored.
  int64 chunk_offset(int header_num, int index) const;

  bool_t compressed() const { return compressed_; }
  bool_t encrypted() const { return encrypted_; }
  const encr_header_type& encryption_header() const { return encr_header; }

  // Whether a recorded decryption context carries the keys that the
  // password derives from this file's salt (a prepared encrypted file).
  bool matches_key_material(const fcrypt_ctx& recorded) const;

  // Forgets the file and overwrites the key material.
  void wipe();

 private:
  int64 data_start() const;
  bool_t table_fits_file(int fd, fault_report& report) const;
  bool_t read_compression_header(int fd, fault_report& report);
  bool_t read_encryption_header(int fd, fault_report& report);

  // Decryption (brix_decrypt.cpp): the key derived from the password and
  // the file's salt with the verifier checked, each chunk decrypted in file
  // order, the digest of a finished context compared at the end.
  bool_t init_brix_decryption(rpl_Session* session, fault_report& report);
  bool_t decrypt_brix_data_begin(rpl_Session* session, fault_report& report);
  static void decrypt_brix_data(unsigned char* data, int32 len, fcrypt_ctx* context);
  bool_t decrypt_brix_data_end(const fcrypt_ctx& context, fault_report& report) const;

  // Headers of the file, as read by detection.
  comp_header_type comp_header{};
  encr_header_type encr_header{};
  bool_t compressed_ = B_FALSE;  // set by init_brix_decomp_decr
  bool_t encrypted_ = B_FALSE;   // set by init_brix_decomp_decr

  // Decrypts and decompresses `len` stored bytes in `stored` (decrypted in
  // place under `context`) into out; zlib's result, *size the bytes made.
  int decode(unsigned char* stored, uint32 len, fcrypt_ctx* context, unsigned char* out,
             size_t* size);
  // Where a chunk's stored bytes go: a compressed chunk beside the buffer it
  // decodes into, any other straight into it.
  unsigned char* stored_bytes_of(unsigned char* out, unsigned char* stored_area) const {
    return compressed_ ? stored_area : out;
  }
  // The size and digest comparisons of the file's end, for a stream that
  // decoded to `decoded` bytes under the finished context `context`.
  bool_t compare_end(const fcrypt_ctx& context, uint64_t decoded, fault_report& report) const;
  bool_t compare_decoded_size(uint64_t decoded, fault_report& report) const;

  chunk_table table_;
  chunk_cursor next_;           // the next chunk to read
  fcrypt_ctx zcx{};             // running decryption and authentication state
  uint64_t decoded_bytes = 0;   // decoded so far from the file's start
  bool entered_midway = false;  // a restart placed the reading: the decoded size is unknown
  bool end_checked = false;     // check_rest_of_file passed: the end compares nothing
  bool damaged_chunk = false;   // a chunk read did not decode to whole blocks

  // A read or seek failed while the headers were looked for.
  bool detection_failed = false;

  // Decompresses the chunks; its decompressor serves this container's thread.
  chunk_inflater inflater_;

  alignas(16) unsigned char chunk_read_buffer[CHUNK_READ_BUFFER_SIZE];  // stored bytes of a chunk
};

#endif  // BRIX_BRIX_COMP_ENCR_H
