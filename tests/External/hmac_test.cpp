// HMAC-SHA-512 against RFC 4231 and OpenSSL: keys around the block size,
// keys and messages in pieces, the key-after-data refusal and copies of a
// running context.
#include "hmac.h"

#include <gtest/gtest.h>

#include <cstring>
#include <new>

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

TEST(HmacSha512, ReproducesRfc4231Cases) {
  const std::string long_data =
      "This is a test using a larger than block-size key and a larger than block-size data. The "
      "key needs to "
      "be hashed before being used by the HMAC algorithm.";
  const std::string large_key_data = "Test Using Larger Than Block-Size Key - Hash Key First";
  const struct {
    bytes key;
    bytes data;
    const char* mac;  // case 5 is truncated to 128 bits
  } cases[] = {
      {bytes(20, 0x0b), from_text("Hi There", 8),
       "87aa7cdea5ef619d4ff0b4241a1d6cb02379f4e2ce4ec2787ad0b30545e17cdedaa833b7d6b8a702038b274eaea"
       "3f4e4be9d91"
       "4eeb61f1702e696c203a126854"},
      {from_text("Jefe", 4), from_text("what do ya want for nothing?", 28),
       "164b7a7bfcf819e2e395fbe73b56e0a387bd64222e831fd610270cd7ea2505549758bf75c05a994a6d034f65f8f"
       "0e6fdcaeab1"
       "a34d4a6b4b636e070a38bce737"},
      {bytes(20, 0xaa), bytes(50, 0xdd),
       "fa73b0089d56a284efb0f0756c890be9b1b5dbdd8ee81a3655f83e33b2279d39bf3e848279a722c806b485a47e6"
       "7c807b946a3"
       "37bee8942674278859e13292fb"},
      {from_hex("0102030405060708090a0b0c0d0e0f10111213141516171819"), bytes(50, 0xcd),
       "b0ba465637458c6990e5a8c5f61d4af7e576d97ff94b872de76f8050361ee3dba91ca5c11aa25eb4d679275cc57"
       "88063a5f197"
       "41120c4f2de2adebeb10a298dd"},
      {bytes(20, 0x0c), from_text("Test With Truncation", 20), "415fad6271580a531d4179bc891d87a6"},
      {bytes(131, 0xaa), bytes(large_key_data.begin(), large_key_data.end()),
       "80b24263c7c1a3ebb71493c1dd7be8b49b46d1f41b4aeec1121b013783f8f3526b56d037e05f2598bd0fd2215d6"
       "a1e5295e64f"
       "73f63f0aec8b915a985d786598"},
      {bytes(131, 0xaa), bytes(long_data.begin(), long_data.end()),
       "e37b6a775dc87dbaa4dfa9f96e5e3ffddebd71f8867289865df5a32d20cdc944b6022cac3c4982b10d5eeb55c3e"
       "4de15134676"
       "fb6de0446065c97440fa8c6a58"},
  };
  int number = 1;
  for (const auto& c : cases) {
    const bytes expected = from_hex(c.mac);
    bytes one_shot(expected.size());
    hmac_sha(c.key.data(), c.key.size(), c.data.data(), c.data.size(), one_shot.data(),
             one_shot.size());
    EXPECT_EQ(expected, one_shot) << "test case " << number;
    hmac_ctx cx;
    hmac_sha_begin(&cx);
    feed_key(&cx, c.key, {c.key.size()});
    feed_data(&cx, c.data, {c.data.size()});
    EXPECT_EQ(expected, finish(&cx, expected.size())) << "test case " << number;
    ++number;
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
