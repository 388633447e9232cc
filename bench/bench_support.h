// Small pieces the playback benchmark's parts share: error texts with the
// system's cause, and buffers that leave no trace in the benchmark's memory.
#ifndef BENCH_BENCH_SUPPORT_H
#define BENCH_BENCH_SUPPORT_H

#include <sys/mman.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <string>

namespace bench {

inline std::string errno_text(const std::string& what) { return what + ": " + strerror(errno); }

// A buffer mapped for one use and unmapped after it. Freed heap memory would
// stay among the benchmark's private pages, which a forked writer copies and
// is charged for.
class MappedBuffer {
 public:
  explicit MappedBuffer(size_t size)
      : size_(size),
        data_(mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)) {}
  ~MappedBuffer() {
    if (ok()) munmap(data_, size_);
  }
  MappedBuffer(const MappedBuffer&) = delete;
  MappedBuffer& operator=(const MappedBuffer&) = delete;

  bool ok() const { return data_ != MAP_FAILED; }
  char* data() const { return static_cast<char*>(data_); }
  size_t size() const { return size_; }

 private:
  size_t size_;
  void* data_;
};

}  // namespace bench

#endif  // BENCH_BENCH_SUPPORT_H
