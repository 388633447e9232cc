// The discarding destination: negotiation, timed bulk receipt, acknowledgement.
#include "playback_reader.h"

#include <dirent.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>

#include "bench_support.h"
#include "rehearsal/destination.h"

namespace bench {

namespace {

constexpr double kBytesPerMegabyte = 1e6;
constexpr double kNanosPerSecond = 1e9;
constexpr int kMillisPerSecond = 1000;
// A slow machine may take a while to load or page in a large set.
constexpr int kIoTimeoutMs = 60000;
// The reader takes whatever has arrived in one call, so that it never holds
// the sender back.
constexpr size_t kReceiveBufferSize = 1 << 20;

// CPU time a thread has run so far, in seconds (the first field of its
// schedstat, in nanoseconds); 0 when it cannot be read.
double schedstat_seconds(const std::string& path) {
  FILE* f = fopen(path.c_str(), "re");
  unsigned long long ns = 0;
  if (f != nullptr) {
    if (fscanf(f, "%llu", &ns) != 1) ns = 0;
    fclose(f);
  }
  return static_cast<double>(ns) / kNanosPerSecond;
}

// CPU time all threads of a process have run so far, in seconds: a writer
// that reads ahead on a second thread is charged for both.
double cpu_seconds(pid_t pid) {
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  double total = 0;
  if (DIR* dir = opendir(tasks.c_str())) {
    while (const dirent* entry = readdir(dir)) {
      if (entry->d_name[0] != '.')
        total += schedstat_seconds(tasks + "/" + entry->d_name + "/schedstat");
    }
    closedir(dir);
  }
  return total;
}

double thread_cpu_seconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / kNanosPerSecond;
}

bool negotiate(kit::DestinationConnection& conn, kit::Block& reply) {
  const kit::DestinationOptions fields;
  uint32_t answer = 0;
  if (conn.send_u32(fields.version_word) != kit::Io::ok || conn.recv_u32(answer) != kit::Io::ok ||
      answer == 0) {
    return false;
  }
  if (conn.send_u32(fields.command_word) != kit::Io::ok || conn.recv_u32(answer) != kit::Io::ok ||
      answer != fields.command_word) {
    return false;
  }
  const kit::Block request = kit::make_request(fields);
  return conn.send_bytes(request.bytes, LR_BLOCK_SIZE) == kit::Io::ok &&
         conn.recv_exact(reply.bytes, LR_BLOCK_SIZE) == kit::Io::ok;
}

// Receives and drops `n` bytes.
bool drain(int fd, uint64_t n, std::string& error) {
  MappedBuffer buffer(kReceiveBufferSize);
  if (!buffer.ok()) {
    error = errno_text("mmap");
    return false;
  }
  while (n > 0) {
    const ssize_t got = recv(fd, buffer.data(), std::min<uint64_t>(buffer.size(), n), 0);
    if (got > 0) {
      n -= static_cast<uint64_t>(got);
    } else if (got == 0 || errno != EINTR) {
      error = got == 0 ? "the source closed with " + std::to_string(n) + " bytes missing"
                       : errno_text("recv");
      return false;
    }
  }
  return true;
}

}  // namespace

double Delivery::mbps() const {
  return seconds > 0 ? static_cast<double>(stream_bytes) / kBytesPerMegabyte / seconds : 0;
}

Delivery receive_playback(kit::DestinationConnection& conn, pid_t source, uint64_t set_bytes) {
  Delivery d;
  conn.set_timeout_ms(kIoTimeoutMs);
  kit::Block block;
  if (!negotiate(conn, block)) {
    d.error = "negotiation failed: " + conn.error();
    return d;
  }
  const timeval timeout{kIoTimeoutMs / kMillisPerSecond, 0};
  setsockopt(conn.fd(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);

  const double cpu_at_start = cpu_seconds(source);
  const double reader_cpu_at_start = thread_cpu_seconds();
  const auto start = std::chrono::steady_clock::now();
  const uint64_t stream_bytes = set_bytes - LR_BLOCK_SIZE;
  // Everything but the last block in bulk; the last block alone, to check it.
  if (!drain(conn.fd(), stream_bytes - LR_BLOCK_SIZE, d.error)) return d;
  if (conn.recv_exact(block.bytes, LR_BLOCK_SIZE) != kit::Io::ok) {
    d.error = "no last block: " + conn.error();
    return d;
  }
  d.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  d.source_cpu = cpu_seconds(source) - cpu_at_start;
  d.reader_cpu = thread_cpu_seconds() - reader_cpu_at_start;
  d.stream_bytes = stream_bytes;

  if (!kit::is_header(block) || kit::hdr_type(block) != LR_HDR_END_OF_STREAM) {
    d.error = "the last block is not the end-of-stream header";
    return d;
  }
  uint32_t echo = 0;
  if (conn.send_u32(kit::kAckValue) != kit::Io::ok || conn.recv_u32(echo) != kit::Io::ok ||
      echo != kit::kAckValue) {
    d.error = "acknowledgement not echoed: " + conn.error();
    return d;
  }
  d.ok = true;
  return d;
}

}  // namespace bench
