// Script bodies (see script.h): a body is read once, checked against its header, unscrambled,
// bound to the command table line by line, its constant labels pre-resolved, and cached under its
// file number for the run. The argument records and line numbers are copied into aligned arrays,
// so a header whose area sizes are not multiples of four never leads to misaligned reads.
#include <cstdlib>
#include <cstring>

#include "common/sjis.h"
#include "core/err.h"
#include "core/hooks.h"
#include "core/state.h"
#include "script/cmd.h"
#include "script/expr.h"
#include "script/line_plan.h"
#include "script/script.h"
#include "script/script_read.h"

void ScriptFreeRecord(ScriptFileRecord* rec) {
  if (!rec) return;
  std::free(rec->handlers[0]);
  std::free(rec->handlers[1]);
  std::free(rec->opcodes);
  std::free(rec->line_flags);
  std::free(rec->arg_counts);
  std::free(rec->arg_records);
  std::free(rec->args);
  std::free(rec->line_numbers);
  std::free(rec->plans);
  std::free(rec->image);
  std::free(rec);
}

// Label pre-resolution: the label name of a jump or call whose expression reads no variable is
// looked up once here. Returns the label index, or -1 (not constant, not found, or outside the
// expression area).
static i32 ConstantLabel(const ScriptFileRecord* rec, const ArgRecord* r) {
  static char name[EXPR_STR_BUF];
  if (static_cast<u64>(r->offset) + r->size > rec->expr_size) return -1;
  i32 len = ExprEvalStr(rec->expr_area + r->offset, r->size, name);
  if (g_Expr.failed || g_Expr.not_constant) return -1;
  return ScriptFindLabel(name, static_cast<u32>(len));
}

// The wait before each line while the inactive pause lasts; the frame loop answers it.
static i32 LinePumpWait() { return HookCall(g_HookPumpWait); }

static void PreResolveLabels(ScriptFileRecord* rec) {
  ExprInitOpTable(0);
  for (u32 line = 0; line < rec->line_count; line++) {
    u8 op = rec->opcodes[line];
    ArgRecord* first = rec->arg_records[line];
    u8 count = rec->arg_counts[line];
    if (op == CMD_LABEL_JUMP && count > 0) {
      i32 index = ConstantLabel(rec, first);
      if (index >= 0 && static_cast<u32>(index) < SCRIPT_JUMP_RESOLVED)
        first->size = SCRIPT_JUMP_RESOLVED + static_cast<u32>(index);
    } else if (op == CMD_LABEL_CALL) {
      for (u8 k = 0; k < count; k++) {
        ArgRecord* r = &first[k];
        if (r->param != 0) continue;
        ArgSetCallLabel(r, 0);
        i32 index = ConstantLabel(rec, r);
        // An index that does not fit the 16-bit field is resolved by name when the call runs.
        if (index > 0 && index <= SCRIPT_CALL_LABEL_MAX) ArgSetCallLabel(r, static_cast<u16>(index));
      }
    }
  }
  ExprInitOpTable(1);
}

i32 ScriptBindFile(u32 n, u8* image, u32 size) {
  char name[SCRIPT_NAME_MAX];
  ScriptBodyName(name, n);
  if (!g_ScriptFiles || n >= g_ScriptFileCount) {
    std::free(image);
    ErrRaiseF(ERR_SCRIPT_FILE_NUMBER, 1, n);
    return 0;
  }
  if (g_ScriptFiles[n]) {
    std::free(image);
    return 1;
  }
  ScriptReader r{image, size, BODY_LINES_AT, true};
  u32 lines = r.U32();
  u64 c = r.U32(), a = r.U32(), e = r.U32(), nl = r.U32();
  u64 lines4 = static_cast<u64>(lines) * BODY_CMD_BYTES;
  if (!r.ok || size < BODY_HEADER_SIZE || BODY_HEADER_SIZE + c + a + e + nl > size || c < lines4 || nl < lines4) {
    ScriptBadFile(name, image);
    return 0;
  }
  u8* cmd = image + BODY_HEADER_SIZE;
  u8* arg = cmd + c;
  u8* expr = arg + a;
  u8* lineno = expr + e;
  const u8* key = ScriptKey();
  ScriptScramble(cmd, c, key);
  ScriptScramble(arg, a, key);
  ScriptScramble(expr, e, key);
  ScriptScramble(lineno, nl, key);

  u64 total = 0;
  for (u32 i = 0; i < lines; i++) total += cmd[i * BODY_CMD_BYTES + 1];
  if (total * ARG_RECORD_SIZE > a) {
    ScriptBadFile(name, image);
    return 0;
  }

  ScriptFileRecord* rec = static_cast<ScriptFileRecord*>(MemAllocZeroed(sizeof(ScriptFileRecord)));
  size_t per_line = lines ? lines : 1;
  if (rec) {
    rec->image = image;
    rec->handlers[0] = static_cast<TaskLineHandler*>(std::malloc(per_line * sizeof(TaskLineHandler)));
    rec->handlers[1] = static_cast<TaskLineHandler*>(std::malloc(per_line * sizeof(TaskLineHandler)));
    rec->opcodes = static_cast<u8*>(std::malloc(per_line));
    rec->line_flags = static_cast<u8*>(std::malloc(per_line));
    rec->arg_counts = static_cast<u8*>(std::malloc(per_line));
    rec->arg_records = static_cast<ArgRecord**>(std::malloc(per_line * sizeof(ArgRecord*)));
    rec->args = static_cast<ArgRecord*>(std::malloc((total ? total : 1) * sizeof(ArgRecord)));
    rec->line_numbers = static_cast<u32*>(std::malloc(per_line * sizeof(u32)));
    rec->plans = static_cast<LinePlan*>(std::malloc(per_line * sizeof(LinePlan)));
  }
  if (!rec || !rec->handlers[0] || !rec->handlers[1] || !rec->opcodes || !rec->line_flags || !rec->arg_counts ||
      !rec->arg_records || !rec->args || !rec->line_numbers || !rec->plans) {
    if (rec) ScriptFreeRecord(rec);
    else std::free(image);
    ErrRaiseF(ERR_OUT_OF_MEMORY, 1);
    return 0;
  }
  rec->line_count = lines;
  rec->arg_total = static_cast<u32>(total);
  rec->expr_area = expr;
  rec->expr_size = static_cast<u32>(e);
  for (u64 k = 0; k < total; k++) {
    const u8* p = arg + k * ARG_RECORD_SIZE;
    ArgRecord& ar = rec->args[k];
    ar.param = p[0];
    ar.unused = p[1];
    ar.value_type = p[2];
    ar.op = p[3];
    ar.size = static_cast<u32>(p[4] | p[5] << 8 | p[6] << 16 | static_cast<u32>(p[7]) << 24);
    ar.offset = static_cast<u32>(p[8] | p[9] << 8 | p[10] << 16 | static_cast<u32>(p[11]) << 24);
  }
  u64 first = 0;
  for (u32 i = 0; i < lines; i++) {
    const u8* c4 = cmd + static_cast<u64>(i) * BODY_CMD_BYTES;
    rec->opcodes[i] = c4[0];
    rec->arg_counts[i] = c4[1];
    rec->line_flags[i] = c4[2];
    rec->arg_records[i] = rec->args + first;
    first += c4[1];
    rec->handlers[0][i] = LinePumpWait;
    rec->handlers[1][i] = CmdHandlerFor(c4[0]);
    const u8* l4 = lineno + static_cast<u64>(i) * 4;
    rec->line_numbers[i] = static_cast<u32>(l4[0] | l4[1] << 8 | l4[2] << 16 | static_cast<u32>(l4[3]) << 24);
  }
  ScriptPlanLines(rec, rec->plans);
  g_ScriptFiles[n] = rec;

  PreResolveLabels(rec);
  VarDeclareFile(static_cast<i32>(n));
  return 1;
}

i32 ScriptLoadFile(u32 n) {
  if (!g_ScriptFiles || n >= g_ScriptFileCount) {
    ErrRaiseF(ERR_SCRIPT_FILE_NUMBER, 1, n);
    return 0;
  }
  if (g_ScriptFiles[n]) return 1;
  char name[SCRIPT_NAME_MAX];
  ScriptBodyName(name, n);
  u8* image = nullptr;
  u32 size = 0;
  if (ScriptFetchFile(name, false, &image, &size) != 0) return 0;
  return ScriptBindFile(n, image, size);
}

void ScriptBindTask(TaskContext* ctx, u16 file) {
  const ScriptFileRecord* rec = g_ScriptFiles && file < g_ScriptFileCount ? g_ScriptFiles[file] : nullptr;
  if (!ctx || !rec) return;
  ctx->file_no = file;
  ctx->handlers[0] = rec->handlers[0];
  ctx->handlers[1] = rec->handlers[1];
  ctx->line_flags = rec->line_flags;
  ctx->arg_counts = rec->arg_counts;
  ctx->arg_records = rec->arg_records;
  ctx->expr_area = rec->expr_area;
  ctx->expr_size = rec->expr_size;
  ctx->line_numbers = rec->line_numbers;
  ctx->plans = rec->plans;
  ctx->line_count = rec->line_count;
}

i32 ScriptCurrentOpcode() {
  const TaskContext* t = g_CurrentTask;
  if (!t || !g_ScriptFiles || t->file_no >= g_ScriptFileCount) return -1;
  const ScriptFileRecord* rec = g_ScriptFiles[t->file_no];
  if (!rec || g_CurrentLine >= rec->line_count) return -1;
  return rec->opcodes[g_CurrentLine];
}

bool ScriptErrorPosition(const char** file, i32* line) {
  const TaskContext* t = g_CurrentTask;
  if (!t) return false;
  const char* name = g_ScriptFileNames && t->file_no < g_ScriptFileCount ? g_ScriptFileNames[t->file_no] : nullptr;
  *file = name ? name : "";
  *line = t->line_numbers && g_CurrentLine < t->line_count ? static_cast<i32>(t->line_numbers[g_CurrentLine]) : 0;
  return true;
}
