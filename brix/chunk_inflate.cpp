// Chunk decompression: libdeflate where its verdict is zlib's, zlib
// otherwise.
#include "chunk_inflate.h"

#include <libdeflate.h>
#include <zlib.h>

#include "deflate_scan.h"

void chunk_inflater::decompressor_free::operator()(libdeflate_decompressor* d) const {
  libdeflate_free_decompressor(d);
}

chunk_inflater::chunk_inflater() : decompressor_(libdeflate_alloc_decompressor()) {}

int chunk_inflater::inflate(unsigned char* out, size_t limit, size_t* size, const unsigned char* in,
                            size_t len) {
  // The two decoders give the same bytes for every stream both accept; a
  // stream libdeflate refuses may still be one zlib accepts or refuses with
  // its own code, and one that holds a construct only libdeflate accepts is
  // zlib's to refuse.
  if (decompressor_ && libdeflate_verdict_is_zlibs(in, len)) {
    size_t decoded = 0;
    if (libdeflate_zlib_decompress(decompressor_.get(), in, len, out, limit, &decoded) ==
        LIBDEFLATE_SUCCESS) {
      *size = decoded;
      return Z_OK;
    }
  }
  uLongf decoded = limit;
  const int result = uncompress(out, &decoded, in, static_cast<uLong>(len));
  *size = decoded;
  return result;
}
