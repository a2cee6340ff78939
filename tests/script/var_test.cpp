#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "script/var.h"
#include "script_test_util.h"
#include "shell/input.h"

namespace {

enum { ID = 1000, ID2 = 1001 };

struct VarTest : ::testing::Test {
  void SetUp() override {
    ASSERT_EQ(VarTableCreate(1010), 0);
    InputKeyTableReset();
    TestErrTexts({ERR_VAR_TOO_MANY, ERR_VAR_TOO_FEW, ERR_VAR_WRONG_TYPE, ERR_OUT_OF_MEMORY});
  }
  void TearDown() override {
    VarReset();
    InputKeyTableReset();
    UserErrReset();
    g_QuitRequested = 0;
  }
  VarRecord* Rec() { return VarRecordOf(ID); }
};

TEST_F(VarTest, EveryTypeWithZeroToEightDimensions) {
  const std::vector<std::vector<u32>> shapes = {{},
                                                {5},
                                                {3, 4},
                                                {2, 3, 4},
                                                {2, 2, 2, 2},
                                                {1, 2, 1, 3, 2},
                                                {2, 1, 2, 1, 2, 1},
                                                {1, 1, 1, 1, 1, 1, 7},
                                                {2, 2, 2, 2, 2, 2, 2, 2}};
  for (const auto& shape : shapes) {
    i64 want = 1;
    for (u32 d : shape) want *= d;
    VarRecord* v = Rec();
    v->dim_count = static_cast<i8>(shape.size());
    for (size_t d = 0; d < shape.size(); d++) v->dims[d] = shape[d];
    SCOPED_TRACE(shape.size());

    ASSERT_EQ(VarTypeInt(ID, -7), 0);
    EXPECT_EQ(v->count, want);
    EXPECT_EQ(VarGetIntElement(ID, 0), -7);
    EXPECT_EQ(VarGetIntElement(ID, want - 1), -7);
    EXPECT_EQ(VarSetNumElement(ID, want - 1, INT64_MIN), 0);
    EXPECT_EQ(VarGetIntElement(ID, want - 1), INT64_MIN);
    EXPECT_EQ(VarSetNumElement(ID, want, 1), -1);  // one past the end stores nothing
    EXPECT_EQ(VarGetIntElement(ID, want), 0);
    EXPECT_EQ(VarGetIntElement(ID, -1), 0);

    ASSERT_EQ(VarTypeFloat(ID, 2.5), 0);
    EXPECT_EQ(v->ints, nullptr);
    EXPECT_DOUBLE_EQ(VarGetFloatElement(ID, want - 1), 2.5);
    EXPECT_EQ(VarSetFloatElement(ID, 0, -0.25), 0);
    EXPECT_DOUBLE_EQ(VarGetFloatElement(ID, 0), -0.25);
    EXPECT_EQ(VarSetFloatElement(ID, want, 1.0), -1);
    EXPECT_DOUBLE_EQ(VarGetFloatElement(ID, want), 0.0);

    ASSERT_EQ(VarTypeString(ID, "init", 4), 0);
    EXPECT_EQ(v->floats, nullptr);
    EXPECT_STREQ(VarGetStrElement(ID, want - 1), "init");
    EXPECT_EQ(VarSetStrElement(ID, 0, "zero"), 0);
    EXPECT_STREQ(VarGetStrElement(ID, 0), "zero");
    EXPECT_EQ(VarSetStrElement(ID, want, "x"), -1);
    EXPECT_EQ(VarGetStrElement(ID, want), nullptr);
  }
  EXPECT_EQ(g_QuitRequested.load(), 0);
}

TEST_F(VarTest, ElementLimitAndOverflowingDimensions) {
  EXPECT_EQ(TestDeclare(ID, VAR_TYPE_INT, {2000, 2000}), 0);
  EXPECT_EQ(Rec()->count, 4000000);
  EXPECT_EQ(VarSetNumElement(ID, 3999999, 9), 0);
  EXPECT_EQ(VarGetIntElement(ID, 3999999), 9);

  const struct {
    std::vector<u32> dims;
    i32 code;
  } bad[] = {
      {{2000, 2001}, ERR_VAR_TOO_MANY},
      {{4000001}, ERR_VAR_TOO_MANY},
      {{65536, 65536, 65536, 65536}, ERR_VAR_TOO_MANY},  // 2^64 would wrap to 0
      {{0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu},
       ERR_VAR_TOO_MANY},
      {{5, 0}, ERR_VAR_TOO_FEW},
      {{0xFFFFFFFFu, 0}, ERR_VAR_TOO_FEW},
  };
  for (const auto& c : bad) {
    TestErrTexts({ERR_VAR_TOO_MANY, ERR_VAR_TOO_FEW});
    VarRecord* v = Rec();
    v->dim_count = static_cast<i8>(c.dims.size());
    for (size_t d = 0; d < c.dims.size(); d++) v->dims[d] = c.dims[d];
    for (i8 type : {VAR_TYPE_INT, VAR_TYPE_FLOAT, VAR_TYPE_STR}) {
      // Start from a variable with storage, so the failure must also drop it.
      v->dim_count = 0;
      ASSERT_EQ(VarTypeString(ID, "old", 3), 0);
      v->dim_count = static_cast<i8>(c.dims.size());
      i32 r = type == VAR_TYPE_INT     ? VarTypeInt(ID, 1)
              : type == VAR_TYPE_FLOAT ? VarTypeFloat(ID, 1.0)
                                       : VarTypeString(ID, "s", 1);
      EXPECT_EQ(r, -1);
      EXPECT_EQ(g_ErrLastText, TestErr(c.code, c.code == ERR_VAR_TOO_MANY ? "4000000" : ""));
      EXPECT_EQ(v->type, type);
      EXPECT_EQ(v->count, 0);
      EXPECT_EQ(v->ints, nullptr);
      EXPECT_EQ(v->floats, nullptr);
      EXPECT_EQ(v->strs, nullptr);
      EXPECT_EQ(v->str_caps, nullptr);
      EXPECT_EQ(VarGetIntElement(ID, 0), 0);
      EXPECT_EQ(VarGetStrElement(ID, 0), nullptr);
      EXPECT_EQ(VarSetNumElement(ID, 0, 1), -1);
    }
  }
  // A dimension count the store cannot hold is refused like too many elements.
  Rec()->dim_count = 9;
  EXPECT_EQ(VarCalcElementCount(ID), -1);
  Rec()->dim_count = -1;
  EXPECT_EQ(VarTypeInt(ID, 0), -1);
}

TEST_F(VarTest, RecountingToADifferentSizeDropsTheOldStorage) {
  ASSERT_EQ(TestDeclare(ID, VAR_TYPE_STR, {3}), 0);
  EXPECT_EQ(VarCalcElementCount(ID), 0);  // same size: kept
  EXPECT_STREQ(VarGetStrElement(ID, 2), "");
  Rec()->dims[0] = 10;
  EXPECT_EQ(VarCalcElementCount(ID), 0);
  EXPECT_EQ(Rec()->count, 10);
  EXPECT_EQ(VarGetStrElement(ID, 9), nullptr);  // never reads storage of the old size
  EXPECT_EQ(VarSetStrElement(ID, 9, "x"), -1);
  EXPECT_EQ(VarTypeString(ID, "ok", 2), 0);
  EXPECT_STREQ(VarGetStrElement(ID, 9), "ok");
}

TEST_F(VarTest, FloatToIntegerConversionIsDefined) {
  ASSERT_EQ(TestDeclare(ID, VAR_TYPE_INT, {}), 0);
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    double in;
    i64 want;
  } cases[] = {
      {3.9, 3},
      {-3.9, -3},
      {0.999, 0},
      {-0.0, 0},
      {std::nan(""), 0},
      {inf, INT64_MAX},
      {-inf, INT64_MIN},
      {1e300, INT64_MAX},
      {-1e300, INT64_MIN},
      {9223372036854775807.0, INT64_MAX},
      {-9223372036854775808.0, INT64_MIN},
      {4503599627370496.5, 4503599627370496},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(VarSetFloatElement(ID, 0, c.in), 0);
    EXPECT_EQ(VarGetIntElement(ID, 0), c.want) << c.in;
    EXPECT_EQ(VarFloatToInt(c.in), c.want) << c.in;
  }
}

TEST_F(VarTest, NumbersCrossBetweenIntegerAndFloatVariables) {
  ASSERT_EQ(TestDeclare(ID, VAR_TYPE_FLOAT, {2}), 0);
  ASSERT_EQ(TestDeclare(ID2, VAR_TYPE_INT, {2}), 0);
  EXPECT_EQ(VarSetNumElement(ID, 1, 7), 0);
  EXPECT_DOUBLE_EQ(VarGetFloatElement(ID, 1), 7.0);
  EXPECT_EQ(VarSetFloatElement(ID, 0, -2.75), 0);
  EXPECT_EQ(VarGetIntElement(ID, 0), -2);  // read as an integer: truncated
  EXPECT_EQ(VarSetNumElement(ID2, 0, -9), 0);
  EXPECT_DOUBLE_EQ(VarGetFloatElement(ID2, 0), -9.0);
  EXPECT_EQ(VarGetStrElement(ID2, 0), nullptr);
  EXPECT_EQ(g_QuitRequested.load(), 0);
}

TEST_F(VarTest, WrongTypeSettersRaiseAndStoreNothing) {
  ASSERT_EQ(TestDeclare(ID, VAR_TYPE_STR, {}), 0);
  ASSERT_EQ(TestDeclare(ID2, VAR_TYPE_INT, {}), 0);
  EXPECT_EQ(VarSetNumElement(ID, 0, 5), 0);
  EXPECT_EQ(g_ErrLastText, TestErr(ERR_VAR_WRONG_TYPE));
  EXPECT_EQ(g_QuitRequested.load(), 1);
  EXPECT_EQ(VarSetFloatElement(ID, 0, 5.0), 0);
  EXPECT_STREQ(VarGetStrElement(ID, 0), "");
  EXPECT_EQ(VarSetStrElement(ID2, 0, "x"), -1);
  EXPECT_EQ(VarGetIntElement(ID2, 0), 0);
  // Ids outside the table.
  EXPECT_EQ(VarSetNumElement(5000, 0, 1), -1);
  EXPECT_EQ(VarGetIntElement(-1, 0), 0);
  EXPECT_EQ(VarGetStrElement(5000, 0), nullptr);
  EXPECT_EQ(VarTypeInt(5000, 0), -1);
}

TEST_F(VarTest, StringElementsGrowAndAreCutAtAWholeCharacter) {
  ASSERT_EQ(TestDeclare(ID, VAR_TYPE_STR, {2}), 0);
  EXPECT_EQ(Rec()->str_caps[0], 1);
  std::string t300(300, 'a');
  EXPECT_EQ(VarSetStrElement(ID, 0, t300.c_str()), 0);
  EXPECT_EQ(Rec()->str_caps[0], 301);
  EXPECT_EQ(VarGetStrElement(ID, 0), t300);
  EXPECT_EQ(VarSetStrElement(ID, 0, "short"), 0);
  EXPECT_EQ(Rec()->str_caps[0], 301);  // never shrinks
  EXPECT_STREQ(VarGetStrElement(ID, 0), "short");

  std::string t5000(5000, 'b');
  EXPECT_EQ(VarSetStrElement(ID, 1, t5000.c_str()), 0);
  EXPECT_EQ(std::strlen(VarGetStrElement(ID, 1)), 4095u);
  EXPECT_EQ(Rec()->str_caps[1], 4096);
  // A double-byte character that would straddle the limit is left out whole.
  std::string sjis(4094, 'c');
  sjis += "\x82\xa0tail";
  EXPECT_EQ(VarSetStrElement(ID, 1, sjis.c_str()), 0);
  EXPECT_EQ(std::strlen(VarGetStrElement(ID, 1)), 4094u);

  // Counted copies take exactly the given bytes; a text may be stored into its own element.
  EXPECT_EQ(VarSetStrElementN(ID, 0, "abcdef", 3), 0);
  EXPECT_STREQ(VarGetStrElement(ID, 0), "abc");
  EXPECT_EQ(VarSetStrElement(ID, 0, VarGetStrElement(ID, 0) + 1), 0);
  EXPECT_STREQ(VarGetStrElement(ID, 0), "bc");
  EXPECT_EQ(VarSetStrElement(ID, 0, nullptr), 0);
  EXPECT_STREQ(VarGetStrElement(ID, 0), "");

  // Retyping with a long initial text cuts it the same way.
  EXPECT_EQ(VarTypeString(ID, t5000.c_str(), t5000.size()), 0);
  EXPECT_EQ(std::strlen(VarGetStrElement(ID, 1)), 4095u);
  EXPECT_EQ(Rec()->str_caps[1], 4096);
  EXPECT_EQ(VarTypeString(ID, "abc", 2), 0);
  EXPECT_STREQ(VarGetStrElement(ID, 0), "ab");
}

TEST_F(VarTest, ResizeKeepsTheHeadAndFillsTheTail) {
  ASSERT_EQ(TestDeclare(ID, VAR_TYPE_INT, {3}), 0);
  for (i64 i = 0; i < 3; i++) VarSetNumElement(ID, i, 10 + i);
  EXPECT_EQ(VarResize1D(ID, 5), 0);
  EXPECT_EQ(Rec()->dims[0], 5u);
  EXPECT_EQ(Rec()->count, 5);
  const i64 want_int[] = {10, 11, 12, 0, 0};
  for (i64 i = 0; i < 5; i++) EXPECT_EQ(VarGetIntElement(ID, i), want_int[i]);
  EXPECT_EQ(VarResize1D(ID, 2), 0);
  EXPECT_EQ(VarGetIntElement(ID, 1), 11);
  EXPECT_EQ(VarGetIntElement(ID, 2), 0);

  ASSERT_EQ(TestDeclare(ID, VAR_TYPE_FLOAT, {2}), 0);
  VarSetFloatElement(ID, 1, 1.5);
  EXPECT_EQ(VarResize1D(ID, 4), 0);
  EXPECT_DOUBLE_EQ(VarGetFloatElement(ID, 1), 1.5);
  EXPECT_DOUBLE_EQ(VarGetFloatElement(ID, 3), 0.0);

  ASSERT_EQ(TestDeclare(ID, VAR_TYPE_STR, {3}), 0);
  VarSetStrElement(ID, 0, "zero");
  VarSetStrElement(ID, 2, "two");
  EXPECT_EQ(VarResize1D(ID, 1), 0);  // elements beyond are freed (the sanitizer checks)
  EXPECT_STREQ(VarGetStrElement(ID, 0), "zero");
  EXPECT_EQ(VarGetStrElement(ID, 1), nullptr);
  EXPECT_EQ(VarResize1D(ID, 3), 0);
  EXPECT_STREQ(VarGetStrElement(ID, 2), "");
  EXPECT_EQ(Rec()->str_caps[2], 1);
  EXPECT_EQ(VarSetStrElement(ID, 2, "grown"), 0);
  EXPECT_STREQ(VarGetStrElement(ID, 2), "grown");

  // Refusals leave the variable as it was.
  EXPECT_EQ(VarResize1D(ID, 0), -1);
  EXPECT_EQ(g_ErrLastText, TestErr(ERR_VAR_TOO_FEW));
  EXPECT_EQ(VarResize1D(ID, 4000001), -1);
  EXPECT_EQ(g_ErrLastText, TestErr(ERR_VAR_TOO_MANY, "4000000"));
  EXPECT_EQ(Rec()->count, 3);
  EXPECT_STREQ(VarGetStrElement(ID, 2), "grown");
  ASSERT_EQ(TestDeclare(ID2, VAR_TYPE_INT, {2, 2}), 0);
  EXPECT_EQ(VarResize1D(ID2, 8), -1);  // not one-dimensional
  EXPECT_EQ(VarRecordOf(ID2)->count, 4);
}

TEST_F(VarTest, KeyCounterRule) {
  const struct {
    u8 state;
    i64 value;
    i64 want;
  } cases[] = {
      {INPUT_STATE_UP, 5, 0},   {INPUT_STATE_UP, -5, -5},  {INPUT_STATE_UP, 0, 0},
      {INPUT_STATE_HELD, 5, 5}, {INPUT_STATE_HELD, -5, 0}, {INPUT_STATE_HELD, 0, 0},
  };
  for (const auto& c : cases) {
    g_InputKeyTable.state[0x41] = c.state;
    g_InputKeyTable.counter[0x41] = 99;
    EXPECT_EQ(VarSetSysSetting(0x41, c.value), 0);
    EXPECT_EQ(g_InputKeyTable.counter[0x41], c.want) << int(c.state) << " " << c.value;
  }
  EXPECT_EQ(VarSetSysSetting(INPUT_KEY_COUNT, -1), -1);
  EXPECT_EQ(VarSetSysSetting(-1, -1), -1);
}

}  // namespace
