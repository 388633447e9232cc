// The waits of the core runtime that the writer's child mode rests on (select
// on an empty mask with its time-out, sleeping, both cut short by a signal)
// and the guard word behind every pool block.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

#include "core/memory.h"
#include "core/net.h"
#include "core/sys.h"

namespace {

int64_t elapsed_ms_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               start)
      .count();
}

void ignore_signal(int) {}

// SIGALRM once after `ms`, with a handler and no SA_RESTART, so that a
// blocking call is interrupted.
class AlarmAfter {
 public:
  explicit AlarmAfter(int ms) {
    struct sigaction action;
    memset(&action, 0, sizeof(action));
    action.sa_handler = ignore_signal;
    sigaction(SIGALRM, &action, &previous_);
    itimerval timer = {{0, 0}, {ms / 1000, (ms % 1000) * 1000}};
    setitimer(ITIMER_REAL, &timer, nullptr);
  }
  ~AlarmAfter() {
    itimerval off = {{0, 0}, {0, 0}};
    setitimer(ITIMER_REAL, &off, nullptr);
    sigaction(SIGALRM, &previous_, nullptr);
  }

 private:
  struct sigaction previous_;
};

class NetSelect : public testing::Test {
 protected:
  void SetUp() override { NetInitializeSelectMask(&mask_); }
  void TearDown() override { NetReleaseSelectMask(&mask_); }
  NetSelectMaskS* mask_ = nullptr;
};

TEST_F(NetSelect, EmptyMaskWaitsItsTimeOutAndLeavesTheCountAlone) {
  for (int32_t timeout : {0, 1500}) {
    SCOPED_TRACE(timeout);
    int32_t selected = 77;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(NetSelectRelative(&selected, mask_, timeout), NET_ERROR_TIMEOUT);
    EXPECT_GE(elapsed_ms_since(start), timeout - 50);
    EXPECT_LT(elapsed_ms_since(start), timeout + 10000);
    EXPECT_EQ(selected, 77);
  }
}

TEST_F(NetSelect, SignalInterruptsTheWaitWithoutRetry) {
  for (int32_t timeout : {-1, 30000}) {
    SCOPED_TRACE(timeout);
    int32_t selected = 77;
    const auto start = std::chrono::steady_clock::now();
    {
      AlarmAfter alarm(50);
      EXPECT_EQ(NetSelectRelative(&selected, mask_, timeout), NET_ERROR_INTERRUPTED);
    }
    EXPECT_LT(elapsed_ms_since(start), 10000);
    EXPECT_EQ(selected, 77);
  }
}

TEST(SysSleep, SleepsItsSecondsAndASignalEndsItEarly) {
  struct Case {
    int32_t seconds;
    int alarm_ms;  // 0: none
    int64_t at_least_ms, below_ms;
  } cases[] = {{0, 0, 0, 1000}, {1, 0, 950, 15000}, {30, 200, 100, 10000}, {-1, 200, 100, 10000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.seconds);
    const auto start = std::chrono::steady_clock::now();
    if (c.alarm_ms > 0) {
      AlarmAfter alarm(c.alarm_ms);
      SysSleep(c.seconds);
    } else {
      SysSleep(c.seconds);
    }
    EXPECT_GE(elapsed_ms_since(start), c.at_least_ms);
    EXPECT_LT(elapsed_ms_since(start), c.below_ms);
  }
}

// A block whose guard word was overwritten, or whose header lost it, ends
// the process when it is freed.
TEST(MemoryPoolDeathTest, DamagedGuardEndsTheProcessWhenTheBlockIsFreed) {
  for (bool overrun : {true, false}) {
    SCOPED_TRACE(overrun ? "one byte written past the area" : "guard pointer lost");
    EXPECT_EXIT(
        {
          signal(SIGSEGV, SIG_DFL);  // a sanitizer's handler would turn it into an abort
          void* data = MemAllocateFromPool(5, MemGetDefaultPoolId());
          if (overrun) {
            static_cast<char*>(data)[8] = 0x7F;  // 5 bytes round up to 8: the guard's first byte
          } else {
            reinterpret_cast<MemAllocHeader*>(static_cast<char*>(data) - MEM_HEADER_SIZE)->pGuard =
                nullptr;
          }
          MemFreeInternal(&data);
        },
        testing::KilledBySignal(SIGSEGV), "");
  }
}

}  // namespace
