// Writing records into a trace buffer, for the trace gate. Callers hold
// the recording context's trace lock.
#ifndef CORE_TRACE_BUFFER_H
#define CORE_TRACE_BUFFER_H

#include <cstdarg>
#include <cstdint>

#include "core/trace.h"

// What a record says besides its text.
struct TraceMessageS {
  const char* pstrModuleId;
  int32_t lId;
  int32_t lStatusCode;
  TraceLevelE eLevel;
  int32_t lSequenceNumber;
  int64_t llTime;
};

// Appends the message with its expanded text, going back to the start of
// the record area when the end has no room and cutting a text too long for
// the whole area. TRACE_NO_POSITION when the buffer cannot take a record.
TracePositionT TraceBufferWrite(TraceBufHeaderT* ptBuffer, const TraceMessageS* ptMessage,
                                const char* pstrFormat, va_list tArgs);

#endif  // CORE_TRACE_BUFFER_H
