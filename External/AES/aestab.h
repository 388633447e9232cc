// The AES constant tables shared by the key expansion and the table-driven
// block encryption.
#ifndef EXTERNAL_AES_AESTAB_H
#define EXTERNAL_AES_AESTAB_H

#include "aes.h"

enum { AES_ROUND_CONSTANTS = 10 };

// Columns are packed with row 0 in the least significant byte.
// t_fn[r][x]: the S-box value of x times the MixColumns column, rotated left
// by 8 * r bits (one table per row the byte comes from).
// t_fl[r][x]: the S-box value of x alone in byte position r (last round and
// key expansion).
// t_rc: the round constants x^(i) in GF(2^8), i = 0..9.
struct aes_tables {
  aes_32t t_fn[4][256];
  aes_32t t_fl[4][256];
  aes_32t t_rc[AES_ROUND_CONSTANTS];
};

extern const aes_tables aes_tab;

#endif  // EXTERNAL_AES_AESTAB_H
