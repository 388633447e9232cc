// playback_bench: the MB/s at which the real brix_writer plays a plain dump
// set from the page cache to a discarding loopback destination, beside a
// baseline source writing the same bytes from memory in the same 4096-byte
// writes, measured by the same reader in the same run; the same writer
// reading in place (BRIX_DECODE_THREAD=0), and another build of it if asked;
// and the writer's peak resident memory at two set sizes. It reports against
// the targets and fails only when a run itself fails.
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "bench_options.h"
#include "bench_stats.h"
#include "kit/temp_dir.h"
#include "lr.h"
#include "playback_reader.h"
#include "playback_set.h"
#include "playback_sources.h"
#include "tool_support.h"

namespace {

using bench::best_of;
using bench::least_of;
using bench::median_of;

constexpr uint64_t kMiB = 1024 * 1024;
constexpr double kKiBPerMiB = 1024;
constexpr double kPercent = 100;
constexpr int kRunFailed = 1;
constexpr int kNameWidth = 12;

// The read path may cost at most a tenth of the delivery rate, and the
// writer's memory may not grow with the set.
constexpr double kTargetRatio = 0.90;
constexpr long kTargetPeakRssKiB = 6 * 1024;

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
    "  --previous PATH     an earlier build of the writer to play beside it\n"
    "  -h, --help          show this text\n";

struct Options {
  bench::PlaybackOptions common{1024 * kMiB, 4, 5, BRIX_WRITER_PATH};
  uint64_t small_set_bytes = 64 * kMiB;
  std::string previous;  // an earlier writer, played beside the one measured
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
  const std::vector<bench::ExtraOption> extras = {
      {"small-size", true,
       [&o](const char* value) { return tools::parse_size(value, o.small_set_bytes); }},
      {"previous", true, [&o](const char* value) {
         o.previous = value;
         return true;
       }}};
  return bench::parse_playback_options(argc, argv, "playback_bench", kUsage, extras, o.common,
                                       status);
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
  if (!bench::make_set(dir.file("big"), options.common.set_bytes, options.common.files, set,
                       error) ||
      !bench::make_set(dir.file("small"), options.small_set_bytes, options.common.files, small_set,
                       error)) {
    return fail(error);
  }
  double resident = 0;
  if (!bench::warm_page_cache(set, resident, error)) return fail(error);
  printf("set: %llu bytes (%llu blocks) in %zu plain dump files, %.1f%% in the page cache\n",
         static_cast<unsigned long long>(set.bytes),
         static_cast<unsigned long long>(set.bytes / LR_BLOCK_SIZE), set.files.size(),
         resident * kPercent);

  // Interleaved, each round starting one source further along, so that the
  // drift of a shared machine falls on all alike.
  enum Source { kWriter, kOneThread, kBaseline, kPrevious };
  const int sources = options.previous.empty() ? 3 : 4;
  bench::Series series[4];
  long peak_rss_kib = 0;
  for (uint32_t round = 0; round < options.common.rounds; ++round) {
    printf("round %u:", round + 1);
    for (int turn = 0; turn < sources; ++turn) {
      const int source = static_cast<int>((turn + round) % sources);
      bench::WriterRun run;
      bool ok = true;
      if (source == kBaseline) {
        ok = bench::run_baseline(set, run.delivery, error);
      } else {
        const std::string& program = source == kPrevious ? options.previous : options.common.writer;
        ok = bench::run_writer(program, set, log, run, error, source == kOneThread);
      }
      if (!ok) return fail(error);
      series[source].add(run.delivery);
      if (source == kWriter) peak_rss_kib = std::max(peak_rss_kib, run.peak_rss_kib);
      printf(" %s %s;",
             source == kWriter      ? "brix_writer"
             : source == kOneThread ? "one thread"
             : source == kBaseline  ? "baseline"
                                    : "previous",
             round_text(run.delivery).c_str());
    }
    printf("\n");
  }
  const bench::Series& writer = series[kWriter];
  const bench::Series& baseline = series[kBaseline];
  bench::WriterRun small_run;
  if (!bench::warm_page_cache(small_set, resident, error) ||
      !bench::run_writer(options.common.writer, small_set, log, small_run, error)) {
    return fail(error);
  }

  writer.print("brix_writer", kNameWidth);
  series[kOneThread].print("one thread", kNameWidth);
  if (sources == 4) series[kPrevious].print("previous", kNameWidth);
  baseline.print("baseline", kNameWidth);
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
  if (sources == 4) {
    const double kept = best_of(series[kOneThread].mbps) / best_of(series[kPrevious].mbps);
    printf("%s one thread against the previous writer: best ratio %.3f, target at least 1.00\n",
           kept >= 1.0 ? "PASS" : "FAIL", kept);
  }
  const long worst_rss = std::max(peak_rss_kib, small_run.peak_rss_kib);
  printf("%s memory: peak RSS %ld KiB at most, target at most %ld KiB\n",
         worst_rss <= kTargetPeakRssKiB ? "PASS" : "FAIL", worst_rss, kTargetPeakRssKiB);
  return 0;
}
