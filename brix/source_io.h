// Reads from dump and checkpoint files with the standard reports: a read
// error as "Bad read from Source: <system text>", a short non-empty read as
// "Short read from Source" (without a line end).
#ifndef BRIX_SOURCE_IO_H
#define BRIX_SOURCE_IO_H

#include <sys/types.h>

#include <cstddef>

#include "fault_report.h"

// The error word of the block readers. Beside these values it can hold a
// zlib result of a chunk that did not decompress, or the short count of a
// chunk read that fell short: anything but READ_END is a failure.
enum read_error_word : int {
  READ_END = 0,            // the input (or the file) has ended: no failure
  READ_SYSTEM_ERROR = -1,  // a read or seek failed (reported with the system's text)
  READ_DAMAGED = 1         // the file is damaged, or cannot go on (reported)
};

// Reads until len bytes are in, the file ends or a read fails, so that a
// read that falls short before the end (a signal, a network file system) is
// not taken for the end of the file. Returns the count, or -1 with errno
// when a read failed; reports nothing.
ssize_t read_up_to(int fd, void* buf, size_t len);

// read_up_to with the reports; returns its count (-1 on error).
ssize_t read_from_source(int fd, void* buf, size_t len, fault_report& report);

// Moves the reading position to offset; false, reported as a read error,
// when it cannot: reading on from wherever the file stands would deliver the
// wrong bytes.
bool seek_source(int fd, off_t offset, fault_report& report);

#endif  // BRIX_SOURCE_IO_H
