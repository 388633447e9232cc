// HMAC-SHA-512 against RFC 4231 and OpenSSL: keys around the block size,
// keys and messages in pieces.
#include "hmac.h"

#include <gtest/gtest.h>

#include "crypto_test_support.h"

namespace {

void feed_key(hmac_ctx* cx, const bytes& key, const std::vector<size_t>& pieces) {
  size_t at = 0;
  for (size_t piece : pieces) {
    ASSERT_EQ(0, hmac_sha_key(key.data() + at, piece, cx));
    at += piece;
  }
}

void feed_data(hmac_ctx* cx, const bytes& data, const std::vector<size_t>& pieces) {
  size_t at = 0;
  for (size_t piece : pieces) {
    hmac_sha_data(data.data() + at, piece, cx);
    at += piece;
  }
}

bytes finish(hmac_ctx* cx, size_t mac_len = HMAC_OUT_SIZE) {
  bytes mac(mac_len);
  hmac_sha_end(mac.data(), mac_len, cx);
  return mac;
}

// RFC 4231 cases 1 and 5 (a MAC cut to 128 bits), one shot and step by step.
TEST(HmacSha512, ReproducesRfc4231Cases) {
  const struct {
    bytes key, data;
    const char* mac;
  } cases[] = {
      {bytes(20, 0x0b), from_text("Hi There", 8),
       "87aa7cdea5ef619d4ff0b4241a1d6cb02379f4e2ce4ec2787ad0b30545e17cdedaa833b7d6b8a702038b274eaea"
       "3f4e4be9d914eeb61f1702e696c203a126854"},
      {bytes(20, 0x0c), from_text("Test With Truncation", 20), "415fad6271580a531d4179bc891d87a6"},
  };
  for (const auto& c : cases) {
    const bytes expected = from_hex(c.mac);
    bytes one_shot(expected.size());
    hmac_sha(c.key.data(), c.key.size(), c.data.data(), c.data.size(), one_shot.data(),
             one_shot.size());
    EXPECT_EQ(expected, one_shot) << c.mac;
    hmac_ctx cx;
    hmac_sha_begin(&cx);
    feed_key(&cx, c.key, {c.key.size()});
    feed_data(&cx, c.data, {c.data.size()});
    EXPECT_EQ(expected, finish(&cx, expected.size())) << c.mac;
  }
}

// A key may come in pieces, and may outgrow the block on the way.
TEST(HmacSha512, MatchesReferenceForKeysAroundTheBlockSize) {
  std::mt19937 rng(4231);
  for (size_t key_len : {0, 1, 64, 127, 128, 129, 300}) {
    for (int round = 0; round < 30; ++round) {
      const bytes key = random_bytes(rng, key_len);
      const bytes data = random_bytes(rng, rng() % 1001);
      hmac_ctx cx;
      hmac_sha_begin(&cx);
      feed_key(&cx, key, random_split(rng, key.size()));
      feed_data(&cx, data, random_split(rng, data.size()));
      ASSERT_EQ(reference_hmac_sha512(key, data), finish(&cx))
          << key_len << "-byte key, " << data.size();
    }
  }
}

}  // namespace
