// Password-based decryption of encrypted dump files: keys derived per file
// from the password and the file's salt, the two-byte verifier checked, the
// stored data decrypted chunk by chunk and its digest compared at the end.
#include <cstdio>
#include <cstring>

#include "brix_comp_encr.h"
#include "fileenc.h"
#include "marshal.h"

namespace {

uint16 digest_len() { return marshal_uint2(encr_header.digest_len); }

// Mode of the scheme by AES key length in bytes: 24 -> 2, 32 -> 3, else 1.
int mode_for_key_size(uint16 key_size) {
  if (key_size == KEY_LENGTH(2)) return 2;
  if (key_size == KEY_LENGTH(3)) return 3;
  return 1;
}

// The header must not ask to compare more than the scheme computes.
bool lengths_are_sane() {
  if (encr_header.passwd_verifier_len > PWD_VER_LENGTH) {
    fprintf(stderr, "Damaged encryption header: password verifier of %u bytes\n",
            encr_header.passwd_verifier_len);
    return false;
  }
  if (digest_len() > MAC_LENGTH) {
    fprintf(stderr, "Damaged encryption header: digest of %u bytes\n", digest_len());
    return false;
  }
  return true;
}

}  // namespace

bool_t init_brix_decryption(rpl_Session* session) {
  session->key_size = static_cast<uint16>(2 * encr_header.salt_len);
  return decrypt_brix_data_begin(session);
}

bool_t decrypt_brix_data_begin(rpl_Session* session) {
  if (!lengths_are_sane()) return B_FALSE;
  unsigned char verifier[PWD_VER_LENGTH];
  fcrypt_init(mode_for_key_size(session->key_size),
              reinterpret_cast<const unsigned char*>(session->encr_passwd),
              static_cast<unsigned int>(strlen(session->encr_passwd)), encr_header.salt_value,
              verifier, &zcx);
  if (memcmp(verifier, encr_header.passwd_verifier, encr_header.passwd_verifier_len) != 0) {
    fprintf(stderr, "The password is incorrect\n");
    return B_FALSE;
  }
  return B_TRUE;
}

void decrypt_brix_data(unsigned char* data, int32 len) {
  fcrypt_decrypt(data, static_cast<unsigned int>(len), &zcx);
}

bool_t decrypt_brix_data_end() {
  unsigned char mac[MAC_LENGTH];
  fcrypt_end(mac, &zcx);
  // Lengths above the MAC's were refused when the file was prepared.
  size_t compared = digest_len() <= MAC_LENGTH ? digest_len() : size_t{MAC_LENGTH};
  if (memcmp(mac, encr_header.digest_value, compared) == 0) return B_TRUE;
  // A file left part-way by a checkpoint restart cannot match its digest.
  if (digest_check) return B_TRUE;
  fprintf(stderr, "The data digest code does not match the expected value\n");
  return B_FALSE;
}

bool_t end_brix_decryption(rpl_Session*) { return decrypt_brix_data_end(); }
