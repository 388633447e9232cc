// Shared by the crypto tests: byte strings, reproducible random input and
// splits, results of an independent implementation (OpenSSL) to compare
// with, and the fixture that runs a test on each AES path.
#ifndef TESTS_EXTERNAL_CRYPTO_TEST_SUPPORT_H
#define TESTS_EXTERNAL_CRYPTO_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <cstddef>
#include <random>
#include <string>
#include <vector>

using bytes = std::vector<unsigned char>;

bytes from_hex(const std::string& hex);
bytes from_text(const char* s, size_t n);
bytes random_bytes(std::mt19937& rng, size_t n);
// Piece lengths that add up to n, empty pieces included.
std::vector<size_t> random_split(std::mt19937& rng, size_t n);

bytes reference_sha512(const bytes& message);
bytes reference_hmac_sha512(const bytes& key, const bytes& message);
bytes reference_pbkdf2_sha512(const bytes& password, const bytes& salt, unsigned iterations,
                              size_t length);
// AES-ECB encryption of whole blocks.
bytes reference_aes_ecb(const bytes& key, const bytes& blocks);

enum class AesPath { kTables, kInstructions };

// Runs each test of a derived suite on the table path and on the AES
// instructions (skipped where the processor has none).
class AesPathTest : public ::testing::TestWithParam<AesPath> {
 protected:
  void SetUp() override;
  void TearDown() override;
};

std::string aes_path_name(const ::testing::TestParamInfo<AesPath>& info);

#define INSTANTIATE_FOR_BOTH_AES_PATHS(suite) \
  INSTANTIATE_TEST_SUITE_P(                   \
      Paths, suite, ::testing::Values(AesPath::kTables, AesPath::kInstructions), aes_path_name)

#endif  // TESTS_EXTERNAL_CRYPTO_TEST_SUPPORT_H
