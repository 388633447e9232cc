// Fuzz target: one stored chunk of a compressed container, arbitrary bytes.
// Oracles: the writer's inflater gives exactly what zlib's uncompress gives
// (result, decoded length, bytes); and wherever the inflater would take
// libdeflate's verdict (the scan vouches for the stream), libdeflate alone
// agrees with uncompress. Each input is tried as it is and with its trailer
// made right for libdeflate's reading, so that damage inside the DEFLATE data
// is not hidden behind a checksum mismatch.
#include <libdeflate.h>
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "chunk_inflate.h"
#include "container_format.h"
#include "deflate_scan.h"
#include "fuzz_support.h"
#include "kit/lenient_chunks.h"

namespace {

// What every input uses, made once for the run.
struct Decoders {
  chunk_inflater inflater;
  std::unique_ptr<libdeflate_decompressor, void (*)(libdeflate_decompressor*)> alone{
      libdeflate_alloc_decompressor(), &libdeflate_free_decompressor};
  kit::LibdeflateTrailer trailer{CHUNK_DECODED_MAX};
  unsigned char zlib_out[CHUNK_DECODED_MAX];
  unsigned char out[CHUNK_DECODED_MAX];
};

void check(Decoders& d, const std::string& chunk) {
  const unsigned char* in = reinterpret_cast<const unsigned char*>(chunk.data());
  uLongf zlib_size = CHUNK_DECODED_MAX;
  const int zlib_result = uncompress(d.zlib_out, &zlib_size, in, chunk.size());

  size_t size = 0;
  const int result = d.inflater.inflate(d.out, CHUNK_DECODED_MAX, &size, in, chunk.size());
  fuzz::require(
      result == zlib_result && size == zlib_size && memcmp(d.out, d.zlib_out, zlib_size) == 0,
      "the inflater's result differs from uncompress's");

  if (libdeflate_verdict_is_zlibs(in, chunk.size())) {
    const libdeflate_result alone = libdeflate_zlib_decompress(d.alone.get(), in, chunk.size(),
                                                               d.out, CHUNK_DECODED_MAX, &size);
    fuzz::require((alone == LIBDEFLATE_SUCCESS) == (zlib_result == Z_OK),
                  "libdeflate's verdict differs from zlib's on a stream the scan vouched for");
    fuzz::require(
        alone != LIBDEFLATE_SUCCESS || (size == zlib_size && memcmp(d.out, d.zlib_out, size) == 0),
        "libdeflate's bytes differ from zlib's");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > CHUNK_READ_BUFFER_SIZE) return 0;  // the container refuses it unread
  static Decoders decoders;
  const std::string chunk(reinterpret_cast<const char*>(data), size);
  check(decoders, chunk);
  const std::string sealed = decoders.trailer.seal(chunk);
  if (!sealed.empty() && sealed != chunk) check(decoders, sealed);
  return 0;
}
