// The layout of a trace buffer: a TraceBufHeaderT, then a ring of records
// that each hold a TraceRecordS and the message text.
#include "trace_buffer.h"

#include <cstdio>
#include <cstring>

// The smallest record: the fixed part and an empty text, padded.
static const int32_t kMinRecordLength = sizeof(TraceRecordS) + TRACE_RECORD_ALIGNMENT;

static bool TraceIsAligned(const void* pMemory) {
  return reinterpret_cast<uintptr_t>(pMemory) % TRACE_RECORD_ALIGNMENT == 0;
}

static int32_t TraceRoundUp(int32_t lLength) {
  return (lLength + TRACE_RECORD_ALIGNMENT - 1) & ~(TRACE_RECORD_ALIGNMENT - 1);
}

// Bytes of the record area that records may use; 0 when the header is not
// fit to record into. The header may have been written by anyone, so its
// size is checked before use.
static int32_t TraceAreaSize(const TraceBufHeaderT* ptBuffer) {
  if (ptBuffer == nullptr || !TraceIsAligned(ptBuffer) ||
      ptBuffer->bufferSize < static_cast<int32_t>(sizeof(TraceBufHeaderT)) + kMinRecordLength) {
    return 0;
  }
  return (ptBuffer->bufferSize - static_cast<int32_t>(sizeof(TraceBufHeaderT))) &
         ~(TRACE_RECORD_ALIGNMENT - 1);
}

static char* TraceArea(const TraceBufHeaderT* ptBuffer) {
  return reinterpret_cast<char*>(const_cast<TraceBufHeaderT*>(ptBuffer) + 1);
}

TraceBufHeaderT* TraceBufferInitialize(void* pMemory, int32_t lSize, TraceLevelE eLevel) {
  if (pMemory == nullptr || !TraceIsAligned(pMemory) ||
      lSize < static_cast<int32_t>(sizeof(TraceBufHeaderT)) + kMinRecordLength) {
    return nullptr;
  }
  memset(pMemory, 0, lSize);
  TraceBufHeaderT* ptBuffer = static_cast<TraceBufHeaderT*>(pMemory);
  ptBuffer->bufferSize = lSize;
  ptBuffer->eTraceLevel = eLevel;
  return ptBuffer;
}

TracePositionT TraceBufferWrite(TraceBufHeaderT* ptBuffer, const TraceMessageS* ptMessage,
                                const char* pstrFormat, va_list tArgs) {
  const int32_t lAreaSize = TraceAreaSize(ptBuffer);
  if (lAreaSize == 0) {
    return TRACE_NO_POSITION;
  }

  va_list tSizing;
  va_copy(tSizing, tArgs);
  const int lFullText = vsnprintf(nullptr, 0, pstrFormat, tSizing);
  va_end(tSizing);
  // A text that cannot be expanded is recorded empty; one too long for the
  // area is cut.
  const int32_t lMaxText = lAreaSize - static_cast<int32_t>(sizeof(TraceRecordS));
  int32_t lTextLength = lFullText < 0 ? 1 : (lFullText < lMaxText ? lFullText + 1 : lMaxText);
  const int32_t lRecordLength = TraceRoundUp(sizeof(TraceRecordS) + lTextLength);

  int32_t lPosition = ptBuffer->currentBufPosition;
  if (lPosition < 0 || lPosition % TRACE_RECORD_ALIGNMENT != 0 ||
      lPosition > lAreaSize - lRecordLength) {
    lPosition = 0;
  }

  char* pRecordStart = TraceArea(ptBuffer) + lPosition;
  memset(pRecordStart, 0, lRecordLength);
  TraceRecordS* ptRecord = reinterpret_cast<TraceRecordS*>(pRecordStart);
  ptRecord->lSequenceNumber = ptMessage->lSequenceNumber;
  ptRecord->lId = ptMessage->lId;
  ptRecord->lStatusCode = ptMessage->lStatusCode;
  ptRecord->eLevel = ptMessage->eLevel;
  ptRecord->llTime = ptMessage->llTime;
  if (ptMessage->pstrModuleId != nullptr) {
    strncpy(ptRecord->acModuleId, ptMessage->pstrModuleId, TRACE_MODULE_ID_SIZE - 1);
  }
  ptRecord->lTextLength = lTextLength;
  ptRecord->lRecordLength = lRecordLength;
  if (lFullText >= 0) {
    vsnprintf(pRecordStart + sizeof(TraceRecordS), lTextLength, pstrFormat, tArgs);
  }

  ptBuffer->currentBufPosition = lPosition + lRecordLength;
  return TracePositionT{lPosition, ptMessage->lSequenceNumber, ptBuffer};
}

const TraceRecordS* TraceRecordAt(const TraceBufHeaderT* ptBuffer, int32_t lPosition) {
  const int32_t lAreaSize = TraceAreaSize(ptBuffer);
  if (lPosition < 0 || lPosition % TRACE_RECORD_ALIGNMENT != 0 ||
      lPosition > lAreaSize - kMinRecordLength) {
    return nullptr;
  }
  const TraceRecordS* ptRecord =
      reinterpret_cast<const TraceRecordS*>(TraceArea(ptBuffer) + lPosition);
  const int32_t lFixed = sizeof(TraceRecordS);
  if (ptRecord->lRecordLength < kMinRecordLength ||
      ptRecord->lRecordLength > lAreaSize - lPosition || ptRecord->lTextLength < 1 ||
      ptRecord->lTextLength > ptRecord->lRecordLength - lFixed ||
      TraceRecordText(ptRecord)[ptRecord->lTextLength - 1] != '\0') {
    return nullptr;
  }
  return ptRecord;
}

const char* TraceRecordText(const TraceRecordS* ptRecord) {
  return reinterpret_cast<const char*>(ptRecord + 1);
}
