// Listening on the replication port for the destination's one connection.
#ifndef BRIX_LISTEN_H
#define BRIX_LISTEN_H

#include <sys/socket.h>

#include "brix.h"

enum { RPL_PORT = 10566, LISTEN_WAIT_SECONDS = 5, ADDRESS_TEXT_SIZE = 512 };

// Listens on [::]:10566 (or 0.0.0.0:10566 when no IPv6 socket listens),
// waits without end, and accepts one connection into client_fd.
bool_t listen_for_connect(rpl_Session* session);

// Text of a socket address for messages, in a static buffer rewritten by
// every call. An IPv4-mapped IPv6 address is shown as a dotted quad when
// check_ipv4_mapped_ipv6 is set; other IPv6 addresses in brackets.
const char* address_to_string(const struct sockaddr* address, bool_t check_ipv4_mapped_ipv6);

#endif  // BRIX_LISTEN_H
