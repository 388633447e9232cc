// PBKDF2-HMAC-SHA-512 against vectors computed by Python's hashlib
// (make_vectors.py).
#include "pwd2key.h"

#include <gtest/gtest.h>

#include "crypto_test_support.h"
#include "pbkdf2_vectors.h"

namespace {

bytes derive(const bytes& password, const bytes& salt, unsigned iterations, unsigned key_len) {
  bytes key(key_len);
  derive_key(password.data(), static_cast<unsigned>(password.size()), salt.data(),
             static_cast<unsigned>(salt.size()), iterations, key.data(), key_len);
  return key;
}

TEST(Pbkdf2, ReproducesHashlibVectors) {
  for (const auto& v : pbkdf2_vectors) {
    const bytes key = derive(from_text(v.password, v.password_len), from_text(v.salt, v.salt_len),
                             v.iterations, v.key_len);
    EXPECT_EQ(from_hex(v.key), key) << v.password_len << "-byte password, " << v.iterations
                                    << " iterations, " << v.key_len << " bytes";
  }
}

}  // namespace
