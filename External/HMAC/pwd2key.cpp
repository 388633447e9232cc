// PBKDF2 (RFC 2898 section 5.2) with HMAC-SHA-512 as the pseudo-random
// function. The password-keyed hash states are prepared once and copied for
// every PRF call, so an iteration costs two SHA-512 compressions.
#include "pwd2key.h"

#include <algorithm>
#include <cstring>

#include "hmac.h"
#include "wipe.h"

namespace {

enum : unsigned char { IPAD_TO_OPAD = 0x36 ^ 0x5c };
enum { BLOCK_INDEX_BYTES = 4 };

// HMAC under the password, split where copies pay off: `inner` is the inner
// hash after K XOR ipad (and whatever message was fed since), `outer` the
// outer hash after K XOR opad.
struct keyed_prf {
  hmac_ctx inner;
  sha512_ctx outer;
};

void key_prf(const unsigned char* pwd, unsigned int pwd_len, keyed_prf* prf) {
  hmac_sha_begin(&prf->inner);
  hmac_sha_key(pwd, pwd_len, &prf->inner);
  hmac_sha_data(nullptr, 0, &prf->inner);  // the key block enters the inner hash
  unsigned char opad_block[HMAC_BLOCK_SIZE];
  for (unsigned i = 0; i < HMAC_BLOCK_SIZE; ++i) opad_block[i] = prf->inner.key[i] ^ IPAD_TO_OPAD;
  sha512_begin(&prf->outer);
  sha512_hash(opad_block, HMAC_BLOCK_SIZE, &prf->outer);
  wipe_secret(opad_block, sizeof opad_block);
}

// out = HMAC(password, message fed to `running`); `running` is used up.
void finish_prf(sha512_ctx* running, const sha512_ctx& outer, unsigned char out[HMAC_OUT_SIZE]) {
  sha512_end(out, running);
  *running = outer;
  sha512_hash(out, HMAC_OUT_SIZE, running);
  sha512_end(out, running);
}

}  // namespace

void derive_key(const unsigned char* pwd, unsigned int pwd_len, const unsigned char* salt,
                unsigned int salt_len, unsigned int iter, unsigned char* key,
                unsigned int key_len) {
  keyed_prf prf;
  key_prf(pwd, pwd_len, &prf);
  hmac_ctx salted = prf.inner;  // P keyed, S absorbed
  hmac_sha_data(salt, salt_len, &salted);
  unsigned char u[HMAC_OUT_SIZE];
  unsigned char block[HMAC_OUT_SIZE];
  sha512_ctx running;
  for (uint32_t i = 1; key_len; ++i) {
    // T_i = F(P, S, c, i) = U_1 ^ U_2 ^ ... ^ U_c with U_1 = PRF(P, S || INT(i))
    // and U_j = PRF(P, U_(j-1)).
    memset(block, 0, sizeof block);
    const unsigned char index[BLOCK_INDEX_BYTES] = {
        static_cast<unsigned char>(i >> 24), static_cast<unsigned char>(i >> 16),
        static_cast<unsigned char>(i >> 8), static_cast<unsigned char>(i)};
    running = salted.ctx;
    sha512_hash(index, BLOCK_INDEX_BYTES, &running);
    for (unsigned j = 0; j < iter; ++j) {
      finish_prf(&running, prf.outer, u);
      for (unsigned b = 0; b < HMAC_OUT_SIZE; ++b) block[b] ^= u[b];
      running = prf.inner.ctx;
      sha512_hash(u, HMAC_OUT_SIZE, &running);
    }
    const unsigned int take = std::min<unsigned int>(key_len, HMAC_OUT_SIZE);
    memcpy(key, block, take);
    key += take;
    key_len -= take;
  }
  wipe_secret(&prf, sizeof prf);
  wipe_secret(&salted, sizeof salted);
  wipe_secret(&running, sizeof running);
  wipe_secret(u, sizeof u);
  wipe_secret(block, sizeof block);
}
