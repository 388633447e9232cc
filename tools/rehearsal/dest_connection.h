// The destination's end of a TCP connection to the writer: connecting over
// IPv4 or IPv6 loopback with retries while the writer is not yet listening,
// little-endian protocol words, exact and partial reads, and time-outs on
// every read and write so that a test never hangs on a silent peer.
#ifndef REHEARSAL_DEST_CONNECTION_H
#define REHEARSAL_DEST_CONNECTION_H

#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace kit {

constexpr uint16_t kWriterPort = 10566;
constexpr int kDefaultIoTimeoutMs = 5000;

// Outcome of one read or write.
enum class Io {
  ok,
  closed,     // the peer closed the connection (or reset it)
  timed_out,  // nothing moved within the time-out
  failed      // any other error; see error()
};

const char* io_name(Io io);

// A numeric IPv4 or IPv6 address ("127.0.0.1", "::1") and a port as a
// socket address; false when `host` is neither.
bool numeric_address(const std::string& host, uint16_t port, sockaddr_storage& addr,
                     socklen_t& len);

class DestinationConnection {
 public:
  DestinationConnection() = default;
  ~DestinationConnection();
  DestinationConnection(const DestinationConnection&) = delete;
  DestinationConnection& operator=(const DestinationConnection&) = delete;

  // Connects to a numeric address ("127.0.0.1", "::1", ...) and port. A
  // refused attempt is repeated until `deadline_ms` has passed.
  bool connect(const std::string& host, uint16_t port, int deadline_ms);
  // Takes over a socket that is already connected to the writer (the writer's
  // standard input in its child mode).
  void adopt(int fd);
  // Time-out of each later read and write (default kDefaultIoTimeoutMs).
  void set_timeout_ms(int ms) { timeout_ms_ = ms; }

  Io send_bytes(const void* data, size_t n);
  Io send_u32(uint32_t value);  // 4 bytes, little-endian
  Io recv_u32(uint32_t& value);
  // Reads exactly n bytes. On anything but ok, received() says how many came.
  Io recv_exact(void* data, size_t n);
  // One read of up to n bytes; `got` receives the count (0 when closed).
  Io recv_some(void* data, size_t n, size_t& got);
  void close();

  bool is_open() const { return fd_ >= 0; }
  bool peer_closed() const { return peer_closed_; }
  size_t received() const { return received_; }
  const std::string& error() const { return error_; }
  int fd() const { return fd_; }

 private:
  Io wait_for(short events);
  Io fail(const std::string& what);

  int fd_ = -1;
  int timeout_ms_ = kDefaultIoTimeoutMs;
  bool peer_closed_ = false;
  size_t received_ = 0;  // bytes of the last recv_exact
  std::string error_;
};

}  // namespace kit

#endif  // REHEARSAL_DEST_CONNECTION_H
