// Which optional x86 instruction sets the processor offers, for the crypto
// code's run-time choice of its faster paths. Elsewhere: none.
#ifndef EXTERNAL_CPU_FEATURES_H
#define EXTERNAL_CPU_FEATURES_H

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>

// AES round instructions, with SSE4.1 beside them.
inline bool cpu_has_aes() {
  unsigned eax, ebx, ecx, edx;
  return __get_cpuid(1, &eax, &ebx, &ecx, &edx) && (ecx & bit_AES) && (ecx & bit_SSE4_1);
}

// BMI2 (rorx: a rotation that keeps its source and leaves the flags alone).
inline bool cpu_has_bmi2() {
  unsigned eax, ebx, ecx, edx;
  return __get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) && (ebx & bit_BMI2);
}
#else
inline bool cpu_has_aes() { return false; }
inline bool cpu_has_bmi2() { return false; }
#endif

#endif  // EXTERNAL_CPU_FEATURES_H
