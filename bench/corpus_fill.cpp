// Refilling the regular files' data blocks: which blocks, and their text,
// zero and random content.
#include "corpus_fill.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace bench {

namespace {

// The log's clock: each line a little later than the one before.
constexpr uint32_t kMaxStepMs = 1500;
constexpr uint64_t kMsPerSecond = 1000;
constexpr uint64_t kMsPerDay = 86400 * kMsPerSecond;
constexpr uint32_t kDaysPerMonth = 28;
constexpr uint32_t kMinutesPerHour = 60;
constexpr uint32_t kSecondsPerMinute = 60;
constexpr uint32_t kHoursPerDay = 24;

constexpr uint32_t kHosts = 12;
constexpr uint32_t kMinWords = 4;
constexpr uint32_t kMaxWords = 12;
constexpr double kNumberChance = 0.3;  // a word is a number instead
constexpr uint32_t kNumberDigitsMax = 9;
constexpr unsigned long long kDecimalBase = 10;
constexpr size_t kLineMax = 256;

const char* const kLevels[] = {"INFO", "INFO", "INFO", "INFO", "DEBUG", "DEBUG", "WARN", "ERROR"};

struct Service {
  const char* name;
  unsigned pid;
};
const Service kServices[] = {{"replicator", 2211}, {"scheduler", 1187}, {"cache", 3340},
                             {"netd", 912},        {"auditd", 655},     {"backupd", 4410},
                             {"indexer", 5093},    {"sshd", 1502}};

const char* const kWords[] = {
    "session",  "volume",     "snapshot", "transfer",  "checkpoint", "mirror",   "client",
    "request",  "opened",     "closed",   "for",       "user",       "from",     "port",
    "blocks",   "bytes",      "sent",     "received",  "queue",      "depth",    "latency",
    "ms",       "retry",      "timeout",  "after",     "of",         "the",      "to",
    "in",       "on",         "file",     "directory", "inode",      "written",  "read",
    "cache",    "hit",        "miss",     "evicted",   "entries",    "lock",     "acquired",
    "released", "waiting",    "job",      "started",   "finished",   "status",   "ok",
    "failed",   "connection", "reset",    "by",        "peer",       "scan",     "complete",
    "pending",  "update",     "policy",   "applied",   "quota",      "exceeded", "alice",
    "bob",      "backup",     "nightly",  "weekly",    "restore",    "verify",   "digest"};

template <typename T, size_t N>
constexpr uint32_t count_of(const T (&)[N]) {
  return static_cast<uint32_t>(N);
}

// A number of a random length: counts, sizes, identifiers.
unsigned long long random_number(kit::Rng& rng) {
  unsigned long long limit = kDecimalBase;
  for (uint32_t digits = rng.between(1, kNumberDigitsMax); digits > 1; --digits) {
    limit *= kDecimalBase;
  }
  return rng.next() % limit;
}

}  // namespace

CorpusFill::CorpusFill(uint64_t seed, CorpusMix mix) : mix_(mix), rng_(seed) {}

void CorpusFill::next(kit::Block& b) {
  if (walk_.next(b)) {
    ++counts_.headers;
    in_file_data_ = kit::hdr_type(b) == LR_HDR_FILE && !kit::is_directory_type(kit::file_type(b));
    return;
  }
  if (!in_file_data_ || walk_.lost()) {
    ++counts_.other_data;
    return;
  }
  if (run_left_ == 0) start_run();
  --run_left_;
  switch (kind_) {
    case Kind::text:
      fill_text(b);
      ++counts_.text;
      break;
    case Kind::zero:
      memset(b.bytes, 0, sizeof b.bytes);
      ++counts_.zero;
      break;
    case Kind::random:
      fill_random(b);
      ++counts_.random;
      break;
  }
}

void CorpusFill::start_run() {
  const double random_among_rest =
      mix_.zero_share < 1 ? mix_.random_share / (1 - mix_.zero_share) : 0;
  kind_ = rng_.chance(mix_.zero_share)     ? Kind::zero
          : rng_.chance(random_among_rest) ? Kind::random
                                           : Kind::text;
  run_left_ = rng_.between(1, kLongestCorpusRun);
}

// Lines of a service log, cut where the block ends.
void CorpusFill::fill_text(kit::Block& b) {
  size_t at = 0;
  char line[kLineMax];
  while (at < sizeof b.bytes) {
    clock_ms_ += rng_.below(kMaxStepMs);
    const uint64_t seconds = clock_ms_ / kMsPerSecond;
    const Service& service = kServices[rng_.below(count_of(kServices))];
    int n = snprintf(
        line, sizeof line, "2024-05-%02u %02u:%02u:%02u.%03u node%02u %s[%u]: %-5s",
        static_cast<unsigned>(1 + clock_ms_ / kMsPerDay % kDaysPerMonth),
        static_cast<unsigned>(seconds / (kMinutesPerHour * kSecondsPerMinute) % kHoursPerDay),
        static_cast<unsigned>(seconds / kSecondsPerMinute % kMinutesPerHour),
        static_cast<unsigned>(seconds % kSecondsPerMinute),
        static_cast<unsigned>(clock_ms_ % kMsPerSecond), rng_.below(kHosts), service.name,
        service.pid, kLevels[rng_.below(count_of(kLevels))]);
    size_t len = static_cast<size_t>(n);
    for (uint32_t words = rng_.between(kMinWords, kMaxWords); words > 0 && len < kLineMax;
         --words) {
      n = rng_.chance(kNumberChance)
              ? snprintf(line + len, kLineMax - len, " %llu", random_number(rng_))
              : snprintf(line + len, kLineMax - len, " %s", kWords[rng_.below(count_of(kWords))]);
      len += static_cast<size_t>(n);
    }
    if (len >= kLineMax) len = kLineMax - 1;
    line[len++] = '\n';
    const size_t take = std::min(len, sizeof b.bytes - at);
    memcpy(b.bytes + at, line, take);
    at += take;
  }
}

void CorpusFill::fill_random(kit::Block& b) {
  for (size_t at = 0; at < sizeof b.bytes; at += sizeof(uint64_t)) {
    const uint64_t word = rng_.next();
    memcpy(b.bytes + at, &word, sizeof word);
  }
  if (kit::is_header(b)) kit::break_magic(b);  // data, never a header
}

}  // namespace bench
