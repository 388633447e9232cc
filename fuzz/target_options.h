// The first input byte of the stream and negotiation targets: how the writer
// was started for that input.
#ifndef FUZZ_TARGET_OPTIONS_H
#define FUZZ_TARGET_OPTIONS_H

#include <cstdint>

#include "brix.h"
#include "fixed_sets.h"

namespace fuzz {

// Bits 0 and 1 of both bytes choose the transfer: 1 replicator, 2 restore,
// 0 and 3 the default archivist start (-p).
enum : uint8_t { OPT_CMD_MASK = 3, OPT_NO_HBAK = 1 << 2, OPT_INFLATE = 1 << 3 };

inline rpl_Command command_from_bits(uint8_t byte) {
  switch (byte & OPT_CMD_MASK) {
    case 1:
      return RPLCMD_RCQTREE;
    case 2:
      return RPLCMD_ACRESTORE;
    default:
      return RPLCMD_ACQTREE;
  }
}

// The stream target: the transfer, -O and -i.
struct StreamOptions {
  rpl_Command cmd = RPLCMD_ACQTREE;
  bool hbak = true;  // cleared by -O
  bool inflate = false;
};

inline StreamOptions decode_stream_options(uint8_t byte) {
  StreamOptions o;
  o.cmd = command_from_bits(byte);
  o.hbak = (byte & OPT_NO_HBAK) == 0;
  o.inflate = (byte & OPT_INFLATE) != 0;
  return o;
}

// The negotiation target: the same, and which fixed set, and the child mode
// (-h: the operand is the directory of the sets, the request names one).
enum : uint8_t { OPT_SEALED_SET = 1 << 4, OPT_CHILD_MODE = 1 << 5 };

struct NegotiationOptions : StreamOptions {
  FixedSet set = FixedSet::plain;
  bool child_mode = false;
};

inline NegotiationOptions decode_negotiation_options(uint8_t byte) {
  NegotiationOptions o;
  static_cast<StreamOptions&>(o) = decode_stream_options(byte);
  o.set = (byte & OPT_SEALED_SET) != 0 ? FixedSet::sealed : FixedSet::plain;
  o.child_mode = (byte & OPT_CHILD_MODE) != 0;
  return o;
}

// Puts the options into a session made by init_session.
inline void apply_options(const StreamOptions& o, rpl_Session* session) {
  session->cmd = o.cmd;
  session->hbak = o.hbak ? B_TRUE : B_FALSE;
  session->inflate = o.inflate ? B_TRUE : B_FALSE;
}

}  // namespace fuzz

#endif  // FUZZ_TARGET_OPTIONS_H
