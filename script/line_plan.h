// Line plans: what the binder learnt once about a line's arguments, so the hottest commands (the
// integer assignment, the block conditions and the loop count) skip the evaluator's set-up when
// their arguments take one of the short integer forms. A plan only says which form the byte code
// has; every fact that can change while the script runs (a variable's type and storage, the
// operator table) is checked when the line runs, and the line takes the general path when one
// does not hold, so every error, text and position stays that path's own.
#pragma once
#include "common/int_ops.h"
#include "common/types.h"
#include "script/expr.h"
#include "script/var.h"

struct ScriptFileRecord;

enum : u8 {
  LINE_PLAN_GENERAL = 0,
  LINE_PLAN_ASSIGN_INT,  // command 54 on element 0 of a script variable, the value a short form
  LINE_PLAN_IF,          // command 45, its condition a short form
  LINE_PLAN_ELSE_IF,     // command 11, its condition a short form
  LINE_PLAN_LOOP,        // command 56, its count a short form
};
enum { CMD_VAR_ASSIGN = 54, CMD_BLOCK_BEGIN = 45, CMD_BLOCK_BRANCH = 11, CMD_LOOP_START = 56 };

struct LinePlan {
  u8 kind;       // LINE_PLAN_...
  u8 assign_op;  // LINE_PLAN_ASSIGN_INT: the operator code (0 to 8)
  u16 target;    // LINE_PLAN_ASSIGN_INT: the assigned variable
  ExprShortForm value;
};

// Plans every line of a bound file into plans (line_count entries).
void ScriptPlanLines(const ScriptFileRecord* rec, LinePlan* plans);

// The element 0 of script variable id when it is a defined integer: true with its value (what
// VarGetIntElement gives: 0 without storage). False when it is not one now.
inline bool PlanIntVar(u16 id, i64* out) {
  const VarRecord* v = g_VarTable && id < g_VarCount ? g_VarTable[id] : nullptr;
  if (!v || v->type != VAR_TYPE_INT) return false;
  *out = v->ints && v->count >= 1 ? v->ints[0] : 0;
  return true;
}

// The value of a short form as the integer entry evaluates it: true with *out; false when the
// general evaluator must run (the table is not the standard one, the define commands are
// evaluating, or the variable is not an integer now).
inline bool PlanShortValue(const ExprShortForm& f, i64* out) {
  if (!g_ExprTableStandard || g_ExprDeclareMode) return false;
  if (f.form == EXPR_SHORT_LITERAL) {
    *out = f.literal;
    return true;
  }
  if (f.form == EXPR_SHORT_NONE) return false;
  i64 a = 0;
  if (!PlanIntVar(f.var, &a)) return false;
  if (f.form == EXPR_SHORT_VAR) {
    *out = a;
    return true;
  }
  const i64 b = f.literal;
  switch (f.op) {
    case EXPR_OP_EQ: *out = a == b; return true;
    case EXPR_OP_NE: *out = a != b; return true;
    case EXPR_OP_LT: *out = a < b; return true;
    case EXPR_OP_GT: *out = a > b; return true;
    case EXPR_OP_LE: *out = a <= b; return true;
    case EXPR_OP_GE: *out = a >= b; return true;
    case EXPR_OP_ADD: *out = IntWrapAdd(a, b); return true;
    case EXPR_OP_SUB: *out = IntWrapSub(a, b); return true;
    default: return false;
  }
}
