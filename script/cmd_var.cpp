// The variable commands: define (26, 51, 90), assignment (54), the label test (53), the variable
// information query (101) and the two decode-only commands (86, 99). Every store goes through
// the variable store's setters, so an element outside its variable is never written.
#include <cstring>

#include "common/int_ops.h"
#include "common/sjis.h"
#include "common/sjis_conv.h"
#include "core/err.h"
#include "script/arg.h"
#include "script/cmd.h"
#include "script/cmd_var.h"
#include "script/expr.h"
#include "script/line_plan.h"
#include "script/script.h"
#include "script/task.h"
#include "script/var.h"

const u8* CmdArgCode(u8 p) { return g_CurrentTask->expr_area + g_ArgOffset[p]; }

i32 CmdEvalFloat(u32 value_type, u32 plus, const u8* code, u32 size, double* out) {
  *out = 0.0;
  if (!CmdValueTypeValid(value_type)) return ExprFailCode();
  return ExprEvalByTypeFloat(static_cast<u8>(value_type + plus), code, size, out);
}

i8 CmdVarType(i64 id) {
  const VarRecord* v = VarRecordOf(id);
  return v ? v->type : static_cast<i8>(VAR_TYPE_NONE);
}

static i32 WrongType() {
  ErrRaiseAtScript(ERR_VAR_WRONG_TYPE, 1);
  return -1;
}

// ---- Define ----------------------------------------------------------------------------------

static i32 VarDefine(u8 slot, u8 type) {
  if (ArgDecode(slot) != 0) return -1;
  u8 p = ArgPos(0);
  if (!p) return 0;
  g_ExprDeclareMode = 1;
  ExprEvalInt(CmdArgCode(p), g_ArgSize[p]);
  g_ExprDeclareMode = 0;
  if (g_Expr.failed) return -1;
  const ExprVarRef ref = g_Expr.ref;
  VarRecord* v = VarRecordOf(ref.var_id);
  // Only script variables are declared: a system variable keeps the shape its reader expects.
  if (!v || ref.var_id < VAR_SYS_ID_LIMIT) return WrongType();
  v->dim_count = static_cast<i8>(ref.index_count);
  std::memset(v->dims, 0, sizeof v->dims);
  for (u8 k = 0; k < ref.index_count; k++) v->dims[k] = static_cast<u32>(ref.indexes[k]);

  u8 q = ArgPos(1);
  switch (type) {
    case VAR_TYPE_INT: {
      i64 value = 0;
      if (q && ExprEvalByTypeInt(static_cast<u8>(g_ArgValueType[q]), CmdArgCode(q), g_ArgSize[q], &value) != 0)
        return -1;
      return VarTypeInt(ref.var_id, value) == 0 ? 0 : -1;
    }
    case VAR_TYPE_FLOAT: {
      double value = 0.0;
      if (q && CmdEvalFloat(g_ArgValueType[q], 5, CmdArgCode(q), g_ArgSize[q], &value) != 0) return -1;
      return VarTypeFloat(ref.var_id, value) == 0 ? 0 : -1;
    }
    default: {
      // Evaluated here through the string entry of value type 3, whatever kind the command
      // definitions give the argument: the decoder leaves a number argument's text empty.
      static char text[EXPR_STR_BUF];
      text[0] = '\0';
      i32 len = 0;
      if (q && ExprEvalByTypeStr(3, CmdArgCode(q), g_ArgSize[q], text, &len) != 0) return -1;
      return VarTypeString(ref.var_id, text, std::strlen(text)) == 0 ? 0 : -1;
    }
  }
}

i32 CmdVarDefineInt() { return VarDefine(51, VAR_TYPE_INT); }
i32 CmdVarDefineFloat() { return VarDefine(26, VAR_TYPE_FLOAT); }
i32 CmdVarDefineStr() { return VarDefine(90, VAR_TYPE_STR); }

// ---- Assignment ------------------------------------------------------------------------------

// The code of record i of the running line, checked against the expression area.
static const u8* LineArgCode(const ArgRecord* r) {
  const TaskContext* t = g_CurrentTask;
  if (!t->expr_area || static_cast<u64>(r->offset) + r->size > t->expr_size) return nullptr;
  return t->expr_area + r->offset;
}

// The element text with src appended, cut at a whole character to what an element holds.
static size_t AppendText(char* out, const char* base, const char* src) {
  size_t a = StrCopySjis(out, VAR_STR_BUF, base ? base : "");
  size_t b = std::strlen(src);
  if (a + b > VAR_STR_MAX) b = StrCutSjis(src, b, VAR_STR_MAX - a);
  std::memcpy(out + a, src, b);
  out[a + b] = '\0';
  return a + b;
}

static i32 AssignString(const ExprVarRef& ref, u8 op, const ArgRecord* src, const u8* code) {
  static char text[VAR_STR_BUF];
  static char joined[VAR_STR_BUF];
  if (op > 1) return WrongType();
  i32 len = 0;
  if (ExprEvalByTypeStr(src->value_type, code, src->size, text, &len) != 0) return -1;
  const char* value = text;
  if (op == 1) {
    AppendText(joined, VarGetStrElement(ref.var_id, ref.element), text);
    value = joined;
  }
  if (ref.var_id < VAR_SYS_ID_LIMIT && VarSetSysStr(ref.var_id, ref.element, value) != 0) return -1;
  VarSetStrElement(ref.var_id, ref.element, value);
  return 0;
}

// A system variable's new value under an operator (a zero divisor leaves it as it was).
static i64 SysOpValue(u8 op, i64 cur, i64 v) {
  i64 r = cur;
  IntApplyOp(op, cur, v, &r);
  return r;
}

// The assignment through the evaluator, for every line its plan does not cover.
[[gnu::noinline]] static i32 AssignGeneral() {
  const TaskContext* t = g_CurrentTask;
  if (!t || !t->arg_counts || !t->arg_records || g_CurrentLine >= t->line_count) return -1;
  if (t->arg_counts[g_CurrentLine] < 2) return ExprFailCode();
  const ArgRecord* target = &t->arg_records[g_CurrentLine][0];
  const ArgRecord* src = &t->arg_records[g_CurrentLine][1];
  const u8* tcode = LineArgCode(target);
  const u8* scode = LineArgCode(src);
  if (!tcode || !scode || target->op >= VAR_ASSIGN_OP_COUNT) return ExprFailCode();
  const u8 op = target->op;

  i64 unused = 0;
  if (ExprEvalByTypeInt(target->value_type, tcode, target->size, &unused) != 0) return -1;
  const ExprVarRef ref = g_Expr.ref;
  if (!ref.named) return WrongType();  // no variable named
  const i8 type = CmdVarType(ref.var_id);

  if (ref.whole) {
    switch (type) {
      case VAR_TYPE_INT: {
        i64 v = 0;
        if (ExprEvalByTypeInt(src->value_type, scode, src->size, &v) != 0) return -1;
        return VarTypeInt(ref.var_id, v) == 0 ? 0 : -1;
      }
      case VAR_TYPE_FLOAT: {
        double v = 0.0;
        if (CmdEvalFloat(src->value_type, 5, scode, src->size, &v) != 0) return -1;
        return VarTypeFloat(ref.var_id, v) == 0 ? 0 : -1;
      }
      case VAR_TYPE_STR: {
        static char text[VAR_STR_BUF];
        i32 len = 0;
        if (ExprEvalByTypeStr(src->value_type, scode, src->size, text, &len) != 0) return -1;
        return VarTypeString(ref.var_id, text, static_cast<size_t>(len)) == 0 ? 0 : -1;
      }
      default: return WrongType();
    }
  }

  if (type == VAR_TYPE_STR) return AssignString(ref, op, src, scode);
  if (ref.var_id < VAR_SYS_ID_LIMIT) {
    // The engine state changes first; the element then keeps the same value.
    i64 v = 0;
    if (ExprEvalByTypeInt(src->value_type, scode, src->size, &v) != 0) return -1;
    i64 value = SysOpValue(op, VarGetIntElement(ref.var_id, ref.element), v);
    if (VarSetSysInt(ref.var_id, ref.element, value) != 0) return -1;
    if (type == VAR_TYPE_INT || type == VAR_TYPE_FLOAT) VarSetNumElement(ref.var_id, ref.element, value);
    return 0;
  }
  switch (type) {
    case VAR_TYPE_INT: {
      i64 v = 0;
      if (ExprEvalByTypeInt(src->value_type, scode, src->size, &v) != 0) return -1;
      g_VarAssignOps[op](ref.var_id, ref.element, v, 0.0);
      return 0;
    }
    case VAR_TYPE_FLOAT: {
      double v = 0.0;
      if (CmdEvalFloat(src->value_type, 10, scode, src->size, &v) != 0) return -1;
      g_VarAssignOps[VAR_ASSIGN_FLOAT_BASE + op](ref.var_id, ref.element, 0, v);
      return 0;
    }
    default: return WrongType();
  }
}

i32 CmdVarAssign() {
  const TaskContext* t = g_CurrentTask;
  const u32 line = g_CurrentLine;
  if (t && t->plans && line < t->line_count && t->plans[line].kind == LINE_PLAN_ASSIGN_INT &&
      PlanRunAssign(t->plans[line]))
    return 0;
  return AssignGeneral();
}

// ---- Label test ------------------------------------------------------------------------------

static bool ElementInside(i64 id, i64 element) {
  const VarRecord* v = VarRecordOf(id);
  return v && element >= 0 && element < v->count;
}

i32 CmdLabelExists() {
  if (ArgDecode(53) != 0) return -1;
  if (!ArgGiven(2) || !ArgGiven(1)) return 0;
  const char* name = ArgStr(0);
  const i64 id = g_ArgVarId[ArgPos(1)], element = g_ArgVarElem[ArgPos(1)];
  if (!ElementInside(id, element)) return 0;
  const i8 type = CmdVarType(id);
  if (type != VAR_TYPE_INT && type != VAR_TYPE_FLOAT) {
    ErrRaiseAtScript(ERR_VAR_WRONG_TYPE, 1);
    return 0;
  }
  const bool found = ScriptFindLabel(name, static_cast<u32>(std::strlen(name))) >= 0;
  VarSetNumElement(id, element, found ? 1 : 0);
  return 0;
}

// ---- Variable information --------------------------------------------------------------------

static i32 NotString() {
  ErrRaiseAtScript(ERR_VAR_NOT_STRING, 1);
  return -1;
}

// The first index from `from` on whose element equals the searched value, or -1.
static i64 VarFind(i64 id, const VarRecord* v, i64 from) {
  i64 limit = v->dim_count >= 1 ? static_cast<i64>(v->dims[0]) : v->count;
  if (limit > v->count) limit = v->count;
  if (from < 0 || from >= limit) return -1;
  switch (v->type) {
    case VAR_TYPE_INT: {
      const i64 want = ArgInt(15);
      for (i64 k = from; k < limit; k++)
        if (VarGetIntElement(id, k) == want) return k;
      return -1;
    }
    case VAR_TYPE_FLOAT: {
      double want = 0.0;
      u8 p = ArgPos(16);
      if (p && CmdEvalFloat(g_ArgValueType[p], 5, CmdArgCode(p), g_ArgSize[p], &want) != 0) return -2;
      for (i64 k = from; k < limit; k++)
        if (VarGetFloatElement(id, k) == want) return k;
      return -1;
    }
    case VAR_TYPE_STR: {
      const char* want = ArgStr(17);
      for (i64 k = from; k < limit; k++) {
        const char* s = VarGetStrElement(id, k);
        if (s && std::strcmp(s, want) == 0) return k;
      }
      return -1;
    }
    default: return -1;
  }
}

i32 CmdVarInfoGet() {
  if (ArgDecode(101) != 0) return -1;
  if (!ArgGiven(0) || !ArgGiven(1)) return 0;
  const i64 id = g_ArgVarId[ArgPos(0)], element = g_ArgVarElem[ArgPos(0)];
  const i64 rid = g_ArgVarId[ArgPos(1)], relement = g_ArgVarElem[ArgPos(1)];
  const VarRecord* v = VarRecordOf(id);
  if (!v) return WrongType();
  if (ArgGiven(2)) VarSetNumElement(rid, relement, v->type);
  if (ArgGiven(3)) {
    const char* s = VarGetStrElement(id, element);  // null for a number variable: no character either
    if (!s || !s[0]) {
      ErrRaiseAtScriptF(ERR_VAR_EMPTY_STRING, 1, ArgCommandName(101), ArgName(101, 3));
      return -1;
    }
    const u8 c = static_cast<u8>(s[0]);
    VarSetNumElement(rid, relement, SjisCharLen(s) == 2 ? (c << 8 | static_cast<u8>(s[1])) : c);
  }
  if (ArgGiven(4)) VarSetNumElement(rid, relement, v->dim_count);
  for (u8 d = 0; d < VAR_DIM_MAX; d++)
    if (ArgGiven(static_cast<u8>(5 + d))) VarSetNumElement(rid, relement, v->dims[d]);
  if (ArgGiven(14)) {
    const i64 found = VarFind(id, v, ArgGiven(18) ? ArgInt(18) : 0);
    if (found == -2) return -1;
    VarSetNumElement(rid, relement, found);
  }
  if (ArgGiven(13)) {
    if (v->type != VAR_TYPE_STR) return NotString();
    const char* s = VarGetStrElement(id, element);
    VarSetNumElement(rid, relement, static_cast<i64>(StrCharCountSjis(s ? s : "")));
  }
  return 0;
}

// ---- Decode-only commands --------------------------------------------------------------------

i32 CmdNop86() { return ArgDecode(86) != 0 ? -1 : 0; }
i32 CmdNop99() { return ArgDecode(99) != 0 ? -1 : 0; }
