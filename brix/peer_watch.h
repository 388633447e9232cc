// Noticing a destination that has vanished (its host down, its network cut)
// instead of waiting for it for ever: keepalive on the accepted connection,
// and a wait before each read and write on it that gives up once the peer
// has answered nothing for the user timeout while the writer's data or
// probes waited for an answer. A destination that is alive but has stopped
// reading still answers the window probes, and is waited for without end.
#ifndef BRIX_PEER_WATCH_H
#define BRIX_PEER_WATCH_H

#include <cstddef>

// The environment variable that overrides the timings:
// "idle,interval,count[,user-timeout]", in seconds.
#define KEEPALIVE_VARIABLE "BRIX_KEEPALIVE"

// The timings from KEEPALIVE_VARIABLE, or the defaults when it is not set.
// False, with a message, when its value is malformed.
bool load_keepalive_settings();

// Turns keepalive on for the destination's connection; false (reported) when
// the system refuses.
bool watch_connection(int fd);

// Waits until fd is ready for `events` (POLLIN or POLLOUT), or has failed.
// False with errno ETIMEDOUT when the peer is taken for gone. A descriptor
// that is not a TCP connection is simply waited for.
bool wait_for_peer(int fd, short events);

// Before a write of len bytes: returns at once while the room last found in
// fd's send buffer lasts, so that a flowing stream costs no system call per
// block; otherwise waits as wait_for_peer does for POLLOUT and looks at the
// room again. False with errno ETIMEDOUT when the peer is taken for gone.
bool wait_for_room(int fd, size_t len);

#endif  // BRIX_PEER_WATCH_H
