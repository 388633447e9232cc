// Detection, preparation and chunk decoding of a container dump file.
#include "brix_comp_encr.h"

#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cstring>
#include <vector>

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
  return data_start() + static_cast<uint32>(data_area_size());
}

uint64_t dump_container::data_area_size() const {
  if (compressed_) return marshal_uint8(comp_header.compressed_size);
  if (encrypted_) return marshal_uint8(encr_header.encrypted_size);
  return 0;
}

uint64_t dump_container::stream_size() const {
  return marshal_uint8(compressed_ ? comp_header.data_size : encr_header.data_size);
}

// Compressed files carry no digest: what the headers say of the file must
// at least agree with its chunk table and its length.
bool_t dump_container::table_fits_file(int fd, fault_report& report) const {
  const uint64_t listed = table_.stored_total();
  if (listed != data_area_size()) {
    report.sayf("Damaged dump file: its chunk table lists %llu stored bytes, its header %llu\n",
                static_cast<unsigned long long>(listed),
                static_cast<unsigned long long>(data_area_size()));
    return B_FALSE;
  }
  struct stat st;
  const int64 expected =
      get_chunk_offset() + static_cast<int64>(table_.count()) * CHUNK_HEADER_SIZE;
  if (fstat(fd, &st) == 0 && st.st_size != expected) {
    report.sayf(
        "Damaged dump file: %lld bytes long where its headers, data and chunk table take "
        "%lld\n",
        static_cast<long long>(st.st_size), static_cast<long long>(expected));
    return B_FALSE;
  }
  return B_TRUE;
}

bool_t dump_container::init_brix_decomp_decr(rpl_Session* session, fault_report& report) {
  compressed_ = session->compressed;
  encrypted_ = session->encrypted;
  next_ = chunk_cursor();
  next_.offset = data_start();
  decoded_bytes = 0;
  entered_midway = end_checked = damaged_chunk = false;
  if (compressed_ && !init_brix_decompression()) return B_FALSE;
  if (encrypted_ && !init_brix_decryption(session, report)) return B_FALSE;
  if (!table_.read_chunk_headers(session->src_fd, get_chunk_offset(), report) ||
      !table_fits_file(session->src_fd, report)) {
    return B_FALSE;
  }
  return seek_source(session->src_fd, static_cast<off_t>(next_.offset), report) ? B_TRUE : B_FALSE;
}

bool_t dump_container::compare_end(const fcrypt_ctx& context, uint64_t decoded,
                                   fault_report& report) const {
  if (encrypted_ && !decrypt_brix_data_end(context, report)) return B_FALSE;
  return compare_decoded_size(decoded, report);
}

bool_t dump_container::compare_decoded_size(uint64_t decoded, fault_report& report) const {
  if (!entered_midway && decoded != stream_size()) {
    report.sayf("Damaged dump file: its chunks decode to %llu bytes, its header says %llu\n",
                static_cast<unsigned long long>(decoded),
                static_cast<unsigned long long>(stream_size()));
    return B_FALSE;
  }
  return B_TRUE;
}

bool_t dump_container::term_brix_decomp_decr(bool_t digest_check, fault_report& report) {
  if (compressed_) end_brix_decompression();
  if (!digest_check && !end_checked && !compare_end(zcx, decoded_bytes, report)) return B_FALSE;
  table_.clear();
  wipe_secret(&zcx, sizeof(zcx));
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
  next_.chunk_header_num = header_num;
  next_.chunk_index = index;
  next_.offset = offset;
  entered_midway = true;
  if (encrypted_) zcx = context;
  return seek_source(fd, static_cast<off_t>(offset), report) ? B_TRUE : B_FALSE;
}

int dump_container::decode(unsigned char* stored, uint32 len, fcrypt_ctx* context,
                           unsigned char* out, size_t* size) {
  if (encrypted_) decrypt_brix_data(stored, static_cast<int32>(len), context);
  *size = len;
  if (!compressed_) return Z_OK;
  return inflater_.inflate(out, CHUNK_DECODED_MAX, size, stored, len);
}

bool_t dump_container::refill(int fd, unsigned char* out, size_t* decoded, chunk_origin* origin,
                              int* error, fault_report& report) {
  if (!read_chunk(fd, out, chunk_read_buffer, origin, error, report)) return B_FALSE;
  const bool_t ok =
      decode_chunk(inflater_, out, chunk_read_buffer, *origin, decoded, error, report);
  count_decoded(ok == B_TRUE, *decoded);
  return ok;
}

bool_t dump_container::read_chunk(int fd, unsigned char* out, unsigned char* stored_area,
                                  chunk_origin* origin, int* error, fault_report& report) {
  *error = READ_END;
  if (table_.count() == 0) {
    report.say("Damaged dump file: no chunk header to read from\n");
    *error = READ_DAMAGED;
    return B_FALSE;
  }
  uint32 len = 0;
  if (!table_.next_chunk(&next_, &len)) return B_FALSE;  // the file's chunks are used up
  if (len > CHUNK_READ_BUFFER_SIZE) {
    report.sayf("Damaged dump file: a chunk of %u bytes is larger than the %d-byte chunk limit\n",
                len, CHUNK_READ_BUFFER_SIZE);
    *error = READ_DAMAGED;
    return B_FALSE;
  }
  unsigned char* stored = stored_bytes_of(out, stored_area);
  ssize_t count = read_from_source(fd, stored, len, report);
  *error = static_cast<int>(count);
  if (count <= 0) return B_FALSE;                         // a read error, or the file ends
  if (static_cast<uint32>(count) != len) return B_FALSE;  // a damaged file ends inside the chunk
  *error = READ_END;

  origin->offset = next_.offset;
  origin->stored_len = len;
  origin->header_num = next_.chunk_header_num;
  origin->index = next_.chunk_index;
  if (encrypted_) {
    origin->ctx_before = zcx;
    fcrypt_authenticate(stored, len, &zcx);
  }
  // The chunk is taken whatever it decodes to: its stored bytes are in the
  // digest now, and a check of the file's rest goes on behind it.
  next_.offset += len;
  next_.chunk_index++;
  return B_TRUE;
}

bool_t dump_container::decode_chunk(chunk_inflater& inflater, unsigned char* out,
                                    unsigned char* stored_area, const chunk_origin& origin,
                                    size_t* decoded, int* error, fault_report& report) const {
  unsigned char* stored = stored_bytes_of(out, stored_area);
  const uint32 len = origin.stored_len;
  if (encrypted_) fcrypt_apply_key_stream(stored, len, origin.ctx_before);
  size_t size = len;
  *decoded = 0;
  *error = compressed_ ? inflater.inflate(out, CHUNK_DECODED_MAX, &size, stored, len) : Z_OK;
  if (*error != Z_OK) {
    report.say("Error while decompressing the data");
    return B_FALSE;
  }
  if (size == 0 || size % LR_BLOCK_SIZE != 0) {
    // Chunks hold whole stream blocks; anything else is damage.
    report.sayf("Damaged dump file: a chunk holds %zu bytes, not whole blocks\n", size);
    *error = READ_DAMAGED;
    return B_FALSE;
  }
  *decoded = size;
  return B_TRUE;
}

void dump_container::count_decoded(bool decoded_ok, size_t size) {
  if (decoded_ok) {
    decoded_bytes += size;
  } else {
    damaged_chunk = true;
  }
}

bool_t dump_container::check_rest_of_file(int fd, fault_report& report) {
  if (end_checked) return B_TRUE;
  fcrypt_ctx context = zcx;
  uint64_t decoded = decoded_bytes;
  bool decodes = !damaged_chunk;  // every chunk decompressed
  chunk_cursor at = next_;
  std::vector<unsigned char> scratch(CHUNK_DECODED_MAX);
  uint32 len = 0;
  while (table_.next_chunk(&at, &len)) {
    if (len > CHUNK_READ_BUFFER_SIZE) {
      report.sayf("Damaged dump file: a chunk of %u bytes is larger than the %d-byte chunk limit\n",
                  len, CHUNK_READ_BUFFER_SIZE);
      return B_FALSE;
    }
    const ssize_t count = pread(fd, chunk_read_buffer, len, static_cast<off_t>(at.offset));
    if (count < 0) report.say_errno("Bad read from Source");
    if (count >= 0 && count != static_cast<ssize_t>(len)) report.say("Short read from Source");
    if (count != static_cast<ssize_t>(len)) return B_FALSE;
    size_t size = 0;
    // The digest goes over every stored byte, whatever the chunk decodes to.
    decodes = decode(chunk_read_buffer, len, &context, scratch.data(), &size) == Z_OK && decodes;
    at.offset += len;
    at.chunk_index++;
    decoded += size;
  }
  bool_t ok = B_TRUE;
  if (encrypted_ && !decrypt_brix_data_end(context, report)) {
    ok = B_FALSE;
  } else if (!decodes) {
    report.say("Error while decompressing the data");
    ok = B_FALSE;
  } else {
    ok = compare_decoded_size(decoded, report);
  }
  wipe_secret(&context, sizeof(context));
  end_checked = ok == B_TRUE;
  return ok;
}

void dump_container::wipe() {
  table_.clear();
  wipe_secret(&zcx, sizeof(zcx));
  wipe_secret(chunk_read_buffer, sizeof(chunk_read_buffer));
  compressed_ = encrypted_ = B_FALSE;
  next_ = chunk_cursor();
  decoded_bytes = 0;
  entered_midway = end_checked = damaged_chunk = false;
  detection_failed = false;
}
