// Exact-size reads and writes on the destination connection.
#include "client_io.h"

#include <unistd.h>

#include <cstdio>

namespace {

// Judges the count of one read or write that had to move len bytes.
bool_t reported_count(ssize_t n, size_t len, const char* error_prefix, const char* short_text) {
  if (n < 0) {
    perror(error_prefix);
    return B_FALSE;
  }
  if (static_cast<size_t>(n) != len) {
    fputs(short_text, stderr);
    return B_FALSE;
  }
  return B_TRUE;
}

}  // namespace

bool_t read_exactly_once(int fd, void* buf, size_t len, const char* error_prefix,
                         const char* short_text) {
  return reported_count(read(fd, buf, len), len, error_prefix, short_text);
}

bool_t write_exactly_once(int fd, const void* buf, size_t len, const char* error_prefix,
                          const char* short_text) {
  return reported_count(write(fd, buf, len), len, error_prefix, short_text);
}

bool_t read_block_from_fd(int fd, char* buf) {
  size_t missing = LR_BLOCK_SIZE;
  while (missing > 0) {
    ssize_t n = read(fd, buf + (LR_BLOCK_SIZE - missing), missing);
    if (n == 0) {
      fprintf(stderr, "brix_reader: socket broken.\n");
      return B_FALSE;
    }
    if (n < 0) {
      perror("brix_reader: read failed");
      return B_FALSE;
    }
    missing -= static_cast<size_t>(n);
  }
  return B_TRUE;
}

bool_t read_client_block(rpl_Session* session) {
  return read_block_from_fd(session->client_fd, session->in_buf);
}
