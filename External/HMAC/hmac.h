// HMAC-SHA-512 (RFC 2104, 128-byte block, 64-byte output). The context is
// part of the stored decryption context, so its layout is fixed.
#ifndef EXTERNAL_HMAC_HMAC_H
#define EXTERNAL_HMAC_HMAC_H

#include <cstddef>
#include <cstdint>

#include "sha2.h"

enum { HMAC_BLOCK_SIZE = 128, HMAC_OUT_SIZE = 64, HMAC_IN_DATA = 0xFFFFFFFFu };

struct hmac_ctx {
  unsigned char key[HMAC_BLOCK_SIZE];  // key bytes, then the masked key block
  sha512_ctx ctx;                      // inner, later outer, hash
  uint32_t klen;                       // key bytes so far; HMAC_IN_DATA in the data phase
};
static_assert(sizeof(hmac_ctx) == 340, "hmac_ctx size");
static_assert(offsetof(hmac_ctx, key) == 0, "");
static_assert(offsetof(hmac_ctx, ctx) == 128, "");
static_assert(offsetof(hmac_ctx, klen) == 336, "");

void hmac_sha_begin(hmac_ctx* cx);
// Returns 0, or -1 (nothing changed) once the data phase has begun.
int hmac_sha_key(const unsigned char* key, unsigned long key_len, hmac_ctx* cx);
void hmac_sha_data(const unsigned char* data, unsigned long data_len, hmac_ctx* cx);
void hmac_sha_end(unsigned char* mac, unsigned long mac_len, hmac_ctx* cx);
void hmac_sha(const unsigned char* key, unsigned long key_len, const unsigned char* data,
              unsigned long data_len, unsigned char* mac, unsigned long mac_len);

#endif  // EXTERNAL_HMAC_HMAC_H
