// Clearing key material in a way the compiler may not drop as a dead store.
#ifndef EXTERNAL_HMAC_WIPE_H
#define EXTERNAL_HMAC_WIPE_H

#include <cstddef>
#include <cstring>

inline void wipe_secret(void* p, size_t n) { explicit_bzero(p, n); }

#endif  // EXTERNAL_HMAC_WIPE_H
