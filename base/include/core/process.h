// Process services of the core runtime library used by the others: the
// abnormal end of the process and access to the process's records.
#ifndef CORE_PROCESS_H
#define CORE_PROCESS_H

#include <cstdint>

#include "core/time.h"
#include "core/types.h"

// Figures that a process publishes about itself; the memory counters are
// mirrored here when a context names such a record.
struct ProcDetailsS {
  int32_t lMemCount;
  int32_t lMemMax;
  int32_t lMemAllocations;
};

// When TRUE, ProcCrash(FALSE) ends the process as well. FALSE at start.
extern BooleanT gbDoCrash;

// Ends the process with SIGSEGV when bForce or gbDoCrash is TRUE, after
// trace message 209; otherwise returns at once.
void ProcCrash(BooleanT bForce);

// The calling context's corrected-clock record, or null when it has none.
VornTimeOffsetT* ProcGetVornTimeArea();

#endif  // CORE_PROCESS_H
