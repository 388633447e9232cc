// The counter-mode transform of the file-encryption scheme, open to the
// tests and the benchmark; the rest of the program uses fcrypt_encrypt and
// fcrypt_decrypt.
#ifndef EXTERNAL_AES_FILEENC_INTERNAL_H
#define EXTERNAL_AES_FILEENC_INTERNAL_H

#include "fileenc.h"

// XORs d_len bytes of data with the key stream, continuing where the last
// call stopped (encryption and decryption alike).
void encr_data(unsigned char* data, unsigned int d_len, fcrypt_ctx* cx);

#endif  // EXTERNAL_AES_FILEENC_INTERNAL_H
