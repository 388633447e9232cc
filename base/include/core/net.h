// Waiting on descriptors: select masks and the relative-time-out wait of
// the core runtime library.
#ifndef CORE_NET_H
#define CORE_NET_H

#include <sys/select.h>

#include <cstdint>

#include "core/types.h"

struct NetSelectMaskS {
  fd_set tRecvFds;      // watched for readability; after a wait, the ready ones
  fd_set tSendFds;      // watched for writability
  fd_set tExcpFds;      // watched for exceptional conditions
  int32_t tSelectBits;  // one more than the highest descriptor in any set, 0 when empty
};

enum NetErrorE : int32_t {
  NET_ERROR_FATAL = -1,
  NET_ERROR_NONE = 0,
  NET_ERROR_WOULD_BLOCK = 1,
  NET_ERROR_INTERRUPTED = 2,
  NET_ERROR_TIMEOUT = 3,
  NET_ERROR_CLOSED = 4,
  NET_ERROR_CONNECT_REFUSED = 5,
  NET_ERROR_NET_UNREACHABLE = 6,
  NET_ERROR_INVALID_LENGTH = 7,
  NET_ERROR_NOT_CONNECTED = 8,
  NET_ERROR_INVALID_SOCKET = 9,
  NET_ERROR_PROTOCOL = 10,
  NET_ERROR_DID_BLOCK = 11,
  NET_ERROR_CONNECTION_DOWN = 12,
  NET_ERROR_ACCEPT = 13,
};

// Stores a new, empty mask from the default pool in *ptMask; does nothing
// when ptMask is null.
void NetInitializeSelectMask(NetSelectMaskS** ptMask);

// Frees the mask in *ptMask and sets *ptMask to null.
void NetReleaseSelectMask(NetSelectMaskS** ptMask);

// Waits until a descriptor of tMask is ready, a signal arrives, or lTimeout
// milliseconds pass (negative: no time-out, 0: poll). The sets of tMask keep
// only the ready descriptors. NET_ERROR_NONE stores the ready count in
// *plSelected (when not null); NET_ERROR_TIMEOUT, NET_ERROR_INTERRUPTED and
// NET_ERROR_FATAL leave it alone.
NetErrorE NetSelectRelative(int32_t* plSelected, NetSelectMaskS* tMask, int32_t lTimeout);

#endif  // CORE_NET_H
