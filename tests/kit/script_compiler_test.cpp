#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "core/err.h"
#include "core/sys.h"
#include "core/usererr.h"
#include "kit/build.h"
#include "kit/cmddefs.h"
#include "kit/script_compiler.h"
#include "kit/script_files.h"
#include "kit/sysvars.h"
#include "platform/platform.h"
#include "script/arg.h"
#include "script/cmd.h"
#include "script/expr.h"
#include "script/script.h"
#include "script/task.h"
#include "script/var.h"
#include "shell/frame.h"
#include "shell/startup.h"

namespace {

u8* Own(const std::vector<u8>& b) {
  u8* p = static_cast<u8*>(std::malloc(b.size() ? b.size() : 1));
  if (!b.empty()) std::memcpy(p, b.data(), b.size());
  return p;
}

// Compiles sources and loads every table the way start-up does, bodies bound on demand.
struct CompiledGame {
  std::map<std::string, std::vector<u8>> files;
  TaskContext* task = nullptr;

  ~CompiledGame() {
    g_CurrentTask = nullptr;
    std::free(task);
    ScriptReset();
    ExprReset();
    ArgReset();
    VarReset();
    ErrReset();
    g_QuitRequested = 0;
  }
  bool Compile(const std::vector<KitScriptSource>& sources, std::string* err) {
    std::vector<KitCompiledFile> out;
    if (KitCompileScripts(sources, &out, err) != 0) return false;
    for (KitCompiledFile& f : out) files[f.name] = f.data;
    return true;
  }
  i32 Parse(i32 (*parse)(u8*, u32), const char* name) {
    const std::vector<u8>& b = files.at(name);
    return parse(Own(b), static_cast<u32>(b.size()));
  }
  void Load() {
    ScriptReset();
    ExprReset();
    ASSERT_EQ(Parse(ScriptParseErrorTable, kScriptErrTextFile), 0);
    ASSERT_EQ(Parse(ScriptParseCommandDefs, kScriptCmdDefFile), 0);
    ASSERT_EQ(Parse(ScriptParseVarSlots, kScriptVarSlotFile), 0);
    ASSERT_EQ(Parse(ScriptParseFileList, kScriptFileListFile), 0);
    ASSERT_EQ(Parse(ScriptParseVarDefs, kScriptVarDefFile), 0);
    ASSERT_EQ(VarDeclareFile(-1), 0);
    ASSERT_EQ(Parse(ScriptParseLabels, kScriptLabelFile), 0);
  }
  const ScriptFileRecord* Body(u32 n) {
    char name[SCRIPT_NAME_MAX];
    ScriptBodyName(name, n);
    const std::vector<u8>& b = files.at(name);
    if (ScriptBindFile(n, Own(b), static_cast<u32>(b.size())) != 1) return nullptr;
    return g_ScriptFiles[n];
  }
  // Points a thread at file n, line line.
  void Enter(u32 n, u32 line) {
    if (!task) task = static_cast<TaskContext*>(std::calloc(1, sizeof(TaskContext)));
    ScriptBindTask(task, static_cast<u16>(n));
    g_CurrentTask = task;
    g_CurrentLine = line;
  }
  i64 EvalInt(const ArgRecord* r) {
    i64 v = 0;
    EXPECT_EQ(ExprEvalByTypeInt(r->value_type, task->expr_area + r->offset, r->size, &v), 0);
    return v;
  }
  std::string EvalStr(const ArgRecord* r) {
    char buf[EXPR_STR_BUF];
    i32 len = 0;
    EXPECT_EQ(ExprEvalByTypeStr(r->value_type, task->expr_area + r->offset, r->size, buf, &len), 0);
    return buf;
  }
};

KitScriptSource Src(const std::string& name, const std::string& text) { return {name, text, 0}; }

}  // namespace

TEST(KitScriptCompiler, CompilesEveryFileAndLoadsBack) {
  CompiledGame g;
  std::string err;
  ASSERT_TRUE(g.Compile({Src("main.zs",
                             "; the demo\n"
                             "global int score = 5\n"
                             "global class 3 float speed = -1.5\n"
                             "global str names[3] = 'n' + 'o'\n"
                             "int grid[2][3] = 7\n"
                             "*SYSTEM_START\n"
                             "  fps rate=30, skip=0\n"
                             "  score += grid[1][2] * 2\n"
                             "  names[1] = 'x' + str(score)\n"
                             "  goto *LATER\n"
                             "*LATER:\n"
                             "  call *SUB, 4, 2.5, 'text'\n"
                             "  end\n"),
                         Src("sub\\sub.zs",
                             "local int here = 9\n"
                             "*SUB\n"
                             "  return here, 'done'\n")},
                        &err))
      << err;
  g.Load();
  EXPECT_EQ(g_ScriptFileCount, 2u);
  EXPECT_STREQ(g_ScriptFileNames[1], "sub\\sub.zs");
  // Globals: declared with their initial values; system variables have their shapes.
  EXPECT_EQ(VarGetIntElement(1000, 0), 5);
  EXPECT_DOUBLE_EQ(VarGetFloatElement(1001, 0), -1.5);
  EXPECT_EQ(VarRecordOf(1001)->var_class, 3);
  EXPECT_STREQ(VarGetStrElement(1002, 2), "no");
  EXPECT_EQ(VarGetIntElement(49, 0), 999);
  EXPECT_EQ(VarRecordOf(0)->count, 16);
  EXPECT_EQ(VarRecordOf(1003)->type, 0) << "the file's own variable waits for the file";

  const ScriptFileRecord* main = g.Body(0);
  ASSERT_NE(main, nullptr);
  EXPECT_EQ(VarGetIntElement(1003, 5), 7);
  ASSERT_EQ(main->line_count, 6u);
  const u8 ops[] = {29, 54, 54, CMD_LABEL_JUMP, CMD_LABEL_CALL, 14};
  for (u32 i = 0; i < 6; i++) EXPECT_EQ(main->opcodes[i], ops[i]) << i;
  EXPECT_EQ(main->line_numbers[0], 7u);
  i32 start = ScriptFindLabel("SYSTEM_START", 12), later = ScriptFindLabel("LATER", 5), sub = ScriptFindLabel("SUB", 3);
  ASSERT_GE(start, 0);
  EXPECT_EQ(g_Labels[start]->line, 0u);
  EXPECT_EQ(g_Labels[later]->line, 4u);
  EXPECT_EQ(g_Labels[sub]->file, 1);
  EXPECT_EQ(main->arg_records[3]->size, SCRIPT_JUMP_RESOLVED + static_cast<u32>(later)) << "pre-resolved";

  g.Enter(0, 1);
  const ArgRecord* target = main->arg_records[1];
  EXPECT_EQ(target->op, 1) << "+=";
  EXPECT_EQ(target->value_type, 1);
  EXPECT_EQ(g.EvalInt(target), 5);
  EXPECT_EQ(g_Expr.ref.var_id, 1000u);
  EXPECT_EQ(g.EvalInt(&main->arg_records[1][1]), 14);
  EXPECT_EQ(g.EvalStr(&main->arg_records[2][1]), "x5");
  g.EvalInt(&main->arg_records[2][0]);
  EXPECT_EQ(g_Expr.ref.element, 1);
  // The call: integer argument 1 is parameter 1, float 2 is 18, string 3 is 35; three arguments.
  const ArgRecord* call = main->arg_records[4];
  EXPECT_EQ(main->line_flags[4], 3);
  ASSERT_EQ(main->arg_counts[4], 4);
  EXPECT_EQ(ArgCallLabel(&call[0]), static_cast<u16>(sub));
  EXPECT_EQ(call[1].param, 1);
  EXPECT_EQ(call[2].param, 18);
  EXPECT_EQ(call[2].value_type, 2);
  EXPECT_EQ(call[3].param, 35);
  EXPECT_EQ(g.EvalStr(&call[3]), "text");

  const ScriptFileRecord* subf = g.Body(1);
  ASSERT_NE(subf, nullptr);
  EXPECT_EQ(VarGetIntElement(1004, 0), 9);
  EXPECT_EQ(subf->opcodes[0], 77);
  EXPECT_EQ(subf->line_flags[0], 2);
  EXPECT_EQ(subf->arg_records[0][0].param, 0) << "return value 1 is parameter 0";
  EXPECT_EQ(subf->arg_records[0][1].param, 33) << "string value 2 is parameter 33";
}

TEST(KitScriptCompiler, CommandsDecodeTheirParametersByName) {
  CompiledGame g;
  std::string err;
  ASSERT_TRUE(g.Compile({Src("a.zs",
                             "*SYSTEM_START\n"
                             "end restart = 1\n"
                             "fps skip=0, rate=20 + 10\n"
                             "fps rate=0\n"
                             "eval value = 3 * 4\n")},
                        &err))
      << err;
  g.Load();
  ASSERT_NE(g.Body(0), nullptr);
  FrameReset();
  g_RelaunchAtExit = 0;
  g.Enter(0, 0);
  EXPECT_EQ(g.task->handlers[1][0](), 0);
  EXPECT_EQ(g_RelaunchAtExit, 1);
  EXPECT_EQ(g_QuitRequested.load(), 1);
  g_QuitRequested = 0;
  g_RelaunchAtExit = 0;
  g_CurrentLine = 1;
  EXPECT_EQ(g.task->handlers[1][1](), 0);
  EXPECT_EQ(g_FrameRate, 30);
  EXPECT_EQ(g_FrameSkipAllowed, 0u);
  g_CurrentLine = 2;
  EXPECT_EQ(g.task->handlers[1][2](), -1) << "a rate below 1 is refused by the argument's range";
  EXPECT_NE(g_ErrLastText.find("fps"), std::string::npos) << g_ErrLastText;
  EXPECT_EQ(g_FrameRate, 30);
  g_QuitRequested = 0;
  g_CurrentLine = 3;
  EXPECT_EQ(g.task->handlers[1][3](), 0);
  EXPECT_EQ(ArgInt(0), 12);
  FrameReset();
}

TEST(KitScriptCompiler, ValueTypesFollowTheExpression) {
  struct Case {
    const char* text;
    u8 value_type;
  } cases[] = {{"1 + 2", 1},    {"1 + 2.5", 2},  {"x < 1.5", 2},  {"'a' + 'b'", 3},
               {"str(1.5)", 4}, {"num('2')", 1}, {"fnum('2')", 2}};
  for (const Case& c : cases) {
    std::vector<u8> code;
    u8 vt = 0;
    std::string err;
    ASSERT_EQ(KitCompileExpr(c.text, {{"x", 1000, 1, {}}}, &code, &vt, &err), 0) << c.text << ": " << err;
    EXPECT_EQ(vt, c.value_type) << c.text;
  }
}

TEST(KitScriptCompiler, ErrorsNameTheSourceAndLine) {
  struct Case {
    const char* text;
    const char* want;
  } cases[] = {
      {"nosuch x=1", "unknown command or variable 'nosuch'"},
      {"fps speed=1", "fps has no parameter 'speed'"},
      {"fps rate=1, rate=2", "given twice"},
      {"fps rate=y", "unknown variable 'y'"},
      {"fps rate='a' + 1", "does not take strings"},
      {"fps rate='a' == 1", "compares a string with a number"},
      {"int g[2]\ng[1][1] = 1", "2 indexes given"},
      {"goto *NOWHERE", "no label *NOWHERE"},
      {"*A\n*A", "defined twice"},
      {"int x = 'a'", "initial value of a number variable"},
      {"int x\nint x", "declared already"},
      {"int fps", "names a command"},
      {"int z[0]", "a size from 1"},
      {"int z[2000][2001]", "more than 4000000"},
      {"if", "if needs a condition"},
      {"if 1\nendloop", "endloop without loop"},
      {"endif", "endif without if"},
      {"if 1\nelse\nelse\nendif", "else after else"},
      {"if 1\nelse\nelif 2\nendif", "elif after else"},
      {"loop 2\nelse\nendloop", "else without if"},
      {"if 1\nendif 2", "endif takes nothing"},
      {"loop 2\n", "loop without endloop"},
      {"if 1\nloop\nendloop\n", "if without endif"},
      {"break", "break outside a loop"},
      {"loop\nblock_continue\nendloop", "block_continue outside an if"},
      {"loop 1 2\nendloop", "unexpected '2'"},
      {"fps rate = 1.5 % 2", "work on integers"},
      {"call *A, 1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17\n*A", "at most 16"},
      {"msg_text text=1", "as it stands"},
      {"str s\ns -= 'a'", "only '=' and '+='"},
      {"int n\nn = 'a'", "cannot go into a number variable"},
      {"fps rate='abc", "closing quote"},
      {"fps rate=1 2", "unexpected '2'"},
      {"fps rate=@999", "no system variable @999"},
      {"fps rate=0x", "bad hexadecimal"},
  };
  for (const Case& c : cases) {
    std::vector<KitCompiledFile> out;
    std::string err;
    EXPECT_EQ(KitCompileScripts({Src("x.zs", "*SYSTEM_START\n" + std::string(c.text))}, &out, &err), -1) << c.text;
    EXPECT_NE(err.find(c.want), std::string::npos) << c.text << " -> " << err;
    EXPECT_EQ(err.rfind("x.zs:", 0), 0u) << err;
  }
}

TEST(KitScriptCompiler, RawTextAndRawByteCodeParameters) {
  CompiledGame g;
  std::string err;
  ASSERT_TRUE(g.Compile(
      {Src("a.zs", "*SYSTEM_START\nmsg_text text=\"Hello\\n\"\nmath result=@61[1], a=1.5 * 2, sin=1\n")}, &err))
      << err;
  g.Load();
  const ScriptFileRecord* b = g.Body(0);
  ASSERT_NE(b, nullptr);
  const ArgRecord* text = b->arg_records[0];
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(b->expr_area + text->offset), text->size), "Hello\\n")
      << "the bytes as written";
  const ArgRecord* a = &b->arg_records[1][1];
  EXPECT_EQ(a->param, 1);
  EXPECT_EQ(a->value_type, 2);
  g.Enter(0, 1);
  double v = 0;
  ASSERT_EQ(ExprEvalByTypeFloat(a->value_type, b->expr_area + a->offset, a->size, &v), 0);
  EXPECT_DOUBLE_EQ(v, 3.0);
}

TEST(KitCommandTable, ParameterIdsAsTheHandlersNumberThem) {
  const std::vector<KitCmdDef>& t = KitCommandTable();
  ASSERT_EQ(t.size(), static_cast<size_t>(CMD_SLOT_COUNT));
  struct Case {
    const char* cmd;
    const char* param;
    u8 id;
    u8 kind;
  } cases[] = {
      {"layer", "file", 33, ARG_KIND_STRING},
      {"layer", "blend", 41, ARG_KIND_NUMBER},
      {"layer", "user2", 44, ARG_KIND_NUMBER},
      {"layer_edit", "value", 9, ARG_KIND_RAW},
      {"layer_edit", "gpu_snapshot", 69, ARG_KIND_NUMBER},
      {"layer_info", "result", 30, ARG_KIND_NUMBER},
      {"msgbox", "icon", 19, ARG_KIND_NUMBER},
      {"cmd_flags", "flag119", 120, ARG_KIND_NUMBER},
      {"call", "s16", 48, ARG_KIND_STRING},
      {"return", "f1", 16, ARG_KIND_NUMBER},
      {"task", "label", 34, ARG_KIND_STRING},
      {"task", "now", 37, ARG_KIND_NUMBER},
      {"math", "crc", 21, ARG_KIND_NUMBER},
      {"window", "resizable", 25, ARG_KIND_NUMBER},
      {"sound_info", "result", 23, ARG_KIND_NUMBER},
      {"var_info", "find_float", 16, ARG_KIND_RAW},
      {"msg_text", "text", 0, ARG_KIND_RAW},
      {"dim_int", "var", 0, ARG_KIND_RAW},
      {"save", "str4", 17, ARG_KIND_NUMBER},
      {"emote", "list", 23, ARG_KIND_STRING},
  };
  for (const Case& c : cases) {
    const KitCmdDef* cmd = KitFindCommand(c.cmd);
    ASSERT_NE(cmd, nullptr) << c.cmd;
    const KitParamDef* p = KitFindParam(*cmd, c.param);
    ASSERT_NE(p, nullptr) << c.cmd << " " << c.param;
    EXPECT_EQ(p->id, c.id) << c.cmd << " " << c.param;
    EXPECT_EQ(p->kind, c.kind) << c.cmd << " " << c.param;
  }
  // Every slot has a unique name, and parameter names are unique within a command.
  std::map<std::string, int> names;
  for (const KitCmdDef& c : t) {
    EXPECT_EQ(++names[c.name], 1) << c.name;
    std::map<std::string, int> params;
    for (const KitParamDef& p : c.params) {
      if (p.name.empty()) continue;
      EXPECT_EQ(++params[p.name], 1) << c.name << " " << p.name;
    }
  }
  EXPECT_EQ(t[14].name, "end");
  EXPECT_EQ(t[29].name, "fps");
  u8 map[256];
  KitKeyMapBuild(map);
  EXPECT_EQ(map[0], 0);
  EXPECT_EQ(map[1], 1);
  EXPECT_EQ(map[KitKeyNames().back().index], 111);
}

TEST(KitSysVars, ShapesCoverEveryIdTheEngineAnswers) {
  for (u32 id : {0u, 1u, 10u, 12u, 48u, 53u, 63u, 118u, 137u, 268u, 273u, 401u, 407u, 540u})
    EXPECT_NE(KitFindSysVar(id), nullptr) << id;
  for (u32 id : {8u, 16u, 64u, 402u, 541u, 999u}) EXPECT_EQ(KitFindSysVar(id), nullptr) << id;
  EXPECT_EQ(KitFindSysVar(10)->type, 2);
  EXPECT_EQ(KitFindSysVar(55)->type, 3);
}

// Every script example of kit/README.md (a "zs" block) is a whole game that compiles.
TEST(KitScriptCompiler, TheReadmeExamplesAndTheDemoCompile) {
  std::string readme;
  {
    FILE* f = std::fopen(ZEPHRA_SOURCE_DIR "/kit/README.md", "rb");
    ASSERT_NE(f, nullptr);
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) readme.append(buf, n);
    std::fclose(f);
  }
  std::vector<KitCompiledFile> out;
  std::string err;
  int blocks = 0;
  for (size_t start = readme.find("```zs\n"); start != std::string::npos; start = readme.find("```zs\n", start + 6)) {
    size_t end = readme.find("\n```", start + 6);
    ASSERT_NE(end, std::string::npos);
    std::string text = PlatUtf8ToSjis(readme.substr(start + 6, end + 1 - start - 6));
    EXPECT_EQ(KitCompileScripts({Src("readme.zs", text)}, &out, &err), 0) << err << "\n" << text;
    blocks++;
  }
  EXPECT_GE(blocks, 11);

  KitGameSource demo;
  ASSERT_EQ(KitReadSourceFolder(ZEPHRA_SOURCE_DIR "/examples/demo", &demo, &err), 0) << err;
  ASSERT_EQ(demo.scripts.size(), 1u);
  EXPECT_EQ(demo.scripts[0].name, "script\\main.zs");
  EXPECT_EQ(KitCompileScripts(demo.scripts, &out, &err), 0) << err;
}

TEST(KitScriptCompiler, BlocksAndLoopsBecomeLineTargets) {
  CompiledGame g;
  std::string err;
  ASSERT_TRUE(g.Compile({Src("x.zs",
                             "*SYSTEM_START\n"  // line
                             "loop 3\n"         // 0: 56 count, end 10
                             "  if @48 == 1\n"  // 1: 45 cond, next 4, end 9
                             "*IN_BOTH\n"
                             "    break 2\n"      // 2: 57 levels 2
                             "  elif @48 == 2\n"  // 3: 46, 4: 11 cond, next 7
                             "    continue\n"     // 5: 58
                             "  else\n"           // 6: 46, 7: 11
                             "    block_break\n"  // 8: 47
                             "  endif\n"          // 9: 49
                             "endloop\n"          // 10: 59
                             "*AFTER\n"
                             "loop\n"        // 11: 56 endless, end 12
                             "endloop\n")},  // 12: 59
                        &err))
      << err;
  g.Load();
  const ScriptFileRecord* rec = g.Body(0);
  ASSERT_NE(rec, nullptr);
  ASSERT_EQ(rec->line_count, 13u);
  const u8 ops[] = {56, 45, 57, 46, 11, 58, 46, 11, 47, 49, 59, 56, 59};
  for (u32 i = 0; i < 13; i++) EXPECT_EQ(rec->opcodes[i], ops[i]) << "line " << i;
  EXPECT_EQ(rec->arg_records[0][1].size, 10u);
  EXPECT_EQ(rec->arg_records[1][1].size, 4u);
  EXPECT_EQ(rec->arg_records[1][2].size, 9u);
  EXPECT_EQ(rec->arg_records[4][1].size, 7u);
  EXPECT_EQ(rec->arg_counts[7], 0u) << "a plain else";
  EXPECT_EQ(rec->arg_counts[3], 0u);
  EXPECT_EQ(rec->arg_records[11][1].size, 12u);
  g.Enter(0, 11);
  EXPECT_EQ(g.EvalInt(&rec->arg_records[11][0]), -1) << "endless";
  g.Enter(0, 2);
  EXPECT_EQ(g.EvalInt(&rec->arg_records[2][0]), 2);
  i32 in_both = ScriptFindLabel("IN_BOTH", 7);
  i32 after = ScriptFindLabel("AFTER", 5);
  ASSERT_GE(in_both, 0);
  ASSERT_GE(after, 0);
  EXPECT_EQ(g_Labels[in_both]->line, 2u);
  EXPECT_EQ(g_Labels[in_both]->block_depth, 1);
  EXPECT_EQ(g_Labels[in_both]->loop_depth, 1);
  EXPECT_EQ(g_Labels[after]->line, 11u);
  EXPECT_EQ(g_Labels[after]->block_depth, 0);
  EXPECT_EQ(g_Labels[after]->loop_depth, 0);
}
