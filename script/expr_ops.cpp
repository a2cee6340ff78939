// The evaluator's operator table (see expr.h): literals, arithmetic, comparisons, conversions and
// the variable readers, one handler per opcode. Integer arithmetic wraps in two's complement
// (INT64_MIN / -1 and negation included) instead of trapping; division and remainder by zero
// give 0. Strings take only "+" (concatenation, cut at 4095 bytes on a whole character), "=" and
// "!"; any other operator on a string is error 160010.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/int_ops.h"
#include "common/sjis.h"
#include "core/err.h"
#include "script/expr.h"
#include "script/var.h"

// ---- Literals --------------------------------------------------------------------------------

static i64 ReadLe(const u8* p, int n) {
  u64 v = 0;
  for (int k = n - 1; k >= 0; k--) v = v << 8 | p[k];
  return static_cast<i64>(v);
}

static i32 OpI8(const u8* operand, u16 len) {
  if (len < 1) return ExprFailCode();
  return ExprPushNumber(false, static_cast<i8>(operand[0]), 0.0);
}
static i32 OpI16(const u8* operand, u16 len) {
  if (len < 2) return ExprFailCode();
  return ExprPushNumber(false, static_cast<i16>(ReadLe(operand, 2)), 0.0);
}
static i32 OpI32(const u8* operand, u16 len) {
  if (len < 4) return ExprFailCode();
  return ExprPushNumber(false, static_cast<i32>(ReadLe(operand, 4)), 0.0);
}
static i32 OpI64(const u8* operand, u16 len) {
  if (len < 8) return ExprFailCode();
  return ExprPushNumber(false, ReadLe(operand, 8), 0.0);
}
static i32 OpF64(const u8* operand, u16 len) {
  if (len < 8) return ExprFailCode();
  u64 bits = static_cast<u64>(ReadLe(operand, 8));
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return ExprPushNumber(true, 0, d);
}

// Operand byte 0 is the quote; the text runs to the next quote byte (or the operand's end).
// Backslash escapes: \\ \n \t; a backslash before anything else is dropped. Double-byte
// characters are copied whole, so a trail byte is never taken for a quote or a backslash.
static i32 OpStr(const u8* operand, u16 len) {
  if (len < 1) return ExprFailCode();
  u16 index = 0;
  char* out = ExprPoolNew(&index);
  if (!out) return -1;
  u8 quote = operand[0];
  u16 end = 1;
  while (end < len && operand[end] != quote)
    end = static_cast<u16>(end + (SjisIsLead(operand[end]) && end + 1 < len ? 2 : 1));
  if (end > len) end = len;
  size_t n = 0;
  for (u16 k = 1; k < end;) {
    u8 c = operand[k];
    size_t width = 1;
    char pair[2] = {static_cast<char>(c), 0};
    if (SjisIsLead(c) && k + 1 < end) {
      pair[1] = static_cast<char>(operand[k + 1]);
      width = 2;
      k += 2;
    } else if (c == '\\') {
      k++;
      if (k >= end) break;  // a backslash right before the quote is dropped
      u8 e = operand[k];
      if (SjisIsLead(e) && k + 1 < end) {
        pair[0] = static_cast<char>(e);
        pair[1] = static_cast<char>(operand[k + 1]);
        width = 2;
        k += 2;
      } else {
        pair[0] = e == 'n' ? '\n' : e == 't' ? '\t' : static_cast<char>(e);
        k++;
      }
    } else {
      k++;
    }
    if (n + width > EXPR_STR_MAX) break;  // cut before a character that does not fit
    std::memcpy(out + n, pair, width);
    n += width;
  }
  out[n] = '\0';
  if (g_Expr.top >= EXPR_STACK_SLOTS) return ExprFailCode();
  g_Expr.stack[g_Expr.top++] = ExprSlot{0, 0.0, index};
  return 0;
}

// ---- Stack access ----------------------------------------------------------------------------

static ExprSlot* Top() { return g_Expr.top >= 1 ? &g_Expr.stack[g_Expr.top - 1] : nullptr; }

// Pops b and gives a (the new top) and b; null a after the underflow error.
static ExprSlot* PopPair(ExprSlot** b) {
  if (g_Expr.top < 2) {
    ExprFailCode();
    return nullptr;
  }
  *b = &g_Expr.stack[--g_Expr.top];
  return &g_Expr.stack[g_Expr.top - 1];
}

static void SetInt(ExprSlot* s, i64 v) { *s = ExprSlot{v, static_cast<double>(v), 0}; }
static void SetFloat(ExprSlot* s, double v) { *s = ExprSlot{VarFloatToInt(v), v, 0}; }
static void SetBool(ExprSlot* s, bool v) { SetInt(s, v ? 1 : 0); }

static i32 StringMix() {
  ErrRaiseAtScript(ERR_EXPR_STRING_MIX, 1);
  return -1;
}

// ---- Arithmetic ------------------------------------------------------------------------------

static i64 IntDiv(i64 a, i64 b) { return b == 0 ? 0 : IntWrapDiv(a, b); }
static i64 IntMod(i64 a, i64 b) { return b == 0 ? 0 : IntWrapMod(a, b); }

// A numeric binary operator in both arithmetics. A null float function leaves a unchanged in
// float arithmetic (the integer-only operators).
struct NumBinary {
  i64 (*int_fn)(i64, i64);
  double (*float_fn)(double, double);
};

static i32 Binary(const NumBinary& op) {
  ExprSlot* b = nullptr;
  ExprSlot* a = PopPair(&b);
  if (!a) return -1;
  if (a->str || b->str) return StringMix();
  if (!ExprFloatArith()) {
    SetInt(a, op.int_fn(a->i, b->i));
  } else if (op.float_fn) {
    SetFloat(a, op.float_fn(a->f, b->f));
  }
  return 0;
}

static const NumBinary kSub = {IntWrapSub, [](double a, double b) { return a - b; }};
static const NumBinary kMul = {IntWrapMul, [](double a, double b) { return a * b; }};
static const NumBinary kDiv = {IntDiv, [](double a, double b) { return b == 0.0 ? 0.0 : a / b; }};
static const NumBinary kMod = {IntMod, nullptr};
static const NumBinary kLt = {[](i64 a, i64 b) -> i64 { return a < b; },
                              [](double a, double b) { return a < b ? 1.0 : 0.0; }};
static const NumBinary kGt = {[](i64 a, i64 b) -> i64 { return a > b; },
                              [](double a, double b) { return a > b ? 1.0 : 0.0; }};
static const NumBinary kLe = {[](i64 a, i64 b) -> i64 { return a <= b; },
                              [](double a, double b) { return a <= b ? 1.0 : 0.0; }};
static const NumBinary kGe = {[](i64 a, i64 b) -> i64 { return a >= b; },
                              [](double a, double b) { return a >= b ? 1.0 : 0.0; }};
static const NumBinary kAnd = {[](i64 a, i64 b) -> i64 { return a != 0 && b != 0; },
                               [](double a, double b) { return a != 0.0 && b != 0.0 ? 1.0 : 0.0; }};
static const NumBinary kOr = {[](i64 a, i64 b) -> i64 { return a != 0 || b != 0; },
                              [](double a, double b) { return a != 0.0 || b != 0.0 ? 1.0 : 0.0; }};
static const NumBinary kBitAnd = {[](i64 a, i64 b) { return a & b; }, nullptr};
static const NumBinary kBitOr = {[](i64 a, i64 b) { return a | b; }, nullptr};
static const NumBinary kBitXor = {[](i64 a, i64 b) { return a ^ b; }, nullptr};

static i32 OpAdd(const u8*, u16) {
  ExprSlot* b = nullptr;
  ExprSlot* a = PopPair(&b);
  if (!a) return -1;
  if (a->str && b->str) {
    char* dst = ExprPoolText(a->str);
    const char* src = ExprPoolText(b->str);
    size_t have = std::strlen(dst);
    size_t add = StrCutSjis(src, std::strlen(src), EXPR_STR_MAX - have);
    std::memmove(dst + have, src, add);
    dst[have + add] = '\0';
    return 0;
  }
  if (a->str || b->str) return StringMix();
  if (ExprFloatArith()) SetFloat(a, a->f + b->f);
  else SetInt(a, IntWrapAdd(a->i, b->i));
  return 0;
}

static i32 Compare(bool want_equal) {
  ExprSlot* b = nullptr;
  ExprSlot* a = PopPair(&b);
  if (!a) return -1;
  bool equal;
  if (a->str && b->str) equal = std::strcmp(ExprPoolText(a->str), ExprPoolText(b->str)) == 0;
  else if (a->str || b->str) return StringMix();
  else equal = ExprFloatArith() ? a->f == b->f : a->i == b->i;
  SetBool(a, equal == want_equal);
  return 0;
}

static i32 OpNeg(const u8*, u16) {
  ExprSlot* b = Top();
  if (!b) return ExprFailCode();
  if (b->str) return StringMix();
  if (ExprFloatArith()) SetFloat(b, -b->f);
  else SetInt(b, IntWrapSub(0, b->i));
  return 0;
}

// ---- Conversions -----------------------------------------------------------------------------

// The decimal text of v, as "%lld" writes it, NUL-terminated into out (at least 21 bytes).
static void IntText(i64 v, char* out) {
  char digits[20];
  int n = 0;
  u64 u = v < 0 ? 0 - static_cast<u64>(v) : static_cast<u64>(v);
  do {
    digits[n++] = static_cast<char>('0' + u % 10);
    u /= 10;
  } while (u);
  if (v < 0) *out++ = '-';
  while (n) *out++ = digits[--n];
  *out = '\0';
}

static i32 OpToText(const u8*, u16) {
  ExprSlot* b = Top();
  if (!b) return ExprFailCode();
  if (b->str) return 0;  // already a text
  const bool as_float = ExprFloatArith();
  const i64 i = b->i;
  const double f = b->f;
  u16 index = 0;
  char* buf = ExprPoolNew(&index);
  if (!buf) return -1;
  if (as_float) {
    char text[400];
    std::snprintf(text, sizeof text, "%f", f);
    StrCopySjis(buf, EXPR_STR_BUF, text);
  } else {
    IntText(i, buf);  // plain digits: nothing to cut
  }
  *b = ExprSlot{0, 0.0, index};
  return 0;
}

static int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

static i32 NotANumber(const char* text) {
  ErrRaiseAtScriptF(ERR_EXPR_NOT_NUMBER, 1, text);
  return -1;
}

static i32 OpToNum(const u8*, u16) {
  ExprSlot* b = Top();
  if (!b) return ExprFailCode();
  if (!b->str) return 0;  // already a number
  const char* text = ExprPoolText(b->str);
  g_Expr.top--;  // the number replaces the text
  if (text[0] == '0' && text[1] == 'x') {
    // Hexadecimal: 1 to 16 digits and nothing else. Anything else fails the evaluation without a
    // message: the caller takes the value it left and the game goes on.
    u64 v = 0;
    size_t n = 0;
    for (const char* p = text + 2; *p; p++, n++) {
      int d = HexDigit(*p);
      if (d < 0 || n >= 16) return -1;
      v = v << 4 | static_cast<u64>(d);
    }
    if (n == 0) return -1;
    return ExprPushNumber(false, static_cast<i64>(v), 0.0);
  }
  bool has_point = false;
  for (const char* p = text; *p; p++) {
    if (*p == '.') has_point = true;
    else if (*p != '-' && (*p < '0' || *p > '9')) return NotANumber(text);
  }
  if (has_point) return ExprPushNumber(true, 0, std::strtod(text, nullptr));
  return ExprPushNumber(false, std::strtoll(text, nullptr, 10), 0.0);
}

// ---- Variable readers while loading ----------------------------------------------------------

static i32 OpVarAbort(const u8*, u16) {
  g_Expr.not_constant = 1;
  return -1;
}

static i32 OpUnknown(const u8*, u16) { return ExprFailCode(); }

// ---- The table -------------------------------------------------------------------------------

struct OpRow {
  u8 code;
  ExprOpFn fn;
};

static const OpRow kOps[] = {
    {EXPR_OP_STR, OpStr},
    {EXPR_OP_I8, OpI8},
    {EXPR_OP_I16, OpI16},
    {EXPR_OP_I32, OpI32},
    {EXPR_OP_I64, OpI64},
    {EXPR_OP_F64, OpF64},
    {EXPR_OP_VAR, ExprOpVar},
    {EXPR_OP_INDEX_OPEN, ExprOpIndexOpen},
    {EXPR_OP_INDEX_CLOSE, ExprOpIndexClose},
    {EXPR_OP_WHOLE, ExprOpWhole},
    {EXPR_OP_NEG, OpNeg},
    {EXPR_OP_TO_TEXT, OpToText},
    {EXPR_OP_TO_NUM, OpToNum},
    {EXPR_OP_ADD, OpAdd},
    {EXPR_OP_SUB, [](const u8*, u16) { return Binary(kSub); }},
    {EXPR_OP_MUL, [](const u8*, u16) { return Binary(kMul); }},
    {EXPR_OP_DIV, [](const u8*, u16) { return Binary(kDiv); }},
    {EXPR_OP_MOD, [](const u8*, u16) { return Binary(kMod); }},
    {EXPR_OP_EQ, [](const u8*, u16) { return Compare(true); }},
    {EXPR_OP_NE, [](const u8*, u16) { return Compare(false); }},
    {EXPR_OP_LT, [](const u8*, u16) { return Binary(kLt); }},
    {EXPR_OP_GT, [](const u8*, u16) { return Binary(kGt); }},
    {EXPR_OP_LE, [](const u8*, u16) { return Binary(kLe); }},
    {EXPR_OP_GE, [](const u8*, u16) { return Binary(kGe); }},
    {EXPR_OP_AND, [](const u8*, u16) { return Binary(kAnd); }},
    {EXPR_OP_OR, [](const u8*, u16) { return Binary(kOr); }},
    {EXPR_OP_BIT_AND, [](const u8*, u16) { return Binary(kBitAnd); }},
    {EXPR_OP_BIT_OR, [](const u8*, u16) { return Binary(kBitOr); }},
    {EXPR_OP_BIT_XOR, [](const u8*, u16) { return Binary(kBitXor); }},
    {EXPR_OP_NOP, [](const u8*, u16) { return 0; }},
};

// Whether the table holds the standard operators (and which variable readers).
static bool s_TableReady = false, s_RealReaders = false;
bool g_ExprTableStandard = false;

void ExprInitOpTable(u8 flag) {
  for (ExprOpFn& fn : g_ExprOps) fn = OpUnknown;
  for (const OpRow& row : kOps) g_ExprOps[row.code] = row.fn;
  s_TableReady = true;
  s_RealReaders = flag != 0;
  g_ExprTableStandard = s_RealReaders;
  if (flag == 0) {
    g_ExprOps[EXPR_OP_VAR] = OpVarAbort;
    g_ExprOps[EXPR_OP_INDEX_OPEN] = OpVarAbort;
    g_ExprOps[EXPR_OP_WHOLE] = OpVarAbort;
  }
}

// ---- Short integer expressions -----------------------------------------------------------------

// The value of a lone integer literal instruction at code (which must span exactly size bytes).
static bool ShortLiteral(const u8* code, u32 size, i64* v) {
  if (size < EXPR_INSTR_HEADER || (code[1] | code[2] << 8) != static_cast<i32>(size - EXPR_INSTR_HEADER)) return false;
  const u8* p = code + EXPR_INSTR_HEADER;
  switch (code[0]) {
    case EXPR_OP_I8:
      if (size != 4) return false;
      *v = static_cast<i8>(p[0]);
      return true;
    case EXPR_OP_I16:
      if (size != 5) return false;
      *v = static_cast<i16>(ReadLe(p, 2));
      return true;
    case EXPR_OP_I32:
      if (size != 7) return false;
      *v = static_cast<i32>(ReadLe(p, 4));
      return true;
    case EXPR_OP_I64:
      if (size != 11) return false;
      *v = ReadLe(p, 8);
      return true;
    default: return false;
  }
}

// Element 0 of an integer variable read by a lone "H" instruction of exactly 6 bytes: its id,
// or 0 when the instruction is anything else or its variable is not a defined integer.
static u16 ShortIntVar(const u8* code, u32 size) {
  if (size != EXPR_INSTR_HEADER + EXPR_VAR_OPERAND || code[0] != EXPR_OP_VAR || code[1] != EXPR_VAR_OPERAND || code[2])
    return 0;
  const u16 id = static_cast<u16>(code[4] | code[5] << 8);
  const VarRecord* v = VarRecordOf(id);
  return v && v->type == VAR_TYPE_INT ? id : 0;
}

// The operators a short form takes after a variable.
static bool ShortOperator(u8 op) {
  switch (op) {
    case EXPR_OP_EQ:
    case EXPR_OP_NE:
    case EXPR_OP_LT:
    case EXPR_OP_GT:
    case EXPR_OP_LE:
    case EXPR_OP_GE:
    case EXPR_OP_ADD:
    case EXPR_OP_SUB: return true;
    default: return false;
  }
}

// The id of a lone "H" instruction of exactly 6 bytes, or 0.
static u16 ShortVarId(const u8* code, u32 size) {
  if (size != EXPR_INSTR_HEADER + EXPR_VAR_OPERAND || code[0] != EXPR_OP_VAR || code[1] != EXPR_VAR_OPERAND || code[2])
    return 0;
  return static_cast<u16>(code[4] | code[5] << 8);
}

ExprShortForm ExprDecodeShortInt(const u8* code, u32 size) {
  ExprShortForm f{};
  if (!code) return f;
  if (ShortLiteral(code, size, &f.literal)) {
    f.form = EXPR_SHORT_LITERAL;
    return f;
  }
  f.literal = 0;
  u16 id = ShortVarId(code, size);
  if (id >= VAR_SYS_ID_LIMIT) {
    f.form = EXPR_SHORT_VAR;
    f.var = id;
    return f;
  }
  constexpr u32 kVar = EXPR_INSTR_HEADER + EXPR_VAR_OPERAND;
  if (size < kVar + 4 + EXPR_INSTR_HEADER) return f;
  const u8* op = code + size - EXPR_INSTR_HEADER;
  if (op[1] || op[2] || !ShortOperator(op[0])) return f;
  id = ShortVarId(code, kVar);
  if (id < VAR_SYS_ID_LIMIT || !ShortLiteral(code + kVar, size - kVar - EXPR_INSTR_HEADER, &f.literal)) {
    f.literal = 0;
    return f;
  }
  f.form = EXPR_SHORT_VAR_OP_LIT;
  f.op = op[0];
  f.var = id;
  return f;
}

i32 ExprRunShortInt(const u8* code, u32 size) {
  // The caller has just reset the state in integer mode (reading its fields back here would
  // wait on those very stores); only the standard table qualifies.
  if (!s_TableReady || g_ExprDeclareMode) return 0;
  i64 lit = 0;
  if (ShortLiteral(code, size, &lit)) return ExprPushInt(lit) == 0 ? 1 : -1;
  if (!s_RealReaders) return 0;
  if (const u16 id = ShortIntVar(code, size)) {
    g_Expr.ref.var_id = id;
    g_Expr.ref.named = 1;
    g_Expr.ref.element = 0;
    g_Expr.ref.whole = 0;
    return ExprPushInt(VarGetIntElement(id, 0)) == 0 ? 1 : -1;
  }
  // A variable, a literal and one operator: what ExprRun does, without decoding the
  // instructions one by one.
  constexpr u32 kVar = EXPR_INSTR_HEADER + EXPR_VAR_OPERAND;
  if (size < kVar + 4 + EXPR_INSTR_HEADER) return 0;
  const u8* op = code + size - EXPR_INSTR_HEADER;
  if (op[1] || op[2]) return 0;
  switch (op[0]) {
    case EXPR_OP_EQ:
    case EXPR_OP_NE:
    case EXPR_OP_LT:
    case EXPR_OP_GT:
    case EXPR_OP_LE:
    case EXPR_OP_GE:
    case EXPR_OP_ADD:
    case EXPR_OP_SUB: break;
    default: return 0;
  }
  const u16 id = ShortIntVar(code, kVar);
  if (!id || !ShortLiteral(code + kVar, size - kVar - EXPR_INSTR_HEADER, &lit)) return 0;
  g_Expr.ref.var_id = id;
  g_Expr.ref.named = 1;
  g_Expr.ref.element = 0;
  g_Expr.ref.whole = 0;
  if (ExprPushInt(VarGetIntElement(id, 0)) != 0 || ExprPushInt(lit) != 0) return -1;
  return g_ExprOps[op[0]](op + EXPR_INSTR_HEADER, 0) == 0 ? 1 : -1;
}
