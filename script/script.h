// Compiled scripts: the layouts of the files under "chbin\" (shared with the kit's writers, so
// reader and writer cannot drift), the tables the loader builds from them, and the loaders.
// Invariant: every count, size and offset of a file is checked against the bytes read before it
// is used; a table is published only when its whole file checked out, and a script body's record
// is cached only when it is fully bound. All files are little-endian.
#pragma once
#include "common/types.h"
#include "script/task.h"

// ---- File layouts ----------------------------------------------------------------------------

enum {
  SCRIPT_HEADER_COUNT_AT = 8,  // the entry count of zpe, zpc, zpt_list, zpl
  ERRTEXT_ENTRIES_AT = 16,     // zpe: u32 code, NUL text
  CMDDEF_ENTRIES_AT = 16,      // zpc: name, u8 n, n x (name, u8 kind, u8 class)
  CMDDEF_CRT_TEXTS = 37,       // zpc: texts by C runtime error number, after the commands
  CMDDEF_KEYMAP_SIZE = 256,    // zpc: the key map, after the texts
  VARSLOT_VERSION_AT = 4,      // zpt: u32 version, u32 V, u32 value
  VARSLOT_COUNT_AT = 8,
  VARSLOT_VALUE_AT = 12,
  VARSLOT_FILE_SIZE = 16,
  VARSLOT_VERSION = 493,
  VARSLOT_ID_MAX = 65535,    // ids are 16-bit wherever the byte code names them
  FILELIST_RECORDS_AT = 12,  // zpt_list: u32 number, u32 n, n bytes, 16 bytes, u32 value
  FILELIST_RECORD_FIXED = 28,
  FILELIST_MAX_FILES = 65536,  // file numbers are 16-bit in labels and threads
  VARDEF_COUNT_AT = 8,         // zpv: u16 count at 8, definitions from 10
  VARDEF_ENTRIES_AT = 10,
  VARDEF_FIXED = 8,     // i8 group, u8 class, u16 file, u16 id, u8 type, i8 d
  LABEL_BUCKETS = 256,  // zpl: u32 L at 8, 256 x u32 first index at 12, labels at 1036
  LABEL_BUCKETS_AT = 12,
  LABEL_ENTRIES_AT = 1036,
  LABEL_FIXED = 13,       // u8 n, n name bytes, u32 hash, u32 line, u16 file, i8, i8
  BODY_HEADER_SIZE = 32,  // zpt%05d: u32 lines at 8, then C, A, E, N
  BODY_LINES_AT = 8,
  BODY_CMD_SIZE_AT = 12,
  BODY_ARG_SIZE_AT = 16,
  BODY_EXPR_SIZE_AT = 20,
  BODY_LINENO_SIZE_AT = 24,
  BODY_CMD_BYTES = 4,  // u8 opcode, u8 argument count, u8 line flag, u8 not read
  ARG_RECORD_SIZE = 12,
  SCRIPT_KEY_SIZE = 4,
};

// Load groups of variable definitions.
enum { VARDEF_GROUP_GLOBAL = 1, VARDEF_GROUP_FILE = 2, VARDEF_GROUP_GLOBAL2 = 3 };
// Argument kinds of the command definitions.
enum { ARG_KIND_NUMBER = 0, ARG_KIND_STRING = 1, ARG_KIND_RAW = 2 };
enum { ARG_CLASS_MAX = 28 };

// File names.
extern const char kScriptErrTextFile[];   // "chbin\zpe.zbn"
extern const char kScriptCmdDefFile[];    // "chbin\zpc.zbn"
extern const char kScriptVarSlotFile[];   // "chbin\zpt.zbn"
extern const char kScriptFileListFile[];  // "chbin\zpt_list.zbn"
extern const char kScriptVarDefFile[];    // "chbin\zpv.zbn"
extern const char kScriptLabelFile[];     // "chbin\zpl.zbn"
extern const char kScriptBodyFormat[];    // "chbin\zpt%05d.zbn"
enum { SCRIPT_NAME_MAX = 32 };
// The name of body n into buf (SCRIPT_NAME_MAX bytes).
void ScriptBodyName(char* buf, u32 n);

// Scrambling of a body's four areas: byte i of an area XOR key byte i mod 4 (its own inverse).
void ScriptScramble(u8* area, size_t size, const u8 key[SCRIPT_KEY_SIZE]);

// ---- Records ---------------------------------------------------------------------------------

// One argument of a compiled line, as stored (12 bytes). For command 43 a pre-resolved label
// turns size into the label index + 0x10000000; for command 44 the records with parameter id 0
// carry a u16 label index in value_type (low byte) and op (high byte), 0 = not resolved.
struct ArgRecord {
  u8 param;
  u8 unused;
  u8 value_type;
  u8 op;
  u32 size;
  u32 offset;
};
static_assert(sizeof(ArgRecord) == ARG_RECORD_SIZE, "ArgRecord is stored as it stands");

enum { SCRIPT_JUMP_RESOLVED = 0x10000000u, SCRIPT_CALL_LABEL_MAX = 0xFFFF };
enum { CMD_LABEL_JUMP = 43, CMD_LABEL_CALL = 44 };

inline u16 ArgCallLabel(const ArgRecord* r) { return static_cast<u16>(r->value_type | r->op << 8); }
inline void ArgSetCallLabel(ArgRecord* r, u16 index) {
  r->value_type = static_cast<u8>(index);
  r->op = static_cast<u8>(index >> 8);
}

struct LinePlan;

// One loaded body, cached in g_ScriptFiles by file number and kept for the run.
struct ScriptFileRecord {
  u32 line_count;
  TaskLineHandler* handlers[2];  // [0] per line the inactive-window wait, [1] the command handler
  u8* opcodes;
  u8* line_flags;
  u8* arg_counts;
  ArgRecord** arg_records;  // per line its first record (every line's records lie in args)
  ArgRecord* args;
  u32 arg_total;  // records in args
  u8* expr_area;
  u32 expr_size;
  u32* line_numbers;  // source line per line
  LinePlan* plans;    // per line what its arguments were found to be when bound
  u8* image;          // the unscrambled file image
};

struct LabelRecord {
  char* name;  // heap copy, NUL-terminated
  u32 hash;
  u32 line;
  u16 file;
  i8 block_depth;
  i8 loop_depth;
};

// A checked variable definition of "chbin\zpv.zbn".
struct VarDefView {
  i8 group;
  u8 var_class;
  u16 file;
  u16 id;
  u8 type;
  i8 dim_count;
  u32 dims[8];
  i64 init_int;
  double init_float;
  const u8* init_code;  // type 3: byte code of the initial value
  u16 init_size;
};

// ---- Tables ----------------------------------------------------------------------------------

enum { CMD_SLOT_COUNT = 119 };

// CmdDefTables: by command slot, names and by parameter id the argument names, kinds and range
// classes (names point into the kept file image). g_CmdArgCounts gives each list's length.
extern const char* g_CmdNames[CMD_SLOT_COUNT];
extern const char** g_CmdArgNames[CMD_SLOT_COUNT];
extern u8* g_CmdArgKinds[CMD_SLOT_COUNT];
extern u8* g_CmdArgClasses[CMD_SLOT_COUNT];
extern u8 g_CmdArgCounts[CMD_SLOT_COUNT];
// Texts by C runtime error number, shown by the save-data writer.
extern const char* g_CrtErrorTexts[CMDDEF_CRT_TEXTS];
// Byte k: the key number of the key variables 140 + k, 274 + k and 408 + k.
extern u8 g_KeyMap[CMDDEF_KEYMAP_SIZE];
extern u32 g_VarSlotValue;  // the third value of the variable-slot file

extern u32 g_ScriptFileCount;
extern char** g_ScriptFileNames;          // by file number; null when the list names none
extern u32* g_ScriptFileValues;           // by record position
extern ScriptFileRecord** g_ScriptFiles;  // by file number; null until loaded

extern u32 g_LabelCount;
extern LabelRecord** g_Labels;
extern u32 g_LabelBuckets[LABEL_BUCKETS];

extern u32 g_VarDefCount;

// The script key of the bodies (built at start-up by the pack set-up).
const u8* ScriptKey();

// ---- Loading ---------------------------------------------------------------------------------

// Start-up: every loader in order, then the thread "SYSTEM" pointed at "SYSTEM_START". 0, or
// non-zero after an error (start-up ends).
i32 ScriptLoadAll();
i32 ScriptLoadErrorTable();
i32 ScriptLoadCommandDefs();  // also fills the command table
i32 ScriptLoadVarSlots();
i32 ScriptLoadFileList();  // also ScriptAllocFileTable
i32 ScriptLoadVarDefs();
i32 ScriptLoadLabels();  // 1 without a message when the file is missing
i32 ScriptAllocFileTable();

// The same loaders over a file image already in memory (tests, the fuzzer). Each takes ownership
// of image (a malloc'd block of size bytes), keeping it or freeing it. 0 or -1 after the error.
i32 ScriptParseErrorTable(u8* image, u32 size);
i32 ScriptParseCommandDefs(u8* image, u32 size);
i32 ScriptParseVarSlots(u8* image, u32 size);
i32 ScriptParseFileList(u8* image, u32 size);
i32 ScriptParseVarDefs(u8* image, u32 size);
i32 ScriptParseLabels(u8* image, u32 size);

// Loads body n once: 1 when it is loaded (now or before), 0 on failure (after the error).
i32 ScriptLoadFile(u32 n);
// Binds a body image (scrambled, as read from the file) as file n, taking ownership of it:
// the steps of ScriptLoadFile after the read. 1 or 0.
i32 ScriptBindFile(u32 n, u8* image, u32 size);

// The index of a label, or -1. name is NUL-terminated at len.
i32 ScriptFindLabel(const char* name, u32 len);
// Declares the variables of file n (load group 2), or of the global groups for -1. 0 or -1.
i32 VarDeclareFile(i32 n);
// Definition i of the variable-definition file (0 <= i < g_VarDefCount); false outside.
bool ScriptVarDefGet(u32 i, VarDefView* out);
// Gives a variable the shape and initial value of its definition (the dimensions, then the typed
// storage filled with the initial value). 0, or -1 when the storage cannot be made.
i32 VarApplyDef(const VarDefView& d);

// Copies a loaded file's tables into a thread (file number, handler arrays, flags, argument
// counts, records, expression area, line numbers, line count).
void ScriptBindTask(TaskContext* ctx, u16 file);
// The opcode of the running thread's current line, or -1.
i32 ScriptCurrentOpcode();
// Where the running thread stands, for the error header.
bool ScriptErrorPosition(const char** file, i32* line);

// The error for a damaged compiled file: 105000, fatal, with the file's name.
enum {
  ERR_SCRIPT_FORMAT = 105000,
  ERR_SCRIPT_FILE_NUMBER = 901030,
  ERR_VAR_DEF_ID = 900070,
  ERR_LABEL_MISSING = 108180
};

// Tests: frees every table and record and clears the globals.
void ScriptReset();
