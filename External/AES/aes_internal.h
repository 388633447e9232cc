// Internals of the AES module shared with the file-encryption scheme, the
// tests and the benchmark: the schedule check, counter mode over whole
// blocks, and the run-time choice of the processor's AES instructions.
#ifndef EXTERNAL_AES_AES_INTERNAL_H
#define EXTERNAL_AES_AES_INTERNAL_H

#include <cstddef>
#include <cstdint>

#include "aes.h"

// Little-endian words as the schedule and the counter keep them.
inline aes_32t aes_load_le32(const unsigned char* p) {
  return aes_32t{p[0]} | aes_32t{p[1]} << 8 | aes_32t{p[2]} << 16 | aes_32t{p[3]} << 24;
}
inline uint64_t aes_load_le64(const unsigned char* p) {
  return uint64_t{aes_load_le32(p)} | uint64_t{aes_load_le32(p + 4)} << 32;
}
inline void aes_store_le32(aes_32t w, unsigned char* p) {
  for (unsigned i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(w >> (8 * i));
}
inline void aes_store_le64(uint64_t w, unsigned char* p) {
  for (unsigned i = 0; i < 8; ++i) p[i] = static_cast<unsigned char>(w >> (8 * i));
}

// n_blk of a ready schedule: the block length with bit 0 set.
enum { AES_SCHEDULE_READY = AES_BLOCK_SIZE | 1 };

// An aes_ctx can encrypt when bit 0 of n_blk is set and n_rnd is one of the
// three round counts. The second condition also keeps a damaged record
// (one restored from a file) from driving the rounds past k_sch.
bool aes_schedule_ready(const aes_ctx* cx);

// Counter mode over whole blocks with the file scheme's counter: before each
// block the 64-bit little-endian count in ctr bytes 0-7 goes up by one
// (wrapping; bytes 8-15 never change), ctr is encrypted and the result is
// XORed into the next 16 bytes of data. last_key_stream receives the key
// stream of the last block. Requires aes_schedule_ready(cx) and n_blocks > 0.
void aes_ctr_xor_blocks(const aes_ctx* cx, unsigned char ctr[AES_BLOCK_SIZE], unsigned char* data,
                        size_t n_blocks, unsigned char last_key_stream[AES_BLOCK_SIZE]);

// True when the processor has the AES instructions (and SSE4.1).
bool aes_hardware_available();

// Chooses the path of aes_encrypt_block and aes_ctr_xor_blocks: the AES
// instructions when wanted and available, the tables otherwise. Returns
// whether the instructions are now used. They are used by default wherever
// available; tests and benchmarks switch them off to run the table path.
bool aes_use_hardware(bool wanted);

#endif  // EXTERNAL_AES_AES_INTERNAL_H
