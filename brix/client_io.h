// Reads and writes on the destination connection. A protocol word is read
// whole however the network splits it; each write goes in exactly one call
// of its size, and a shorter count is a failure; whole blocks from the
// destination are read until complete. Before each call the peer is watched
// (peer_watch.h): one that has vanished fails the call as a timed-out one.
#ifndef BRIX_CLIENT_IO_H
#define BRIX_CLIENT_IO_H

#include <cstddef>

#include "brix.h"

// Reads len bytes, in as many reads as they take to arrive; an interrupted
// read is repeated. A read error is reported through perror(error_prefix); a
// connection that closes before len bytes came by printing short_text as it
// stands.
bool_t read_word_whole(int fd, void* buf, size_t len, const char* error_prefix,
                       const char* short_text);

// One write() that must take len bytes, reported the same way. A partial
// write is never resumed.
bool_t write_exactly_once(int fd, const void* buf, size_t len, const char* error_prefix,
                          const char* short_text);

// Reads exactly 4096 bytes from fd, repeating the read until the block is
// complete.
bool_t read_block_from_fd(int fd, char* buf);

// The destination's next block into in_buf.
bool_t read_client_block(rpl_Session* session);

#endif  // BRIX_CLIENT_IO_H
