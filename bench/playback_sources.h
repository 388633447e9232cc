// The two sources the playback benchmarks compare: the real writer playing
// the set from the page cache, and a baseline child writing the same bytes
// from memory. Each run plays the whole set to the benchmark's reader.
#ifndef BENCH_PLAYBACK_SOURCES_H
#define BENCH_PLAYBACK_SOURCES_H

#include <string>

#include "playback_reader.h"
#include "playback_set.h"

namespace bench {

struct WriterRun {
  Delivery delivery;
  long peak_rss_kib = 0;  // the writer's ru_maxrss when it was reaped
};

// Runs the writer program on the set, with its output going to `log` and
// the set's password (if any) on its standard input, and plays its
// destination on the writer's port; with `one_thread`, the writer reads in
// place (BRIX_DECODE_THREAD=0). False with `error` (and the writer's output)
// unless the whole stream came and the writer exited 0.
bool run_writer(const std::string& program, const DumpSet& set, const std::string& log,
                WriterRun& run, std::string& error, bool one_thread = false);

// Peak memory charged to a child forked here that exits at once: the least
// any child of the benchmark is charged. A writer's figure above it is the
// writer's own.
long launch_floor_kib();

// Forks a child that loads the set into memory, listens on an ephemeral
// loopback port, answers the negotiation and writes every block with one
// write(), as the writer does; the benchmark's reader receives it.
bool run_baseline(const DumpSet& set, Delivery& delivery, std::string& error);

}  // namespace bench

#endif  // BENCH_PLAYBACK_SOURCES_H
