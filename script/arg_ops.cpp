// The assignment operators of command arguments applied to a stored value: set, add, subtract,
// multiply and divide over signed 64-bit numbers. Arithmetic wraps rather than overflowing, and a
// zero divisor (or the one quotient that cannot be represented) leaves the value as it was.
#include <climits>

#include "common/int_ops.h"
#include "script/arg.h"

i64 ArgApplyOpInt64(u32 op, i64 cur, i64 arg) {
  i64 r = cur;  // other codes, and a zero divisor, keep the value
  if (op <= ARG_OP_DIV) IntApplyOp(op, cur, arg, &r);
  return r;
}

i64 ArgApplyOpClamped(u32 op, i64 cur, i64 arg, i64 low, i64 high) {
  if (op == ARG_OP_DIV && arg == 0) return cur;
  i64 v = ArgApplyOpInt64(op, cur, arg);
  switch (op) {
    case ARG_OP_ADD: return v > high ? high : v;
    case ARG_OP_SUB: return v < low ? low : v;
    case ARG_OP_MUL:
    case ARG_OP_DIV: return v < low ? low : (v > high ? high : v);
  }
  return v;
}

i64 ArgApplyOpMin(u32 op, i64 cur, i64 arg, i64 low) {
  if (op == ARG_OP_DIV && arg == 0) return cur;
  i64 v = ArgApplyOpInt64(op, cur, arg);
  if ((op == ARG_OP_SUB || op == ARG_OP_MUL || op == ARG_OP_DIV) && v < low) return low;
  return v;
}
