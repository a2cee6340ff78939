// Line plans (see line_plan.h): each line of a bound file is looked at once. A line whose records
// are short, out of the expression area, or whose value types would select another entry keeps
// the general plan, so its error still comes when it runs.
#include "script/line_plan.h"

#include <cstdint>
#include <cstring>

#include "script/cmd.h"
#include "script/script.h"
#include "script/task.h"

// The byte code of a record inside the expression area, or null.
static const u8* PlanCode(const ScriptFileRecord* rec, const ArgRecord* r) {
  if (!rec->expr_area || static_cast<u64>(r->offset) + r->size > rec->expr_size) return nullptr;
  return rec->expr_area + r->offset;
}

// Value types whose numeric entry is the plain integer evaluation: only these give a short form's
// value unchanged (a float entry would round a large integer through a double).
static bool PlainIntEntry(u8 value_type) {
  return value_type < EXPR_VALUE_TYPES && g_ExprNumEntry[value_type].as_int == ExprEvalInt;
}

// The short form of record r when its value type evaluates it as a plain integer.
static ExprShortForm PlanValue(const ScriptFileRecord* rec, const ArgRecord* r) {
  const u8* code = PlanCode(rec, r);
  if (!code || !PlainIntEntry(r->value_type)) return ExprShortForm{};
  return ExprDecodeShortInt(code, r->size);
}

// How the plan's short form is worked out when the line runs (see PLAN_EVAL_...).
static void PlanEval(LinePlan* p) {
  const ExprShortForm& f = p->value;
  const i64 b = f.literal;
  p->lo = p->hi = 0;
  p->invert = 0;
  switch (f.form) {
    case EXPR_SHORT_LITERAL:
      p->eval = PLAN_EVAL_LITERAL;
      p->lo = b;
      return;
    case EXPR_SHORT_VAR: p->eval = PLAN_EVAL_ADD; return;
    case EXPR_SHORT_VAR_OP_LIT: break;
    default: p->eval = PLAN_EVAL_NONE; return;
  }
  p->eval = PLAN_EVAL_RANGE;
  switch (f.op) {
    case EXPR_OP_ADD:
      p->eval = PLAN_EVAL_ADD;
      p->lo = b;
      return;
    case EXPR_OP_SUB:
      p->eval = PLAN_EVAL_ADD;
      p->lo = IntWrapSub(0, b);  // a - b wraps as a + (-b) does
      return;
    case EXPR_OP_EQ:
    case EXPR_OP_NE:
      p->lo = p->hi = b;
      p->invert = f.op == EXPR_OP_NE;
      return;
    case EXPR_OP_GE:
    case EXPR_OP_LT:
      p->lo = b;
      p->hi = INT64_MAX;
      p->invert = f.op == EXPR_OP_LT;
      return;
    case EXPR_OP_LE:
    case EXPR_OP_GT:
      p->lo = INT64_MIN;
      p->hi = b;
      p->invert = f.op == EXPR_OP_GT;
      return;
    default: p->eval = PLAN_EVAL_NONE; return;
  }
}

static LinePlan PlanAssign(const ScriptFileRecord* rec, const ArgRecord* r, u8 count) {
  LinePlan p{};
  if (count < 2 || r[0].op >= VAR_ASSIGN_OP_COUNT) return p;
  // The target is evaluated only to learn what it names: any value type with an entry does.
  const ArgRecord& target = r[0];
  const u8* tcode = PlanCode(rec, &target);
  if (!tcode || target.value_type >= EXPR_VALUE_TYPES) return p;
  const ExprNumEntry& e = g_ExprNumEntry[target.value_type];
  if (!e.as_int && !e.as_float) return p;
  const ExprShortForm t = ExprDecodeShortInt(tcode, target.size);
  if (t.form != EXPR_SHORT_VAR) return p;
  p.value = PlanValue(rec, &r[1]);
  if (p.value.form == EXPR_SHORT_NONE) return LinePlan{};
  p.kind = LINE_PLAN_ASSIGN_INT;
  p.assign_op = r[0].op;
  p.target = t.var;
  PlanEval(&p);
  return p;
}

static LinePlan PlanCondition(const ScriptFileRecord* rec, const ArgRecord* r, u8 count, u8 need, u8 kind) {
  LinePlan p{};
  if (count < need) return p;
  p.value = PlanValue(rec, &r[0]);
  if (p.value.form == EXPR_SHORT_NONE) return LinePlan{};
  p.kind = kind;
  PlanEval(&p);
  return p;
}

static VarRecord* PlanRecord(u16 id) { return g_VarTable && id < g_VarCount ? g_VarTable[id] : nullptr; }

void PlanReadRecords(const LinePlan& p) {
  p.target_rec = p.kind == LINE_PLAN_ASSIGN_INT ? PlanRecord(p.target) : nullptr;
  p.value_rec = p.eval == PLAN_EVAL_ADD || p.eval == PLAN_EVAL_RANGE ? PlanRecord(p.value.var) : nullptr;
  p.stamp = g_VarTableStamp;
}

void ScriptPlanLines(const ScriptFileRecord* rec, LinePlan* plans) {
  for (u32 line = 0; line < rec->line_count; line++) {
    const ArgRecord* r = rec->arg_records[line];
    const u8 count = rec->arg_counts[line];
    const TaskLineHandler h = rec->handlers[1][line];
    LinePlan p{};
    switch (rec->opcodes[line]) {
      case CMD_VAR_ASSIGN:
        if (h == CmdVarAssign) p = PlanAssign(rec, r, count);
        break;
      case CMD_BLOCK_BEGIN:
        if (h == CmdBlockBegin) p = PlanCondition(rec, r, count, 3, LINE_PLAN_IF);
        break;
      case CMD_BLOCK_BRANCH:
        if (h == CmdBlockBranch) p = PlanCondition(rec, r, count, 1, LINE_PLAN_ELSE_IF);
        break;
      case CMD_LOOP_START:
        if (h == CmdLoopStart) p = PlanCondition(rec, r, count, 2, LINE_PLAN_LOOP);
        break;
      case CMD_BLOCK_END:
        if (h == CmdBlockEnd) p.kind = LINE_PLAN_BLOCK_END;
        break;
      case CMD_LOOP_END:
        if (h == CmdLoopEnd) p.kind = LINE_PLAN_LOOP_END;
        break;
      default: break;
    }
    plans[line] = p;
  }
}
