// Expression evaluator (see expr.h): the run loop, the stack and the string pool, variable reads
// with index lists, and the entry functions. Every operand length and every push is checked, so
// hostile byte code fails the evaluation with error 900030 instead of reading or writing outside
// the code, the stack or the pool.
#include "script/expr.h"

#include <cstdlib>
#include <cstring>

#include "common/sjis.h"
#include "core/err.h"
#include "script/var.h"

ExprState g_Expr;
u8 g_ExprDeclareMode = 0;
ExprOpFn g_ExprOps[256];

static char* s_Pool[EXPR_POOL_BUFFERS];

static void ResetState(u8 mode) {
  g_Expr.top = 0;
  g_Expr.pool_next = 1;
  g_Expr.mode = mode;
  g_Expr.list_depth = 0;
  g_Expr.not_constant = 0;
  g_Expr.failed = 0;
  // The index list is read only up to its count, so the count alone clears it (clearing the
  // whole record costs more than a short evaluation).
  g_Expr.ref.var_id = 0;
  g_Expr.ref.named = 0;
  g_Expr.ref.element = 0;
  g_Expr.ref.whole = 0;
  g_Expr.ref.index_count = 0;
}

void ExprReset() {
  for (char*& p : s_Pool) {
    std::free(p);
    p = nullptr;
  }
  ResetState(EXPR_MODE_INT);
  g_ExprDeclareMode = 0;
  ExprInitOpTable(1);
}

i32 ExprFailCode() {
  ErrRaiseAtScript(ERR_EXPR_BAD_CODE, 1);
  return -1;
}

// ---- Stack and pool --------------------------------------------------------------------------

static ExprSlot* PushSlot() {
  if (g_Expr.top >= EXPR_STACK_SLOTS) {
    ExprFailCode();
    return nullptr;
  }
  return &g_Expr.stack[g_Expr.top++];
}

i32 ExprPushFloat(double v) {
  ExprSlot* s = PushSlot();
  if (!s) return -1;
  *s = ExprSlot{VarFloatToInt(v), v, 0};
  return 0;
}

i32 ExprPushNumberConverted(bool is_float, i64 i, double f) {
  // Converted to the arithmetic in force as it is pushed: doubles truncate toward zero.
  if (ExprFloatArith()) return ExprPushFloat(is_float ? f : static_cast<double>(i));
  return ExprPushInt(is_float ? VarFloatToInt(f) : i);
}

char* ExprPoolNew(u16* index) {
  if (g_Expr.pool_next >= EXPR_POOL_BUFFERS) {
    ExprFailCode();
    return nullptr;
  }
  u16 n = g_Expr.pool_next;
  if (!s_Pool[n]) {
    s_Pool[n] = static_cast<char*>(std::malloc(EXPR_STR_BUF));
    if (!s_Pool[n]) {
      ErrRaiseAtScript(ERR_OUT_OF_MEMORY, 1);
      return nullptr;
    }
  }
  g_Expr.pool_next++;
  s_Pool[n][0] = '\0';
  *index = n;
  return s_Pool[n];
}

char* ExprPoolText(u16 index) { return index > 0 && index < EXPR_POOL_BUFFERS ? s_Pool[index] : nullptr; }

i32 ExprPushText(const char* text, size_t len) {
  u16 index = 0;
  char* buf = ExprPoolNew(&index);
  if (!buf) return -1;
  len = StrCutSjis(text, len, EXPR_STR_MAX);
  std::memcpy(buf, text, len);
  buf[len] = '\0';
  ExprSlot* s = PushSlot();
  if (!s) return -1;
  *s = ExprSlot{0, 0.0, index};
  return 0;
}

// ---- Variables -------------------------------------------------------------------------------

static u16 VarIdOf(const u8* operand) { return static_cast<u16>(operand[1] | operand[2] << 8); }

// The record of an operand's variable, or null after error 108010 (or 900030 for a short
// operand).
static VarRecord* VarOf(const u8* operand, u16 len, u16* id) {
  if (len < EXPR_VAR_OPERAND) {
    ExprFailCode();
    return nullptr;
  }
  *id = VarIdOf(operand);
  VarRecord* v = VarRecordOf(*id);
  if (!v) ErrRaiseAtScriptF(ERR_EXPR_UNDEFINED_VAR, 1, static_cast<i32>(*id));
  return v;
}

// Pushes element index of variable id as its type gives it. System variables are computed by the
// getters.
static i32 PushElement(u16 id, const VarRecord* v, i64 index) {
  switch (v->type) {
    case VAR_TYPE_FLOAT: return ExprPushNumber(true, 0, VarGetFloatElement(id, index));
    case VAR_TYPE_STR: {
      const char* text = VarGetStrElement(id, index);
      if (!text) text = "";
      return ExprPushText(text, std::strlen(text));
    }
    case VAR_TYPE_INT:
      // A script variable's element read in place, as VarGetIntElement reads it; system
      // variables are computed by their getters.
      if (id >= VAR_SYS_ID_LIMIT)
        return ExprPushNumber(false, index >= 0 && index < v->count && v->ints ? v->ints[index] : 0, 0.0);
      return ExprPushNumber(false, VarGetIntElement(id, index), 0.0);
    default: return ExprPushNumber(false, 0, 0.0);  // declared but not yet defined
  }
}

static void SetRef(u16 id, i64 element, u8 whole) {
  g_Expr.ref.var_id = id;
  g_Expr.ref.named = 1;
  g_Expr.ref.element = element;
  g_Expr.ref.whole = whole;
}

i32 ExprOpVar(const u8* operand, u16 len) {
  u16 id = 0;
  VarRecord* v = VarOf(operand, len, &id);
  if (!v) return -1;
  SetRef(id, 0, 0);
  if (g_ExprDeclareMode && g_Expr.list_depth == 0) {
    g_Expr.ref.index_count = 0;  // a scalar: no sizes
    return 0;
  }
  return PushElement(id, v, 0);
}

i32 ExprOpIndexOpen(const u8* operand, u16 len) {
  u16 id = 0;
  if (!VarOf(operand, len, &id)) return -1;
  u16 base = g_Expr.top;
  // The placeholder carries the variable id; the list depth never passes the stack.
  if (ExprPushInt(id) != 0) return -1;
  g_Expr.list_base[g_Expr.list_depth++] = base;
  return 0;
}

i32 ExprOpIndexClose(const u8*, u16) {
  if (g_Expr.list_depth == 0) return ExprFailCode();
  u16 base = g_Expr.list_base[--g_Expr.list_depth];
  // Operators inside the list may have consumed its placeholder: then the code is malformed.
  if (g_Expr.top <= base || g_Expr.stack[base].str) return ExprFailCode();
  u16 id = static_cast<u16>(g_Expr.stack[base].i);
  u32 count = static_cast<u32>(g_Expr.top - base - 1);
  const ExprSlot* idx = &g_Expr.stack[base + 1];
  for (u32 k = 0; k < count; k++)
    if (idx[k].str) {
      ErrRaiseAtScript(ERR_EXPR_STRING_MIX, 1);
      return -1;
    }
  VarRecord* v = VarRecordOf(id);
  if (!v) {
    ErrRaiseAtScriptF(ERR_EXPR_UNDEFINED_VAR, 1, static_cast<i32>(id));
    return -1;
  }
  if (count > EXPR_INDEX_MAX) {
    ErrRaiseAtScriptF(ERR_EXPR_INDEX, 1, static_cast<i64>(count));
    return -1;
  }
  g_Expr.ref.index_count = static_cast<u8>(count);
  for (u32 k = 0; k < count; k++) g_Expr.ref.indexes[k] = idx[k].i;
  g_Expr.top = base;

  if (g_ExprDeclareMode && g_Expr.list_depth == 0) {
    SetRef(id, 0, 0);  // the list is the variable's new sizes: nothing is checked or pushed
    return 0;
  }
  // Every given index is checked in full against its own dimension (an index past the variable's
  // dimensions has none to be below); the indexes not given are 0, so a 3 x 4 array read with
  // the one index 1 gives element 4.
  const u32 dims = static_cast<u32>(v->dim_count < 0 ? 0 : v->dim_count);
  i64 element = 0;
  for (u32 k = 0; k < count || k < dims; k++) {
    const i64 index = k < count ? g_Expr.ref.indexes[k] : 0;
    const i64 size = k < dims ? static_cast<i64>(v->dims[k]) : 0;
    if (index < 0 || index >= size) {
      ErrRaiseAtScriptF(ERR_EXPR_INDEX, 1, index);
      return -1;
    }
    // Row-major. A record whose sizes multiply past the element limit has no storage; its
    // element is held at the limit (never a valid index), so the product cannot overflow.
    element = element * size + index;
    if (element > VAR_ELEMENT_MAX) element = VAR_ELEMENT_MAX;
  }
  SetRef(id, element, 0);
  return PushElement(id, v, element);
}

i32 ExprOpWhole(const u8* operand, u16 len) {
  u16 id = 0;
  if (!VarOf(operand, len, &id)) return -1;
  SetRef(id, 0, 1);
  g_Expr.ref.index_count = 0;
  return ExprPushNumber(false, 0, 0.0);
}

// ---- Running ---------------------------------------------------------------------------------

i32 ExprRun(const u8* code, u32 size) {
  u32 pos = 0;
  while (pos < size) {
    if (size - pos < EXPR_INSTR_HEADER) return ExprFailCode();
    u8 op = code[pos];
    u16 len = static_cast<u16>(code[pos + 1] | code[pos + 2] << 8);
    if (len > size - pos - EXPR_INSTR_HEADER) return ExprFailCode();
    if (g_ExprOps[op](code + pos + EXPR_INSTR_HEADER, len) != 0) return -1;
    pos += EXPR_INSTR_HEADER + len;
  }
  return 0;
}

static const ExprSlot* Run(u8 mode, const u8* code, u32 size) {
  ResetState(mode);
  const i32 quick = code && mode == EXPR_MODE_INT ? ExprRunShortInt(code, size) : 0;
  if (quick != 0) g_Expr.failed = quick < 0;
  else g_Expr.failed = code || size == 0 ? ExprRun(code, size) != 0 : 1;
  // The value in slot 0 whatever happened; an empty stack reads as 0.
  static const ExprSlot kEmpty = {0, 0.0, 0};
  return g_Expr.top > 0 ? &g_Expr.stack[0] : &kEmpty;
}

i64 ExprEvalInt(const u8* code, u32 size) { return Run(EXPR_MODE_INT, code, size)->i; }
i64 ExprEvalFloatAsInt(const u8* code, u32 size) { return VarFloatToInt(Run(EXPR_MODE_FLOAT, code, size)->f); }
double ExprEvalIntAsFloat(const u8* code, u32 size) { return static_cast<double>(Run(EXPR_MODE_INT, code, size)->i); }
double ExprEvalFloat(const u8* code, u32 size) { return Run(EXPR_MODE_FLOAT, code, size)->f; }

static i32 CopyResult(const ExprSlot* s, char* buf) {
  const char* text = s->str ? ExprPoolText(s->str) : nullptr;
  if (!text) {
    buf[0] = '\0';
    return 0;
  }
  size_t len = std::strlen(text);  // at most 4095: every pool string is cut there
  std::memcpy(buf, text, len + 1);
  return static_cast<i32>(len);
}

i32 ExprEvalStr(const u8* code, u32 size, char* buf) { return CopyResult(Run(EXPR_MODE_STR, code, size), buf); }
i32 ExprEvalStr4(const u8* code, u32 size, char* buf) { return CopyResult(Run(EXPR_MODE_STR_FLOAT, code, size), buf); }

const ExprNumEntry g_ExprNumEntry[EXPR_VALUE_TYPES] = {
    {nullptr, nullptr},             // 0
    {ExprEvalInt, nullptr},         // 1
    {ExprEvalFloatAsInt, nullptr},  // 2
    {ExprEvalInt, nullptr},         // 3
    {ExprEvalFloatAsInt, nullptr},  // 4
    {nullptr, nullptr},             // 5
    {nullptr, ExprEvalIntAsFloat},  // 6
    {nullptr, ExprEvalFloat},       // 7
    {nullptr, ExprEvalIntAsFloat},  // 8
    {nullptr, ExprEvalFloat},       // 9
    {nullptr, nullptr},             // 10
    {nullptr, ExprEvalFloat},       // 11
    {nullptr, ExprEvalFloat},       // 12
    {nullptr, ExprEvalFloat},       // 13
    {nullptr, ExprEvalFloat},       // 14
};

const ExprStrEntryFn g_ExprStrEntry[EXPR_STR_VALUE_TYPES] = {nullptr, ExprEvalStr, ExprEvalStr, ExprEvalStr,
                                                             ExprEvalStr4};

i32 ExprEvalByTypeInt(u8 value_type, const u8* code, u32 size, i64* out) {
  *out = 0;
  const ExprNumEntry* e = value_type < EXPR_VALUE_TYPES ? &g_ExprNumEntry[value_type] : nullptr;
  if (e && e->as_int) {
    *out = e->as_int(code, size);
    return 0;
  }
  if (e && e->as_float) {
    *out = VarFloatToInt(e->as_float(code, size));
    return 0;
  }
  return ExprFailCode();
}

i32 ExprEvalByTypeFloat(u8 value_type, const u8* code, u32 size, double* out) {
  *out = 0.0;
  const ExprNumEntry* e = value_type < EXPR_VALUE_TYPES ? &g_ExprNumEntry[value_type] : nullptr;
  if (e && e->as_float) {
    *out = e->as_float(code, size);
    return 0;
  }
  if (e && e->as_int) {
    *out = static_cast<double>(e->as_int(code, size));
    return 0;
  }
  return ExprFailCode();
}

i32 ExprEvalByTypeStr(u8 value_type, const u8* code, u32 size, char* buf, i32* len) {
  buf[0] = '\0';
  *len = 0;
  ExprStrEntryFn fn = value_type < EXPR_STR_VALUE_TYPES ? g_ExprStrEntry[value_type] : nullptr;
  if (!fn) return ExprFailCode();
  *len = fn(code, size, buf);
  return 0;
}
