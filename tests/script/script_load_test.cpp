#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/hash.h"
#include "kit/errtexts.h"
#include "kit/script_compiler.h"
#include "layer/layer_cmd.h"
#include "script_fixture.h"
#include "script_test_util.h"
#include "shell/frame.h"

namespace {

typedef std::vector<u8> Bytes;

Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

struct LoadTest : ::testing::Test {
  ScriptWorld w;
  void SetUp() override {
    w.Open(3);
    Texts();
  }
  void TearDown() override { w.Close(); }
  // Texts naming each code with its first argument.
  static void Texts() {
    TestErrTextsWithArgs({ERR_SCRIPT_FORMAT, ERR_SCRIPT_FILE_NUMBER, ERR_VAR_DEF_ID, ERR_LABEL_MISSING,
                          ERR_CMD_UNDEFINED, ERR_OUT_OF_MEMORY, ERR_VAR_TOO_FEW, ERR_EXPR_BAD_CODE});
  }
  static void ClearErr() {
    ErrReset();
    g_QuitRequested = 0;
  }
  static i32 Parse(i32 (*parse)(u8*, u32), const Bytes& b) { return parse(TestOwn(b), static_cast<u32>(b.size())); }
  static bool BadFile(const char* name) { return g_ErrLastText == std::string("E105000|") + name + "||||"; }
};

}  // namespace

// ---- Error texts -----------------------------------------------------------------------------

TEST_F(LoadTest, ErrorTextsAreReadAndClampedAt256) {
  std::vector<KitErrText> texts = KitDefaultErrorTexts();
  ASSERT_EQ(Parse(ScriptParseErrorTable, KitErrTextsBuild(texts)), 0);
  EXPECT_EQ(g_UserErrCount, static_cast<i32>(texts.size()));
  EXPECT_EQ(g_UserErrCodes[0], texts[0].code);
  EXPECT_EQ(std::string(ErrMessageForCode(101000)), texts[17].text) << "the reporter prefers the project's text";

  std::vector<KitErrText> many;
  for (u32 i = 0; i < 300; i++) many.push_back({500000 + i, "t" + std::to_string(i)});
  ASSERT_EQ(Parse(ScriptParseErrorTable, KitErrTextsBuild(many)), 0);
  EXPECT_EQ(g_UserErrCount, USER_ERR_MAX);
  EXPECT_STREQ(g_UserErrTexts[255], "t255");
}

TEST_F(LoadTest, DamagedErrorTextFilesAreRefusedAndKeepTheOldTable) {
  Bytes good = KitErrTextsBuild({{1, "a"}, {2, "b"}});
  Bytes missing_nul = good;
  missing_nul.pop_back();
  Bytes count_too_high = good;
  KitPatchU32(count_too_high, SCRIPT_HEADER_COUNT_AT, 3);
  for (const Bytes& b : {missing_nul, count_too_high, Bytes(good.begin(), good.begin() + 10), Bytes{}}) {
    Texts();
    EXPECT_EQ(Parse(ScriptParseErrorTable, b), -1);
    EXPECT_TRUE(BadFile(kScriptErrTextFile)) << g_ErrLastText;
    EXPECT_EQ(g_UserErrCount, 8) << "the table in force stays";
  }
}

// ---- Command definitions ---------------------------------------------------------------------

TEST_F(LoadTest, CommandDefinitionsKeyMapAndRuntimeTexts) {
  ASSERT_EQ(Parse(ScriptParseCommandDefs, KitCmdDefsBuild()), 0);
  EXPECT_STREQ(g_CmdNames[14], "end");
  EXPECT_STREQ(g_CmdNames[1], "layer");
  ASSERT_GE(g_CmdArgCounts[1], 45);
  EXPECT_STREQ(g_CmdArgNames[1][33], "file");
  EXPECT_EQ(g_CmdArgKinds[1][33], ARG_KIND_STRING);
  EXPECT_EQ(g_CmdArgClasses[1][41], 11);
  EXPECT_EQ(g_CmdArgKinds[61][1], ARG_KIND_RAW);
  EXPECT_EQ(g_CmdArgCounts[15], 121) << "flags of slots 1 to 119 at ids 2 to 120";
  EXPECT_STREQ(g_CrtErrorTexts[2], "No such file or directory");
  EXPECT_STREQ(g_CrtErrorTexts[36], "Resource deadlock avoided");
  EXPECT_EQ(g_KeyMap[9], 13) << "key 9 is Enter";
  EXPECT_EQ(g_CmdHandlers[14], CmdProgramEnd);
  EXPECT_EQ(g_CmdHandlers[9], CmdNop);
  EXPECT_EQ(g_CmdHandlers[17], CmdUndefined);
  EXPECT_EQ(g_CmdHandlers[1], CmdLayerCreate);
}

TEST_F(LoadTest, CommandDefinitionsBeyondTheTableAndDamagedOnes) {
  std::vector<KitCmdDef> table = KitCommandTable();
  for (u8 s = CMD_SLOT_COUNT; s < 130; s++) table.push_back({s, "extra" + std::to_string(s), {{0, "p", 0, 0, false}}});
  ASSERT_EQ(Parse(ScriptParseCommandDefs, KitCmdDefsBuildFrom(table)), 0) << "entries past slot 118 are read over";
  EXPECT_EQ(g_KeyMap[9], 13);

  std::vector<KitCmdDef> bad_class = KitCommandTable();
  bad_class[3].params[0].cls = ARG_CLASS_MAX + 1;
  std::vector<KitCmdDef> bad_kind = KitCommandTable();
  bad_kind[3].params[0].kind = 3;
  Bytes good = KitCmdDefsBuild();
  Bytes huge_count = good;
  KitPatchU32(huge_count, SCRIPT_HEADER_COUNT_AT, 0x7FFFFFFF);
  for (const Bytes& b : {KitCmdDefsBuildFrom(bad_class), KitCmdDefsBuildFrom(bad_kind),
                         Bytes(good.begin(), good.end() - 1), huge_count, Bytes(good.begin(), good.begin() + 40)}) {
    ClearErr();
    EXPECT_EQ(Parse(ScriptParseCommandDefs, b), -1);
    EXPECT_TRUE(BadFile(kScriptCmdDefFile)) << g_ErrLastText;
    EXPECT_STREQ(g_CmdNames[14], "end") << "the definitions in force stay";
  }
}

// ---- Variable slots, file list, variable definitions -----------------------------------------

TEST_F(LoadTest, VariableSlots) {
  ASSERT_EQ(Parse(ScriptParseVarSlots, KitVarSlotsBuild(1200, 77)), 0);
  EXPECT_EQ(g_VarCount, 1201u);
  EXPECT_EQ(g_VarSlotValue, 77u);
  ASSERT_EQ(TestDeclare(117, VAR_TYPE_INT, {}), 0);
  EXPECT_EQ(VarGetIntElement(117, 0), 77) << "system variable 117";
  for (const Bytes& b : {KitVarSlotsBuild(10, 0, 492), KitVarSlotsBuild(70000, 0), Bytes(12, 0)}) {
    ClearErr();
    EXPECT_EQ(Parse(ScriptParseVarSlots, b), -1);
    EXPECT_TRUE(BadFile(kScriptVarSlotFile)) << g_ErrLastText;
  }
}

TEST_F(LoadTest, ScriptFileList) {
  ASSERT_EQ(Parse(ScriptParseFileList, KitFileListBuild({{1, "b.zs", 5}, {0, "a.zs", 6}, {1, "b2.zs", 7}})), 0);
  EXPECT_EQ(g_ScriptFileCount, 3u);
  EXPECT_STREQ(g_ScriptFileNames[0], "a.zs");
  EXPECT_STREQ(g_ScriptFileNames[1], "b2.zs") << "a later record of a number wins";
  EXPECT_EQ(g_ScriptFileNames[2], nullptr);
  EXPECT_EQ(g_ScriptFileValues[0], 5u) << "values by record position";
  EXPECT_EQ(g_ScriptFileValues[2], 7u);
  ASSERT_NE(g_ScriptFiles, nullptr);

  ClearErr();
  EXPECT_EQ(Parse(ScriptParseFileList, KitFileListBuild({{0, "a", 0}, {2, "c", 0}})), -1);
  EXPECT_EQ(g_ErrLastText, "E901030|2||||");
  Bytes cut = KitFileListBuild({{0, "abc", 0}});
  cut.pop_back();
  Bytes huge = KitFileListBuild({{0, "a", 0}});
  KitPatchU32(huge, SCRIPT_HEADER_COUNT_AT, 0xFFFFFFFF);
  Bytes long_name = KitFileListBuild({{0, "a", 0}});
  KitPatchU32(long_name, FILELIST_RECORDS_AT + 4, 1000);
  for (const Bytes& b : {cut, huge, long_name}) {
    ClearErr();
    EXPECT_EQ(Parse(ScriptParseFileList, b), -1);
    EXPECT_TRUE(BadFile(kScriptFileListFile)) << g_ErrLastText;
  }
  EXPECT_EQ(g_ScriptFileCount, 3u) << "the list in force stays";
}

TEST_F(LoadTest, VariableDefinitionsByGroup) {
  std::vector<KitVarDef> defs(5);
  defs[0] = {VARDEF_GROUP_GLOBAL, 2, 0, 1000, 1, {2, 3}, -7, 0.0, {}};
  defs[1] = {VARDEF_GROUP_GLOBAL2, 1, 0, 1001, 2, {}, 0, 1.25, {}};
  defs[2] = {
      VARDEF_GROUP_GLOBAL, 1, 0, 1002, 3, {2}, 0, 0.0, Cat(Cat(KitCodeStr("ab"), KitCodeStr("cd")), KitCodeOp('+'))};
  defs[3] = {VARDEF_GROUP_FILE, 1, 1, 1003, 1, {}, 11, 0.0, {}};
  defs[4] = {VARDEF_GROUP_FILE, 1, 2, 1004, 1, {}, 12, 0.0, {}};
  ASSERT_EQ(Parse(ScriptParseVarDefs, KitVarDefsBuild(defs)), 0);
  EXPECT_EQ(g_VarDefCount, 5u);
  ASSERT_EQ(VarDeclareFile(-1), 0);
  VarRecord* grid = VarRecordOf(1000);
  EXPECT_EQ(grid->var_class, 2);
  EXPECT_EQ(grid->count, 6);
  EXPECT_EQ(VarGetIntElement(1000, 5), -7);
  EXPECT_DOUBLE_EQ(VarGetFloatElement(1001, 0), 1.25);
  EXPECT_STREQ(VarGetStrElement(1002, 1), "abcd");
  EXPECT_EQ(VarRecordOf(1003)->type, 0) << "file variables wait for their file";
  ASSERT_EQ(VarDeclareFile(1), 0);
  EXPECT_EQ(VarGetIntElement(1003, 0), 11);
  EXPECT_EQ(VarRecordOf(1004)->type, 0);
  VarDefView v;
  ASSERT_TRUE(ScriptVarDefGet(0, &v));
  EXPECT_EQ(v.dims[1], 3u);
  EXPECT_FALSE(ScriptVarDefGet(5, &v));
}

TEST_F(LoadTest, VariableDefinitionFailures) {
  // An id outside the table fails the declaration with 900070.
  ASSERT_EQ(Parse(ScriptParseVarDefs, KitVarDefsBuild({{VARDEF_GROUP_GLOBAL, 1, 0, 1200, 1, {}, 0, 0.0, {}}})), 0);
  EXPECT_EQ(VarDeclareFile(-1), -1);
  EXPECT_EQ(g_ErrLastText, "E900070|1200||||");
  // A size of 0 fails the store.
  ClearErr();
  ASSERT_EQ(Parse(ScriptParseVarDefs, KitVarDefsBuild({{VARDEF_GROUP_GLOBAL, 1, 0, 1000, 1, {0}, 0, 0.0, {}}})), 0);
  EXPECT_EQ(VarDeclareFile(-1), -1);
  EXPECT_TRUE(TestRaised(ERR_VAR_TOO_FEW));
  // Malformed files: nine dimensions, an unknown type, a cut initial value, a count too high.
  Bytes nine = KitVarDefsBuild({{VARDEF_GROUP_GLOBAL, 1, 0, 1000, 1, {1, 1, 1, 1, 1, 1, 1, 1, 1}, 0, 0.0, {}}});
  Bytes type4 = KitVarDefsBuild({{VARDEF_GROUP_GLOBAL, 1, 0, 1000, 4, {}, 0, 0.0, {}}});
  Bytes cut = KitVarDefsBuild({{VARDEF_GROUP_GLOBAL, 1, 0, 1000, 3, {}, 0, 0.0, KitCodeStr("long text")}});
  cut.resize(cut.size() - 3);
  Bytes count = KitVarDefsBuild({{VARDEF_GROUP_GLOBAL, 1, 0, 1000, 1, {}, 0, 0.0, {}}});
  count[VARDEF_COUNT_AT] = 2;
  for (const Bytes& b : {nine, type4, cut, count}) {
    ClearErr();
    EXPECT_EQ(Parse(ScriptParseVarDefs, b), -1);
    EXPECT_TRUE(BadFile(kScriptVarDefFile)) << g_ErrLastText;
  }
}

// ---- Labels ----------------------------------------------------------------------------------

TEST_F(LoadTest, LabelsAreFoundThroughTheirBuckets) {
  std::vector<KitLabel> labels;
  for (int i = 0; i < 500; i++)
    labels.push_back({"L" + std::to_string(i), static_cast<u32>(i), static_cast<u16>(i % 3), 1, 2});
  ASSERT_EQ(Parse(ScriptParseLabels, KitLabelsBuild(labels)), 0);
  EXPECT_EQ(g_LabelCount, 500u);
  for (int i = 0; i < 500; i += 37) {
    std::string name = "L" + std::to_string(i);
    i32 index = ScriptFindLabel(name.c_str(), static_cast<u32>(name.size()));
    ASSERT_GE(index, 0) << name;
    EXPECT_STREQ(g_Labels[index]->name, name.c_str());
    EXPECT_EQ(g_Labels[index]->line, static_cast<u32>(i));
    EXPECT_EQ(g_Labels[index]->block_depth, 1);
    EXPECT_EQ(g_Labels[index]->loop_depth, 2);
    EXPECT_EQ(g_Labels[index]->hash, HashMurmur2(name.data(), name.size(), 0));
  }
  EXPECT_EQ(ScriptFindLabel("L500", 4), -1);
  EXPECT_EQ(ScriptFindLabel("l1", 2), -1) << "names compare exactly";
  // Sorted by hash: each label sits at or after its bucket's first index.
  for (u32 i = 0; i < g_LabelCount; i++) EXPECT_LE(g_LabelBuckets[g_Labels[i]->hash >> 24], i == 0 ? 0 : i);
}

TEST_F(LoadTest, AnEmptyBucketFailsAtOnce) {
  // One label: every bucket but its own holds the count, so other names end the search there.
  ASSERT_EQ(Parse(ScriptParseLabels, KitLabelsBuild({{"ONLY", 0, 0, 0, 0}})), 0);
  u32 own = HashMurmur2("ONLY", 4, 0) >> 24;
  for (u32 b = 1; b < LABEL_BUCKETS; b++) EXPECT_EQ(g_LabelBuckets[b], b == own ? 0u : 1u);
  EXPECT_EQ(ScriptFindLabel("ONLY", 4), 0);
  EXPECT_EQ(ScriptFindLabel("OTHER", 5), -1);
  ASSERT_EQ(Parse(ScriptParseLabels, KitLabelsBuild({})), 0);
  EXPECT_EQ(ScriptFindLabel("ONLY", 4), -1);
}

TEST_F(LoadTest, LabelsOutsideTheFilesOrTooDeepAreRefused) {
  Bytes cut = KitLabelsBuild({{"A", 0, 0, 0, 0}});
  cut.pop_back();
  Bytes huge = KitLabelsBuild({{"A", 0, 0, 0, 0}});
  KitPatchU32(huge, SCRIPT_HEADER_COUNT_AT, 0x20000000);
  for (const Bytes& b : {KitLabelsBuild({{"A", 0, 3, 0, 0}}), KitLabelsBuild({{"A", 0, 0, 64, 0}}),
                         KitLabelsBuild({{"A", 0, 0, 0, -1}}), cut, huge, Bytes(100, 0)}) {
    ClearErr();
    EXPECT_EQ(Parse(ScriptParseLabels, b), -1);
    EXPECT_TRUE(BadFile(kScriptLabelFile)) << g_ErrLastText;
  }
}

// ---- Bodies ----------------------------------------------------------------------------------

TEST_F(LoadTest, BodyBindsEveryLineToItsTables) {
  ASSERT_EQ(w.Bind(1, {{14, 0, {}, 10, -1},
                       {9, 7, {TestArg(3, KitCodeInt(1)), TestArg(4, KitCodeInt(2))}, 11, -1},
                       {200, 0, {TestArg(0, KitCodeStr("x"), 3)}, 12, -1},
                       {24, 0, {}, 13, -1}}),
            1);
  const ScriptFileRecord* rec = g_ScriptFiles[1];
  ASSERT_NE(rec, nullptr);
  EXPECT_EQ(rec->line_count, 4u);
  EXPECT_EQ(rec->handlers[1][0], CmdProgramEnd);
  EXPECT_EQ(rec->handlers[1][1], CmdNop);
  EXPECT_EQ(rec->handlers[1][2], CmdUndefined) << "an opcode above 118";
  EXPECT_EQ(rec->handlers[1][3], g_CmdHandlers[24]) << "the handler the table holds for the slot";
  for (u32 i = 0; i < 4; i++) EXPECT_NE(rec->handlers[0][i], nullptr) << "the pump wait before each line";
  EXPECT_EQ(rec->line_flags[1], 7);
  EXPECT_EQ(rec->arg_counts[1], 2);
  EXPECT_EQ(rec->arg_records[1]->param, 3);
  EXPECT_EQ(rec->arg_records[2]->param, 0);
  EXPECT_EQ(rec->arg_records[2], rec->arg_records[1] + 2);
  EXPECT_EQ(rec->line_numbers[3], 13u);
  EXPECT_EQ(w.task->file_no, 1);
  EXPECT_EQ(w.task->line_count, 4u);
  EXPECT_EQ(w.task->expr_size, rec->expr_size);

  // A second load of the same number keeps the first record and reads nothing.
  Bytes other = KitBodyBuild({});
  EXPECT_EQ(ScriptBindFile(1, TestOwn(other), static_cast<u32>(other.size())), 1);
  EXPECT_EQ(g_ScriptFiles[1], rec);
  EXPECT_EQ(ScriptLoadFile(1), 1);

  ClearErr();
  EXPECT_EQ(ScriptLoadFile(3), 0);
  EXPECT_EQ(g_ErrLastText, "E901030|3||||");
}

TEST_F(LoadTest, RunningLinesOfUnbuiltUndefinedAndNopSlots) {
  g_ErrScriptPosition = ScriptErrorPosition;
  ASSERT_EQ(Parse(ScriptParseCommandDefs, KitCmdDefsBuild()), 0);
  // A slot whose command is not built, made so for the test whatever the table holds.
  const TaskLineHandler kept = g_CmdHandlers[24];
  g_CmdHandlers[24] = CmdNotBuilt;
  const i32 bound = w.Bind(0, {{24, 0, {}, 40, -1},
                               {17, 0, {}, 41, -1},
                               {250, 0, {}, 42, -1},
                               {9, 0, {TestArg(0, std::vector<u8>{'Q', 0, 0})}, 43, -1}});
  g_CmdHandlers[24] = kept;
  ASSERT_EQ(bound, 1);
  Texts();
  EXPECT_EQ(w.Run(0), -1);
  EXPECT_NE(g_ErrLastText.find("E900050|flash_close"), std::string::npos) << g_ErrLastText;
  EXPECT_NE(g_ErrLastText.find("script\\file0.zs"), std::string::npos) << "the header names the file";
  EXPECT_NE(g_ErrLastText.find("40"), std::string::npos) << "and the source line";
  EXPECT_EQ(g_QuitRequested.load(), 1);
  for (u32 line : {1u, 2u}) {
    ClearErr();
    EXPECT_EQ(w.Run(line), -1);
    EXPECT_TRUE(TestRaised(ERR_CMD_UNDEFINED));
  }
  ClearErr();
  EXPECT_EQ(w.Run(3), 0) << "a no-op slot decodes nothing";
  EXPECT_EQ(g_ErrLastText, "");
}

TEST_F(LoadTest, DamagedBodiesAreRefused) {
  Bytes good = KitBodyBuild({{14, 0, {TestArg(0, KitCodeInt(1))}, 1, -1}, {14, 0, {}, 2, -1}});
  struct Case {
    Bytes body;
    const char* why;
  } cases[] = {
      {Bytes(good.begin(), good.begin() + 20), "header cut"},
      {Bytes(good.begin(), good.end() - 1), "line-number area cut"},
      {Bytes{}, "empty"},
  };
  std::vector<Case> all(std::begin(cases), std::end(cases));
  Bytes lines = good;
  KitPatchU32(lines, BODY_LINES_AT, 3);  // three lines in an area of two
  all.push_back({lines, "more lines than the command area"});
  Bytes huge = good;
  KitPatchU32(huge, BODY_EXPR_SIZE_AT, 0xFFFFFFF0u);
  all.push_back({huge, "area sizes beyond the file (and past 32 bits)"});
  Bytes args = KitBodyBuild({{14, 0, {TestArg(0, KitCodeInt(1))}, 1, 5}});
  all.push_back({args, "argument counts beyond the argument area"});
  Bytes numbers = good;
  KitPatchU32(numbers, BODY_LINENO_SIZE_AT, 4);
  all.push_back({numbers, "line-number area shorter than the lines"});
  for (const Case& c : all) {
    SCOPED_TRACE(c.why);
    ClearErr();
    EXPECT_EQ(ScriptBindFile(0, TestOwn(c.body), static_cast<u32>(c.body.size())), 0);
    EXPECT_TRUE(BadFile("chbin\\zpt00000.zbn")) << g_ErrLastText;
    EXPECT_EQ(g_ScriptFiles[0], nullptr) << "nothing is cached";
  }
  // A body with no lines is fine and declares its variables.
  ASSERT_EQ(Parse(ScriptParseVarDefs, KitVarDefsBuild({{VARDEF_GROUP_FILE, 1, 2, 1000, 1, {}, 5, 0.0, {}}})), 0);
  Bytes empty = KitBodyBuild({});
  EXPECT_EQ(ScriptBindFile(2, TestOwn(empty), static_cast<u32>(empty.size())), 1);
  EXPECT_EQ(g_ScriptFiles[2]->line_count, 0u);
  EXPECT_EQ(VarGetIntElement(1000, 0), 5);
}

TEST_F(LoadTest, ConstantLabelsArePreResolvedAndOthersAreNot) {
  std::vector<KitLabel> labels = {{"START", 0, 0, 0, 0}, {"TARGET", 3, 1, 0, 0}, {"SUB", 1, 2, 0, 0}};
  ASSERT_EQ(Parse(ScriptParseLabels, KitLabelsBuild(labels)), 0);
  i32 target = ScriptFindLabel("TARGET", 6), sub = ScriptFindLabel("SUB", 3);
  ASSERT_GE(target, 0);
  ASSERT_GE(sub, 0);
  ASSERT_EQ(TestDeclare(1000, VAR_TYPE_STR, {}), 0);
  VarSetStrElement(1000, 0, "TARGET");
  Bytes built = Cat(Cat(KitCodeStr("TAR"), KitCodeStr("GET")), KitCodeOp('+'));
  Bytes from_var = KitCodeVar('H', 1000);
  auto call = [](const Bytes& label) {
    return KitLine{CMD_LABEL_CALL, 1, {TestArg(0, label, 3), TestArg(1, KitCodeInt(5))}, 0, -1};
  };
  ASSERT_EQ(w.Bind(0, {{CMD_LABEL_JUMP, 0, {TestArg(0, KitCodeStr("TARGET"), 3)}, 0, -1},
                       {CMD_LABEL_JUMP, 0, {TestArg(0, built, 3)}, 0, -1},
                       {CMD_LABEL_JUMP, 0, {TestArg(0, from_var, 3)}, 0, -1},
                       {CMD_LABEL_JUMP, 0, {TestArg(0, KitCodeStr("NOWHERE"), 3)}, 0, -1},
                       call(KitCodeStr("SUB")),
                       call(from_var),
                       call(KitCodeStr("NOWHERE"))}),
            1);
  const ScriptFileRecord* rec = g_ScriptFiles[0];
  EXPECT_EQ(rec->arg_records[0]->size, SCRIPT_JUMP_RESOLVED + static_cast<u32>(target));
  EXPECT_EQ(rec->arg_records[1]->size, SCRIPT_JUMP_RESOLVED + static_cast<u32>(target)) << "constant, though built";
  EXPECT_EQ(rec->arg_records[2]->size, from_var.size()) << "built from a variable: resolved when it runs";
  EXPECT_EQ(rec->arg_records[3]->size, KitCodeStr("NOWHERE").size()) << "unknown: the error comes when it runs";
  EXPECT_EQ(ArgCallLabel(rec->arg_records[4]), static_cast<u16>(sub));
  EXPECT_EQ(rec->arg_records[4][1].value_type, 1) << "only parameter 0 carries the label";
  EXPECT_EQ(ArgCallLabel(rec->arg_records[5]), 0);
  EXPECT_EQ(ArgCallLabel(rec->arg_records[6]), 0);
  EXPECT_EQ(g_ErrLastText, "") << "nothing was raised by the constant evaluations";
  // The variable readers are real again afterwards.
  char buf[EXPR_STR_BUF];
  ExprEvalStr(from_var.data(), static_cast<u32>(from_var.size()), buf);
  EXPECT_STREQ(buf, "TARGET");
}

TEST_F(LoadTest, CallLabelsPastSixteenBitsResolveAtRunTime) {
  std::vector<KitLabel> labels;
  for (u32 i = 0; i < 65538; i++) labels.push_back({"N" + std::to_string(i), i, 0, 0, 0});
  ASSERT_EQ(Parse(ScriptParseLabels, KitLabelsBuild(labels)), 0);
  // Find a name whose index does not fit 16 bits, and one whose index does.
  std::string high, low;
  for (u32 i = 0; i < g_LabelCount && (high.empty() || low.empty()); i++) {
    if (i > 0xFFFF && high.empty()) high = g_Labels[i]->name;
    if (i > 0 && i <= 0xFFFF && low.empty()) low = g_Labels[i]->name;
  }
  ASSERT_FALSE(high.empty());
  ASSERT_EQ(w.Bind(0, {{CMD_LABEL_CALL, 0, {TestArg(0, KitCodeStr(high), 3)}, 0, -1},
                       {CMD_LABEL_CALL, 0, {TestArg(0, KitCodeStr(low), 3)}, 0, -1},
                       {CMD_LABEL_JUMP, 0, {TestArg(0, KitCodeStr(high), 3)}, 0, -1}}),
            1);
  const ScriptFileRecord* rec = g_ScriptFiles[0];
  EXPECT_EQ(ArgCallLabel(rec->arg_records[0]), 0) << "no truncated index in the 16-bit field";
  EXPECT_EQ(ArgCallLabel(rec->arg_records[1]),
            static_cast<u16>(ScriptFindLabel(low.c_str(), static_cast<u32>(low.size()))));
  EXPECT_EQ(rec->arg_records[2]->size,
            SCRIPT_JUMP_RESOLVED + static_cast<u32>(ScriptFindLabel(high.c_str(), static_cast<u32>(high.size()))));
}

TEST_F(LoadTest, BodiesAreUnscrambledWithTheScriptKey) {
  const u8* key = KitScriptKey();
  std::vector<KitLine> lines = {{14, 3, {TestArg(0, KitCodeInt(1)), TestArg(1, KitCodeStr("abcdefg"), 3)}, 99, -1},
                                {29, 0, {TestArg(0, KitCodeInt(30))}, 100, -1}};
  Bytes plain = KitBodyBuild(lines, false);
  Bytes scrambled = KitBodyBuild(lines, true);
  ASSERT_EQ(plain.size(), scrambled.size());
  // Each of the four areas is scrambled with the key restarted at its own first byte.
  size_t at = BODY_HEADER_SIZE;
  for (size_t field :
       {size_t(BODY_CMD_SIZE_AT), size_t(BODY_ARG_SIZE_AT), size_t(BODY_EXPR_SIZE_AT), size_t(BODY_LINENO_SIZE_AT)}) {
    u32 size = static_cast<u32>(plain[field] | plain[field + 1] << 8 | plain[field + 2] << 16 | plain[field + 3] << 24);
    for (u32 i = 0; i < size; i++)
      ASSERT_EQ(scrambled[at + i], plain[at + i] ^ key[i % 4]) << "area at " << at << " byte " << i;
    at += size;
  }
  EXPECT_EQ(at, plain.size());
  EXPECT_TRUE(std::equal(plain.begin(), plain.begin() + BODY_HEADER_SIZE, scrambled.begin())) << "the header is plain";
  ASSERT_EQ(ScriptBindFile(0, TestOwn(scrambled), static_cast<u32>(scrambled.size())), 1);
  EXPECT_EQ(g_ScriptFiles[0]->opcodes[1], 29);
  EXPECT_EQ(g_ScriptFiles[0]->line_flags[0], 3);
  EXPECT_EQ(g_ScriptFiles[0]->line_numbers[1], 100u);
  EXPECT_EQ(g_ScriptFiles[0]->arg_records[0][1].size, KitCodeStr("abcdefg").size());
}
