// SHA-512 against FIPS 180-2 appendix C and OpenSSL, whole and in pieces.
#include "sha2.h"

#include <gtest/gtest.h>

#include <string>

#include "crypto_test_support.h"
#include "sha2_internal.h"

namespace {

// Every SHA-512 test runs on each compiled variant of the compression that
// this processor can run.
class Sha512 : public ::testing::TestWithParam<sha512_compression> {
 protected:
  void SetUp() override {
    if (!sha512_use(GetParam())) GTEST_SKIP() << "this processor cannot run the variant";
  }
  void TearDown() override { sha512_use_fastest(); }
};

std::string variant_name(const ::testing::TestParamInfo<sha512_compression>& info) {
  const char* const names[SHA512_COMPRESSIONS] = {"Generic", "Bmi2", "Avx2", "Avx512vl"};
  return names[info.param];
}

INSTANTIATE_TEST_SUITE_P(Variants, Sha512,
                         ::testing::Values(SHA512_GENERIC, SHA512_BMI2, SHA512_AVX2,
                                           SHA512_AVX512VL),
                         variant_name);

void hash_pieces(sha512_ctx* ctx, const bytes& message, const std::vector<size_t>& pieces) {
  sha512_begin(ctx);
  size_t at = 0;
  for (size_t piece : pieces) {
    sha512_hash(message.data() + at, static_cast<uint32_t>(piece), ctx);
    at += piece;
  }
}

bytes sha512_pieces(const bytes& message, const std::vector<size_t>& pieces) {
  sha512_ctx ctx;
  hash_pieces(&ctx, message, pieces);
  bytes digest(SHA512_DIGEST_SIZE);
  sha512_end(digest.data(), &ctx);
  return digest;
}

bytes sha512_once(const bytes& message) { return sha512_pieces(message, {message.size()}); }

const char kTwoBlockMessage[] =
    "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopq"
    "rs"
    "mnopqrstnopqrstu";

// 112 bytes leave no room for the length field after the 0x80 byte, so the
// padding takes a further block; 111 bytes fit in one.
TEST_P(Sha512, DigestsTheStandardsExampleMessages) {
  const struct {
    bytes message;
    const char* digest;
  } cases[] = {
      {from_text("abc", 3),
       "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3f"
       "eebbd"
       "454d4423643ce80e2a9ac94fa54ca49f"},
      {from_text(kTwoBlockMessage, 112),
       "8e959b75dae313da8cf4f72814fc143f8f7779c6eb9f7fa17299aeadb6889018501d289e4900f7e4331b99dec4b"
       "5433a"
       "c7d329eeb6dd26545e96e55b874be909"},
      {from_text(kTwoBlockMessage, 111),
       "0988db6ee79aa0b4b28b0b3d2d9d50a0c2782144ba51a0405bdf82f04e895fb6a4848953a0028d33dd6fce20c39"
       "94d07"
       "8f8382dfc48903521c7aa744ddebf6c6"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(from_hex(c.digest), sha512_once(c.message)) << c.message.size();
}

TEST_P(Sha512, MillionLetterAInUnevenPiecesGivesTheStandardsDigest) {
  const bytes message(1000000, 'a');
  std::vector<size_t> pieces;
  size_t left = message.size();
  for (size_t piece = 1; left; piece = piece * 7 % 1000 + 1) {
    pieces.push_back(std::min(piece, left));
    left -= pieces.back();
  }
  EXPECT_EQ(
      from_hex(
          "e718483d0ce769644e2e42c7bc15b4638e1f98b13b2044285632a803afa973ebde0ff244877ea60a4cb043"
          "2ce577c31beb009c5c2c49aa2e4eadb217ad8cc09b"),
      sha512_pieces(message, pieces));
}

TEST_P(Sha512, MatchesReferenceForEveryLengthUpTo1000InRandomPieces) {
  std::mt19937 rng(1802);
  for (size_t len = 0; len <= 1000; ++len) {
    const bytes message = random_bytes(rng, len);
    const bytes expected = reference_sha512(message);
    ASSERT_EQ(expected, sha512_once(message)) << len;
    ASSERT_EQ(expected, sha512_pieces(message, random_split(rng, len))) << len;
  }
}

}  // namespace
