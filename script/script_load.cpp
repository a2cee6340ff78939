// Start-up loaders of the compiled-script tables (see script.h): error texts, command
// definitions, variable slots, the script-file list, variable definitions and labels, then the
// thread "SYSTEM" pointed at "SYSTEM_START". Each file is parsed completely into new tables
// before the old ones are replaced, so a damaged file leaves nothing half built.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/hash.h"
#include "common/sjis.h"
#include "core/err.h"
#include "core/obj.h"
#include "core/pack.h"
#include "core/usererr.h"
#include "script/cmd.h"
#include "script/expr.h"
#include "script/script.h"
#include "script/script_read.h"
#include "script/var.h"

const char kScriptErrTextFile[] = "chbin\\zpe.zbn";
const char kScriptCmdDefFile[] = "chbin\\zpc.zbn";
const char kScriptVarSlotFile[] = "chbin\\zpt.zbn";
const char kScriptFileListFile[] = "chbin\\zpt_list.zbn";
const char kScriptVarDefFile[] = "chbin\\zpv.zbn";
const char kScriptLabelFile[] = "chbin\\zpl.zbn";
const char kScriptBodyFormat[] = "chbin\\zpt%05d.zbn";
static const char kStartLabel[] = "SYSTEM_START";

const char* g_CmdNames[CMD_SLOT_COUNT];
const char** g_CmdArgNames[CMD_SLOT_COUNT];
u8* g_CmdArgKinds[CMD_SLOT_COUNT];
u8* g_CmdArgClasses[CMD_SLOT_COUNT];
u8 g_CmdArgCounts[CMD_SLOT_COUNT];
const char* g_CrtErrorTexts[CMDDEF_CRT_TEXTS];
u8 g_KeyMap[CMDDEF_KEYMAP_SIZE];
u32 g_VarSlotValue = 0;

u32 g_ScriptFileCount = 0;
char** g_ScriptFileNames = nullptr;
u32* g_ScriptFileValues = nullptr;
ScriptFileRecord** g_ScriptFiles = nullptr;

u32 g_LabelCount = 0;
LabelRecord** g_Labels = nullptr;
u32 g_LabelBuckets[LABEL_BUCKETS];

u32 g_VarDefCount = 0;

// Kept file images that tables point into.
static u8* s_ErrTextImage = nullptr;
static u8* s_CmdDefImage = nullptr;
static u8* s_VarDefImage = nullptr;
static u32 s_VarDefSize = 0;
static u32* s_VarDefOffsets = nullptr;

void ScriptBodyName(char* buf, u32 n) { std::snprintf(buf, SCRIPT_NAME_MAX, kScriptBodyFormat, n); }

void ScriptScramble(u8* area, size_t size, const u8 key[SCRIPT_KEY_SIZE]) {
  for (size_t i = 0; i < size; i++) area[i] ^= key[i % SCRIPT_KEY_SIZE];
}

const u8* ScriptKey() { return g_ScrambleKey; }

i32 ScriptBadFile(const char* name, u8* image) {
  std::free(image);
  ErrRaiseF(ERR_SCRIPT_FORMAT, 1, name);
  return -1;
}

i32 ScriptFetchFile(const char* name, bool quiet, u8** data, u32* size) {
  *data = nullptr;
  *size = 0;
  PackLookup lookup{};
  i32 found = PackFindAnySource(&lookup, name, 0);
  if (found <= 0) {
    // Not found anywhere, or a pack that would not open during the lookup.
    if (!quiet) ErrRaiseF(found == 0 ? ERR_FILE_MISSING : ERR_PACK_OPEN, 1, name);
    return -1;
  }
  // A reader reports its own failure.
  if (PackReadBySource(&lookup, name) != 0) {
    std::free(lookup.data);
    return -1;
  }
  *data = lookup.data;
  *size = lookup.size;
  return 0;
}

// ---- Error texts -----------------------------------------------------------------------------

i32 ScriptParseErrorTable(u8* image, u32 size) {
  ScriptReader r{image, size, SCRIPT_HEADER_COUNT_AT, true};
  u32 count = r.U32();
  r.pos = ERRTEXT_ENTRIES_AT;
  // More entries than the table holds are left out; only the first 256 are read.
  if (count > USER_ERR_MAX) count = USER_ERR_MAX;
  u32 codes[USER_ERR_MAX];
  const char* texts[USER_ERR_MAX];
  for (u32 i = 0; i < count && r.ok; i++) {
    codes[i] = r.U32();
    texts[i] = r.Text();
  }
  if (!r.ok) return ScriptBadFile(kScriptErrTextFile, image);
  UserErrReset();
  std::free(s_ErrTextImage);
  s_ErrTextImage = image;
  for (u32 i = 0; i < count; i++) {
    g_UserErrCodes[i] = codes[i];
    g_UserErrTexts[i] = texts[i];
  }
  g_UserErrCount = static_cast<i32>(count);
  return 0;
}

i32 ScriptLoadErrorTable() {
  u8* image = nullptr;
  u32 size = 0;
  if (ScriptFetchFile(kScriptErrTextFile, false, &image, &size) != 0) return -1;
  return ScriptParseErrorTable(image, size);
}

// ---- Command definitions ---------------------------------------------------------------------

static void FreeCommandDefs() {
  for (u32 s = 0; s < CMD_SLOT_COUNT; s++) {
    std::free(g_CmdArgNames[s]);
    std::free(g_CmdArgKinds[s]);
    std::free(g_CmdArgClasses[s]);
    g_CmdNames[s] = nullptr;
    g_CmdArgNames[s] = nullptr;
    g_CmdArgKinds[s] = nullptr;
    g_CmdArgClasses[s] = nullptr;
    g_CmdArgCounts[s] = 0;
  }
  for (const char*& t : g_CrtErrorTexts) t = nullptr;
  std::free(s_CmdDefImage);
  s_CmdDefImage = nullptr;
}

i32 ScriptParseCommandDefs(u8* image, u32 size) {
  ScriptReader r{image, size, SCRIPT_HEADER_COUNT_AT, true};
  u32 count = r.U32();
  r.pos = CMDDEF_ENTRIES_AT;
  // Each command takes at least two bytes: a count beyond the file is refused before the walk.
  if (static_cast<u64>(count) * 2 > size) return ScriptBadFile(kScriptCmdDefFile, image);

  // Parsed into new tables first; the old ones go only when the whole file checked out.
  struct Def {
    const char* name;
    const char** arg_names;
    u8* kinds;
    u8* classes;
    u8 n;
  };
  Def defs[CMD_SLOT_COUNT] = {};
  auto drop = [&]() {
    for (Def& d : defs) {
      std::free(d.arg_names);
      std::free(d.kinds);
      std::free(d.classes);
    }
    std::memset(defs, 0, sizeof defs);
  };
  bool out_of_memory = false;
  for (u32 slot = 0; slot < count && r.ok; slot++) {
    const char* name = r.Text();
    u8 n = r.U8();
    Def d{name, nullptr, nullptr, nullptr, n};
    bool keep = slot < CMD_SLOT_COUNT;  // opcodes above 118 never run a handler of their own
    if (keep && n) {
      d.arg_names = static_cast<const char**>(MemAllocZeroed(n * sizeof(const char*)));
      d.kinds = static_cast<u8*>(MemAllocZeroed(n));
      d.classes = static_cast<u8*>(MemAllocZeroed(n));
      if (!d.arg_names || !d.kinds || !d.classes) out_of_memory = true;
    }
    if (keep) defs[slot] = d;
    for (u32 a = 0; a < n && r.ok && !out_of_memory; a++) {
      const char* arg = r.Text();
      u8 kind = r.U8();
      u8 cls = r.U8();
      if (kind > ARG_KIND_RAW || cls > ARG_CLASS_MAX) r.ok = false;
      if (keep && r.ok) {
        d.arg_names[a] = arg;
        d.kinds[a] = kind;
        d.classes[a] = cls;
      }
    }
    if (out_of_memory) break;
  }
  const char* crt[CMDDEF_CRT_TEXTS];
  for (u32 i = 0; i < CMDDEF_CRT_TEXTS && r.ok; i++) crt[i] = r.Text();
  const u8* keymap = r.Bytes(CMDDEF_KEYMAP_SIZE);
  if (out_of_memory) {
    drop();
    std::free(image);
    ErrRaise(ERR_OUT_OF_MEMORY, 1);
    return -1;
  }
  if (!r.ok || !keymap) {
    drop();
    return ScriptBadFile(kScriptCmdDefFile, image);
  }

  FreeCommandDefs();
  s_CmdDefImage = image;
  for (u32 s = 0; s < CMD_SLOT_COUNT; s++) {
    g_CmdNames[s] = defs[s].name;
    g_CmdArgNames[s] = defs[s].arg_names;
    g_CmdArgKinds[s] = defs[s].kinds;
    g_CmdArgClasses[s] = defs[s].classes;
    g_CmdArgCounts[s] = defs[s].arg_names ? defs[s].n : 0;
  }
  std::memset(defs, 0, sizeof defs);
  for (u32 i = 0; i < CMDDEF_CRT_TEXTS; i++) g_CrtErrorTexts[i] = crt[i];
  std::memcpy(g_KeyMap, keymap, CMDDEF_KEYMAP_SIZE);
  CmdInitTable();
  return 0;
}

i32 ScriptLoadCommandDefs() {
  u8* image = nullptr;
  u32 size = 0;
  if (ScriptFetchFile(kScriptCmdDefFile, false, &image, &size) != 0) return -1;
  return ScriptParseCommandDefs(image, size);
}

// ---- Variable slots --------------------------------------------------------------------------

i32 ScriptParseVarSlots(u8* image, u32 size) {
  ScriptReader r{image, size, VARSLOT_VERSION_AT, true};
  u32 version = r.U32();
  u32 count = r.U32();
  u32 value = r.U32();
  if (!r.ok) return ScriptBadFile(kScriptVarSlotFile, image);
  std::free(image);
  if (version != VARSLOT_VERSION) {
    ErrRaiseF(ERR_SCRIPT_FORMAT, 1, kScriptVarSlotFile);
    return -1;
  }
  // The byte code names variables by 16-bit ids.
  if (count > VARSLOT_ID_MAX) {
    ErrRaiseF(ERR_SCRIPT_FORMAT, 1, kScriptVarSlotFile);
    return -1;
  }
  if (VarTableCreate(count + 1) != 0) return -1;
  g_VarSlotValue = value;
  return 0;
}

i32 ScriptLoadVarSlots() {
  u8* image = nullptr;
  u32 size = 0;
  if (ScriptFetchFile(kScriptVarSlotFile, false, &image, &size) != 0) return -1;
  return ScriptParseVarSlots(image, size);
}

// ---- Script-file list ------------------------------------------------------------------------

static void FreeFileTables() {
  if (g_ScriptFiles) {
    for (u32 n = 0; n < g_ScriptFileCount; n++) ScriptFreeRecord(g_ScriptFiles[n]);
  }
  if (g_ScriptFileNames) {
    for (u32 n = 0; n < g_ScriptFileCount; n++) std::free(g_ScriptFileNames[n]);
  }
  std::free(g_ScriptFiles);
  std::free(g_ScriptFileNames);
  std::free(g_ScriptFileValues);
  g_ScriptFiles = nullptr;
  g_ScriptFileNames = nullptr;
  g_ScriptFileValues = nullptr;
  g_ScriptFileCount = 0;
}

i32 ScriptAllocFileTable() {
  std::free(g_ScriptFiles);
  g_ScriptFiles = static_cast<ScriptFileRecord**>(MemAllocZeroed((g_ScriptFileCount + 1) * sizeof(ScriptFileRecord*)));
  if (!g_ScriptFiles) {
    ErrRaise(ERR_OUT_OF_MEMORY, 1);
    return -1;
  }
  return 0;
}

i32 ScriptParseFileList(u8* image, u32 size) {
  ScriptReader r{image, size, SCRIPT_HEADER_COUNT_AT, true};
  u32 count = r.U32();
  r.pos = FILELIST_RECORDS_AT;
  if (!r.ok || count > FILELIST_MAX_FILES || static_cast<u64>(count) * FILELIST_RECORD_FIXED > size)
    return ScriptBadFile(kScriptFileListFile, image);
  char** names = static_cast<char**>(MemAllocZeroed((count + 1) * sizeof(char*)));
  u32* values = static_cast<u32*>(MemAllocZeroed((count + 1) * sizeof(u32)));
  auto drop = [&]() {
    if (names)
      for (u32 n = 0; n < count; n++) std::free(names[n]);
    std::free(names);
    std::free(values);
    std::free(image);
  };
  if (!names || !values) {
    drop();
    ErrRaise(ERR_OUT_OF_MEMORY, 1);
    return -1;
  }
  for (u32 i = 0; i < count; i++) {
    u32 number = r.U32();
    u32 len = r.U32();
    const u8* text = r.Bytes(len);
    r.Bytes(16);
    u32 value = r.U32();
    if (!r.ok) {
      drop();
      ErrRaiseF(ERR_SCRIPT_FORMAT, 1, kScriptFileListFile);
      return -1;
    }
    if (number >= count) {
      drop();
      ErrRaiseF(ERR_SCRIPT_FILE_NUMBER, 1, number);
      return -1;
    }
    char* copy = static_cast<char*>(std::malloc(static_cast<size_t>(len) + 1));
    if (!copy) {
      drop();
      ErrRaise(ERR_OUT_OF_MEMORY, 1);
      return -1;
    }
    std::memcpy(copy, text, len);
    copy[len] = '\0';
    std::free(names[number]);  // a later record of the same number wins
    names[number] = copy;
    values[i] = value;
  }
  std::free(image);
  FreeFileTables();
  g_ScriptFileCount = count;
  g_ScriptFileNames = names;
  g_ScriptFileValues = values;
  return ScriptAllocFileTable();
}

i32 ScriptLoadFileList() {
  u8* image = nullptr;
  u32 size = 0;
  if (ScriptFetchFile(kScriptFileListFile, false, &image, &size) != 0) return -1;
  return ScriptParseFileList(image, size);
}

// ---- Variable definitions --------------------------------------------------------------------

// Reads definition at pos into out; false when it does not fit the file or is malformed.
static bool ReadVarDef(ScriptReader& r, VarDefView* out) {
  VarDefView d{};
  d.group = static_cast<i8>(r.U8());
  d.var_class = r.U8();
  d.file = r.U16();
  d.id = r.U16();
  d.type = r.U8();
  d.dim_count = static_cast<i8>(r.U8());
  if (!r.ok || d.dim_count < 0 || d.dim_count > VAR_DIM_MAX) return false;
  for (i8 k = 0; k < d.dim_count; k++) d.dims[k] = r.U32();
  switch (d.type) {
    case VAR_TYPE_INT: d.init_int = static_cast<i64>(r.U64()); break;
    case VAR_TYPE_FLOAT: {
      u64 bits = r.U64();
      std::memcpy(&d.init_float, &bits, sizeof d.init_float);
      break;
    }
    case VAR_TYPE_STR:
      d.init_size = r.U16();
      d.init_code = r.Bytes(d.init_size);
      break;
    default: return false;  // the initial value's size depends on the type
  }
  if (!r.ok) return false;
  *out = d;
  return true;
}

i32 ScriptParseVarDefs(u8* image, u32 size) {
  ScriptReader r{image, size, VARDEF_COUNT_AT, true};
  u32 count = r.U16();
  r.pos = VARDEF_ENTRIES_AT;
  u32* offsets = static_cast<u32*>(MemAllocZeroed((count + 1) * sizeof(u32)));
  if (!offsets) {
    std::free(image);
    ErrRaise(ERR_OUT_OF_MEMORY, 1);
    return -1;
  }
  VarDefView d;
  for (u32 i = 0; i < count && r.ok; i++) {
    offsets[i] = static_cast<u32>(r.pos);
    if (!ReadVarDef(r, &d)) r.ok = false;
  }
  if (!r.ok) {
    std::free(offsets);
    return ScriptBadFile(kScriptVarDefFile, image);
  }
  std::free(s_VarDefImage);
  std::free(s_VarDefOffsets);
  s_VarDefImage = image;
  s_VarDefSize = size;
  s_VarDefOffsets = offsets;
  g_VarDefCount = count;
  return 0;
}

i32 ScriptLoadVarDefs() {
  u8* image = nullptr;
  u32 size = 0;
  if (ScriptFetchFile(kScriptVarDefFile, false, &image, &size) != 0) return -1;
  return ScriptParseVarDefs(image, size);
}

bool ScriptVarDefGet(u32 i, VarDefView* out) {
  if (i >= g_VarDefCount || !s_VarDefImage) return false;
  ScriptReader r{s_VarDefImage, s_VarDefSize, s_VarDefOffsets[i], true};
  return ReadVarDef(r, out);
}

i32 VarDeclareFile(i32 n) {
  for (u32 i = 0; i < g_VarDefCount; i++) {
    VarDefView d;
    if (!ScriptVarDefGet(i, &d)) return -1;
    bool selected = n == -1 ? d.group == VARDEF_GROUP_GLOBAL || d.group == VARDEF_GROUP_GLOBAL2
                            : d.group == VARDEF_GROUP_FILE && d.file == n;
    if (!selected) continue;
    VarRecord* v = d.id < g_VarCount ? VarRecordOf(d.id) : nullptr;
    if (!v) {
      ErrRaiseF(ERR_VAR_DEF_ID, 1, static_cast<i32>(d.id));
      return -1;
    }
    v->var_class = d.var_class;
    v->type = static_cast<i8>(d.type);
    if (VarApplyDef(d) != 0) return -1;
  }
  return 0;
}

i32 VarApplyDef(const VarDefView& d) {
  static char text[VAR_STR_BUF];
  VarRecord* v = VarRecordOf(d.id);
  if (!v) return -1;
  v->dim_count = d.dim_count;
  std::memset(v->dims, 0, sizeof v->dims);
  for (i8 k = 0; k < d.dim_count && k < VAR_DIM_MAX; k++) v->dims[k] = d.dims[k];
  switch (d.type) {
    case VAR_TYPE_INT: return VarTypeInt(d.id, d.init_int);
    case VAR_TYPE_FLOAT: return VarTypeFloat(d.id, d.init_float);
    default: {
      i32 len = ExprEvalStr(d.init_code, d.init_size, text);
      return VarTypeString(d.id, text, static_cast<size_t>(len));
    }
  }
}

// ---- Labels ----------------------------------------------------------------------------------

static void FreeLabels() {
  if (g_Labels) {
    for (u32 i = 0; i < g_LabelCount; i++) {
      if (!g_Labels[i]) continue;
      std::free(g_Labels[i]->name);
      std::free(g_Labels[i]);
    }
  }
  std::free(g_Labels);
  g_Labels = nullptr;
  g_LabelCount = 0;
  std::memset(g_LabelBuckets, 0, sizeof g_LabelBuckets);
}

i32 ScriptParseLabels(u8* image, u32 size) {
  ScriptReader r{image, size, SCRIPT_HEADER_COUNT_AT, true};
  u32 count = r.U32();
  u32 buckets[LABEL_BUCKETS];
  r.pos = LABEL_BUCKETS_AT;
  for (u32& b : buckets) b = r.U32();
  if (!r.ok || static_cast<u64>(count) * LABEL_FIXED > size - static_cast<u64>(LABEL_ENTRIES_AT))
    return ScriptBadFile(kScriptLabelFile, image);
  LabelRecord** labels = static_cast<LabelRecord**>(MemAllocZeroed((count + 1) * sizeof(LabelRecord*)));
  auto drop = [&]() {
    if (labels)
      for (u32 i = 0; i < count; i++)
        if (labels[i]) {
          std::free(labels[i]->name);
          std::free(labels[i]);
        }
    std::free(labels);
    std::free(image);
  };
  if (!labels) {
    drop();
    ErrRaise(ERR_OUT_OF_MEMORY, 1);
    return -1;
  }
  for (u32 i = 0; i < count; i++) {
    u8 len = r.U8();
    const u8* name = r.Bytes(len);
    LabelRecord rec{};
    rec.hash = r.U32();
    rec.line = r.U32();
    rec.file = r.U16();
    rec.block_depth = static_cast<i8>(r.U8());
    rec.loop_depth = static_cast<i8>(r.U8());
    // A label leads into a file of the list, at depths a thread can hold.
    if (!r.ok || rec.file >= g_ScriptFileCount || rec.block_depth < 0 || rec.block_depth >= TASK_DEPTH_MAX ||
        rec.loop_depth < 0 || rec.loop_depth >= TASK_DEPTH_MAX) {
      drop();
      ErrRaiseF(ERR_SCRIPT_FORMAT, 1, kScriptLabelFile);
      return -1;
    }
    labels[i] = static_cast<LabelRecord*>(std::malloc(sizeof(LabelRecord)));
    rec.name = static_cast<char*>(std::malloc(static_cast<size_t>(len) + 1));
    if (!labels[i] || !rec.name) {
      std::free(rec.name);
      drop();
      ErrRaise(ERR_OUT_OF_MEMORY, 1);
      return -1;
    }
    std::memcpy(rec.name, name, len);
    rec.name[len] = '\0';
    *labels[i] = rec;
  }
  std::free(image);
  FreeLabels();
  g_Labels = labels;
  g_LabelCount = count;
  std::memcpy(g_LabelBuckets, buckets, sizeof buckets);
  g_LabelBuckets[0] = 0;
  return 0;
}

i32 ScriptLoadLabels() {
  u8* image = nullptr;
  u32 size = 0;
  if (ScriptFetchFile(kScriptLabelFile, true, &image, &size) != 0) return 1;
  return ScriptParseLabels(image, size);
}

i32 ScriptFindLabel(const char* name, u32 len) {
  if (!g_Labels || g_LabelCount == 0) return -1;
  u32 hash = HashMurmur2(name, len, 0);
  u32 first = g_LabelBuckets[hash >> 24];
  for (u32 i = first; i < g_LabelCount; i++) {
    const LabelRecord* l = g_Labels[i];
    if (l->hash == hash && std::strcmp(l->name, name) == 0) return static_cast<i32>(i);
  }
  return -1;
}

// ---- Start-up --------------------------------------------------------------------------------

static i32 PointSystemThread() {
  i32 index = ScriptFindLabel(kStartLabel, sizeof kStartLabel - 1);
  if (index < 0) {
    // Without it no thread could run; say so rather than stop without a word.
    ErrRaiseF(ERR_LABEL_MISSING, 1, kStartLabel);
    return -1;
  }
  const LabelRecord* label = g_Labels[index];
  ObjNode* node = g_TaskRoot ? ObjFindNode(g_TaskRoot, "SYSTEM", OBJ_FIND_ITEM) : nullptr;
  TaskContext* ctx = node ? static_cast<TaskContext*>(node->payload) : nullptr;
  if (!ctx) return -1;
  ctx->file_no = label->file;
  if (ScriptLoadFile(label->file) != 1) return -1;
  const ScriptFileRecord* rec = g_ScriptFiles[label->file];
  if (label->line > rec->line_count) {
    char name[SCRIPT_NAME_MAX];
    ScriptBodyName(name, label->file);
    ErrRaiseF(ERR_SCRIPT_FORMAT, 1, name);
    return -1;
  }
  ScriptBindTask(ctx, label->file);
  ctx->next_line = label->line;
  ctx->block_depth = label->block_depth;
  ctx->loop_depth = label->loop_depth;
  return 0;
}

i32 ScriptLoadAll() {
  g_ErrScriptPosition = ScriptErrorPosition;
  if (ScriptLoadErrorTable() != 0) return -1;
  if (ScriptLoadCommandDefs() != 0) return -1;
  if (ScriptLoadVarSlots() != 0) return -1;
  if (ScriptLoadFileList() != 0) return -1;
  if (ScriptLoadVarDefs() != 0) return -1;
  if (VarDeclareFile(-1) != 0) return -1;
  // A missing label file (1) leaves no labels; the missing start label then explains the stop.
  if (ScriptLoadLabels() < 0) return -1;
  return PointSystemThread();
}

// ---- Reset -----------------------------------------------------------------------------------

void ScriptReset() {
  FreeLabels();
  FreeFileTables();
  FreeCommandDefs();
  std::memset(g_KeyMap, 0, sizeof g_KeyMap);
  std::free(s_VarDefImage);
  std::free(s_VarDefOffsets);
  s_VarDefImage = nullptr;
  s_VarDefOffsets = nullptr;
  s_VarDefSize = 0;
  g_VarDefCount = 0;
  g_VarSlotValue = 0;
  UserErrReset();
  std::free(s_ErrTextImage);
  s_ErrTextImage = nullptr;
  CmdInitTable();
}
