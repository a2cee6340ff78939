// The scripts' integer arithmetic over signed 64-bit numbers: it wraps in two's complement, so
// INT64_MIN / -1 is INT64_MIN and x % -1 is 0, and no operation is undefined.
#pragma once
#include "common/types.h"

inline i64 IntWrapAdd(i64 a, i64 b) { return static_cast<i64>(static_cast<u64>(a) + static_cast<u64>(b)); }
inline i64 IntWrapSub(i64 a, i64 b) { return static_cast<i64>(static_cast<u64>(a) - static_cast<u64>(b)); }
inline i64 IntWrapMul(i64 a, i64 b) { return static_cast<i64>(static_cast<u64>(a) * static_cast<u64>(b)); }
// Truncating; b must not be 0.
inline i64 IntWrapDiv(i64 a, i64 b) { return b == -1 ? IntWrapSub(0, a) : a / b; }
inline i64 IntWrapMod(i64 a, i64 b) { return b == -1 ? 0 : a % b; }

// An assignment operator by its code: 0 set, 1 add, 2 subtract, 3 multiply, 4 divide,
// 5 remainder, 6 and, 7 or, any other exclusive or. False, *r untouched, for a zero divisor.
inline bool IntApplyOp(u32 op, i64 a, i64 b, i64* r) {
  switch (op) {
    case 0: *r = b; return true;
    case 1: *r = IntWrapAdd(a, b); return true;
    case 2: *r = IntWrapSub(a, b); return true;
    case 3: *r = IntWrapMul(a, b); return true;
    case 4:
      if (b == 0) return false;
      *r = IntWrapDiv(a, b);
      return true;
    case 5:
      if (b == 0) return false;
      *r = IntWrapMod(a, b);
      return true;
    case 6: *r = a & b; return true;
    case 7: *r = a | b; return true;
    default: *r = a ^ b; return true;
  }
}
