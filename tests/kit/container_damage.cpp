// Byte-level damage to container files, placed with the writer's own
// record offsets.
#include "kit/container_damage.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

#include "brix_comp_encr.h"
#include "marshal.h"

namespace kit {

namespace {

std::string os_error(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + strerror(errno);
}

// Reads `len` bytes at `offset`, lets `change` edit them, writes them back.
template <typename Change>
std::string patch(const std::string& path, int64_t offset, size_t len, Change change) {
  const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return os_error("cannot open", path);
  std::string bytes(len, '\0');
  std::string error;
  if (pread(fd, &bytes[0], len, offset) != static_cast<ssize_t>(len)) {
    error = "cannot read " + std::to_string(len) + " bytes at " + std::to_string(offset) + " of " +
            path;
  } else {
    change(reinterpret_cast<unsigned char*>(&bytes[0]));
    if (pwrite(fd, bytes.data(), len, offset) != static_cast<ssize_t>(len)) {
      error = os_error("cannot write", path);
    }
  }
  close(fd);
  return error;
}

// patch() on a field of the encryption header.
template <typename Change>
std::string patch_encr_header(const DumpFileInfo& f, size_t field_offset, size_t len,
                              Change change) {
  if (!has_encryption(f.format)) return f.path + " is not encrypted";
  const int64_t header = has_compression(f.format) ? COMP_HEADER_SIZE : 0;
  return patch(f.path, header + static_cast<int64_t>(field_offset), len, change);
}

void invert_byte(unsigned char* p) { *p = static_cast<unsigned char>(~*p); }

std::string need_container(const DumpFileInfo& f) {
  return is_container(f.format) ? "" : f.path + " is not a container";
}

}  // namespace

std::string damage_digest(const DumpFileInfo& f) {
  return patch_encr_header(f, offsetof(encr_header_type, digest_value), 1, invert_byte);
}

std::string damage_verifier(const DumpFileInfo& f) {
  return patch_encr_header(f, offsetof(encr_header_type, passwd_verifier), 1, invert_byte);
}

std::string damage_digest_len(const DumpFileInfo& f, uint16_t len) {
  return patch_encr_header(f, offsetof(encr_header_type, digest_len), sizeof len,
                           [len](unsigned char* p) {
                             const uint16 wire = marshal_uint2(len);
                             memcpy(p, &wire, sizeof wire);
                           });
}

std::string damage_drop_last_flag(const DumpFileInfo& f) {
  if (!need_container(f).empty()) return need_container(f);
  const int64_t last_header = f.table_offset + int64_t{CHUNK_HEADER_SIZE} * (f.chunk_headers - 1);
  return patch(f.path, last_header + static_cast<int64_t>(offsetof(chunk_header_type, last)), 1,
               [](unsigned char* p) { *p = 0; });
}

std::string damage_chunk_size(const DumpFileInfo& f, size_t chunk, uint32_t size) {
  if (!need_container(f).empty()) return need_container(f);
  if (chunk >= f.chunks.size()) return f.path + " has no chunk " + std::to_string(chunk);
  const ChunkInfo& c = f.chunks[chunk];
  const int64_t entry = f.table_offset + int64_t{CHUNK_HEADER_SIZE} * c.header_number +
                        static_cast<int64_t>(offsetof(chunk_header_type, chunk_sizes)) +
                        int64_t{sizeof(uint32)} * c.index_in_header;
  return patch(f.path, entry, sizeof size, [size](unsigned char* p) {
    const uint32 wire = marshal_uint4(size);
    memcpy(p, &wire, sizeof wire);
  });
}

std::string damage_flip_stored_byte(const DumpFileInfo& f, size_t chunk, uint32_t offset,
                                    uint8_t mask) {
  if (!need_container(f).empty()) return need_container(f);
  if (chunk >= f.chunks.size()) return f.path + " has no chunk " + std::to_string(chunk);
  const ChunkInfo& c = f.chunks[chunk];
  if (offset >= c.stored_size) {
    return "chunk " + std::to_string(chunk) + " has no byte " + std::to_string(offset);
  }
  return patch(f.path, c.offset + offset, 1, [mask](unsigned char* p) { *p ^= mask; });
}

std::string damage_truncate(const DumpFileInfo& f, int64_t length) {
  if (length < 0 || length > f.size)
    return "cannot cut " + f.path + " to " + std::to_string(length);
  if (truncate(f.path.c_str(), length) != 0) return os_error("cannot truncate", f.path);
  return "";
}

std::string damage_cut_last_chunk_header(const DumpFileInfo& f, uint32_t keep) {
  if (!need_container(f).empty()) return need_container(f);
  if (keep < 1 || keep >= CHUNK_HEADER_SIZE) return "keep 1 to 8231 bytes of a chunk header";
  return damage_truncate(f, f.size - CHUNK_HEADER_SIZE + keep);
}

}  // namespace kit
