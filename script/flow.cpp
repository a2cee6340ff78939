// Labels, calls, blocks and loops: the commands that move a thread's next line and keep its three
// stacks. The compiler flattens every structure into these commands with line targets in the size
// fields of their records. Invariant: a target, label or depth taken from a file is checked before
// it is followed, and no depth ever reaches 64, so every record index stays inside its stack.
#include <cstdlib>
#include <cstring>

#include "common/sjis.h"
#include "core/err.h"
#include "core/obj.h"
#include "script/arg.h"
#include "script/cmd_var.h"
#include "script/expr.h"
#include "script/line_plan.h"
#include "script/script.h"
#include "script/task.h"

enum { CALL_VALUES_MAX = 16 };

// ---- Helpers ---------------------------------------------------------------------------------

static i32 DepthError(u8 slot) {
  ErrRaiseAtScriptF(ERR_TASK_DEPTH, 1, ArgCommandName(slot), static_cast<i32>(TASK_DEPTH_MAX));
  return -1;
}

static i32 NestingError() {
  ErrRaiseAtScript(ERR_TASK_NESTING, 1);
  return -1;
}

static i32 BodyFormatError(u32 file) {
  char name[SCRIPT_NAME_MAX];
  ScriptBodyName(name, file);
  ErrRaiseAtScriptF(ERR_SCRIPT_FORMAT, 1, name);
  return -1;
}

// The running line's records, or null when the line has fewer than need.
static const ArgRecord* LineRecords(const TaskContext* t, u32 need) {
  if (!t->arg_records || !t->arg_counts || g_CurrentLine >= t->line_count) return nullptr;
  if (t->arg_counts[g_CurrentLine] < need) return nullptr;
  return t->arg_records[g_CurrentLine];
}

// A line target of the running file; a line equal to the count is the end (the thread ends there).
static bool TargetOk(const TaskContext* t, u32 line) { return line <= t->line_count; }

static const u8* RecordCode(const TaskContext* t, const ArgRecord* r) {
  if (!t->expr_area || static_cast<u64>(r->offset) + r->size > t->expr_size) {
    ExprFailCode();
    return nullptr;
  }
  return t->expr_area + r->offset;
}

// A condition through the numeric entry of its value type: 1 true, 0 false, -1 failed.
static i32 EvalCondition(const TaskContext* t, const ArgRecord* r) {
  const u8* code = RecordCode(t, r);
  if (!code) return -1;
  if (r->value_type < EXPR_VALUE_TYPES && g_ExprNumEntry[r->value_type].as_float) {
    double f = 0.0;
    if (ExprEvalByTypeFloat(r->value_type, code, r->size, &f) != 0) return -1;
    return f != 0.0 ? 1 : 0;
  }
  i64 v = 0;
  if (ExprEvalByTypeInt(r->value_type, code, r->size, &v) != 0) return -1;
  return v != 0 ? 1 : 0;
}

// A condition or count of the running line through its plan when it has one of kind and its
// pieces are what the plan needs now; otherwise through the general evaluator. 1 with *out, 0
// when the general path must run.
static bool PlannedValue(const TaskContext* t, u8 kind, i64* out) {
  if (!t->plans || g_CurrentLine >= t->line_count) return false;
  const LinePlan& p = t->plans[g_CurrentLine];
  if (p.kind != kind) return false;
  PlanRefresh(p);
  return PlanShortValue(p, out);
}

static i32 Condition(const TaskContext* t, const ArgRecord* r, u8 kind) {
  i64 v = 0;
  if (PlannedValue(t, kind, &v)) return v != 0 ? 1 : 0;
  return EvalCondition(t, r);
}

template <typename T>
static T* EnsureRecord(T** slot) {
  if (!*slot) {
    *slot = static_cast<T*>(MemAllocZeroed(sizeof(T)));
    if (!*slot) ErrRaiseAtScript(ERR_OUT_OF_MEMORY, 1);
  }
  return *slot;
}

// Copies text into a kept heap buffer, growing it.
static i32 KeepText(char** slot, const char* text) {
  size_t len = std::strlen(text);
  char* p = static_cast<char*>(std::realloc(*slot, len + 1));
  if (!p) {
    ErrRaiseAtScript(ERR_OUT_OF_MEMORY, 1);
    return -1;
  }
  std::memcpy(p, text, len + 1);
  *slot = p;
  return 0;
}

static void ClearText(char* s) {
  if (s) s[0] = '\0';
}

i32 TaskSwitchFile(TaskContext* ctx, u32 file) {
  if (file == ctx->file_no && ctx->handlers[1]) return 0;
  if (ScriptLoadFile(file) != 1) return -1;
  ScriptBindTask(ctx, static_cast<u16>(file));
  return 0;
}

const LabelRecord* TaskCheckedLabel(i32 index) {
  if (index < 0 || static_cast<u32>(index) >= g_LabelCount || !g_Labels[index]) {
    ErrRaiseAtScriptF(ERR_SCRIPT_FORMAT, 1, kScriptLabelFile);
    return nullptr;
  }
  const LabelRecord* l = g_Labels[index];
  if (l->block_depth < 0 || l->loop_depth < 0 || l->block_depth >= TASK_DEPTH_MAX || l->loop_depth >= TASK_DEPTH_MAX ||
      l->file >= g_ScriptFileCount) {
    ErrRaiseAtScriptF(ERR_SCRIPT_FORMAT, 1, kScriptLabelFile);
    return nullptr;
  }
  if (ScriptLoadFile(l->file) != 1) return nullptr;
  if (l->line > g_ScriptFiles[l->file]->line_count) {
    BodyFormatError(l->file);
    return nullptr;
  }
  return l;
}

// A label by name: its index, or -1 after error 108180.
static i32 LabelByName(const char* name, i32 len) {
  i32 index = ScriptFindLabel(name, static_cast<u32>(len));
  if (index < 0) ErrRaiseAtScriptF(ERR_LABEL_MISSING, 1, name);
  return index;
}

// ---- Jump, call, return ----------------------------------------------------------------------

i32 CmdLabelJump() {
  TaskContext* t = g_CurrentTask;
  const ArgRecord* r = t ? LineRecords(t, 1) : nullptr;
  if (!r) return t ? BodyFormatError(t->file_no) : -1;
  i32 index;
  if (r->size >= SCRIPT_JUMP_RESOLVED) {
    index = static_cast<i32>(r->size - SCRIPT_JUMP_RESOLVED);
  } else {
    static char name[EXPR_STR_BUF];
    const u8* code = RecordCode(t, r);
    if (!code) return -1;
    i32 len = ExprEvalStr(code, r->size, name);
    if (g_Expr.failed) return -1;
    index = LabelByName(name, len);
    if (index < 0) return -1;
  }
  const LabelRecord* l = TaskCheckedLabel(index);
  if (!l) return -1;
  i32 bd = l->block_depth, ld = l->loop_depth;
  if (t->call_depth > 0) {
    const CallFrame* f = t->frames[t->call_depth - 1];
    bd += f->block_depth;
    ld += f->loop_depth;
  }
  if (bd >= TASK_DEPTH_MAX || ld >= TASK_DEPTH_MAX) return DepthError(CMD_LABEL_JUMP);
  if (TaskSwitchFile(t, l->file) != 0) return -1;
  t->block_depth = static_cast<i8>(bd);
  t->loop_depth = static_cast<i8>(ld);
  t->next_line = l->line;
  return 0;
}

// Values of a call or return line, evaluated before anything is stored: by value number 1 to 16
// whether given and how (1 integer, 2 float, 3 string).
struct CallValues {
  u8 kind[CALL_VALUES_MAX + 1];
  i64 ints[CALL_VALUES_MAX + 1];
  double floats[CALL_VALUES_MAX + 1];
  char strs[CALL_VALUES_MAX + 1][EXPR_STR_BUF];
};
static CallValues s_Values;

// Parameter p holds value number p - base for integers, p - base - 16 floats, p - base - 32
// strings (base 0 for calls, -1 for returns).
static i32 EvalValues(const TaskContext* t, const ArgRecord* recs, u32 count, i32 base, const ArgRecord** label) {
  std::memset(s_Values.kind, 0, sizeof s_Values.kind);
  for (u32 k = 0; k < count; k++) {
    const ArgRecord* r = &recs[k];
    i32 p = r->param;
    if (label && p == 0) {
      *label = r;
      continue;
    }
    i32 v = p - base;
    i32 kind = 1;
    if (v > 2 * CALL_VALUES_MAX) v -= 2 * CALL_VALUES_MAX, kind = 3;
    else if (v > CALL_VALUES_MAX) v -= CALL_VALUES_MAX, kind = 2;
    if (v < 1 || v > CALL_VALUES_MAX) continue;
    const u8* code = RecordCode(t, r);
    if (!code) return -1;
    if (kind == 1) {
      if (ExprEvalByTypeInt(r->value_type, code, r->size, &s_Values.ints[v]) != 0) return -1;
    } else if (kind == 2) {
      // The float entry (value type + 5): a float expression keeps its fraction.
      if (CmdEvalFloat(r->value_type, 5, code, r->size, &s_Values.floats[v]) != 0) return -1;
    } else {
      ExprEvalStr(code, r->size, s_Values.strs[v]);
      if (g_Expr.failed) return -1;
    }
    s_Values.kind[v] = static_cast<u8>(kind);
  }
  return 0;
}

// Stores values 1 to count into the slots of a frame (arguments or return values).
static i32 StoreValues(u32 count, i64* ints, double* floats, char** strs, u8* present) {
  present[0] = static_cast<u8>(count);
  for (u32 i = 1; i <= count; i++) {
    present[i] = 1;
    switch (s_Values.kind[i]) {
      case 1: ints[i] = s_Values.ints[i]; break;
      case 2: floats[i] = s_Values.floats[i]; break;
      case 3:
        if (KeepText(&strs[i], s_Values.strs[i]) != 0) return -1;
        break;
      default:
        ints[i] = 0;
        floats[i] = 0.0;
        ClearText(strs[i]);
        present[i] = 0;
        break;
    }
  }
  return 0;
}

static u32 ValueCount(const TaskContext* t) {
  u32 n = t->line_flags && g_CurrentLine < t->line_count ? t->line_flags[g_CurrentLine] : 0;
  return n > CALL_VALUES_MAX ? static_cast<u32>(CALL_VALUES_MAX) : n;  // the frames hold 16
}

i32 CmdLabelCall() {
  TaskContext* t = g_CurrentTask;
  if (!t) return -1;
  const ArgRecord* recs = LineRecords(t, 0);
  u32 argc = recs ? t->arg_counts[g_CurrentLine] : 0;
  i32 d = t->call_depth;
  if (d + 1 >= TASK_DEPTH_MAX) return DepthError(CMD_LABEL_CALL);
  const ArgRecord* label = nullptr;
  if (EvalValues(t, recs, argc, 0, &label) != 0) return -1;
  if (!label) return BodyFormatError(t->file_no);
  i32 index = ArgCallLabel(label);
  if (index == 0) {
    static char name[EXPR_STR_BUF];
    const u8* code = RecordCode(t, label);
    if (!code) return -1;
    i32 len = ExprEvalStr(code, label->size, name);
    if (g_Expr.failed) return -1;
    index = LabelByName(name, len);
    if (index < 0) return -1;
  }
  const LabelRecord* l = TaskCheckedLabel(index);
  if (!l) return -1;
  CallFrame* callee = EnsureRecord(&t->frames[d + 1]);
  if (!callee) return -1;
  CallFrame* caller = t->frames[d];
  u32 count = ValueCount(t);
  if (argc == 1) count = 0;  // the label alone
  if (StoreValues(count, callee->arg_ints, callee->arg_floats, callee->arg_strs, callee->arg_present) != 0) return -1;
  caller->return_line = g_CurrentLine + 1;
  caller->return_file = t->file_no;
  caller->call_source_line = t->line_numbers ? t->line_numbers[g_CurrentLine] : 0;
  caller->block_depth = static_cast<u8>(t->block_depth);
  caller->loop_depth = static_cast<u8>(t->loop_depth);
  if (TaskSwitchFile(t, l->file) != 0) return -1;
  t->call_depth = static_cast<i8>(d + 1);
  t->next_line = l->line;
  return 0;
}

i32 CmdCallReturn() {
  TaskContext* t = g_CurrentTask;
  if (!t) return -1;
  i32 d = t->call_depth;
  if (d <= 0) {
    if (t->no_end) return NestingError();
    TaskEndNode(g_CurrentTaskNode);
    return 1;
  }
  const ArgRecord* recs = LineRecords(t, 0);
  u32 argc = recs ? t->arg_counts[g_CurrentLine] : 0;
  if (EvalValues(t, recs, argc, -1, nullptr) != 0) return -1;
  CallFrame* f = t->frames[d - 1];
  if (StoreValues(ValueCount(t), f->ret_ints, f->ret_floats, f->ret_strs, f->ret_present) != 0) return -1;
  if (TaskSwitchFile(t, f->return_file) != 0) return -1;
  if (!TargetOk(t, f->return_line)) return BodyFormatError(t->file_no);
  t->call_depth = static_cast<i8>(d - 1);
  // The caller's stacks as they were at the call, even when the routine returns from inside a
  // block or loop.
  t->block_depth = static_cast<i8>(f->block_depth);
  t->loop_depth = static_cast<i8>(f->loop_depth);
  t->next_line = f->return_line;
  return 0;
}

// ---- Blocks ----------------------------------------------------------------------------------

// The block head through the evaluator, for every line its plan does not cover.
[[gnu::noinline]] static i32 BlockBeginGeneral() {
  TaskContext* t = g_CurrentTask;
  const ArgRecord* r = t ? LineRecords(t, 3) : nullptr;
  if (!r) return t ? BodyFormatError(t->file_no) : -1;
  if (!TargetOk(t, r[1].size) || !TargetOk(t, r[2].size)) return BodyFormatError(t->file_no);
  i32 bd = t->block_depth;
  if (bd + 1 >= TASK_DEPTH_MAX) return DepthError(45);
  BlockRecord* b = EnsureRecord(&t->blocks[bd]);
  if (!b) return -1;
  b->head_line = g_CurrentLine;
  b->loop_depth = static_cast<u8>(t->loop_depth);
  b->end_line = r[2].size;
  t->block_depth = static_cast<i8>(bd + 1);
  i32 c = EvalCondition(t, &r[0]);
  if (c < 0) return -1;
  if (c == 0) t->next_line = r[1].size ? r[1].size : r[2].size;
  return 0;
}

i32 CmdBlockBegin() {
  TaskContext* t = g_CurrentTask;
  const u32 line = g_CurrentLine;
  if (t && t->plans && line < t->line_count && t->plans[line].kind == LINE_PLAN_IF &&
      PlanRunIf(t, line, t->plans[line]))
    return 0;
  return BlockBeginGeneral();
}

static BlockRecord* Innermost(TaskContext* t) {
  if (t->block_depth < 1) return nullptr;
  return t->blocks[t->block_depth - 1];
}

i32 CmdBlockBranch() {
  TaskContext* t = g_CurrentTask;
  if (!t) return -1;
  BlockRecord* b = Innermost(t);
  if (!b) return NestingError();
  const ArgRecord* r = LineRecords(t, 1);
  if (!r) return 0;  // a plain "else"
  i32 c = Condition(t, &r[0], LINE_PLAN_ELSE_IF);
  if (c < 0) return -1;
  if (c) return 0;
  u32 next = t->arg_counts[g_CurrentLine] >= 2 ? r[1].size : 0;
  if (!next) next = b->end_line;
  if (!TargetOk(t, next)) return BodyFormatError(t->file_no);
  t->next_line = next;
  return 0;
}

i32 CmdBlockJumpEnd() {
  TaskContext* t = g_CurrentTask;
  BlockRecord* b = t ? Innermost(t) : nullptr;
  if (!b) return NestingError();
  t->next_line = b->end_line;
  return 0;
}

i32 CmdBlockEnd() {
  TaskContext* t = g_CurrentTask;
  BlockRecord* b = t ? Innermost(t) : nullptr;
  if (!b) return NestingError();
  b->end_line = 0;
  t->block_depth--;
  return 0;
}

// Levels of a break or continue: the new depth (at least 1), 0 when nothing is to be done, -1
// after the error.
static i32 LevelTarget(u8 slot, i32 depth) {
  if (ArgDecode(slot) != 0) return -1;
  i64 n = ArgGiven(0) ? ArgInt(0) : 1;
  if (n < 1) return 0;
  i64 target = depth - n + 1;
  if (target < 1) return NestingError();
  return static_cast<i32>(target);
}

static i32 BlockLeave(u8 slot, bool again) {
  TaskContext* t = g_CurrentTask;
  if (!t) return -1;
  i32 nd = LevelTarget(slot, t->block_depth);
  if (nd <= 0) return nd;
  BlockRecord* b = t->blocks[nd - 1];
  if (!b) return NestingError();
  t->loop_depth = static_cast<i8>(b->loop_depth);
  if (again) {
    t->next_line = b->head_line;  // the head runs again and re-evaluates its condition
    t->block_depth = static_cast<i8>(nd - 1);
  } else {
    t->next_line = b->end_line;  // its end command closes it
    t->block_depth = static_cast<i8>(nd);
  }
  return 0;
}

i32 CmdBlockBreak() { return BlockLeave(47, false); }
i32 CmdBlockContinue() { return BlockLeave(48, true); }

// ---- Loops -----------------------------------------------------------------------------------

i32 CmdLoopStart() {
  TaskContext* t = g_CurrentTask;
  const ArgRecord* r = t ? LineRecords(t, 2) : nullptr;
  if (!r) return t ? BodyFormatError(t->file_no) : -1;
  if (!TargetOk(t, r[1].size)) return BodyFormatError(t->file_no);
  i32 ld = t->loop_depth;
  if (ld + 1 >= TASK_DEPTH_MAX) return DepthError(56);
  LoopRecord* lp = EnsureRecord(&t->loops[ld]);
  if (!lp) return -1;
  i64 count = 0;
  if (!PlannedValue(t, LINE_PLAN_LOOP, &count)) {
    const u8* code = RecordCode(t, &r[0]);
    if (!code || ExprEvalByTypeInt(r[0].value_type, code, r[0].size, &count) != 0) return -1;
  }
  lp->body_line = t->next_line;
  lp->block_depth = static_cast<u8>(t->block_depth);
  lp->end_line = r[1].size;
  lp->counter = 1;
  lp->limit = count;
  t->loop_depth = static_cast<i8>(ld + 1);
  if (count == 0) {
    lp->counter = lp->limit = 0;
    t->next_line = lp->end_line;  // its end command closes the loop
  }
  return 0;
}

i32 CmdLoopEnd() {
  TaskContext* t = g_CurrentTask;
  if (!t) return -1;
  LoopRecord* lp = t->loop_depth >= 1 ? t->loops[t->loop_depth - 1] : nullptr;
  if (!lp) {
    ErrRaiseAtScript(ERR_TASK_LOOP_END, 1);
    return -1;
  }
  if (lp->limit == -1 || lp->counter < lp->limit) {
    lp->counter++;
    t->next_line = lp->body_line;
    t->block_depth = static_cast<i8>(lp->block_depth);
    return 0;
  }
  lp->counter = lp->limit = 0;
  lp->body_line = 0;
  t->loop_depth--;
  return 0;
}

static i32 LoopLeave(u8 slot, bool again) {
  TaskContext* t = g_CurrentTask;
  if (!t) return -1;
  i32 nd = LevelTarget(slot, t->loop_depth);
  if (nd <= 0) return nd;
  LoopRecord* lp = t->loops[nd - 1];
  if (!lp) return NestingError();
  if (!again) lp->counter = lp->limit = 0;  // its end command then closes it
  t->next_line = lp->end_line;
  t->block_depth = static_cast<i8>(lp->block_depth);
  t->loop_depth = static_cast<i8>(nd);
  return 0;
}

i32 CmdLoopBreak() { return LoopLeave(57, false); }
i32 CmdLoopContinue() { return LoopLeave(58, true); }
