// playback_bench: the MB/s at which the real brix_writer plays a plain dump
// set from the page cache to a discarding loopback destination, beside a
// baseline source writing the same bytes from memory in the same 4096-byte
// writes, measured by the same reader in the same run; and the writer's peak
// resident memory at two set sizes. It reports against the targets and
// fails only when a run itself fails.
#include <getopt.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "kit/temp_dir.h"
#include "lr.h"
#include "playback_reader.h"
#include "playback_set.h"
#include "playback_sources.h"
#include "tool_support.h"

namespace {

constexpr uint64_t kMiB = 1024 * 1024;
constexpr double kGiB = 1024.0 * kMiB;
constexpr double kKiBPerMiB = 1024;
constexpr double kPercent = 100;
constexpr int kUsageError = 2;
constexpr int kRunFailed = 1;

// The read path may cost at most a tenth of the delivery rate, and the
// writer's memory may not grow with the set.
constexpr double kTargetRatio = 0.90;
constexpr long kTargetPeakRssKiB = 4 * 1024;

const char kUsage[] =
    "Usage: playback_bench [options]\n"
    "Plays a generated plain dump set from the page cache with brix_writer to a\n"
    "discarding loopback destination, beside a source writing the same bytes from\n"
    "memory, and reports MB/s, their ratio and the writer's peak resident memory.\n"
    "Listens on port 10566: run it where no other writer does.\n"
    "\n"
    "  --size BYTES        size of the set (K, M, G suffixes; default 1G)\n"
    "  --small-size BYTES  size of the second set, for peak memory only (default 64M)\n"
    "  --files N           dump files per set (default 4)\n"
    "  --rounds N          rounds of each source, interleaved (default 5)\n"
    "  --writer PATH       the writer to measure (default the one built beside it)\n"
    "  -h, --help          show this text\n";

struct Options {
  uint64_t set_bytes = 1024 * kMiB;
  uint64_t small_set_bytes = 64 * kMiB;
  uint32_t files = 4;
  uint32_t rounds = 5;
  std::string writer = BRIX_WRITER_PATH;  // another build, to compare a change
};

double best_of(const std::vector<double>& v) { return *std::max_element(v.begin(), v.end()); }
double least_of(const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); }

double median_of(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t mid = v.size() / 2;
  return v.size() % 2 ? v[mid] : (v[mid - 1] + v[mid]) / 2;
}

// The rounds of one source. Delivery is bound by the source's CPU, so its
// CPU time per GiB says where a difference comes from.
struct Series {
  std::vector<double> mbps;
  std::vector<double> cpu_per_gib;

  void add(const bench::Delivery& d) {
    mbps.push_back(d.mbps());
    cpu_per_gib.push_back(d.source_cpu / (static_cast<double>(d.stream_bytes) / kGiB));
  }
  void print(const char* name) const {
    printf(
        "%-12s best %.1f MB/s, median %.1f MB/s; source CPU per GiB least %.3f s, median %.3f s\n",
        (std::string(name) + ":").c_str(), best_of(mbps), median_of(mbps), least_of(cpu_per_gib),
        median_of(cpu_per_gib));
  }
};

std::string round_text(const bench::Delivery& d) {
  char text[96];
  snprintf(text, sizeof text, "%.1f MB/s (%.3f s, source CPU %.3f s)", d.mbps(), d.seconds,
           d.source_cpu);
  return text;
}

std::string mib_text(uint64_t bytes) {
  char text[32];
  snprintf(text, sizeof text, "%.0f MiB", static_cast<double>(bytes) / kMiB);
  return text;
}

// False when the run should stop at once, with `status` its exit status.
bool parse_options(int argc, char** argv, Options& o, int& status) {
  enum { kSize = 256, kSmallSize, kFiles, kRounds, kWriter };
  static const option longopts[] = {{"size", required_argument, nullptr, kSize},
                                    {"small-size", required_argument, nullptr, kSmallSize},
                                    {"files", required_argument, nullptr, kFiles},
                                    {"rounds", required_argument, nullptr, kRounds},
                                    {"writer", required_argument, nullptr, kWriter},
                                    {"help", no_argument, nullptr, 'h'},
                                    {nullptr, 0, nullptr, 0}};
  status = kUsageError;
  int c;
  while ((c = getopt_long(argc, argv, "h", longopts, nullptr)) != -1) {
    bool ok = true;
    switch (c) {
      case kSize:
        ok = tools::parse_size(optarg, o.set_bytes);
        break;
      case kSmallSize:
        ok = tools::parse_size(optarg, o.small_set_bytes);
        break;
      case kFiles:
        ok = tools::parse_u32(optarg, o.files) && o.files > 0;
        break;
      case kRounds:
        ok = tools::parse_u32(optarg, o.rounds) && o.rounds > 0;
        break;
      case kWriter:
        o.writer = optarg;
        break;
      case 'h':
        fputs(kUsage, stdout);
        status = 0;
        return false;
      default:
        fputs(kUsage, stderr);
        return false;
    }
    if (!ok) {
      fprintf(stderr, "playback_bench: bad value '%s' for %s\n", optarg,
              tools::option_label(c, longopts).c_str());
      return false;
    }
  }
  if (optind == argc) return true;
  fputs(kUsage, stderr);
  return false;
}

int fail(const std::string& what) {
  fprintf(stderr, "playback_bench: %s\n", what.c_str());
  return kRunFailed;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  int status = 0;
  if (!parse_options(argc, argv, options, status)) return status;
  setvbuf(stdout, nullptr, _IOLBF, 0);
  signal(SIGPIPE, SIG_IGN);  // a vanished reader shows as a failed write

  kit::TempDir dir;
  if (dir.path().empty()) return fail("cannot make a temporary directory");
  const std::string log = dir.file("writer.log");
  std::string error;
  bench::DumpSet set;
  bench::DumpSet small_set;
  if (!bench::make_set(dir.file("big"), options.set_bytes, options.files, set, error) ||
      !bench::make_set(dir.file("small"), options.small_set_bytes, options.files, small_set,
                       error)) {
    return fail(error);
  }
  double resident = 0;
  if (!bench::warm_page_cache(set, resident, error)) return fail(error);
  printf("set: %llu bytes (%llu blocks) in %zu plain dump files, %.1f%% in the page cache\n",
         static_cast<unsigned long long>(set.bytes),
         static_cast<unsigned long long>(set.bytes / LR_BLOCK_SIZE), set.files.size(),
         resident * kPercent);

  // Interleaved, alternating which goes first, so that the drift of a shared
  // machine falls on both alike.
  Series writer;
  Series baseline;
  long peak_rss_kib = 0;
  for (uint32_t round = 0; round < options.rounds; ++round) {
    bench::WriterRun run;
    bench::Delivery from_memory;
    for (uint32_t turn = 0; turn < 2; ++turn) {
      const bool ok = (turn + round) % 2 == 0
                          ? bench::run_writer(options.writer, set, log, run, error)
                          : bench::run_baseline(set, from_memory, error);
      if (!ok) return fail(error);
    }
    writer.add(run.delivery);
    baseline.add(from_memory);
    peak_rss_kib = std::max(peak_rss_kib, run.peak_rss_kib);
    printf("round %u: brix_writer %s; baseline %s\n", round + 1, round_text(run.delivery).c_str(),
           round_text(from_memory).c_str());
  }
  bench::WriterRun small_run;
  if (!bench::warm_page_cache(small_set, resident, error) ||
      !bench::run_writer(options.writer, small_set, log, small_run, error)) {
    return fail(error);
  }

  writer.print("brix_writer");
  baseline.print("baseline");
  const double best_ratio = best_of(writer.mbps) / best_of(baseline.mbps);
  // The CPU figures are steadier than MB/s on a busy machine: noise only
  // ever adds to them, so the least of each is the fairest pair.
  printf("ratio brix_writer/baseline: best %.3f, median %.3f; by least source CPU per GiB %.3f\n",
         best_ratio, median_of(writer.mbps) / median_of(baseline.mbps),
         least_of(baseline.cpu_per_gib) / least_of(writer.cpu_per_gib));
  printf("peak RSS of brix_writer: %ld KiB (%.2f MiB) with the %s set, %ld KiB with the %s set\n",
         peak_rss_kib, peak_rss_kib / kKiBPerMiB, mib_text(set.bytes).c_str(),
         small_run.peak_rss_kib, mib_text(small_set.bytes).c_str());
  printf("(a child forked by this benchmark is charged at least %ld KiB before it runs)\n",
         bench::launch_floor_kib());
  printf("%s throughput: best ratio %.3f, target at least %.2f\n",
         best_ratio >= kTargetRatio ? "PASS" : "FAIL", best_ratio, kTargetRatio);
  const long worst_rss = std::max(peak_rss_kib, small_run.peak_rss_kib);
  printf("%s memory: peak RSS %ld KiB at most, target at most %ld KiB\n",
         worst_rss <= kTargetPeakRssKiB ? "PASS" : "FAIL", worst_rss, kTargetPeakRssKiB);
  return 0;
}
