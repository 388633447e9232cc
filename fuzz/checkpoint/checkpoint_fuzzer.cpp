// Fuzz target: a checkpoint file of arbitrary bytes, loaded for a restart and
// repositioned to. The first input byte chooses the fixed set (plain, or
// compressed and encrypted); the rest is the file the restart request names.
// As in a negotiation, the start header is read with the restart pending,
// the record is loaded, and the block source then repositions at its next
// refill and delivers a few blocks. Whatever the record says, every block
// delivered must be one that the set stores.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "dump_set.h"
#include "fixed_sets.h"
#include "fuzz_support.h"
#include "reading_state.h"
#include "rehearsal/dump_writer.h"

namespace {

// The point of the restart request; above the points a missing file may
// have, so the loaded file is always this one.
const uint32 kRestartPoint = 150;
void require_stored(const char* block) {
  fuzz::require(fuzz::is_fixed_stream_block(block), "a block the set does not store was delivered");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const fuzz::FixedSet which = (data[0] & 1) ? fuzz::FixedSet::sealed : fuzz::FixedSet::plain;
  fuzz::prepare_fixed_sets();

  const std::vector<std::string> prefixes = fuzz::fixed_set_prefixes(which);
  const std::string record_file = kit::checkpoint_file_name(prefixes[0], kRestartPoint);
  fuzz::write_whole_file(record_file, data + 1, size - 1);
  {
    fuzz::FuzzSession f;
    for (const std::string& prefix : prefixes) f.add_prefix(prefix);
    fuzz::require(fuzz::open_fixed_set(&f.s), "a fixed set cannot be opened");

    // The negotiation of a restart: the request sets the point and asks for
    // the restart, the start header is read, then the record is loaded and
    // the reading moved to it.
    f.s.restart_checkpoint = kRestartPoint;
    request_restart();
    int error = 0;
    fuzz::require(read_dump_block2(&f.s, &error) == B_TRUE, "no start header");
    require_stored(f.s.in_buf);
    if (serve_restart_request(&f.s)) {
      // Enough to reach the end of the set from wherever the record points.
      const size_t max_blocks = 2 * fuzz::fixed_set_stream().size();
      for (size_t n = 0; n < max_blocks && read_dump_block(&f.s, &error); n++) {
        require_stored(f.s.in_buf);
      }
      close_input_file(&f.s);
    }
    close_input_dump(&f.s);
  }
  unlink(record_file.c_str());
  return 0;
}
