// The run-time choice of the SHA-512 compression variant, for tests and
// benchmarks.
#ifndef EXTERNAL_HMAC_SHA2_INTERNAL_H
#define EXTERNAL_HMAC_SHA2_INTERNAL_H

// The compiled variants of the compression, slowest first: for any
// processor; with BMI2; with BMI2 and the message schedule in AVX2 vectors;
// the same with AVX-512VL's rotations.
enum sha512_compression {
  SHA512_GENERIC,
  SHA512_BMI2,
  SHA512_AVX2,
  SHA512_AVX512VL,
  SHA512_COMPRESSIONS
};

// Makes the variant the one in use if this processor can run it; returns
// whether it did (if not, the variant in use stays).
bool sha512_use(sha512_compression variant);

// Makes the fastest variant this processor can run the one in use, as it is
// by default, and returns it.
sha512_compression sha512_use_fastest();

#endif  // EXTERNAL_HMAC_SHA2_INTERNAL_H
