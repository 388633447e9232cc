// Password-based decryption of encrypted dump files: keys derived per file
// from the password and the file's salt, the two-byte verifier checked, the
// stored data decrypted chunk by chunk and its digest compared at the end.
#include <cstring>

#include "brix_comp_encr.h"
#include "marshal.h"
#include "wipe.h"

namespace {

const unsigned char kHmacInnerPad = 0x36;  // RFC 2104's ipad

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
  // The file cannot switch its integrity checks off or shorten them: the
  // verifier and the digest are compared over the lengths the scheme makes.
  if (encr_header.passwd_verifier_len != PWD_VER_LENGTH) {
    report.sayf("Damaged encryption header: password verifier of %u bytes instead of %d\n",
                encr_header.passwd_verifier_len, PWD_VER_LENGTH);
    return B_FALSE;
  }
  if (marshal_uint2(encr_header.digest_len) != MAC_LENGTH) {
    report.sayf("Damaged encryption header: digest of %u bytes instead of %d\n",
                marshal_uint2(encr_header.digest_len), MAC_LENGTH);
    return B_FALSE;
  }
  unsigned char verifier[PWD_VER_LENGTH];
  fcrypt_init(mode_for_key_size(session->key_size),
              reinterpret_cast<const unsigned char*>(session->encr_passwd),
              static_cast<unsigned int>(strlen(session->encr_passwd)), encr_header.salt_value,
              verifier, &zcx);
  if (memcmp(verifier, encr_header.passwd_verifier, PWD_VER_LENGTH) != 0) {
    report.say("The password is incorrect\n");
    return B_FALSE;
  }
  return B_TRUE;
}

void dump_container::decrypt_brix_data(unsigned char* data, int32 len, fcrypt_ctx* context) {
  fcrypt_decrypt(data, static_cast<unsigned int>(len), context);
}

bool_t dump_container::decrypt_brix_data_end(const fcrypt_ctx& context,
                                             fault_report& report) const {
  fcrypt_ctx finishing = context;
  unsigned char mac[MAC_LENGTH];
  fcrypt_end(mac, &finishing);
  wipe_secret(&finishing, sizeof(finishing));
  if (memcmp(mac, encr_header.digest_value, MAC_LENGTH) == 0) return B_TRUE;
  report.say("The data digest code does not match the expected value\n");
  return B_FALSE;
}

bool dump_container::matches_key_material(const fcrypt_ctx& recorded) const {
  if (recorded.mode != zcx.mode || recorded.pwd_len != zcx.pwd_len ||
      memcmp(&recorded.encr_ctx, &zcx.encr_ctx, sizeof(zcx.encr_ctx)) != 0) {
    return false;
  }
  // The HMAC key block: as derived before any data, masked with the inner
  // pad once data has gone in.
  const hmac_ctx& fresh = zcx.auth_ctx;
  const hmac_ctx& kept = recorded.auth_ctx;
  if (kept.klen != HMAC_IN_DATA) {
    return kept.klen == fresh.klen && memcmp(kept.key, fresh.key, sizeof(fresh.key)) == 0;
  }
  for (size_t i = 0; i < sizeof(fresh.key); i++) {
    if (kept.key[i] != static_cast<unsigned char>(fresh.key[i] ^ kHmacInnerPad)) return false;
  }
  return true;
}
