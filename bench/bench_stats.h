// The playback benchmarks' rounds: each source's MB/s and CPU time per GiB,
// and the best, least and median of them. A shared machine only ever slows
// a round down, so the best round is the fairest figure.
#ifndef BENCH_BENCH_STATS_H
#define BENCH_BENCH_STATS_H

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "playback_reader.h"

namespace bench {

constexpr double kBytesPerGiB = 1024.0 * 1024 * 1024;

inline double best_of(const std::vector<double>& v) {
  return *std::max_element(v.begin(), v.end());
}
inline double least_of(const std::vector<double>& v) {
  return *std::min_element(v.begin(), v.end());
}

inline double median_of(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t mid = v.size() / 2;
  return v.size() % 2 ? v[mid] : (v[mid - 1] + v[mid]) / 2;
}

// The rounds of one source. Delivery is bound by the source's CPU, so its
// CPU time per GiB says where a difference comes from.
struct Series {
  std::vector<double> mbps;
  std::vector<double> cpu_per_gib;         // the source's, all its threads
  std::vector<double> reader_cpu_per_gib;  // the destination's

  bool empty() const { return mbps.empty(); }
  void add(const Delivery& d) {
    const double gib = static_cast<double>(d.stream_bytes) / kBytesPerGiB;
    mbps.push_back(d.mbps());
    cpu_per_gib.push_back(d.source_cpu / gib);
    reader_cpu_per_gib.push_back(d.reader_cpu / gib);
  }
  // One line, the name padded to `width` columns.
  void print(const std::string& name, int width) const {
    printf(
        "%-*s best %.1f MB/s, median %.1f MB/s; CPU per GiB: source least %.3f s, median %.3f s, "
        "destination median %.3f s\n",
        width, (name + ":").c_str(), best_of(mbps), median_of(mbps), least_of(cpu_per_gib),
        median_of(cpu_per_gib), median_of(reader_cpu_per_gib));
  }
};

}  // namespace bench

#endif  // BENCH_BENCH_STATS_H
