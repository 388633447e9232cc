// The independent container reading of the kit's tests, on OpenSSL and zlib.
// Offsets are written out here from the file format, not taken from the
// writer's records.
#include "kit/container_decoder.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

namespace kit {

namespace {

constexpr size_t kIdSize = 32;
const char kCompressionId[kIdSize] = "BRIX COMPRESSION KORVEN";
const char kEncryptionId[kIdSize] = "BRIX ENCRYPTION KORVEN";

constexpr size_t kVersion = 32, kFileno = 36, kDataSize = 40;  // in both headers
constexpr size_t kCompHeader = 80, kCompAreaSize = 48;
constexpr size_t kEncrHeader = 464, kEncrAreaSize = 48, kSaltLen = 56, kSalt = 57, kDigestLen = 122,
                 kDigest = 124, kVerifierLen = 380, kVerifier = 381;
constexpr size_t kChunkHeader = 8232, kNumChunks = 4, kChunkSize = 8, kSizes = 12, kLast = 8204;
constexpr uint64_t kLargestChunk = 65536;
constexpr uint32_t kEntries = 2048;
constexpr uint32_t kReadBuffer = 131072;
constexpr size_t kBlock = 4096;
constexpr size_t kVerifierBytes = 2, kMacBytes = 64, kAesBlock = 16, kCounterBytes = 8;
constexpr int kIterations = 1000;

uint64_t le(const std::string& b, size_t at, size_t width) {
  uint64_t v = 0;
  for (size_t i = 0; i < width; ++i)
    v |= uint64_t{static_cast<unsigned char>(b[at + i])} << (8 * i);
  return v;
}

const unsigned char* bytes_at(const std::string& b, size_t at) {
  return reinterpret_cast<const unsigned char*>(b.data()) + at;
}

const EVP_CIPHER* aes_ecb(int mode) {
  return mode == 1 ? EVP_aes_128_ecb() : mode == 2 ? EVP_aes_192_ecb() : EVP_aes_256_ecb();
}

// AES of the counter blocks 1, 2, ... (64-bit little-endian in bytes 0-7), XORed in.
bool apply_keystream(int mode, const unsigned char* key, std::string& area) {
  const size_t blocks = (area.size() + kAesBlock - 1) / kAesBlock;
  std::string counters(blocks * kAesBlock, '\0');
  for (size_t n = 0; n < blocks; ++n) {
    for (size_t k = 0; k < kCounterBytes; ++k) {
      counters[n * kAesBlock + k] = static_cast<char>(((n + 1) >> (8 * k)) & 0xFF);
    }
  }
  std::string stream(counters.size() + kAesBlock, '\0');
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  int out = 0;
  bool ok = ctx != nullptr && EVP_EncryptInit_ex(ctx, aes_ecb(mode), nullptr, key, nullptr) == 1 &&
            EVP_CIPHER_CTX_set_padding(ctx, 0) == 1 &&
            EVP_EncryptUpdate(ctx, reinterpret_cast<unsigned char*>(&stream[0]), &out,
                              bytes_at(counters, 0), static_cast<int>(counters.size())) == 1;
  EVP_CIPHER_CTX_free(ctx);
  for (size_t i = 0; ok && i < area.size(); ++i) area[i] = static_cast<char>(area[i] ^ stream[i]);
  return ok;
}

// Checks the verifier and the digest, then decrypts the data area in place.
DecodeError decrypt_area(const std::string& b, size_t encr, const std::string& password,
                         DecodedFile& d, std::string& area) {
  const size_t salt_len = static_cast<unsigned char>(b[encr + kSaltLen]);
  if (salt_len != 8 && salt_len != 12 && salt_len != 16) return DecodeError::bad_salt_length;
  d.mode = static_cast<int>(salt_len / 4 - 1);
  const size_t verifier_len = static_cast<unsigned char>(b[encr + kVerifierLen]);
  const size_t digest_len = le(b, encr + kDigestLen, 2);
  if (verifier_len > kVerifierBytes) return DecodeError::verifier_too_long;
  if (digest_len > kMacBytes) return DecodeError::digest_too_long;

  const size_t key_len = 2 * salt_len;
  const size_t pwd_len = std::min(password.size(), 2 * key_len);
  unsigned char material[2 * 32 + kVerifierBytes];
  if (PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(pwd_len), bytes_at(b, encr + kSalt),
                        static_cast<int>(salt_len), kIterations, EVP_sha512(),
                        static_cast<int>(2 * key_len + kVerifierBytes), material) != 1) {
    return DecodeError::wrong_password;
  }
  if (memcmp(material + 2 * key_len, bytes_at(b, encr + kVerifier), verifier_len) != 0) {
    return DecodeError::wrong_password;
  }
  unsigned char mac[kMacBytes];
  unsigned int mac_len = 0;
  HMAC(EVP_sha512(), material + key_len, static_cast<int>(key_len), bytes_at(area, 0), area.size(),
       mac, &mac_len);
  if (mac_len != kMacBytes || memcmp(mac, bytes_at(b, encr + kDigest), digest_len) != 0) {
    return DecodeError::digest_mismatch;
  }
  return apply_keystream(d.mode, material, area) ? DecodeError::none : DecodeError::wrong_password;
}

// Reads the chunk table from `at` to the end of the file.
DecodeError read_table(const std::string& b, size_t at, DecodedFile& d) {
  if (at >= b.size()) return DecodeError::no_chunk_header;
  for (; at < b.size(); at += kChunkHeader) {
    if (b.size() - at < kChunkHeader) return DecodeError::partial_chunk_header;
    const uint32_t count = static_cast<uint32_t>(le(b, at + kNumChunks, 4));
    if (count > kEntries) return DecodeError::too_many_entries;
    if (le(b, at, 4) != 1 || le(b, at + kChunkSize, 4) != kLargestChunk) {
      return DecodeError::unexpected_field;
    }
    d.last_flags.push_back(static_cast<uint8_t>(b[at + kLast]));
    for (uint32_t k = 0; k < count; ++k) {
      d.stored_sizes.push_back(static_cast<uint32_t>(le(b, at + kSizes + 4 * k, 4)));
    }
  }
  return d.last_flags.back() == 0 ? DecodeError::no_last_header : DecodeError::none;
}

DecodeError decode_chunks(const std::string& area, DecodedFile& d) {
  std::string out(kReadBuffer, '\0');
  size_t at = 0;
  for (uint32_t size : d.stored_sizes) {
    uLongf len = size;
    if (d.compressed) {
      len = out.size();
      if (uncompress(reinterpret_cast<Bytef*>(&out[0]), &len, bytes_at(area, at), size) != Z_OK) {
        return DecodeError::inflate_failed;
      }
      d.stream.append(out, 0, len);
    } else {
      d.stream.append(area, at, size);
    }
    if (len % kBlock != 0) return DecodeError::partial_block;
    d.chunk_blocks.push_back(static_cast<uint32_t>(len / kBlock));
    at += size;
  }
  return DecodeError::none;
}

bool header_fields_fit(const std::string& b, size_t encr, const DecodedFile& d) {
  std::vector<size_t> headers;
  if (d.compressed) headers.push_back(0);
  if (d.encrypted) headers.push_back(encr);
  for (size_t at : headers) {
    if (le(b, at + kVersion, 4) != 1 || le(b, at + kFileno, 4) != 0 ||
        le(b, at + kDataSize, 8) != d.stream.size()) {
      return false;
    }
  }
  return !(d.compressed && d.encrypted) ||
         le(b, kCompAreaSize, 8) == le(b, encr + kEncrAreaSize, 8);
}

DecodeError decode_container(const std::string& b, const std::string& password, DecodedFile& d) {
  const size_t encr = d.compressed ? kCompHeader : 0;
  const size_t data_start = encr + (d.encrypted ? kEncrHeader : 0);
  if (b.size() < data_start) return DecodeError::short_header;
  const uint64_t area_size =
      d.compressed ? le(b, kCompAreaSize, 8) : le(b, encr + kEncrAreaSize, 8);
  if (area_size > b.size() - data_start) return DecodeError::short_data;
  DecodeError e = read_table(b, data_start + area_size, d);
  if (e != DecodeError::none) return e;
  uint64_t sum = 0;
  for (uint32_t size : d.stored_sizes) {
    if (size > kReadBuffer) return DecodeError::oversized_chunk;
    sum += size;
  }
  if (sum != area_size) return DecodeError::sizes_off_area;
  std::string area = b.substr(data_start, area_size);
  if (d.encrypted && (e = decrypt_area(b, encr, password, d, area)) != DecodeError::none) return e;
  if ((e = decode_chunks(area, d)) != DecodeError::none) return e;
  return header_fields_fit(b, encr, d) ? DecodeError::none : DecodeError::unexpected_field;
}

bool has_id(const std::string& b, size_t at, const char* id) {
  return b.size() >= at + kIdSize && memcmp(b.data() + at, id, kIdSize) == 0;
}

}  // namespace

const char* decode_error_name(DecodeError e) {
  static const char* const names[] = {"none",
                                      "short header",
                                      "bad salt length",
                                      "verifier length above 2",
                                      "digest length above 64",
                                      "wrong password",
                                      "digest mismatch",
                                      "short data area",
                                      "no chunk header",
                                      "partial chunk header",
                                      "more than 2048 entries",
                                      "no last chunk header",
                                      "chunk above 131072 bytes",
                                      "chunk sizes off the data area",
                                      "inflate failed",
                                      "partial block",
                                      "unexpected header field"};
  return names[static_cast<size_t>(e)];
}

DecodedFile decode_dump_file(const std::string& bytes, const std::string& password) {
  DecodedFile d;
  d.compressed = has_id(bytes, 0, kCompressionId);
  d.encrypted = has_id(bytes, d.compressed ? kCompHeader : 0, kEncryptionId);
  if (!d.compressed && !d.encrypted) {
    d.stream = bytes;
    return d;
  }
  d.error = decode_container(bytes, password, d);
  return d;
}

DecodedSet decode_dump_files(const std::vector<std::string>& paths, const std::string& password) {
  DecodedSet set;
  for (const std::string& path : paths) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
      set.error = "cannot open " + path;
      break;
    }
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    set.files.push_back(decode_dump_file(bytes, password));
    set.stream += set.files.back().stream;
    if (set.files.back().error != DecodeError::none) {
      set.error = path + ": " + decode_error_name(set.files.back().error);
      break;
    }
  }
  return set;
}

}  // namespace kit
