// The file-encryption scheme: keys derived by fcrypt_init, the counter-mode
// key stream against OpenSSL AES-ECB of the expected counter blocks, the MAC
// over the ciphertext, any split of the data decrypted in any order, and
// stored contexts that continue where they stood, on both AES paths.
#include "fileenc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "aes_internal.h"
#include "crypto_test_support.h"
#include "fileenc_internal.h"

namespace {

// The salt given to fcrypt_init is longer than any mode reads; the mode
// decides how much of it counts.
const bytes kSalt = [] {
  bytes salt(64);
  for (size_t i = 0; i < salt.size(); i++) salt[i] = static_cast<unsigned char>(7 * i + 3);
  return salt;
}();

// What fcrypt_init must derive for a mode and password, by OpenSSL's PBKDF2:
// the password cut to twice the key length, the mode's share of the salt,
// 1000 iterations, then the AES key, the HMAC key and the verifier.
struct FileKeys {
  bytes aes_key, hmac_key, verifier;
  unsigned pwd_len;
};
FileKeys reference_file_keys(int mode, const std::string& password) {
  const size_t key_len = 8 * (mode + 1);
  const bytes used(password.begin(), password.begin() + std::min(password.size(), 2 * key_len));
  const bytes salt(kSalt.begin(), kSalt.begin() + 4 * (mode + 1));
  const bytes d = reference_pbkdf2_sha512(used, salt, 1000, 2 * key_len + 2);
  return {bytes(d.begin(), d.begin() + key_len),
          bytes(d.begin() + key_len, d.begin() + 2 * key_len),
          bytes(d.begin() + 2 * key_len, d.end()), static_cast<unsigned>(used.size())};
}

// Each mode, passwords longer than the mode uses, an empty one; the first
// three serve the stream tests of their mode.
const struct {
  int mode;
  std::string password;
} kFileCases[] = {
    {1, "password"},
    {2, "correct horse battery staple"},
    {3, "0123456789abcdef0123456789ABCDEF0123456789abcdef0123456789ABCDEF"},
    {1, "a password longer than thirty-two bytes"},
    {2, "0123456789abcdef0123456789ABCDEF0123456789abcdef0123456789ABCDEF"},
    {3, ""},
};
const std::string& password_for_mode(int mode) { return kFileCases[mode - 1].password; }

fcrypt_ctx init_with(int mode, const std::string& password, unsigned char* verifier) {
  fcrypt_ctx cx;
  memset(&cx, 0xcc, sizeof cx);
  EXPECT_EQ(0, fcrypt_init(mode, reinterpret_cast<const unsigned char*>(password.data()),
                           static_cast<unsigned>(password.size()), kSalt.data(), verifier, &cx));
  return cx;
}

fcrypt_ctx init_for_mode(int mode) {
  unsigned char verifier[PWD_VER_LENGTH];
  return init_with(mode, password_for_mode(mode), verifier);
}

// Counter blocks first, first + 1, ...: the count little-endian in bytes
// 0-7, zero in bytes 8-15.
bytes counter_blocks(uint64_t first, size_t n) {
  bytes out;
  for (size_t i = 0; i < n; ++i) {
    const uint64_t count = first + i;
    for (unsigned b = 0; b < 16; ++b) {
      out.push_back(b < 8 ? static_cast<unsigned char>(count >> (8 * b)) : 0);
    }
  }
  return out;
}

void apply_in_pieces(void (*op)(unsigned char*, unsigned int, fcrypt_ctx*), bytes& data,
                     const std::vector<size_t>& pieces, fcrypt_ctx* cx) {
  size_t at = 0;
  for (size_t piece : pieces) {
    op(data.data() + at, static_cast<unsigned>(piece), cx);
    at += piece;
  }
}

bytes mac_of(fcrypt_ctx* cx) {
  bytes mac(MAC_LENGTH);
  EXPECT_EQ(MAC_LENGTH, fcrypt_end(mac.data(), cx));
  return mac;
}

TEST(FcryptInit, DerivesTheReferenceKeysAndVerifierForEachMode) {
  for (const auto& c : kFileCases) {
    SCOPED_TRACE("mode " + std::to_string(c.mode) + ", password " + c.password);
    const FileKeys v = reference_file_keys(c.mode, c.password);
    unsigned char verifier[PWD_VER_LENGTH];
    const fcrypt_ctx cx = init_with(c.mode, c.password, verifier);
    EXPECT_EQ(v.verifier, bytes(verifier, verifier + PWD_VER_LENGTH));

    aes_ctx aes{};
    ASSERT_EQ(1u,
              aes_set_encrypt_key(v.aes_key.data(), static_cast<unsigned>(v.aes_key.size()), &aes));
    EXPECT_EQ(aes.n_rnd, cx.encr_ctx.n_rnd);
    EXPECT_EQ(aes.n_blk, cx.encr_ctx.n_blk);
    EXPECT_EQ(0, memcmp(aes.k_sch, cx.encr_ctx.k_sch, 16 * (aes.n_rnd + 1)));

    hmac_ctx auth;
    hmac_sha_begin(&auth);
    hmac_sha_key(v.hmac_key.data(), v.hmac_key.size(), &auth);
    EXPECT_EQ(0, memcmp(&auth, &cx.auth_ctx, sizeof auth));

    EXPECT_EQ(bytes(AES_BLOCK_SIZE, 0), bytes(cx.nonce, cx.nonce + AES_BLOCK_SIZE));
    EXPECT_EQ(unsigned{AES_BLOCK_SIZE}, cx.encr_pos);
    EXPECT_EQ(v.pwd_len, cx.pwd_len);
    EXPECT_EQ(static_cast<uint32_t>(c.mode), cx.mode);
  }
}

TEST(Fcrypt, DamagedPositionIsTakenAsUsedUp) {
  fcrypt_ctx sound = init_for_mode(1);
  fcrypt_ctx damaged = sound;
  damaged.encr_pos = 1000;
  bytes a(40, 0), b(40, 0);
  encr_data(a.data(), 40, &sound);
  encr_data(b.data(), 40, &damaged);
  EXPECT_EQ(a, b);
  EXPECT_EQ(0, memcmp(&sound, &damaged, sizeof sound));
}

using FcryptStream = AesPathTest;
INSTANTIATE_FOR_BOTH_AES_PATHS(FcryptStream);

// More than 256 blocks, so that the count carries into byte 1.
TEST_P(FcryptStream, KeyStreamIsAesOfTheLittleEndianCounterFromOne) {
  const size_t n_blocks = 301, tail = 5;
  for (int mode = 1; mode <= 3; ++mode) {
    const bytes expected =
        reference_aes_ecb(reference_file_keys(mode, password_for_mode(mode)).aes_key,
                          counter_blocks(1, n_blocks + 1));
    auto block = [&](size_t n) {  // key-stream block n, counting from 1
      return bytes(expected.begin() + (n - 1) * AES_BLOCK_SIZE,
                   expected.begin() + n * AES_BLOCK_SIZE);
    };
    fcrypt_ctx cx = init_for_mode(mode);
    bytes key_stream(n_blocks * AES_BLOCK_SIZE + tail, 0);
    // Whole blocks first: the stored context must still hold the last
    // key-stream block and its counter.
    encr_data(key_stream.data(), 2 * AES_BLOCK_SIZE, &cx);
    EXPECT_EQ(block(2), bytes(cx.encr_bfr, cx.encr_bfr + AES_BLOCK_SIZE));
    EXPECT_EQ(counter_blocks(2, 1), bytes(cx.nonce, cx.nonce + AES_BLOCK_SIZE));
    EXPECT_EQ(unsigned{AES_BLOCK_SIZE}, cx.encr_pos);
    encr_data(key_stream.data() + 32, 7, &cx);
    encr_data(key_stream.data() + 39, static_cast<unsigned>(key_stream.size() - 39), &cx);
    EXPECT_EQ(bytes(expected.begin(), expected.begin() + key_stream.size()), key_stream)
        << "mode " << mode;
    EXPECT_EQ(counter_blocks(n_blocks + 1, 1), bytes(cx.nonce, cx.nonce + AES_BLOCK_SIZE));
    EXPECT_EQ(block(n_blocks + 1), bytes(cx.encr_bfr, cx.encr_bfr + AES_BLOCK_SIZE));
    EXPECT_EQ(tail, cx.encr_pos);
  }
}

TEST_P(FcryptStream, AnySplitAndAnyDecryptionOrderGiveTheSameBytesAndMac) {
  std::mt19937 rng(2898);
  for (int mode = 1; mode <= 3; ++mode) {
    const bytes plain = random_bytes(rng, 3000);
    bytes cipher = plain;
    fcrypt_ctx once = init_for_mode(mode);
    fcrypt_encrypt(cipher.data(), static_cast<unsigned>(cipher.size()), &once);
    const bytes mac = mac_of(&once);
    EXPECT_EQ(
        reference_hmac_sha512(reference_file_keys(mode, password_for_mode(mode)).hmac_key, cipher),
        mac);

    std::vector<std::vector<size_t>> splits(20);
    for (auto& split : splits) split = random_split(rng, plain.size());
    splits.push_back(std::vector<size_t>(plain.size(), 1));
    for (const auto& split : splits) {
      bytes data = plain;
      fcrypt_ctx enc = init_for_mode(mode);
      apply_in_pieces(fcrypt_encrypt, data, split, &enc);
      ASSERT_EQ(cipher, data) << "mode " << mode << ", " << split.size() << " pieces";
      ASSERT_EQ(mac, mac_of(&enc));
      fcrypt_ctx dec = init_for_mode(mode);
      apply_in_pieces(fcrypt_decrypt, data, random_split(rng, data.size()), &dec);
      ASSERT_EQ(plain, data) << "mode " << mode;
      ASSERT_EQ(mac, mac_of(&dec));

      // Authenticated in order, each piece leaving the context exactly as
      // decryption would (it is stored in checkpoints), then decrypted last
      // piece first from the context it began under, as two threads do.
      data = cipher;
      fcrypt_ctx in_order = init_for_mode(mode);
      fcrypt_ctx reference = init_for_mode(mode);
      bytes scratch = cipher;
      std::vector<fcrypt_ctx> began;
      size_t at = 0;
      for (size_t piece : split) {
        began.push_back(in_order);
        fcrypt_authenticate(data.data() + at, static_cast<unsigned>(piece), &in_order);
        fcrypt_decrypt(scratch.data() + at, static_cast<unsigned>(piece), &reference);
        ASSERT_EQ(0, memcmp(&in_order, &reference, sizeof in_order)) << "at " << at;
        at += piece;
      }
      for (size_t i = split.size(); i-- > 0;) {
        at -= split[i];
        fcrypt_apply_key_stream(data.data() + at, static_cast<unsigned>(split[i]), began[i]);
      }
      ASSERT_EQ(plain, data) << "mode " << mode;
      ASSERT_EQ(mac, mac_of(&in_order));
    }
  }
}

// A checkpoint stores the decryption context byte for byte and a restart
// continues from the copy, possibly on the other AES path.
TEST_P(FcryptStream, ContextCopiedMidStreamContinuesIdentically) {
  std::mt19937 rng(3);
  const bytes plain = random_bytes(rng, 2500);
  bytes cipher = plain;
  fcrypt_ctx enc = init_for_mode(3);
  fcrypt_encrypt(cipher.data(), static_cast<unsigned>(cipher.size()), &enc);
  const bytes mac = mac_of(&enc);
  const bool other_path = GetParam() == AesPath::kTables;
  for (size_t cut : {0, 37, 64, 127, 128, 129, 1000, 1001, 2500}) {  // 128: a digest block
    fcrypt_ctx original = init_for_mode(3);
    bytes data = cipher;
    fcrypt_decrypt(data.data(), static_cast<unsigned>(cut), &original);
    // The copy lives at an address that is 4 but not 8 bytes aligned.
    alignas(8) unsigned char storage[sizeof(fcrypt_ctx) + 4];
    fcrypt_ctx* restored = new (storage + 4) fcrypt_ctx;
    memcpy(restored, &original, sizeof original);
    bytes copy_data = data;
    fcrypt_decrypt(data.data() + cut, static_cast<unsigned>(data.size() - cut), &original);
    const bool switched = aes_use_hardware(other_path) == other_path;
    fcrypt_decrypt(copy_data.data() + cut, static_cast<unsigned>(copy_data.size() - cut), restored);
    aes_use_hardware(!other_path);
    EXPECT_EQ(plain, data) << cut;
    EXPECT_EQ(mac, mac_of(&original)) << cut;
    EXPECT_EQ(plain, copy_data) << cut << (switched ? " (other path)" : "");
    EXPECT_EQ(mac, mac_of(restored)) << cut;
  }
}

}  // namespace
