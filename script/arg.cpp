// Argument decoding (see arg.h). Each record's expression is checked to lie inside the running
// file's expression area before it is evaluated, and a value type without an entry function
// fails the decode instead of calling through a null entry.
#include "script/arg.h"

#include <cstdlib>
#include <cstring>

#include "core/err.h"
#include "core/state.h"
#include "script/expr.h"
#include "script/script.h"
#include "script/task.h"

u8 g_ArgSlotByParam[ARG_PARAM_IDS];
u8 g_ArgCount = 0;
u32 g_ArgParam[ARG_POSITIONS];
u32 g_ArgValueType[ARG_POSITIONS];
u32 g_ArgOp[ARG_POSITIONS];
u32 g_ArgSize[ARG_POSITIONS];
u32 g_ArgOffset[ARG_POSITIONS];
i64 g_ArgInt[ARG_POSITIONS];
char* g_ArgStr[ARG_POSITIONS];
u32 g_ArgVarId[ARG_POSITIONS];
i64 g_ArgVarElem[ARG_POSITIONS];
u8 g_ArgWhole[ARG_POSITIONS];
u8 g_ArgVarNamed[ARG_POSITIONS];
const u8* g_ArgRaw[ARG_POSITIONS];

static u8 s_DecodedAsString[ARG_POSITIONS];

void ArgReset() {
  for (char*& s : g_ArgStr) {
    std::free(s);
    s = nullptr;
  }
  std::memset(g_ArgSlotByParam, 0, sizeof g_ArgSlotByParam);
  std::memset(s_DecodedAsString, 0, sizeof s_DecodedAsString);
  g_ArgCount = 0;
}

const char* ArgCommandName(u8 slot) { return slot < CMD_SLOT_COUNT && g_CmdNames[slot] ? g_CmdNames[slot] : ""; }

const char* ArgName(u8 slot, u8 param) {
  if (slot >= CMD_SLOT_COUNT || param >= g_CmdArgCounts[slot] || !g_CmdArgNames[slot]) return "";
  const char* name = g_CmdArgNames[slot][param];
  return name ? name : "";
}

const char* ArgStr(u8 param) {
  u8 p = ArgPos(param);
  return p && s_DecodedAsString[p] && g_ArgStr[p] ? g_ArgStr[p] : "";
}

// ---- Range classes ---------------------------------------------------------------------------

enum RangeRule : u8 { RANGE_NONE, RANGE_MIN, RANGE_LOW32, RANGE_COLOUR_OR_NONE, RANGE_COLOUR, RANGE_0_TO_3 };

struct RangeClass {
  RangeRule rule;
  i64 min, max;  // max -1 (classes 26, 27): the main window's game width or height less 1
};

static const RangeClass kRangeClasses[ARG_CLASS_MAX + 1] = {
    {RANGE_NONE, 0, 0},                   // 0
    {RANGE_MIN, 0, 0},                    // 1
    {RANGE_MIN, 1, 0},                    // 2
    {RANGE_LOW32, 0, 1},                  // 3
    {RANGE_LOW32, 0, 2},                  // 4
    {RANGE_LOW32, 0, 3},                  // 5
    {RANGE_LOW32, 1, 3},                  // 6
    {RANGE_LOW32, 0, 4},                  // 7
    {RANGE_LOW32, 0, 8},                  // 8
    {RANGE_LOW32, 1, 8},                  // 9
    {RANGE_LOW32, 0, 15},                 // 10
    {RANGE_LOW32, 0, 18},                 // 11
    {RANGE_LOW32, 0, 256},                // 12
    {RANGE_LOW32, 1, 256},                // 13
    {RANGE_LOW32, 0, 512},                // 14
    {RANGE_LOW32, 0, 1024},               // 15
    {RANGE_LOW32, 1, 1024},               // 16
    {RANGE_LOW32, 128, 1024},             // 17
    {RANGE_LOW32, 0, 2048},               // 18
    {RANGE_LOW32, 1, 2048},               // 19
    {RANGE_LOW32, 0, 8192},               // 20
    {RANGE_LOW32, 1, 8192},               // 21
    {RANGE_LOW32, 16, 8192},              // 22
    {RANGE_LOW32, 128, 8192},             // 23
    {RANGE_COLOUR_OR_NONE, 0, 0xFFFFFF},  // 24
    {RANGE_COLOUR, 0, 0xFFFFFF},          // 25
    {RANGE_LOW32, 0, -1},                 // 26: the game width
    {RANGE_LOW32, 0, -2},                 // 27: the game height
    {RANGE_0_TO_3, 0, 3},                 // 28
};

static i64 MainScreenSide(bool height) {
  const WindowObject* w = g_WindowObjects[0];
  if (!w) return 0;
  return height ? w->height : w->width;
}

i32 ArgCheckRange(u8 slot, u8 param, u8 cls, i64 value) {
  if (cls > ARG_CLASS_MAX) return 0;  // the loader refuses such classes
  const RangeClass& rc = kRangeClasses[cls];
  const char* cmd = ArgCommandName(slot);
  const char* arg = ArgName(slot, param);
  u32 low = static_cast<u32>(value);
  switch (rc.rule) {
    case RANGE_NONE: return 0;
    case RANGE_MIN:
      if (value >= rc.min) return 0;
      ErrRaiseAtScriptF(ERR_ARG_MINIMUM, 1, cmd, arg, value, rc.min);
      return -1;
    case RANGE_LOW32: {
      i64 max = rc.max >= 0 ? rc.max : MainScreenSide(rc.max == -2) - 1;
      // (low - min) as unsigned at most max - min: negative values fail as large ones.
      if (max >= rc.min && static_cast<u32>(low - static_cast<u32>(rc.min)) <= static_cast<u64>(max - rc.min)) return 0;
      ErrRaiseAtScriptF(ERR_ARG_RANGE, 1, cmd, arg, value, rc.min, max);
      return -1;
    }
    case RANGE_COLOUR_OR_NONE:
      if (low == 0xFFFFFFFFu || low <= 0xFFFFFFu) return 0;
      ErrRaiseAtScriptF(ERR_ARG_COLOUR_OR_NONE, 1, cmd, arg, value);
      return -1;
    case RANGE_COLOUR:
      if (low <= 0xFFFFFFu) return 0;
      ErrRaiseAtScriptF(ERR_ARG_COLOUR, 1, cmd, arg, value);
      return -1;
    case RANGE_0_TO_3:
      if (value < 0) {
        ErrRaiseAtScriptF(ERR_ARG_NEGATIVE, 1, cmd, arg, value);
        return -1;
      }
      if (value > 3) {
        ErrRaiseAtScriptF(ERR_ARG_ABOVE, 1, cmd, arg, value, static_cast<i64>(3));
        return -1;
      }
      return 0;
  }
  return 0;
}

// ---- Decoding --------------------------------------------------------------------------------

static void CopyRef(u32 p) {
  g_ArgVarId[p] = g_Expr.ref.var_id;
  g_ArgVarElem[p] = g_Expr.ref.element;
  g_ArgWhole[p] = g_Expr.ref.whole;
  g_ArgVarNamed[p] = g_Expr.ref.named;
}

i32 ArgDecode(u8 slot) {
  std::memset(g_ArgSlotByParam, 0, sizeof g_ArgSlotByParam);
  g_ArgCount = 0;
  const TaskContext* t = g_CurrentTask;
  if (!t || !t->arg_counts || !t->arg_records || g_CurrentLine >= t->line_count) return 0;
  u8 count = t->arg_counts[g_CurrentLine];
  const ArgRecord* records = t->arg_records[g_CurrentLine];
  g_ArgCount = count;
  for (u32 p = 1; p <= count; p++) {
    const ArgRecord* r = &records[p - 1];
    g_ArgParam[p] = r->param;
    g_ArgValueType[p] = r->value_type;
    g_ArgOp[p] = r->op;
    g_ArgSize[p] = r->size;
    g_ArgOffset[p] = r->offset;
    g_ArgInt[p] = 0;
    g_ArgVarId[p] = 0;
    g_ArgVarElem[p] = 0;
    g_ArgWhole[p] = 0;
    g_ArgVarNamed[p] = 0;
    g_ArgRaw[p] = nullptr;
    s_DecodedAsString[p] = 0;
    g_ArgSlotByParam[r->param] = static_cast<u8>(p);

    u8 kind = ARG_KIND_NUMBER, cls = 0;
    if (slot < CMD_SLOT_COUNT && r->param < g_CmdArgCounts[slot]) {
      kind = g_CmdArgKinds[slot][r->param];
      cls = g_CmdArgClasses[slot][r->param];
    }
    if (static_cast<u64>(r->offset) + r->size > t->expr_size || !t->expr_area) return ExprFailCode();
    const u8* code = t->expr_area + r->offset;
    switch (kind) {
      case ARG_KIND_NUMBER:
        if (ExprEvalByTypeInt(r->value_type, code, r->size, &g_ArgInt[p]) != 0) return -1;
        CopyRef(p);
        break;
      case ARG_KIND_STRING: {
        if (!g_ArgStr[p]) {
          g_ArgStr[p] = static_cast<char*>(std::malloc(ARG_STR_BUF));
          if (!g_ArgStr[p]) {
            ErrRaiseAtScript(ERR_OUT_OF_MEMORY, 1);
            return -1;
          }
        }
        i32 len = 0;
        if (ExprEvalByTypeStr(r->value_type, code, r->size, g_ArgStr[p], &len) != 0) return -1;
        s_DecodedAsString[p] = 1;
        CopyRef(p);
        break;
      }
      default: g_ArgRaw[p] = code; break;
    }
    if (ArgCheckRange(slot, r->param, cls, g_ArgInt[p]) != 0) return -1;
  }
  return 0;
}

i32 CmdArgsEval() { return ArgDecode(0) != 0 ? -1 : 0; }
