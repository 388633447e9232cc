// A stand-in for the writer in the kit's own tests: listens on a loopback
// address with an ephemeral port, accepts one connection and plays a script
// on it in a background thread.
#ifndef KIT_FAKE_WRITER_H
#define KIT_FAKE_WRITER_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

namespace kit {

// The script's view of the accepted connection. Every call gives up after a
// few seconds, so a broken test fails instead of hanging.
class FakeWriterSide {
 public:
  explicit FakeWriterSide(int fd) : fd_(fd) {}
  // Exactly n bytes, or fewer when the peer closed first (see the size).
  std::string read(size_t n);
  uint32_t read_u32();  // 0 when the peer closed
  bool write(const void* data, size_t n);
  bool write_u32(uint32_t value);
  // True when the peer closes (read finds the end) within the time-out.
  bool peer_closes();

 private:
  int fd_;
};

class FakeWriter {
 public:
  using Script = std::function<void(FakeWriterSide&)>;
  // Listens on `host` ("127.0.0.1" or "::1"). With `delay_listen_ms` the
  // socket is bound at once but listens only after that delay, so that
  // connection attempts are refused meanwhile.
  explicit FakeWriter(Script script, const std::string& host = "127.0.0.1",
                      int delay_listen_ms = 0);
  ~FakeWriter();
  // Waits for the script to end.
  void wait();
  uint16_t port() const { return port_; }
  bool listening() const { return listen_fd_ >= 0; }

 private:
  int listen_fd_ = -1;
  uint16_t port_ = 0;
  std::thread thread_;
};

}  // namespace kit

#endif  // KIT_FAKE_WRITER_H
