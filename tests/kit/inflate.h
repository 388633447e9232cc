// The inflating mode seen from the test side: the input it reads (the
// stream with its file-phase data blocks left out), the wire it should
// produce (generated zero blocks in place of that data), and the full set
// of header rules it enforces, as an independent check of kit streams.
#ifndef KIT_INFLATE_H
#define KIT_INFLATE_H

#include <cstdint>
#include <string>

#include "rehearsal/block.h"

namespace kit {

// The tree phase complete (up to and including the mid-stream header), then
// only the headers of the file phase.
Stream strip_file_phase_data(const Stream& full);

// What a destination receives from the writer in the inflating mode, the
// negotiation reply as block 0: the full stream with each file-phase
// header's data blocks replaced by zero-filled blocks.
Stream expected_inflated_wire(const Stream& full);

struct InflateRules {
  bool hbak = true;                 // apply the entry-count rules
  bool track_restart = true;        // archivist baseline with hbak: points may not go back
  uint32_t restart_checkpoint = 0;  // the point the transfer restarts from
  // false: the input is the stripped form (a file-phase header must follow a
  // file-phase header); true: the full stream, whose file-phase data blocks
  // are skipped.
  bool data_present = false;
};

// Runs every header of the stream after the start header (which goes out as
// the negotiation reply, unchecked) through the inflating mode's rules:
// stage and type, synchronisation point, following blocks, entries, holes,
// file type and attribute type. Empty when all pass, else the first fault
// with its block index.
std::string check_inflating_rules(const Stream& s, const InflateRules& rules = InflateRules());

}  // namespace kit

#endif  // KIT_INFLATE_H
