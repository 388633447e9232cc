// PBKDF2-HMAC-SHA-512 against OpenSSL: every iteration count and output
// length of interest, passwords and salts with NUL bytes, a password longer
// than the HMAC block.
#include "pwd2key.h"

#include <gtest/gtest.h>

#include <string>

#include "crypto_test_support.h"

namespace {

TEST(Pbkdf2, MatchesReference) {
  const struct {
    std::string password, salt;
    unsigned iterations, key_len;
  } cases[] = {
      {"password", "salt", 1, 64},
      {"password", "salt", 2, 64},
      {"password", "salt", 1000, 34},
      {"password", "salt", 1000, 66},
      {"passwordPASSWORDpassword", "saltSALTsaltSALTsaltSALTsaltSALTsalt", 4096, 130},
      {std::string("pass\0word", 9), std::string("sa\0lt", 5), 2, 66},
      {"", "salt", 1, 64},
      {std::string(200, 'p'), "", 2, 130},
  };
  for (const auto& c : cases) {
    const bytes password(c.password.begin(), c.password.end()), salt(c.salt.begin(), c.salt.end());
    bytes key(c.key_len);
    derive_key(password.data(), static_cast<unsigned>(password.size()), salt.data(),
               static_cast<unsigned>(salt.size()), c.iterations, key.data(), c.key_len);
    EXPECT_EQ(reference_pbkdf2_sha512(password, salt, c.iterations, c.key_len), key)
        << c.password.size() << "-byte password, " << c.iterations << " iterations, " << c.key_len
        << " bytes";
  }
}

}  // namespace
