// The password-based file-encryption scheme: key derivation, AES counter
// mode with a little-endian block count, and the HMAC-SHA-512 over the
// ciphertext.
#include "fileenc.h"

#include <algorithm>
#include <cstring>

#include "aes_internal.h"
#include "fileenc_internal.h"
#include "pwd2key.h"
#include "wipe.h"

namespace {

enum { COUNTER_BYTES = 8, PASSWORD_BYTES_PER_MODE = 16 };

// Next counter block: bytes 0-7 count up little-endian, the carry stopping
// at byte 7; bytes 8-15 stay as they are.
void next_counter(unsigned char nonce[AES_BLOCK_SIZE]) {
  for (unsigned i = 0; i < COUNTER_BYTES && ++nonce[i] == 0; ++i) {
  }
}

// The counter moved on by `blocks`, as that many next_counter calls would.
void advance_counter(unsigned char nonce[AES_BLOCK_SIZE], uint64_t blocks) {
  uint64_t count = 0;
  for (unsigned i = 0; i < COUNTER_BYTES; ++i) count |= static_cast<uint64_t>(nonce[i]) << (8 * i);
  count += blocks;
  for (unsigned i = 0; i < COUNTER_BYTES; ++i)
    nonce[i] = static_cast<unsigned char>(count >> (8 * i));
}

}  // namespace

int fcrypt_init(int mode, const unsigned char* pwd, unsigned int pwd_len, const unsigned char* salt,
                unsigned char pwd_ver[PWD_VER_LENGTH], fcrypt_ctx* cx) {
  if (pwd_len > MAX_PWD_LENGTH) return PASSWORD_TOO_LONG;
  // Only the first 2K bytes of the password count (32, 48 or 64).
  const int password_limit = PASSWORD_BYTES_PER_MODE * (mode % 4) + PASSWORD_BYTES_PER_MODE;
  if (password_limit >= 0 && pwd_len > static_cast<unsigned int>(password_limit))
    pwd_len = static_cast<unsigned int>(password_limit);
  if (mode < 1 || mode > 3) return BAD_MODE;
  cx->mode = static_cast<uint32_t>(mode);
  cx->pwd_len = pwd_len;

  // Derived bytes: AES key (K), HMAC key (K), password verifier (2).
  const unsigned int key_len = KEY_LENGTH(mode);
  unsigned char derived[2 * KEY_LENGTH(3) + PWD_VER_LENGTH];
  derive_key(pwd, pwd_len, salt, SALT_LENGTH(mode), KEYING_ITERATIONS, derived,
             2 * key_len + PWD_VER_LENGTH);

  cx->encr_pos = AES_BLOCK_SIZE;
  memset(cx->nonce, 0, sizeof cx->nonce);
  aes_set_encrypt_key(derived, key_len, &cx->encr_ctx);
  hmac_sha_begin(&cx->auth_ctx);
  hmac_sha_key(derived + key_len, key_len, &cx->auth_ctx);
  memcpy(pwd_ver, derived + 2 * key_len, PWD_VER_LENGTH);
  wipe_secret(derived, sizeof derived);
  return 0;
}

// Byte for byte: when encr_bfr is used up, count on and encrypt the counter
// block into it; XOR the next key-stream byte. Whole blocks met at a block
// boundary go through aes_ctr_xor_blocks instead, which leaves nonce and
// encr_bfr as the byte loop would have.
void encr_data(unsigned char* data, unsigned int d_len, fcrypt_ctx* cx) {
  // A position past the block (only a damaged stored context has one) is
  // taken as "used up" rather than read beyond encr_bfr.
  unsigned int pos = std::min<unsigned int>(cx->encr_pos, AES_BLOCK_SIZE);
  while (d_len) {
    if (pos == AES_BLOCK_SIZE) {
      if (d_len >= AES_BLOCK_SIZE && aes_schedule_ready(&cx->encr_ctx)) {
        const unsigned int n_blocks = d_len / AES_BLOCK_SIZE;
        aes_ctr_xor_blocks(&cx->encr_ctx, cx->nonce, data, n_blocks, cx->encr_bfr);
        data += n_blocks * AES_BLOCK_SIZE;
        d_len -= n_blocks * AES_BLOCK_SIZE;
        continue;
      }
      next_counter(cx->nonce);
      aes_encrypt_block(cx->nonce, cx->encr_bfr, &cx->encr_ctx);
      pos = 0;
    }
    *data++ ^= cx->encr_bfr[pos++];
    --d_len;
  }
  cx->encr_pos = pos;
}

// The state encr_data leaves after d_len bytes, without the bytes: the rest
// of the current key-stream block is used first, then the counter moves on
// by the blocks begun and the last of them is encrypted into encr_bfr.
void skip_key_stream(unsigned int d_len, fcrypt_ctx* cx) {
  unsigned int pos = std::min<unsigned int>(cx->encr_pos, AES_BLOCK_SIZE);
  const unsigned int in_current = std::min(d_len, AES_BLOCK_SIZE - pos);
  pos += in_current;
  d_len -= in_current;
  if (d_len > 0) {
    const unsigned int blocks_begun = (d_len + AES_BLOCK_SIZE - 1) / AES_BLOCK_SIZE;
    advance_counter(cx->nonce, blocks_begun);
    aes_encrypt_block(cx->nonce, cx->encr_bfr, &cx->encr_ctx);
    pos = d_len - (blocks_begun - 1) * AES_BLOCK_SIZE;
  }
  cx->encr_pos = pos;
}

void fcrypt_encrypt(unsigned char* data, unsigned int data_len, fcrypt_ctx* cx) {
  encr_data(data, data_len, cx);
  hmac_sha_data(data, data_len, &cx->auth_ctx);
}

void fcrypt_decrypt(unsigned char* data, unsigned int data_len, fcrypt_ctx* cx) {
  hmac_sha_data(data, data_len, &cx->auth_ctx);
  encr_data(data, data_len, cx);
}

void fcrypt_authenticate(const unsigned char* data, unsigned int data_len, fcrypt_ctx* cx) {
  hmac_sha_data(data, data_len, &cx->auth_ctx);
  skip_key_stream(data_len, cx);
}

void fcrypt_apply_key_stream(unsigned char* data, unsigned int data_len, const fcrypt_ctx& at) {
  fcrypt_ctx key_stream{};
  memcpy(key_stream.nonce, at.nonce, sizeof key_stream.nonce);
  memcpy(key_stream.encr_bfr, at.encr_bfr, sizeof key_stream.encr_bfr);
  key_stream.encr_ctx = at.encr_ctx;
  key_stream.encr_pos = at.encr_pos;
  encr_data(data, data_len, &key_stream);
  wipe_secret(&key_stream, sizeof key_stream);
}

int fcrypt_end(unsigned char mac[MAC_LENGTH], fcrypt_ctx* cx) {
  hmac_sha_end(mac, MAC_LENGTH, &cx->auth_ctx);
  return MAC_LENGTH;
}
