// The kit's script compiler: readable script text (one source per compiled body) to every
// compiled file the runtime reads from "chbin\": command definitions, variable slots, the
// script-file list, variable definitions, labels, error texts and the bodies. The text is
// described in kit/README.md. Sources are Shift-JIS; errors name the source and its line.
#pragma once
#include <string>
#include <vector>

#include "common/types.h"

struct KitScriptSource {
  std::string name;  // Shift-JIS, with "\" separators: the name the error header shows
  std::string text;  // Shift-JIS
  u32 value = 0;     // the value the script-file list keeps for it
};

struct KitCompiledFile {
  std::string name;  // "chbin\zpc.zbn" and so on
  std::vector<u8> data;
};

// What the build's checks read from the scripts: every command parameter given as a string
// literal alone (a file name can only be checked when it is written out), and the labels.
struct KitScriptLiteral {
  u32 file;  // index into the sources
  u32 line;  // source line
  std::string command, param;
  std::vector<std::string> line_params;  // every parameter the line gives
  std::string text;                      // Shift-JIS
};
struct KitScriptFacts {
  std::vector<KitScriptLiteral> literals;
  std::vector<std::string> labels;
};

// File number i is sources[i]. Returns 0 with the files in out (and, when asked, the facts), or
// -1 with "name:line: why" in err.
int KitCompileScripts(const std::vector<KitScriptSource>& sources, std::vector<KitCompiledFile>* out, std::string* err,
                      KitScriptFacts* facts = nullptr);

// One expression compiled on its own (tests, benchmarks): variables are looked up in vars
// (name, id, type 1 to 3, sizes). Returns 0 with the byte code and the value type the compiler
// would give a number argument (1 or 2, 3 or 4 for a string result), or -1 with err.
struct KitExprVar {
  std::string name;
  u16 id;
  u8 type;
  std::vector<u32> dims;
};
int KitCompileExpr(const std::string& text, const std::vector<KitExprVar>& vars, std::vector<u8>* code, u8* value_type,
                   std::string* err);
