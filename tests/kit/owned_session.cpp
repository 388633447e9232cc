// A writer session owned by a test or a fuzz target.
#include "kit/owned_session.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "command_line.h"
#include "reading_state.h"

namespace kit {

OwnedSession::OwnedSession() {
  reset_reading_state();
  init_session(&s, reinterpret_cast<char*>(&in_buf), reinterpret_cast<char*>(&swapped_buf));
  s.src_fd = -1;
  s.client_fd = -1;
  s.listen_fd_inet = -1;
  s.listen_fd_inet6 = -1;
}

OwnedSession::~OwnedSession() {
  for (char*& prefix : s.input_file) {
    free(prefix);
    prefix = nullptr;
  }
  free(s.qtree);
  if (s.src_fd >= 0) close(s.src_fd);
  reset_reading_state();
}

bool OwnedSession::add_prefix(const std::string& prefix) {
  for (char*& slot : s.input_file) {
    if (slot == nullptr) {
      slot = strdup(prefix.c_str());
      return true;
    }
  }
  return false;
}

}  // namespace kit
