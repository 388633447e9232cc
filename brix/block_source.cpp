// Staging and delivering the blocks of the open dump file.
#include "block_source.h"

#include <cstring>

#include "progress.h"

block_source::block_source() = default;
block_source::~block_source() = default;

void block_source::attach(int fd, dump_container* container, uint32 batch, uint32 file,
                          int64 offset) {
  stop_reading_ahead();
  reader_ = chunk_reader(fd, container, offset);
  batch_ = batch;
  file_ = file;
  file_done_ = false;
  data_ = buffer;
  staged = blk_cnt = blk_index = 0;
}

void block_source::reset() {
  ahead_.reset();
  ahead_wanted_ = false;
  attach(-1, nullptr, 0, 0, 0);
  prev_blk_index = 0;
  got_ = read_chunk_result();
}

void block_source::read_ahead_from_now() { ahead_wanted_ = read_ahead::wanted(); }

void block_source::stop_reading_ahead() {
  if (ahead_ != nullptr && ahead_->reading()) ahead_->stop();
}

void block_source::with_reading_still(const std::function<void()>& still) {
  if (ahead_ != nullptr && ahead_->reading()) {
    ahead_->while_still(still);
  } else {
    still();
  }
}

bool_t block_source::refill(int* error, fault_report& report) {
  staged = blk_cnt = blk_index = 0;
  *error = READ_END;
  if (file_done_) return B_FALSE;
  // A plain file's chunks are read ahead as well: the copy out of the page
  // cache then costs the sender nothing.
  if (ahead_wanted_) {
    if (ahead_ == nullptr) ahead_ = std::make_unique<read_ahead>();
    if (!ahead_->reading()) ahead_->start(reader_);
    ahead_chunk& chunk = ahead_->next();
    if (!chunk.told.empty()) report.say(chunk.told.text().c_str());
    if (!chunk.ok) {
      *error = chunk.error;
      file_done_ = true;
      return B_FALSE;
    }
    data_ = chunk.data;
    got_ = chunk.got;
  } else {
    data_ = buffer;
    if (!reader_.read(buffer, &got_, error, report)) {
      file_done_ = true;
      return B_FALSE;
    }
  }
  staged = blk_cnt = got_.blocks;
  progress_input_at(batch_, file_,
                    reader_.container() != nullptr
                        ? got_.origin.offset + got_.origin.stored_len
                        : got_.plain_offset + static_cast<int64>(got_.blocks) * LR_BLOCK_SIZE);
  return B_TRUE;
}

bool_t block_source::refill_now(int* error, fault_report& report) { return refill(error, report); }

void block_source::deliver_from(int i) {
  blk_index = i;
  blk_cnt = staged - i;
}

bool_t block_source::next_block(const char** block, int* error, fault_report& report) {
  *error = READ_END;
  if (blk_cnt == 0 && !refill(error, report)) return B_FALSE;
  *block = staged_block(blk_index);
  blk_cnt--;
  blk_index++;
  prev_blk_index = blk_cnt;
  return B_TRUE;
}

bool_t block_source::read_dump_block2(char* in_buf, int* error, fault_report& report) {
  const char* block = nullptr;
  if (!next_block(&block, error, report)) return B_FALSE;
  memcpy(in_buf, block, LR_BLOCK_SIZE);
  return B_TRUE;
}

block_position block_source::last_block_position() const {
  block_position at;
  at.batch = batch_;
  at.file = file_;
  const int last = blk_index - 1;
  if (reader_.container() == nullptr) {
    at.offset = got_.plain_offset + static_cast<int64>(last) * LR_BLOCK_SIZE;
  } else {
    at.compressed = reader_.container()->compressed();
    at.encrypted = reader_.container()->encrypted();
    at.chunk = got_.origin;
    at.index_in_chunk = last;
  }
  return at;
}
