// Writes the seed corpus of script_fuzz from the kit: compiled bodies of sample scripts, byte
// code of sample expressions over the target's variables, and the kit's tables, each prefixed
// with its consumer byte. Usage: script_fuzz_seeds OUT_DIR
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "kit/script_compiler.h"
#include "script/script.h"
#include "script_fuzz.h"

namespace fs = std::filesystem;

static void Write(const fs::path& dir, const std::string& name, u8 mode, const std::vector<u8>& data) {
  std::ofstream f(dir / name, std::ios::binary);
  f.put(static_cast<char>(mode));
  f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: script_fuzz_seeds OUT_DIR\n");
    return 2;
  }
  fs::path dir = argv[1];
  fs::create_directories(dir);
  std::vector<KitCompiledFile> files;
  std::string err;
  const std::vector<KitScriptSource> sources = {
      {"a.zs",
       "global int n = 3\nglobal str t[2] = 'x'\nint g[2][2]\n*SYSTEM_START\nfps rate=60\nn += g[1][1] * 2 - 5 / 3\n"
       "t[1] = 'v' + str(n)\ngoto *B\n*B\ncall *C, 1, 2.5, 'q'\nend restart=0\n",
       0},
      {"b.zs",
       "*C\nreturn 1, 'r'\nlayer name='bg', file='bg.png', order=1, opacity+=-10\nmath result=n, a=1.5, sin=1\n", 0},
  };
  if (KitCompileScripts(sources, &files, &err) != 0) {
    std::fprintf(stderr, "%s\n", err.c_str());
    return 1;
  }
  const struct {
    const char* file;
    u8 mode;
  } kTables[] = {{kScriptErrTextFile, SCRIPT_FUZZ_ERRTEXTS},
                 {kScriptCmdDefFile, SCRIPT_FUZZ_CMDDEFS},
                 {kScriptFileListFile, SCRIPT_FUZZ_FILELIST},
                 {kScriptVarDefFile, SCRIPT_FUZZ_VARDEFS},
                 {kScriptLabelFile, SCRIPT_FUZZ_LABELS}};
  int bodies = 0;
  for (const KitCompiledFile& f : files) {
    for (const auto& t : kTables)
      if (f.name == t.file) Write(dir, "table" + std::to_string(t.mode), t.mode, f.data);
    if (f.name.rfind("chbin\\zpt0", 0) == 0) Write(dir, "body" + std::to_string(bodies++), SCRIPT_FUZZ_BODY, f.data);
  }
  // The target's variables: ids 1000 + k, type k mod 3 (integer, float, string), k / 3 sizes of 3.
  const std::vector<KitExprVar> vars = {{"i", 1000, 1, {}},      {"f", 1001, 2, {}},      {"s", 1002, 3, {}},
                                        {"ia", 1003, 1, {3}},    {"fa", 1004, 2, {3}},    {"sa", 1005, 3, {3}},
                                        {"ig", 1006, 1, {3, 3}}, {"fg", 1007, 2, {3, 3}}, {"sg", 1008, 3, {3, 3}}};
  const char* const kExprs[] = {"1 + 2 * 3 - 4 / 5 % 6",     "i * 2.5 < f || !i && 3 == 3", "s + sa[1] + str(ig[2][1])",
                                "num('0x1F') + num('-3.5')", "(6 & 3) | (5 ^ 1)",           "fg[1, 2] / -f >= 0.5",
                                "s == 'text' != 0"};
  int k = 0;
  for (const char* e : kExprs) {
    std::vector<u8> code;
    u8 vt = 0;
    if (KitCompileExpr(e, vars, &code, &vt, &err) != 0) {
      std::fprintf(stderr, "%s: %s\n", e, err.c_str());
      return 1;
    }
    for (u8 mode = SCRIPT_FUZZ_EXPR_INT; mode <= SCRIPT_FUZZ_EXPR_STR4; mode++)
      Write(dir, "expr" + std::to_string(k) + "_" + std::to_string(mode), mode, code);
    k++;
  }
  return 0;
}
