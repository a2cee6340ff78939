// Element-assignment operators (see var.h): one entry per operator code and number type. Integer
// arithmetic wraps in two's complement; float "%=", "&=", "|=" and "^=" work on both sides
// truncated to integers and store the result as a double.
#include "common/int_ops.h"
#include "script/var.h"

VarAssignOpFn g_VarAssignOps[2 * VAR_ASSIGN_OP_COUNT];

static bool InBounds(i64 id, i64 index) {
  const VarRecord* v = VarRecordOf(id);
  return v && index >= 0 && index < v->count;
}

static i32 IntOp(u8 op, i64 id, i64 index, i64 value) {
  if (!InBounds(id, index)) return -1;
  i64 r = 0;
  if (!IntApplyOp(op, VarGetIntElement(id, index), value, &r)) return -1;
  return VarSetNumElement(id, index, r);
}

static i32 FloatOp(u8 op, i64 id, i64 index, double value) {
  if (!InBounds(id, index)) return -1;
  double a = VarGetFloatElement(id, index);
  double r;
  switch (op) {
    case 0: r = value; break;
    case 1: r = a + value; break;
    case 2: r = a - value; break;
    case 3: r = a * value; break;
    case 4:
      if (value == 0.0) return -1;
      r = a / value;
      break;
    default: {
      if (op == 5 && value == 0.0) return -1;
      i64 ir = 0;
      if (!IntApplyOp(op, VarFloatToInt(a), VarFloatToInt(value), &ir)) return -1;
      r = static_cast<double>(ir);
      break;
    }
  }
  return VarSetFloatElement(id, index, r);
}

template <u8 OP>
static i32 IntEntry(i64 id, i64 index, i64 iv, double) {
  return IntOp(OP, id, index, iv);
}
template <u8 OP>
static i32 FloatEntry(i64 id, i64 index, i64, double fv) {
  return FloatOp(OP, id, index, fv);
}

void VarInitAssignOps() {
  static const VarAssignOpFn kOps[2 * VAR_ASSIGN_OP_COUNT] = {
      IntEntry<0>,   IntEntry<1>,   IntEntry<2>,   IntEntry<3>,   IntEntry<4>,   IntEntry<5>,
      IntEntry<6>,   IntEntry<7>,   IntEntry<8>,   FloatEntry<0>, FloatEntry<1>, FloatEntry<2>,
      FloatEntry<3>, FloatEntry<4>, FloatEntry<5>, FloatEntry<6>, FloatEntry<7>, FloatEntry<8>,
  };
  for (int i = 0; i < 2 * VAR_ASSIGN_OP_COUNT; i++) g_VarAssignOps[i] = kOps[i];
}
