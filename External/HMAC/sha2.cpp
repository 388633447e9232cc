// SHA-512 (FIPS 180-2 sections 5.3.4, 6.3): the running context, padding,
// the unrolled scalar compression and the run-time choice of its variant.
#include "sha2.h"

#include <cstring>

#include "cpu_features.h"
#include "sha2_compress.h"
#include "sha2_internal.h"

namespace {

enum { LENGTH_FIELD = 16 };

// Initial hash value: first 64 bits of the fractional parts of the square
// roots of the first eight primes (section 5.3.4).
constexpr uint64_t i512[8] = {
    0x6a09e667f3bcc908ULL, 0xbb67ae8584caa73bULL, 0x3c6ef372fe94f82bULL, 0xa54ff53a5f1d36f1ULL,
    0x510e527fade682d1ULL, 0x9b05688c2b3e6c1fULL, 0x1f83d9abfb41bd6bULL, 0x5be0cd19137e2179ULL,
};

void store_be64(uint64_t w, unsigned char* p) {
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  w = __builtin_bswap64(w);
#endif
  memcpy(p, &w, sizeof w);
}

#define SMALL_SIGMA0(x) (SHA512_ROTR(x, 1) ^ SHA512_ROTR(x, 8) ^ ((x) >> 7))
#define SMALL_SIGMA1(x) (SHA512_ROTR(x, 19) ^ SHA512_ROTR(x, 61) ^ ((x) >> 6))

// Message schedule in a rolling window of 16 words: W[t] replaces W[t - 16].
#define K_PLUS_LOADED_W(t) (sha512_k[t] + (w[t] = sha512_load_be64(block + 8 * (t))))
#define K_PLUS_NEXT_W(t)                                                         \
  (sha512_k[t] + (w[(t)&15] += SMALL_SIGMA1(w[((t)-2) & 15]) + w[((t)-7) & 15] + \
                               SMALL_SIGMA0(w[((t)-15) & 15])))

// Compresses n_blocks 128-byte blocks into the chaining value, the schedule
// computed word by word beside the rounds. Inlined into each compiled scalar
// variant below.
__attribute__((always_inline)) inline void compress_blocks(sha512_ctx* ctx,
                                                           const unsigned char* block,
                                                           size_t n_blocks) {
  uint64_t a = ctx->hash[0], b = ctx->hash[1], c = ctx->hash[2], d = ctx->hash[3];
  uint64_t e = ctx->hash[4], f = ctx->hash[5], g = ctx->hash[6], h = ctx->hash[7];
  for (size_t n = 0; n < n_blocks; ++n, block += SHA512_BLOCK_SIZE) {
    uint64_t w[SHA512_BLOCK_WORDS];
    uint64_t b_xor_c = b ^ c;
    SHA512_EIGHT_ROUNDS(0, K_PLUS_LOADED_W);
    SHA512_EIGHT_ROUNDS(8, K_PLUS_LOADED_W);
    SHA512_EIGHT_ROUNDS(16, K_PLUS_NEXT_W);
    SHA512_EIGHT_ROUNDS(24, K_PLUS_NEXT_W);
    SHA512_EIGHT_ROUNDS(32, K_PLUS_NEXT_W);
    SHA512_EIGHT_ROUNDS(40, K_PLUS_NEXT_W);
    SHA512_EIGHT_ROUNDS(48, K_PLUS_NEXT_W);
    SHA512_EIGHT_ROUNDS(56, K_PLUS_NEXT_W);
    SHA512_EIGHT_ROUNDS(64, K_PLUS_NEXT_W);
    SHA512_EIGHT_ROUNDS(72, K_PLUS_NEXT_W);
    SHA512_ADD_INTO_CHAINING_VALUE(ctx);
  }
  sha512_keep_last_block(ctx, block - SHA512_BLOCK_SIZE);
}

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

typedef void compress_function(sha512_ctx*, const unsigned char*, size_t);

// The variants in the order of sha512_compression, each with whether this
// processor can run it.
const struct {
  compress_function* compress;
  bool available;
} variants[SHA512_COMPRESSIONS] = {
    {compress_generic, true},
    {compress_bmi2, cpu_has_bmi2()},
#if defined(__x86_64__) || defined(__i386__)
    {sha512_compress_avx2, cpu_has_avx2() && cpu_has_bmi2()},
    {sha512_compress_avx512vl, cpu_has_avx2() && cpu_has_bmi2() && cpu_has_avx512vl()},
#else
    {compress_generic, false},
    {compress_generic, false},
#endif
};

// Starts out as the variant that runs anywhere (set before any code runs),
// then takes the fastest the processor has.
compress_function* compress = compress_generic;

unsigned char* wbuf_bytes(sha512_ctx* ctx) { return reinterpret_cast<unsigned char*>(ctx->wbuf); }

}  // namespace

bool sha512_use(sha512_compression variant) {
  if (!variants[variant].available) return false;
  compress = variants[variant].compress;
  return true;
}

sha512_compression sha512_use_fastest() {
  int variant = SHA512_COMPRESSIONS - 1;
  while (!sha512_use(static_cast<sha512_compression>(variant))) --variant;
  return static_cast<sha512_compression>(variant);
}

namespace {
const sha512_compression fastest_chosen_at_start = sha512_use_fastest();
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
