// Opening the files the writer reads on the operator's say-so only when they
// are regular files, and without ever blocking in the open: a FIFO would wait
// there for a writer that never comes, and a device or a directory is no
// dump file either.
#ifndef BRIX_REGULAR_FILE_H
#define BRIX_REGULAR_FILE_H

// Opens path for reading, close-on-exec, and returns the descriptor (in
// blocking mode). Returns -1 with errno from open when that failed, and -1
// with *not_regular set when path names something other than a regular
// file (nothing is left open).
int open_regular_file(const char* path, bool* not_regular);

#endif  // BRIX_REGULAR_FILE_H
