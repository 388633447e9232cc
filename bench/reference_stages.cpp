// The stages alone: the chunk table and headers read by the writer's own
// records, keys from OpenSSL's PBKDF2, the stages timed chunk by chunk in a
// child process that reports its times through a pipe.
#include "reference_stages.h"

#include <fcntl.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "bench_support.h"
#include "brix_comp_encr.h"
#include "chunk_inflate.h"
#include "chunk_reader.h"
#include "fileenc.h"
#include "marshal.h"

namespace bench {

namespace {

// Low half of a counter block: the block's number from 1, little-endian;
// the high half stays zero.
constexpr size_t kCounterBytes = sizeof(uint64_t);
constexpr int kChildFailed = 1;

constexpr double kNanosPerSecond = 1e9;

// Both clocks, read at each stage boundary: a reading ends one stage and
// begins the next, so the clocks cost little beside a stage.
class LapClock {
 public:
  LapClock() { read(wall_, cpu_); }
  // Adds the time since the last reading to `stage`.
  void lap(StageTime& stage) {
    double wall, cpu;
    read(wall, cpu);
    stage.wall += wall - wall_;
    stage.cpu += cpu - cpu_;
    wall_ = wall;
    cpu_ = cpu;
  }

 private:
  static double seconds(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / kNanosPerSecond;
  }
  static void read(double& wall, double& cpu) {
    wall = seconds(CLOCK_MONOTONIC);
    cpu = seconds(CLOCK_THREAD_CPUTIME_ID);
  }

  double wall_;
  double cpu_;
};

bool read_at(int fd, void* data, size_t size, int64_t offset) {
  return pread(fd, data, size, offset) == static_cast<ssize_t>(size);
}

const EVP_CIPHER* aes_ecb(int mode) {
  return mode == 1 ? EVP_aes_128_ecb() : mode == 2 ? EVP_aes_192_ecb() : EVP_aes_256_ecb();
}

// The decryption of one file: its keys, the HMAC over the stored bytes and
// the key stream's position.
class FileDecryption {
 public:
  FileDecryption() = default;
  ~FileDecryption() {
    EVP_CIPHER_CTX_free(aes_);
    EVP_MAC_CTX_free(hmac_);
    EVP_MAC_free(mac_);
  }
  FileDecryption(const FileDecryption&) = delete;
  FileDecryption& operator=(const FileDecryption&) = delete;

  // Derives the keys from the password and the file's salt (the AES key,
  // the HMAC key, the verifier, in that order) and checks the verifier.
  bool begin(const kit::DumpFileInfo& info, const std::string& password,
             const encr_header_type& header, std::string& error) {
    const int key_len = KEY_LENGTH(info.mode);
    unsigned char derived[2 * KEY_LENGTH(3) + PWD_VER_LENGTH];
    // The scheme takes at most twice the key length of the password.
    const int password_len = std::min(static_cast<int>(password.size()), 2 * key_len);
    char digest[] = "SHA512";
    const OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
                                 OSSL_PARAM_construct_end()};
    aes_ = EVP_CIPHER_CTX_new();
    mac_ = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
    hmac_ = mac_ != nullptr ? EVP_MAC_CTX_new(mac_) : nullptr;
    const bool ok =
        aes_ != nullptr && hmac_ != nullptr &&
        PKCS5_PBKDF2_HMAC(password.data(), password_len, info.salt.data(),
                          static_cast<int>(info.salt.size()), KEYING_ITERATIONS, EVP_sha512(),
                          2 * key_len + PWD_VER_LENGTH, derived) == 1 &&
        EVP_EncryptInit_ex(aes_, aes_ecb(info.mode), nullptr, derived, nullptr) == 1 &&
        EVP_CIPHER_CTX_set_padding(aes_, 0) == 1 &&
        EVP_MAC_init(hmac_, derived + key_len, static_cast<size_t>(key_len), params) == 1;
    const bool verified = memcmp(derived + 2 * key_len, header.passwd_verifier,
                                 std::min<size_t>(header.passwd_verifier_len, PWD_VER_LENGTH)) == 0;
    memset(derived, 0, sizeof derived);
    if (!ok) error = info.path + ": OpenSSL could not set up the keys";
    if (ok && !verified) error = info.path + ": the password verifier differs";
    return ok && verified;
  }

  void authenticate(const unsigned char* data, size_t len) { EVP_MAC_update(hmac_, data, len); }

  // XORs the key stream from the current position into `data`: the counter
  // blocks the bytes fall in, encrypted in one ECB call.
  void decrypt(unsigned char* data, size_t len) {
    const uint64_t first = position_ / AES_BLOCK_SIZE;
    const size_t skip = position_ % AES_BLOCK_SIZE;
    const size_t blocks = (skip + len + AES_BLOCK_SIZE - 1) / AES_BLOCK_SIZE;
    for (size_t n = 0; n < blocks; ++n) {
      const uint64_t count = marshal_uint8(first + n + 1);
      memcpy(counters_ + n * AES_BLOCK_SIZE, &count, kCounterBytes);
    }
    int out = 0;
    EVP_EncryptUpdate(aes_, keystream_, &out, counters_, static_cast<int>(blocks * AES_BLOCK_SIZE));
    const unsigned char* stream = keystream_ + skip;
    for (size_t i = 0; i < len; ++i) data[i] ^= stream[i];
    position_ += len;
  }

  bool digest_matches(const encr_header_type& header) {
    unsigned char mac[MAC_LENGTH];
    size_t len = 0;
    const size_t compared = std::min<size_t>(marshal_uint2(header.digest_len), MAC_LENGTH);
    return EVP_MAC_final(hmac_, mac, &len, sizeof mac) == 1 && len == MAC_LENGTH &&
           memcmp(mac, header.digest_value, compared) == 0;
  }

 private:
  EVP_CIPHER_CTX* aes_ = nullptr;
  EVP_MAC* mac_ = nullptr;
  EVP_MAC_CTX* hmac_ = nullptr;
  uint64_t position_ = 0;  // stored bytes decrypted so far
  // One block more than a chunk: a chunk may start inside a counter block.
  unsigned char counters_[CHUNK_READ_BUFFER_SIZE + AES_BLOCK_SIZE] = {};
  unsigned char keystream_[CHUNK_READ_BUFFER_SIZE + AES_BLOCK_SIZE] = {};
};

// The stored size of every chunk, from the file's chunk table.
bool read_chunk_sizes(int fd, const kit::DumpFileInfo& info, std::vector<uint32_t>& sizes,
                      std::string& error) {
  chunk_header_type header;
  for (int h = 0; h < info.chunk_headers; ++h) {
    if (!read_at(fd, &header, sizeof header, info.table_offset + int64_t{h} * CHUNK_HEADER_SIZE)) {
      error = errno_text(info.path + ": chunk table");
      return false;
    }
    const uint32_t count =
        std::min<uint32_t>(marshal_uint4(header.num_chunks), CHUNK_TABLE_ENTRIES);
    for (uint32_t k = 0; k < count; ++k) sizes.push_back(marshal_uint4(header.chunk_sizes[k]));
  }
  return true;
}

// Buffers of one chunk: stored bytes, and the chunk decoded.
struct ChunkBuffers {
  unsigned char stored[CHUNK_READ_BUFFER_SIZE];
  unsigned char decoded[DUMP_STAGING_SIZE];
  unsigned char again[DUMP_STAGING_SIZE];  // the writer's inflater's output
};

bool time_file(const kit::DumpFileInfo& info, const std::string& password, bool with_crc,
               ChunkBuffers& buffers, StageTimes& times, std::string& error) {
  const int fd = open(info.path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = errno_text("open " + info.path);
    return false;
  }
  std::vector<uint32_t> sizes;
  encr_header_type header;
  const bool compressed = kit::has_compression(info.format);
  const bool encrypted = kit::has_encryption(info.format);
  FileDecryption decryption;
  chunk_inflater inflater;
  bool ok = read_chunk_sizes(fd, info, sizes, error);
  if (ok && encrypted) {
    ok = read_at(fd, &header, sizeof header, compressed ? COMP_HEADER_SIZE : 0) &&
         decryption.begin(info, password, header, error);
    if (!ok && error.empty()) error = errno_text(info.path + ": encryption header");
  }
  int64_t offset = info.data_start;
  for (size_t k = 0; ok && k < sizes.size(); ++k) {
    const uint32_t size = sizes[k];
    if (size > sizeof buffers.stored || !read_at(fd, buffers.stored, size, offset)) {
      error = info.path + ": cannot read chunk " + std::to_string(k);
      ok = false;
      break;
    }
    offset += size;
    times.stored_bytes += size;
    ++times.chunks;
    LapClock clock;  // from here on, only the stages
    if (encrypted) {
      decryption.authenticate(buffers.stored, size);
      clock.lap(times.hmac);
      decryption.decrypt(buffers.stored, size);
      clock.lap(times.aes);
    }
    const unsigned char* decoded = buffers.stored;
    uLongf decoded_len = size;
    if (compressed) {
      decoded_len = sizeof buffers.decoded;
      const int rc = uncompress(buffers.decoded, &decoded_len, buffers.stored, size);
      clock.lap(times.inflate);
      decoded = buffers.decoded;
      size_t fast_len = 0;
      const int fast_rc =
          inflater.inflate(buffers.again, sizeof buffers.again, &fast_len, buffers.stored, size);
      clock.lap(times.fast_inflate);
      if (rc != Z_OK || fast_rc != Z_OK || fast_len != decoded_len) {
        error = info.path + ": chunk " + std::to_string(k) + " does not inflate";
        ok = false;
      }
    }
    if (ok && with_crc) {
      times.stream_crc =
          static_cast<uint32_t>(crc32(times.stream_crc, decoded, static_cast<uInt>(decoded_len)));
    }
  }
  if (ok && encrypted && !decryption.digest_matches(header)) {
    error = info.path + ": the digest differs";
    ok = false;
  }
  close(fd);
  return ok;
}

bool time_set(const DumpSet& set, bool with_crc, StageTimes& times, std::string& error) {
  MappedBuffer buffers(sizeof(ChunkBuffers));
  if (!buffers.ok()) {
    error = errno_text("mmap");
    return false;
  }
  times = StageTimes();
  for (const kit::DumpFileInfo& info : set.file_info) {
    if (!time_file(info, set.password, with_crc, *reinterpret_cast<ChunkBuffers*>(buffers.data()),
                   times, error)) {
      return false;
    }
  }
  return true;
}

bool write_all(int fd, const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = write(fd, p, size);
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// What the child reported: its times, then the text of an error.
std::string read_report(int fd) {
  std::string report;
  char buffer[256];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)) {
    if (n > 0) report.append(buffer, static_cast<size_t>(n));
  }
  return report;
}

}  // namespace

bool time_stages(const DumpSet& set, bool with_crc, StageTimes& times, std::string& error) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) {
    error = errno_text("pipe");
    return false;
  }
  const pid_t pid = fork();
  if (pid == 0) {
    close(ends[0]);
    StageTimes mine;
    std::string why;
    const bool ok = time_set(set, with_crc, mine, why);
    const bool sent =
        write_all(ends[1], &mine, sizeof mine) && write_all(ends[1], why.data(), why.size());
    _exit(ok && sent ? 0 : kChildFailed);  // no exit handlers: they belong to the benchmark
  }
  close(ends[1]);
  const std::string report = pid > 0 ? read_report(ends[0]) : std::string();
  close(ends[0]);
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid) {
    error = errno_text("stage timing");
    return false;
  }
  if (report.size() >= sizeof times) memcpy(&times, report.data(), sizeof times);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0 && report.size() == sizeof times) return true;
  error = "stage timing failed: " +
          (report.size() > sizeof times ? report.substr(sizeof times) : "no report");
  return false;
}

}  // namespace bench
