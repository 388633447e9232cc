// The dump sets the playback benchmarks play: a generated stream written as
// one or more dump sets (plain or containers) block by block, warmed into
// the page cache, and loaded into memory for the baseline source.
#ifndef BENCH_PLAYBACK_SET_H
#define BENCH_PLAYBACK_SET_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "rehearsal/block.h"
#include "rehearsal/dump_format.h"

namespace bench {

struct DumpSet {
  std::string prefix;
  std::vector<std::string> files;  // in the order the writer reads them
  uint64_t bytes = 0;              // stream bytes it holds
  kit::DumpFormat format = kit::DumpFormat::plain;
  std::string password;       // encrypted sets: the writer is given it on its standard input
  uint64_t stored_bytes = 0;  // containers: their chunks as stored, in all files
  // What each file holds, without its list of chunks: a forked writer would
  // be charged for that list (see MappedBuffer). The chunk table is in the file.
  std::vector<kit::DumpFileInfo> file_info;
};

// How one set of the stream is stored.
struct SetPlan {
  std::string prefix;
  kit::DumpFormat format = kit::DumpFormat::plain;
  kit::ContainerOptions container;  // containers only
};

// Sees every block of the stream in order before it is stored, and may
// change its content.
using BlockEdit = std::function<void(kit::Block&)>;

// A well-formed stream of `bytes` (rounded down to blocks), passed through
// `edit` when it is set, and stored once per plan in `files` dump files
// "<prefix>.0", "<prefix>.1", ...; `sets` receives them in the plans' order.
bool make_sets(const std::vector<SetPlan>& plans, uint64_t bytes, uint32_t files,
               const BlockEdit& edit, std::vector<DumpSet>& sets, std::string& error);
// One plain set of the generated stream as it is generated.
bool make_set(const std::string& prefix, uint64_t bytes, uint32_t files, DumpSet& set,
              std::string& error);
// Reads every file once, so that the writer finds the set in the page cache;
// `resident` receives the share of its pages that are there afterwards.
bool warm_page_cache(const DumpSet& set, double& resident, std::string& error);
// The whole set in memory, as the baseline source sends it (plain sets).
bool load_set(const DumpSet& set, std::vector<char>& bytes);

}  // namespace bench

#endif  // BENCH_PLAYBACK_SET_H
