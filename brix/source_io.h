// Reads from dump and checkpoint files with the standard reports: a read
// error through perror("Bad read from Source"), a short non-empty read as
// "Short read from Source" (without a line end).
#ifndef BRIX_SOURCE_IO_H
#define BRIX_SOURCE_IO_H

#include <sys/types.h>

#include <cstddef>

// One read() of up to len bytes; returns its count (-1 on error).
ssize_t read_from_source(int fd, void* buf, size_t len);

#endif  // BRIX_SOURCE_IO_H
