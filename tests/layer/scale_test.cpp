// Frame scalers against straightforward per-pixel references written from the arithmetic they
// follow: nearest by 16.16 steps, bilinear in 1/256 pixel with sharpened fractions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "layer/blend.h"
#include "layer/cpu.h"
#include "layer/image.h"
#include "layer/lut.h"
#include "layer/scale.h"
#include "layer/worker.h"
#include "shell/sysinfo.h"

namespace {

struct ScaleTest : ::testing::Test {
  void SetUp() override {
    LutBuildTables();
    BlendInitCpuKernels();
    WorkerReset();
    FrameScaleReset();
    g_WorkerInlinePixels = 0;  // these small pictures still go to the workers
  }
  void TearDown() override {
    WorkerReset();
    FrameScaleReset();
    g_WorkerCount = 1;
  }
};

// A picture with its spare row and pixel, filled with noise (the spare too: a scaler must give
// the same result whatever it holds only where the arithmetic says it reads it).
std::vector<u8> Noise(i32 w, i32 h, u32 seed) {
  std::vector<u8> p(ImagePixelBytes(w, h));
  std::mt19937 rng(seed);
  for (u8& b : p) b = static_cast<u8>(rng());
  return p;
}

u32 At(const std::vector<u8>& p, i64 w, i64 x, i64 y) {
  u32 v;
  std::memcpy(&v, p.data() + (y * w + x) * 4, 4);
  return v;
}

TEST_F(ScaleTest, SharpeningTableEdges) {
  for (i32 f = 0; f <= 26; f++) EXPECT_EQ(FrameSharpenFraction(static_cast<u8>(f)), 0) << f;
  EXPECT_EQ(FrameSharpenFraction(27), 1);
  EXPECT_EQ(FrameSharpenFraction(128), 128);
  EXPECT_EQ(FrameSharpenFraction(229), 254);
  for (i32 f = 230; f <= 255; f++) EXPECT_EQ(FrameSharpenFraction(static_cast<u8>(f)), 255) << f;
  EXPECT_EQ(g_BilinearSharpenTables.col_factor, 1.25f);
  EXPECT_EQ(g_BilinearSharpenTables.row_factor, 1.25f);
}

TEST_F(ScaleTest, NearestAgainstReference) {
  struct Case {
    i32 sw, sh;
    i64 left, top, right, bottom;
    i32 dw, dh;
  } const cases[] = {
      {16, 12, 0, 0, 15, 11, 16, 12},            // identity
      {16, 12, 0, 0, 15, 11, 37, 29},            // enlarge
      {40, 30, 0, 0, 39, 29, 13, 7},             // shrink
      {40, 30, 5, 3, 24, 20, 31, 45},            // a part
      {20, 20, 10, 10, 29, 29, 15, 15},          // a rectangle past the picture: cleared
      {20, 20, -6, -4, 13, 15, 25, 25},          // before the picture: cleared
      {20, 20, 5, 3, 70004, 9, 7, 4},            // a span past 65535 pixels: 64-bit steps
      {20, 20, -3000000000LL, 0, 19, 19, 9, 5},  // bounds beyond 32 bits
  };
  for (i32 workers : {0, 3}) {
    g_WorkerCount = static_cast<i8>(workers ? workers : 1);
    SysWorkerPoolStop();
    if (workers) {
      ASSERT_EQ(SysWorkerPoolStart(), 0);
    }
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << c.sw << "x" << c.sh << " -> " << c.dw << "x" << c.dh << " workers "
                                      << workers);
      std::vector<u8> src = Noise(c.sw, c.sh, 1);
      std::vector<u8> dst(ImagePixelBytes(c.dw, c.dh), 0xEE);
      FrameScaleNearest(dst.data(), src.data(), c.left, c.top, c.right, c.bottom, c.sw, c.sh, c.dw, c.dh);
      i64 col_step = ((c.right - c.left + 1) << 16) / c.dw, row_step = ((c.bottom - c.top + 1) << 16) / c.dh;
      for (i64 y = 0; y < c.dh; y++) {
        for (i64 x = 0; x < c.dw; x++) {
          i64 sx = c.left + ((x * col_step) >> 16), sy = c.top + ((y * row_step) >> 16);
          u32 want = sx >= 0 && sx < c.sw && sy >= 0 && sy < c.sh ? At(src, c.sw, sx, sy) : 0;
          ASSERT_EQ(At(dst, c.dw, x, y), want) << x << "," << y;
        }
      }
    }
  }
}

// The bilinear reference: one destination pixel from the formulas, nothing shared with the
// scaler but the sharpening rule (itself checked above).
u32 BilinearRef(const std::vector<u8>& src, i32 sw, i32 sh, i64 left, i64 top, i64 right, i64 bottom, i64 dw100,
                i64 dh100, i64 x, i64 y, bool threaded) {
  auto pos = [](i64 i, i64 lo, i64 hi, i64 d100) {
    i64 f0 = (lo % 100) * 256 / 100, span = hi - lo, den = d100 - 100 == 0 ? 100 : d100 - 100;
    i64 v = d100 < span ? span * (256 * i + f0) / den : span * 256 * i / den + f0;
    i64 frac = v & 255;
    i64 sharp = static_cast<i64>(std::trunc((frac - 128) * 1.25 + 128));
    return (v & ~i64{255}) | std::clamp<i64>(sharp, 0, 255);
  };
  i64 vy = pos(y, top, bottom, dh100), vx = pos(x, left, right, dw100);
  i64 sy = (vy >> 8) + top / 100, sx = (vx >> 8) + left / 100;
  // At the last row or column the fraction is dropped: nothing beyond the picture counts.
  i64 fy = sy == sh - 1 ? 0 : vy & 255, fx = sx == sw - 1 ? 0 : vx & 255;
  bool inside = sy >= 0 && sy < sh && sx >= 0 && sx < sw;
  if (!inside) return 0;
  u32 out = 0;
  for (i32 b = 0; b < 4; b++) {
    auto px = [&](i64 xx, i64 yy) { return i64{src[static_cast<size_t>((yy * sw + xx) * 4 + b)]}; };
    i64 nx = std::min<i64>(sx + 1, sw - 1), ny = std::min<i64>(sy + 1, sh - 1);
    i64 t = px(sx, sy) * (256 - fx) + px(nx, sy) * fx;
    i64 u = px(sx, ny) * (256 - fx) + px(nx, ny) * fx;
    i64 v = threaded ? ((t * (256 - fy)) >> 16) + ((u * fy) >> 16) : ((t >> 8) * (256 - fy) + (u >> 8) * fy) >> 8;
    out |= static_cast<u32>(std::min<i64>(v, 255)) << (8 * b);
  }
  return out;
}

TEST_F(ScaleTest, BilinearAgainstReference) {
  struct Case {
    i32 sw, sh;
    i64 left, top, right, bottom, dw100, dh100;
  } const cases[] = {
      {16, 12, 0, 0, 1500, 1100, 1600, 1200},                 // factor 1
      {16, 12, 0, 0, 1500, 1100, 4000, 2700},                 // enlarge
      {64, 48, 0, 0, 6300, 4700, 2100, 1300},                 // shrink
      {40, 30, 250, 130, 3075, 2520, 3300, 5100},             // a part with fractional bounds
      {40, 30, 0, 0, 3900, 2900, 100, 100},                   // one pixel: the divisor of 0 becomes 100
      {20, 20, 1500, 1500, 2900, 2900, 2000, 2000},           // runs off the picture: cleared there
      {20, 20, -200000000000LL, 250, 1900, 1900, 1500, 900},  // a left bound far beyond 32 bits
  };
  for (const Case& c : cases) {
    for (bool threaded : {true, false}) {
      SCOPED_TRACE(testing::Message() << c.sw << "x" << c.sh << " -> " << c.dw100 << "x" << c.dh100
                                      << (threaded ? " threaded" : " plain"));
      g_WorkerCount = 2;
      SysWorkerPoolStop();
      ASSERT_EQ(SysWorkerPoolStart(), 0);
      std::vector<u8> src = Noise(c.sw, c.sh, 2);
      i64 dw = c.dw100 / 100, dh = c.dh100 / 100;
      std::vector<u8> dst(ImagePixelBytes(static_cast<i32>(dw), static_cast<i32>(dh)), 0xEE);
      if (threaded)
        FrameScaleBilinearThreaded(dst.data(), src.data(), c.left, c.top, c.right, c.bottom, c.sw, c.sh, c.dw100,
                                   c.dh100);
      else FrameScaleBilinear(dst.data(), src.data(), c.left, c.top, c.right, c.bottom, c.sw, c.sh, c.dw100, c.dh100);
      for (i64 y = 0; y < dh; y++)
        for (i64 x = 0; x < dw; x++)
          ASSERT_EQ(At(dst, dw, x, y),
                    BilinearRef(src, c.sw, c.sh, c.left, c.top, c.right, c.bottom, c.dw100, c.dh100, x, y, threaded))
              << x << "," << y;
    }
  }
}

TEST_F(ScaleTest, BilinearAtFactorOneCopiesThePicture) {
  std::vector<u8> src = Noise(33, 21, 3);
  std::vector<u8> dst(ImagePixelBytes(33, 21));
  FrameScaleBilinearThreaded(dst.data(), src.data(), 0, 0, 3200, 2000, 33, 21, 3300, 2100);
  EXPECT_EQ(std::memcmp(dst.data(), src.data(), 33 * 21 * 4), 0);
}

TEST_F(ScaleTest, NearestOfAnEmptyRectangleClearsTheWhole) {
  std::vector<u8> src = Noise(8, 8, 5);
  std::vector<u8> dst(ImagePixelBytes(6, 4), 0xEE);
  FrameScaleNearest(dst.data(), src.data(), 5, 0, 4, 7, 8, 8, 6, 4);
  for (size_t i = 0; i < 6 * 4 * 4; i++) ASSERT_EQ(dst[i], 0) << i;
}

TEST_F(ScaleTest, BilinearWithNoValidPixelClearsTheWhole) {
  std::vector<u8> src = Noise(8, 8, 4);
  std::vector<u8> dst(ImagePixelBytes(10, 10), 0xEE);
  FrameScaleBilinear(dst.data(), src.data(), 900, 900, 1500, 1500, 8, 8, 1000, 1000);
  for (size_t i = 0; i < 10 * 10 * 4; i++) ASSERT_EQ(dst[i], 0) << i;
}

}  // namespace
