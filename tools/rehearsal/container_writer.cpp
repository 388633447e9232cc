// One container dump file, written chunk by chunk with the writer's own
// records and the capture side of the file-encryption scheme.
#include "rehearsal/container_writer.h"

#include <zlib.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "brix_comp_encr.h"
#include "marshal.h"
#include "rehearsal/rng.h"
#include "wipe.h"

namespace kit {

namespace {

constexpr uint32_t kContainerVersion = 1;
constexpr uint32_t kContainerFileno = 0;
// chunk_size of every chunk header: the largest chunk before compression.
constexpr uint32_t kChunkSizeField = kMaxChunkBlocks * LR_BLOCK_SIZE;
// Container offsets are handled as signed 32-bit values.
constexpr int64_t kMaxContainerSize = INT32_MAX;
constexpr size_t kRngBytes = sizeof(uint64_t);

void put_u32(uint32& field, uint32_t value) { field = marshal_uint4(value); }
void put_u64(uint64_a4& field, uint64_t value) { field = marshal_uint8(value); }

// Both headers open alike: identifier, version, fileno, data_size; spares zero.
template <typename Header>
void start_header(Header& h, const char (&identifier)[CONTAINER_ID_SIZE], uint64_t data_size) {
  memset(&h, 0, sizeof h);
  memcpy(h.identifier, identifier, CONTAINER_ID_SIZE);
  put_u32(h.version, kContainerVersion);
  put_u32(h.fileno, kContainerFileno);
  put_u64(h.data_size, data_size);
}

}  // namespace

std::vector<unsigned char> container_salt(const ContainerOptions& options, size_t file_ordinal) {
  if (!options.salt.empty()) return options.salt;
  const bool known_mode = options.mode >= 1 && options.mode <= 3;
  std::vector<unsigned char> salt(known_mode ? SALT_LENGTH(options.mode) : 0);
  Rng rng(mix_seed(options.salt_seed, file_ordinal));
  for (size_t i = 0; i < salt.size(); i += kRngBytes) {
    const uint64_t word = rng.next();
    for (size_t k = 0; k < kRngBytes && i + k < salt.size(); ++k) {
      salt[i + k] = static_cast<unsigned char>(word >> (8 * k));
    }
  }
  return salt;
}

ContainerFileWriter::~ContainerFileWriter() { close_file(); }

void ContainerFileWriter::close_file() {
  if (file_ != nullptr) fclose(file_);
  file_ = nullptr;
  wipe_secret(&crypt_, sizeof crypt_);
}

bool ContainerFileWriter::fail(const std::string& what) {
  if (error_.empty()) error_ = what;
  close_file();
  return false;
}

bool ContainerFileWriter::open(const std::string& path, DumpFormat format,
                               const ContainerOptions& options,
                               const std::vector<unsigned char>& salt, uint64_t first_block) {
  close_file();
  error_.clear();
  info_ = DumpFileInfo();
  info_.path = path;
  info_.format = format;
  info_.first_block = first_block;
  if (!is_container(format)) return fail("a container needs a compressed or encrypted format");
  if (options.max_chunk_blocks < 1 || options.max_chunk_blocks > kMaxChunkBlocks) {
    return fail("a chunk holds 1 to " + std::to_string(kMaxChunkBlocks) + " blocks");
  }
  max_blocks_ = options.max_chunk_blocks;
  close_before_new_sync_ = options.close_before_new_sync;
  boundaries_ =
      std::set<uint64_t>(options.extra_boundaries.begin(), options.extra_boundaries.end());
  chunk_.clear();
  chunk_.reserve(static_cast<size_t>(max_blocks_) * LR_BLOCK_SIZE);
  stored_.assign(compressBound(kChunkSizeField), 0);
  chunk_blocks_ = 0;
  area_bytes_ = 0;

  if (has_encryption(format)) {
    if (options.mode < 1 || options.mode > 3) return fail("the encryption mode is 1, 2 or 3");
    const size_t salt_len = SALT_LENGTH(options.mode);
    if (salt.size() < salt_len) return fail("the salt is shorter than the mode needs");
    info_.mode = options.mode;
    info_.salt.assign(salt.begin(), salt.begin() + static_cast<long>(salt_len));
    const int rc = fcrypt_init(
        options.mode, reinterpret_cast<const unsigned char*>(options.password.data()),
        static_cast<unsigned>(options.password.size()), info_.salt.data(), verifier_, &crypt_);
    if (rc != 0) return fail("the password is longer than 64 bytes");
  }
  info_.data_start = (has_compression(format) ? COMP_HEADER_SIZE : 0) +
                     (has_encryption(format) ? ENCR_HEADER_SIZE : 0);

  file_ = fopen(path.c_str(), "wbe");
  if (file_ == nullptr) return fail("cannot create " + path + ": " + strerror(errno));
  // The headers are written last, when the sizes and the digest are known.
  const std::vector<char> room(static_cast<size_t>(info_.data_start), 0);
  if (fwrite(room.data(), 1, room.size(), file_) != room.size()) {
    return fail("cannot write " + path);
  }
  return true;
}

bool ContainerFileWriter::add(const Block& b, bool opens_new_sync) {
  if (file_ == nullptr) return fail("the container is not open");
  const uint64_t index = info_.first_block + info_.blocks;
  const bool early = (opens_new_sync && close_before_new_sync_) || boundaries_.count(index) > 0;
  if (chunk_blocks_ > 0 && (early || chunk_blocks_ == max_blocks_)) {
    if (!store_chunk()) return false;
  }
  chunk_.insert(chunk_.end(), b.bytes, b.bytes + LR_BLOCK_SIZE);
  ++chunk_blocks_;
  ++info_.blocks;
  return true;
}

bool ContainerFileWriter::store_chunk() {
  unsigned char* data = chunk_.data();
  uLongf len = chunk_.size();
  if (has_compression(info_.format)) {
    len = stored_.size();
    if (compress(stored_.data(), &len, chunk_.data(), chunk_.size()) != Z_OK) {
      return fail("zlib could not compress a chunk");
    }
    data = stored_.data();
  }
  if (has_encryption(info_.format)) fcrypt_encrypt(data, static_cast<unsigned>(len), &crypt_);

  ChunkInfo c;
  c.offset = info_.data_start + area_bytes_;
  c.stored_size = static_cast<uint32_t>(len);
  c.first_block = info_.first_block + info_.blocks - chunk_blocks_;
  c.blocks = chunk_blocks_;
  c.header_number = static_cast<int>(info_.chunks.size() / CHUNK_TABLE_ENTRIES);
  c.index_in_header = static_cast<int>(info_.chunks.size() % CHUNK_TABLE_ENTRIES);
  if (c.offset + static_cast<int64_t>(len) + CHUNK_HEADER_SIZE * (c.header_number + 1) >
      kMaxContainerSize) {
    return fail("a container must stay below 2 GiB: " + info_.path);
  }
  if (fwrite(data, 1, len, file_) != len) return fail("cannot write " + info_.path);
  info_.chunks.push_back(c);
  area_bytes_ += static_cast<int64_t>(len);
  chunk_.clear();
  chunk_blocks_ = 0;
  return true;
}

bool ContainerFileWriter::write_table() {
  const size_t count = info_.chunks.size();
  // A file without chunks still ends with one (empty, last) chunk header.
  const size_t headers = count == 0 ? 1 : (count + CHUNK_TABLE_ENTRIES - 1) / CHUNK_TABLE_ENTRIES;
  chunk_header_type h;
  for (size_t n = 0; n < headers; ++n) {
    memset(&h, 0, sizeof h);
    const size_t first = n * CHUNK_TABLE_ENTRIES;
    const size_t used = std::min<size_t>(CHUNK_TABLE_ENTRIES, count - std::min(count, first));
    put_u32(h.version, kContainerVersion);
    put_u32(h.num_chunks, static_cast<uint32_t>(used));
    put_u32(h.chunk_size, kChunkSizeField);
    for (size_t k = 0; k < used; ++k)
      put_u32(h.chunk_sizes[k], info_.chunks[first + k].stored_size);
    h.last = n + 1 == headers ? 1 : 0;
    if (fwrite(&h, 1, sizeof h, file_) != sizeof h) return fail("cannot write " + info_.path);
  }
  info_.table_offset = info_.data_start + area_bytes_;
  info_.chunk_headers = static_cast<int>(headers);
  info_.size = info_.table_offset + static_cast<int64_t>(headers) * CHUNK_HEADER_SIZE;
  return true;
}

bool ContainerFileWriter::write_headers() {
  if (fseeko(file_, 0, SEEK_SET) != 0) return fail("cannot seek in " + info_.path);
  const uint64_t data_size = info_.blocks * LR_BLOCK_SIZE;
  if (has_compression(info_.format)) {
    comp_header_type c;
    start_header(c, CompressionID, data_size);
    put_u64(c.compressed_size, static_cast<uint64_t>(area_bytes_));
    if (fwrite(&c, 1, sizeof c, file_) != sizeof c) return fail("cannot write " + info_.path);
  }
  if (has_encryption(info_.format)) {
    encr_header_type e;
    start_header(e, EncryptionID, data_size);
    put_u64(e.encrypted_size, static_cast<uint64_t>(area_bytes_));
    e.salt_len = static_cast<uint8>(info_.salt.size());
    memcpy(e.salt_value, info_.salt.data(), info_.salt.size());
    e.digest_len = marshal_uint2(static_cast<uint16>(fcrypt_end(e.digest_value, &crypt_)));
    e.passwd_verifier_len = PWD_VER_LENGTH;
    memcpy(e.passwd_verifier, verifier_, PWD_VER_LENGTH);
    if (fwrite(&e, 1, sizeof e, file_) != sizeof e) return fail("cannot write " + info_.path);
  }
  return true;
}

bool ContainerFileWriter::finish() {
  if (file_ == nullptr) return fail("the container is not open");
  if (chunk_blocks_ > 0 && !store_chunk()) return false;
  if (!write_table() || !write_headers()) return false;
  const bool closed = fclose(file_) == 0;
  file_ = nullptr;
  wipe_secret(&crypt_, sizeof crypt_);
  return closed ? true : fail("cannot write " + info_.path);
}

}  // namespace kit
