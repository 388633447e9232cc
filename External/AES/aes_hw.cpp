// AES encryption with the processor's AES instructions. The functions are
// compiled for those instructions one by one (the rest of the program is
// not), and read the round keys straight from k_sch, which holds the
// expanded key in the byte order the instructions expect.
#include "aes_hw.h"

#include "aes_internal.h"
#include "cpu_features.h"

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#define AES_HW_TARGET __attribute__((target("aes,sse4.1")))

namespace {

enum { MAX_ROUNDS = 14, PARALLEL_BLOCKS = 8 };

// Loads the n_rnd + 1 round keys; k_sch sits at 4-byte boundaries only.
AES_HW_TARGET void load_round_keys(const aes_ctx* cx, __m128i* rk) {
  for (unsigned r = 0; r <= cx->n_rnd; ++r)
    rk[r] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cx->k_sch + 4 * r));
}

AES_HW_TARGET __m128i encrypt(__m128i block, const __m128i* rk, unsigned rounds) {
  block = _mm_xor_si128(block, rk[0]);
  for (unsigned r = 1; r < rounds; ++r) block = _mm_aesenc_si128(block, rk[r]);
  return _mm_aesenclast_si128(block, rk[rounds]);
}

AES_HW_TARGET __m128i counter_block(uint64_t count, uint64_t fixed_half) {
  return _mm_set_epi64x(static_cast<long long>(fixed_half), static_cast<long long>(count));
}

AES_HW_TARGET void xor_into(unsigned char* data, __m128i key_stream) {
  __m128i* p = reinterpret_cast<__m128i*>(data);
  _mm_storeu_si128(p, _mm_xor_si128(_mm_loadu_si128(p), key_stream));
}

}  // namespace

AES_HW_TARGET void aes_hw_encrypt_block(const unsigned char in_blk[AES_BLOCK_SIZE],
                                        unsigned char out_blk[AES_BLOCK_SIZE], const aes_ctx* cx) {
  __m128i rk[MAX_ROUNDS + 1];
  load_round_keys(cx, rk);
  const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in_blk));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out_blk), encrypt(block, rk, cx->n_rnd));
}

// Eight independent blocks per round keep the AES unit's pipeline full.
AES_HW_TARGET void aes_hw_ctr_xor_blocks(const aes_ctx* cx, unsigned char ctr[AES_BLOCK_SIZE],
                                         unsigned char* data, size_t n_blocks,
                                         unsigned char last_key_stream[AES_BLOCK_SIZE]) {
  __m128i rk[MAX_ROUNDS + 1];
  load_round_keys(cx, rk);
  const unsigned rounds = cx->n_rnd;
  uint64_t count = aes_load_le64(ctr);
  const uint64_t fixed_half = aes_load_le64(ctr + 8);
  __m128i ks[PARALLEL_BLOCKS];
  __m128i last = _mm_setzero_si128();
  for (; n_blocks >= PARALLEL_BLOCKS; n_blocks -= PARALLEL_BLOCKS) {
    for (unsigned j = 0; j < PARALLEL_BLOCKS; ++j)
      ks[j] = _mm_xor_si128(counter_block(++count, fixed_half), rk[0]);
    for (unsigned r = 1; r < rounds; ++r)
      for (unsigned j = 0; j < PARALLEL_BLOCKS; ++j) ks[j] = _mm_aesenc_si128(ks[j], rk[r]);
    for (unsigned j = 0; j < PARALLEL_BLOCKS; ++j) {
      ks[j] = _mm_aesenclast_si128(ks[j], rk[rounds]);
      xor_into(data, ks[j]);
      data += AES_BLOCK_SIZE;
    }
    last = ks[PARALLEL_BLOCKS - 1];
  }
  for (; n_blocks; --n_blocks, data += AES_BLOCK_SIZE) {
    last = encrypt(counter_block(++count, fixed_half), rk, rounds);
    xor_into(data, last);
  }
  aes_store_le64(count, ctr);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(last_key_stream), last);
}

#else  // no AES instructions on this architecture: the tables serve

#include <cstdlib>

void aes_hw_encrypt_block(const unsigned char*, unsigned char*, const aes_ctx*) { abort(); }

void aes_hw_ctr_xor_blocks(const aes_ctx*, unsigned char*, unsigned char*, size_t, unsigned char*) {
  abort();
}

#endif
