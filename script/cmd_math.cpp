// Commands 61 (one mathematical function, a random draw or a CRC-32 into a variable element) and
// 62 (four motion values from two numeric arrays). Every result is defined: the random draw over
// the whole 64-bit range, abs(INT64_MIN) and float results stored into integer elements included.
#include <cmath>
#include <cstring>

#include "common/hash.h"
#include "common/rand.h"
#include "core/err.h"
#include "script/arg.h"
#include "script/cmd.h"
#include "script/cmd_var.h"
#include "script/expr.h"
#include "script/var.h"

namespace {

enum { MATH_SLOT = 61, MOTION_SLOT = 62 };

// Operand a or b as a double; 0 when not given.
i32 OperandFloat(u8 param, double* out) {
  *out = 0.0;
  u8 p = ArgPos(param);
  if (!p) return 0;
  return CmdEvalFloat(g_ArgValueType[p], 5, CmdArgCode(p), g_ArgSize[p], out);
}

// sin and cos read their operand in float arithmetic whatever its value type: sin(7 / 2) is
// sin(3.5).
double OperandFloatArithmetic(u8 param) {
  u8 p = ArgPos(param);
  return p ? ExprEvalFloat(CmdArgCode(p), g_ArgSize[p]) : 0.0;
}

i32 OperandInt(u8 param, i64* out) {
  *out = 0;
  u8 p = ArgPos(param);
  if (!p) return 0;
  return ExprEvalByTypeInt(static_cast<u8>(g_ArgValueType[p]), CmdArgCode(p), g_ArgSize[p], out);
}

// Value types evaluated in integer arithmetic.
bool IntegerValueType(u32 vt) { return vt < EXPR_VALUE_TYPES && g_ExprNumEntry[vt].as_int == ExprEvalInt; }

typedef double (*MathFn)(double a, double b);

struct MathRow {
  u8 param;
  MathFn fn;  // null: handled by kind
};

double FnSin(double a, double) { return std::sin(a); }
double FnCos(double a, double) { return std::cos(a); }
double FnTan(double a, double) { return std::tan(a); }
double FnAsin(double a, double) { return std::asin(a); }
double FnAcos(double a, double) { return std::acos(a); }
double FnSinh(double a, double) { return std::sinh(a); }
double FnCosh(double a, double) { return std::cosh(a); }
double FnTanh(double a, double) { return std::tanh(a); }
double FnAtan(double a, double) { return std::atan(a); }
double FnAtan2(double a, double b) { return std::atan2(a, b); }
double FnSqrt(double a, double) { return std::sqrt(a); }
double FnExp(double a, double) { return std::exp(a); }
double FnLog(double a, double) { return std::log(a); }
double FnLog10(double a, double) { return std::log10(a); }
double FnPow(double a, double b) { return std::pow(a, b); }

enum { P_SIN = 4, P_COS = 7, P_ABS = 15, P_RAND = 20, P_CRC = 21 };

// In priority order: the first given parameter chooses the function.
const MathRow kMathRows[] = {
    {P_SIN, FnSin}, {P_COS, FnCos}, {10, FnTan},   {5, FnAsin},   {8, FnAcos},       {6, FnSinh},
    {9, FnCosh},    {13, FnTanh},   {11, FnAtan},  {12, FnAtan2}, {14, FnSqrt},      {P_ABS, nullptr},
    {16, FnExp},    {17, FnLog},    {18, FnLog10}, {19, FnPow},   {P_RAND, nullptr}, {P_CRC, nullptr},
};

}  // namespace

i64 MathRandomBetween(i64 a, i64 b) {
  const i64 lo = a < b ? a : b, hi = a < b ? b : a;
  const u64 range = static_cast<u64>(hi) - static_cast<u64>(lo) + 1;
  if (range == 0) {
    // The whole 64-bit range: two draws make every value reachable.
    const u64 r = static_cast<u64>(RandNextU32()) << 32 | RandNextU32();
    return static_cast<i64>(static_cast<u64>(lo) + r);
  }
  const u64 r = RandNextU32();
  return static_cast<i64>(static_cast<u64>(lo) + r % range);
}

i64 MathAbsInt(i64 v) {
  if (v == INT64_MIN) return INT64_MAX;  // its negation does not exist: the nearest value
  return v < 0 ? -v : v;
}

i32 CmdMathCalc() {
  if (ArgDecode(MATH_SLOT) != 0) return -1;
  const MathRow* row = nullptr;
  for (const MathRow& r : kMathRows)
    if (ArgGiven(r.param)) {
      row = &r;
      break;
    }
  if (!row) return 0;
  u8 rp = ArgPos(0);
  const i64 id = rp ? g_ArgVarId[rp] : 0, element = rp ? g_ArgVarElem[rp] : 0;
  if (row->fn) {
    double a = 0.0, b = 0.0;
    if (row->param == P_SIN || row->param == P_COS) a = OperandFloatArithmetic(1);
    else if (OperandFloat(1, &a) != 0 || OperandFloat(2, &b) != 0) return -1;
    VarSetFloatElement(id, element, row->fn(a, b));
    return 0;
  }
  switch (row->param) {
    case P_ABS: {
      u8 p = ArgPos(1);
      if (p && IntegerValueType(g_ArgValueType[p])) {
        i64 a = 0;
        if (OperandInt(1, &a) != 0) return -1;
        VarSetNumElement(id, element, MathAbsInt(a));
      } else {
        double a = 0.0;
        if (OperandFloat(1, &a) != 0) return -1;
        VarSetFloatElement(id, element, std::fabs(a));
      }
      return 0;
    }
    case P_RAND: {
      i64 a = 0, b = 0;
      if (OperandInt(1, &a) != 0 || OperandInt(2, &b) != 0) return -1;
      VarSetNumElement(id, element, MathRandomBetween(a, b));
      return 0;
    }
    default: {
      const char* s = ArgStr(3);
      VarSetNumElement(id, element, static_cast<i64>(MemCrc32(s, std::strlen(s))));
      return 0;
    }
  }
}

// ---- Motion ----------------------------------------------------------------------------------

void MotionCompute(const i64 a[8], const double b[31], double out[4]) {
  typedef long double F;
  const F c = static_cast<F>(b[20]) / 100, d = static_cast<F>(b[21]) / 100;
  F x, y, q = 1;
  if (a[7] != 0) {
    x = b[13] - static_cast<F>(b[18]) * b[16] / 100;
    y = b[14] - static_cast<F>(b[19]) * b[17] / 100;
    out[2] = b[16];
    out[3] = b[17];
  } else {
    const F p = std::pow(2.0, static_cast<double>((static_cast<F>(b[27]) - b[8] + b[5] + b[30]) / 100));
    q = std::pow(2.0, static_cast<double>((static_cast<F>(b[27]) - b[15] + b[5] + b[30]) / 100));
    x = ((static_cast<F>(b[6]) - b[9]) - (static_cast<F>(b[3]) + b[28]) * c) * p + b[11] * c + static_cast<F>(a[5]) / 2;
    y = ((static_cast<F>(b[7]) - b[10]) - (static_cast<F>(b[4]) + b[29]) * d) * p + b[12] * d +
        static_cast<F>(a[6]) / 2;
    if (a[1] != a[2]) {
      const F x1 = x + b[9] * p, y1 = y + b[10] * p;
      if (a[4] == 0) {
        x = x1 + (b[13] * c - b[18]) * q;
        y = y1 + (b[14] * d - b[19]) * q;
      } else {
        q = std::pow(2.0, static_cast<double>((static_cast<F>(b[27]) - b[24] + b[5] + b[30]) / 100));
        x = x1 + ((static_cast<F>(b[13]) + b[22]) * c - b[18] - b[25]) * q;
        y = y1 + ((static_cast<F>(b[14]) + b[23]) * d - b[19] - b[26]) * q;
      }
    }
    x = x + static_cast<F>(b[18]) * (100 - static_cast<F>(b[16])) * q / 100;
    y = y + static_cast<F>(b[19]) * (100 - static_cast<F>(b[17])) * q / 100;
    out[2] = static_cast<double>(b[16] * q);
    out[3] = static_cast<double>(b[17] * q);
  }
  out[0] = static_cast<double>(x);
  out[1] = static_cast<double>(y);
}

static void MotionStore(i64 id, i64 index, double value) {
  const VarRecord* v = VarRecordOf(id);
  if (!v || index >= v->count) return;
  switch (v->type) {
    case VAR_TYPE_INT: VarSetNumElement(id, index, VarFloatToInt(std::nearbyint(value))); break;
    case VAR_TYPE_FLOAT: VarSetFloatElement(id, index, value); break;
    default: ErrRaiseAtScript(ERR_VAR_WRONG_TYPE, 1); break;
  }
}

i32 CmdMotionCalc() {
  if (ArgDecode(MOTION_SLOT) != 0) return -1;
  if (!ArgGiven(0) || !ArgGiven(1)) return 0;
  const i64 aid = g_ArgVarId[ArgPos(0)], bid = g_ArgVarId[ArgPos(1)];
  i64 a[8];
  double b[31];
  for (i64 k = 0; k < 8; k++) a[k] = VarGetIntElement(aid, k);
  for (i64 k = 0; k < 31; k++) b[k] = VarGetFloatElement(bid, k);
  double out[4];
  MotionCompute(a, b, out);
  for (i64 k = 0; k < 4; k++) MotionStore(bid, 31 + k, out[k]);
  return 0;
}
