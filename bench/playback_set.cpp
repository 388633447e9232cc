// Generating, warming and loading the benchmarks' dump sets.
#include "playback_set.h"

#include <fcntl.h>
#include <malloc.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <utility>

#include "bench_support.h"
#include "rehearsal/dump_writer.h"
#include "rehearsal/stream_gen.h"

namespace bench {

namespace {

// Files of a few MiB, as on a real volume: headers and checkpoints are then
// the small part of the stream they are in practice.
constexpr uint32_t kMinFileBlocks = 256;
constexpr uint32_t kMaxFileBlocks = 4096;
constexpr size_t kWarmBufferSize = 1 << 20;

// Share of the file's pages in the page cache: resident and total pages are
// added to the counts.
void count_resident(int fd, size_t length, uint64_t& resident, uint64_t& pages) {
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  void* map = mmap(nullptr, length, PROT_READ, MAP_SHARED, fd, 0);
  if (map == MAP_FAILED) return;
  std::vector<unsigned char> flags((length + page - 1) / page);
  if (mincore(map, length, flags.data()) == 0) {
    pages += flags.size();
    for (unsigned char f : flags) resident += f & 1;
  }
  munmap(map, length);
}

}  // namespace

bool make_sets(const std::vector<SetPlan>& plans, uint64_t bytes, uint32_t files,
               const BlockEdit& edit, std::vector<DumpSet>& sets, std::string& error) {
  kit::StreamShape shape;
  shape.total_blocks = bytes / LR_BLOCK_SIZE;
  shape.min_file_blocks = kMinFileBlocks;
  shape.max_file_blocks = kMaxFileBlocks;
  kit::StreamGenerator generator(shape);
  const uint64_t per_file = (shape.total_blocks + files - 1) / files;
  std::vector<std::unique_ptr<kit::DumpSetWriter>> writers;
  for (const SetPlan& plan : plans) {
    kit::DumpSetLayout layout = kit::even_layout(plan.prefix, shape.total_blocks, per_file);
    kit::set_format(layout, plan.format);
    layout.container = plan.container;
    writers.push_back(std::make_unique<kit::DumpSetWriter>(std::move(layout)));
  }
  kit::Block block;
  while (generator.next(block)) {
    if (edit) edit(block);
    for (size_t i = 0; i < writers.size(); ++i) {
      if (!writers[i]->add(block)) {
        error = plans[i].prefix + ": " + writers[i]->result().error;
        return false;
      }
    }
  }
  sets.clear();
  for (size_t i = 0; i < plans.size(); ++i) {
    kit::DumpSetWriter& writer = *writers[i];
    if (!writer.finish()) {
      error = plans[i].prefix + ": " + writer.result().error;
      return false;
    }
    DumpSet set;
    set.prefix = plans[i].prefix;
    set.files = writer.result().files;
    set.bytes = writer.result().bytes;
    set.format = plans[i].format;
    if (kit::has_encryption(set.format)) set.password = plans[i].container.password;
    set.file_info = writer.result().file_info;
    for (kit::DumpFileInfo& info : set.file_info) {
      for (const kit::ChunkInfo& chunk : info.chunks) set.stored_bytes += chunk.stored_size;
      std::vector<kit::ChunkInfo>().swap(info.chunks);
    }
    sets.push_back(std::move(set));
  }
  writers.clear();
  // The writers' freed buffers would stay among the benchmark's pages, which
  // a forked writer is charged for.
  malloc_trim(0);
  return true;
}

bool make_set(const std::string& prefix, uint64_t bytes, uint32_t files, DumpSet& set,
              std::string& error) {
  std::vector<DumpSet> sets;
  SetPlan plan;
  plan.prefix = prefix;
  if (!make_sets({plan}, bytes, files, BlockEdit(), sets, error)) return false;
  set = std::move(sets.front());
  return true;
}

bool warm_page_cache(const DumpSet& set, double& resident, std::string& error) {
  MappedBuffer buffer(kWarmBufferSize);
  if (!buffer.ok()) {
    error = errno_text("mmap");
    return false;
  }
  uint64_t pages = 0;
  uint64_t in_core = 0;
  for (const std::string& name : set.files) {
    const int fd = open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      error = errno_text("open " + name);
      return false;
    }
    ssize_t n;
    do {
      n = read(fd, buffer.data(), buffer.size());
    } while (n > 0);
    struct stat st;
    const bool read_through = n == 0 && fstat(fd, &st) == 0;
    if (read_through && st.st_size > 0) {
      count_resident(fd, static_cast<size_t>(st.st_size), in_core, pages);
    }
    close(fd);
    if (!read_through) {
      error = errno_text("read " + name);
      return false;
    }
  }
  resident = pages ? static_cast<double>(in_core) / pages : 1;
  return true;
}

bool load_set(const DumpSet& set, std::vector<char>& bytes) {
  bytes.resize(set.bytes);
  size_t at = 0;
  for (const std::string& name : set.files) {
    const int fd = open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    ssize_t n;
    while (at < bytes.size() && (n = read(fd, bytes.data() + at, bytes.size() - at)) > 0) {
      at += static_cast<size_t>(n);
    }
    close(fd);
  }
  return at == bytes.size();
}

}  // namespace bench
