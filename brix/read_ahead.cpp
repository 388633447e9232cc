// The read-ahead thread, its ring of chunks and the sharing of their
// decoding.
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
  // Default-initialised, not zeroed: a buffer's pages are only taken as
  // chunks fill them, which keeps the writer's memory to what it uses.
  for (int i = 0; i < RING_CHUNKS; i++)
    ring_.push_back(std::unique_ptr<ahead_chunk>(new ahead_chunk));
  thread_ = std::thread(&read_ahead::run, this);
}

read_ahead::~read_ahead() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  work_.notify_one();
  thread_.join();
}

ahead_chunk* read_ahead::slot_to_read() {
  if (reader_ == nullptr || finished_ || paused_) return nullptr;
  const size_t room_needed = waiting_for_room_ ? RING_CHUNKS / 2 : 1;
  if (free_slots() < room_needed) {
    // Chunks that need no decoding leave the thread nothing else to do:
    // it rests until half the ring is free.
    waiting_for_room_ = reader_->decoded();
    return nullptr;
  }
  waiting_for_room_ = false;
  return ring_[(head_ + (held_ ? 1 : 0) + ready_) % RING_CHUNKS].get();
}

ahead_chunk* read_ahead::newest_stored() {
  const size_t oldest = head_ + (held_ ? 1 : 0);
  for (size_t i = ready_; i-- > 0;) {
    ahead_chunk* chunk = ring_[(oldest + i) % RING_CHUNKS].get();
    if (chunk->stage == ahead_chunk::STORED) return chunk;
  }
  return nullptr;
}

void read_ahead::decode(ahead_chunk& chunk, chunk_inflater& inflater,
                        std::unique_lock<std::mutex>& lock) {
  lock.unlock();
  chunk.ok = reader_->decode_stored(inflater, chunk.data, chunk.stored, &chunk.got, &chunk.error,
                                    chunk.told);
  lock.lock();
  reader_->container()->count_decoded(chunk.ok == B_TRUE,
                                      static_cast<size_t>(chunk.got.blocks) * LR_BLOCK_SIZE);
  chunk.stage = ahead_chunk::READY;
  undecoded_--;
  if (!chunk.ok) finished_ = true;  // read nothing behind a damaged chunk
  progress_.notify_all();
}

void read_ahead::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    ahead_chunk* to_read = nullptr;
    ahead_chunk* to_decode = nullptr;
    // Reading first, so that the ring stays full; decoding from the newest
    // chunk back, away from the one the sender is due to take.
    work_.wait(lock, [&] {
      if (quit_) return true;
      to_read = slot_to_read();
      if (to_read == nullptr) to_decode = newest_stored();
      return to_read != nullptr || to_decode != nullptr;
    });
    if (quit_) return;
    if (to_decode != nullptr) {
      to_decode->stage = ahead_chunk::DECODING;
      decoding_ = true;
      decode(*to_decode, thread_inflater_, lock);
      decoding_ = false;
      continue;
    }
    ahead_chunk& chunk = *to_read;
    reading_ = true;
    lock.unlock();
    chunk.told.clear();
    chunk.error = 0;
    chunk.got = read_chunk_result();
    chunk.ok = reader_->read_stored(chunk.data, chunk.stored, &chunk.got, &chunk.error, chunk.told);
    lock.lock();
    reading_ = false;
    ready_++;
    if (chunk.ok && !reader_->decoded()) {
      chunk.stage = ahead_chunk::STORED;
      undecoded_++;
    } else {
      chunk.stage = ahead_chunk::READY;
    }
    if (!chunk.ok) finished_ = true;
    progress_.notify_all();
  }
}

void read_ahead::start(const chunk_reader& reader) {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    finished_ = true;  // whatever was read before stops here
    progress_.wait(lock, [this] { return !reading_ && !decoding_; });
    reader_ = std::make_unique<chunk_reader>(reader);
    head_ = ready_ = undecoded_ = 0;
    held_ = finished_ = waiting_for_room_ = false;
  }
  active_ = true;
  work_.notify_one();
}

ahead_chunk& read_ahead::next() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (held_) {
    head_ = (head_ + 1) % RING_CHUNKS;
    held_ = false;
    if (!waiting_for_room_ || free_slots() == RING_CHUNKS / 2) work_.notify_one();
  }
  progress_.wait(lock,
                 [this] { return ready_ > 0 && ring_[head_]->stage != ahead_chunk::DECODING; });
  ready_--;
  held_ = true;
  ahead_chunk& chunk = *ring_[head_];
  if (chunk.stage == ahead_chunk::STORED) {  // nobody has decoded it yet: no waiting for it
    chunk.stage = ahead_chunk::DECODING;
    decode(chunk, sender_inflater_, lock);
  }
  if (!chunk.ok) {
    // The file's last chunk: nothing behind it is delivered, so the thread
    // stops here, and the file's container is the caller's again.
    finished_ = true;
    progress_.wait(lock, [this] { return !reading_ && !decoding_; });
    ready_ = undecoded_ = 0;
    active_ = false;
  }
  return chunk;
}

void read_ahead::stop() {
  std::unique_lock<std::mutex> lock(mutex_);
  finished_ = true;  // read no further chunk
  progress_.wait(lock, [this] { return !reading_ && !decoding_; });
  reader_.reset();
  head_ = ready_ = undecoded_ = 0;
  held_ = false;
  active_ = false;
}

void read_ahead::while_still(const std::function<void()>& still) {
  std::unique_lock<std::mutex> lock(mutex_);
  paused_ = true;
  progress_.wait(lock, [this] { return !reading_ && undecoded_ == 0; });
  lock.unlock();
  still();
  lock.lock();
  paused_ = false;
  work_.notify_one();
}
