// A destination that vanishes (its network gone: the loopback interface of
// the test's own network namespace taken down) ends the transfer within
// seconds under short keepalive timings, with the usual failed write or
// read and the checkpoints kept; a destination that is alive but stops
// reading, or is silent before its acknowledgement, is waited for. Also the
// refusal of malformed timings.
#include <gtest/gtest.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "fault_support.h"

namespace {

using e2e::Playback;
using fault::perror_line;

// Timings of a few seconds: keepalive after 1 s of silence, a probe a
// second, two unanswered end the connection; unanswered data or probes end
// it after 1 s.
const char kShortTimings[] = "BRIX_KEEPALIVE=1,1,2,1";
const unsigned kSilenceMs = 2000;     // a live destination's silence: past every timing
const unsigned kFullBuffersMs = 500;  // enough for the writer to fill both ends' buffers

// Brings the loopback interface of this process's network namespace up or
// down; false when it cannot.
bool set_loopback(bool up) {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  ifreq request;
  memset(&request, 0, sizeof(request));
  strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
  bool done = ioctl(fd, SIOCGIFFLAGS, &request) == 0;
  request.ifr_flags =
      static_cast<short>(up ? request.ifr_flags | IFF_UP : request.ifr_flags & ~IFF_UP);
  done = done && ioctl(fd, SIOCSIFFLAGS, &request) == 0;
  close(fd);
  return done;
}

class VanishedDestination : public testing::Test, protected fault::StoredSet {
 protected:
  // Larger than what the socket buffers of both ends hold, so that the
  // writer is still sending when the destination stops.
  void SetUp() override { store(17, 4000, {1500}); }

  // A fresh network namespace for this process and the writers it starts,
  // with its loopback interface up: taking it down disturbs no other test.
  static bool own_network() { return unshare(CLONE_NEWNET) == 0 && set_loopback(true); }
};

struct Case {
  const char* what;
  int at_block;          // the stream block after which the destination acts; -1: the last one
  unsigned pause_ms;     // it stops reading for so long first
  bool vanish;           // then the network goes
  std::string reported;  // standard error after the listening hint; empty: success
};

TEST_F(VanishedDestination, DeadPeerEndsTheTransferAndALiveSilentOneIsWaitedFor) {
  const Case cases[] = {
      {"stops reading, then reads on", 100, kSilenceMs, false, ""},
      {"is silent before acknowledging", -1, kSilenceMs, false, ""},
      {"vanishes while the stream flows", 100, 0, true,
       perror_line("Bad write to destination", ETIMEDOUT)},
      {"stops reading, then vanishes", 100, kFullBuffersMs, true,
       perror_line("Bad write to destination", ETIMEDOUT)},
      {"vanishes before acknowledging", -1, 0, true, perror_line("Bad ack read", ETIMEDOUT)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (!own_network()) GTEST_SKIP() << "no network namespace of its own: " << strerror(errno);
    kit::ProcessOptions writer = e2e::writer_options({prefix});
    writer.env = {kShortTimings};
    kit::DestinationOptions d;
    d.keep_blocks = false;
    d.io_timeout_ms = c.vanish ? 1000 : kit::kDefaultIoTimeoutMs;  // no waiting on a dead link
    const uint64_t last = stream.size() - 1;
    uint64_t arrived = 0;  // the reply block comes first
    d.on_block = [&](const kit::Block&) {
      if (arrived++ != (c.at_block < 0 ? last : static_cast<uint64_t>(c.at_block))) return;
      usleep(c.pause_ms * 1000);
      if (c.vanish) {
        EXPECT_TRUE(set_loopback(false));
      }
    };
    Playback p = e2e::play_with(writer, d);
    EXPECT_FALSE(p.status.timed_out);
    if (c.reported.empty()) {
      EXPECT_EQ(p.status.code, 0) << p.err;
      EXPECT_TRUE(p.dest.complete) << p.dest.error;
      continue;
    }
    EXPECT_EQ(p.status.code, 255);
    EXPECT_EQ(p.err, fault::kArchivistHint + c.reported);
    EXPECT_FALSE(fault::checkpointed_points(prefix).empty());
  }
}

TEST(KeepaliveTimings, MalformedValueIsRefusedBeforeAnythingElse) {
  kit::TempDir dir;
  const char* const values[] = {"",          "1,1",    "1,1,2,3,4", "0,1,2",  "1,x,2", "1,1,128",
                                "32768,1,1", "-1,1,1", "1,1,1,0",   " 1,1,1", "1,1,1,"};
  for (const char* value : values) {
    SCOPED_TRACE(value);
    kit::ProcessOptions writer = e2e::writer_options({dir.file("vol")});
    writer.env = {std::string("BRIX_KEEPALIVE=") + value};
    Playback p = e2e::run_alone_with(writer);
    EXPECT_EQ(p.status.code, 255);
    EXPECT_EQ(p.out, "");
    EXPECT_EQ(p.err, std::string("Bad BRIX_KEEPALIVE value \"") + value +
                         "\": expected idle,interval,count[,user-timeout] in whole seconds "
                         "(count at most 127, the others at most 32767)\n");
  }
}

}  // namespace
