// Fuzz target for compiled scripts: script bodies (header checks, unscrambling, binding, label
// pre-resolution and the decoding of every line's arguments), the expression evaluator in its
// four modes, and the table loaders. The first input byte picks which (script_fuzz.h).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/err.h"
#include "core/sys.h"
#include "platform/platform.h"
#include "script/arg.h"
#include "script/expr.h"
#include "script/script.h"
#include "script/task.h"
#include "script/var.h"
#include "script_fuzz.h"

namespace {

enum { VARS = 1100 };

u8* Copy(const uint8_t* data, size_t size) {
  u8* p = static_cast<u8*>(std::malloc(size ? size : 1));
  if (size) std::memcpy(p, data, size);
  return p;
}

void PutU32(std::vector<u8>& o, u32 v) {
  for (int k = 0; k < 4; k++) o.push_back(static_cast<u8>(v >> (8 * k)));
}

// Command definitions with parameters of every kind, built here (the target links only the
// engine).
std::vector<u8> CommandDefs() {
  std::vector<u8> o = {'Z', 'P', 'C', 0};
  PutU32(o, 0);
  PutU32(o, CMD_SLOT_COUNT);
  PutU32(o, 0);
  for (u32 s = 0; s < CMD_SLOT_COUNT; s++) {
    o.insert(o.end(), {'c', 0, 8});
    for (u8 p = 0; p < 8; p++) o.insert(o.end(), {'a', 0, static_cast<u8>(p % 3), static_cast<u8>((s + p) % 29)});
  }
  for (int t = 0; t < CMDDEF_CRT_TEXTS; t++) o.insert(o.end(), {'e', 0});
  o.insert(o.end(), CMDDEF_KEYMAP_SIZE, 1);
  return o;
}

std::vector<u8> FileList() {
  std::vector<u8> o = {'Z', 'P', 'L', 0};
  PutU32(o, 0);
  PutU32(o, 2);
  for (u32 n = 0; n < 2; n++) {
    PutU32(o, n);
    PutU32(o, 1);
    o.push_back('f');
    o.insert(o.end(), 16, 0);
    PutU32(o, 0);
  }
  return o;
}

std::vector<u8> Labels() {
  std::vector<u8> o = {'Z', 'P', 'L', 'B'};
  PutU32(o, 0);
  PutU32(o, 0);
  for (int b = 0; b < LABEL_BUCKETS; b++) PutU32(o, 0);
  return o;
}

// The tables every body and label input is bound against: their images are made once, only
// parsed again per input.
void Tables() {
  ScriptReset();
  static const std::vector<u8> defs = CommandDefs(), list = FileList(), labels = Labels();
  ScriptParseCommandDefs(Copy(defs.data(), defs.size()), static_cast<u32>(defs.size()));
  ScriptParseFileList(Copy(list.data(), list.size()), static_cast<u32>(list.size()));
  ScriptParseLabels(Copy(labels.data(), labels.size()), static_cast<u32>(labels.size()));
}

bool Init() {
  PlatDialogsSetStderr(true);
  VarTableCreate(VARS);
  VarInitAssignOps();
  ExprInitOpTable(1);
  // A few variables of every type and shape for the byte code to read.
  const i8 types[] = {VAR_TYPE_INT, VAR_TYPE_FLOAT, VAR_TYPE_STR};
  for (u32 k = 0; k < 9; k++) {
    VarRecord* v = VarRecordOf(1000 + k);
    v->dim_count = static_cast<i8>(k / 3);
    for (int d = 0; d < v->dim_count; d++) v->dims[d] = 3;
    if (types[k % 3] == VAR_TYPE_INT) VarTypeInt(1000 + k, 7);
    else if (types[k % 3] == VAR_TYPE_FLOAT) VarTypeFloat(1000 + k, 2.5);
    else VarTypeString(1000 + k, "text", 4);
  }
  return true;
}

// Declaring is exercised only for definitions of modest sizes: a thousand four-million-element
// arrays are legal and would only measure the machine's memory.
bool SmallDefinitions() {
  for (u32 i = 0; i < g_VarDefCount; i++) {
    VarDefView d;
    if (!ScriptVarDefGet(i, &d)) return false;
    u64 count = 1;
    for (i8 k = 0; k < d.dim_count; k++)
      count = count * (d.dims[k] ? d.dims[k] : 1) > 4096 ? 4097 : count * (d.dims[k] ? d.dims[k] : 1);
    if (count > 4096) return false;
  }
  return true;
}

void Body(const uint8_t* data, size_t size) {
  Tables();
  if (ScriptBindFile(0, Copy(data, size), static_cast<u32>(size)) != 1) return;
  TaskContext* t = static_cast<TaskContext*>(std::calloc(1, sizeof(TaskContext)));
  ScriptBindTask(t, 0);
  g_CurrentTask = t;
  const ScriptFileRecord* rec = g_ScriptFiles[0];
  for (u32 line = 0; line < rec->line_count && line < 256; line++) {
    g_CurrentLine = line;
    ArgDecode(rec->opcodes[line] < CMD_SLOT_COUNT ? rec->opcodes[line] : 0);
  }
  g_CurrentTask = nullptr;
  std::free(t);
}

void Expr(u8 mode, const uint8_t* data, size_t size) {
  char buf[EXPR_STR_BUF];
  u32 n = static_cast<u32>(size);
  switch (mode) {
    case SCRIPT_FUZZ_EXPR_INT: ExprEvalInt(data, n); break;
    case SCRIPT_FUZZ_EXPR_FLOAT: ExprEvalFloat(data, n); break;
    case SCRIPT_FUZZ_EXPR_STR: ExprEvalStr(data, n, buf); break;
    default: ExprEvalStr4(data, n, buf); break;
  }
  // The same code as sizes of a declaration.
  g_ExprDeclareMode = 1;
  ExprEvalInt(data, n);
  g_ExprDeclareMode = 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = Init();
  (void)ready;
  if (size < 1 || size > (1u << 22)) return 0;
  u8 mode = data[0] % SCRIPT_FUZZ_MODES;
  data++;
  size--;
  u32 n = static_cast<u32>(size);
  switch (mode) {
    case SCRIPT_FUZZ_BODY: Body(data, size); break;
    case SCRIPT_FUZZ_ERRTEXTS: ScriptParseErrorTable(Copy(data, size), n); break;
    case SCRIPT_FUZZ_CMDDEFS: ScriptParseCommandDefs(Copy(data, size), n); break;
    case SCRIPT_FUZZ_FILELIST: ScriptParseFileList(Copy(data, size), n); break;
    case SCRIPT_FUZZ_VARDEFS:
      if (ScriptParseVarDefs(Copy(data, size), n) == 0 && SmallDefinitions()) VarDeclareFile(-1);
      break;
    case SCRIPT_FUZZ_LABELS:
      Tables();
      if (ScriptParseLabels(Copy(data, size), n) == 0) {
        ScriptFindLabel("SYSTEM_START", 12);
        ScriptFindLabel("", 0);
      }
      break;
    default: Expr(mode, data, size); break;
  }
  g_QuitRequested = 0;
  return 0;
}
