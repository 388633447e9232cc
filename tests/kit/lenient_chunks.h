// Zlib chunks built bit by bit, one for each DEFLATE construct that
// libdeflate accepts and zlib refuses, and the trailer fix that lets damage
// inside the DEFLATE data reach a decoder past its checksum: what the
// inflater's tests and its fuzz target feed it.
#ifndef KIT_LENIENT_CHUNKS_H
#define KIT_LENIENT_CHUNKS_H

#include <libdeflate.h>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace kit {

// Makes chunks pass libdeflate's checksum: `chunk` with its 2-byte header
// kept, its DEFLATE data cut where libdeflate ends it, and the Adler-32 of
// what libdeflate decodes it to. Empty when libdeflate refuses the data or
// it decodes to more than the limit. Keeps its decompressor and buffer from
// one chunk to the next.
class LibdeflateTrailer {
 public:
  explicit LibdeflateTrailer(size_t limit);
  std::string seal(const std::string& chunk);

 private:
  std::unique_ptr<libdeflate_decompressor, void (*)(libdeflate_decompressor*)> decompressor_;
  std::vector<unsigned char> out_;
};

struct LenientChunk {
  const char* construct;  // what zlib refuses in it
  std::string chunk;      // empty when libdeflate refuses it as well
};

// One chunk per construct, each otherwise well formed and decoding to at
// most 65536 bytes with libdeflate.
std::vector<LenientChunk> lenient_chunks();

}  // namespace kit

#endif  // KIT_LENIENT_CHUNKS_H
