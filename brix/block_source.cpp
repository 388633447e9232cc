// Staging and delivering the blocks of the open dump file.
#include "block_source.h"

#include <cstring>

#include "source_io.h"

void block_source::attach(int fd, dump_container* container, uint32 batch, uint32 file,
                          int64 offset) {
  fd_ = fd;
  container_ = container;
  batch_ = batch;
  file_ = file;
  next_plain_offset = offset;
  staged = blk_cnt = blk_index = 0;
}

void block_source::reset() {
  attach(-1, nullptr, 0, 0, 0);
  prev_blk_index = 0;
  refill_offset = 0;
  chunk_ = chunk_origin();
}

// A tail shorter than a block (only a damaged file has one) is not a block:
// the file ends before it, wherever the read boundary falls.
bool_t block_source::refill_from_plain_file(int* error, fault_report& report) {
  ssize_t count = read_up_to(fd_, buffer, DUMP_READ_SIZE);
  *error = static_cast<int>(count);
  if (count < 0) {
    report.say_errno("Bad read from Source");
    return B_FALSE;
  }
  *error = 0;
  if (count < static_cast<ssize_t>(LR_BLOCK_SIZE)) return B_FALSE;  // the end of the file
  refill_offset = next_plain_offset;
  next_plain_offset += count;
  staged = static_cast<int>(count / LR_BLOCK_SIZE);
  return B_TRUE;
}

bool_t block_source::refill(int* error, fault_report& report) {
  staged = blk_cnt = blk_index = 0;
  if (container_ == nullptr) {
    if (!refill_from_plain_file(error, report)) return B_FALSE;
  } else {
    size_t decoded = 0;
    if (!container_->refill(fd_, buffer, &decoded, &chunk_, error, report)) return B_FALSE;
    staged = static_cast<int>(decoded / LR_BLOCK_SIZE);
  }
  blk_cnt = staged;
  return B_TRUE;
}

bool_t block_source::refill_now(int* error, fault_report& report) {
  *error = 0;
  return refill(error, report);
}

void block_source::deliver_from(int i) {
  blk_index = i;
  blk_cnt = staged - i;
}

bool_t block_source::read_dump_block2(char* in_buf, int* error, fault_report& report) {
  *error = 0;
  if (blk_cnt == 0 && !refill(error, report)) return B_FALSE;
  memcpy(in_buf, staged_block(blk_index), LR_BLOCK_SIZE);
  blk_cnt--;
  blk_index++;
  prev_blk_index = blk_cnt;
  return B_TRUE;
}

block_position block_source::last_block_position() const {
  block_position at;
  at.batch = batch_;
  at.file = file_;
  const int last = blk_index - 1;
  if (container_ == nullptr) {
    at.offset = refill_offset + static_cast<int64>(last) * LR_BLOCK_SIZE;
  } else {
    at.compressed = container_->compressed();
    at.encrypted = container_->encrypted();
    at.chunk = chunk_;
    at.index_in_chunk = last;
  }
  return at;
}
