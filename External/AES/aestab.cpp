// The AES tables, computed at compile time from the field arithmetic of
// FIPS-197 (section 4 and 5.1.1) so that none of them is typed in by hand.
#include "aestab.h"

namespace {

// Multiplication by x in GF(2^8) modulo x^8 + x^4 + x^3 + x + 1.
constexpr uint8_t xtime(uint8_t b) {
  return static_cast<uint8_t>((b << 1) ^ ((b & 0x80) ? 0x1b : 0x00));
}

constexpr uint8_t gf_mul(uint8_t a, uint8_t b) {
  uint8_t product = 0;
  while (b) {
    if (b & 1) product ^= a;
    a = xtime(a);
    b >>= 1;
  }
  return product;
}

// Multiplicative inverse as b^254; 0 maps to 0 as the standard requires.
constexpr uint8_t gf_inverse(uint8_t b) {
  uint8_t result = 1;
  uint8_t power = b;
  for (unsigned exponent = 254; exponent; exponent >>= 1) {
    if (exponent & 1) result = gf_mul(result, power);
    power = gf_mul(power, power);
  }
  return result;
}

constexpr uint8_t rotl8(uint8_t b, unsigned n) {
  return static_cast<uint8_t>((b << n) | (b >> (8 - n)));
}

// SubBytes: the inverse followed by the affine transformation (5.1.1).
constexpr uint8_t sbox(uint8_t x) {
  const uint8_t b = gf_inverse(x);
  return static_cast<uint8_t>(b ^ rotl8(b, 1) ^ rotl8(b, 2) ^ rotl8(b, 3) ^ rotl8(b, 4) ^ 0x63);
}

constexpr aes_32t rotl32(aes_32t w, unsigned n) { return n ? (w << n) | (w >> (32 - n)) : w; }

constexpr aes_tables make_tables() {
  aes_tables t{};
  for (unsigned x = 0; x < 256; ++x) {
    const uint8_t s = sbox(static_cast<uint8_t>(x));
    // MixColumns column of a byte in row 0: {02}s, s, s, {03}s.
    const aes_32t mixed =
        aes_32t{xtime(s)} | aes_32t{s} << 8 | aes_32t{s} << 16 | aes_32t{gf_mul(s, 3)} << 24;
    for (unsigned row = 0; row < 4; ++row) {
      t.t_fn[row][x] = rotl32(mixed, 8 * row);
      t.t_fl[row][x] = aes_32t{s} << (8 * row);
    }
  }
  uint8_t rc = 1;
  for (unsigned i = 0; i < AES_ROUND_CONSTANTS; ++i, rc = xtime(rc)) t.t_rc[i] = rc;
  return t;
}

}  // namespace

alignas(64) constexpr aes_tables aes_tab = make_tables();
