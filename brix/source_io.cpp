// Reporting reads from dump and checkpoint files.
#include "source_io.h"

#include <unistd.h>

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

bool seek_source(int fd, off_t offset, fault_report& report) {
  if (lseek(fd, offset, SEEK_SET) == offset) return true;
  report.say_errno("Bad read from Source");
  return false;
}

ssize_t read_from_source(int fd, void* buf, size_t len, fault_report& report) {
  ssize_t n = read_up_to(fd, buf, len);
  if (n < 0) {
    report.say_errno("Bad read from Source");
  } else if (n > 0 && static_cast<size_t>(n) < len) {
    report.say("Short read from Source");
  }
  return n;
}
