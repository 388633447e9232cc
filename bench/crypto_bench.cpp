// Throughput of the crypto primitives on 64 KiB buffers (the size of a
// stored chunk), beside OpenSSL on the same buffers in the same run, and a
// summary against the speed targets.
#include <benchmark/benchmark.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "aes_internal.h"
#include "fileenc.h"
#include "fileenc_internal.h"
#include "hmac.h"
#include "sha2.h"
#include "sha2_internal.h"

namespace {

constexpr size_t kBufferSize = 64 * 1024;
constexpr double kMega = 1e6;

std::vector<unsigned char>& buffer() {
  static std::vector<unsigned char> data(kBufferSize, 0x5a);
  return data;
}

fcrypt_ctx fresh_context(int mode) {
  static const unsigned char password[] = "benchmark password";
  static const unsigned char salt[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  fcrypt_ctx cx;
  unsigned char verifier[PWD_VER_LENGTH];
  fcrypt_init(mode, password, sizeof password - 1, salt, verifier, &cx);
  return cx;
}

// The machines are shared virtual machines whose speed drifts from second
// to second: each benchmark runs in five short repetitions, interleaved at
// random with the others', and the summary takes the best repetition of
// each (noise only ever slows a run down).
void repeat(benchmark::internal::Benchmark* b) { b->Repetitions(5)->MinTime(0.2); }

void count_bytes(benchmark::State& state) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBufferSize);
}

void BM_encr_data(benchmark::State& state, int mode, bool hardware) {
  aes_use_hardware(hardware);
  fcrypt_ctx cx = fresh_context(mode);
  for (auto _ : state) {
    encr_data(buffer().data(), kBufferSize, &cx);
    benchmark::DoNotOptimize(buffer().data());
  }
  aes_use_hardware(true);
  count_bytes(state);
}
BENCHMARK_CAPTURE(BM_encr_data, aes128, 1, true)->Apply(repeat);
BENCHMARK_CAPTURE(BM_encr_data, aes256, 3, true)->Apply(repeat);
BENCHMARK_CAPTURE(BM_encr_data, aes128_tables, 1, false)->Apply(repeat);

void BM_hmac_sha_data(benchmark::State& state) {
  fcrypt_ctx cx = fresh_context(1);
  for (auto _ : state) {
    hmac_sha_data(buffer().data(), kBufferSize, &cx.auth_ctx);
    benchmark::DoNotOptimize(cx.auth_ctx);
  }
  count_bytes(state);
}
BENCHMARK(BM_hmac_sha_data)->Apply(repeat);

// The fastest variant is the one in use by default; the others for comparison.
void BM_sha512_hash(benchmark::State& state, bool fastest, sha512_compression variant) {
  if (fastest) {
    sha512_use_fastest();
  } else if (!sha512_use(variant)) {
    state.SkipWithError("this processor cannot run the variant");
    return;
  }
  sha512_ctx ctx;
  sha512_begin(&ctx);
  for (auto _ : state) {
    sha512_hash(buffer().data(), kBufferSize, &ctx);
    benchmark::DoNotOptimize(ctx);
  }
  sha512_use_fastest();
  count_bytes(state);
}
BENCHMARK_CAPTURE(BM_sha512_hash, fastest, true, SHA512_GENERIC)->Apply(repeat);
BENCHMARK_CAPTURE(BM_sha512_hash, avx2, false, SHA512_AVX2)->Apply(repeat);
BENCHMARK_CAPTURE(BM_sha512_hash, bmi2, false, SHA512_BMI2)->Apply(repeat);
BENCHMARK_CAPTURE(BM_sha512_hash, generic, false, SHA512_GENERIC)->Apply(repeat);

void BM_fcrypt_decrypt(benchmark::State& state, int mode) {
  fcrypt_ctx cx = fresh_context(mode);
  for (auto _ : state) {
    fcrypt_decrypt(buffer().data(), kBufferSize, &cx);
    benchmark::DoNotOptimize(buffer().data());
  }
  count_bytes(state);
}
BENCHMARK_CAPTURE(BM_fcrypt_decrypt, aes128, 1)->Apply(repeat);
BENCHMARK_CAPTURE(BM_fcrypt_decrypt, aes256, 3)->Apply(repeat);

void BM_fcrypt_init(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(fresh_context(3));
}
BENCHMARK(BM_fcrypt_init)->Unit(benchmark::kMillisecond)->Apply(repeat);

void BM_openssl_aes128_ctr(benchmark::State& state) {
  const unsigned char key[16] = {7}, iv[16] = {1};
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  EVP_EncryptInit_ex(ctx, EVP_aes_128_ctr(), nullptr, key, iv);
  int len = 0;
  for (auto _ : state) {
    EVP_EncryptUpdate(ctx, buffer().data(), &len, buffer().data(), kBufferSize);
    benchmark::DoNotOptimize(buffer().data());
  }
  EVP_CIPHER_CTX_free(ctx);
  count_bytes(state);
}
BENCHMARK(BM_openssl_aes128_ctr)->Apply(repeat);

void BM_openssl_hmac_sha512(benchmark::State& state) {
  const unsigned char key[16] = {9};
  EVP_MAC* mac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
  EVP_MAC_CTX* ctx = EVP_MAC_CTX_new(mac);
  char digest[] = "SHA512";
  const OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
                               OSSL_PARAM_construct_end()};
  EVP_MAC_init(ctx, key, sizeof key, params);
  for (auto _ : state) EVP_MAC_update(ctx, buffer().data(), kBufferSize);
  EVP_MAC_CTX_free(ctx);
  EVP_MAC_free(mac);
  count_bytes(state);
}
BENCHMARK(BM_openssl_hmac_sha512)->Apply(repeat);

void BM_openssl_sha512(benchmark::State& state) {
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  EVP_DigestInit_ex(ctx, EVP_sha512(), nullptr);
  for (auto _ : state) EVP_DigestUpdate(ctx, buffer().data(), kBufferSize);
  EVP_MD_CTX_free(ctx);
  count_bytes(state);
}
BENCHMARK(BM_openssl_sha512)->Apply(repeat);

// Keeps each benchmark's best rate (MB/s) and time per iteration (ms) over
// its repetitions for the summary, and prints only the aggregates.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> mb_per_s, ms_per_iteration;

  void ReportRuns(const std::vector<Run>& runs) override {
    std::vector<Run> aggregates;
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Aggregate) {
        aggregates.push_back(run);
        continue;
      }
      const std::string name =
          run.run_name.function_name + (run.run_name.args.empty() ? "" : "/" + run.run_name.args);
      auto rate = run.counters.find("bytes_per_second");
      if (rate != run.counters.end()) {
        const double mb = rate->second.value / kMega;
        if (mb > mb_per_s[name]) mb_per_s[name] = mb;
      }
      const double ms =
          run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit) * 1e3;
      if (!ms_per_iteration.count(name) || ms < ms_per_iteration[name]) ms_per_iteration[name] = ms;
    }
    if (!aggregates.empty()) ConsoleReporter::ReportRuns(aggregates);
  }
};

void print_target(const char* what, double value, double target, bool at_least, const char* unit) {
  const bool met = at_least ? value >= target : value < target;
  std::printf("  %-52s %9.2f %-5s (target %s %.2f) %s\n", what, value, unit, at_least ? ">=" : "<",
              target, met ? "met" : "MISSED");
}

void print_summary(SummaryReporter& r) {
  const double aes = r.mb_per_s["BM_openssl_aes128_ctr"],
               hmac = r.mb_per_s["BM_openssl_hmac_sha512"];
  const double combined = 1.0 / (1.0 / aes + 1.0 / hmac);
  std::printf("\nBest of the repetitions, MB/s (1 MB = 10^6 bytes), 64 KiB buffers:\n");
  for (const auto& [name, rate] : r.mb_per_s) std::printf("  %-40s %9.1f\n", name.c_str(), rate);
  std::printf("  %-40s %9.1f\n", "OpenSSL AES-128-CTR + HMAC-SHA-512 combined", combined);
  std::printf("Targets:\n");
  print_target("fcrypt_decrypt AES-128 / OpenSSL CTR+HMAC combined",
               r.mb_per_s["BM_fcrypt_decrypt/aes128"] / combined, 0.60, true, "");
  print_target("sha512_hash / OpenSSL SHA-512",
               r.mb_per_s["BM_sha512_hash/fastest"] / r.mb_per_s["BM_openssl_sha512"], 0.90, true,
               "");
  print_target("table path AES-128 counter mode", r.mb_per_s["BM_encr_data/aes128_tables"], 150,
               true, "MB/s");
  print_target("fcrypt_init, mode 3", r.ms_per_iteration["BM_fcrypt_init"], 5, false, "ms");
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<char*> args(argv, argv + argc);
  char interleave[] = "--benchmark_enable_random_interleaving=true";
  args.insert(args.begin() + 1, interleave);  // a later flag on the command line still wins
  int arg_count = static_cast<int>(args.size());
  benchmark::Initialize(&arg_count, args.data());
  const char* const compression_names[SHA512_COMPRESSIONS] = {"generic", "BMI2", "AVX2 and BMI2",
                                                              "AVX-512VL, AVX2 and BMI2"};
  std::printf("AES instructions: %s; SHA-512 compression: %s\n",
              aes_hardware_available() ? "yes" : "no", compression_names[sha512_use_fastest()]);
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  print_summary(reporter);
  return 0;
}
