// Sleeping: a wait on an empty select mask, which a signal may cut short.
#include "core/sys.h"

#include <cstdint>

#include "core/net.h"

static const int64_t kMillisecondsPerSecond = 1000;

void SysSleep(int32_t lSeconds) {
  // The wait takes milliseconds in 32 bits; longer sleeps are cut to the
  // longest wait that fits, and a negative count still means no time-out.
  int64_t llMilliseconds = lSeconds * kMillisecondsPerSecond;
  if (llMilliseconds > INT32_MAX) {
    llMilliseconds = INT32_MAX;
  } else if (llMilliseconds < INT32_MIN) {
    llMilliseconds = INT32_MIN;
  }

  NetSelectMaskS* ptMask = nullptr;
  NetInitializeSelectMask(&ptMask);
  // Every outcome ends the sleep: time-out, interruption or failure alike.
  NetSelectRelative(nullptr, ptMask, static_cast<int32_t>(llMilliseconds));
  NetReleaseSelectMask(&ptMask);
}
