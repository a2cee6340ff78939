// Shared set-up of the compiled-script tests: tables parsed from kit-written images, bodies
// bound from kit lines, and a thread whose current line a test chooses.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/err.h"
#include "core/sys.h"
#include "core/usererr.h"
#include "kit/cmddefs.h"
#include "kit/script_compiler.h"
#include "kit/script_files.h"
#include "script/arg.h"
#include "script/cmd.h"
#include "script/expr.h"
#include "script/script.h"
#include "script/task.h"
#include "script/var.h"
#include "script_test_util.h"

// A malloc'd copy of bytes, as the file readers hand images over.
inline u8* TestOwn(const std::vector<u8>& bytes) {
  u8* p = static_cast<u8*>(std::malloc(bytes.size() ? bytes.size() : 1));
  if (!bytes.empty()) std::memcpy(p, bytes.data(), bytes.size());
  return p;
}

// Error texts of the form "E<code>|arg|arg|..." with up to five arguments, so a test sees the
// code and every argument in order.
inline void TestErrTextsWithArgs(std::initializer_list<i32> codes) { TestErrTextsSuffixed(codes, "|%s|%s|%d|%d|%d"); }

inline bool TestRaised(i32 code) { return g_ErrLastText.find("E" + std::to_string(code)) != std::string::npos; }

struct ScriptWorld {
  TaskContext* task = nullptr;

  // Tables: the kit's command definitions (or the given ones) and a list of files.
  void Open(u32 files, const std::vector<KitCmdDef>* defs = nullptr, u32 vars = 1100) {
    ScriptReset();
    ExprReset();
    ArgReset();
    ASSERT_EQ(VarTableCreate(vars), 0);
    std::vector<u8> zpc = defs ? KitCmdDefsBuildFrom(*defs) : KitCmdDefsBuild();
    ASSERT_EQ(ScriptParseCommandDefs(TestOwn(zpc), static_cast<u32>(zpc.size())), 0);
    std::vector<KitFileListEntry> list;
    for (u32 f = 0; f < files; f++) list.push_back({f, "script\\file" + std::to_string(f) + ".zs", 10 + f});
    std::vector<u8> zl = KitFileListBuild(list);
    ASSERT_EQ(ScriptParseFileList(TestOwn(zl), static_cast<u32>(zl.size())), 0);
    task = static_cast<TaskContext*>(std::calloc(1, sizeof(TaskContext)));
    g_CurrentTask = task;
    g_CurrentLine = 0;
  }
  void Close() {
    g_CurrentTask = nullptr;
    g_CurrentLine = 0;
    std::free(task);
    task = nullptr;
    ScriptReset();
    ArgReset();
    ExprReset();
    VarReset();
    UserErrReset();
    ErrReset();
    g_QuitRequested = 0;
    g_ErrScriptPosition = nullptr;
  }
  // Compiles one script file with the kit (declarations, then lines from *SYSTEM_START), loads
  // its tables and binds its body to the test thread.
  void LoadCompiled(const std::string& text) {
    std::vector<KitCompiledFile> files;
    std::string err;
    ASSERT_EQ(KitCompileScripts({{"t.zs", text, 0}}, &files, &err), 0) << err;
    Open(1);
    for (const KitCompiledFile& f : files) {
      u8* image = TestOwn(f.data);
      u32 size = static_cast<u32>(f.data.size());
      if (f.name == kScriptCmdDefFile) ASSERT_EQ(ScriptParseCommandDefs(image, size), 0);
      else if (f.name == kScriptVarDefFile) ASSERT_EQ(ScriptParseVarDefs(image, size), 0);
      else if (f.name == kScriptVarSlotFile) ASSERT_EQ(ScriptParseVarSlots(image, size), 0);
      else if (f.name == kScriptLabelFile) ASSERT_EQ(ScriptParseLabels(image, size), 0);
      else if (f.name == "chbin\\zpt00000.zbn") {
        ASSERT_EQ(VarDeclareFile(-1), 0);
        ASSERT_EQ(ScriptBindFile(0, image, size), 1);
      } else {
        std::free(image);
      }
    }
    ScriptBindTask(task, 0);
  }
  // Binds lines as file n and points the thread at it: 1 or 0.
  i32 Bind(u32 n, const std::vector<KitLine>& lines) {
    std::vector<u8> body = KitBodyBuild(lines);
    i32 r = ScriptBindFile(n, TestOwn(body), static_cast<u32>(body.size()));
    if (r == 1) ScriptBindTask(task, static_cast<u16>(n));
    return r;
  }
  // Runs line's command handler as the scheduler would.
  i32 Run(u32 line) {
    g_CurrentLine = line;
    return task->handlers[1][line]();
  }
};

// Replaces the command definitions by the kit's with one parameter's kind changed, as a game's
// own definitions may give it (the definitions come with each game).
inline void TestDefineParamKind(u8 slot, u8 param, u8 kind) {
  std::vector<KitCmdDef> table = KitCommandTable();
  for (KitCmdDef& c : table)
    if (c.slot == slot)
      for (KitParamDef& p : c.params)
        if (p.id == param) p.kind = kind, p.raw_text = false;
  std::vector<u8> zpc = KitCmdDefsBuildFrom(table);
  ASSERT_EQ(ScriptParseCommandDefs(TestOwn(zpc), static_cast<u32>(zpc.size())), 0);
}

// An argument record: parameter id, byte code, value type.
inline KitArg TestArg(u8 param, const std::vector<u8>& code, u8 value_type = 1, u8 op = 0) {
  KitArg a;
  a.param = param;
  a.code = code;
  a.value_type = value_type;
  a.op = op;
  return a;
}
