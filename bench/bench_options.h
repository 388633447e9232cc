// The command line the playback benchmarks share: the set's size and file
// count, the rounds, the writer to measure, help; and the options each one
// adds of its own.
#ifndef BENCH_BENCH_OPTIONS_H
#define BENCH_BENCH_OPTIONS_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace bench {

struct PlaybackOptions {
  uint64_t set_bytes = 0;  // stream bytes of the set
  uint32_t files = 0;      // dump files per set
  uint32_t rounds = 0;     // rounds of every run
  std::string writer;      // the writer to measure: another build, to compare a change
};

// An option of one benchmark: "--name", with a value or without; `apply`
// takes the value (null without one) and is false when it is bad.
struct ExtraOption {
  const char* name;
  bool takes_value;
  std::function<bool(const char* value)> apply;
};

// Parses --size, --files, --rounds, --writer, -h/--help and the extras into
// `o`, whose fields hold the defaults. False when the program should stop at
// once, with `status` its exit status: 0 after --help (`usage` printed), 2
// on a bad command line (`usage` or the bad value named, after `program`).
bool parse_playback_options(int argc, char** argv, const char* program, const char* usage,
                            const std::vector<ExtraOption>& extras, PlaybackOptions& o,
                            int& status);

}  // namespace bench

#endif  // BENCH_BENCH_OPTIONS_H
