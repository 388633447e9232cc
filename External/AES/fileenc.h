// The password-based file-encryption scheme: PBKDF2-HMAC-SHA-512 key
// derivation, AES in counter mode and an HMAC-SHA-512 over the ciphertext.
// The context is a plain value stored byte for byte in checkpoint files:
// a copy continues exactly where the original stood.
#ifndef EXTERNAL_AES_FILEENC_H
#define EXTERNAL_AES_FILEENC_H

#include <cstddef>
#include <cstdint>

#include "../HMAC/hmac.h"
#include "aes.h"

enum {
  MAX_PWD_LENGTH = 64,
  PWD_VER_LENGTH = 2,
  MAC_LENGTH = 64,
  KEYING_ITERATIONS = 1000,
  BAD_MODE = -101,
  PASSWORD_TOO_LONG = -100
};

// Key length in bytes of a mode (1, 2, 3): 16, 24, 32; salt length: half that.
#define KEY_LENGTH(mode) (8 * ((mode) + 1))
#define SALT_LENGTH(mode) (4 * ((mode) + 1))

struct fcrypt_ctx {
  unsigned char nonce[AES_BLOCK_SIZE];     // counter block: bytes 0-7 a little-endian count
  unsigned char encr_bfr[AES_BLOCK_SIZE];  // current key-stream block
  aes_ctx encr_ctx;
  hmac_ctx auth_ctx;
  uint32_t encr_pos;  // bytes of encr_bfr used; 16 = a new block is needed
  uint32_t pwd_len;   // password bytes that entered the derivation
  uint32_t mode;      // 1 to 3
};
static_assert(sizeof(fcrypt_ctx) == 648, "fcrypt_ctx size");
static_assert(offsetof(fcrypt_ctx, nonce) == 0, "");
static_assert(offsetof(fcrypt_ctx, encr_bfr) == 16, "");
static_assert(offsetof(fcrypt_ctx, encr_ctx) == 32, "");
static_assert(offsetof(fcrypt_ctx, auth_ctx) == 296, "");
static_assert(offsetof(fcrypt_ctx, encr_pos) == 636, "");
static_assert(offsetof(fcrypt_ctx, pwd_len) == 640, "");
static_assert(offsetof(fcrypt_ctx, mode) == 644, "");

// 0 on success, PASSWORD_TOO_LONG or BAD_MODE otherwise.
int fcrypt_init(int mode, const unsigned char* pwd, unsigned int pwd_len, const unsigned char* salt,
                unsigned char pwd_ver[PWD_VER_LENGTH], fcrypt_ctx* cx);
// Capture side: encrypt in place, then authenticate the ciphertext.
void fcrypt_encrypt(unsigned char* data, unsigned int data_len, fcrypt_ctx* cx);
// Authenticate the ciphertext, then decrypt it in place.
void fcrypt_decrypt(unsigned char* data, unsigned int data_len, fcrypt_ctx* cx);
// fcrypt_decrypt in two halves, so that chunks can be decrypted apart from
// the order they are authenticated in: fcrypt_authenticate takes the
// ciphertext into the MAC and moves the key stream past it, leaving cx as
// fcrypt_decrypt would; fcrypt_apply_key_stream decrypts data in place with
// the key stream that starts where `at` stands, and leaves `at` as it is.
void fcrypt_authenticate(const unsigned char* data, unsigned int data_len, fcrypt_ctx* cx);
void fcrypt_apply_key_stream(unsigned char* data, unsigned int data_len, const fcrypt_ctx& at);
// Writes the 64-byte MAC and returns its length.
int fcrypt_end(unsigned char mac[MAC_LENGTH], fcrypt_ctx* cx);

#endif  // EXTERNAL_AES_FILEENC_H
