// Interruption at many points of a transfer, followed by the restart the
// destination would ask for (the point of the last header it received), for
// a plain, a compressed and a compressed+encrypted set of several files and
// two side cases: destination hang-ups at every header and at a fixed random
// sample of blocks (some restarts cut short once more), and SIGKILLs of the
// writer at random moments. The sanitizer build and valgrind take smaller
// samples; with BRIX_RESTART_SWEEP=full (make check-restarts) every block
// position is tried. Each set prints how often each outcome came up.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "kit/temp_dir.h"
#include "rehearsal/rng.h"
#include "restart_trial.h"

namespace {

using restarts::Expectation;
using restarts::Interruption;
using restarts::Outcome;
using restarts::RunPlan;
using restarts::SetRecipe;
using restarts::StoredSet;
using restarts::Trial;

const char kPassword[] = "restart sweep password";
constexpr uint64_t kLargeSet = 1000;  // blocks
constexpr double kShortestKillDelayUs = 20;

// How much of a set is tried.
struct Depth {
  bool every_block = false;         // every block position instead of the headers
  uint32_t most_header_trials = 0;  // headers to try; evenly spread when the set has more
  uint32_t random_hang_ups = 0;     // half of them restart into a second hang-up
  uint32_t random_kills = 0;        // half of them restart into a second kill
};

// How much of `recipe` is tried. Large sets (thousands of blocks) get every
// header in the full sweep instead of every block; they and the side cases
// get a small sample in `make check`, where the others get every header (an
// even spread of 40 in the sanitizer build).
Depth depth(const SetRecipe& recipe, bool side_case) {
  const bool large = recipe.shape.total_blocks > kLargeSet;
  const char* sweep = getenv("BRIX_RESTART_SWEEP");
  if (sweep != nullptr && strcmp(sweep, "full") == 0) {
    return Depth{!large, UINT32_MAX, 300, 400};
  }
  // Under a memory checker every writer run costs a second or more.
  if (getenv("BRIX_WRITER_WRAPPER") != nullptr) {
    return large || side_case ? Depth{false, 1, 0, 1} : Depth{false, 2, 1, 1};
  }
#ifdef BRIX_RESTART_SWEEP_SANITIZED
  return large || side_case ? Depth{false, 4, 2, 3} : Depth{false, 40, 10, 8};
#else
  return large || side_case ? Depth{false, 8, 2, 4} : Depth{false, UINT32_MAX, 20, 12};
#endif
}

SetRecipe sweep_set(const char* name, kit::DumpFormat format, uint64_t seed, uint64_t blocks,
                    uint32_t headers_per_sync,
                    std::vector<std::vector<uint64_t>> files_per_prefix) {
  SetRecipe s;
  s.name = name;
  s.format = format;
  s.shape.seed = seed;
  s.shape.total_blocks = blocks;
  s.shape.headers_per_sync = headers_per_sync;
  s.files_per_prefix = std::move(files_per_prefix);
  s.container.password = kit::has_encryption(format) ? kPassword : "";
  return s;
}

SetRecipe plain_set() {
  // Two prefixes, four files; tree-phase points too.
  SetRecipe s = sweep_set("plain", kit::DumpFormat::plain, 61, 300, 8, {{70, 80}, {75}});
  s.tree_points = true;
  return s;
}

SetRecipe compressed_set() {
  SetRecipe s = sweep_set("compressed", kit::DumpFormat::compressed, 62, 300, 3, {{80, 70, 85}});
  s.nonzero_every = 2;
  return s;
}

SetRecipe compressed_encrypted_set() {
  SetRecipe s = sweep_set("compressed+encrypted", kit::DumpFormat::compressed_encrypted, 63, 300, 3,
                          {{90}, {70, 80}});
  s.container.mode = 2;
  s.tree_points = true;
  s.nonzero_every = 2;
  return s;
}

// Encrypted only, chunks of 16 blocks cut wherever the headers fall (not at
// new points, as the capture tool would): every header that opens a point
// lies somewhere inside its chunk and reads that chunk again from its start.
SetRecipe headers_inside_chunks_set() {
  SetRecipe s = sweep_set("encrypted, headers inside chunks", kit::DumpFormat::encrypted, 65, 300,
                          3, {{100, 90}});
  s.container.close_before_new_sync = false;
  s.nonzero_every = 1;
  return s;
}

// Encrypted only, one block per chunk: the first file's table needs a second
// chunk header (2048 chunks in the first, 352 in the second), so restarts
// also resume under it. Every header that opens a point re-reads its own
// chunk: with one-block chunks the next chunk would mostly be data.
SetRecipe one_block_chunks_set() {
  SetRecipe s =
      sweep_set("encrypted, one-block chunks", kit::DumpFormat::encrypted, 64, 2500, 6, {{2400}});
  s.container.mode = 3;
  s.container.max_chunk_blocks = 1;
  s.nonzero_every = 1;
  return s;
}

struct Tally {
  uint64_t interruptions = 0;
  uint64_t chained = 0;                                  // restarts that were themselves cut short
  std::array<uint64_t, restarts::kOutcomes> outcomes{};  // of every restart
};

void report(const std::string& set, const char* kind, const Tally& t, double seconds) {
  printf("[ sweep    ] %s, %s: %llu interruptions (%llu of restarted runs) in %.1f s; restarts:",
         set.c_str(), kind, static_cast<unsigned long long>(t.interruptions),
         static_cast<unsigned long long>(t.chained), seconds);
  for (int o = 0; o < restarts::kOutcomes; o++) {
    if (t.outcomes[o] > 0) {
      printf(" %s %llu,", restarts::outcome_name(static_cast<Outcome>(o)),
             static_cast<unsigned long long>(t.outcomes[o]));
    }
  }
  printf("\n");
  fflush(stdout);
}

class RestartSweep : public testing::Test {
 protected:
  kit::TempDir dir;
  StoredSet set;
  kit::Rng rng{2024};

  void store(const SetRecipe& recipe) { ASSERT_EQ(set.store(dir.path(), recipe), ""); }

  // The restart the destination asks for next, run to its end.
  void restart(Trial& trial, Tally& tally) {
    std::optional<Expectation> e = trial.expect();
    if (!e) return;
    tally.outcomes[static_cast<int>(e->outcome)]++;
    trial.run(*e, RunPlan());
  }

  // A fresh transfer cut short by a hang-up after `after` stream blocks,
  // then the restart; with `again`, that restart is cut short too at a
  // random block and restarted once more.
  void hang_up_trial(Trial& trial, uint64_t after, bool again, Tally& tally) {
    SCOPED_TRACE("a fresh transfer hung up after " + std::to_string(after) + " blocks");
    trial.reset();
    std::optional<Expectation> e = trial.expect();
    if (!e) return;
    trial.run(*e, RunPlan{Interruption::hang_up, after, 0});
    tally.interruptions++;
    if (again) {
      e = trial.expect();
      if (!e) return;
      tally.outcomes[static_cast<int>(e->outcome)]++;
      if (!e->reaches_ack()) {
        trial.run(*e, RunPlan());
        return;
      }
      const uint64_t second = rng.below(static_cast<uint32_t>(e->blocks() + 1));
      SCOPED_TRACE("its restart from point " + std::to_string(e->point) + " hung up after " +
                   std::to_string(second) + " blocks");
      trial.run(*e, RunPlan{Interruption::hang_up, second, 0});
      tally.interruptions++;
      tally.chained++;
    }
    restart(trial, tally);
  }

  void sweep_hang_ups(bool side_case = false) {
    const Depth d = depth(set.recipe(), side_case);
    const auto start = std::chrono::steady_clock::now();
    Trial trial(set);
    Tally tally;
    const uint64_t last = set.stream().size() - 1;  // all blocks, then no acknowledgement
    if (d.every_block) {
      for (uint64_t after = 0; after <= last && !HasFailure(); after++) {
        hang_up_trial(trial, after, false, tally);
      }
    } else {
      // Just after a header (the block that makes it the destination's point).
      const size_t headers = set.headers().size() - 1;  // the reply's start header aside
      const size_t trials = std::max<size_t>(1, std::min<size_t>(headers, d.most_header_trials));
      const size_t stride = (headers + trials - 1) / trials;
      for (size_t i = 1; i <= headers && !HasFailure(); i += stride) {
        hang_up_trial(trial, set.headers()[i], false, tally);
      }
    }
    for (uint32_t k = 0; k < d.random_hang_ups && !HasFailure(); k++) {
      hang_up_trial(trial, rng.below(static_cast<uint32_t>(last + 1)), k % 2 == 0, tally);
    }
    report(set.recipe().name, "hang-up", tally, seconds_since(start));
    printf(
        "[ sweep    ] %s: the hung-up writer ran up to %u points ahead of the destination; "
        "%llu restarts resumed under a later chunk header\n",
        set.recipe().name.c_str(), trial.most_run_ahead(),
        static_cast<unsigned long long>(trial.resumed_under_later_chunk_headers()));
  }

  void sweep_kills(bool side_case) {
    const Depth d = depth(set.recipe(), side_case);
    const auto start = std::chrono::steady_clock::now();
    Trial trial(set);
    Tally tally;
    // A whole transfer first: kills are timed within about its length.
    trial.reset();
    std::optional<Expectation> e = trial.expect();
    if (!e) return;
    const double whole = trial.run(*e, RunPlan()).seconds;
    uint64_t finished_first = 0;
    for (uint32_t k = 0; k < d.random_kills && !HasFailure(); k++) {
      trial.reset();
      e = trial.expect();
      if (!e) return;
      if (!trial.run(*e, random_kill(whole)).cut_short) {
        finished_first++;
        continue;
      }
      tally.interruptions++;
      e = trial.expect();
      if (!e) return;
      tally.outcomes[static_cast<int>(e->outcome)]++;
      RunPlan again;
      if (k % 2 == 0 && e->reaches_ack()) {
        // The restart is killed too, within its share of the stream.
        again = random_kill(whole * static_cast<double>(e->blocks()) / set.stream().size());
      }
      if (!trial.run(*e, again).cut_short) continue;
      tally.interruptions++;
      tally.chained++;
      restart(trial, tally);
    }
    report(set.recipe().name, "SIGKILL", tally, seconds_since(start));
    printf("[ sweep    ] %s: %llu writers finished before their SIGKILL\n",
           set.recipe().name.c_str(), static_cast<unsigned long long>(finished_first));
  }

  // A SIGKILL at a random moment of a transfer that the destination sees
  // take `seconds`, counted from the reply. The moments are spread evenly on
  // a log scale: a writer far ahead of its destination is done sending long
  // before the destination is done receiving.
  RunPlan random_kill(double seconds) {
    const double uniform = static_cast<double>(rng.next() >> 11) * 0x1.0p-53;
    const double span_us = std::max(seconds * 1e6, kShortestKillDelayUs);
    const double delay_us =
        kShortestKillDelayUs * std::pow(span_us / kShortestKillDelayUs, uniform);
    return RunPlan{Interruption::kill, 0, static_cast<int>(delay_us)};
  }

  static double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
};

TEST_F(RestartSweep, PlainSetResumesAtTheCheckpointedHeaderAfterEveryHangUp) {
  ASSERT_NO_FATAL_FAILURE(store(plain_set()));
  sweep_hang_ups();
}

TEST_F(RestartSweep, CompressedSetResumesAtTheChunkTheRulesNameAfterEveryHangUp) {
  ASSERT_NO_FATAL_FAILURE(store(compressed_set()));
  sweep_hang_ups();
}

TEST_F(RestartSweep, CompressedEncryptedSetResumesAtTheChunkTheRulesNameAfterEveryHangUp) {
  ASSERT_NO_FATAL_FAILURE(store(compressed_encrypted_set()));
  sweep_hang_ups();
}

TEST_F(RestartSweep, EncryptedSetUnderTwoChunkHeadersResumesAtTheChunkTheRulesName) {
  ASSERT_NO_FATAL_FAILURE(store(one_block_chunks_set()));
  sweep_hang_ups();
}

TEST_F(RestartSweep, EncryptedSetWithHeadersInsideChunksRereadsTheirChunksFromTheStart) {
  ASSERT_NO_FATAL_FAILURE(store(headers_inside_chunks_set()));
  sweep_hang_ups(true);
}

TEST_F(RestartSweep, KilledWriterOfEachSetRestartsOrRefusesCleanly) {
  for (const SetRecipe& recipe : {plain_set(), compressed_set(), compressed_encrypted_set(),
                                  one_block_chunks_set(), headers_inside_chunks_set()}) {
    ASSERT_NO_FATAL_FAILURE(store(recipe));
    sweep_kills(recipe.name == headers_inside_chunks_set().name);
    if (HasFailure()) return;
  }
}

// Chunks cut wherever the headers fall can hold several points. A header
// whose checkpoint resumes with the next chunk must not move the chunk that a
// later checkpoint from the same chunk names.
TEST_F(RestartSweep, SecondCheckpointFromOneChunkStillNamesThatChunk) {
  SetRecipe recipe =
      sweep_set("two points in a chunk", kit::DumpFormat::compressed_encrypted, 66, 160, 1, {{}});
  recipe.container.close_before_new_sync = false;
  recipe.nonzero_every = 2;  // openings alternate: a non-zero data word, then a zero one
  ASSERT_NO_FATAL_FAILURE(store(recipe));
  const kit::Stream& s = set.stream();
  const uint32_t end_point = kit::sync_num(s.back());
  // The last point whose opening header re-reads its chunk, which begins
  // with a header, after an earlier header of that chunk opened a point that
  // resumes with the next chunk.
  uint32_t point = 0;
  for (size_t i = 1; i < set.headers().size(); i++) {
    const size_t h = set.headers()[i];
    const uint32_t p = kit::sync_num(s[h]);
    const size_t chunk_start = set.resume_block(h, p);
    if (p == kit::sync_num(s[set.headers()[i - 1]]) || chunk_start > h ||
        !set.header_at(chunk_start)) {
      continue;
    }
    for (size_t j = i - 1; j > 0 && set.headers()[j] >= chunk_start; j--) {
      const size_t earlier = set.headers()[j];
      const uint32_t q = kit::sync_num(s[earlier]);
      const bool opens = q != kit::sync_num(s[set.headers()[j - 1]]);
      if (opens && set.resume_block(earlier, q) > earlier) point = p;
    }
  }
  ASSERT_GT(point, end_point - 10) << "its checkpoint file would rotate away";

  Trial trial(set);
  trial.reset();
  std::optional<Expectation> e = trial.expect();
  ASSERT_TRUE(e);
  trial.run(*e, RunPlan{Interruption::hang_up, s.size() - 1, 0});  // every checkpoint made
  trial.ask_for(point);
  e = trial.expect();
  ASSERT_TRUE(e);
  ASSERT_EQ(e->outcome, Outcome::resumed);
  trial.run(*e, RunPlan());
}

// The destination names a point no run reached: 0 is a transfer from the
// start whatever files exist; a tree-phase point without a file starts a
// plain set over from its first block and is refused for a container.
TEST_F(RestartSweep, PointWithoutACheckpointFileStartsOverOrIsRefused) {
  const uint32_t kTreePointWithoutFile = 57;
  for (const SetRecipe& recipe : {plain_set(), compressed_set(), compressed_encrypted_set()}) {
    ASSERT_NO_FATAL_FAILURE(store(recipe));
    Trial trial(set);
    trial.reset();
    std::optional<Expectation> e = trial.expect();
    ASSERT_TRUE(e);
    trial.run(*e, RunPlan{Interruption::hang_up, set.stream().size() / 2, 0});
    for (uint32_t point : {0u, kTreePointWithoutFile}) {
      trial.ask_for(point);
      e = trial.expect();
      ASSERT_TRUE(e);
      EXPECT_EQ(e->outcome, point == 0                                ? Outcome::fresh
                            : recipe.format == kit::DumpFormat::plain ? Outcome::started_over
                                                                      : Outcome::refused);
      trial.run(*e, RunPlan());
    }
  }
}

}  // namespace
