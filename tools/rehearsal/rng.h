// The rehearsal engine's deterministic pseudo-random numbers (splitmix64): the same seed
// gives the same stream on every machine, so generated dump sets can be
// compared byte for byte with what a destination receives.
#ifndef REHEARSAL_RNG_H
#define REHEARSAL_RNG_H

#include <cstdint>

namespace kit {

class Rng {
 public:
  explicit Rng(uint64_t seed) : state_(seed) {}

  uint64_t next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform in [0, n); 0 when n is 0.
  uint32_t below(uint32_t n) { return n == 0 ? 0 : static_cast<uint32_t>(next() % n); }
  // Uniform in [lo, hi]; lo when hi < lo.
  uint32_t between(uint32_t lo, uint32_t hi) { return hi <= lo ? lo : lo + below(hi - lo + 1); }
  // True with probability p (0 to 1).
  bool chance(double p) { return static_cast<double>(next() >> 11) * 0x1.0p-53 < p; }

 private:
  uint64_t state_;
};

// A seed for one item (a block, a directory) derived from a stream seed.
inline uint64_t mix_seed(uint64_t seed, uint64_t item) {
  Rng r(seed ^ (item * 0xD1B54A32D192ED03ull));
  return r.next();
}

}  // namespace kit

#endif  // REHEARSAL_RNG_H
