// Test helpers of the crypto tests; OpenSSL serves as the independent
// implementation the results are compared with.
#include "crypto_test_support.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include "aes_internal.h"

bytes from_hex(const std::string& hex) {
  bytes out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

bytes from_text(const char* s, size_t n) { return bytes(s, s + n); }

bytes random_bytes(std::mt19937& rng, size_t n) {
  bytes out(n);
  for (auto& b : out) b = static_cast<unsigned char>(rng());
  return out;
}

std::vector<size_t> random_split(std::mt19937& rng, size_t n) {
  std::vector<size_t> pieces;
  while (n) {
    // Mostly short pieces, sometimes long ones, now and then an empty one.
    const size_t longest = (rng() % 4 == 0) ? n : std::min<size_t>(n, 40);
    const size_t piece = rng() % (longest + 1);
    pieces.push_back(piece);
    n -= piece;
  }
  return pieces;
}

bytes reference_sha512(const bytes& message) {
  bytes digest(EVP_MAX_MD_SIZE);
  unsigned int len = 0;
  EXPECT_EQ(1,
            EVP_Digest(message.data(), message.size(), digest.data(), &len, EVP_sha512(), nullptr));
  digest.resize(len);
  return digest;
}

bytes reference_hmac_sha512(const bytes& key, const bytes& message) {
  static const unsigned char no_key = 0;
  bytes mac(EVP_MAX_MD_SIZE);
  unsigned int len = 0;
  EXPECT_NE(nullptr,
            HMAC(EVP_sha512(), key.empty() ? &no_key : key.data(), static_cast<int>(key.size()),
                 message.data(), message.size(), mac.data(), &len));
  mac.resize(len);
  return mac;
}

bytes reference_pbkdf2_sha512(const bytes& password, const bytes& salt, unsigned iterations,
                              size_t length) {
  static const char no_password = 0;
  bytes key(length);
  EXPECT_EQ(1,
            PKCS5_PBKDF2_HMAC(
                password.empty() ? &no_password : reinterpret_cast<const char*>(password.data()),
                static_cast<int>(password.size()), salt.data(), static_cast<int>(salt.size()),
                static_cast<int>(iterations), EVP_sha512(), static_cast<int>(length), key.data()));
  return key;
}

bytes reference_aes_ecb(const bytes& key, const bytes& blocks) {
  const EVP_CIPHER* cipher = key.size() == 16   ? EVP_aes_128_ecb()
                             : key.size() == 24 ? EVP_aes_192_ecb()
                                                : EVP_aes_256_ecb();
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  bytes out(blocks.size());
  int len = 0;
  EXPECT_EQ(1, EVP_EncryptInit_ex(ctx, cipher, nullptr, key.data(), nullptr));
  EVP_CIPHER_CTX_set_padding(ctx, 0);
  EXPECT_EQ(
      1, EVP_EncryptUpdate(ctx, out.data(), &len, blocks.data(), static_cast<int>(blocks.size())));
  EXPECT_EQ(blocks.size(), static_cast<size_t>(len));
  EVP_CIPHER_CTX_free(ctx);
  return out;
}

void AesPathTest::SetUp() {
  const bool wanted = GetParam() == AesPath::kInstructions;
  if (aes_use_hardware(wanted) != wanted) GTEST_SKIP() << "this processor has no AES instructions";
}

void AesPathTest::TearDown() { aes_use_hardware(true); }

std::string aes_path_name(const ::testing::TestParamInfo<AesPath>& info) {
  return info.param == AesPath::kTables ? "Tables" : "Instructions";
}
