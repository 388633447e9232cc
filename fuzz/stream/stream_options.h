// The first input byte of the stream target: the sending mode and the
// transfer the writer serves. Shared with the seed generator, which encodes
// the seeds' choices with it.
#ifndef FUZZ_STREAM_STREAM_OPTIONS_H
#define FUZZ_STREAM_STREAM_OPTIONS_H

#include <cstdint>

#include "brix.h"
#include "fuzz_support.h"

namespace fuzz {

struct StreamOptions {
  bool inflate = false;          // -i
  bool hbak = true;              // cleared by -O
  rpl_Command cmd = RPLCMD_ACQTREE;  // -p
};

enum : uint8_t {
  STREAM_OPT_INFLATE = 1 << 0,
  STREAM_OPT_NO_HBAK = 1 << 1,
  STREAM_OPT_CMD_SHIFT = 2  // two bits, as command_from_bits reads them
};

inline StreamOptions decode_stream_options(uint8_t byte) {
  StreamOptions o;
  o.inflate = (byte & STREAM_OPT_INFLATE) != 0;
  o.hbak = (byte & STREAM_OPT_NO_HBAK) == 0;
  o.cmd = command_from_bits(byte >> STREAM_OPT_CMD_SHIFT);
  return o;
}

inline uint8_t encode_stream_options(const StreamOptions& o) {
  return static_cast<uint8_t>((o.inflate ? STREAM_OPT_INFLATE : 0) | (o.hbak ? 0 : STREAM_OPT_NO_HBAK) |
                              command_bits(o.cmd) << STREAM_OPT_CMD_SHIFT);
}

inline void apply_stream_options(const StreamOptions& o, rpl_Session* session) {
  session->inflate = o.inflate ? B_TRUE : B_FALSE;
  session->hbak = o.hbak ? B_TRUE : B_FALSE;
  session->cmd = o.cmd;
}

}  // namespace fuzz

#endif  // FUZZ_STREAM_STREAM_OPTIONS_H
