// AES key expansion (FIPS-197 section 5.2) into the stored schedule record.
// Both encryption paths read this one schedule, so it is always built here.
#include "aes.h"
#include "aes_internal.h"
#include "aestab.h"

namespace {

enum { COLUMNS = 4 };

// With row 0 in the low byte, RotWord moves byte 1 to position 0.
aes_32t rot_sub_word(aes_32t w) {
  return aes_tab.t_fl[0][(w >> 8) & 0xff] ^ aes_tab.t_fl[1][(w >> 16) & 0xff] ^
         aes_tab.t_fl[2][w >> 24] ^ aes_tab.t_fl[3][w & 0xff];
}

aes_32t sub_word(aes_32t w) {
  return aes_tab.t_fl[0][w & 0xff] ^ aes_tab.t_fl[1][(w >> 8) & 0xff] ^
         aes_tab.t_fl[2][(w >> 16) & 0xff] ^ aes_tab.t_fl[3][w >> 24];
}

// KeyExpansion for a key of NK words; NK as a constant lets the compiler
// unroll each key length on its own.
template <unsigned NK>
void expand_key(const unsigned char* key, aes_32t* w) {
  constexpr unsigned rounds = NK + 6;
  constexpr unsigned total = COLUMNS * (rounds + 1);
  for (unsigned i = 0; i < NK; ++i) w[i] = aes_load_le32(key + 4 * i);
  for (unsigned i = NK; i < total; ++i) {
    aes_32t temp = w[i - 1];
    if (i % NK == 0)
      temp = rot_sub_word(temp) ^ aes_tab.t_rc[i / NK - 1];
    else if (NK > 6 && i % NK == 4)
      temp = sub_word(temp);
    w[i] = w[i - NK] ^ temp;
  }
}

}  // namespace

aes_fret aes_set_encrypt_key(const unsigned char* in_key, unsigned int klen, aes_ctx* cx) {
  unsigned key_words;
  if (klen % 8 == 0 && klen >= 16 && klen <= 32)
    key_words = klen / 4;  // bytes
  else if (klen % 64 == 0 && klen >= 128 && klen <= 256)
    key_words = klen / 32;  // bits
  else {
    cx->n_rnd = 0;
    cx->n_blk = 0;
    return 0;
  }
  switch (key_words) {
    case 4:
      expand_key<4>(in_key, cx->k_sch);
      break;
    case 6:
      expand_key<6>(in_key, cx->k_sch);
      break;
    default:
      expand_key<8>(in_key, cx->k_sch);
      break;
  }
  cx->n_rnd = key_words + 6;
  cx->n_blk = AES_SCHEDULE_READY;
  return 1;
}
