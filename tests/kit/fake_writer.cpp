// The fake writer of the kit's tests.
#include "kit/fake_writer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "marshal.h"
#include "rehearsal/dest_connection.h"

namespace kit {

namespace {
constexpr int kScriptTimeoutMs = 5000;

bool ready(int fd, short events) {
  pollfd p{fd, events, 0};
  return poll(&p, 1, kScriptTimeoutMs) == 1;
}
}  // namespace

std::string FakeWriterSide::read(size_t n) {
  std::string out;
  char buf[4096];
  while (out.size() < n && ready(fd_, POLLIN)) {
    const ssize_t r = recv(fd_, buf, std::min(sizeof buf, n - out.size()), 0);
    if (r <= 0) break;
    out.append(buf, static_cast<size_t>(r));
  }
  return out;
}

uint32_t FakeWriterSide::read_u32() {
  const std::string s = read(sizeof(uint32_t));
  uint32_t wire = 0;
  if (s.size() == sizeof wire) memcpy(&wire, s.data(), sizeof wire);
  return marshal_uint4(wire);
}

bool FakeWriterSide::write(const void* data, size_t n) {
  const char* p = static_cast<const char*>(data);
  while (n > 0 && ready(fd_, POLLOUT)) {
    const ssize_t w = send(fd_, p, n, MSG_NOSIGNAL);
    if (w <= 0) return false;
    p += w;
    n -= static_cast<size_t>(w);
  }
  return n == 0;
}

bool FakeWriterSide::write_u32(uint32_t value) {
  const uint32_t wire = marshal_uint4(value);
  return write(&wire, sizeof wire);
}

bool FakeWriterSide::peer_closes() {
  char c;
  return ready(fd_, POLLIN) && recv(fd_, &c, 1, 0) == 0;
}

FakeWriter::FakeWriter(Script script, const std::string& host, int delay_listen_ms) {
  sockaddr_storage addr;
  socklen_t len;
  if (!numeric_address(host, 0, addr, len)) return;
  listen_fd_ = socket(addr.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listen_fd_ < 0) return;
  if (bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
      getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0 ||
      (delay_listen_ms == 0 && listen(listen_fd_, 1) != 0)) {
    close(listen_fd_);
    listen_fd_ = -1;
    return;
  }
  port_ = ntohs(addr.ss_family == AF_INET ? reinterpret_cast<sockaddr_in*>(&addr)->sin_port
                                          : reinterpret_cast<sockaddr_in6*>(&addr)->sin6_port);
  thread_ = std::thread([this, script, delay_listen_ms] {
    if (delay_listen_ms > 0) {
      usleep(static_cast<useconds_t>(delay_listen_ms) * 1000);
      if (listen(listen_fd_, 1) != 0) return;
    }
    if (!ready(listen_fd_, POLLIN)) return;
    const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    FakeWriterSide side(fd);
    script(side);
    close(fd);
  });
}

void FakeWriter::wait() {
  if (thread_.joinable()) thread_.join();
}

FakeWriter::~FakeWriter() {
  wait();
  if (listen_fd_ >= 0) close(listen_fd_);
}

}  // namespace kit
