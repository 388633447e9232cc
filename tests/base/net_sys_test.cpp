// Select masks, the relative wait with its time-out choices and result
// mapping, and sleeping.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "core/context.h"
#include "core/net.h"
#include "core/sys.h"
#include "trace_capture.h"

namespace {

const char kNetModule[] = "NET        ";

int64_t MonotonicMilliseconds() {
  struct timespec tNow;
  clock_gettime(CLOCK_MONOTONIC, &tNow);
  return static_cast<int64_t>(tNow.tv_sec) * 1000 + tNow.tv_nsec / 1000000;
}

void IgnoreSignal(int) {}

// Sends this process SIGALRM once after lMilliseconds, with a handler that
// does nothing and no SA_RESTART, so that a blocking call is interrupted.
class AlarmAfter {
 public:
  explicit AlarmAfter(int lMilliseconds) {
    struct sigaction tAction;
    memset(&tAction, 0, sizeof(tAction));
    tAction.sa_handler = IgnoreSignal;
    sigemptyset(&tAction.sa_mask);
    sigaction(SIGALRM, &tAction, &tPrevious_);
    struct itimerval tTimer = {{0, 0}, {lMilliseconds / 1000, (lMilliseconds % 1000) * 1000}};
    setitimer(ITIMER_REAL, &tTimer, nullptr);
  }
  ~AlarmAfter() {
    struct itimerval tOff = {{0, 0}, {0, 0}};
    setitimer(ITIMER_REAL, &tOff, nullptr);
    sigaction(SIGALRM, &tPrevious_, nullptr);
  }

 private:
  struct sigaction tPrevious_;
};

// An empty mask from the pool, released at the end of the test.
class NetSelectTest : public ::testing::Test {
 protected:
  void SetUp() override { NetInitializeSelectMask(&ptMask_); }
  void TearDown() override { NetReleaseSelectMask(&ptMask_); }

  void AddRead(int fd) {
    FD_SET(fd, &ptMask_->tRecvFds);
    if (fd + 1 > ptMask_->tSelectBits) ptMask_->tSelectBits = fd + 1;
  }
  void AddWrite(int fd) {
    FD_SET(fd, &ptMask_->tSendFds);
    if (fd + 1 > ptMask_->tSelectBits) ptMask_->tSelectBits = fd + 1;
  }

  NetSelectMaskS* ptMask_ = nullptr;
};

TEST(NetSelectMask, NewMaskIsEmptyAndCountedAndReleaseClearsThePointer) {
  const ContextMemoryS tBefore = ContextGet()->sMemory;
  NetSelectMaskS* ptMask = nullptr;
  NetInitializeSelectMask(&ptMask);
  ASSERT_NE(ptMask, nullptr);
  EXPECT_EQ(ContextGet()->sMemory.lMemCount, tBefore.lMemCount + 1);
  fd_set tEmpty;
  FD_ZERO(&tEmpty);
  EXPECT_EQ(memcmp(&ptMask->tRecvFds, &tEmpty, sizeof(tEmpty)), 0);
  EXPECT_EQ(memcmp(&ptMask->tSendFds, &tEmpty, sizeof(tEmpty)), 0);
  EXPECT_EQ(memcmp(&ptMask->tExcpFds, &tEmpty, sizeof(tEmpty)), 0);
  EXPECT_EQ(ptMask->tSelectBits, 0);

  NetReleaseSelectMask(&ptMask);
  EXPECT_EQ(ptMask, nullptr);
  EXPECT_EQ(ContextGet()->sMemory.lMemCount, tBefore.lMemCount);

  NetInitializeSelectMask(nullptr);
  NetReleaseSelectMask(nullptr);
  EXPECT_EQ(ContextGet()->sMemory.lMemAllocations, tBefore.lMemAllocations + 1);
}

TEST_F(NetSelectTest, EmptyMaskTimesOutAndLeavesTheCountAlone) {
  const struct {
    int32_t lTimeout;
    int32_t lChoiceId;
    const char* pstrChoice;
  } atCases[] = {{0, 130, "poll for data"}, {20, 131, "Wait 20 milliseconds for data"}};
  for (const auto& tCase : atCases) {
    SCOPED_TRACE(tCase.lTimeout);
    TraceCapture tCapture;
    int32_t lSelected = 77;
    EXPECT_EQ(NetSelectRelative(&lSelected, ptMask_, tCase.lTimeout), NET_ERROR_TIMEOUT);
    EXPECT_EQ(lSelected, 77);
    EXPECT_EQ(tCapture.Find(kNetModule, tCase.lChoiceId), tCase.pstrChoice);

    char acExpected[128];
    snprintf(acExpected, sizeof(acExpected), "%d = NetSelectRelative(%p, %p, %ld) %ld",
             NET_ERROR_TIMEOUT, static_cast<void*>(&lSelected), static_cast<void*>(ptMask_),
             static_cast<long>(tCase.lTimeout), 0L);
    EXPECT_EQ(tCapture.Find(kNetModule, 133), acExpected);
  }
}

TEST_F(NetSelectTest, ReadyDescriptorsAreCountedAndKeptInTheSets) {
  int afdData[2];
  int afdIdle[2];
  ASSERT_EQ(pipe(afdData), 0);
  ASSERT_EQ(pipe(afdIdle), 0);
  ASSERT_EQ(write(afdData[1], "x", 1), 1);
  AddRead(afdData[0]);
  AddRead(afdIdle[0]);
  AddWrite(afdData[1]);

  int32_t lSelected = -1;
  EXPECT_EQ(NetSelectRelative(&lSelected, ptMask_, 1000), NET_ERROR_NONE);
  EXPECT_EQ(lSelected, 2);
  EXPECT_TRUE(FD_ISSET(afdData[0], &ptMask_->tRecvFds));
  EXPECT_FALSE(FD_ISSET(afdIdle[0], &ptMask_->tRecvFds));
  EXPECT_TRUE(FD_ISSET(afdData[1], &ptMask_->tSendFds));

  // Without a place for the count the result is the same.
  AddRead(afdData[0]);
  EXPECT_EQ(NetSelectRelative(nullptr, ptMask_, 0), NET_ERROR_NONE);
  for (int fd : {afdData[0], afdData[1], afdIdle[0], afdIdle[1]}) close(fd);
}

TEST_F(NetSelectTest, ClosedDescriptorIsFatalAndLeavesTheCountAlone) {
  int afd[2];
  ASSERT_EQ(pipe(afd), 0);
  close(afd[0]);
  close(afd[1]);
  AddRead(afd[0]);
  TraceCapture tCapture;
  int32_t lSelected = 77;
  EXPECT_EQ(NetSelectRelative(&lSelected, ptMask_, 0), NET_ERROR_FATAL);
  EXPECT_EQ(lSelected, 77);
  EXPECT_EQ(tCapture.Find(kNetModule, 132),
            std::string("Fatal network select error: ") + strerror(EBADF));
}

TEST_F(NetSelectTest, SignalInterruptsTheWaitWithoutRetry) {
  for (int32_t lTimeout : {-1, 30000}) {
    SCOPED_TRACE(lTimeout);
    TraceCapture tCapture;
    int32_t lSelected = 77;
    const int64_t llStart = MonotonicMilliseconds();
    {
      AlarmAfter tAlarm(50);
      EXPECT_EQ(NetSelectRelative(&lSelected, ptMask_, lTimeout), NET_ERROR_INTERRUPTED);
    }
    EXPECT_LT(MonotonicMilliseconds() - llStart, 10000);
    EXPECT_EQ(lSelected, 77);
    if (lTimeout < 0) {
      EXPECT_EQ(tCapture.Find(kNetModule, 129), "Wait for data (no timeout)");
    }
  }
}

TEST_F(NetSelectTest, FifteenHundredMillisecondsWaitOneAndAHalfSeconds) {
  const int64_t llStart = MonotonicMilliseconds();
  EXPECT_EQ(NetSelectRelative(nullptr, ptMask_, 1500), NET_ERROR_TIMEOUT);
  const int64_t llElapsed = MonotonicMilliseconds() - llStart;
  EXPECT_GE(llElapsed, 1450);
  EXPECT_LT(llElapsed, 15000);
}

TEST(SysSleep, ZeroReturnsAtOnceAndReleasesItsMask) {
  const ContextMemoryS tBefore = ContextGet()->sMemory;
  const int64_t llStart = MonotonicMilliseconds();
  SysSleep(0);
  EXPECT_LT(MonotonicMilliseconds() - llStart, 1000);
  EXPECT_EQ(ContextGet()->sMemory.lMemCount, tBefore.lMemCount);
  EXPECT_EQ(ContextGet()->sMemory.lMemAllocations, tBefore.lMemAllocations + 1);
}

TEST(SysSleep, OneSecondSleepsAboutOneSecond) {
  const int64_t llStart = MonotonicMilliseconds();
  SysSleep(1);
  const int64_t llElapsed = MonotonicMilliseconds() - llStart;
  EXPECT_GE(llElapsed, 950);
  EXPECT_LT(llElapsed, 15000);
}

TEST(SysSleep, SignalEndsTheSleepEarly) {
  for (int32_t lSeconds : {30, -1}) {
    SCOPED_TRACE(lSeconds);
    const ContextMemoryS tBefore = ContextGet()->sMemory;
    const int64_t llStart = MonotonicMilliseconds();
    {
      AlarmAfter tAlarm(200);
      SysSleep(lSeconds);
    }
    const int64_t llElapsed = MonotonicMilliseconds() - llStart;
    EXPECT_GE(llElapsed, 100);  // waited for the signal rather than polling
    EXPECT_LT(llElapsed, 10000);
    EXPECT_EQ(ContextGet()->sMemory.lMemCount, tBefore.lMemCount);
  }
}

}  // namespace
