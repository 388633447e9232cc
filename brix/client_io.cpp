// Whole reads and exact-size writes on the destination connection.
#include "client_io.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "peer_watch.h"

namespace {

bool_t system_error(const char* error_prefix) {
  perror(error_prefix);
  return B_FALSE;
}

}  // namespace

bool_t read_word_whole(int fd, void* buf, size_t len, const char* error_prefix,
                       const char* short_text) {
  size_t done = 0;
  while (done < len) {
    if (!wait_for_peer(fd, POLLIN)) return system_error(error_prefix);
    ssize_t n = read(fd, static_cast<char*>(buf) + done, len - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return system_error(error_prefix);
    if (n == 0) {
      fputs(short_text, stderr);
      return B_FALSE;
    }
    done += static_cast<size_t>(n);
  }
  return B_TRUE;
}

bool_t write_exactly_once(int fd, const void* buf, size_t len, const char* error_prefix,
                          const char* short_text) {
  if (!wait_for_room(fd, len)) return system_error(error_prefix);
  ssize_t n = write(fd, buf, len);
  if (n < 0) return system_error(error_prefix);
  if (static_cast<size_t>(n) != len) {
    fputs(short_text, stderr);
    return B_FALSE;
  }
  return B_TRUE;
}

bool_t read_block_from_fd(int fd, char* buf) {
  const char* const error_prefix = "brix_reader: read failed";
  size_t missing = LR_BLOCK_SIZE;
  while (missing > 0) {
    if (!wait_for_peer(fd, POLLIN)) return system_error(error_prefix);
    ssize_t n = read(fd, buf + (LR_BLOCK_SIZE - missing), missing);
    if (n == 0) {
      fprintf(stderr, "brix_reader: socket broken.\n");
      return B_FALSE;
    }
    if (n < 0) return system_error(error_prefix);
    missing -= static_cast<size_t>(n);
  }
  return B_TRUE;
}

bool_t read_client_block(rpl_Session* session) {
  return read_block_from_fd(session->client_fd, session->in_buf);
}
