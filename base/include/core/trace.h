// Numbered, levelled trace messages of the core runtime library and the
// buffer they are recorded in when a buffer is attached to the calling
// context.
#ifndef CORE_TRACE_H
#define CORE_TRACE_H

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "core/types.h"

// A message passes when its level is at most the attached buffer's level.
typedef int32_t TraceLevelE;
constexpr TraceLevelE TRACE_LEVEL_ERROR = -1;
constexpr TraceLevelE TRACE_LEVEL_DETAIL = 4;

// Head of a trace buffer; the records follow it directly. The buffer's
// memory must be 8-byte aligned because records hold 64-bit fields.
struct TraceBufHeaderT {
  int32_t bufferSize;          // bytes of the whole buffer, this header included
  int32_t currentBufPosition;  // offset in the record area where the next record goes
  int32_t traceMask;           // kept for the buffer's owner; the gate does not read it
  TraceLevelE eTraceLevel;
};
static_assert(sizeof(TraceBufHeaderT) == 16, "trace buffer header size");
static_assert(offsetof(TraceBufHeaderT, bufferSize) == 0, "bufferSize offset");
static_assert(offsetof(TraceBufHeaderT, currentBufPosition) == 4, "currentBufPosition offset");
static_assert(offsetof(TraceBufHeaderT, traceMask) == 8, "traceMask offset");
static_assert(offsetof(TraceBufHeaderT, eTraceLevel) == 12, "eTraceLevel offset");

// Where a message was recorded. Every trace call returns one.
struct TracePositionT {
  int32_t lPosition;        // offset of the record in the buffer's record area
  int32_t lSequenceNumber;  // counts the records of the recording context
  TraceBufHeaderT* pTraceBuffer;
};

// The result of a trace call that recorded nothing.
constexpr TracePositionT TRACE_NO_POSITION = {-1, -1, nullptr};

// Blank-padded module names longer than this are cut in records.
constexpr int32_t TRACE_MODULE_ID_SIZE = 16;

// One recorded message: this fixed part, then its text with the
// terminating NUL, then padding up to the next multiple of 8.
struct TraceRecordS {
  int32_t lSequenceNumber;
  int32_t lId;
  int32_t lStatusCode;
  TraceLevelE eLevel;
  int64_t llTime;  // seconds since 1970 when the context asks for stamps, else 0
  char acModuleId[TRACE_MODULE_ID_SIZE];  // NUL-terminated
  int32_t lTextLength;    // bytes of text, the NUL included; the text may be cut to fit
  int32_t lRecordLength;  // bytes of the whole record, padding included
};
static_assert(sizeof(TraceRecordS) == 48, "trace record size");
static_assert(offsetof(TraceRecordS, lSequenceNumber) == 0, "lSequenceNumber offset");
static_assert(offsetof(TraceRecordS, lId) == 4, "lId offset");
static_assert(offsetof(TraceRecordS, lStatusCode) == 8, "lStatusCode offset");
static_assert(offsetof(TraceRecordS, eLevel) == 12, "eLevel offset");
static_assert(offsetof(TraceRecordS, llTime) == 16, "llTime offset");
static_assert(offsetof(TraceRecordS, acModuleId) == 24, "acModuleId offset");
static_assert(offsetof(TraceRecordS, lTextLength) == 40, "lTextLength offset");
static_assert(offsetof(TraceRecordS, lRecordLength) == 44, "lRecordLength offset");

// Records start at multiples of this within the record area.
constexpr int32_t TRACE_RECORD_ALIGNMENT = 8;

// Records a message in the calling context's buffer if the gate lets it
// through: the context is valid, pstrFormat is not null, tracing is not
// disabled, a buffer is attached and eLevel is at most the buffer's level.
// Otherwise returns TRACE_NO_POSITION without expanding the format.
TracePositionT TraceMessageVa(const char* pstrModuleId, int32_t lId, int32_t lStatusCode,
                              TraceLevelE eLevel, const char* pstrFormat, va_list tArgs);

// Lays out an empty buffer of lSize bytes at pMemory (8-byte aligned) that
// records messages up to eLevel. Returns null when the memory is misaligned
// or too small to hold one record.
TraceBufHeaderT* TraceBufferInitialize(void* pMemory, int32_t lSize, TraceLevelE eLevel);

// The record at lPosition of the buffer's record area, or null when no
// whole record fits there.
const TraceRecordS* TraceRecordAt(const TraceBufHeaderT* ptBuffer, int32_t lPosition);

// The text that follows a record's fixed part.
const char* TraceRecordText(const TraceRecordS* ptRecord);

// Defines the calling source module's own file-static TraceMessageInline,
// which sends every message with that module's identifier.
#define TRACE_DEFINE_MODULE_INLINE(pstrModuleId)                                                   \
  [[maybe_unused]] __attribute__((format(printf, 4, 5))) static TracePositionT TraceMessageInline( \
      int32_t lTraceId, int32_t lStatusCode, TraceLevelE eLevel, const char* pstrFormat, ...) {    \
    va_list tArgs;                                                                                 \
    va_start(tArgs, pstrFormat);                                                                   \
    TracePositionT tPosition =                                                                     \
        TraceMessageVa(pstrModuleId, lTraceId, lStatusCode, eLevel, pstrFormat, tArgs);            \
    va_end(tArgs);                                                                                 \
    return tPosition;                                                                              \
  }

#endif  // CORE_TRACE_H
