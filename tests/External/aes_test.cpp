// AES block encryption and key expansion against FIPS-197 and OpenSSL, on
// the table path and on the AES instructions.
#include "aes.h"

#include <gtest/gtest.h>

#include "aes_internal.h"
#include "crypto_test_support.h"

namespace {

bytes encrypt_block(const aes_ctx& cx, const bytes& in) {
  bytes out(AES_BLOCK_SIZE);
  EXPECT_EQ(1u, aes_encrypt_block(in.data(), out.data(), &cx));
  return out;
}

aes_ctx schedule_for(const bytes& key) {
  aes_ctx cx{};
  EXPECT_EQ(1u, aes_set_encrypt_key(key.data(), static_cast<unsigned>(key.size()), &cx));
  return cx;
}

using AesBlock = AesPathTest;
INSTANTIATE_FOR_BOTH_AES_PATHS(AesBlock);

// FIPS-197 appendix C.1 to C.3.
TEST_P(AesBlock, EncryptsTheStandardsExampleVectors) {
  const bytes plain = from_hex("00112233445566778899aabbccddeeff");
  const struct {
    const char* key;
    const char* cipher;
  } cases[] = {
      {"000102030405060708090a0b0c0d0e0f", "69c4e0d86a7b0430d8cdb78070b4c55a"},
      {"000102030405060708090a0b0c0d0e0f1011121314151617", "dda97ca4864cdfe06eaf70a0ec0d7191"},
      {"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
       "8ea2b7ca516745bfeafc49904b496089"},
  };
  for (const auto& c : cases) {
    const aes_ctx cx = schedule_for(from_hex(c.key));
    EXPECT_EQ(from_hex(c.cipher), encrypt_block(cx, plain)) << c.key;
    bytes in_place = plain;
    EXPECT_EQ(1u, aes_encrypt_block(in_place.data(), in_place.data(), &cx));
    EXPECT_EQ(from_hex(c.cipher), in_place) << "in place, " << c.key;
  }
}

TEST_P(AesBlock, MatchesReferenceForRandomKeysAndBlocks) {
  std::mt19937 rng(197);
  for (size_t key_len : {16, 24, 32}) {
    for (int k = 0; k < 40; ++k) {
      const bytes key = random_bytes(rng, key_len);
      const bytes blocks = random_bytes(rng, 16 * AES_BLOCK_SIZE);
      const aes_ctx cx = schedule_for(key);
      bytes ours;
      for (size_t at = 0; at < blocks.size(); at += AES_BLOCK_SIZE) {
        const bytes out =
            encrypt_block(cx, bytes(blocks.begin() + at, blocks.begin() + at + AES_BLOCK_SIZE));
        ours.insert(ours.end(), out.begin(), out.end());
      }
      ASSERT_EQ(reference_aes_ecb(key, blocks), ours) << "key length " << key_len;
    }
  }
}

}  // namespace
