// Reading the next chunk of a plain or container dump file.
#include "chunk_reader.h"

#include "source_io.h"

bool_t chunk_reader::read(unsigned char* out, read_chunk_result* got, int* error,
                          fault_report& report) {
  *error = READ_END;
  if (container_ != nullptr) {
    size_t decoded = 0;
    if (!container_->refill(fd_, out, &decoded, &got->origin, error, report)) return B_FALSE;
    got->blocks = static_cast<int>(decoded / LR_BLOCK_SIZE);
    return B_TRUE;
  }
  return read_plain(out, got, error, report);
}

bool_t chunk_reader::read_stored(unsigned char* out, unsigned char* stored_area,
                                 read_chunk_result* got, int* error, fault_report& report) {
  *error = READ_END;
  got->blocks = 0;
  if (container_ != nullptr) {
    return container_->read_chunk(fd_, out, stored_area, &got->origin, error, report);
  }
  return read_plain(out, got, error, report);
}

bool_t chunk_reader::decode_stored(chunk_inflater& inflater, unsigned char* out,
                                   unsigned char* stored_area, read_chunk_result* got, int* error,
                                   fault_report& report) const {
  size_t decoded = 0;
  const bool_t ok =
      container_->decode_chunk(inflater, out, stored_area, got->origin, &decoded, error, report);
  got->blocks = static_cast<int>(decoded / LR_BLOCK_SIZE);
  return ok;
}

bool_t chunk_reader::read_plain(unsigned char* out, read_chunk_result* got, int* error,
                                fault_report& report) {
  ssize_t count = read_up_to(fd_, out, DUMP_READ_SIZE);
  if (count < 0) {
    report.say_errno("Bad read from Source");
    *error = READ_SYSTEM_ERROR;
    return B_FALSE;
  }
  // A tail shorter than a block (only a damaged file has one) is not a
  // block: the file ends before it, wherever the read boundary falls.
  if (count < static_cast<ssize_t>(LR_BLOCK_SIZE)) return B_FALSE;
  got->blocks = static_cast<int>(count / LR_BLOCK_SIZE);
  got->plain_offset = next_plain_offset_;
  next_plain_offset_ += count;
  return B_TRUE;
}
