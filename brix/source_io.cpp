// Reporting reads from dump and checkpoint files.
#include "source_io.h"

#include <unistd.h>

#include <cstdio>

ssize_t read_from_source(int fd, void* buf, size_t len) {
  ssize_t n = read(fd, buf, len);
  if (n < 0) {
    perror("Bad read from Source");
  } else if (n > 0 && static_cast<size_t>(n) < len) {
    fputs("Short read from Source", stderr);
  }
  return n;
}
