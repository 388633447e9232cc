// Basic types of the core runtime library: the 32-bit boolean that its
// operations return and take.
#ifndef CORE_TYPES_H
#define CORE_TYPES_H

#include <cstdint>

// Signed 32 bits wide so that it can sit in records shared with code that
// stores it as a plain integer.
typedef int32_t BooleanT;

// Other headers of the platform may define the same two names with the same
// values; either definition will do.
#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#endif  // CORE_TYPES_H
