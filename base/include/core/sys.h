// System services of the core runtime library: sleeping.
#ifndef CORE_SYS_H
#define CORE_SYS_H

#include <cstdint>

// Waits about lSeconds seconds (negative: until a signal arrives). A signal
// ends the wait early; the rest is not slept.
void SysSleep(int32_t lSeconds);

#endif  // CORE_SYS_H
