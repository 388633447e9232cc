// Resetting the process-wide reading state between runs in one process.
#include "process_state.h"

#include "command_line.h"

void reset_process_state() {
  reset_block_source();
  reset_container_state();
  reset_checkpoint_state();
  apprestore = B_FALSE;
}
