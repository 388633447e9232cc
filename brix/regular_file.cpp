// Non-blocking opens of regular files only.
#include "regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

int open_regular_file(const char* path, bool* not_regular) {
  *not_regular = false;
  // O_NONBLOCK: a FIFO opens at once instead of waiting for a writer.
  int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st;
  if (fstat(fd, &st) == 0 && !S_ISREG(st.st_mode)) {
    *not_regular = true;
    close(fd);
    return -1;
  }
  // Back to blocking mode, which every reader of the descriptor expects.
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}
