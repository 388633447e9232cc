// Listening for and accepting the destination's connection.
#include "listen.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace {

char address_text[ADDRESS_TEXT_SIZE];

struct listener_texts {
  const char* socket_error;
  const char* bind_error;
  const char* listen_error;
  const char* accept_error;
};
const listener_texts kInet6Texts = {"Error in socket (inet6)", "Error in bind (inet6)",
                                    "Error in listen (inet6)", "Error in accept (inet6)"};
const listener_texts kInetTexts = {"Error in socket (inet)", "Error in bind (inet)",
                                   "Error in listen (inet)", "Error in accept (inet)"};

// A listening socket of the family on the wildcard address and the
// replication port, or -1 (reported) when it cannot be made.
int make_listener(int family, const listener_texts& texts) {
  int fd = socket(family, SOCK_STREAM, 0);
  if (fd < 0) {
    perror(texts.socket_error);
    return -1;
  }
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));

  sockaddr_storage address;
  memset(&address, 0, sizeof(address));
  socklen_t length;
  if (family == AF_INET6) {
    sockaddr_in6* a6 = reinterpret_cast<sockaddr_in6*>(&address);
    a6->sin6_family = AF_INET6;
    a6->sin6_addr = in6addr_any;
    a6->sin6_port = htons(RPL_PORT);
    length = sizeof(*a6);
  } else {
    sockaddr_in* a4 = reinterpret_cast<sockaddr_in*>(&address);
    a4->sin_family = AF_INET;
    a4->sin_addr.s_addr = htonl(INADDR_ANY);
    a4->sin_port = htons(RPL_PORT);
    length = sizeof(*a4);
  }
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) < 0) {
    perror(texts.bind_error);
    close(fd);
    return -1;
  }
  if (listen(fd, 1) < 0) {
    perror(texts.listen_error);
    close(fd);
    return -1;
  }
  return fd;
}

// Waits up to one round for fd to become readable.
bool connection_pending(int fd) {
  if (fd >= FD_SETSIZE) return false;
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(fd, &readable);
  timeval timeout = {LISTEN_WAIT_SECONDS, 0};
  return select(FD_SETSIZE, &readable, nullptr, nullptr, &timeout) == 1;
}

void close_listener(int* fd) {
  if (*fd != -1) close(*fd);
  *fd = -1;
}

}  // namespace

const char* address_to_string(const struct sockaddr* address, bool_t check_ipv4_mapped_ipv6) {
  memset(address_text, 0, sizeof(address_text));
  if (address == nullptr) return address_text;

  bool converted;
  if (address->sa_family == AF_INET6) {
    const in6_addr& a6 = reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr;
    if (check_ipv4_mapped_ipv6 && IN6_IS_ADDR_V4MAPPED(&a6)) {
      const unsigned char* b = a6.s6_addr;
      snprintf(address_text, sizeof(address_text), "%ld.%ld.%ld.%ld", static_cast<long>(b[12]),
               static_cast<long>(b[13]), static_cast<long>(b[14]), static_cast<long>(b[15]));
      return address_text;
    }
    converted = inet_ntop(AF_INET6, &a6, address_text + 1, sizeof(address_text) - 2) != nullptr;
    if (converted) {
      address_text[0] = '[';
      size_t end = strlen(address_text);
      address_text[end] = ']';
      address_text[end + 1] = '\0';
    }
  } else {
    const in_addr& a4 = reinterpret_cast<const sockaddr_in*>(address)->sin_addr;
    converted = inet_ntop(AF_INET, &a4, address_text, sizeof(address_text)) != nullptr;
  }
  if (!converted) snprintf(address_text, sizeof(address_text), "invalid address");
  return address_text;
}

bool_t listen_for_connect(rpl_Session* session) {
  if (session == nullptr) return B_FALSE;

  session->listen_fd_inet6 = make_listener(AF_INET6, kInet6Texts);
  session->listen_fd_inet = -1;
  if (session->listen_fd_inet6 == -1) {
    session->listen_fd_inet = make_listener(AF_INET, kInetTexts);
    if (session->listen_fd_inet == -1) return B_FALSE;
  }
  printf(session->listen_fd_inet6 != -1 ? "Waiting for connection (inet6, inet)\n"
                                        : "Waiting for connection (inet)\n");
  if (session->cmd == RPLCMD_ACQTREE) {
    fprintf(stderr, "Use archivist start command on secondary to create a relationship\n");
  }

  sockaddr_storage peer;
  memset(&peer, 0, sizeof(peer));
  socklen_t peer_length = sizeof(peer);
  for (;;) {
    struct {
      int* fd;
      int* other;
      const listener_texts* texts;
    } listeners[] = {{&session->listen_fd_inet6, &session->listen_fd_inet, &kInet6Texts},
                     {&session->listen_fd_inet, &session->listen_fd_inet6, &kInetTexts}};
    for (auto& l : listeners) {
      if (*l.fd == -1 || !connection_pending(*l.fd)) continue;
      bool_t result = B_TRUE;
      session->client_fd = accept(*l.fd, reinterpret_cast<sockaddr*>(&peer), &peer_length);
      if (session->client_fd < 0) {
        perror(l.texts->accept_error);
        close_listener(l.fd);
        result = B_FALSE;
      } else {
        printf("Connection accepted from %s\n",
               address_to_string(reinterpret_cast<sockaddr*>(&peer), B_TRUE));
      }
      close_listener(l.other);
      return result;
    }
  }
}
