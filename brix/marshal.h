// Conversion between host order and the little-endian order of every
// integer in stream blocks, dump files, negotiation records and checkpoint
// files. Each operation serves both directions; on a little-endian host it
// returns its argument unchanged.
#ifndef BRIX_MARSHAL_H
#define BRIX_MARSHAL_H

#include <cstddef>

#include "lr.h"
#include "types.h"

inline uint32 marshal_uint4(uint32 x) {
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  return __builtin_bswap32(x);
#else
  return x;
#endif
}

inline uint16 marshal_uint2(uint16 x) {
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  return __builtin_bswap16(x);
#else
  return x;
#endif
}

inline uint64_t marshal_uint8(uint64_t x) {
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  return __builtin_bswap64(x);
#else
  return x;
#endif
}

// Converts `count` consecutive 32-bit words in place.
inline void marshal_words(uint32* words, size_t count) {
  for (size_t i = 0; i < count; i++) words[i] = marshal_uint4(words[i]);
}

// A host-order view of the header block in hdr_in, or null when hdr_in is
// not a header (its first word is not the header magic). On a little-endian
// host the view is hdr_in itself and hdr_out is untouched; elsewhere the
// header record is converted into hdr_out. The block sent onward is always
// hdr_in, the bytes as read.
lr_hdr* marshal_hdr(lr_hdr* hdr_in, lr_hdr* hdr_out);

// True when the block starts with the header magic (in stream order).
inline bool lr_is_header(const void* block) {
  const lr_hdr* hdr = static_cast<const lr_hdr*>(block);
  return marshal_uint4(static_cast<uint32>(hdr->u_lr_hdr_info.hdr.h_magic)) == LR_HDR_MAGIC;
}

#endif  // BRIX_MARSHAL_H
