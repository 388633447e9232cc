// AES block encryption (FIPS-197), forward direction only: the file scheme
// runs AES in counter mode. The key schedule record is part of the stored
// decryption context, so its layout is fixed.
#ifndef EXTERNAL_AES_AES_H
#define EXTERNAL_AES_AES_H

#include <cstddef>
#include <cstdint>

typedef uint32_t aes_32t;
typedef uint32_t aes_fret;  // 1 success, 0 failure

enum { AES_BLOCK_SIZE = 16, KS_LENGTH = 64 };

// k_sch word w holds FIPS-197 schedule word w with its first byte in the
// least significant position: on a little-endian host the first
// 16 * (n_rnd + 1) bytes are the expanded key in the standard's byte order.
struct aes_ctx {
  aes_32t k_sch[KS_LENGTH];
  aes_32t n_rnd;  // 10, 12 or 14; 0 after a refused key length
  aes_32t n_blk;  // 17 once an encryption schedule is ready (bit 0 set)
};
static_assert(sizeof(aes_ctx) == 264, "aes_ctx size");
static_assert(offsetof(aes_ctx, k_sch) == 0, "");
static_assert(offsetof(aes_ctx, n_rnd) == 256, "");
static_assert(offsetof(aes_ctx, n_blk) == 260, "");

// klen in bytes (16, 24, 32) or in bits (128, 192, 256). Any other value is
// refused: result 0, n_rnd and n_blk 0.
aes_fret aes_set_encrypt_key(const unsigned char* in_key, unsigned int klen, aes_ctx* cx);

// out_blk may equal in_blk. Returns 0 and writes nothing without a schedule
// (bit 0 of n_blk clear, or a round count other than 10, 12, 14).
aes_fret aes_encrypt_block(const unsigned char* in_blk, unsigned char* out_blk, const aes_ctx* cx);

#endif  // EXTERNAL_AES_AES_H
