// A shared trace buffer attached for the length of a test, and its reader.
#include "trace_capture.h"

#include <signal.h>
#include <sys/mman.h>

#include <cstdlib>
#include <cstring>

#include "core/context.h"

TraceCapture::TraceCapture(TraceLevelE eLevel, int32_t lSize) : lSize_(lSize) {
  pMemory_ = mmap(nullptr, lSize, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (pMemory_ == MAP_FAILED) {
    abort();
  }
  ptBuffer_ = TraceBufferInitialize(pMemory_, lSize, eLevel);
  ptPrevious_ = ContextGet()->sTrace.ptBufHeader;
  ContextGet()->sTrace.ptBufHeader = ptBuffer_;
}

TraceCapture::~TraceCapture() {
  ContextGet()->sTrace.ptBufHeader = ptPrevious_;
  munmap(pMemory_, lSize_);
}

std::string TraceCapture::Find(const char* pstrModuleId, int32_t lId, bool* pbFound) const {
  for (int32_t lPosition = 0; lPosition < ptBuffer_->currentBufPosition;) {
    const TraceRecordS* ptRecord = TraceRecordAt(ptBuffer_, lPosition);
    if (ptRecord == nullptr) {
      break;
    }
    if (ptRecord->lId == lId && strcmp(ptRecord->acModuleId, pstrModuleId) == 0) {
      if (pbFound != nullptr) *pbFound = true;
      return TraceRecordText(ptRecord);
    }
    lPosition += ptRecord->lRecordLength;
  }
  if (pbFound != nullptr) *pbFound = false;
  return "";
}

int TraceCapture::Count() const {
  int lCount = 0;
  for (int32_t lPosition = 0; lPosition < ptBuffer_->currentBufPosition; lCount++) {
    const TraceRecordS* ptRecord = TraceRecordAt(ptBuffer_, lPosition);
    if (ptRecord == nullptr) {
      break;
    }
    lPosition += ptRecord->lRecordLength;
  }
  return lCount;
}

void RestoreDefaultSegvAction() { signal(SIGSEGV, SIG_DFL); }
