// The destination's connection to the writer.
#include "rehearsal/dest_connection.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "marshal.h"

namespace kit {

namespace {

constexpr auto kRetryPause = std::chrono::milliseconds(20);

}  // namespace

bool numeric_address(const std::string& host, uint16_t port, sockaddr_storage& addr,
                     socklen_t& len) {
  memset(&addr, 0, sizeof addr);
  auto* v4 = reinterpret_cast<sockaddr_in*>(&addr);
  if (inet_pton(AF_INET, host.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(port);
    len = sizeof *v4;
    return true;
  }
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&addr);
  if (inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(port);
    len = sizeof *v6;
    return true;
  }
  return false;
}

const char* io_name(Io io) {
  switch (io) {
    case Io::ok:
      return "ok";
    case Io::closed:
      return "closed by the peer";
    case Io::timed_out:
      return "timed out";
    case Io::failed:
      return "failed";
  }
  return "?";
}

DestinationConnection::~DestinationConnection() { close(); }

void DestinationConnection::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

Io DestinationConnection::fail(const std::string& what) {
  error_ = what + ": " + strerror(errno);
  return Io::failed;
}

void DestinationConnection::adopt(int fd) {
  close();
  peer_closed_ = false;
  fd_ = fd;
}

bool DestinationConnection::connect(const std::string& host, uint16_t port, int deadline_ms) {
  close();
  peer_closed_ = false;
  sockaddr_storage addr;
  socklen_t len = 0;
  if (!numeric_address(host, port, addr, len)) {
    error_ = "not a numeric address: " + host;
    return false;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(deadline_ms);
  for (;;) {
    fd_ = socket(addr.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
      fail("socket");
      return false;
    }
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&addr), len) == 0) {
      // The protocol words are tiny; they must not wait for delayed acknowledgements.
      const int on = 1;
      setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
      return true;
    }
    const int cause = errno;
    close();
    errno = cause;
    if (cause != ECONNREFUSED || std::chrono::steady_clock::now() >= deadline) {
      fail("connect to " + host + " port " + std::to_string(port));
      return false;
    }
    std::this_thread::sleep_for(kRetryPause);
  }
}

Io DestinationConnection::wait_for(short events) {
  pollfd p{fd_, events, 0};
  for (;;) {
    const int n = poll(&p, 1, timeout_ms_);
    if (n > 0) return Io::ok;
    if (n == 0) {
      error_ = "no progress within " + std::to_string(timeout_ms_) + " ms";
      return Io::timed_out;
    }
    if (errno != EINTR) return fail("poll");
  }
}

Io DestinationConnection::send_bytes(const void* data, size_t n) {
  if (fd_ < 0) return fail("send on a closed connection");
  const char* p = static_cast<const char*>(data);
  while (n > 0) {
    const Io ready = wait_for(POLLOUT);
    if (ready != Io::ok) return ready;
    const ssize_t sent = send(fd_, p, n, MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR) continue;
      if (errno == EPIPE || errno == ECONNRESET) {
        peer_closed_ = true;
        error_ = "the writer closed the connection";
        return Io::closed;
      }
      return fail("send");
    }
    p += sent;
    n -= static_cast<size_t>(sent);
  }
  return Io::ok;
}

Io DestinationConnection::recv_some(void* data, size_t n, size_t& got) {
  got = 0;
  if (fd_ < 0) return fail("receive on a closed connection");
  for (;;) {
    const Io ready = wait_for(POLLIN);
    if (ready != Io::ok) return ready;
    const ssize_t r = recv(fd_, data, n, 0);
    if (r > 0) {
      got = static_cast<size_t>(r);
      return Io::ok;
    }
    if (r == 0 || errno == ECONNRESET) {
      peer_closed_ = true;
      error_ = "the writer closed the connection";
      return Io::closed;
    }
    if (errno != EINTR) return fail("recv");
  }
}

Io DestinationConnection::recv_exact(void* data, size_t n) {
  received_ = 0;
  char* p = static_cast<char*>(data);
  while (received_ < n) {
    size_t got = 0;
    const Io io = recv_some(p + received_, n - received_, got);
    if (io != Io::ok) return io;
    received_ += got;
  }
  return Io::ok;
}

Io DestinationConnection::send_u32(uint32_t value) {
  const uint32_t wire = marshal_uint4(value);
  return send_bytes(&wire, sizeof wire);
}

Io DestinationConnection::recv_u32(uint32_t& value) {
  uint32_t wire = 0;
  const Io io = recv_exact(&wire, sizeof wire);
  if (io == Io::ok) value = marshal_uint4(wire);
  return io;
}

}  // namespace kit
