// The dump set the playback benchmark plays: a generated stream written as a
// plain dump set block by block, warmed into the page cache, and loaded into
// memory for the baseline source.
#ifndef BENCH_PLAYBACK_SET_H
#define BENCH_PLAYBACK_SET_H

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

struct DumpSet {
  std::string prefix;
  std::vector<std::string> files;  // in the order the writer reads them
  uint64_t bytes = 0;
};

// A well-formed stream of `bytes` (rounded down to blocks) in `files` plain
// dump files "<prefix>.0", "<prefix>.1", ...
bool make_set(const std::string& prefix, uint64_t bytes, uint32_t files, DumpSet& set,
              std::string& error);
// Reads every file once, so that the writer finds the set in the page cache;
// `resident` receives the share of its pages that are there afterwards.
bool warm_page_cache(const DumpSet& set, double& resident, std::string& error);
// The whole set in memory, as the baseline source sends it.
bool load_set(const DumpSet& set, std::vector<char>& bytes);

}  // namespace bench

#endif  // BENCH_PLAYBACK_SET_H
