// One read of the open dump file: a plain file's next sixteen blocks or a
// container's next chunk, decoded into a buffer the caller passes, with
// where it came from. The block source reads through it, and so does the
// thread that reads ahead of the sender.
#ifndef BRIX_CHUNK_READER_H
#define BRIX_CHUNK_READER_H

#include "brix.h"
#include "brix_comp_encr.h"
#include "fault_report.h"

enum {
  DUMP_READ_SIZE = 65536,      // one read of a plain dump file: 16 blocks
  DUMP_STAGING_SIZE = 131072,  // room for the decoded data of one read
  DUMP_BLOCKS_PER_READ = DUMP_READ_SIZE / LR_BLOCK_SIZE
};
static_assert(static_cast<int>(DUMP_STAGING_SIZE) >= static_cast<int>(CHUNK_DECODED_MAX),
              "a decoded chunk fits the staging buffer");

// What one read gave.
struct read_chunk_result {
  int blocks = 0;          // whole blocks in the buffer
  int64 plain_offset = 0;  // plain files: the offset of the first of them
  chunk_origin origin;     // containers: where the chunk is stored
};

class chunk_reader {
 public:
  // Reading goes on in the file open on fd, at `plain_offset` (a plain
  // file) or where `container` (when not null) stands.
  chunk_reader(int fd, dump_container* container, int64 plain_offset)
      : fd_(fd), container_(container), next_plain_offset_(plain_offset) {}

  // Reads and decodes the next chunk into out (DUMP_STAGING_SIZE bytes).
  // B_TRUE: `got` says what is there; B_FALSE with *error 0: the file is
  // used up; B_FALSE with *error non-zero: a failure, told to `report`.
  bool_t read(unsigned char* out, read_chunk_result* got, int* error, fault_report& report);

  // read in two steps, for the read-ahead thread. read_stored reads the
  // next chunk in file order, as read does, except that a container's chunk
  // is left as stored (in stored_area, CHUNK_READ_BUFFER_SIZE bytes, or in
  // out): decoded() then says whether it still needs decode_stored, which
  // any thread may run with its own inflater, and which sets got->blocks.
  bool_t read_stored(unsigned char* out, unsigned char* stored_area, read_chunk_result* got,
                     int* error, fault_report& report);
  bool decoded() const { return container_ == nullptr; }
  bool_t decode_stored(chunk_inflater& inflater, unsigned char* out, unsigned char* stored_area,
                       read_chunk_result* got, int* error, fault_report& report) const;

  int fd() const { return fd_; }
  dump_container* container() const { return container_; }

 private:
  bool_t read_plain(unsigned char* out, read_chunk_result* got, int* error, fault_report& report);

  int fd_;
  dump_container* container_;
  int64 next_plain_offset_;  // plain files: where the next read begins
};

#endif  // BRIX_CHUNK_READER_H
