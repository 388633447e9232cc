// The check of the writer's checkpoint files beside a verified set: each one
// is loaded and followed as a restart from its point would be (the writer's
// own record checks, its binding to the set, the reposition that must lead
// to the header of its point), and the block count it would report is
// compared with where that header lies in the stream.
#ifndef VERIFY_CHECKPOINT_CHECK_H
#define VERIFY_CHECKPOINT_CHECK_H

#include <cstdint>
#include <map>
#include <string>

#include "verify/findings.h"
#include "verify/set_verifier.h"

namespace verify {

// `start_header`: the set's block 0; `point_blocks`: the stream block of
// each point's first header, as the walk found them.
void check_checkpoints(const options& o, const std::string& password, const char* start_header,
                       const std::map<uint32_t, int64_t>& point_blocks, summary& s);

}  // namespace verify

#endif  // VERIFY_CHECKPOINT_CHECK_H
