#include <gtest/gtest.h>

#include "layer/lut.h"

TEST(Lut, ProductTablesTruncateTowardZero) {
  LutBuildTables();
  struct Case {
    i32 a, x;  // column 255 + x
    i16 by256, by255;
  } cases[] = {
      {0, -255, 0, 0},   {256, 256, 256, 257}, {255, -255, -254, -255}, {1, -1, 0, 0},
      {128, -3, -1, -1}, {200, 100, 78, 78},   {256, -255, -255, -256}, {17, 15, 0, 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(g_LutProduct256[c.a][255 + c.x], c.by256) << c.a << "," << c.x;
    EXPECT_EQ(g_LutProduct255[c.a][255 + c.x], c.by255) << c.a << "," << c.x;
  }
  for (int a = 0; a < 256; a++) {
    EXPECT_EQ(g_LutProductByte[a][255], a);
    EXPECT_EQ(g_LutProductByte[a][0], 0);
    EXPECT_EQ(g_LutProductByte[a][128], a * 128 / 255);
  }
  EXPECT_EQ(g_LutProductByte[254][254], 253);  // 64516 / 255 = 253.0: rounded down
}
