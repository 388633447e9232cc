// HMAC-SHA-512 (RFC 2104): key collection, the inner hash over the masked key
// block and the message, and the outer hash over the inner digest.
#include "hmac.h"

#include <algorithm>
#include <cstring>

#include "wipe.h"

namespace {

enum : unsigned char { IPAD = 0x36, OPAD = 0x5c, IPAD_TO_OPAD = IPAD ^ OPAD };

// Keys beyond this length only need to be known as "longer than a block";
// stopping the count short of HMAC_IN_DATA keeps it from ever meaning that.
constexpr uint32_t LONG_KEY_CAP = HMAC_IN_DATA - 1;

// sha512_hash takes 32-bit lengths.
void hash_long(const unsigned char* data, unsigned long len, sha512_ctx* ctx) {
  while (len) {
    const uint32_t piece = static_cast<uint32_t>(std::min<unsigned long>(len, UINT32_MAX));
    sha512_hash(data, piece, ctx);
    data += piece;
    len -= piece;
  }
}

void xor_key_block(hmac_ctx* cx, unsigned char mask) {
  for (unsigned i = 0; i < HMAC_BLOCK_SIZE; ++i) cx->key[i] ^= mask;
}

// Ends the key phase: a key longer than a block becomes its digest
// (RFC 2104 section 2), then the inner hash starts with K XOR ipad.
void begin_data_phase(hmac_ctx* cx) {
  if (cx->klen > HMAC_BLOCK_SIZE) {
    sha512_end(cx->key, &cx->ctx);
    cx->klen = SHA512_DIGEST_SIZE;
  }
  memset(cx->key + cx->klen, 0, HMAC_BLOCK_SIZE - cx->klen);
  xor_key_block(cx, IPAD);
  sha512_begin(&cx->ctx);
  sha512_hash(cx->key, HMAC_BLOCK_SIZE, &cx->ctx);
  cx->klen = HMAC_IN_DATA;
}

}  // namespace

void hmac_sha_begin(hmac_ctx* cx) { memset(cx, 0, sizeof *cx); }

int hmac_sha_key(const unsigned char* key, unsigned long key_len, hmac_ctx* cx) {
  if (cx->klen == HMAC_IN_DATA) return -1;
  const unsigned long total = cx->klen + key_len;
  if (total <= HMAC_BLOCK_SIZE) {
    if (key_len) memcpy(cx->key + cx->klen, key, key_len);
  } else {
    // The key outgrows the block: from here on it is hashed as it comes.
    if (cx->klen <= HMAC_BLOCK_SIZE) {
      sha512_begin(&cx->ctx);
      sha512_hash(cx->key, cx->klen, &cx->ctx);
    }
    hash_long(key, key_len, &cx->ctx);
  }
  cx->klen = static_cast<uint32_t>(std::min<unsigned long>(total, LONG_KEY_CAP));
  return 0;
}

void hmac_sha_data(const unsigned char* data, unsigned long data_len, hmac_ctx* cx) {
  if (cx->klen != HMAC_IN_DATA) begin_data_phase(cx);
  hash_long(data, data_len, &cx->ctx);
}

void hmac_sha_end(unsigned char* mac, unsigned long mac_len, hmac_ctx* cx) {
  if (cx->klen != HMAC_IN_DATA) begin_data_phase(cx);
  unsigned char digest[SHA512_DIGEST_SIZE];
  sha512_end(digest, &cx->ctx);
  // Outer hash: H(K XOR opad || inner digest).
  xor_key_block(cx, IPAD_TO_OPAD);
  sha512_begin(&cx->ctx);
  sha512_hash(cx->key, HMAC_BLOCK_SIZE, &cx->ctx);
  sha512_hash(digest, SHA512_DIGEST_SIZE, &cx->ctx);
  sha512_end(digest, &cx->ctx);
  memcpy(mac, digest, std::min<unsigned long>(mac_len, HMAC_OUT_SIZE));
  wipe_secret(digest, sizeof digest);
}

void hmac_sha(const unsigned char* key, unsigned long key_len, const unsigned char* data,
              unsigned long data_len, unsigned char* mac, unsigned long mac_len) {
  hmac_ctx cx;
  hmac_sha_begin(&cx);
  hmac_sha_key(key, key_len, &cx);
  hmac_sha_data(data, data_len, &cx);
  hmac_sha_end(mac, mac_len, &cx);
  wipe_secret(&cx, sizeof cx);
}
