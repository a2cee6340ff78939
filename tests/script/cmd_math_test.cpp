// Commands 61 and 62 against values worked out by hand or taken from tables (floats within
// 1e-12 relative), and command 10's styles and answers through the stderr dialog sink.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "cmd_game.h"
#include "common/rand.h"
#include "platform/platform.h"

namespace {

struct CmdMathTest : CmdGameTest {
  void SetUp() override {
    PlatDialogsSetStderr(true);
    PlatDialogsSetAnswer(0);
    RandReset();
    plain_codes = {ERR_VAR_WRONG_TYPE};
    named_codes = {};
  }
  void TearDown() override {
    PlatDialogsSetAnswer(0);
    CmdGameTest::TearDown();
  }
};

void ExpectNear(double got, double want, const std::string& what) {
  if (std::isnan(want)) {
    EXPECT_TRUE(std::isnan(got)) << what;
    return;
  }
  EXPECT_NEAR(got, want, 1e-12 * (std::fabs(want) > 1 ? std::fabs(want) : 1)) << what;
}

}  // namespace

TEST_F(CmdMathTest, FloatFunctions) {
  static const struct {
    const char* args;
    double want;
  } kCases[] = {
      {"sin=1, a=0.5", 0.479425538604203},
      {"cos=1, a=0.5", 0.8775825618903728},
      {"tan=1, a=0.5", 0.5463024898437905},
      {"asin=1, a=0.5", 0.5235987755982989},
      {"acos=1, a=0.5", 1.0471975511965979},
      {"sinh=1, a=1", 1.1752011936438014},
      {"cosh=1, a=1", 1.5430806348152437},
      {"tanh=1, a=1", 0.7615941559557649},
      {"atan=1, a=1", 0.7853981633974483},
      {"atan2=1, a=1, b=-1", 2.356194490192345},
      {"sqrt=1, a=2", 1.4142135623730951},
      {"exp=1, a=1", 2.718281828459045},
      {"log=1, a=10", 2.302585092994046},
      {"log10=1, a=1000", 3.0},
      {"pow=1, a=2, b=0.5", 1.4142135623730951},
      {"sin=1, cos=1, a=0.5", 0.479425538604203},
      {"sqrt=1, a=-1", NAN},
      {"tan=1, asin=1, a=3.5", 0.3745856401585947},
      {"abs=1, a=-2.25", 2.25},
      // sin and cos evaluate in float arithmetic whatever the operand's value type; the other
      // functions through the entry of its own value type (integer arithmetic for 7 / 2).
      {"sin=1, a=7 / 2", -0.35078322768961984},
      {"cos=1, a=7 / 2", -0.9364566872907963},
      {"tan=1, a=7 / 2", -0.1425465430742778},
      {"sqrt=1, a=7 / 2", 1.7320508075688772},
  };
  for (const auto& c : kCases) {
    Load(std::string("global float r\n*SYSTEM_START\nmath result=r, ") + c.args + "\n");
    ASSERT_EQ(w.Run(0), 0) << c.args;
    ExpectNear(VarGetFloatElement(1000, 0), c.want, c.args);
    w.Close();
  }
}

TEST_F(CmdMathTest, IntegerResults) {
  static const struct {
    const char* args;
    i64 want;
  } kCases[] = {
      {"abs=1, a=-7", 7},
      {"abs=1, a=-9223372036854775807 - 1", INT64_MAX},
      {"crc=1, s='123456789'", 3421780262},  // 0xCBF43926: stored non-negative
      {"crc=1, s=''", 0},
      {"sin=1, a=1", 0},  // an integer variable receives the float truncated
  };
  for (const auto& c : kCases) {
    Load(std::string("global int r = -1\n*SYSTEM_START\nmath result=r, ") + c.args + "\n");
    ASSERT_EQ(w.Run(0), 0) << c.args;
    EXPECT_EQ(VarGetIntElement(1000, 0), c.want) << c.args;
    w.Close();
  }
}

TEST_F(CmdMathTest, RandomDraws) {
  Load("global int r\n*SYSTEM_START\nmath result=r, rand=1, a=10, b=3\nmath result=r, rand=1, a=5, b=5\n");
  bool seen[8] = {};
  for (int i = 0; i < 400; i++) {
    ASSERT_EQ(w.Run(0), 0);
    i64 v = VarGetIntElement(1000, 0);
    ASSERT_GE(v, 3);
    ASSERT_LE(v, 10);
    seen[v - 3] = true;
  }
  for (bool s : seen) EXPECT_TRUE(s) << "every value from 3 to 10 comes up";
  ASSERT_EQ(w.Run(1), 0);
  EXPECT_EQ(VarGetIntElement(1000, 0), 5);
  // The first draw of the default seed decides the value.
  RandReset();
  const u32 r0 = RandNextU32();
  RandReset();
  EXPECT_EQ(MathRandomBetween(-3, 3), -3 + static_cast<i64>(r0 % 7));
  RandReset();
  const u64 hi = RandNextU32(), lo = RandNextU32();
  RandReset();
  EXPECT_EQ(MathRandomBetween(INT64_MIN, INT64_MAX), static_cast<i64>(static_cast<u64>(INT64_MIN) + (hi << 32 | lo)));
  EXPECT_EQ(MathAbsInt(INT64_MIN), INT64_MAX);
  EXPECT_EQ(MathAbsInt(-5), 5);
}

TEST_F(CmdMathTest, MotionWithA7SetPassesScalesThrough) {
  Load("global int a[8]\nglobal float b[35]\n*SYSTEM_START\nmotion a=a, b=b\n");
  VarSetNumElement(1000, 7, 1);
  VarSetFloatElement(1001, 13, 50);
  VarSetFloatElement(1001, 18, 10);
  VarSetFloatElement(1001, 16, 40);
  VarSetFloatElement(1001, 14, 20);
  VarSetFloatElement(1001, 19, 5);
  VarSetFloatElement(1001, 17, 60);
  ASSERT_EQ(w.Run(0), 0);
  EXPECT_DOUBLE_EQ(VarGetFloatElement(1001, 31), 46.0);  // 50 - 10 * 40 / 100
  EXPECT_DOUBLE_EQ(VarGetFloatElement(1001, 32), 17.0);  // 20 - 5 * 60 / 100
  EXPECT_DOUBLE_EQ(VarGetFloatElement(1001, 33), 40.0);
  EXPECT_DOUBLE_EQ(VarGetFloatElement(1001, 34), 60.0);
}

TEST(MotionFormulaTest, ScaledBranches) {
  // B[27] = 100 makes P = Q = 2; c = B[20] / 100 = 1, d = 0.
  i64 a[8] = {0, 1, 2, 0, 0, 4, 6, 0};
  double b[31] = {};
  b[27] = 100;
  b[20] = 100;
  b[6] = 10;
  b[11] = 5;
  b[13] = 3;
  b[18] = 1;
  b[16] = 50;
  b[17] = 25;
  double out[4];
  MotionCompute(a, b, out);
  // X = (10 * 2 + 5 + 2) + (3 - 1) * 2 + 1 * 50 * 2 / 100 = 27 + 4 + 1.
  EXPECT_NEAR(out[0], 32.0, 1e-12);
  EXPECT_NEAR(out[1], 3.0, 1e-12);  // Y = 6 / 2, d = 0, B[19] = 0
  EXPECT_NEAR(out[2], 100.0, 1e-12);
  EXPECT_NEAR(out[3], 50.0, 1e-12);
  // A[4] set: Q from B[24]; B[24] = 100 makes Q = 1. X' = 27, + ((3 + 1) - 1 - 2) * 1 + 1 * 50 / 100.
  a[4] = 1;
  b[24] = 100;
  b[22] = 1;
  b[25] = 2;
  MotionCompute(a, b, out);
  EXPECT_NEAR(out[0], 28.5, 1e-12);
  EXPECT_NEAR(out[2], 50.0, 1e-12);
  // A[1] = A[2]: no offset terms, Q stays 2 for the last step.
  a[2] = 1;
  MotionCompute(a, b, out);
  EXPECT_NEAR(out[0], 28.0, 1e-12);
  // Non-integral exponent: P = 2^0.5.
  i64 z[8] = {};
  double c[31] = {};
  c[27] = 50;
  c[6] = 1;
  MotionCompute(z, c, out);
  EXPECT_NEAR(out[0], 1.4142135623730951, 1e-12);
}

TEST_F(CmdMathTest, MotionIntoIntegersRoundsTiesToEvenAndStaysInside) {
  Load(
      "global int a[8]\nglobal int b[35]\nglobal float s[32]\nglobal str t[35]\n*SYSTEM_START\nmotion a=a, b=b\n"
      "motion a=a, b=s\nmotion a=a, b=t\n");
  VarSetNumElement(1000, 7, 1);
  VarSetNumElement(1001, 13, 3);
  VarSetNumElement(1001, 18, 1);
  VarSetNumElement(1001, 16, 50);
  VarSetNumElement(1001, 14, 4);
  VarSetNumElement(1001, 19, 1);
  VarSetNumElement(1001, 17, 50);
  ASSERT_EQ(w.Run(0), 0);
  EXPECT_EQ(VarGetIntElement(1001, 31), 2);  // 2.5
  EXPECT_EQ(VarGetIntElement(1001, 32), 4);  // 3.5
  VarSetFloatElement(1002, 13, 9);
  ASSERT_EQ(w.Run(1), 0);
  EXPECT_DOUBLE_EQ(VarGetFloatElement(1002, 31), 9.0) << "a B of 32 elements gets B[31] only";
  ASSERT_EQ(w.Run(2), 0);
  EXPECT_TRUE(TestRaised(ERR_VAR_WRONG_TYPE));
}

TEST_F(CmdMathTest, MessageBoxStylesAndAnswers) {
  static const struct {
    const char* args;
    int answer;  // given by the sink; 0 the default button
    i64 want;
  } kCases[] = {
      {"", 0, 1},
      {"ok_cancel=1", PLAT_IDCANCEL, 2},
      {"yes_no=1", PLAT_IDNO, 2},
      {"yes_no_cancel=1", PLAT_IDCANCEL, 3},
      {"yes_no_cancel=1, default=2", 0, 2},
      {"ok_cancel=1, yes_no=1", PLAT_IDYES, 1},
      {"yes_no=1", PLAT_IDOK, -1},  // an answer the buttons cannot give leaves it
  };
  for (const auto& c : kCases) {
    Load(std::string("global int r = -1\n*SYSTEM_START\nmsgbox title='T', text='hello', result=r") +
         (c.args[0] ? ", " : "") + c.args + "\n");
    PlatDialogsSetAnswer(c.answer);
    testing::internal::CaptureStderr();
    ASSERT_EQ(w.Run(0), 0) << c.args;
    std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_NE(printed.find("hello"), std::string::npos) << printed;
    EXPECT_EQ(VarGetIntElement(1000, 0), c.want) << c.args;
    w.Close();
  }
}

TEST_F(CmdMathTest, MessageBoxStyleBits) {
  static const struct {
    const char* args;
    u32 style;
  } kCases[] = {
      {"", PLAT_MB_OK},
      {"yes_no_cancel=1, default=3, icon=4", PLAT_MB_YESNOCANCEL | PLAT_MB_DEFBUTTON3 | PLAT_MB_ICONERROR},
      {"ok_cancel=1, default=1, icon=1", PLAT_MB_OKCANCEL | PLAT_MB_ICONINFO},
      {"yes_no=1, icon=2", PLAT_MB_YESNO | PLAT_MB_ICONQUESTION},
      {"icon=3, default=2", PLAT_MB_DEFBUTTON2 | PLAT_MB_ICONWARNING},
      {"icon=9", PLAT_MB_OK},
  };
  for (const auto& c : kCases) {
    Load(std::string("*SYSTEM_START\nmsgbox text='x'") + (c.args[0] ? ", " : "") + c.args + "\n");
    g_CurrentLine = 0;
    ASSERT_EQ(ArgDecode(10), 0);
    EXPECT_EQ(CmdMessageBoxStyle(), c.style) << c.args;
    w.Close();
  }
}

TEST_F(CmdMathTest, InputModeStoresOneAndTheText) {
  Load(
      "global int r\nglobal str t = 'old'\n*SYSTEM_START\nmsgbox title='Name', text='who?', input=1, max_length=8, "
      "initial='x', input_result=t, result=r\n");
  testing::internal::CaptureStderr();
  ASSERT_EQ(w.Run(0), 0);
  std::string printed = testing::internal::GetCapturedStderr();
  EXPECT_NE(printed.find("Name"), std::string::npos);
  EXPECT_NE(printed.find("who?"), std::string::npos);
  EXPECT_EQ(VarGetIntElement(1000, 0), 1);
  EXPECT_STREQ(VarGetStrElement(1001, 0), "x") << "the sink takes the initial text";
}
