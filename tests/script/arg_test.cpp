#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "script_fixture.h"
#include "script_test_util.h"
#include "shell/frame.h"
#include "shell/startup.h"
#include "shell/window.h"

namespace {

std::vector<u8> Cat(std::vector<u8> a, const std::vector<u8>& b, const std::vector<u8>& c) {
  a.insert(a.end(), b.begin(), b.end());
  a.insert(a.end(), c.begin(), c.end());
  return a;
}

// Slot 0 with parameter p<c> of range class c for c = 0 to 28, then parameters of each kind.
enum { P_NUM = 29, P_STR1 = 30, P_STR2 = 31, P_RAW = 32 };

std::vector<KitCmdDef> ProbeTable() {
  std::vector<KitCmdDef> t = KitCommandTable();
  KitCmdDef& probe = t[0];
  probe.name = "probe";
  probe.params.clear();
  for (u8 c = 0; c <= ARG_CLASS_MAX; c++)
    probe.params.push_back({c, "p" + std::to_string(c), ARG_KIND_NUMBER, c, false});
  probe.params.push_back({P_NUM, "num", ARG_KIND_NUMBER, 0, false});
  probe.params.push_back({P_STR1, "str1", ARG_KIND_STRING, 0, false});
  probe.params.push_back({P_STR2, "str2", ARG_KIND_STRING, 0, false});
  probe.params.push_back({P_RAW, "raw", ARG_KIND_RAW, 0, false});
  return t;
}

struct ArgTest : ::testing::Test {
  ScriptWorld w;
  std::vector<KitCmdDef> table = ProbeTable();

  void SetUp() override {
    w.Open(4, &table);
    TestErrTextsWithArgs({ERR_ARG_RANGE, ERR_ARG_MINIMUM, ERR_ARG_COLOUR_OR_NONE, ERR_ARG_COLOUR, ERR_ARG_ABOVE,
                          ERR_ARG_NEGATIVE, ERR_EXPR_BAD_CODE, ERR_CMD_UNDEFINED});
    ASSERT_EQ(WinObjsCreate(), 0);
    g_WindowObjects[0]->width = 640;
    g_WindowObjects[0]->height = 480;
  }
  void TearDown() override {
    w.Close();
    WinReset();
  }
  static void ClearErr() {
    ErrReset();
    g_QuitRequested = 0;
  }
};

}  // namespace

TEST_F(ArgTest, EachRangeClassAtItsBounds) {
  struct Case {
    u8 cls;
    i64 value;
    i32 err;  // 0: accepted
  };
  std::vector<Case> cases = {
      {0, INT64_MIN, 0},
      {0, INT64_MAX, 0},
      {1, -1, ERR_ARG_MINIMUM},
      {1, INT64_MIN, ERR_ARG_MINIMUM},
      {1, 0, 0},
      {1, INT64_MAX, 0},
      {2, 0, ERR_ARG_MINIMUM},
      {2, 1, 0},
      {24, -1, 0},
      {24, 0, 0},
      {24, 0xFFFFFF, 0},
      {24, 0x1000000, ERR_ARG_COLOUR_OR_NONE},
      {24, -2, ERR_ARG_COLOUR_OR_NONE},
      {25, 0, 0},
      {25, 0xFFFFFF, 0},
      {25, 0x1000000, ERR_ARG_COLOUR},
      {25, -1, ERR_ARG_COLOUR},
      {26, 639, 0},
      {26, 640, ERR_ARG_RANGE},
      {27, 479, 0},
      {27, 480, ERR_ARG_RANGE},
      {28, -1, ERR_ARG_NEGATIVE},
      {28, 0, 0},
      {28, 3, 0},
      {28, 4, ERR_ARG_ABOVE},
  };
  // Classes 3 to 27 compare the low 32 bits as unsigned: one below the minimum fails (a negative
  // value as a large one), both ends pass, one above fails, and 2^32 + min passes.
  const i64 kRanges[][2] = {{0, 1},    {0, 2},    {0, 3},    {1, 3},     {0, 4},      {0, 8},    {1, 8},      {0, 15},
                            {0, 18},   {0, 256},  {1, 256},  {0, 512},   {0, 1024},   {1, 1024}, {128, 1024}, {0, 2048},
                            {1, 2048}, {0, 8192}, {1, 8192}, {16, 8192}, {128, 8192}, {0, 639},  {0, 479}};
  for (u8 c = 3; c <= 27; c++) {
    if (c == 24 || c == 25) continue;
    const i64* r = kRanges[c <= 23 ? c - 3 : c - 5];
    cases.push_back({c, r[0] - 1, ERR_ARG_RANGE});
    cases.push_back({c, r[0], 0});
    cases.push_back({c, r[1], 0});
    cases.push_back({c, r[1] + 1, ERR_ARG_RANGE});
    cases.push_back({c, (i64{1} << 32) + r[0], 0});
  }
  std::vector<KitLine> lines;
  for (const Case& k : cases) lines.push_back({0, 0, {TestArg(k.cls, KitCodeInt(k.value))}, 0, -1});
  ASSERT_EQ(w.Bind(0, lines), 1);
  for (size_t i = 0; i < cases.size(); i++) {
    const Case& k = cases[i];
    SCOPED_TRACE("class " + std::to_string(k.cls) + " value " + std::to_string(k.value));
    ClearErr();
    EXPECT_EQ(w.Run(static_cast<u32>(i)), k.err ? -1 : 0);
    if (k.err) {
      EXPECT_TRUE(TestRaised(k.err)) << g_ErrLastText;
      EXPECT_EQ(g_QuitRequested.load(), 1);
    } else {
      EXPECT_EQ(g_ErrLastText, "");
      EXPECT_EQ(g_ArgInt[1], k.value);
    }
  }
}

TEST_F(ArgTest, RangeErrorsCarryCommandArgumentValueAndLimits) {
  ASSERT_EQ(w.Bind(0, {{0, 0, {TestArg(12, KitCodeInt(257))}, 0, -1},
                       {0, 0, {TestArg(1, KitCodeInt(-5))}, 0, -1},
                       {0, 0, {TestArg(28, KitCodeInt(9))}, 0, -1},
                       {0, 0, {TestArg(24, KitCodeInt(0x1000000))}, 0, -1}}),
            1);
  struct Case {
    u32 line;
    const char* text;
  } cases[] = {
      {0, "E101000|probe|p12|257|0|256"},
      {1, "E101010|probe|p1|-5|0|"},
      {2, "E101210|probe|p28|9|3|"},
      {3, "E101020|probe|p24|16777216||"},
  };
  for (const Case& c : cases) {
    ClearErr();
    EXPECT_EQ(w.Run(c.line), -1);
    EXPECT_EQ(g_ErrLastText, c.text);
  }
}

TEST_F(ArgTest, DecodesByKindAndMapsEveryParameterId) {
  ASSERT_EQ(TestDeclare(1000, VAR_TYPE_INT, {5}), 0);
  VarSetNumElement(1000, 2, 12);
  std::vector<u8> raw = KitCodeInt(77);
  ASSERT_EQ(w.Bind(0, {{0,
                        0,
                        {TestArg(P_STR2, KitCodeStr("second"), 3),
                         TestArg(P_NUM, Cat(KitCodeVar('V', 1000), KitCodeInt(2), KitCodeOp(')')), 1, 3),
                         TestArg(P_STR1, KitCodeStr("first"), 3), TestArg(P_RAW, raw, 1), TestArg(200, KitCodeInt(5))},
                        0,
                        -1},
                       {0, 0, {}, 0, -1}}),
            1);
  EXPECT_EQ(w.Run(0), 0);
  EXPECT_EQ(g_ArgCount, 5);
  EXPECT_EQ(ArgPos(P_STR2), 1);
  EXPECT_EQ(ArgPos(P_NUM), 2);
  EXPECT_EQ(ArgPos(200), 5) << "ids beyond the definitions are mapped too";
  EXPECT_EQ(ArgInt(200), 5);
  EXPECT_FALSE(ArgGiven(0));
  EXPECT_EQ(ArgInt(0), 0);
  EXPECT_STREQ(ArgStr(P_STR1), "first");
  EXPECT_STREQ(ArgStr(P_STR2), "second") << "two strings keep their own buffers";
  EXPECT_STREQ(ArgStr(P_NUM), "") << "a number argument has no string";
  EXPECT_EQ(ArgInt(P_NUM), 12);
  EXPECT_EQ(g_ArgVarId[2], 1000u);
  EXPECT_EQ(g_ArgVarElem[2], 2);
  EXPECT_EQ(g_ArgOp[2], 3u);
  EXPECT_EQ(g_ArgValueType[1], 3u);
  ASSERT_NE(g_ArgRaw[4], nullptr);
  EXPECT_EQ(std::vector<u8>(g_ArgRaw[4], g_ArgRaw[4] + g_ArgSize[4]), raw) << "raw: the byte code as it stands";
  EXPECT_EQ(ArgInt(P_RAW), 0) << "nothing evaluated";
  // The next line gives nothing: every parameter reads as not given.
  EXPECT_EQ(w.Run(1), 0);
  EXPECT_EQ(g_ArgCount, 0);
  EXPECT_FALSE(ArgGiven(P_STR1));
  EXPECT_STREQ(ArgStr(P_STR1), "");
}

TEST_F(ArgTest, TwoHundredFiftyFiveRecordsOnOneLine) {
  KitLine line{0, 0, {}, 0, -1};
  for (int k = 0; k < 255; k++) line.args.push_back(TestArg(static_cast<u8>(k), KitCodeInt(k)));
  ASSERT_EQ(w.Bind(0, {line}), 1);
  ASSERT_EQ(w.Run(0), -1) << "p1 (class 1) takes 1, p2 (class 2) 2 ... p3 (0..1) is given 3";
  ClearErr();
  // Class 0 everywhere: all 255 decode.
  std::vector<KitCmdDef> open = KitCommandTable();
  open[0].params.clear();
  w.Close();
  w.Open(4, &open);
  ASSERT_EQ(w.Bind(0, {line}), 1);
  ASSERT_EQ(w.Run(0), 0);
  EXPECT_EQ(g_ArgCount, 255);
  EXPECT_EQ(ArgPos(254), 255);
  EXPECT_EQ(ArgInt(254), 254);
}

TEST_F(ArgTest, MalformedRecordsFailTheDecode) {
  KitArg outside = TestArg(P_NUM, KitCodeInt(1));
  outside.fields_as_given = true;
  outside.size = 3;
  outside.offset = 0xFFFFFFF0u;  // offset + size beyond the expression area (and past 32 bits)
  ASSERT_EQ(w.Bind(0, {{0, 0, {TestArg(P_NUM, KitCodeInt(1), 0)}, 0, -1},
                       {0, 0, {TestArg(P_NUM, KitCodeInt(1), 10)}, 0, -1},
                       {0, 0, {TestArg(P_STR1, KitCodeStr("x"), 7)}, 0, -1},
                       {0, 0, {outside}, 0, -1},
                       {0, 0, {TestArg(P_NUM, std::vector<u8>{'Q', 0, 0})}, 0, -1}}),
            1);
  for (u32 line : {0u, 1u, 2u, 3u}) {
    SCOPED_TRACE(line);
    ClearErr();
    EXPECT_EQ(w.Run(line), -1);
    EXPECT_TRUE(TestRaised(ERR_EXPR_BAD_CODE));
  }
  // An error inside an evaluation is fatal, but the decode goes on with the value left.
  ClearErr();
  EXPECT_EQ(w.Run(4), 0);
  EXPECT_TRUE(TestRaised(ERR_EXPR_BAD_CODE));
  EXPECT_EQ(g_QuitRequested.load(), 1);
}

TEST_F(ArgTest, WithoutARunningThreadNothingIsGiven) {
  g_CurrentTask = nullptr;
  EXPECT_EQ(ArgDecode(0), 0);
  EXPECT_EQ(g_ArgCount, 0);
  g_CurrentTask = w.task;
  ASSERT_EQ(w.Bind(0, {{0, 0, {TestArg(P_NUM, KitCodeInt(1))}, 0, -1}}), 1);
  g_CurrentLine = 1;  // past the last line
  EXPECT_EQ(ArgDecode(0), 0);
  EXPECT_EQ(g_ArgCount, 0);
}
