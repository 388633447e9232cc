// A restart of an interrupted transfer, from the destination's request to
// the first block sent after the reply: see restart.cpp for the whole story.
#ifndef BRIX_RESTART_H
#define BRIX_RESTART_H

#include "block_source.h"
#include "brix.h"
#include "brix_comp_encr.h"
#include "checkpoint.h"
#include "fault_report.h"

struct restart_state {
  // The destination asked for a restart: set by the negotiation's check of
  // the request, read by prepare_restart.
  bool_t chkpoint = B_FALSE;
  // A container restart at the first file-phase point continues behind the
  // point's header, which the reply already counted: the sender takes it
  // from here (take_counted_header) to know what follows it, without sending
  // it again.
  bool header_counted = false;
  alignas(8) char counted_header[LR_BLOCK_SIZE];
  // Blocks a plain restart sends once more (the header of the first
  // file-phase point, or the set's first block when it starts over): the
  // sender does not count them, so that later records count as a fresh run
  // would.
  int64 repeated_blocks = 0;
};

// Run by the negotiation once the set's first block has been read for the
// reply. Loads the record of the requested point (archivist baseline
// transfers with hbak support) and, when a restart was asked for, moves the
// reading to where the record says and checks that it leads to the point's
// header. B_FALSE, reported, when the restart cannot be served: no reply is
// sent then.
bool_t prepare_restart(rpl_Session* session, restart_state& restart,
                       checkpoint_state& checkpoints, dump_container& container,
                       block_source& source, fault_report& report);

// The header that a container restart at the first file-phase point left
// counted but unsent, copied into in_buf; false when there is none. Each
// restart gives it once.
bool take_counted_header(restart_state& restart, char* in_buf);

// The blocks the continuation repeats that the reply counted; given once.
int64 take_repeated_blocks(restart_state& restart);

#endif  // BRIX_RESTART_H
