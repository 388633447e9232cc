// The millisecond system clock and the corrected clock that follows another
// system's time.
#include "core/time.h"

#include <cstring>

#include "core/process.h"

static const int64_t kMillisecondsPerSecond = 1000;
static const int64_t kMicrosecondsPerMillisecond = 1000;

int64_t TimeValueAsInt64(const struct timeval* ptTime) {
  return static_cast<int64_t>(ptTime->tv_sec) * kMillisecondsPerSecond +
         static_cast<int64_t>(ptTime->tv_usec) / kMicrosecondsPerMillisecond;
}

int64_t TimeNowAsInt64() {
  struct timeval tNow;
  gettimeofday(&tNow, nullptr);
  return TimeValueAsInt64(&tNow);
}

// The corrected-clock record when it holds a valid offset, else null.
static const VornTimeOffsetT* VornTimeOffset() {
  const VornTimeOffsetT* ptOffset = ProcGetVornTimeArea();
  return ptOffset != nullptr && ptOffset->bHaveOffset == 1 ? ptOffset : nullptr;
}

BooleanT VornTimeAsInt64(int64_t* pllResult) {
  const VornTimeOffsetT* ptOffset = VornTimeOffset();
  if (ptOffset == nullptr) {
    return FALSE;
  }
  if (pllResult == nullptr) {
    return TRUE;
  }
  int64_t llCorrected;
  // An offset that takes the time out of 64 bits is no usable offset.
  if (__builtin_sub_overflow(TimeNowAsInt64(), ptOffset->llUTCOffset, &llCorrected)) {
    return FALSE;
  }
  *pllResult = llCorrected;
  return TRUE;
}

BooleanT VornTime(time_t* ptResult) {
  if (ptResult == nullptr) {
    return VornTimeOffset() != nullptr ? TRUE : FALSE;
  }
  int64_t llCorrected;
  if (!VornTimeAsInt64(&llCorrected)) {
    return FALSE;
  }
  *ptResult = static_cast<time_t>(llCorrected / kMillisecondsPerSecond);
  return TRUE;
}

BooleanT VornTimeGetSource(char* pstrSource, int32_t lSize) {
  const VornTimeOffsetT* ptOffset = VornTimeOffset();
  if (ptOffset == nullptr || pstrSource == nullptr || lSize < 1) {
    return FALSE;
  }
  size_t lLength = strnlen(ptOffset->acSourceSystem, sizeof(ptOffset->acSourceSystem));
  if (lLength > static_cast<size_t>(lSize - 1)) {
    lLength = lSize - 1;
  }
  memcpy(pstrSource, ptOffset->acSourceSystem, lLength);
  pstrSource[lLength] = '\0';
  return TRUE;
}
