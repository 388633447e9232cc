// The progress record, its writers and the lines made from it.
#include "progress.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <vector>

#include "brix.h"
#include "live_line.h"

namespace {

constexpr double kBytesPerMegabyte = 1e6;  // MB as transfer rates count them
constexpr int64 kNanosPerSecond = 1000000000;
constexpr int64 kRedrawNanos = kNanosPerSecond / 2;  // the live line, at most twice a second
constexpr int64 kSecondsPerMinute = 60, kSecondsPerHour = 3600;

int64 now_nanos() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// A file the probe found, in reading order.
struct set_file {
  uint32 batch, file;
  int64 before;  // the sizes of the files before it
};

struct progress_record {
  // Written by the sender alone (progress_block_sent, progress_start_sending).
  std::atomic<uint64_t> blocks{0};
  std::atomic<uint32> sync_point{0};
  std::atomic<int64> start_nanos{0};  // 0 until the sending begins

  std::mutex mutex;  // guards what follows: the probe and the block source write it
  std::vector<std::string> prefixes;  // by batch
  std::vector<set_file> files;
  int64 total = 0;
  bool reading = false;  // a file is being read: batch and file name it
  uint32 batch = 0, file = 0;
  uint32 file_number = 0;  // from 1; 0 when the probe did not find the file
  int64 file_before = 0;   // the probe's set_file::before of that file
  int64 done = 0, done_at_start = 0;
};

progress_record& record() {
  static progress_record r;
  return r;
}

// When the live line is drawn next; the sender's thread alone uses it.
int64 next_redraw_nanos = 0;

void appendf(std::string& to, const char* format, ...) __attribute__((format(printf, 2, 3)));
void appendf(std::string& to, const char* format, ...) {
  char text[BRIX_NAME_BUF_SIZE + 128];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof(text), format, args);
  va_end(args);
  to += text;
}

uint64_t bytes_sent(const progress_snapshot& s) { return s.blocks * LR_BLOCK_SIZE; }

double megabytes_per_second(const progress_snapshot& s) {
  return s.seconds > 0 ? bytes_sent(s) / kBytesPerMegabyte / s.seconds : 0;
}

}  // namespace

void progress_new_set() {
  progress_record& r = record();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.prefixes.clear();
  r.files.clear();
  r.total = 0;
  r.reading = false;
  r.file_number = 0;
  r.done = r.done_at_start = 0;
}

void progress_count_file(const char* prefix, uint32 batch, uint32 file, int fd) {
  struct stat st;
  const int64 size = fstat(fd, &st) == 0 ? static_cast<int64>(st.st_size) : 0;
  progress_record& r = record();
  std::lock_guard<std::mutex> lock(r.mutex);
  if (r.prefixes.size() <= batch) r.prefixes.resize(batch + 1);
  r.prefixes[batch] = prefix;
  r.files.push_back({batch, file, r.total});
  r.total += size;
  if (r.files.size() == 1) {  // the file the set opens with
    r.reading = true;
    r.batch = batch;
    r.file = file;
    r.file_number = 1;
    r.file_before = 0;
  }
}

void progress_input_at(uint32 batch, uint32 file, int64 offset) {
  progress_record& r = record();
  std::lock_guard<std::mutex> lock(r.mutex);
  if (!r.reading || r.batch != batch || r.file != file) {  // a new file: where is it in the set?
    r.reading = true;
    r.batch = batch;
    r.file = file;
    const auto found = std::lower_bound(  // the probe found the files in this order
        r.files.begin(), r.files.end(), set_file{batch, file, 0},
        [](const set_file& a, const set_file& b) {
          return a.batch != b.batch ? a.batch < b.batch : a.file < b.file;
        });
    const bool known = found != r.files.end() && found->batch == batch && found->file == file;
    r.file_number = known ? static_cast<uint32>(found - r.files.begin()) + 1 : 0;
    r.file_before = known ? found->before : 0;
  }
  if (r.file_number != 0) r.done = r.file_before + offset;
}

void progress_block_sent(uint32 sync_point) {
  progress_record& r = record();
  r.blocks.fetch_add(1, std::memory_order_relaxed);
  r.sync_point.store(sync_point, std::memory_order_relaxed);
  if (!live_line_active()) return;
  const int64 now = now_nanos();
  if (now < next_redraw_nanos) return;
  next_redraw_nanos = now + kRedrawNanos;
  show_live_line(format_live_line(take_progress_snapshot()));
}

void progress_start_sending() {
  progress_record& r = record();
  {
    std::lock_guard<std::mutex> lock(r.mutex);
    r.done_at_start = r.done;
  }
  r.blocks.store(0, std::memory_order_relaxed);
  const int64 now = now_nanos();
  r.start_nanos.store(now, std::memory_order_relaxed);
  next_redraw_nanos = now + kRedrawNanos;  // a rate over less time would say little
}

progress_snapshot take_progress_snapshot() {
  progress_record& r = record();
  progress_snapshot s;
  s.blocks = r.blocks.load(std::memory_order_relaxed);
  s.sync_point = r.sync_point.load(std::memory_order_relaxed);
  const int64 start = r.start_nanos.load(std::memory_order_relaxed);
  s.seconds = start == 0 ? 0 : static_cast<double>(now_nanos() - start) / kNanosPerSecond;
  std::lock_guard<std::mutex> lock(r.mutex);
  if (r.reading && r.batch < r.prefixes.size()) {
    s.file = r.prefixes[r.batch] + "." + std::to_string(static_cast<int>(r.file));
  }
  s.file_number = r.file_number;
  s.files = static_cast<uint32>(r.files.size());
  s.done = r.done;
  s.done_at_start = r.done_at_start;
  s.total = r.total;
  return s;
}

std::string format_summary_line(const progress_snapshot& s) {
  std::string line;
  appendf(line, "brix_writer: %llu blocks, %llu bytes sent in %.3f s, %.1f MB/s\n",
          static_cast<unsigned long long>(s.blocks), static_cast<unsigned long long>(bytes_sent(s)),
          s.seconds, megabytes_per_second(s));
  return line;
}

std::string format_status_line(const progress_snapshot& s) {
  std::string line = format_summary_line(s);
  line.pop_back();
  if (s.file.empty()) {
    line += "; no dump file read yet";
  } else {
    appendf(line, "; reading %s", s.file.c_str());
  }
  appendf(line, "; last sync point %u\n", s.sync_point);
  return line;
}

std::string format_live_line(const progress_snapshot& s) {
  std::string line;
  appendf(line, "%.1f MB sent, %.1f MB/s", bytes_sent(s) / kBytesPerMegabyte,
          megabytes_per_second(s));
  if (s.file_number == 0 || s.total <= 0) return line;
  const int64 done = std::min(s.done, s.total);
  appendf(line, ", file %u of %u, %d%%", s.file_number, s.files,
          static_cast<int>(done * 100 / s.total));
  const int64 read_since_start = done - s.done_at_start;
  if (s.seconds <= 0 || read_since_start <= 0) return line;
  const int64 eta = static_cast<int64>(static_cast<double>(s.total - done) * s.seconds /
                                           static_cast<double>(read_since_start) +
                                       0.5);
  appendf(line, ", ETA %lld:%02lld:%02lld", static_cast<long long>(eta / kSecondsPerHour),
          static_cast<long long>(eta % kSecondsPerHour / kSecondsPerMinute),
          static_cast<long long>(eta % kSecondsPerMinute));
  return line;
}
