// PBKDF2 (RFC 2898, section 5.2) with HMAC-SHA-512 as its pseudo-random
// function.
#ifndef EXTERNAL_HMAC_PWD2KEY_H
#define EXTERNAL_HMAC_PWD2KEY_H

void derive_key(const unsigned char* pwd, unsigned int pwd_len, const unsigned char* salt,
                unsigned int salt_len, unsigned int iter, unsigned char* key, unsigned int key_len);

#endif  // EXTERNAL_HMAC_PWD2KEY_H
