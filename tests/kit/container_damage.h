// Damage done on purpose to a container the kit wrote, aimed with its
// description (DumpFileInfo): each helper changes exactly the bytes it
// names, so a test can expect the one message that damage must cause.
// Every helper returns "" on success, else what went wrong.
#ifndef KIT_CONTAINER_DAMAGE_H
#define KIT_CONTAINER_DAMAGE_H

#include <cstdint>
#include <string>

#include "rehearsal/dump_format.h"

namespace kit {

// A stored chunk size beyond the 131072-byte read buffer.
constexpr uint32_t kOversizedChunk = 131073;

// Inverts the first byte of the stored digest (digest_value).
std::string damage_digest(const DumpFileInfo& f);
// Inverts the first byte of the stored password verifier.
std::string damage_verifier(const DumpFileInfo& f);
// Sets digest_len (the bytes of the digest compared), e.g. above 64.
std::string damage_digest_len(const DumpFileInfo& f, uint16_t len);
// Clears `last` in the final chunk header: the table then has no last header.
std::string damage_drop_last_flag(const DumpFileInfo& f);
// Writes `size` as the chunk_sizes entry of chunk `chunk`.
std::string damage_chunk_size(const DumpFileInfo& f, size_t chunk, uint32_t size);
// Inverts the bits of `mask` in byte `offset` of the stored bytes of chunk
// `chunk` (ciphertext when encrypted, else compressed data).
std::string damage_flip_stored_byte(const DumpFileInfo& f, size_t chunk, uint32_t offset,
                                    uint8_t mask = 0xFF);
// Cuts the file to `length` bytes (not longer than it is).
std::string damage_truncate(const DumpFileInfo& f, int64_t length);
// Cuts the file inside its last chunk header, keeping `keep` bytes of it
// (1 to 8231): a partial trailing chunk header.
std::string damage_cut_last_chunk_header(const DumpFileInfo& f, uint32_t keep);

}  // namespace kit

#endif  // KIT_CONTAINER_DAMAGE_H
