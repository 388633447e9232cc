// Context of the capture side's random generator. The writer never draws
// random numbers; the record exists because the checkpoint record reserves
// its place (all zero in files the writer creates).
#ifndef EXTERNAL_AES_PRNG_H
#define EXTERNAL_AES_PRNG_H

enum { PRNG_CTX_SIZE = 528 };

struct prng_ctx {
  unsigned char opaque[PRNG_CTX_SIZE];
};
static_assert(sizeof(prng_ctx) == PRNG_CTX_SIZE, "prng_ctx size");

#endif  // EXTERNAL_AES_PRNG_H
