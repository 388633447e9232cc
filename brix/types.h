// Basic types shared by the writer and the stream library: the 32-bit
// boolean result of every writer operation and the 4-byte-aligned 64-bit
// integers that on-disk and on-wire records use.
#ifndef BRIX_TYPES_H
#define BRIX_TYPES_H

#include <cstdint>

// Result of the writer's operations. B_FALSE means the operation failed and
// has already printed its own message.
enum bool_t : int32_t { B_FALSE = 0, B_TRUE = 1 };
static_assert(sizeof(bool_t) == 4, "bool_t is 32 bits wide");

typedef uint32_t uint32;
typedef uint16_t uint16;
typedef uint8_t uint8;
typedef int32_t int32;
typedef int64_t int64;

// 64-bit integers inside records whose format places them at 4-byte
// boundaries (the negotiation reply, the checkpoint record). Lowering the
// alignment in the type keeps member access and pointers to such fields
// well defined.
typedef uint64_t uint64_a4 __attribute__((aligned(4)));
typedef int64_t int64_a4 __attribute__((aligned(4)));

#endif  // BRIX_TYPES_H
