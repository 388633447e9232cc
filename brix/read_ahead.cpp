// The read-ahead thread and its ring of decoded chunks.
#include "read_ahead.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>

bool read_ahead::wanted() {
  const char* setting = getenv("BRIX_DECODE_THREAD");
  if (setting != nullptr && strcmp(setting, "0") == 0) return false;
  return sysconf(_SC_NPROCESSORS_ONLN) > 1;
}

read_ahead::read_ahead() {
  for (int i = 0; i < RING_CHUNKS; i++) ring_.push_back(std::make_unique<ahead_chunk>());
  thread_ = std::thread(&read_ahead::run, this);
}

read_ahead::~read_ahead() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void read_ahead::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] {
      return quit_ || (reader_ != nullptr && !finished_ && !paused_ && free_slots() > 0);
    });
    if (quit_) return;
    ahead_chunk& chunk = *ring_[(head_ + (held_ ? 1 : 0) + ready_) % RING_CHUNKS];
    busy_ = true;
    lock.unlock();
    chunk.told.clear();
    chunk.error = 0;
    chunk.ok = reader_->read(chunk.data, &chunk.got, &chunk.error, chunk.told);
    lock.lock();
    busy_ = false;
    ready_++;
    if (!chunk.ok) finished_ = true;
    changed_.notify_all();
  }
}

void read_ahead::start(const chunk_reader& reader) {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    finished_ = true;  // whatever was read before stops here
    changed_.wait(lock, [this] { return !busy_; });
    reader_ = std::make_unique<chunk_reader>(reader);
    head_ = ready_ = 0;
    held_ = finished_ = false;
  }
  active_ = true;
  changed_.notify_all();
}

ahead_chunk& read_ahead::next() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (held_) {
    head_ = (head_ + 1) % RING_CHUNKS;
    held_ = false;
    changed_.notify_all();
  }
  changed_.wait(lock, [this] { return ready_ > 0; });
  ready_--;
  held_ = true;
  ahead_chunk& chunk = *ring_[head_];
  if (!chunk.ok) active_ = false;  // the file's last chunk
  return chunk;
}

void read_ahead::stop() {
  std::unique_lock<std::mutex> lock(mutex_);
  finished_ = true;  // read no further chunk
  changed_.wait(lock, [this] { return !busy_; });
  reader_.reset();
  head_ = ready_ = 0;
  held_ = false;
  active_ = false;
}

void read_ahead::while_still(const std::function<void()>& still) {
  std::unique_lock<std::mutex> lock(mutex_);
  paused_ = true;
  changed_.wait(lock, [this] { return !busy_; });
  lock.unlock();
  still();
  lock.lock();
  paused_ = false;
  changed_.notify_all();
}
