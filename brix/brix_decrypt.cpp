// Password-based decryption of encrypted dump files: keys derived per file
// from the password and the file's salt, the two-byte verifier checked, the
// stored data decrypted chunk by chunk and its digest compared at the end.
#include <cstring>

#include "brix_comp_encr.h"
#include "marshal.h"

namespace {

// Mode of the scheme by AES key length in bytes: 24 -> 2, 32 -> 3, else 1.
int mode_for_key_size(uint16 key_size) {
  if (key_size == KEY_LENGTH(2)) return 2;
  if (key_size == KEY_LENGTH(3)) return 3;
  return 1;
}

}  // namespace

bool_t dump_container::init_brix_decryption(rpl_Session* session, fault_report& report) {
  session->key_size = static_cast<uint16>(2 * encr_header.salt_len);
  return decrypt_brix_data_begin(session, report);
}

bool_t dump_container::decrypt_brix_data_begin(rpl_Session* session, fault_report& report) {
  // The header must not ask to compare more than the scheme computes.
  if (encr_header.passwd_verifier_len > PWD_VER_LENGTH) {
    report.sayf("Damaged encryption header: password verifier of %u bytes\n",
                encr_header.passwd_verifier_len);
    return B_FALSE;
  }
  if (marshal_uint2(encr_header.digest_len) > MAC_LENGTH) {
    report.sayf("Damaged encryption header: digest of %u bytes\n",
                marshal_uint2(encr_header.digest_len));
    return B_FALSE;
  }
  unsigned char verifier[PWD_VER_LENGTH];
  fcrypt_init(mode_for_key_size(session->key_size),
              reinterpret_cast<const unsigned char*>(session->encr_passwd),
              static_cast<unsigned int>(strlen(session->encr_passwd)), encr_header.salt_value,
              verifier, &zcx);
  if (memcmp(verifier, encr_header.passwd_verifier, encr_header.passwd_verifier_len) != 0) {
    report.say("The password is incorrect\n");
    return B_FALSE;
  }
  return B_TRUE;
}

void dump_container::decrypt_brix_data(unsigned char* data, int32 len) {
  fcrypt_decrypt(data, static_cast<unsigned int>(len), &zcx);
}

bool_t dump_container::decrypt_brix_data_end(bool_t digest_check, fault_report& report) {
  unsigned char mac[MAC_LENGTH];
  fcrypt_end(mac, &zcx);
  // Lengths above the MAC's were refused when the file was prepared.
  if (memcmp(mac, encr_header.digest_value, marshal_uint2(encr_header.digest_len)) == 0) {
    return B_TRUE;
  }
  // A file left part-way by a checkpoint restart cannot match its digest.
  if (digest_check) return B_TRUE;
  report.say("The data digest code does not match the expected value\n");
  return B_FALSE;
}

bool_t dump_container::end_brix_decryption(bool_t digest_check, fault_report& report) {
  return decrypt_brix_data_end(digest_check, report);
}
