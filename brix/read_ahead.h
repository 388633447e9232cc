// The thread that reads the open dump file ahead of the sender: while the
// blocks of one chunk go out, the next chunks are read and authenticated in
// file order into a small ring of buffers, and decrypted and inflated there
// by whichever thread gets to them first: the reading thread works from the
// newest chunk back, the sender decodes the chunk it is due to send when
// nobody has yet, so the two cores share the decoding whichever stage is
// the slower. Each buffer carries what the sender needs when it gets there:
// the blocks and where they came from, or the end of the file, or a failure
// with the messages it gave, which are told only then, so the user sees what
// a single thread would show. It reads one file at a time, as the dump set
// hands it over, and never opens a file itself.
#ifndef BRIX_READ_AHEAD_H
#define BRIX_READ_AHEAD_H

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "chunk_inflate.h"
#include "chunk_reader.h"
#include "fault_report.h"

// One buffer of the ring.
struct ahead_chunk {
  enum stage_t {
    STORED,    // read and authenticated: to be decoded
    DECODING,  // a thread decodes it
    READY      // decoded, or the end of the file, or a failure
  };
  alignas(16) unsigned char data[DUMP_STAGING_SIZE];
  alignas(16) unsigned char stored[CHUNK_READ_BUFFER_SIZE];  // a compressed chunk as stored
  read_chunk_result got;
  stage_t stage = READY;
  bool_t ok = B_FALSE;  // blocks are there; else the end of the file (error 0) or a failure
  int error = 0;        // the error word of the end or the failure
  kept_report told;     // what the reading said, to be told when the sender gets here
};

class read_ahead {
 public:
  enum { RING_CHUNKS = 8 };

  // Whether a second thread is worth having: not when BRIX_DECODE_THREAD is
  // 0, nor on a machine with one online processor.
  static bool wanted();

  read_ahead();
  ~read_ahead();  // stops the thread
  read_ahead(const read_ahead&) = delete;
  read_ahead& operator=(const read_ahead&) = delete;

  // Starts reading the file of `reader` ahead, from where it stands.
  void start(const chunk_reader& reader);
  // Whether a file is being read (started, its end not yet taken).
  bool reading() const { return active_; }
  // The next chunk of the file, in order, decoded; waits for it, or decodes
  // it here when it is still as stored. It stays valid until the next call
  // of next() or stop(). The end of the file or a failure is the last chunk
  // of a file.
  ahead_chunk& next();
  // Stops reading the file and drops what was read ahead.
  void stop();
  // Runs `still` while the thread stands between two chunks, with every
  // chunk read so far decoded and counted: the file's reading position,
  // decryption context and decoded total do not move meanwhile.
  void while_still(const std::function<void()>& still);

 private:
  void run();
  // With the lock held: the chunk that reading goes on into, or null.
  ahead_chunk* slot_to_read();
  // With the lock held: the newest chunk as stored, or null.
  ahead_chunk* newest_stored();
  // Decodes `chunk`, which the caller has marked DECODING, with the lock
  // held on entry and exit but not while decoding.
  void decode(ahead_chunk& chunk, chunk_inflater& inflater, std::unique_lock<std::mutex>& lock);
  size_t free_slots() const { return RING_CHUNKS - ready_ - (held_ ? 1 : 0); }

  std::vector<std::unique_ptr<ahead_chunk>> ring_;
  std::mutex mutex_;
  std::condition_variable work_;      // the thread's: room to read into, or a state changed
  std::condition_variable progress_;  // the sender's: a chunk was read or decoded, the thread idled
  chunk_inflater thread_inflater_;    // the reading thread's
  chunk_inflater sender_inflater_;    // the sender's, in next()
  // Guarded by mutex_:
  std::unique_ptr<chunk_reader> reader_;  // the file being read; read_stored by the thread alone
  size_t head_ = 0;                       // the chunk the sender holds, or gets next
  size_t ready_ = 0;                      // chunks read and not yet taken, decoded or not
  size_t undecoded_ = 0;                  // chunks STORED or DECODING
  bool held_ = false;                     // the sender holds ring_[head_]
  bool finished_ = false;  // the file's end or a failure was met: nothing more to read
  // The ring was found full of chunks that need no decoding (a plain
  // file's): reading resumes once half of it is free, so that the thread
  // wakes once for several chunks rather than for each.
  bool waiting_for_room_ = false;
  bool paused_ = false;    // while_still runs: read no further chunk
  bool reading_ = false;   // the thread is reading a chunk
  bool decoding_ = false;  // the thread is decoding a chunk
  bool quit_ = false;
  bool active_ = false;  // written by the sender's thread only (start, stop, next)
  std::thread thread_;
};

#endif  // BRIX_READ_AHEAD_H
