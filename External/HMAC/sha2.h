// SHA-512 (FIPS 180-2). The context is part of the stored decryption
// context, so its layout is fixed; its 64-bit words sit at 4-byte boundaries
// there, hence the 4-byte-aligned word type.
#ifndef EXTERNAL_HMAC_SHA2_H
#define EXTERNAL_HMAC_SHA2_H

#include <cstddef>
#include <cstdint>

typedef uint64_t uint_64t __attribute__((aligned(4)));

enum { SHA512_DIGEST_SIZE = 64, SHA512_BLOCK_SIZE = 128 };

struct sha512_ctx {
  uint_64t count[2];  // message bytes so far: low 64 bits, then the carry
  uint_64t hash[8];   // chaining value H0..H7
  uint_64t wbuf[16];  // the current 128-byte input block
};
typedef sha512_ctx sha384_ctx;
static_assert(sizeof(sha512_ctx) == 208, "sha512_ctx size");
static_assert(alignof(sha512_ctx) == 4, "sha512_ctx must fit 4-byte boundaries");
static_assert(offsetof(sha512_ctx, count) == 0, "");
static_assert(offsetof(sha512_ctx, hash) == 16, "");
static_assert(offsetof(sha512_ctx, wbuf) == 80, "");

void sha512_begin(sha512_ctx* ctx);
void sha512_hash(const unsigned char* data, uint32_t len, sha512_ctx* ctx);
void sha512_end(unsigned char hval[SHA512_DIGEST_SIZE], sha512_ctx* ctx);

#endif  // EXTERNAL_HMAC_SHA2_H
