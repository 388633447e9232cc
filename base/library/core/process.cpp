// The process services that the other core modules rest on: ending the
// process abnormally and reaching the process records of the context.
#include "core/process.h"

#include <signal.h>
#include <unistd.h>

#include "core/context.h"
#include "core/trace.h"

TRACE_DEFINE_MODULE_INLINE("PROCESS        ")

static const int32_t kTraceIdCrash = 209;

BooleanT gbDoCrash = FALSE;

void ProcCrash(BooleanT bForce) {
  if (!bForce && !gbDoCrash) {
    return;
  }
  TraceMessageInline(kTraceIdCrash, 0, TRACE_LEVEL_ERROR, "Crash program");
  // The default action of SIGSEGV ends the process abnormally, so that
  // nothing else runs and a core dump can show where it stopped.
  kill(getpid(), SIGSEGV);
}

VornTimeOffsetT* ProcGetVornTimeArea() {
  OrvantisContextT* ptContext = ContextGet();
  return ptContext == nullptr ? nullptr : ptContext->sProcess.ptVornTime;
}
