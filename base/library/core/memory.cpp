// Pool allocation of the core runtime library: every block carries a
// header naming its pool and guard word, is zero-filled and is counted in
// the calling context.
#include "core/memory.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "core/context.h"
#include "core/process.h"
#include "core/trace.h"

TRACE_DEFINE_MODULE_INLINE("MEM        ")

static const int32_t kTraceIdAllocateFailed = 4;
static const int32_t kTraceIdGuardCorrupted = 6;
static const int32_t kTraceIdSystemAllocateFailed = 17;
// Status code of the memory module's own failures.
static const int32_t kStatusFailed = 1;

static void* MemSystemAllocate(MemPoolIdT tDummy, int32_t lSize);
static BooleanT MemSystemFree(MemAllocHeader* ptDataArea);

static const MemPoolInterfaceS gsDefaultPoolInterface = {nullptr, MemSystemAllocate, MemSystemFree,
                                                         nullptr};
static MemPoolS gsDefaultPool = {MEM_POOL_MAGIC, &gsDefaultPoolInterface};

static MemPoolIdT MemDefaultPoolIdCache = nullptr;

MemPoolIdT MemGetDefaultPoolId() { return &gsDefaultPool; }

static void* MemSystemAllocate(MemPoolIdT /*tDummy*/, int32_t lSize) {
  void* pBlock = malloc(lSize);
  if (pBlock == nullptr) {
    const int lError = errno;
    TraceMessageInline(kTraceIdSystemAllocateFailed, lError, TRACE_LEVEL_ERROR,
                       "Failed to allocate %ld byte: %s", static_cast<long>(lSize),
                       strerror(lError));
  }
  return pBlock;
}

static BooleanT MemSystemFree(MemAllocHeader* ptDataArea) {
  free(ptDataArea);
  return TRUE;
}

// Mirrors the context's counters into the process-details record, if any.
static void MemPublishCounters(const OrvantisContextT* ptContext, BooleanT bCountOnly) {
  ProcDetailsS* ptDetails = ptContext->sProcess.ptDetails;
  if (ptDetails == nullptr) {
    return;
  }
  ptDetails->lMemCount = ptContext->sMemory.lMemCount;
  if (!bCountOnly) {
    ptDetails->lMemMax = ptContext->sMemory.lMemMax;
    ptDetails->lMemAllocations = ptContext->sMemory.lMemAllocations;
  }
}

// Counted before the memory is obtained, so that a failed attempt counts too.
static void MemCountAllocation() {
  OrvantisContextT* ptContext = ContextGet();
  if (ptContext == nullptr) {
    return;
  }
  ContextMemoryS* ptMemory = &ptContext->sMemory;
  ptMemory->lMemCount++;
  if (ptMemory->lMemCount > ptMemory->lMemMax) {
    ptMemory->lMemMax = ptMemory->lMemCount;
  }
  ptMemory->lMemAllocations++;
  MemPublishCounters(ptContext, FALSE);
}

// Returns lMemCount as it was before the decrement.
static int32_t MemCountFree() {
  OrvantisContextT* ptContext = ContextGet();
  if (ptContext == nullptr) {
    return 0;
  }
  const int32_t lPreviousCount = ptContext->sMemory.lMemCount--;
  MemPublishCounters(ptContext, TRUE);
  return lPreviousCount;
}

[[noreturn]] static void MemCrash() {
  ProcCrash(TRUE);
  // Reached only when SIGSEGV is caught or ignored; the caller cannot go on.
  abort();
}

void* MemAllocateFromPoolNotLogged(int32_t lSize, MemPoolIdT tPool) {
  MemCountAllocation();

  // Sizes whose block would not fit a pool's signed 32-bit count are
  // refused like exhausted memory; a negative one is shown as asked.
  const int64_t llRounded = lSize < 0 ? lSize
                                      : (static_cast<int64_t>(lSize) + MEM_SIZE_ROUNDING - 1) &
                                            ~static_cast<int64_t>(MEM_SIZE_ROUNDING - 1);
  const int64_t llTotal = llRounded + MEM_HEADER_SIZE + MEM_GUARD_SIZE;
  void* pBlock = nullptr;
  MemPoolIdT tOwner = tPool;
  if (lSize >= 0 && llTotal <= INT32_MAX) {
    const int32_t lTotal = static_cast<int32_t>(llTotal);
    if (tPool == nullptr) {
      pBlock = MemSystemAllocate(nullptr, lTotal);
    } else {
      pBlock = tPool->psInterface->pfnAllocate(tPool, lTotal);
      if (pBlock == nullptr) {
        pBlock = MemSystemAllocate(nullptr, lTotal);
        tOwner = MemDefaultPoolFromCache(&MemDefaultPoolIdCache);
      }
    }
  }
  if (pBlock == nullptr) {
    TraceMessageInline(kTraceIdAllocateFailed, kStatusFailed, TRACE_LEVEL_ERROR,
                       "Unable to allocate %ld bytes of memory", static_cast<long>(llRounded));
    MemCrash();
  }

  MemAllocHeader* ptHeader = static_cast<MemAllocHeader*>(pBlock);
  char* pDataArea = static_cast<char*>(pBlock) + MEM_HEADER_SIZE;
  ptHeader->pGuard = reinterpret_cast<uint32_t*>(pDataArea + llRounded);
  ptHeader->tPoolId = tOwner;
  *ptHeader->pGuard = MEM_GUARD_WORD;
  memset(pDataArea, 0, llRounded);
  return pDataArea;
}

void* MemAllocateFromPool(int32_t lSize, MemPoolIdT tPool) {
  return MemAllocateFromPoolNotLogged(lSize, tPool);
}

BooleanT MemFreeInternal(void** ppDataArea) {
  if (ppDataArea == nullptr || *ppDataArea == nullptr) {
    return FALSE;
  }
  const int32_t lPreviousCount = MemCountFree();

  char* pDataArea = static_cast<char*>(*ppDataArea);
  MemAllocHeader* ptHeader = reinterpret_cast<MemAllocHeader*>(pDataArea - MEM_HEADER_SIZE);
  uint32_t* pGuard = ptHeader->pGuard;
  if (pGuard == nullptr || *pGuard != MEM_GUARD_WORD) {
    TraceMessageInline(kTraceIdGuardCorrupted, kStatusFailed, TRACE_LEVEL_ERROR,
                       "Guard band corrupted at '%p' '%p' (%ld)", static_cast<void*>(pDataArea),
                       static_cast<void*>(pGuard), static_cast<long>(lPreviousCount));
    MemCrash();
  }

  *pGuard = 0;
  const MemPoolIdT tOwner = ptHeader->tPoolId;
  const BooleanT bFreed =
      tOwner != nullptr ? tOwner->psInterface->pfnFree(ptHeader) : MemSystemFree(ptHeader);
  *ppDataArea = nullptr;
  return bFreed;
}
