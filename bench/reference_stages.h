// The stages of container playback done alone, on the same stored chunks
// the writer reads: OpenSSL's HMAC-SHA-512 and AES (ECB over the counter
// blocks, then XOR), zlib's uncompress, and the writer's own inflater, each
// timed by itself. They give the rate a thread could reach if it did
// nothing else.
#ifndef BENCH_REFERENCE_STAGES_H
#define BENCH_REFERENCE_STAGES_H

#include <cstdint>
#include <string>

#include "playback_set.h"

namespace bench {

// Seconds one stage took over a whole set: elapsed, and the CPU time of the
// thread that did it, which a busy machine does not add to.
struct StageTime {
  double wall = 0;
  double cpu = 0;
};

// Each stage's time; zero for a stage the set's format does not use.
struct StageTimes {
  StageTime hmac;
  StageTime aes;
  StageTime inflate;          // zlib's uncompress
  StageTime fast_inflate;     // the writer's inflater
  uint64_t stored_bytes = 0;  // of the data areas: what the crypto stages process
  uint64_t chunks = 0;
  uint32_t stream_crc = 0;  // CRC-32 of the decoded stream, when asked for
};

// Reads the container set's chunks one at a time (untimed, from the page
// cache), checks each file's digest, and passes every chunk through the
// stages its format uses, in the writer's order: HMAC, AES, uncompress.
// With `with_crc`, also the CRC-32 of everything decoded (untimed), to show
// that the stages worked on the right bytes. Runs in a child process so
// that the libraries' state never becomes part of the benchmark's memory,
// which forked writers are charged for.
bool time_stages(const DumpSet& set, bool with_crc, StageTimes& times, std::string& error);

}  // namespace bench

#endif  // BENCH_REFERENCE_STAGES_H
