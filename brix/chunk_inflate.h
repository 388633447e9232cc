// The decompression of a container's chunks, each a zlib stream: libdeflate
// decodes it, and zlib's one-shot uncompress gives the verdict wherever the
// two could part, so that the result, the error word and the decoded bytes
// are always the ones uncompress gives.
#ifndef BRIX_CHUNK_INFLATE_H
#define BRIX_CHUNK_INFLATE_H

#include <cstddef>
#include <memory>

struct libdeflate_decompressor;

// Owns one libdeflate decompressor, which is not safe to share between
// threads. A container object owns one inflater and is used by one thread at
// a time (a decoder thread owns its own container), so this is one
// decompressor per thread.
class chunk_inflater {
 public:
  // Without memory for the decompressor, every chunk goes to zlib alone.
  chunk_inflater();

  // Decompresses the zlib stream in[0..len) into out, which holds `limit`
  // bytes, and returns what uncompress returns for it: Z_OK with *size the
  // decoded length, or zlib's error code with out and *size as uncompress
  // leaves them (the bytes it decoded before it stopped).
  int inflate(unsigned char* out, size_t limit, size_t* size, const unsigned char* in, size_t len);

 private:
  struct decompressor_free {
    void operator()(libdeflate_decompressor* d) const;
  };
  std::unique_ptr<libdeflate_decompressor, decompressor_free> decompressor_;  // null: zlib alone
};

#endif  // BRIX_CHUNK_INFLATE_H
