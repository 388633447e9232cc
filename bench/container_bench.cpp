// container_bench: the MB/s at which the real brix_writer plays container
// dump sets (compressed, encrypted with AES-128 and AES-256, and both) from
// the page cache to a discarding loopback destination, beside the stages it
// is made of measured alone on the same data in the same run: plain playback
// of the same stream, OpenSSL's HMAC-SHA-512 and AES, zlib's uncompress and
// the writer's own inflater. Each mode is held against two ideals: one
// thread doing every stage in turn (zlib + OpenSSL, 1/sum(1/stage), with the
// plain playback of a writer on one thread), and two threads, the sender's
// plain playback (the writer's, on two threads) beside the decoder's stages
// (the slower of the two); the bound of two threads that share the decoding,
// as the writer's do, is shown beside them. The same writer reading in place
// (BRIX_DECODE_THREAD=0) and, if asked, an earlier build run beside it; the
// CPU seconds per GiB of the writer (all its threads) and of the destination
// (which shares the machine) are shown with every rate. It fails only when a
// run itself fails.
#include <zlib.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "bench_options.h"
#include "bench_stats.h"
#include "corpus_fill.h"
#include "kit/temp_dir.h"
#include "lr.h"
#include "playback_set.h"
#include "playback_sources.h"
#include "reference_stages.h"
#include "rehearsal/dump_writer.h"

namespace {

using bench::best_of;
using bench::least_of;
using bench::median_of;

constexpr uint64_t kMiB = 1024 * 1024;
constexpr double kBytesPerMB = 1e6;
constexpr double kPercent = 100;
constexpr int kRunFailed = 1;
constexpr int kNameWidth = 30;
constexpr uint64_t kCorpusSeed = 2024;

// Against the single-thread ideal: modes that decompress at least this
// many times it, encrypted-only modes at least kTargetEncrypted; every mode at
// least kTargetTwoThreads of its two-thread ideal; the writer's memory
// bounded whatever the mode.
constexpr double kTargetCompressed = 2.0;
constexpr double kTargetEncrypted = 1.4;
constexpr double kTargetTwoThreads = 0.8;
constexpr long kTargetPeakRssKiB = 6 * 1024;

// Mode 1 takes at most 32 password bytes.
const char kPassword[] = "container benchmark password";

const char kUsage[] =
    "Usage: container_bench [options]\n"
    "Plays a generated stream stored as compressed, encrypted (AES-128, AES-256) and\n"
    "compressed+encrypted (AES-128, AES-256) dump sets from the page cache with\n"
    "brix_writer to a discarding loopback destination; measures the stages alone\n"
    "on the same data (plain playback of the stream, OpenSSL HMAC-SHA-512 and AES,\n"
    "zlib uncompress) and reports each mode's MB/s against 1/sum(1/stage), and the\n"
    "writer's peak resident memory. Listens on port 10566: run it where no other\n"
    "writer does.\n"
    "\n"
    "  --size BYTES   stream bytes per set (K, M, G suffixes; default 1G)\n"
    "  --quick        a 128 MiB stream, for a quick look\n"
    "  --files N      dump files per set (default 4)\n"
    "  --rounds N     rounds of every run, interleaved (default 3)\n"
    "  --writer PATH  the writer to measure (default the one built beside it)\n"
    "  --previous PATH  an earlier build of the writer to play beside it\n"
    "  -h, --help     show this text\n";

constexpr uint64_t kQuickBytes = 128 * kMiB;

struct Mode {
  const char* name;
  const char* prefix;
  kit::DumpFormat format;
  int aes_mode;  // encrypted modes: 1 (AES-128) or 3 (AES-256)
};
const Mode kModes[] = {
    {"compressed", "compressed", kit::DumpFormat::compressed, 0},
    {"encrypted AES-128", "encrypted128", kit::DumpFormat::encrypted, 1},
    {"encrypted AES-256", "encrypted256", kit::DumpFormat::encrypted, 3},
    {"compressed+encrypted AES-128", "both128", kit::DumpFormat::compressed_encrypted, 1},
    {"compressed+encrypted AES-256", "both256", kit::DumpFormat::compressed_encrypted, 3},
};
constexpr size_t kModeCount = sizeof kModes / sizeof kModes[0];

void keep_least(bench::StageTime& least, const bench::StageTime& t) {
  least.wall = std::min(least.wall, t.wall);
  least.cpu = std::min(least.cpu, t.cpu);
}

// What the rounds gave for one mode.
struct ModeResults {
  bench::Series writer;
  bench::Series one_thread;  // the same writer, BRIX_DECODE_THREAD=0
  bench::Series previous;    // the earlier build, when asked for
  // Each round's writer rate against the ideal of the stages measured
  // beside it: drift of a shared machine between rounds cancels out.
  std::vector<double> paired_ratios;
  long peak_rss_kib = 0;
  // The least time of each stage over the rounds (noise only adds to it).
  bench::StageTimes least;
  bool timed = false;

  void add_stages(const bench::StageTimes& t) {
    if (!timed) {
      least = t;
      timed = true;
      return;
    }
    keep_least(least.hmac, t.hmac);
    keep_least(least.aes, t.aes);
    keep_least(least.inflate, t.inflate);
    keep_least(least.fast_inflate, t.fast_inflate);
  }
};

// MB/s of stream for `seconds` spent on a set of `bytes`.
double rate(uint64_t bytes, double seconds) {
  return seconds > 0 ? static_cast<double>(bytes) / kBytesPerMB / seconds : 0;
}

// False when the run should stop at once, with `status` its exit status.
bool parse_options(int argc, char** argv, bench::PlaybackOptions& o, std::string& previous,
                   int& status) {
  const std::vector<bench::ExtraOption> extras = {{"quick", false,
                                                   [&o](const char*) {
                                                     o.set_bytes = kQuickBytes;
                                                     return true;
                                                   }},
                                                  {"previous", true, [&previous](const char* v) {
                                                     previous = v;
                                                     return true;
                                                   }}};
  return bench::parse_playback_options(argc, argv, "container_bench", kUsage, extras, o, status);
}

int fail(const std::string& what) {
  fprintf(stderr, "container_bench: %s\n", what.c_str());
  return kRunFailed;
}

std::vector<bench::SetPlan> set_plans(const kit::TempDir& dir) {
  std::vector<bench::SetPlan> plans(1 + kModeCount);
  plans[0].prefix = dir.file("plain");
  for (size_t m = 0; m < kModeCount; ++m) {
    bench::SetPlan& plan = plans[1 + m];
    plan.prefix = dir.file(kModes[m].prefix);
    plan.format = kModes[m].format;
    if (kit::has_encryption(plan.format)) {
      plan.container.password = kPassword;
      plan.container.mode = kModes[m].aes_mode;
    }
  }
  return plans;
}

double share(uint64_t part, uint64_t whole) {
  return whole ? kPercent * static_cast<double>(part) / static_cast<double>(whole) : 0;
}

void describe_corpus(const bench::CorpusCounts& c, const bench::DumpSet& compressed) {
  const uint64_t n = c.total();
  printf(
      "corpus: %llu blocks: %.1f%% log-like text lines, %.1f%% all-zero, %.1f%% random "
      "(in runs of 1 to %u blocks), %.1f%% headers, %.1f%% directory and attribute data\n",
      static_cast<unsigned long long>(n), share(c.text, n), share(c.zero, n), share(c.random, n),
      bench::kLongestCorpusRun, share(c.headers, n), share(c.other_data, n));
  printf("compression with 64 KiB chunks: %llu stream bytes stored in %llu (ratio %.2f:1)\n",
         static_cast<unsigned long long>(compressed.bytes),
         static_cast<unsigned long long>(compressed.stored_bytes),
         static_cast<double>(compressed.bytes) / static_cast<double>(compressed.stored_bytes));
}

// The writer playing the plain set: with its second thread, the sender's
// stage of the two-thread ideals; on one thread, the first stage of the
// single-thread ideal.
struct PlainRuns {
  bench::Series two_threads;
  bench::Series one_thread;
};

// The stages one mode is made of, as MB/s of stream: plain playback first.
std::vector<std::pair<std::string, double>> stage_rates(const Mode& mode, double plain_mbps,
                                                        const bench::StageTimes& t,
                                                        uint64_t stream_bytes) {
  std::vector<std::pair<std::string, double>> stages = {
      {"plain playback on one thread", plain_mbps}};
  if (kit::has_encryption(mode.format)) {
    stages.emplace_back("HMAC-SHA-512", rate(stream_bytes, t.hmac.wall));
    stages.emplace_back(mode.aes_mode == 1 ? "AES-128 ECB+XOR" : "AES-256 ECB+XOR",
                        rate(stream_bytes, t.aes.wall));
  }
  if (kit::has_compression(mode.format)) {
    stages.emplace_back("uncompress", rate(stream_bytes, t.inflate.wall));
  }
  return stages;
}

// 1/sum(1/stage): the rate of one thread doing every stage in turn.
double ideal_of(const std::vector<std::pair<std::string, double>>& stages) {
  double seconds_per_mb = 0;
  for (const auto& stage : stages) seconds_per_mb += stage.second > 0 ? 1 / stage.second : 0;
  return seconds_per_mb > 0 ? 1 / seconds_per_mb : 0;
}

// Two threads: the sender plays the stream (plain playback) while the
// decoder authenticates, decrypts and inflates with the writer's inflater;
// the slower of the two sets the pace.
double two_thread_ideal(const Mode& mode, double plain_mbps, const bench::StageTimes& t,
                        uint64_t stream_bytes) {
  std::vector<std::pair<std::string, double>> decoder;
  if (kit::has_encryption(mode.format)) {
    decoder.emplace_back("HMAC-SHA-512", rate(stream_bytes, t.hmac.wall));
    decoder.emplace_back("AES", rate(stream_bytes, t.aes.wall));
  }
  if (kit::has_compression(mode.format)) {
    decoder.emplace_back("inflate", rate(stream_bytes, t.fast_inflate.wall));
  }
  return std::min(plain_mbps, ideal_of(decoder));
}

// Two threads that share the decoding as the writer does: the sender plays
// the stream, the decoder authenticates in file order, and decryption and
// inflation go to whichever is free, so the pace is set by the sender, the
// authentication, or the whole work halved, whichever is slowest.
double shared_decoding_bound(const Mode& mode, double plain_mbps, const bench::StageTimes& t,
                             uint64_t stream_bytes) {
  auto seconds_per_mb = [](double mbps) { return mbps > 0 ? 1 / mbps : 0; };
  const double send = seconds_per_mb(plain_mbps);
  double in_order = 0;
  double shared = 0;
  if (kit::has_encryption(mode.format)) {
    in_order += seconds_per_mb(rate(stream_bytes, t.hmac.wall));
    shared += seconds_per_mb(rate(stream_bytes, t.aes.wall));
  }
  if (kit::has_compression(mode.format)) {
    shared += seconds_per_mb(rate(stream_bytes, t.fast_inflate.wall));
  }
  const double pace = std::max({send, in_order, (send + in_order + shared) / 2});
  return pace > 0 ? 1 / pace : 0;
}

double target_of(const Mode& mode) {
  return kit::has_compression(mode.format) ? kTargetCompressed : kTargetEncrypted;
}

void print_load_average(const char* when) {
  std::string text;
  std::string error;
  kit::read_file("/proc/loadavg", text, error);
  printf("load average %s: %s", when, text.empty() ? "unknown\n" : text.c_str());
}

// One mode's runs in one round, back to back so that they meet the same
// load: the plain set's writer, the mode's writer, the mode's stages alone.
// False with `error` when a run fails or the stages decode another stream
// than was generated (checked in the first round).
bool run_mode_round(const bench::PlaybackOptions& options, const std::string& previous,
                    const bench::DumpSet& plain, const Mode& mode, const bench::DumpSet& set,
                    bool first_round, uint32_t stream_crc, const std::string& log,
                    PlainRuns& plain_runs, ModeResults& results, std::string& error) {
  bench::WriterRun plain_run;
  bench::WriterRun plain_one_thread;
  bench::WriterRun run;
  bench::WriterRun one_thread;
  bench::WriterRun earlier;
  bench::StageTimes t;
  if (!bench::run_writer(options.writer, plain, log, plain_run, error) ||
      !bench::run_writer(options.writer, plain, log, plain_one_thread, error, true) ||
      !bench::run_writer(options.writer, set, log, run, error) ||
      !bench::run_writer(options.writer, set, log, one_thread, error, true) ||
      (!previous.empty() && !bench::run_writer(previous, set, log, earlier, error)) ||
      !bench::time_stages(set, first_round, t, error)) {
    return false;
  }
  if (first_round && t.stream_crc != stream_crc) {
    error = std::string(mode.name) + ": the stages decoded another stream";
    return false;
  }
  plain_runs.two_threads.add(plain_run.delivery);
  plain_runs.one_thread.add(plain_one_thread.delivery);
  results.writer.add(run.delivery);
  results.one_thread.add(one_thread.delivery);
  if (!previous.empty()) results.previous.add(earlier.delivery);
  results.peak_rss_kib = std::max(results.peak_rss_kib, run.peak_rss_kib);
  results.add_stages(t);
  const double ideal = ideal_of(stage_rates(mode, plain_one_thread.delivery.mbps(), t, set.bytes));
  results.paired_ratios.push_back(ideal > 0 ? run.delivery.mbps() / ideal : 0);
  char earlier_text[48] = "";
  if (!previous.empty()) {
    snprintf(earlier_text, sizeof earlier_text, ", previous %.1f", earlier.delivery.mbps());
  }
  printf(
      "  %-*s %.1f MB/s (one thread %.1f%s), ideal %.1f MB/s (plain, one thread %.1f), ratio "
      "%.3f\n",
      kNameWidth, mode.name, run.delivery.mbps(), one_thread.delivery.mbps(), earlier_text, ideal,
      plain_one_thread.delivery.mbps(), results.paired_ratios.back());
  return true;
}

// Every mode in every round, each round starting one mode further along.
bool run_rounds(const bench::PlaybackOptions& options, const std::string& previous,
                const std::vector<bench::DumpSet>& sets, uint32_t stream_crc,
                const std::string& log, PlainRuns& plain_runs, std::vector<ModeResults>& results,
                std::string& error) {
  for (uint32_t round = 0; round < options.rounds; ++round) {
    printf("round %u:\n", round + 1);
    for (size_t turn = 0; turn < kModeCount; ++turn) {
      const size_t m = (turn + round) % kModeCount;
      if (!run_mode_round(options, previous, sets[0], kModes[m], sets[1 + m], round == 0,
                          stream_crc, log, plain_runs, results[m], error)) {
        return false;
      }
    }
  }
  return true;
}

// One mode against its two ideals, the earlier writer and the memory target.
void report_mode(const Mode& mode, const ModeResults& r, const PlainRuns& plain_runs,
                 uint64_t stream_bytes) {
  printf("== %s: %llu bytes stored in %llu chunks\n", mode.name,
         static_cast<unsigned long long>(r.least.stored_bytes),
         static_cast<unsigned long long>(r.least.chunks));
  const double plain = best_of(plain_runs.two_threads.mbps);
  auto stages = stage_rates(mode, best_of(plain_runs.one_thread.mbps), r.least, stream_bytes);
  const double ideal = ideal_of(stages);
  const double ideal2 = two_thread_ideal(mode, plain, r.least, stream_bytes);
  const double balanced = shared_decoding_bound(mode, plain, r.least, stream_bytes);
  if (kit::has_compression(mode.format)) {
    stages.emplace_back("writer's inflater", rate(stream_bytes, r.least.fast_inflate.wall));
  }
  printf("  stages alone, MB/s of stream (best):");
  const char* separator = " ";
  for (const auto& [name, mbps] : stages) {
    printf("%s%s %.1f", separator, name.c_str(), mbps);
    separator = ", ";
  }
  printf(
      "\n  ideals: one thread (zlib, 1/sum(1/stage)) %.1f MB/s; two threads (the slower of the "
      "sender's plain playback, %.1f, and the decoder's stages) %.1f MB/s\n",
      ideal, plain, ideal2);
  r.writer.print("  brix_writer", kNameWidth);
  r.one_thread.print("  one thread", kNameWidth);
  if (!r.previous.empty()) r.previous.print("  previous", kNameWidth);
  const double best = best_of(r.writer.mbps);
  const double ratio = ideal > 0 ? best / ideal : 0;
  const double ratio2 = ideal2 > 0 ? best / ideal2 : 0;
  printf(
      "  %s throughput: best %.3f of the one-thread ideal, target at least %.1f (paired rounds: "
      "best %.3f, median %.3f)\n",
      ratio >= target_of(mode) ? "PASS" : "FAIL", ratio, target_of(mode), best_of(r.paired_ratios),
      median_of(r.paired_ratios));
  printf("  %s throughput: best %.3f of the two-thread ideal, target at least %.1f\n",
         ratio2 >= kTargetTwoThreads ? "PASS" : "FAIL", ratio2, kTargetTwoThreads);
  printf(
      "  (for information: best %.3f of %.1f MB/s, the bound of two threads sharing the "
      "decoding)\n",
      balanced > 0 ? best / balanced : 0, balanced);
  if (!r.previous.empty()) {
    const double kept = best_of(r.one_thread.mbps) / best_of(r.previous.mbps);
    printf("  %s one thread against the previous writer: best ratio %.3f, target at least 1.00\n",
           kept >= 1.0 ? "PASS" : "FAIL", kept);
  }
  printf("  %s memory: peak RSS %ld KiB, target at most %ld KiB\n",
         r.peak_rss_kib <= kTargetPeakRssKiB ? "PASS" : "FAIL", r.peak_rss_kib, kTargetPeakRssKiB);
}

}  // namespace

int main(int argc, char** argv) {
  bench::PlaybackOptions options{1024 * kMiB, 4, 3, BRIX_WRITER_PATH};
  std::string previous;
  int status = 0;
  if (!parse_options(argc, argv, options, previous, status)) return status;
  setvbuf(stdout, nullptr, _IOLBF, 0);
  signal(SIGPIPE, SIG_IGN);  // a vanished reader shows as a failed write
  print_load_average("at the start");

  kit::TempDir dir;
  if (dir.path().empty()) return fail("cannot make a temporary directory");
  const std::string log = dir.file("writer.log");
  std::string error;

  // One stream, stored once plain and once per mode.
  bench::CorpusFill corpus(kCorpusSeed);
  uLong stream_crc = crc32(0, Z_NULL, 0);
  const bench::BlockEdit edit = [&](kit::Block& b) {
    corpus.next(b);
    stream_crc = crc32(stream_crc, b.bytes, sizeof b.bytes);
  };
  std::vector<bench::DumpSet> sets;
  if (!bench::make_sets(set_plans(dir), options.set_bytes, options.files, edit, sets, error)) {
    return fail(error);
  }
  for (const bench::DumpSet& set : sets) {
    double resident = 0;
    if (!bench::warm_page_cache(set, resident, error)) return fail(error);
    printf("set %-13s %llu stream bytes in %zu files, %.1f%% in the page cache\n",
           (set.prefix.substr(dir.path().size() + 1) + ":").c_str(),
           static_cast<unsigned long long>(set.bytes), set.files.size(), resident * kPercent);
  }
  describe_corpus(corpus.counts(), sets[1]);
  printf("compressed+encrypted sets: AES-128 (mode 1) and AES-256 (mode 3)\n");

  PlainRuns plain_runs;
  std::vector<ModeResults> results(kModeCount);
  if (!run_rounds(options, previous, sets, static_cast<uint32_t>(stream_crc), log, plain_runs,
                  results, error)) {
    return fail(error);
  }
  plain_runs.two_threads.print("plain playback", kNameWidth);
  plain_runs.one_thread.print("plain, one thread", kNameWidth);
  printf("(a child forked by this benchmark is charged at least %ld KiB before it runs)\n",
         bench::launch_floor_kib());
  for (size_t m = 0; m < kModeCount; ++m)
    report_mode(kModes[m], results[m], plain_runs, sets[1 + m].bytes);
  print_load_average("at the end");
  return 0;
}
