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

// Whether the operating system saves the given register state (bits of
// XCR0) across context switches; false where it cannot say.
inline bool os_saves_registers(unsigned state) {
  unsigned eax, ebx, ecx, edx;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx) || !(ecx & bit_OSXSAVE)) return false;
  unsigned xcr0_low, xcr0_high;
  __asm__("xgetbv" : "=a"(xcr0_low), "=d"(xcr0_high) : "c"(0));
  return (xcr0_low & state) == state;
}

enum : unsigned {
  XCR0_SSE_AVX = 0x6,  // XMM and the upper halves of YMM
  XCR0_AVX512 = 0xe0,  // opmasks, the upper halves of ZMM0-15, ZMM16-31
};

// AVX2, with its 256-bit registers saved by the operating system.
inline bool cpu_has_avx2() {
  unsigned eax, ebx, ecx, edx;
  return os_saves_registers(XCR0_SSE_AVX) && __get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) &&
         (ebx & bit_AVX2);
}

// AVX-512 Foundation with the vector-length extension (its instructions on
// 128- and 256-bit vectors), with the AVX-512 registers saved.
inline bool cpu_has_avx512vl() {
  unsigned eax, ebx, ecx, edx;
  return os_saves_registers(XCR0_SSE_AVX | XCR0_AVX512) &&
         __get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) && (ebx & bit_AVX512F) &&
         (ebx & bit_AVX512VL);
}
#else
inline bool cpu_has_aes() { return false; }
inline bool cpu_has_bmi2() { return false; }
inline bool cpu_has_avx2() { return false; }
inline bool cpu_has_avx512vl() { return false; }
#endif

#endif  // EXTERNAL_CPU_FEATURES_H
