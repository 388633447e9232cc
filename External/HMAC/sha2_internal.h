// The run-time choice of the SHA-512 compression variant, for tests and
// benchmarks.
#ifndef EXTERNAL_HMAC_SHA2_INTERNAL_H
#define EXTERNAL_HMAC_SHA2_INTERNAL_H

// The compression is compiled twice, for any processor and for one with
// BMI2; the BMI2 variant runs by default wherever the processor has it.
// Returns whether it is now used.
bool sha512_use_bmi2(bool wanted);

#endif  // EXTERNAL_HMAC_SHA2_INTERNAL_H
