// Clocks of the core runtime library: the millisecond system clock and the
// corrected clock that follows another system's time.
#ifndef CORE_TIME_H
#define CORE_TIME_H

#include <sys/time.h>

#include <cstdint>
#include <ctime>

#include "core/types.h"

constexpr int32_t VORN_SOURCE_SYSTEM_SIZE = 32;

// The corrected clock: the local clock minus an offset learnt from the
// system named in acSourceSystem. Reached through ProcGetVornTimeArea.
struct VornTimeOffsetT {
  int64_t llUTCOffset;                           // milliseconds to subtract from the local clock
  int32_t bHaveOffset;                           // 1 when llUTCOffset is valid
  char acSourceSystem[VORN_SOURCE_SYSTEM_SIZE];  // not necessarily NUL-terminated
};

// Milliseconds since 1970-01-01 00:00:00 UTC.
int64_t TimeNowAsInt64();

// The same count for a time of day read from the system clock.
int64_t TimeValueAsInt64(const struct timeval* ptTime);

// Stores the corrected time in seconds in *ptResult (when not null) and
// returns TRUE; returns FALSE and stores nothing when no offset is known.
BooleanT VornTime(time_t* ptResult);

// VornTime in milliseconds.
BooleanT VornTimeAsInt64(int64_t* pllResult);

// Copies the name of the followed system, NUL-terminated and cut to
// lSize - 1 characters, into pstrSource. FALSE when no offset is known.
BooleanT VornTimeGetSource(char* pstrSource, int32_t lSize);

#endif  // CORE_TIME_H
