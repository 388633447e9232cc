// A second, independent reading of dump files for the kit's own tests: the
// container is parsed by its byte offsets, the keys come from OpenSSL's
// PBKDF2, the key stream from OpenSSL's AES over the counter blocks, the
// digest from OpenSSL's HMAC, and chunks are inflated with zlib. It shares
// no code with the writer or the kit's container writer, so a fault in
// either shows up as a disagreement.
#ifndef KIT_CONTAINER_DECODER_H
#define KIT_CONTAINER_DECODER_H

#include <cstdint>
#include <string>
#include <vector>

namespace kit {

// The first thing found wrong with a file.
enum class DecodeError {
  none,
  short_header,       // an identifier was found but the header is cut
  bad_salt_length,    // salt_len is not 8, 12 or 16
  verifier_too_long,  // passwd_verifier_len above 2
  digest_too_long,    // digest_len above 64
  wrong_password,     // the verifier differs
  digest_mismatch,    // the HMAC over the stored data differs
  short_data,         // the file ends inside its data area
  no_chunk_header,    // nothing behind the data area
  partial_chunk_header,
  too_many_entries,  // num_chunks above 2048
  no_last_header,    // the final chunk header has last = 0
  oversized_chunk,   // a stored size above 131072
  sizes_off_area,    // the chunk sizes do not add up to the data area
  inflate_failed,
  partial_block,  // a chunk that is not whole blocks
  // a field the capture tool always writes the same way differs: version
  // (1), fileno (0), data_size (the decoded bytes), compressed_size =
  // encrypted_size, chunk header version (1) and chunk_size (65536)
  unexpected_field
};
const char* decode_error_name(DecodeError e);

struct DecodedFile {
  bool compressed = false;
  bool encrypted = false;
  int mode = 0;                        // 1 to 3 when encrypted
  std::vector<uint8_t> last_flags;     // last of each chunk header
  std::vector<uint32_t> stored_sizes;  // every chunk's stored size, in data order
  std::vector<uint32_t> chunk_blocks;  // the blocks each chunk decodes to
  std::string stream;                  // the decoded stream blocks (a plain file: its bytes)
  DecodeError error = DecodeError::none;
};

// Decodes one dump file's bytes; a file without container headers is plain.
DecodedFile decode_dump_file(const std::string& bytes, const std::string& password);

// Decodes the files in order and joins their streams; `error` names the
// first file that fails and why.
struct DecodedSet {
  std::vector<DecodedFile> files;
  std::string stream;
  std::string error;
};
DecodedSet decode_dump_files(const std::vector<std::string>& paths, const std::string& password);

}  // namespace kit

#endif  // KIT_CONTAINER_DECODER_H
