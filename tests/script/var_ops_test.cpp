#include <gtest/gtest.h>

#include <cmath>

#include "script/var.h"
#include "script_test_util.h"

namespace {

enum { INTS = 1000, FLOATS = 1001 };

struct VarOpsTest : ::testing::Test {
  void SetUp() override {
    ASSERT_EQ(VarTableCreate(1002), 0);
    VarInitAssignOps();
    ASSERT_EQ(TestDeclare(INTS, VAR_TYPE_INT, {3}), 0);
    ASSERT_EQ(TestDeclare(FLOATS, VAR_TYPE_FLOAT, {3}), 0);
  }
  void TearDown() override { VarReset(); }
};

}  // namespace

TEST_F(VarOpsTest, IntegerOperatorsInCodeOrder) {
  struct Case {
    u8 op;
    i64 start, value, want;
    i32 result;
  } cases[] = {
      {0, 5, 9, 9, 0},
      {1, 5, 9, 14, 0},
      {2, 5, 9, -4, 0},
      {3, 5, -9, -45, 0},
      {4, -9, 2, -4, 0},
      {4, 9, 0, 9, -1},
      {5, -9, 4, -1, 0},
      {5, 9, 0, 9, -1},
      {6, 12, 10, 8, 0},
      {7, 12, 3, 15, 0},
      {8, 12, 10, 6, 0},
      {1, INT64_MAX, 1, INT64_MIN, 0},
      {3, INT64_MIN, -1, INT64_MIN, 0},
      {4, INT64_MIN, -1, INT64_MIN, 0},
      {5, INT64_MIN, -1, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.op));
    VarSetNumElement(INTS, 1, c.start);
    EXPECT_EQ(g_VarAssignOps[c.op](INTS, 1, c.value, 0.0), c.result);
    EXPECT_EQ(VarGetIntElement(INTS, 1), c.want);
    EXPECT_EQ(VarGetIntElement(INTS, 0), 0) << "other elements untouched";
  }
}

TEST_F(VarOpsTest, FloatOperatorsInCodeOrder) {
  struct Case {
    u8 op;
    double start, value, want;
    i32 result;
  } cases[] = {
      {0, 1.5, 2.25, 2.25, 0}, {1, 1.5, 2.25, 3.75, 0}, {2, 1.5, 2.25, -0.75, 0}, {3, 1.5, -2.0, -3.0, 0},
      {4, 1.0, 4.0, 0.25, 0},  {4, 1.0, 0.0, 1.0, -1},  {5, 7.9, 3.2, 1.0, 0},    {5, 7.9, 0.0, 7.9, -1},
      {5, 7.9, 0.5, 7.9, -1},  // the divisor truncates to 0: unchanged
      {6, 12.7, 10.2, 8.0, 0}, {7, 12.7, 3.9, 15.0, 0}, {8, 12.7, 10.1, 6.0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.op));
    VarSetFloatElement(FLOATS, 2, c.start);
    EXPECT_EQ(g_VarAssignOps[VAR_ASSIGN_FLOAT_BASE + c.op](FLOATS, 2, 0, c.value), c.result);
    EXPECT_DOUBLE_EQ(VarGetFloatElement(FLOATS, 2), c.want);
  }
}

TEST_F(VarOpsTest, ElementsOutsideTheBoundsChangeNothing) {
  for (int op = 0; op < 2 * VAR_ASSIGN_OP_COUNT; op++) {
    SCOPED_TRACE(op);
    i64 id = op < VAR_ASSIGN_FLOAT_BASE ? INTS : FLOATS;
    EXPECT_EQ(g_VarAssignOps[op](id, 3, 1, 1.0), -1);
    EXPECT_EQ(g_VarAssignOps[op](id, -1, 1, 1.0), -1);
    EXPECT_EQ(g_VarAssignOps[op](5000, 0, 1, 1.0), -1) << "no such variable";
  }
}
