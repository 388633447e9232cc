// Test aid: a trace buffer attached to the calling context, in memory that a
// forked child shares with its parent, so that the messages a dying child
// recorded can be read after its death.
#ifndef TESTS_BASE_TRACE_CAPTURE_H
#define TESTS_BASE_TRACE_CAPTURE_H

#include <cstdint>
#include <string>

#include "core/trace.h"

class TraceCapture {
 public:
  explicit TraceCapture(TraceLevelE eLevel = TRACE_LEVEL_DETAIL, int32_t lSize = 64 * 1024);
  ~TraceCapture();
  TraceCapture(const TraceCapture&) = delete;
  TraceCapture& operator=(const TraceCapture&) = delete;

  TraceBufHeaderT* Buffer() const { return ptBuffer_; }

  // The text of the first record with this module and id, or "" with
  // *pbFound false. Walks from the start of the record area, so it serves
  // buffers that have not wrapped.
  std::string Find(const char* pstrModuleId, int32_t lId, bool* pbFound = nullptr) const;

  // Number of records made so far (until the buffer wraps).
  int Count() const;

 private:
  void* pMemory_;
  int32_t lSize_;
  TraceBufHeaderT* ptBuffer_;
  TraceBufHeaderT* ptPrevious_;
};

// For death tests whose child must end through SIGSEGV itself: the address
// sanitizer catches the signal to report it and then aborts, so the child
// gives the signal back its default action first.
void RestoreDefaultSegvAction();

#endif  // TESTS_BASE_TRACE_CAPTURE_H
