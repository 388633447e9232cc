// AES block encryption (FIPS-197 section 5.1) through the tables, and the
// run-time choice between the tables and the processor's AES instructions.
#include <cstring>

#include "aes.h"
#include "aes_hw.h"
#include "aes_internal.h"
#include "aestab.h"
#include "cpu_features.h"

namespace {

const bool hardware_available = cpu_has_aes();
bool hardware_in_use = hardware_available;

// One round: SubBytes, ShiftRows and MixColumns through a table, then
// AddRoundKey. Output column c takes row r from input column c + r.
#define AES_ROUND(tab, k, y0, y1, y2, y3, x0, x1, x2, x3)                           \
  do {                                                                              \
    y0 = tab[0][x0 & 0xff] ^ tab[1][(x1 >> 8) & 0xff] ^ tab[2][(x2 >> 16) & 0xff] ^ \
         tab[3][x3 >> 24] ^ (k)[0];                                                 \
    y1 = tab[0][x1 & 0xff] ^ tab[1][(x2 >> 8) & 0xff] ^ tab[2][(x3 >> 16) & 0xff] ^ \
         tab[3][x0 >> 24] ^ (k)[1];                                                 \
    y2 = tab[0][x2 & 0xff] ^ tab[1][(x3 >> 8) & 0xff] ^ tab[2][(x0 >> 16) & 0xff] ^ \
         tab[3][x1 >> 24] ^ (k)[2];                                                 \
    y3 = tab[0][x3 & 0xff] ^ tab[1][(x0 >> 8) & 0xff] ^ tab[2][(x1 >> 16) & 0xff] ^ \
         tab[3][x2 >> 24] ^ (k)[3];                                                 \
  } while (0)

void encrypt_block_tables(const unsigned char* in, unsigned char* out, const aes_ctx* cx) {
  const aes_32t* k = cx->k_sch;
  aes_32t s0 = aes_load_le32(in) ^ k[0], s1 = aes_load_le32(in + 4) ^ k[1];
  aes_32t s2 = aes_load_le32(in + 8) ^ k[2], s3 = aes_load_le32(in + 12) ^ k[3];
  aes_32t t0, t1, t2, t3;
  // n_rnd - 1 full rounds (9, 11 or 13): one, then pairs.
  k += 4;
  AES_ROUND(aes_tab.t_fn, k, t0, t1, t2, t3, s0, s1, s2, s3);
  for (unsigned pairs = (cx->n_rnd - 2) / 2; pairs; --pairs) {
    k += 4;
    AES_ROUND(aes_tab.t_fn, k, s0, s1, s2, s3, t0, t1, t2, t3);
    k += 4;
    AES_ROUND(aes_tab.t_fn, k, t0, t1, t2, t3, s0, s1, s2, s3);
  }
  // The last round has no MixColumns.
  k += 4;
  AES_ROUND(aes_tab.t_fl, k, s0, s1, s2, s3, t0, t1, t2, t3);
  aes_store_le32(s0, out);
  aes_store_le32(s1, out + 4);
  aes_store_le32(s2, out + 8);
  aes_store_le32(s3, out + 12);
}

#undef AES_ROUND

void ctr_xor_blocks_tables(const aes_ctx* cx, unsigned char ctr[AES_BLOCK_SIZE],
                           unsigned char* data, size_t n_blocks,
                           unsigned char last_key_stream[AES_BLOCK_SIZE]) {
  uint64_t count = aes_load_le64(ctr);
  unsigned char key_stream[AES_BLOCK_SIZE];
  for (; n_blocks; --n_blocks, data += AES_BLOCK_SIZE) {
    aes_store_le64(++count, ctr);
    encrypt_block_tables(ctr, key_stream, cx);
    for (unsigned half = 0; half < AES_BLOCK_SIZE; half += 8) {
      uint64_t d, ks;
      memcpy(&d, data + half, 8);
      memcpy(&ks, key_stream + half, 8);
      d ^= ks;
      memcpy(data + half, &d, 8);
    }
  }
  memcpy(last_key_stream, key_stream, AES_BLOCK_SIZE);
}

}  // namespace

bool aes_schedule_ready(const aes_ctx* cx) {
  return (cx->n_blk & 1) && (cx->n_rnd == 10 || cx->n_rnd == 12 || cx->n_rnd == 14);
}

bool aes_hardware_available() { return hardware_available; }

bool aes_use_hardware(bool wanted) {
  hardware_in_use = wanted && hardware_available;
  return hardware_in_use;
}

aes_fret aes_encrypt_block(const unsigned char* in_blk, unsigned char* out_blk, const aes_ctx* cx) {
  if (!aes_schedule_ready(cx)) return 0;
  if (hardware_in_use)
    aes_hw_encrypt_block(in_blk, out_blk, cx);
  else
    encrypt_block_tables(in_blk, out_blk, cx);
  return 1;
}

void aes_ctr_xor_blocks(const aes_ctx* cx, unsigned char ctr[AES_BLOCK_SIZE], unsigned char* data,
                        size_t n_blocks, unsigned char last_key_stream[AES_BLOCK_SIZE]) {
  if (hardware_in_use)
    aes_hw_ctr_xor_blocks(cx, ctr, data, n_blocks, last_key_stream);
  else
    ctr_xor_blocks_tables(cx, ctr, data, n_blocks, last_key_stream);
}
