// Pool allocation: block layout, zero fill, counters, ownership and the
// fall-back to the default pool, and the fatal ends of a damaged guard word
// or an allocation that cannot be satisfied.
#include "core/memory.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/context.h"
#include "trace_capture.h"

namespace {

// A pool that records what it is asked for and hands out blocks filled with
// a pattern, so that zero fill is visible. Blocks it takes back are kept
// until the pool goes, so that a stale second free still finds the header.
struct RecordingPool {
  static constexpr unsigned char kFill = 0xAB;

  MemPoolS sPool;
  std::vector<int32_t> alRequests;
  std::vector<void*> apFreed;
  std::vector<void*> apOwned;
  bool bFails = false;

  RecordingPool() : sPool{MEM_POOL_MAGIC, &kInterface} { gpCurrent = this; }
  ~RecordingPool() {
    for (void* pBlock : apOwned) free(pBlock);
    gpCurrent = nullptr;
  }

  static void* Allocate(MemPoolIdT /*tPool*/, int32_t lSize) {
    gpCurrent->alRequests.push_back(lSize);
    if (gpCurrent->bFails) return nullptr;
    void* pBlock = malloc(lSize);
    memset(pBlock, kFill, lSize);
    gpCurrent->apOwned.push_back(pBlock);
    return pBlock;
  }
  static BooleanT Free(MemAllocHeader* ptBlock) {
    gpCurrent->apFreed.push_back(ptBlock);
    return TRUE;
  }

  static const MemPoolInterfaceS kInterface;
  static RecordingPool* gpCurrent;
};
const MemPoolInterfaceS RecordingPool::kInterface = {nullptr, RecordingPool::Allocate,
                                                     RecordingPool::Free, nullptr};
RecordingPool* RecordingPool::gpCurrent = nullptr;

int32_t RoundedSize(int32_t lSize) { return (lSize + 3) / 4 * 4; }

MemAllocHeader* HeaderOf(void* pDataArea) {
  return reinterpret_cast<MemAllocHeader*>(static_cast<char*>(pDataArea) - MEM_HEADER_SIZE);
}

ContextMemoryS Counters() { return ContextGet()->sMemory; }

TEST(MemoryPool, BlockIsHeaderThenZeroedRoundedAreaThenGuardWord) {
  for (int32_t lSize : {0, 1, 3, 4, 5, 8, 4093}) {
    SCOPED_TRACE(lSize);
    RecordingPool tPool;
    void* pData = MemAllocateFromPool(lSize, &tPool.sPool);
    const int32_t lRounded = RoundedSize(lSize);

    ASSERT_EQ(tPool.alRequests.size(), 1u);
    EXPECT_EQ(tPool.alRequests[0], lRounded + MEM_HEADER_SIZE + MEM_GUARD_SIZE);
    ASSERT_EQ(tPool.apOwned.size(), 1u);
    EXPECT_EQ(pData, static_cast<char*>(tPool.apOwned[0]) + MEM_HEADER_SIZE);

    EXPECT_EQ(std::string(static_cast<char*>(pData), lRounded), std::string(lRounded, '\0'));
    MemAllocHeader* ptHeader = HeaderOf(pData);
    EXPECT_EQ(ptHeader->pGuard, reinterpret_cast<uint32_t*>(static_cast<char*>(pData) + lRounded));
    uint32_t lGuard;
    memcpy(&lGuard, static_cast<char*>(pData) + lRounded, sizeof(lGuard));
    EXPECT_EQ(lGuard, MEM_GUARD_WORD);
    EXPECT_EQ(ptHeader->tPoolId, &tPool.sPool);

    EXPECT_EQ(MemFreeInternal(&pData), TRUE);
  }
}

TEST(MemoryPool, ZeroByteRequestsYieldDistinctAreas) {
  void* pFirst = MemAllocateFromPool(0, MemGetDefaultPoolId());
  void* pSecond = MemAllocateFromPool(0, MemGetDefaultPoolId());
  EXPECT_NE(pFirst, nullptr);
  EXPECT_NE(pFirst, pSecond);
  EXPECT_EQ(HeaderOf(pFirst)->pGuard, pFirst);
  MemFreeInternal(&pFirst);
  MemFreeInternal(&pSecond);
}

TEST(MemoryPool, FreeHandsTheBlockBackToItsPoolAndClearsThePointer) {
  RecordingPool tPool;
  void* pData = MemAllocateFromPool(5, &tPool.sPool);
  void* pBlock = HeaderOf(pData);
  uint32_t* pGuard = HeaderOf(pData)->pGuard;

  EXPECT_EQ(MemFreeInternal(&pData), TRUE);
  EXPECT_EQ(pData, nullptr);
  ASSERT_EQ(tPool.apFreed.size(), 1u);
  EXPECT_EQ(tPool.apFreed[0], pBlock);
  EXPECT_EQ(*pGuard, 0u);  // the pool keeps the block, so it can still be read
}

TEST(MemoryPool, FailingPoolFallsBackToTheDefaultPool) {
  const MemPoolIdT tDefault = MemGetDefaultPoolId();
  EXPECT_EQ(tDefault->lMagic, MEM_POOL_MAGIC);
  EXPECT_EQ(tDefault->psInterface->pfnCreate, nullptr);
  EXPECT_EQ(tDefault->psInterface->pfnRelease, nullptr);

  RecordingPool tPool;
  tPool.bFails = true;
  void* pData = MemAllocateFromPool(100, &tPool.sPool);
  ASSERT_NE(pData, nullptr);
  EXPECT_EQ(tPool.alRequests.size(), 1u);
  EXPECT_EQ(HeaderOf(pData)->tPoolId, tDefault);
  static_cast<char*>(pData)[99] = 1;  // the whole area is usable

  // Freed with free() through the default pool (the leak checker of the
  // sanitizer build would see it otherwise), never through the failing one.
  EXPECT_EQ(MemFreeInternal(&pData), TRUE);
  EXPECT_TRUE(tPool.apFreed.empty());
}

TEST(MemoryPool, NoPoolMeansTheSystemAllocatorAndNoOwner) {
  void* pData = MemAllocateFromPoolNotLogged(16, nullptr);
  EXPECT_EQ(HeaderOf(pData)->tPoolId, nullptr);
  EXPECT_EQ(MemFreeInternal(&pData), TRUE);
  EXPECT_EQ(pData, nullptr);
}

TEST(MemoryPool, CountersFollowAllocationsAndFrees) {
  ProcDetailsS tDetails{};
  ContextGet()->sProcess.ptDetails = &tDetails;
  const ContextMemoryS tBefore = Counters();

  void* pData = MemAllocateFromPool(10, MemGetDefaultPoolId());
  EXPECT_EQ(Counters().lMemCount, tBefore.lMemCount + 1);
  EXPECT_GE(Counters().lMemMax, tBefore.lMemCount + 1);
  EXPECT_EQ(Counters().lMemAllocations, tBefore.lMemAllocations + 1);
  EXPECT_EQ(tDetails.lMemCount, Counters().lMemCount);
  EXPECT_EQ(tDetails.lMemMax, Counters().lMemMax);
  EXPECT_EQ(tDetails.lMemAllocations, Counters().lMemAllocations);

  // A free publishes the count only.
  tDetails.lMemMax = -7;
  tDetails.lMemAllocations = -7;
  EXPECT_EQ(MemFreeInternal(&pData), TRUE);
  EXPECT_EQ(Counters().lMemCount, tBefore.lMemCount);
  EXPECT_EQ(Counters().lMemAllocations, tBefore.lMemAllocations + 1);
  EXPECT_EQ(tDetails.lMemCount, tBefore.lMemCount);
  EXPECT_EQ(tDetails.lMemMax, -7);
  EXPECT_EQ(tDetails.lMemAllocations, -7);

  // Nothing to free: FALSE, and the counters stay.
  const ContextMemoryS tAfter = Counters();
  EXPECT_EQ(MemFreeInternal(&pData), FALSE);
  EXPECT_EQ(MemFreeInternal(nullptr), FALSE);
  EXPECT_EQ(Counters().lMemCount, tAfter.lMemCount);
  EXPECT_EQ(Counters().lMemMax, tAfter.lMemMax);
  ContextGet()->sProcess.ptDetails = nullptr;
}

TEST(MemoryPool, MaximumKeepsTheHighestCount) {
  const ContextMemoryS tBefore = Counters();
  void* apData[3];
  for (void*& pData : apData) pData = MemAllocateFromPool(1, nullptr);
  for (void*& pData : apData) MemFreeInternal(&pData);
  EXPECT_EQ(Counters().lMemCount, tBefore.lMemCount);
  EXPECT_GE(Counters().lMemMax, tBefore.lMemCount + 3);
  EXPECT_EQ(Counters().lMemAllocations, tBefore.lMemAllocations + 3);
}

// How the guard of a block gets damaged before it is freed.
enum class Damage { kOverrunByOneByte, kNullGuardPointer, kSecondFreeThroughStaleCopy };

void DamageAndFree(Damage eDamage) {
  RestoreDefaultSegvAction();
  RecordingPool tPool;
  void* pData = MemAllocateFromPool(
      5, eDamage == Damage::kOverrunByOneByte ? MemGetDefaultPoolId() : &tPool.sPool);
  switch (eDamage) {
    case Damage::kOverrunByOneByte:
      static_cast<char*>(pData)[RoundedSize(5)] = 0x7F;
      break;
    case Damage::kNullGuardPointer:
      HeaderOf(pData)->pGuard = nullptr;
      break;
    case Damage::kSecondFreeThroughStaleCopy: {
      void* pStale = pData;
      MemFreeInternal(&pData);
      pData = pStale;
      break;
    }
  }
  MemFreeInternal(&pData);
}

TEST(MemoryPoolDeathTest, DamagedGuardEndsTheProcessWithMessage6) {
  for (Damage eDamage : {Damage::kOverrunByOneByte, Damage::kNullGuardPointer,
                         Damage::kSecondFreeThroughStaleCopy}) {
    SCOPED_TRACE(static_cast<int>(eDamage));
    TraceCapture tCapture(TRACE_LEVEL_ERROR);
    EXPECT_EXIT(DamageAndFree(eDamage), ::testing::KilledBySignal(SIGSEGV), "");
    bool bFound = false;
    const std::string strText = tCapture.Find("MEM        ", 6, &bFound);
    EXPECT_TRUE(bFound);
    EXPECT_EQ(strText.rfind("Guard band corrupted at '0x", 0), 0u) << strText;
    EXPECT_EQ(tCapture.Find("PROCESS        ", 209), "Crash program");
  }
}

TEST(MemoryPoolDeathTest, UnsatisfiableSizeEndsTheProcessWithMessage4) {
  // The last size rounds to itself, but the header and guard would take
  // the block past a pool's 32-bit count.
  constexpr int32_t kJustTooLarge = INT32_MAX - MEM_HEADER_SIZE - MEM_GUARD_SIZE + 1;
  static_assert(kJustTooLarge % MEM_SIZE_ROUNDING == 0, "rounds to itself");
  const struct {
    int32_t lSize;
    std::string strMessage;
  } atCases[] = {
      {-1, "Unable to allocate -1 bytes of memory"},
      {INT32_MAX, "Unable to allocate 2147483648 bytes of memory"},
      {kJustTooLarge, "Unable to allocate " + std::to_string(kJustTooLarge) + " bytes of memory"},
  };
  for (const auto& tCase : atCases) {
    SCOPED_TRACE(tCase.lSize);
    TraceCapture tCapture(TRACE_LEVEL_ERROR);
    EXPECT_EXIT(
        {
          RestoreDefaultSegvAction();
          MemAllocateFromPool(tCase.lSize, MemGetDefaultPoolId());
        },
        ::testing::KilledBySignal(SIGSEGV), "");
    EXPECT_EQ(tCapture.Find("MEM        ", 4), tCase.strMessage);
  }
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif

// The system allocator fails for real: the address space is capped well
// below the request.
void AllocateBeyondAddressSpaceLimit(int32_t lSize) {
  constexpr rlim_t kAddressSpaceLimit = 256u << 20;
  RestoreDefaultSegvAction();
  const struct rlimit tLimit = {kAddressSpaceLimit, kAddressSpaceLimit};
  setrlimit(RLIMIT_AS, &tLimit);
  MemAllocateFromPool(lSize, nullptr);
}

TEST(MemoryPoolDeathTest, ExhaustedSystemMemoryEndsTheProcessWithMessages17And4) {
  if (kAddressSanitizer) {
    GTEST_SKIP() << "the sanitizer's allocator needs more address space than the limit leaves";
  }
  constexpr int32_t kHuge = 1 << 30;
  TraceCapture tCapture(TRACE_LEVEL_ERROR);
  EXPECT_EXIT(AllocateBeyondAddressSpaceLimit(kHuge), ::testing::KilledBySignal(SIGSEGV), "");
  EXPECT_EQ(tCapture.Find("MEM        ", 17),
            "Failed to allocate " + std::to_string(kHuge + MEM_HEADER_SIZE + MEM_GUARD_SIZE) +
                " byte: Cannot allocate memory");
  EXPECT_EQ(tCapture.Find("MEM        ", 4), "Unable to allocate 1073741824 bytes of memory");
}

}  // namespace
