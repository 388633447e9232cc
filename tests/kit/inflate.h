// The inflating mode seen from the test side: the input it reads (the
// stream with its file-phase data blocks left out) and the wire it should
// produce (generated zero blocks in place of that data).
#ifndef KIT_INFLATE_H
#define KIT_INFLATE_H

#include "rehearsal/block.h"

namespace kit {

// The tree phase complete (up to and including the mid-stream header), then
// only the headers of the file phase.
Stream strip_file_phase_data(const Stream& full);

// What a destination receives from the writer in the inflating mode, the
// negotiation reply as block 0: the full stream with each file-phase
// header's data blocks replaced by zero-filled blocks.
Stream expected_inflated_wire(const Stream& full);

}  // namespace kit

#endif  // KIT_INFLATE_H
