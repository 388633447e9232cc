// Reporting reads from dump and checkpoint files.
#include "source_io.h"

#include <unistd.h>

#include <cstdio>

ssize_t read_up_to(int fd, void* buf, size_t len) {
  size_t done = 0;
  while (done < len) {
    ssize_t n = read(fd, static_cast<char*>(buf) + done, len - done);
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

bool seek_source(int fd, off_t offset) {
  if (lseek(fd, offset, SEEK_SET) == offset) return true;
  perror("Bad read from Source");
  return false;
}

off_t source_position(int fd) {
  off_t position = lseek(fd, 0, SEEK_CUR);
  if (position < 0) perror("Bad read from Source");
  return position;
}

ssize_t read_from_source(int fd, void* buf, size_t len) {
  ssize_t n = read_up_to(fd, buf, len);
  if (n < 0) {
    perror("Bad read from Source");
  } else if (n > 0 && static_cast<size_t>(n) < len) {
    fputs("Short read from Source", stderr);
  }
  return n;
}
