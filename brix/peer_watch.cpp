// Keepalive timings, and the judgement that the destination is gone.
#include "peer_watch.h"

#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>

namespace {

// Timings in seconds. The defaults end a silent connection to a dead peer
// after idle + interval * count = four minutes, and give data left
// unanswered as long: well within five minutes either way.
struct keepalive_settings {
  int idle = 60;           // silence before the first keepalive probe
  int interval = 30;       // between unanswered keepalive probes
  int count = 6;           // unanswered keepalive probes that end the connection
  int user_timeout = 240;  // how long sent data or probes may go unanswered
};
keepalive_settings settings;

// The system's limits for the keepalive options (TCP_KEEPIDLE and
// TCP_KEEPINTVL, TCP_KEEPCNT); the user timeout shares the first.
const long kMaxSeconds = 32767, kMaxCount = 127;

// How often a wait looks at the connection's state.
const int kCheckIntervalMs = 1000;

// One field of the variable: a whole number from 1 to max, then `end`.
bool parse_field(const char** text, char end, long max, int* value) {
  const char* p = *text;
  if (*p < '0' || *p > '9') return false;
  char* stop = nullptr;
  errno = 0;
  long n = strtol(p, &stop, 10);
  if (errno != 0 || n < 1 || n > max || *stop != end) return false;
  *value = static_cast<int>(n);
  *text = *stop == '\0' ? stop : stop + 1;
  return true;
}

bool parse_settings(const char* text, keepalive_settings* parsed) {
  if (!parse_field(&text, ',', kMaxSeconds, &parsed->idle) ||
      !parse_field(&text, ',', kMaxSeconds, &parsed->interval)) {
    return false;
  }
  if (parse_field(&text, '\0', kMaxCount, &parsed->count)) {
    parsed->user_timeout = parsed->idle + parsed->interval * parsed->count;
    return true;
  }
  return parse_field(&text, ',', kMaxCount, &parsed->count) &&
         parse_field(&text, '\0', kMaxSeconds, &parsed->user_timeout);
}

// Whether the peer has answered nothing for the user timeout while the
// writer waited for an answer: to data it sent (still unacknowledged), or to
// probes (a second one unanswered). A live peer with a full receive window
// answers each window probe at once, so its count never reaches two.
bool peer_gone(int fd) {
  tcp_info info;
  socklen_t length = sizeof(info);
  if (getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) != 0 ||
      length < offsetof(tcp_info, tcpi_last_ack_recv) + sizeof(info.tcpi_last_ack_recv)) {
    return false;  // not a TCP connection: nothing to judge by
  }
  bool awaiting_answer = info.tcpi_unacked > 0 || info.tcpi_probes >= 2;
  return awaiting_answer &&
         info.tcpi_last_ack_recv >= static_cast<uint32_t>(settings.user_timeout) * 1000u;
}

// Bytes that fd's send buffer takes without blocking, by the kernel's own
// accounting, of which half is counted: the bookkeeping of the buffers holding
// them takes some of the rest. 0 when the kernel does not tell.
size_t free_send_room(int fd) {
  uint32_t meminfo[SK_MEMINFO_VARS] = {};
  socklen_t length = sizeof(meminfo);
  if (getsockopt(fd, SOL_SOCKET, SO_MEMINFO, meminfo, &length) != 0) return 0;
  uint32_t size = meminfo[SK_MEMINFO_SNDBUF], queued = meminfo[SK_MEMINFO_WMEM_QUEUED];
  return queued < size ? (size - queued) / 2 : 0;
}

// The room found in the send buffer of room_fd, less what was written since.
int room_fd = -1;
size_t room = 0;

}  // namespace

bool load_keepalive_settings() {
  const char* text = getenv(KEEPALIVE_VARIABLE);
  if (text == nullptr) return true;
  keepalive_settings parsed;
  if (parse_settings(text, &parsed)) {
    settings = parsed;
    return true;
  }
  fprintf(stderr,
          "Bad %s value \"%s\": expected idle,interval,count[,user-timeout] in whole seconds "
          "(count at most %ld, the others at most %ld)\n",
          KEEPALIVE_VARIABLE, text, kMaxCount, kMaxSeconds);
  return false;
}

bool watch_connection(int fd) {
  const int one = 1;
  const struct {
    int level, name;
    const int* value;
  } options[] = {{SOL_SOCKET, SO_KEEPALIVE, &one},
                 {IPPROTO_TCP, TCP_KEEPIDLE, &settings.idle},
                 {IPPROTO_TCP, TCP_KEEPINTVL, &settings.interval},
                 {IPPROTO_TCP, TCP_KEEPCNT, &settings.count}};
  for (const auto& o : options) {
    if (setsockopt(fd, o.level, o.name, o.value, sizeof(int)) != 0) {
      perror("Error in setsockopt (keepalive)");
      return false;
    }
  }
  return true;
}

bool wait_for_peer(int fd, short events) {
  pollfd p = {fd, events, 0};
  for (;;) {
    int ready = poll(&p, 1, kCheckIntervalMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready != 0) return true;  // ready, or an error that the read or write will meet
    if (peer_gone(fd)) {
      errno = ETIMEDOUT;
      return false;
    }
  }
}

bool wait_for_room(int fd, size_t len) {
  if (fd != room_fd || room < len) {
    room_fd = fd;
    room = free_send_room(fd);
    if (room < len) {
      if (!wait_for_peer(fd, POLLOUT)) return false;
      room = free_send_room(fd);
    }
  }
  // A write the kernel said it has room for, though not as much as counted
  // here, goes ahead: at worst it waits in the kernel, as it always did.
  room = room > len ? room - len : 0;
  return true;
}
