// Writers of the compiled-script files under "chbin\", from the layouts in script/script.h:
// script bodies (scrambled with the script key), variable slots, the script-file list, variable
// definitions, labels with their hash buckets and error texts. Everything a test may want to get
// wrong on purpose can be given as it stands: raw byte code, record fields, header fields.
#pragma once
#include <string>
#include <vector>

#include "common/types.h"
#include "kit/errtexts.h"

struct KitArg {
  u8 param = 0;
  u8 value_type = 1;
  u8 op = 0;
  std::vector<u8> code;  // byte code (or literal text) placed in the expression area
  // Hostile records: the stored size and offset as given instead of the code's own.
  bool fields_as_given = false;
  u32 size = 0;
  u32 offset = 0;
};

struct KitLine {
  u8 opcode = 0;
  u8 flag = 0;
  std::vector<KitArg> args;
  u32 source_line = 0;
  i32 arg_count = -1;  // the stored argument count; -1: the number of args
};

// The key the bodies are scrambled with (the runtime's own, after its set-up).
const u8* KitScriptKey();

// A whole body file. scramble false leaves the areas plain (for tests of the unscrambling).
std::vector<u8> KitBodyBuild(const std::vector<KitLine>& lines, bool scramble = true);
// Overwrites a little-endian u32 at a file offset (header fields of hostile files).
void KitPatchU32(std::vector<u8>& file, size_t at, u32 value);

std::vector<u8> KitVarSlotsBuild(u32 var_count, u32 value, u32 version = 493);

struct KitFileListEntry {
  u32 number;
  std::string name;  // Shift-JIS, as the error header shows it
  u32 value = 0;
};
std::vector<u8> KitFileListBuild(const std::vector<KitFileListEntry>& files);

struct KitVarDef {
  i8 group = 1;
  u8 var_class = 1;
  u16 file = 0;
  u16 id = 0;
  u8 type = 1;
  std::vector<u32> dims;
  i64 init_int = 0;
  double init_float = 0.0;
  std::vector<u8> init_code;  // type 3: byte code of the initial text
};
std::vector<u8> KitVarDefsBuild(const std::vector<KitVarDef>& defs);

struct KitLabel {
  std::string name;
  u32 line = 0;
  u16 file = 0;
  i8 block_depth = 0;
  i8 loop_depth = 0;
};
// Sorted by hash (equal hashes keep their order), with the 256 bucket starts.
std::vector<u8> KitLabelsBuild(const std::vector<KitLabel>& labels);

std::vector<u8> KitErrTextsBuild(const std::vector<KitErrText>& texts);

// Byte code pieces.
std::vector<u8> KitCodeInt(i64 v);  // the smallest literal that holds v
std::vector<u8> KitCodeFloat(double v);
std::vector<u8> KitCodeStr(const std::string& text, char quote = '"');  // text as the operand holds it
std::vector<u8> KitCodeVar(u8 op, u16 id);                              // "H", "V" or "v"
std::vector<u8> KitCodeOp(u8 op);                                       // an operator without operand
std::vector<u8> KitCodeInstr(u8 op, const std::vector<u8>& operand);
