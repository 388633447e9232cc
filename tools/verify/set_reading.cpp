// A reading of a dump set with state of its own.
#include "verify/set_reading.h"

#include <cstring>

#include "command_line.h"
#include "dump_set.h"
#include "verify/set_verifier.h"
#include "wipe.h"

namespace verify {

set_reading::set_reading(const options& o)
    : prefixes_(o.prefixes),
      container_(std::make_unique<dump_container>()),
      source_(std::make_unique<block_source>()) {
  init_session(&session, reinterpret_cast<char*>(&in_buf_), reinterpret_cast<char*>(&swapped_buf_));
  session.src_fd = -1;
  session.listen_fd_inet = session.listen_fd_inet6 = session.client_fd = -1;
  session.inflate = o.inflate ? B_TRUE : B_FALSE;
  session.hbak = o.hbak ? B_TRUE : B_FALSE;
  for (size_t i = 0; i < prefixes_.size() && i < BRIX_MAX_INPUT_FILES; i++) {
    session.input_file[i] = &prefixes_[i][0];
  }
}

set_reading::~set_reading() {
  source_->reset();  // the read-ahead thread stops before its container goes
  container_->wipe();
  wipe_secret(session.encr_passwd, sizeof(session.encr_passwd));
  close_input_dump(&session);
}

bool set_reading::open_first(fault_report& told) {
  return open_input_dump(&session) && detect_dump_file(&session, *container_, told);
}

bool set_reading::prepare(const std::string& password, fault_report& told) {
  strncpy(session.encr_passwd, password.c_str(), BRIX_PASSWD_MAX);
  session.encr_passwd[BRIX_PASSWD_MAX] = '\0';
  return prepare_dump_file(&session, *container_, *source_, told) == B_TRUE;
}

std::string set_reading::file_name() const {
  char name[BRIX_NAME_BUF_SIZE];
  format_dump_file_name(name, session.input_file[session.input_batch_index],
                        session.input_file_index);
  return name;
}

const char* file_kind(const rpl_Session& s) {
  if (s.compressed && s.encrypted) return "compressed+encrypted";
  if (s.compressed) return "compressed";
  return s.encrypted ? "encrypted" : "plain";
}

}  // namespace verify
