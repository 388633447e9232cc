// The status line on request: `kill -USR1 <pid>` prints one line on
// standard error (blocks and bytes sent, time, MB/s, the dump file being
// read, the last synchronisation point) without disturbing the transfer.
// The signal is blocked in every thread and taken by sigwait in a thread of
// its own, so that it never interrupts a read or a write.
#ifndef BRIX_STATUS_SIGNAL_H
#define BRIX_STATUS_SIGNAL_H

// Blocks the signal in the calling thread: first thing in main, so that
// every thread created later inherits the mask.
void block_status_signal();
// Starts the thread that answers the signal; false when it cannot be
// started (the signal then stays pending, unanswered). The thread is
// stopped at exit at the latest.
bool start_status_thread();
// Stops and joins that thread, if it runs.
void stop_status_thread();

#endif  // BRIX_STATUS_SIGNAL_H
