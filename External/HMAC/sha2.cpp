// SHA-512 (FIPS 180-2 sections 5.3.4, 6.3): the running context, padding and
// the unrolled compression function.
#include "sha2.h"

#include <cstring>

#include "cpu_features.h"
#include "sha2_internal.h"

namespace {

enum { LENGTH_FIELD = 16, SCHEDULE_WINDOW = 16 };

// First 64 bits of the fractional parts of the cube roots of the first 80
// primes (section 4.2.3).
constexpr uint64_t k512[80] = {
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

// Initial hash value: first 64 bits of the fractional parts of the square
// roots of the first eight primes (section 5.3.4).
constexpr uint64_t i512[8] = {
    0x6a09e667f3bcc908ULL, 0xbb67ae8584caa73bULL, 0x3c6ef372fe94f82bULL, 0xa54ff53a5f1d36f1ULL,
    0x510e527fade682d1ULL, 0x9b05688c2b3e6c1fULL, 0x1f83d9abfb41bd6bULL, 0x5be0cd19137e2179ULL,
};

uint64_t load_be64(const unsigned char* p) {
  uint64_t w;
  memcpy(&w, p, sizeof w);
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  w = __builtin_bswap64(w);
#endif
  return w;
}

void store_be64(uint64_t w, unsigned char* p) {
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  w = __builtin_bswap64(w);
#endif
  memcpy(p, &w, sizeof w);
}

#define ROTR(x, n) (((x) >> (n)) | ((x) << (64 - (n))))
#define BIG_SIGMA0(x) (ROTR(x, 28) ^ ROTR(x, 34) ^ ROTR(x, 39))
#define BIG_SIGMA1(x) (ROTR(x, 14) ^ ROTR(x, 18) ^ ROTR(x, 41))
#define SMALL_SIGMA0(x) (ROTR(x, 1) ^ ROTR(x, 8) ^ ((x) >> 7))
#define SMALL_SIGMA1(x) (ROTR(x, 19) ^ ROTR(x, 61) ^ ((x) >> 6))
#define CH(x, y, z) ((((y) ^ (z)) & (x)) ^ (z))
#define MAJ(x, y, z) (((x) & (y)) | (((x) | (y)) & (z)))

// Message schedule in a rolling window of 16 words: W[t] replaces W[t - 16].
#define W_LOAD(t) (w[t] = load_be64(block + 8 * (t)))
#define W_NEXT(t) \
  (w[(t)&15] += SMALL_SIGMA1(w[((t)-2) & 15]) + w[((t)-7) & 15] + SMALL_SIGMA0(w[((t)-15) & 15]))

// One round with the working variables renamed instead of moved: the roles
// rotate by one each round and come back after eight.
#define ROUND(a, b, c, d, e, f, g, h, t, schedule)                               \
  do {                                                                           \
    const uint64_t t1 = h + BIG_SIGMA1(e) + CH(e, f, g) + k512[t] + schedule(t); \
    d += t1;                                                                     \
    h = t1 + BIG_SIGMA0(a) + MAJ(a, b, c);                                       \
  } while (0)

#define EIGHT_ROUNDS(t, schedule)                   \
  ROUND(a, b, c, d, e, f, g, h, (t) + 0, schedule); \
  ROUND(h, a, b, c, d, e, f, g, (t) + 1, schedule); \
  ROUND(g, h, a, b, c, d, e, f, (t) + 2, schedule); \
  ROUND(f, g, h, a, b, c, d, e, (t) + 3, schedule); \
  ROUND(e, f, g, h, a, b, c, d, (t) + 4, schedule); \
  ROUND(d, e, f, g, h, a, b, c, (t) + 5, schedule); \
  ROUND(c, d, e, f, g, h, a, b, (t) + 6, schedule); \
  ROUND(b, c, d, e, f, g, h, a, (t) + 7, schedule)

// Compresses n_blocks 128-byte blocks into the chaining value. Afterwards
// wbuf holds the last block as big-endian words, as it would had the block
// been gathered in wbuf and converted in place (the stored context keeps
// that form; blocks may also come straight from the caller's data).
// Inlined into each compiled variant below.
__attribute__((always_inline)) inline void compress_blocks(sha512_ctx* ctx,
                                                           const unsigned char* block,
                                                           size_t n_blocks) {
  uint64_t a = ctx->hash[0], b = ctx->hash[1], c = ctx->hash[2], d = ctx->hash[3];
  uint64_t e = ctx->hash[4], f = ctx->hash[5], g = ctx->hash[6], h = ctx->hash[7];
  for (size_t n = 0; n < n_blocks; ++n, block += SHA512_BLOCK_SIZE) {
    uint64_t w[SCHEDULE_WINDOW];
    EIGHT_ROUNDS(0, W_LOAD);
    EIGHT_ROUNDS(8, W_LOAD);
    EIGHT_ROUNDS(16, W_NEXT);
    EIGHT_ROUNDS(24, W_NEXT);
    EIGHT_ROUNDS(32, W_NEXT);
    EIGHT_ROUNDS(40, W_NEXT);
    EIGHT_ROUNDS(48, W_NEXT);
    EIGHT_ROUNDS(56, W_NEXT);
    EIGHT_ROUNDS(64, W_NEXT);
    EIGHT_ROUNDS(72, W_NEXT);
    a = ctx->hash[0] += a;
    b = ctx->hash[1] += b;
    c = ctx->hash[2] += c;
    d = ctx->hash[3] += d;
    e = ctx->hash[4] += e;
    f = ctx->hash[5] += f;
    g = ctx->hash[6] += g;
    h = ctx->hash[7] += h;
  }
  const unsigned char* last = block - SHA512_BLOCK_SIZE;
  for (unsigned i = 0; i < SCHEDULE_WINDOW; ++i) ctx->wbuf[i] = load_be64(last + 8 * i);
}

#undef EIGHT_ROUNDS
#undef ROUND

void compress_generic(sha512_ctx* ctx, const unsigned char* block, size_t n_blocks) {
  compress_blocks(ctx, block, n_blocks);
}

// With BMI2 the rotations become rorx, which spares a copy of each rotated
// word: about a third faster.
#if defined(__x86_64__) || defined(__i386__)
__attribute__((target("bmi2")))
#endif
void compress_bmi2(sha512_ctx* ctx, const unsigned char* block, size_t n_blocks) {
  compress_blocks(ctx, block, n_blocks);
}

const bool bmi2_available = cpu_has_bmi2();
// Starts out as the variant that runs anywhere (set before any code runs),
// then takes the BMI2 variant where the processor has it.
void (*compress)(sha512_ctx*, const unsigned char*, size_t) = compress_generic;

unsigned char* wbuf_bytes(sha512_ctx* ctx) { return reinterpret_cast<unsigned char*>(ctx->wbuf); }

}  // namespace

bool sha512_use_bmi2(bool wanted) {
  const bool use = wanted && bmi2_available;
  compress = use ? compress_bmi2 : compress_generic;
  return use;
}

namespace {
const bool bmi2_chosen_at_start = sha512_use_bmi2(true);
}  // namespace

void sha512_begin(sha512_ctx* ctx) {
  ctx->count[0] = ctx->count[1] = 0;
  for (unsigned i = 0; i < 8; ++i) ctx->hash[i] = i512[i];
}

void sha512_hash(const unsigned char* data, uint32_t len, sha512_ctx* ctx) {
  const unsigned pos = static_cast<unsigned>(ctx->count[0] % SHA512_BLOCK_SIZE);
  const unsigned space = SHA512_BLOCK_SIZE - pos;
  if ((ctx->count[0] += len) < len) ++ctx->count[1];
  if (len < space) {
    if (len) memcpy(wbuf_bytes(ctx) + pos, data, len);
    return;
  }
  if (pos) {
    memcpy(wbuf_bytes(ctx) + pos, data, space);
    compress(ctx, wbuf_bytes(ctx), 1);
    data += space;
    len -= space;
  }
  if (len >= SHA512_BLOCK_SIZE) {
    compress(ctx, data, len / SHA512_BLOCK_SIZE);
    data += len - len % SHA512_BLOCK_SIZE;
    len %= SHA512_BLOCK_SIZE;
  }
  if (len) memcpy(wbuf_bytes(ctx), data, len);
}

void sha512_end(unsigned char hval[SHA512_DIGEST_SIZE], sha512_ctx* ctx) {
  unsigned char* buf = wbuf_bytes(ctx);
  unsigned pos = static_cast<unsigned>(ctx->count[0] % SHA512_BLOCK_SIZE);
  // Padding (section 5.1.2): a 1 bit, zeros, then the 128-bit length in bits.
  buf[pos++] = 0x80;
  if (pos > SHA512_BLOCK_SIZE - LENGTH_FIELD) {
    memset(buf + pos, 0, SHA512_BLOCK_SIZE - pos);
    compress(ctx, buf, 1);
    pos = 0;
  }
  memset(buf + pos, 0, SHA512_BLOCK_SIZE - LENGTH_FIELD - pos);
  store_be64(ctx->count[1] << 3 | ctx->count[0] >> 61, buf + SHA512_BLOCK_SIZE - LENGTH_FIELD);
  store_be64(ctx->count[0] << 3, buf + SHA512_BLOCK_SIZE - 8);
  compress(ctx, buf, 1);
  for (unsigned i = 0; i < 8; ++i) store_be64(ctx->hash[i], hval + 8 * i);
}
