// The context record that holds the state of the core services for the
// calling thread: one static record, or one per thread in a threaded
// process.
#ifndef CORE_CONTEXT_H
#define CORE_CONTEXT_H

#include <pthread.h>

#include <cstdint>

#include "core/process.h"
#include "core/time.h"
#include "core/trace.h"
#include "core/types.h"

struct ContextMemoryS {
  int32_t lMemCount;        // blocks outstanding
  int32_t lMemMax;          // highest lMemCount so far
  int32_t lMemAllocations;  // allocations ever attempted
};

struct ContextTraceS {
  pthread_mutex_t tLock;         // serialises recording into ptBufHeader
  BooleanT bDisabled;            // TRUE switches tracing off
  BooleanT bStampTime;           // TRUE stamps records with the corrected clock
  TraceBufHeaderT* ptBufHeader;  // the attached buffer, null when none
  int32_t lSequenceNumber;       // of the last record made through this context
};

struct ContextProcessS {
  ProcDetailsS* ptDetails;      // null when the process publishes nothing
  VornTimeOffsetT* ptVornTime;  // null when no corrected clock is known
};

struct OrvantisContextS {
  ContextMemoryS sMemory;
  ContextTraceS sTrace;
  ContextProcessS sProcess;
};
typedef OrvantisContextS OrvantisContextT;

// The calling thread's context: the static record in an unthreaded
// process, else the record attached to the thread (null if none).
OrvantisContextT* ContextGet();

// TRUE when ContextGet returns a record.
BooleanT ContextValid();

// Switches between the single static record and one record per thread.
// Switching on allocates the thread-specific key the first time; FALSE when
// no key can be had.
BooleanT ContextSetThreaded(BooleanT bThreaded);

// Makes ptContext the calling thread's context in a threaded process (null
// detaches). FALSE when no thread-specific key has been allocated.
BooleanT ContextAttachThread(OrvantisContextT* ptContext);

// Prepares a per-thread record: all zero, with a working lock. Release it
// with ContextRelease once no thread uses it.
void ContextInitialize(OrvantisContextT* ptContext);
void ContextRelease(OrvantisContextT* ptContext);

#endif  // CORE_CONTEXT_H
