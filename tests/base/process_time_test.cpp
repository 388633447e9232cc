// The crash operation and the clocks: the millisecond arithmetic of the
// system clock and the corrected clock with and without an offset.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/time.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <ctime>

#include "core/context.h"
#include "core/process.h"
#include "core/time.h"
#include "trace_capture.h"

namespace {

TEST(ProcCrash, UnforcedCrashReturnsWhileCrashingIsOff) {
  TraceCapture tCapture;
  ProcCrash(FALSE);
  EXPECT_EQ(tCapture.Count(), 0);
}

TEST(ProcCrashDeathTest, ForcedOrSwitchedOnCrashEndsWithSegvAfterMessage209) {
  const struct {
    BooleanT bForce;
    BooleanT bDoCrash;
  } atCases[] = {{TRUE, FALSE}, {FALSE, TRUE}, {TRUE, TRUE}};
  for (const auto& tCase : atCases) {
    SCOPED_TRACE(tCase.bForce * 2 + tCase.bDoCrash);
    TraceCapture tCapture;
    EXPECT_EXIT(
        {
          RestoreDefaultSegvAction();
          gbDoCrash = tCase.bDoCrash;
          ProcCrash(tCase.bForce);
        },
        ::testing::KilledBySignal(SIGSEGV), "");
    bool bFound = false;
    EXPECT_EQ(tCapture.Find("PROCESS        ", 209, &bFound), "Crash program");
    EXPECT_TRUE(bFound);
  }
}

TEST(TimeNowAsInt64, MillisecondsAreSecondsTimesThousandPlusTruncatedMicroseconds) {
  const struct {
    time_t tSeconds;
    suseconds_t tMicroseconds;
    int64_t llExpected;
  } atCases[] = {
      {1000000000, 999999, 1000000000999LL},
      {0, 0, 0},
      {0, 999, 0},
      {1, 1000, 1001},
      {4102444800LL, 1500, 4102444800001LL},  // past 32-bit seconds
      {-1, 500000, -500},
  };
  for (const auto& tCase : atCases) {
    SCOPED_TRACE(tCase.llExpected);
    const struct timeval tTime = {tCase.tSeconds, tCase.tMicroseconds};
    EXPECT_EQ(TimeValueAsInt64(&tTime), tCase.llExpected);
  }
}

TEST(TimeNowAsInt64, FollowsTheSystemClock) {
  const int64_t llBefore = static_cast<int64_t>(time(nullptr)) * 1000;
  const int64_t llNow = TimeNowAsInt64();
  const int64_t llAfter = (static_cast<int64_t>(time(nullptr)) + 1) * 1000;
  EXPECT_GE(llNow, llBefore);
  EXPECT_LT(llNow, llAfter);
}

// Attaches a corrected-clock record to the calling context for one test.
class VornTimeTest : public ::testing::Test {
 protected:
  void Attach(int64_t llOffset, int32_t bHaveOffset, const char* pstrSource = "") {
    memset(&tOffset_, 0, sizeof(tOffset_));
    tOffset_.llUTCOffset = llOffset;
    tOffset_.bHaveOffset = bHaveOffset;
    memcpy(tOffset_.acSourceSystem, pstrSource,
           std::min(strlen(pstrSource), sizeof(tOffset_.acSourceSystem)));
    ContextGet()->sProcess.ptVornTime = &tOffset_;
  }
  void TearDown() override { ContextGet()->sProcess.ptVornTime = nullptr; }

  VornTimeOffsetT tOffset_;
};

TEST_F(VornTimeTest, WithoutAValidOffsetReportsFalseAndLeavesTheResult) {
  constexpr time_t kUntouched = 12345;
  for (int32_t bHaveOffset : {-1, 0, 2, 1}) {
    SCOPED_TRACE(bHaveOffset);
    if (bHaveOffset == 1) {
      ContextGet()->sProcess.ptVornTime = nullptr;  // no record at all
    } else {
      Attach(0, bHaveOffset);
    }
    time_t tResult = kUntouched;
    int64_t llResult = kUntouched;
    char acSource[8] = "keep";
    EXPECT_EQ(VornTime(&tResult), FALSE);
    EXPECT_EQ(VornTime(nullptr), FALSE);
    EXPECT_EQ(VornTimeAsInt64(&llResult), FALSE);
    EXPECT_EQ(VornTimeGetSource(acSource, sizeof(acSource)), FALSE);
    EXPECT_EQ(tResult, kUntouched);
    EXPECT_EQ(llResult, kUntouched);
    EXPECT_STREQ(acSource, "keep");
  }
}

TEST_F(VornTimeTest, ValidOffsetIsSubtractedFromTheLocalClock) {
  constexpr int64_t kOffset = 3600123;
  Attach(kOffset, 1, "upstream");
  const int64_t llBefore = TimeNowAsInt64();
  time_t tSeconds = 0;
  int64_t llMilliseconds = 0;
  EXPECT_EQ(VornTime(&tSeconds), TRUE);
  EXPECT_EQ(VornTimeAsInt64(&llMilliseconds), TRUE);
  const int64_t llAfter = TimeNowAsInt64();

  EXPECT_GE(tSeconds, (llBefore - kOffset) / 1000);
  EXPECT_LE(tSeconds, (llAfter - kOffset) / 1000);
  EXPECT_GE(llMilliseconds, llBefore - kOffset);
  EXPECT_LE(llMilliseconds, llAfter - kOffset);
  EXPECT_EQ(VornTime(nullptr), TRUE);
}

TEST_F(VornTimeTest, SecondsBeforeTheEpochAreTruncatedTowardZero) {
  // The corrected time lands between -1999 and -1000 ms unless the two
  // clock readings lie nearly a second apart: -1 s, where flooring gives -2.
  Attach(TimeNowAsInt64() + 1999, 1);
  time_t tSeconds = 0;
  EXPECT_EQ(VornTime(&tSeconds), TRUE);
  EXPECT_EQ(tSeconds, -1);
}

TEST_F(VornTimeTest, OffsetThatLeavesSixtyFourBitsIsUnusable) {
  Attach(INT64_MIN, 1);
  time_t tSeconds = 99;
  EXPECT_EQ(VornTime(&tSeconds), FALSE);
  EXPECT_EQ(tSeconds, 99);
}

TEST_F(VornTimeTest, SourceSystemIsCopiedTerminatedAndCut) {
  const char kFullName[] = "a-source-system-name-of-32-chars";
  static_assert(sizeof(kFullName) - 1 == VORN_SOURCE_SYSTEM_SIZE, "fills the field");
  Attach(0, 1, kFullName);
  char acWide[64];
  EXPECT_EQ(VornTimeGetSource(acWide, sizeof(acWide)), TRUE);
  EXPECT_STREQ(acWide, kFullName);
  char acNarrow[4];
  EXPECT_EQ(VornTimeGetSource(acNarrow, sizeof(acNarrow)), TRUE);
  EXPECT_STREQ(acNarrow, "a-s");
}

}  // namespace
