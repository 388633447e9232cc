// Memory pools of the core runtime library: guarded, zero-filled, counted
// blocks handed out through a pool's table of operations.
#ifndef CORE_MEMORY_H
#define CORE_MEMORY_H

#include <cstddef>
#include <cstdint>

#include "core/types.h"

struct MemPoolS;
typedef MemPoolS* MemPoolIdT;  // null names no pool: the system allocator serves

struct MemAllocHeader;

typedef BooleanT (*MemPoolCreateFnT)(MemPoolIdT tPool);
// Returns lSize bytes for the pool, or null.
typedef void* (*MemPoolAllocateFnT)(MemPoolIdT tPool, int32_t lSize);
// Takes the start of a block, its header, as the pool's allocator returned it.
typedef BooleanT (*MemPoolFreeFnT)(MemAllocHeader* ptDataArea);
typedef BooleanT (*MemPoolReleaseFnT)(MemPoolIdT tPool);

struct MemPoolInterfaceS {
  MemPoolCreateFnT pfnCreate;
  MemPoolAllocateFnT pfnAllocate;
  MemPoolFreeFnT pfnFree;
  MemPoolReleaseFnT pfnRelease;
};
typedef MemPoolInterfaceS MemPoolInterfaceT;

constexpr int32_t MEM_POOL_MAGIC = 0x5AA80C31;

struct MemPoolS {
  int32_t lMagic;  // MEM_POOL_MAGIC in every valid pool
  const MemPoolInterfaceS* psInterface;
};

// A block as a pool hands it out: this header, the caller's data area (the
// requested size rounded up to MEM_SIZE_ROUNDING), then the guard word.
struct MemAllocHeader {
  uint32_t* pGuard;    // the guard word behind the data area
  MemPoolIdT tPoolId;  // the pool whose pfnFree takes the block back, null for the system
};
static_assert(sizeof(MemAllocHeader) == 2 * sizeof(void*), "header holds two pointers");
static_assert(offsetof(MemAllocHeader, pGuard) == 0, "pGuard offset");
static_assert(offsetof(MemAllocHeader, tPoolId) == sizeof(void*), "tPoolId offset");

constexpr int32_t MEM_SIZE_ROUNDING = 4;
constexpr int32_t MEM_HEADER_SIZE = sizeof(MemAllocHeader);
constexpr int32_t MEM_GUARD_SIZE = sizeof(uint32_t);
// In native byte order; set to 0 when the block is freed, so that a second
// free of the same block is caught.
constexpr uint32_t MEM_GUARD_WORD = 0x01020304;

// The pool that draws on the system allocator. Never fails, never changes.
MemPoolIdT MemGetDefaultPoolId();

// Every source module keeps its own cache of the default pool's id, filled
// on first use.
inline MemPoolIdT MemDefaultPoolFromCache(MemPoolIdT* ptCache) {
  if (*ptCache == nullptr) {
    *ptCache = MemGetDefaultPoolId();
  }
  return *ptCache;
}

// A zero-filled data area of at least lSize bytes from tPool, falling back
// to the system allocator when the pool has no memory. Never returns null:
// when no memory can be had, or lSize is negative or too large, the process
// ends through ProcCrash.
void* MemAllocateFromPool(int32_t lSize, MemPoolIdT tPool);
void* MemAllocateFromPoolNotLogged(int32_t lSize, MemPoolIdT tPool);

// Frees the block whose data area *ppDataArea names through its owning pool
// and sets *ppDataArea to null. FALSE, and nothing changes, when there is no
// pointer. A damaged guard word ends the process through ProcCrash.
BooleanT MemFreeInternal(void** ppDataArea);

#endif  // CORE_MEMORY_H
