// The destination of the playback benchmark: one reader for the writer and
// the baseline source alike, so that both are measured the same way.
#ifndef BENCH_PLAYBACK_READER_H
#define BENCH_PLAYBACK_READER_H

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "rehearsal/dest_connection.h"

namespace bench {

// What the reader saw of one playback.
struct Delivery {
  bool ok = false;
  std::string error;
  uint64_t stream_bytes = 0;  // after the reply, the end-of-stream header included
  double seconds = 0;         // from the reply to the end-of-stream header
  double source_cpu = 0;      // CPU seconds the source process ran meanwhile, all its threads
  double reader_cpu = 0;      // CPU seconds the receiving destination ran meanwhile
  double mbps() const;
};

// Negotiates over `conn`, takes the reply, receives the rest of a set of
// `set_bytes` in large reads without keeping it, checks that the last block
// is the end-of-stream header, and acknowledges. `source` is the sending
// process, whose CPU time is taken over the same span.
Delivery receive_playback(kit::DestinationConnection& conn, pid_t source, uint64_t set_bytes);

}  // namespace bench

#endif  // BENCH_PLAYBACK_READER_H
