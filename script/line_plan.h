// Line plans: what the binder learnt once about a line's arguments, so the hottest commands (the
// integer assignment, the block conditions and the loop count) skip the evaluator's set-up when
// their arguments take one of the short integer forms, and the scheduler runs the commonest of
// them (and the block and loop ends) in their handlers' place. A plan says which form the byte
// code has; every fact that can change while the script runs (a variable's type and storage, the
// operator table) is checked when the line runs, and the line takes the general path when one
// does not hold, so every error, text and position stays that path's own. The variable records
// a plan names are kept with the variable table's stamp and read again when it changes.
#pragma once
#include "common/int_ops.h"
#include "common/types.h"
#include "script/expr.h"
#include "script/script.h"
#include "script/task.h"
#include "script/var.h"

struct ScriptFileRecord;

enum : u8 {
  LINE_PLAN_GENERAL = 0,
  LINE_PLAN_ASSIGN_INT,  // command 54 on element 0 of a script variable, the value a short form
  LINE_PLAN_IF,          // command 45, its condition a short form
  LINE_PLAN_ELSE_IF,     // command 11, its condition a short form
  LINE_PLAN_LOOP,        // command 56, its count a short form
  LINE_PLAN_BLOCK_END,   // command 49
  LINE_PLAN_LOOP_END,    // command 59
};
enum {
  CMD_VAR_ASSIGN = 54,
  CMD_BLOCK_BEGIN = 45,
  CMD_BLOCK_BRANCH = 11,
  CMD_BLOCK_END = 49,
  CMD_LOOP_START = 56,
  CMD_LOOP_END = 59
};

// How a planned short form is worked out: a literal (lo); the variable plus lo, wrapping (a lone
// variable, "+" and "-"); or a comparison as whether the variable lies in [lo, hi], inverted when
// invert is set ("=" [b, b], "!" its inverse, "Z" [b, max], "<" its inverse, "S" [min, b], ">"
// its inverse).
enum : u8 { PLAN_EVAL_NONE = 0, PLAN_EVAL_LITERAL, PLAN_EVAL_ADD, PLAN_EVAL_RANGE };

struct LinePlan {
  u8 kind;       // LINE_PLAN_...
  u8 assign_op;  // LINE_PLAN_ASSIGN_INT: the operator code (0 to 8)
  u16 target;    // LINE_PLAN_ASSIGN_INT: the assigned variable
  u8 eval;       // PLAN_EVAL_...
  u8 invert;
  ExprShortForm value;
  i64 lo, hi;
  // The records of target and value.var as the variable table held them under stamp, kept so a
  // planned line does not look them up each time it runs (see PlanRefresh).
  mutable u32 stamp;
  mutable VarRecord* target_rec;
  mutable VarRecord* value_rec;
};

// Plans every line of a bound file into plans (line_count entries). A line is planned only when
// it is bound to its command's own handler, as the scheduler runs some plans in that handler's
// place.
void ScriptPlanLines(const ScriptFileRecord* rec, LinePlan* plans);

// Reads the plan's records again from the variable table.
void PlanReadRecords(const LinePlan& p);
// The plan's records as the variable table holds them now.
inline void PlanRefresh(const LinePlan& p) {
  if (p.stamp != g_VarTableStamp) PlanReadRecords(p);
}

// Element 0 of a variable record when it is a defined integer: true with its value (what
// VarGetIntElement gives a script variable: 0 without storage). False when it is not one now.
inline bool PlanIntVar(const VarRecord* v, i64* out) {
  if (!v || v->type != VAR_TYPE_INT) return false;
  *out = v->ints && v->count >= 1 ? v->ints[0] : 0;
  return true;
}

// The value of a refreshed plan's short form as the integer entry evaluates it: true with *out; false
// when the general evaluator must run (the table is not the standard one, the define commands are
// evaluating, or the variable is not an integer now).
inline bool PlanShortValue(const LinePlan& p, i64* out) {
  if (!g_ExprTableStandard || g_ExprDeclareMode) return false;
  if (p.eval == PLAN_EVAL_LITERAL) {
    *out = p.lo;
    return true;
  }
  i64 a = 0;
  if (p.eval == PLAN_EVAL_NONE || !PlanIntVar(p.value_rec, &a)) return false;
  if (p.eval == PLAN_EVAL_ADD) {
    *out = IntWrapAdd(a, p.lo);
  } else {
    const bool inside = static_cast<u64>(a) - static_cast<u64>(p.lo) <= static_cast<u64>(p.hi) - static_cast<u64>(p.lo);
    *out = inside != (p.invert != 0);
  }
  return true;
}

// ---- The planned forms of the commands -------------------------------------------------------
// Each runs line `line` of thread t (the running line) as its command does and gives true, or
// gives false, having changed nothing, when the command's handler must run it.

// Command 54: an integer assignment.
inline bool PlanRunAssign(const LinePlan& p) {
  PlanRefresh(p);
  VarRecord* v = p.target_rec;
  i64 value = 0;
  if (!v || v->type != VAR_TYPE_INT || !PlanShortValue(p, &value)) return false;
  // As the integer operator entries do: an element outside the storage or a zero divisor keeps
  // the variable as it was.
  if (!v->ints || v->count < 1) return true;
  i64 r = 0;
  if (p.assign_op == 1) v->ints[0] = IntWrapAdd(v->ints[0], value);  // the commonest, without the table
  else if (IntApplyOp(p.assign_op, v->ints[0], value, &r)) v->ints[0] = r;
  return true;
}

// Command 45: a block head whose records and depth are sound and whose condition cannot fail.
// The condition is taken first, as nothing the block's set-up changes is read by it.
inline bool PlanRunIf(TaskContext* t, u32 line, const LinePlan& p) {
  PlanRefresh(p);
  const ArgRecord* r = t->arg_records[line];
  const i32 bd = t->block_depth;
  BlockRecord* b = bd >= 0 && bd + 1 < TASK_DEPTH_MAX ? t->blocks[bd] : nullptr;
  i64 c = 0;
  if (!b || r[1].size > t->line_count || r[2].size > t->line_count || !PlanShortValue(p, &c)) return false;
  b->head_line = line;
  b->loop_depth = static_cast<u8>(t->loop_depth);
  b->end_line = r[2].size;
  t->block_depth = static_cast<i8>(bd + 1);
  if (c == 0) t->next_line = r[1].size ? r[1].size : r[2].size;
  return true;
}

// Command 49 with a block open.
inline bool PlanRunBlockEnd(TaskContext* t) {
  BlockRecord* b = t->block_depth >= 1 ? t->blocks[t->block_depth - 1] : nullptr;
  if (!b) return false;
  b->end_line = 0;
  t->block_depth--;
  return true;
}

// Command 59 with a loop open.
inline bool PlanRunLoopEnd(TaskContext* t) {
  LoopRecord* lp = t->loop_depth >= 1 ? t->loops[t->loop_depth - 1] : nullptr;
  if (!lp) return false;
  if (lp->limit == -1 || lp->counter < lp->limit) {
    lp->counter++;
    t->next_line = lp->body_line;
    t->block_depth = static_cast<i8>(lp->block_depth);
    return true;
  }
  lp->counter = lp->limit = 0;
  lp->body_line = 0;
  t->loop_depth--;
  return true;
}

// The scheduler's use: runs running line n of t in its handler's place when its plan allows it.
inline bool PlanRunLine(TaskContext* t, u32 n) {
  const LinePlan& p = t->plans[n];
  switch (p.kind) {
    case LINE_PLAN_ASSIGN_INT: return PlanRunAssign(p);
    case LINE_PLAN_IF: return PlanRunIf(t, n, p);
    case LINE_PLAN_BLOCK_END: return PlanRunBlockEnd(t);
    case LINE_PLAN_LOOP_END: return PlanRunLoopEnd(t);
    default: return false;
  }
}
