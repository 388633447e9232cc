// The first input byte of the negotiation target: how the writer was
// started (transfer, -O, -i, the set, the child mode). Shared with the seed
// generator, which encodes the seeds' choices with it.
#ifndef FUZZ_NEGOTIATION_NEGOTIATION_OPTIONS_H
#define FUZZ_NEGOTIATION_NEGOTIATION_OPTIONS_H

#include <cstdint>

#include "brix.h"
#include "fixed_sets.h"
#include "fuzz_support.h"

namespace fuzz {

struct NegotiationOptions {
  rpl_Command cmd = RPLCMD_ACQTREE;  // -p
  bool hbak = true;                  // cleared by -O
  bool inflate = false;              // -i
  FixedSet set = FixedSet::plain;
  bool child_mode = false;  // -h: the set is the one the request names
};

enum : uint8_t {
  // bits 0 and 1: the transfer, as command_from_bits reads them
  NEG_OPT_NO_HBAK = 1 << 2,
  NEG_OPT_INFLATE = 1 << 3,
  NEG_OPT_SEALED = 1 << 4,
  NEG_OPT_CHILD = 1 << 5
};

inline NegotiationOptions decode_negotiation_options(uint8_t byte) {
  NegotiationOptions o;
  o.cmd = command_from_bits(byte);
  o.hbak = (byte & NEG_OPT_NO_HBAK) == 0;
  o.inflate = (byte & NEG_OPT_INFLATE) != 0;
  o.set = (byte & NEG_OPT_SEALED) != 0 ? FixedSet::sealed : FixedSet::plain;
  o.child_mode = (byte & NEG_OPT_CHILD) != 0;
  return o;
}

inline uint8_t encode_negotiation_options(const NegotiationOptions& o) {
  return static_cast<uint8_t>(command_bits(o.cmd) | (o.hbak ? 0 : NEG_OPT_NO_HBAK) |
                              (o.inflate ? NEG_OPT_INFLATE : 0) |
                              (o.set == FixedSet::sealed ? NEG_OPT_SEALED : 0) |
                              (o.child_mode ? NEG_OPT_CHILD : 0));
}

}  // namespace fuzz

#endif  // FUZZ_NEGOTIATION_NEGOTIATION_OPTIONS_H
