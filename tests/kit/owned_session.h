// A writer session for tests and fuzz targets that call the writer's
// functions in-process: it starts from the state of a new process, owns its
// buffers, prefix copies and open dump file, and leaves no reading state
// behind for the next user.
#ifndef TESTS_KIT_OWNED_SESSION_H
#define TESTS_KIT_OWNED_SESSION_H

#include <string>

#include "brix.h"
#include "lr.h"

namespace kit {

struct OwnedSession {
  OwnedSession();
  ~OwnedSession();
  OwnedSession(const OwnedSession&) = delete;
  OwnedSession& operator=(const OwnedSession&) = delete;

  // Appends a dump-file prefix; false when all the slots are taken.
  bool add_prefix(const std::string& prefix);

  rpl_Session s;
  alignas(8) lr_hdr in_buf;
  alignas(8) lr_hdr swapped_buf;
};

}  // namespace kit

#endif  // TESTS_KIT_OWNED_SESSION_H
