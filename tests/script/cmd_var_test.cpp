// The variable and data commands run from compiled lines: define, assignment with every
// operator, the label test, the variable utilities and the information query.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "cmd_game.h"
#include "script/cmd_var.h"

namespace {

struct CmdVarTest : CmdGameTest {
  void SetUp() override {
    plain_codes = {ERR_VAR_WRONG_TYPE,   ERR_VAR_READ_ONLY,     ERR_VAR_CONVERT,       ERR_VAR_NOT_NUMBER,
                   ERR_VAR_NOT_STRING,   ERR_VAR_EXTRACT_START, ERR_VAR_EXTRACT_COUNT, ERR_VAR_REMOVE_START,
                   ERR_VAR_REMOVE_COUNT, ERR_VAR_TOO_MANY};
    named_codes = {ERR_VAR_EMPTY_STRING};
  }
};

// Shift-JIS bytes of a few characters used below.
const std::string kA = "\x82\xa0";      // あ
const std::string kKanji = "\x8a\xbf";  // 漢

}  // namespace

TEST_F(CmdVarTest, DefineGivesShapeAndInitialValue) {
  Load(
      "global int a[1][1]\nglobal float f[1]\nglobal str s[1]\nglobal int n[5]\n*SYSTEM_START\n"
      "dim_int var=a[3][4], value=7\ndim_float var=f[2], value=1.25\ndim_str var=s[3], value='x' + 'y'\n"
      "dim_int var=n, value=2\n");
  RunAll(0, 2);
  const VarRecord* a = VarRecordOf(1000);
  ASSERT_EQ(a->count, 12);
  EXPECT_EQ(a->dim_count, 2);
  EXPECT_EQ(a->type, VAR_TYPE_INT);
  for (i64 k = 0; k < 12; k++) EXPECT_EQ(VarGetIntElement(1000, k), 7);
  EXPECT_EQ(VarRecordOf(1001)->count, 2);
  EXPECT_DOUBLE_EQ(VarGetFloatElement(1001, 1), 1.25);
  EXPECT_EQ(Str(1002, 2), "xy");
  RunAll(3, 3);
  EXPECT_EQ(VarRecordOf(1003)->count, 1) << "without sizes a scalar";
  EXPECT_EQ(VarRecordOf(1003)->dim_count, 0);
  EXPECT_EQ(VarGetIntElement(1003, 0), 2);
}

TEST_F(CmdVarTest, DefineStringEvaluatesItsValueWhateverTheDefinitionsKind) {
  // The value is evaluated by the command itself with the string entry of value type 3.
  for (u8 kind : {ARG_KIND_STRING, ARG_KIND_NUMBER, ARG_KIND_RAW}) {
    Load("global str s[1]\n*SYSTEM_START\ndim_str var=s[2], value='ab' + 'c'\n");
    TestDefineParamKind(90, 1, kind);
    ASSERT_EQ(w.Run(0), 0) << int(kind) << ": " << g_ErrLastText;
    EXPECT_EQ(VarRecordOf(1000)->count, 2) << int(kind);
    EXPECT_EQ(Str(1000, 0), "abc") << int(kind);
    EXPECT_EQ(Str(1000, 1), "abc") << int(kind);
    w.Close();
  }
}

TEST_F(CmdVarTest, EngineValuesKeepWhatScriptsWrite) {
  // 138 and 139 are two values that scripts set: a read gives what was written; 136 reads 0.
  Load(
      "global int r[5]\n*SYSTEM_START\n@138 = 77\n@139 = -5\n@138 += 3\n"
      "r[0] = @138\nr[1] = @139\nr[2] = @136\n@139 = 1099511627776\nr[3] = @139\n");
  RunAll(0, 7);
  EXPECT_EQ(VarGetIntElement(1000, 0), 80);
  EXPECT_EQ(VarGetIntElement(1000, 1), -5);
  EXPECT_EQ(VarGetIntElement(1000, 2), 0);
  EXPECT_EQ(VarGetIntElement(1000, 3), i64{1} << 40);
}

TEST_F(CmdVarTest, DefineTooLargeFails) {
  Load("global int a[1][1]\n*SYSTEM_START\ndim_int var=a[4000][4000], value=1\n");
  EXPECT_EQ(w.Run(0), -1);
  EXPECT_TRUE(TestRaised(ERR_VAR_TOO_MANY)) << g_ErrLastText;
}

TEST_F(CmdVarTest, IntegerOperators) {
  static const struct {
    const char* op;
    i64 operand, want;
  } kCases[] = {
      {"=", 3, 3},  {"+=", 3, 13}, {"-=", 3, 7}, {"*=", 3, 30}, {"/=", 3, 3}, {"/=", 0, 10},
      {"%=", 4, 2}, {"%=", 0, 10}, {"&=", 6, 2}, {"|=", 5, 15}, {"^=", 3, 9},
  };
  for (const auto& c : kCases) {
    Load("global int x = 10\n*SYSTEM_START\nx " + std::string(c.op) + " " + std::to_string(c.operand) + "\n");
    ASSERT_EQ(w.Run(0), 0);
    EXPECT_EQ(VarGetIntElement(1000, 0), c.want) << c.op << " " << c.operand;
    w.Close();
  }
}

TEST_F(CmdVarTest, FloatOperatorsUseFloatSources) {
  Load("global float f = 2.5\n*SYSTEM_START\nf += 1.25\nf *= 2\nf /= 0\nf -= 0.5\n");
  RunAll(0, 3);
  EXPECT_DOUBLE_EQ(VarGetFloatElement(1000, 0), 7.0);
}

TEST_F(CmdVarTest, WholeVariableFills) {
  Load("global int a[4]\nglobal float f[3]\nglobal str s[2]\n*SYSTEM_START\na[] = 9\nf[] = 0.5\ns[] = 'ok'\n");
  RunAll(0, 2);
  for (i64 k = 0; k < 4; k++) EXPECT_EQ(VarGetIntElement(1000, k), 9);
  for (i64 k = 0; k < 3; k++) EXPECT_DOUBLE_EQ(VarGetFloatElement(1001, k), 0.5);
  EXPECT_EQ(Str(1002, 0), "ok");
  EXPECT_EQ(Str(1002, 1), "ok");
}

TEST_F(CmdVarTest, StringAssignAndAppend) {
  Load("global str s[2]\n*SYSTEM_START\ns[1] = 'ab'\ns[1] += 'cd'\nlet target -= s[1], value='x'\n");
  RunAll(0, 1);
  EXPECT_EQ(Str(1000, 1), "abcd");
  EXPECT_EQ(w.Run(2), -1);
  EXPECT_TRUE(TestRaised(ERR_VAR_WRONG_TYPE));
  EXPECT_EQ(Str(1000, 1), "abcd");
}

TEST_F(CmdVarTest, AppendStopsAtAWholeCharacterWithinTheElement) {
  Load("global str s\nglobal str t = '" + kKanji + "'\n*SYSTEM_START\ns += t\ns += 'z'\ns += 'z'\n");
  const std::string base(4094, 'a');
  ASSERT_EQ(VarSetStrElement(1000, 0, base.c_str()), 0);
  RunAll(0, 0);
  EXPECT_EQ(Str(1000), base) << "a double-byte character that does not fit whole is left out";
  RunAll(1, 2);
  EXPECT_EQ(Str(1000), base + "z") << "single bytes fill up to 4095";
}

TEST_F(CmdVarTest, SystemVariables) {
  Load("global int r\n*SYSTEM_START\n@125 = 7\n@125 += 3\n@9 = 1\n@0 = 1\nr = @125\n");
  RunAll(0, 1);
  EXPECT_EQ(VarGetIntElement(125, 0), 10);
  // Read-only ones, the one of id 0 included.
  for (u32 line : {2u, 3u}) {
    ErrReset();
    g_QuitRequested = 0;
    EXPECT_EQ(w.Run(line), -1) << line;
    EXPECT_TRUE(TestRaised(ERR_VAR_READ_ONLY)) << line << ": " << g_ErrLastText;
  }
}

TEST_F(CmdVarTest, LabelExists) {
  Load(
      "global int r[2] = -1\nglobal str s\n*SYSTEM_START\nlabel_exists label='SYSTEM_START', result=r[0], test=1\n"
      "label_exists label='nowhere', result=r[1], test=1\nlabel_exists label='SYSTEM_START', result=r[1]\n"
      "label_exists label='SYSTEM_START', result=s, test=1\n");
  RunAll(0, 2);
  EXPECT_EQ(VarGetIntElement(1000, 0), 1);
  EXPECT_EQ(VarGetIntElement(1000, 1), 0) << "without the test parameter nothing is stored";
  EXPECT_EQ(w.Run(3), 0);
  EXPECT_TRUE(TestRaised(ERR_VAR_WRONG_TYPE));
}

TEST_F(CmdVarTest, VarInfoQueries) {
  Load("global int a[3][2]\nglobal str s = '" + kA + "b" + kKanji +
       "'\nglobal int r\nglobal str e\n*SYSTEM_START\n"
       "var_info var=a, result=r, type=1\nvar_info var=a, result=r, dims=1\nvar_info var=a, result=r, dim1=1\n"
       "var_info var=a, result=r, dim2=1\nvar_info var=s, result=r, length=1\nvar_info var=s, result=r, char=1\n"
       "var_info var=s, result=r, type=1\nvar_info var=a, result=r, length=1\nvar_info var=e, result=r, char=1\n"
       "var_info var=a, result=r, char=1\n");
  static const i64 kWant[] = {1, 2, 3, 2, 3, 0x82a0, 3};
  for (u32 i = 0; i < 7; i++) {
    ASSERT_EQ(w.Run(i), 0) << i;
    EXPECT_EQ(VarGetIntElement(1002, 0), kWant[i]) << "line " << i;
  }
  EXPECT_EQ(w.Run(7), -1);
  EXPECT_TRUE(TestRaised(ERR_VAR_NOT_STRING));
  EXPECT_EQ(w.Run(8), -1);
  EXPECT_TRUE(TestRaised(ERR_VAR_EMPTY_STRING));
  EXPECT_NE(g_ErrLastText.find("[var_info|char]"), std::string::npos) << g_ErrLastText;
  ErrReset();
  EXPECT_EQ(w.Run(9), -1) << "a number variable has no first character";
  EXPECT_TRUE(TestRaised(ERR_VAR_EMPTY_STRING)) << g_ErrLastText;
}

TEST_F(CmdVarTest, VarInfoSearch) {
  Load(
      "global int a[5]\nglobal float f[3]\nglobal str s[3]\nglobal int r\n*SYSTEM_START\n"
      "var_info var=a, result=r, find=1, find_int=4\nvar_info var=a, result=r, find=1, find_int=4, from=3\n"
      "var_info var=a, result=r, find=1, find_int=99\nvar_info var=a, result=r, find=1, find_int=4, from=-2\n"
      "var_info var=a, result=r, find=1, find_int=4, from=5\nvar_info var=f, result=r, find=1, find_float=2.5\n"
      "var_info var=s, result=r, find=1, find_text='b'\n");
  static const i64 kInts[] = {1, 4, 0, 4, 2};
  for (i64 k = 0; k < 5; k++) VarSetNumElement(1000, k, kInts[k]);
  VarSetFloatElement(1001, 2, 2.5);
  VarSetStrElement(1002, 1, "b");
  static const i64 kWant[] = {1, 3, -1, -1, -1, 2, 1};
  for (u32 i = 0; i < 7; i++) {
    ASSERT_EQ(w.Run(i), 0) << i;
    EXPECT_EQ(VarGetIntElement(1003, 0), kWant[i]) << "line " << i;
  }
}

TEST_F(CmdVarTest, DecodeOnlyCommands) {
  Load("*SYSTEM_START\nnop86 arg0=1, arg3=2\nnop99 arg1='x'\n");
  RunAll(0, 1);
  EXPECT_TRUE(g_ErrLastText.empty());
}
