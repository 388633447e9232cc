// The context records, the five conditions of the trace gate, and how a
// passing message is recorded in the attached buffer.
#include <gtest/gtest.h>

#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "core/context.h"
#include "core/memory.h"
#include "core/time.h"
#include "core/trace.h"
#include "trace_capture.h"

namespace {

const char kTestModule[] = "TEST       ";
constexpr int32_t kStatus = 7;

// Deliberately without a format attribute: the tests pass formats that do
// not match their arguments, and a null format.
TracePositionT TraceFromTest(int32_t lId, TraceLevelE eLevel, const char* pstrFormat, ...) {
  va_list tArgs;
  va_start(tArgs, pstrFormat);
  TracePositionT tPosition = TraceMessageVa(kTestModule, lId, kStatus, eLevel, pstrFormat, tArgs);
  va_end(tArgs);
  return tPosition;
}

void ExpectNoPosition(const TracePositionT& tPosition) {
  EXPECT_EQ(tPosition.lPosition, -1);
  EXPECT_EQ(tPosition.lSequenceNumber, -1);
  EXPECT_EQ(tPosition.pTraceBuffer, nullptr);
}

TEST(Context, UnthreadedProcessHasOneStaticRecordForEveryThread) {
  OrvantisContextT* ptContext = ContextGet();
  EXPECT_EQ(ContextValid(), TRUE);
  EXPECT_EQ(ContextGet(), ptContext);
  OrvantisContextT* ptOtherThreads = nullptr;
  std::thread([&] { ptOtherThreads = ContextGet(); }).join();
  EXPECT_EQ(ptOtherThreads, ptContext);

  EXPECT_EQ(ptContext->sTrace.bDisabled, FALSE);
  EXPECT_EQ(ptContext->sTrace.ptBufHeader, nullptr);
  EXPECT_EQ(ptContext->sProcess.ptDetails, nullptr);
  EXPECT_EQ(ptContext->sProcess.ptVornTime, nullptr);
}

TEST(TraceGate, NullFormatRecordsNothingEvenWithABufferAttached) {
  TraceCapture tCapture;
  ExpectNoPosition(TraceFromTest(1, TRACE_LEVEL_ERROR, nullptr));
  EXPECT_EQ(tCapture.Count(), 0);
}

TEST(TraceGate, DisabledTracingRecordsNothing) {
  TraceCapture tCapture;
  for (BooleanT bDisabled : {TRUE, 2, -1}) {
    ContextGet()->sTrace.bDisabled = bDisabled;
    ExpectNoPosition(TraceFromTest(1, TRACE_LEVEL_ERROR, "disabled"));
  }
  ContextGet()->sTrace.bDisabled = FALSE;
  EXPECT_EQ(tCapture.Count(), 0);
  EXPECT_EQ(TraceFromTest(1, TRACE_LEVEL_ERROR, "enabled").lPosition, 0);
}

TEST(TraceGate, WithoutABufferTheFormatIsNeverExpanded) {
  int lWritten = -1;
  // %n would store the count of characters written if the format were
  // expanded; the %s without arguments would read garbage.
  ExpectNoPosition(TraceFromTest(1, TRACE_LEVEL_ERROR, "%n", &lWritten));
  ExpectNoPosition(TraceFromTest(1, TRACE_LEVEL_ERROR, "%s %s %s"));
  EXPECT_EQ(lWritten, -1);

  TraceCapture tCapture;
  EXPECT_EQ(TraceFromTest(1, TRACE_LEVEL_ERROR, "%n", &lWritten).lPosition, 0);
  EXPECT_EQ(lWritten, 0);
}

TEST(TraceGate, LevelAboveTheBufferLevelRecordsNothing) {
  const struct {
    TraceLevelE eLevel;
    bool bRecorded;
  } atCases[] = {{INT32_MAX, false}, {4, false}, {3, true},
                 {0, true},          {-1, true}, {INT32_MIN, true}};
  TraceCapture tCapture(3);
  for (const auto& tCase : atCases) {
    SCOPED_TRACE(tCase.eLevel);
    const TracePositionT tPosition = TraceFromTest(1, tCase.eLevel, "level %d", tCase.eLevel);
    EXPECT_EQ(tPosition.lPosition >= 0, tCase.bRecorded);
    EXPECT_EQ(tPosition.pTraceBuffer != nullptr, tCase.bRecorded);
  }
  EXPECT_EQ(tCapture.Count(), 4);
}

TEST(TraceGate, ThreadWithoutAContextRecordsNothing) {
  alignas(8) static char acMemory[4096];
  OrvantisContextT tThreadContext;
  ContextInitialize(&tThreadContext);
  tThreadContext.sTrace.ptBufHeader =
      TraceBufferInitialize(acMemory, sizeof(acMemory), TRACE_LEVEL_DETAIL);
  ASSERT_EQ(ContextSetThreaded(TRUE), TRUE);

  // This thread has no record yet: no trace, and the other services carry
  // on without counting or a corrected clock.
  EXPECT_EQ(ContextValid(), FALSE);
  EXPECT_EQ(ContextGet(), nullptr);
  ExpectNoPosition(TraceFromTest(1, TRACE_LEVEL_ERROR, "no context"));
  void* pData = MemAllocateFromPool(8, nullptr);
  EXPECT_EQ(MemFreeInternal(&pData), TRUE);
  EXPECT_EQ(VornTime(nullptr), FALSE);

  ASSERT_EQ(ContextAttachThread(&tThreadContext), TRUE);
  EXPECT_EQ(ContextValid(), TRUE);
  EXPECT_EQ(ContextGet(), &tThreadContext);
  EXPECT_EQ(TraceFromTest(1, TRACE_LEVEL_ERROR, "own context").pTraceBuffer,
            tThreadContext.sTrace.ptBufHeader);

  // Another thread does not see this thread's record.
  BooleanT bOtherValid = TRUE;
  std::thread([&] { bOtherValid = ContextValid(); }).join();
  EXPECT_EQ(bOtherValid, FALSE);

  ContextAttachThread(nullptr);
  ContextSetThreaded(FALSE);
  ContextRelease(&tThreadContext);
  EXPECT_EQ(ContextValid(), TRUE);
}

TEST(TraceBuffer, PassingMessageIsRecordedWithItsFields) {
  TraceCapture tCapture;
  const TracePositionT tFirst = TraceFromTest(42, TRACE_LEVEL_DETAIL, "value %d of %s", 5, "six");
  const TracePositionT tSecond = TraceFromTest(43, TRACE_LEVEL_ERROR, "next");

  EXPECT_EQ(tFirst.lPosition, 0);
  EXPECT_EQ(tFirst.pTraceBuffer, tCapture.Buffer());
  EXPECT_GT(tSecond.lPosition, tFirst.lPosition);
  EXPECT_EQ(tSecond.lSequenceNumber, tFirst.lSequenceNumber + 1);

  const TraceRecordS* ptRecord = TraceRecordAt(tCapture.Buffer(), tFirst.lPosition);
  ASSERT_NE(ptRecord, nullptr);
  EXPECT_EQ(ptRecord->lSequenceNumber, tFirst.lSequenceNumber);
  EXPECT_EQ(ptRecord->lId, 42);
  EXPECT_EQ(ptRecord->lStatusCode, kStatus);
  EXPECT_EQ(ptRecord->eLevel, TRACE_LEVEL_DETAIL);
  EXPECT_EQ(ptRecord->llTime, 0);
  EXPECT_STREQ(ptRecord->acModuleId, kTestModule);
  EXPECT_STREQ(TraceRecordText(ptRecord), "value 5 of six");
  EXPECT_EQ(tCapture.Find(kTestModule, 43), "next");
}

TEST(TraceBuffer, RecordThatDoesNotFitAtTheEndGoesBackToTheStart) {
  // Room for two records of this text but not three.
  TraceCapture tCapture(TRACE_LEVEL_DETAIL, sizeof(TraceBufHeaderT) + 2 * 64 + 56);
  const std::string strText(10, 'x');  // 48 + 11 bytes, padded to 64
  std::vector<int32_t> alPositions;
  for (int i = 0; i < 4; i++) {
    alPositions.push_back(TraceFromTest(i, TRACE_LEVEL_DETAIL, "%s", strText.c_str()).lPosition);
  }
  EXPECT_EQ(alPositions, (std::vector<int32_t>{0, 64, 0, 64}));
  EXPECT_EQ(TraceRecordAt(tCapture.Buffer(), 0)->lId, 2);
}

TEST(TraceBuffer, TextTooLongForTheWholeAreaIsCut) {
  constexpr int32_t kArea = 128;
  TraceCapture tCapture(TRACE_LEVEL_DETAIL, sizeof(TraceBufHeaderT) + kArea);
  const std::string strLong(500, 'y');
  const TracePositionT tPosition = TraceFromTest(1, TRACE_LEVEL_DETAIL, "%s", strLong.c_str());
  ASSERT_EQ(tPosition.lPosition, 0);
  const TraceRecordS* ptRecord = TraceRecordAt(tCapture.Buffer(), 0);
  ASSERT_NE(ptRecord, nullptr);
  EXPECT_EQ(ptRecord->lRecordLength, kArea);
  EXPECT_EQ(std::string(TraceRecordText(ptRecord)),
            strLong.substr(0, kArea - sizeof(TraceRecordS) - 1));
}

TEST(TraceBuffer, UnfitMemoryIsRefusedAndABadPositionRestartsAtZero) {
  alignas(8) static char acMemory[256];
  EXPECT_EQ(TraceBufferInitialize(nullptr, 256, 0), nullptr);
  EXPECT_EQ(TraceBufferInitialize(acMemory + 4, 200, 0), nullptr);
  EXPECT_EQ(TraceBufferInitialize(acMemory, sizeof(TraceBufHeaderT) + 55, 0), nullptr);
  ASSERT_NE(TraceBufferInitialize(acMemory, sizeof(TraceBufHeaderT) + 56, 0), nullptr);

  // A header damaged after it was attached.
  TraceCapture tCapture;
  TraceBufHeaderT* ptBuffer = tCapture.Buffer();
  const int32_t lGoodSize = ptBuffer->bufferSize;
  for (int32_t lSize : {-16, 0, 16, 71}) {
    SCOPED_TRACE(lSize);
    ptBuffer->bufferSize = lSize;
    ExpectNoPosition(TraceFromTest(1, TRACE_LEVEL_ERROR, "bad size"));
  }
  ptBuffer->bufferSize = lGoodSize;
  for (int32_t lPosition : {-8, 3, lGoodSize, INT32_MAX}) {
    SCOPED_TRACE(lPosition);
    ptBuffer->currentBufPosition = lPosition;
    EXPECT_EQ(TraceFromTest(1, TRACE_LEVEL_ERROR, "bad position").lPosition, 0);
  }
  EXPECT_EQ(TraceRecordAt(ptBuffer, 8), nullptr);  // not a record boundary
  EXPECT_EQ(TraceRecordAt(ptBuffer, -8), nullptr);
  EXPECT_EQ(TraceRecordAt(ptBuffer, lGoodSize), nullptr);
}

TEST(TraceBuffer, RecordsAreStampedWithTheCorrectedClockWhenAsked) {
  TraceCapture tCapture;
  ContextGet()->sTrace.bStampTime = TRUE;

  const time_t tBefore = time(nullptr);
  const int32_t lSystem = TraceFromTest(1, TRACE_LEVEL_ERROR, "system clock").lPosition;
  const time_t tAfter = time(nullptr);
  EXPECT_GE(TraceRecordAt(tCapture.Buffer(), lSystem)->llTime, tBefore);
  EXPECT_LE(TraceRecordAt(tCapture.Buffer(), lSystem)->llTime, tAfter);

  constexpr int64_t kTenDaysMs = 10LL * 86400 * 1000;
  VornTimeOffsetT tOffset = {kTenDaysMs, 1, "upstream"};
  ContextGet()->sProcess.ptVornTime = &tOffset;
  const int32_t lCorrected = TraceFromTest(1, TRACE_LEVEL_ERROR, "corrected clock").lPosition;
  const time_t tAfterCorrected = time(nullptr);
  ContextGet()->sProcess.ptVornTime = nullptr;
  ContextGet()->sTrace.bStampTime = FALSE;
  EXPECT_GE(TraceRecordAt(tCapture.Buffer(), lCorrected)->llTime, tBefore - kTenDaysMs / 1000);
  EXPECT_LE(TraceRecordAt(tCapture.Buffer(), lCorrected)->llTime,
            tAfterCorrected - kTenDaysMs / 1000);
}

}  // namespace
