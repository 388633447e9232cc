// The SHA-512 compression (FIPS 180-2 section 6.3.2) as its compiled
// variants share it: the round constants, the round, and what every variant
// leaves in the context.
#ifndef EXTERNAL_HMAC_SHA2_COMPRESS_H
#define EXTERNAL_HMAC_SHA2_COMPRESS_H

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "sha2.h"

enum { SHA512_ROUNDS = 80, SHA512_BLOCK_WORDS = 16 };

// First 64 bits of the fractional parts of the cube roots of the first 80
// primes (section 4.2.3).
inline constexpr uint64_t sha512_k[SHA512_ROUNDS] = {
    0x428a2f98d728ae22ULL, 0x7137449123ef65cdULL, 0xb5c0fbcfec4d3b2fULL, 0xe9b5dba58189dbbcULL,
    0x3956c25bf348b538ULL, 0x59f111f1b605d019ULL, 0x923f82a4af194f9bULL, 0xab1c5ed5da6d8118ULL,
    0xd807aa98a3030242ULL, 0x12835b0145706fbeULL, 0x243185be4ee4b28cULL, 0x550c7dc3d5ffb4e2ULL,
    0x72be5d74f27b896fULL, 0x80deb1fe3b1696b1ULL, 0x9bdc06a725c71235ULL, 0xc19bf174cf692694ULL,
    0xe49b69c19ef14ad2ULL, 0xefbe4786384f25e3ULL, 0x0fc19dc68b8cd5b5ULL, 0x240ca1cc77ac9c65ULL,
    0x2de92c6f592b0275ULL, 0x4a7484aa6ea6e483ULL, 0x5cb0a9dcbd41fbd4ULL, 0x76f988da831153b5ULL,
    0x983e5152ee66dfabULL, 0xa831c66d2db43210ULL, 0xb00327c898fb213fULL, 0xbf597fc7beef0ee4ULL,
    0xc6e00bf33da88fc2ULL, 0xd5a79147930aa725ULL, 0x06ca6351e003826fULL, 0x142929670a0e6e70ULL,
    0x27b70a8546d22ffcULL, 0x2e1b21385c26c926ULL, 0x4d2c6dfc5ac42aedULL, 0x53380d139d95b3dfULL,
    0x650a73548baf63deULL, 0x766a0abb3c77b2a8ULL, 0x81c2c92e47edaee6ULL, 0x92722c851482353bULL,
    0xa2bfe8a14cf10364ULL, 0xa81a664bbc423001ULL, 0xc24b8b70d0f89791ULL, 0xc76c51a30654be30ULL,
    0xd192e819d6ef5218ULL, 0xd69906245565a910ULL, 0xf40e35855771202aULL, 0x106aa07032bbd1b8ULL,
    0x19a4c116b8d2d0c8ULL, 0x1e376c085141ab53ULL, 0x2748774cdf8eeb99ULL, 0x34b0bcb5e19b48a8ULL,
    0x391c0cb3c5c95a63ULL, 0x4ed8aa4ae3418acbULL, 0x5b9cca4f7763e373ULL, 0x682e6ff3d6b2b8a3ULL,
    0x748f82ee5defb2fcULL, 0x78a5636f43172f60ULL, 0x84c87814a1f0ab72ULL, 0x8cc702081a6439ecULL,
    0x90befffa23631e28ULL, 0xa4506cebde82bde9ULL, 0xbef9a3f7b2c67915ULL, 0xc67178f2e372532bULL,
    0xca273eceea26619cULL, 0xd186b8c721c0c207ULL, 0xeada7dd6cde0eb1eULL, 0xf57d4f7fee6ed178ULL,
    0x06f067aa72176fbaULL, 0x0a637dc5a2c898a6ULL, 0x113f9804bef90daeULL, 0x1b710b35131c471bULL,
    0x28db77f523047d84ULL, 0x32caab7b40c72493ULL, 0x3c9ebe0a15c9bebcULL, 0x431d67c49c100d4cULL,
    0x4cc5d4becb3e42b6ULL, 0x597f299cfc657e2aULL, 0x5fcb6fab3ad6faecULL, 0x6c44198c4a475817ULL,
};

inline uint64_t sha512_load_be64(const unsigned char* p) {
  uint64_t w;
  memcpy(&w, p, sizeof w);
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  w = __builtin_bswap64(w);
#endif
  return w;
}

// After compressing, wbuf holds the last block as big-endian words, as it
// would had the block been gathered in wbuf and converted in place (the
// stored context keeps that form; blocks may also come straight from the
// caller's data).
inline void sha512_keep_last_block(sha512_ctx* ctx, const unsigned char* last) {
  for (unsigned i = 0; i < SHA512_BLOCK_WORDS; ++i) ctx->wbuf[i] = sha512_load_be64(last + 8 * i);
}

#define SHA512_ROTR(x, n) (((x) >> (n)) | ((x) << (64 - (n))))
#define SHA512_BIG_SIGMA0(x) (SHA512_ROTR(x, 28) ^ SHA512_ROTR(x, 34) ^ SHA512_ROTR(x, 39))
#define SHA512_BIG_SIGMA1(x) (SHA512_ROTR(x, 14) ^ SHA512_ROTR(x, 18) ^ SHA512_ROTR(x, 41))
#define SHA512_CH(x, y, z) ((((y) ^ (z)) & (x)) ^ (z))

// One round given K[t] + W[t], with the working variables renamed instead of
// moved: the roles rotate by one each round and come back after eight.
// Maj(a, b, c) is taken as ((a ^ b) & (b ^ c)) ^ b: this round's a ^ b is
// the next round's b ^ c, carried in b_xor_c, which must hold b ^ c before
// the first round of a block.
#define SHA512_ROUND(a, b, c, d, e, f, g, h, k_plus_w)                              \
  do {                                                                              \
    const uint64_t t1 = h + SHA512_BIG_SIGMA1(e) + SHA512_CH(e, f, g) + (k_plus_w); \
    const uint64_t a_xor_b = a ^ b;                                                 \
    d += t1;                                                                        \
    h = t1 + SHA512_BIG_SIGMA0(a) + ((a_xor_b & b_xor_c) ^ b);                      \
    b_xor_c = a_xor_b;                                                              \
  } while (0)

// Rounds t to t + 7 on the variables a..h; k_plus_w(t) gives K[t] + W[t].
#define SHA512_EIGHT_ROUNDS(t, k_plus_w)                   \
  SHA512_ROUND(a, b, c, d, e, f, g, h, k_plus_w((t) + 0)); \
  SHA512_ROUND(h, a, b, c, d, e, f, g, k_plus_w((t) + 1)); \
  SHA512_ROUND(g, h, a, b, c, d, e, f, k_plus_w((t) + 2)); \
  SHA512_ROUND(f, g, h, a, b, c, d, e, k_plus_w((t) + 3)); \
  SHA512_ROUND(e, f, g, h, a, b, c, d, k_plus_w((t) + 4)); \
  SHA512_ROUND(d, e, f, g, h, a, b, c, k_plus_w((t) + 5)); \
  SHA512_ROUND(c, d, e, f, g, h, a, b, k_plus_w((t) + 6)); \
  SHA512_ROUND(b, c, d, e, f, g, h, a, k_plus_w((t) + 7))

// The end of a block (step 4): the working variables a..h are added into
// the chaining value and carry on as its new value into the next block.
#define SHA512_ADD_INTO_CHAINING_VALUE(ctx) \
  a = (ctx)->hash[0] += a;                  \
  b = (ctx)->hash[1] += b;                  \
  c = (ctx)->hash[2] += c;                  \
  d = (ctx)->hash[3] += d;                  \
  e = (ctx)->hash[4] += e;                  \
  f = (ctx)->hash[5] += f;                  \
  g = (ctx)->hash[6] += g;                  \
  h = (ctx)->hash[7] += h

#if defined(__x86_64__) || defined(__i386__)
// The variants whose message schedule runs in vectors, two blocks at a time
// (sha2_vector_schedule.cpp): for a processor with AVX2 and BMI2, and for
// one with AVX-512VL besides.
void sha512_compress_avx2(sha512_ctx* ctx, const unsigned char* block, size_t n_blocks);
void sha512_compress_avx512vl(sha512_ctx* ctx, const unsigned char* block, size_t n_blocks);
#endif

#endif  // EXTERNAL_HMAC_SHA2_COMPRESS_H
