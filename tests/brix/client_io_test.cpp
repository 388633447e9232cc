// The protocol words the writer reads (the version, the command, the
// acknowledgement), each through its own step: read whole however the
// destination's bytes are split, a close before the fourth byte reported as
// the step's short read.
#include "client_io.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "negotiate.h"
#include "send_stream.h"
#include "test_support.h"

namespace {

using testing_support::SocketPair;
using testing_support::TestSession;

struct WordStep {
  const char* name;
  bool_t (*read)(rpl_Session*);
  uint32 value;  // a word the step accepts
  const char* short_text;
};
const WordStep kSteps[] = {
    {"version", negotiate_dst_version, 0x00040004, "Short version read\n"},
    {"command", get_command, RPLCMD_ACQTREE, "Short command read\n"},
    {"ack", rpl_get_ack, 1, "Short ack read\n"},
};

// The destination sends the first `split` bytes of the word, pauses, and
// sends the rest; with `hang_up` it closes the connection instead.
struct Split {
  size_t split;
  bool hang_up;
};

TEST(ProtocolWords, ArriveWholeInPiecesOrTheCloseIsAShortRead) {
  const Split splits[] = {{1, false}, {2, false}, {3, false}, {2, true}};
  for (const WordStep& step : kSteps) {
    for (const Split& s : splits) {
      SCOPED_TRACE(std::string(step.name) + " split after " + std::to_string(s.split) +
                   (s.hang_up ? ", then closed" : ""));
      TestSession t;
      SocketPair link;
      t.s.client_fd = link.writer;
      const char* word = reinterpret_cast<const char*>(&step.value);
      std::thread destination([&] {
        ASSERT_EQ(write(link.destination, word, s.split), static_cast<ssize_t>(s.split));
        usleep(50 * 1000);  // the writer is reading by now
        if (s.hang_up) {
          shutdown(link.destination, SHUT_WR);
        } else {
          ASSERT_EQ(write(link.destination, word + s.split, 4 - s.split),
                    static_cast<ssize_t>(4 - s.split));
        }
      });
      testing::internal::CaptureStderr();
      bool_t ok = step.read(&t.s);
      std::string err = testing::internal::GetCapturedStderr();
      destination.join();
      EXPECT_EQ(ok, s.hang_up ? B_FALSE : B_TRUE);
      EXPECT_EQ(err, s.hang_up ? step.short_text : "");
    }
  }
}

}  // namespace
