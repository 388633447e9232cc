// The AES path built on the processor's AES instructions. Compiled for those
// instructions alone, so only call it after cpu_has_aes() said yes.
#ifndef EXTERNAL_AES_AES_HW_H
#define EXTERNAL_AES_AES_HW_H

#include <cstddef>

#include "aes.h"

void aes_hw_encrypt_block(const unsigned char in_blk[AES_BLOCK_SIZE],
                          unsigned char out_blk[AES_BLOCK_SIZE], const aes_ctx* cx);
void aes_hw_ctr_xor_blocks(const aes_ctx* cx, unsigned char ctr[AES_BLOCK_SIZE],
                           unsigned char* data, size_t n_blocks,
                           unsigned char last_key_stream[AES_BLOCK_SIZE]);

#endif  // EXTERNAL_AES_AES_HW_H
