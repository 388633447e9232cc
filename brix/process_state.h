// The process-wide reading state of the writer (block source, container and
// decryption state, checkpoint records) lives for a whole run. A run that
// ends returns nothing; a test or a fuzzer that plays many runs in one
// process starts each from the state of a new process with this.
#ifndef BRIX_PROCESS_STATE_H
#define BRIX_PROCESS_STATE_H

// Frees the chunk table and zeroes every process-wide record and flag.
void reset_process_state();

// The parts, one per module.
void reset_block_source();
void reset_container_state();
void reset_checkpoint_state();

#endif  // BRIX_PROCESS_STATE_H
