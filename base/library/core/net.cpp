// Select masks and the wait on them with a time-out relative to now.
#include "core/net.h"

#include <sys/time.h>

#include <cerrno>
#include <cstring>

#include "core/memory.h"
#include "core/trace.h"

TRACE_DEFINE_MODULE_INLINE("NET        ")

static const int32_t kTraceIdWaitForever = 129;
static const int32_t kTraceIdPoll = 130;
static const int32_t kTraceIdWaitTimed = 131;
static const int32_t kTraceIdSelectFailed = 132;
static const int32_t kTraceIdSelectResult = 133;

static const int32_t kMillisecondsPerSecond = 1000;
static const int32_t kMicrosecondsPerMillisecond = 1000;

static MemPoolIdT MemDefaultPoolIdCache = nullptr;

void NetInitializeSelectMask(NetSelectMaskS** ptMask) {
  if (ptMask == nullptr) {
    return;
  }
  // Pool memory is zero-filled: three empty sets and no descriptors.
  *ptMask = static_cast<NetSelectMaskS*>(
      MemAllocateFromPool(sizeof(NetSelectMaskS), MemDefaultPoolFromCache(&MemDefaultPoolIdCache)));
}

void NetReleaseSelectMask(NetSelectMaskS** ptMask) {
  if (ptMask == nullptr) {
    return;
  }
  void* pDataArea = *ptMask;
  MemFreeInternal(&pDataArea);
  *ptMask = static_cast<NetSelectMaskS*>(pDataArea);
}

NetErrorE NetSelectRelative(int32_t* plSelected, NetSelectMaskS* tMask, int32_t lTimeout) {
  NetErrorE eResult = NET_ERROR_FATAL;

  struct timeval tTimeout = {0, 0};
  struct timeval* ptTimeout = &tTimeout;
  if (lTimeout < 0) {
    ptTimeout = nullptr;
    TraceMessageInline(kTraceIdWaitForever, 0, TRACE_LEVEL_DETAIL, "Wait for data (no timeout)");
  } else if (lTimeout == 0) {
    TraceMessageInline(kTraceIdPoll, 0, TRACE_LEVEL_DETAIL, "poll for data");
  } else {
    tTimeout.tv_sec = lTimeout / kMillisecondsPerSecond;
    tTimeout.tv_usec = (lTimeout % kMillisecondsPerSecond) * kMicrosecondsPerMillisecond;
    TraceMessageInline(kTraceIdWaitTimed, 0, TRACE_LEVEL_DETAIL, "Wait %ld milliseconds for data",
                       static_cast<long>(lTimeout));
  }

  const int lSelected =
      select(tMask->tSelectBits, &tMask->tRecvFds, &tMask->tSendFds, &tMask->tExcpFds, ptTimeout);
  const int lError = errno;
  if (lSelected == 0) {
    eResult = NET_ERROR_TIMEOUT;
  } else if (lSelected < 0 && lError == EINTR) {
    // Not retried: the caller sees the interruption, and a sleep ends early.
    eResult = NET_ERROR_INTERRUPTED;
  } else if (lSelected < 0) {
    TraceMessageInline(kTraceIdSelectFailed, lError, TRACE_LEVEL_ERROR,
                       "Fatal network select error: %s", strerror(lError));
  } else {
    eResult = NET_ERROR_NONE;
    if (plSelected != nullptr) {
      *plSelected = lSelected;
    }
  }

  TraceMessageInline(kTraceIdSelectResult, 0, TRACE_LEVEL_DETAIL,
                     "%d = NetSelectRelative(%p, %p, %ld) %ld", static_cast<int>(eResult),
                     static_cast<void*>(plSelected), static_cast<void*>(tMask),
                     static_cast<long>(lTimeout), static_cast<long>(lSelected));
  return eResult;
}
