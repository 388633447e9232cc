// The verifier's walk over a dump set: every file read as the writer reads
// it (detection, container headers, chunk tables, the password against each
// file's verifier, every chunk decoded by the read-ahead thread, every
// file's digest), the stream checked as the send loop checks it, and a
// careful destination's structure checks on top; nothing is sent and no
// checkpoint is written. Each fault is located with the block source's
// position and the reading core's own message.
#ifndef VERIFY_SET_VERIFIER_H
#define VERIFY_SET_VERIFIER_H

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "verify/findings.h"

namespace verify {

struct options {
  std::vector<std::string> prefixes;  // at most 20, as the writer takes them
  bool inflate = false;               // -i: the inflating mode's checks
  bool hbak = true;                   // cleared by -O
  bool all = false;                   // go on past faults where the format allows
  bool strict = false;                // the careful destination's warnings are faults
  bool checkpoints = false;           // also check the checkpoint files beside the set
  // Asked once, when the set's first file is encrypted; false when no
  // password could be had (the run then cannot go on).
  std::function<bool(std::string* password)> ask_password;
};

// Verifies the set; the summary holds every finding.
summary verify_set(const options& o);

}  // namespace verify

#endif  // VERIFY_SET_VERIFIER_H
