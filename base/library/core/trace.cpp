// The trace gate: decides whether a message is recorded in the calling
// context's buffer, and records it there when it is.
#include "core/trace.h"

#include <pthread.h>

#include <ctime>

#include "core/context.h"
#include "core/time.h"
#include "trace_buffer.h"

// Seconds for a record's stamp: the corrected clock when one is known, else
// the system's.
static int64_t TraceStampTime() {
  time_t tNow;
  if (!VornTime(&tNow)) {
    tNow = time(nullptr);
  }
  return static_cast<int64_t>(tNow);
}

TracePositionT TraceMessageVa(const char* pstrModuleId, int32_t lId, int32_t lStatusCode,
                              TraceLevelE eLevel, const char* pstrFormat, va_list tArgs) {
  if (!ContextValid() || pstrFormat == nullptr) {
    return TRACE_NO_POSITION;
  }
  ContextTraceS* ptTrace = &ContextGet()->sTrace;
  if (ptTrace->bDisabled != FALSE || ptTrace->ptBufHeader == nullptr ||
      eLevel > ptTrace->ptBufHeader->eTraceLevel) {
    return TRACE_NO_POSITION;
  }

  TraceMessageS tMessage = {pstrModuleId, lId, lStatusCode, eLevel, 0, 0};
  if (ptTrace->bStampTime) {
    tMessage.llTime = TraceStampTime();
  }
  pthread_mutex_lock(&ptTrace->tLock);
  // The sequence stays positive: -1 is the no-position value.
  tMessage.lSequenceNumber =
      ptTrace->lSequenceNumber == INT32_MAX ? 1 : ptTrace->lSequenceNumber + 1;
  TracePositionT tPosition = TraceBufferWrite(ptTrace->ptBufHeader, &tMessage, pstrFormat, tArgs);
  if (tPosition.lPosition >= 0) {
    ptTrace->lSequenceNumber = tMessage.lSequenceNumber;
  }
  pthread_mutex_unlock(&ptTrace->tLock);
  return tPosition;
}
