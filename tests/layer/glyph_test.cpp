#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "layer/font.h"
#include "layer/glyph.h"
#include "platform/platform.h"

namespace {

// A canvas inside a buffer with guard bytes before, after and to the right of every row.
struct TestCanvas {
  static constexpr int kGuard = 64;
  int w, h, stride;
  std::vector<u8> buf;
  TestCanvas(int width, int height, u32 seed = 0) : w(width), h(height), stride(width * 4 + 12) {
    buf.assign(static_cast<size_t>(kGuard * 2 + stride * height), 0xA5);
    for (int y = 0; y < h; y++)
      for (int x = 0; x < w * 4; x++) {
        seed = seed * 1103515245u + 12345u;
        At(x / 4, y)[x % 4] = static_cast<u8>(seed >> 16);
      }
  }
  u8* At(int x, int y) { return buf.data() + kGuard + y * stride + x * 4; }
  u32 Pixel(int x, int y) {
    u8* p = At(x, y);
    return static_cast<u32>(p[0]) | p[1] << 8 | p[2] << 16 | static_cast<u32>(p[3]) << 24;
  }
  GlyphCanvas Canvas() { return GlyphCanvasMake(buf.data() + kGuard, w, h, stride); }
  bool GuardsIntact() const {
    for (size_t i = 0; i < buf.size(); i++) {
      long off = static_cast<long>(i) - kGuard;
      bool inside = off >= 0 && off < static_cast<long>(stride) * h && off % stride < w * 4;
      if (!inside && buf[i] != 0xA5) return false;
    }
    return true;
  }
};

// A synthetic 1-bit glyph cell put into slot 0 (freed by FontReset).
struct TestCell {
  int side;
  u8* bits;
  explicit TestCell(int s) : side(s) {
    FontSlot& slot = g_FontSlots[0];
    free(slot.glyph_bits);
    bits = static_cast<u8*>(malloc(static_cast<size_t>(s * s / 8)));
    std::memset(bits, 0xFF, static_cast<size_t>(s * s / 8));
    slot.glyph_bits = bits;
    slot.cell_side = s;
    slot.glyph_bytes = s * s / 8;
  }
  void Ink(int col, int row) { bits[row * side / 8 + col / 8] &= static_cast<u8>(~(0x80 >> (col % 8))); }
  void Random(u32 seed) {
    for (int i = 0; i < side * side / 8; i++) {
      seed = seed * 1664525u + 1013904223u;
      bits[i] = static_cast<u8>(seed >> 24);
    }
  }
  bool InkAt(long row, long col) const {
    if (row < 0 || row >= side || col < 0 || col >= side) return false;
    return !(bits[row * side / 8 + col / 8] & (0x80 >> (col % 8)));
  }
};

// ---- Reference model, written from the drawing rules pixel by pixel ---------------------------

// Corners left top, right top, left bottom, right bottom: '1' colour, '2' second colour, 'M' mid.
const char* const kCorners[9] = {"1111", "1122", "2211", "1212", "2121", "1MM2", "M12M", "2MM1", "M21M"};
const int kTurned[9][4] = {
    {0, 0, 0, 0}, {1, 3, 2, 4}, {2, 4, 1, 3}, {3, 2, 4, 1}, {4, 1, 3, 2},
    {5, 8, 7, 6}, {6, 5, 8, 7}, {7, 6, 5, 8}, {8, 7, 6, 5},
};

struct Rgb3 {
  int c[3];  // r, g, b
};

Rgb3 Split(u32 v) { return {{int(v >> 16 & 255), int(v >> 8 & 255), int(v & 255)}}; }

void RefCorners(int mode, int orient, u32 c1, u32 c2, Rgb3 out[4]) {
  if (mode > 8) mode = 0;
  if (orient >= 1 && orient <= 3) mode = kTurned[mode][orient];
  Rgb3 a = Split(c1), b = Split(c2), m;
  for (int i = 0; i < 3; i++) m.c[i] = a.c[i] + (b.c[i] - a.c[i]) / 2;
  for (int i = 0; i < 4; i++) out[i] = kCorners[mode][i] == '1' ? a : kCorners[mode][i] == '2' ? b : m;
}

int Mix(int a, int b, int num, int den) { return den == 0 ? a : a + (b - a) * num / den; }

void RefPos(int orient, int w, int h, int x, int y, int c, int r, int* px, int* py) {
  switch (orient) {
    case 1: *px = x + w - 1 - r, *py = y + c; break;
    case 2: *px = x + w - 1 - c, *py = y + h - 1 - r; break;
    case 3: *px = x + r, *py = y + w - 1 - c; break;
    default: *px = x + c, *py = y + r; break;
  }
}

struct Params {
  u32 c1 = 0xFF8040, c2 = 0x2060A0;
  int mode = 0, orient = 0, w = 4, h = 4, x = 0, y = 0;
  u8 smooth = 0, ink_only = 0;
};

void RefDrawOne(TestCanvas* cv, const TestCell& cell, const Params& p) {
  if (p.w <= 0 || p.h <= 0) return;
  // Every corner of the placed glyph, turned or not, must lie inside.
  if (p.x < 0 || p.y < 0 || p.x + p.w - 1 >= cv->w || p.y + p.h - 1 >= cv->h) return;
  for (int c : {0, p.w - 1})
    for (int r : {0, p.h - 1}) {
      int px, py;
      RefPos(p.orient, p.w, p.h, p.x, p.y, c, r, &px, &py);
      if (px < 0 || py < 0 || px >= cv->w || py >= cv->h) return;
    }
  u32 c2 = p.c2 == 0xFFFFFFFFu ? p.c1 : p.c2;
  Rgb3 k4[4];
  RefCorners(p.mode, p.orient, p.c1, c2, k4);
  int k = p.h * 100 / p.w;
  if (k < 1) k = 1;
  for (int r = 0; r < p.h; r++) {
    long row = (p.smooth == 1 ? 400L : 100L) * r / k;
    if (row >= cell.side) continue;
    for (int c = 0; c < p.w; c++) {
      Rgb3 col;
      for (int i = 0; i < 3; i++) {
        int left = Mix(k4[0].c[i], k4[2].c[i], r, p.h - 1);
        int right = Mix(k4[1].c[i], k4[3].c[i], r, p.h - 1);
        col.c[i] = Mix(left, right, c, p.w - 1);
      }
      int px, py;
      RefPos(p.orient, p.w, p.h, p.x, p.y, c, r, &px, &py);
      u8* d = cv->At(px, py);
      if (p.smooth != 1) {
        bool ink = cell.InkAt(row, c);
        if (!ink && p.ink_only) continue;
        d[0] = ink ? col.c[2] : 0, d[1] = ink ? col.c[1] : 0, d[2] = ink ? col.c[0] : 0, d[3] = 255;
        continue;
      }
      int count = 0;
      int first = (c / 2) * 8 + (c % 2) * 4;  // the four supersampled columns of this pixel
      for (int sr = 0; sr < 4; sr++)
        for (int sc = 0; sc < 4; sc++) count += cell.InkAt(row + sr, first + sc) ? 1 : 0;
      int level = count * 18 > 255 ? 255 : count * 18;
      if (!p.ink_only) {
        d[0] = col.c[2], d[1] = col.c[1], d[2] = col.c[0], d[3] = static_cast<u8>(level);
        continue;
      }
      int a = level + 1, old = d[3];
      int na = old + a - (old * a >> 8) - 1;
      for (int i = 0; i < 3; i++) d[i] = static_cast<u8>(d[i] + (col.c[2 - i] - d[i]) * a / (na + 1));
      d[3] = static_cast<u8>(na);
    }
  }
}

void RefDraw(TestCanvas* cv, const TestCell& cell, Params p, int m) {
  std::vector<std::pair<int, int>> at;
  if (m <= 0) at = {{0, 0}};
  else if (m <= 10) at = {{m, -m}, {m, 0}, {m, m}, {0, -m}, {0, 0}, {0, m}, {-m, -m}, {-m, 0}, {-m, m}};
  else at = {{m - 10, 0}, {0, m - 10}, {m - 10, m - 10}};
  int x = p.x, y = p.y;
  for (auto [dx, dy] : at) {
    p.x = x + dx;
    p.y = y + dy;
    RefDrawOne(cv, cell, p);
  }
}

void Draw(TestCanvas* cv, const Params& p, int m, GlyphCanvas* out = nullptr) {
  GlyphCanvas g = cv->Canvas();
  TextDrawGlyphCopies(p.c1, p.c2, p.mode, p.orient, p.w, p.h, p.smooth, m, p.x, p.y, p.ink_only, &g);
  if (out) *out = g;
}

struct GlyphTest : ::testing::Test {
  void SetUp() override {
    FontReset();
    FontInitSlots();
  }
  void TearDown() override { FontReset(); }
};

}  // namespace

// ---- Hand-worked pictures ----------------------------------------------------------------------

TEST_F(GlyphTest, HardGlyphWritesItsWholeBoxUnlessInkOnly) {
  TestCell cell(64);
  cell.Ink(0, 0), cell.Ink(2, 0), cell.Ink(1, 1);  // a 3 x 2 glyph
  const u32 kInk = 0xFF112233, kOff = 0xFF000000, kOld = 0x0A0B0C0D;
  for (u8 ink_only : {0, 1}) {
    TestCanvas cv(5, 4);
    for (int y = 0; y < 4; y++)
      for (int x = 0; x < 5; x++) std::memcpy(cv.At(x, y), &kOld, 4);
    Params p;
    p.c1 = 0x112233, p.c2 = 0xFFFFFFFF, p.mode = 1, p.w = 3, p.h = 2, p.x = 1, p.y = 1, p.ink_only = ink_only;
    Draw(&cv, p, 0);
    const u32 off = ink_only ? kOld : kOff;
    const u32 expect[4][5] = {
        {kOld, kOld, kOld, kOld, kOld},
        {kOld, kInk, off, kInk, kOld},
        {kOld, off, kInk, off, kOld},
        {kOld, kOld, kOld, kOld, kOld},
    };
    for (int y = 0; y < 4; y++)
      for (int x = 0; x < 5; x++)
        EXPECT_EQ(cv.Pixel(x, y), expect[y][x]) << x << "," << y << " ink only " << int(ink_only);
    EXPECT_TRUE(cv.GuardsIntact());
  }
}

TEST_F(GlyphTest, QuarterTurnPlacesColumnsDownward) {
  TestCell cell(64);
  cell.Ink(0, 0), cell.Ink(2, 0), cell.Ink(1, 1);
  TestCanvas cv(4, 4);
  Params p;
  p.c1 = 0x0000FF, p.c2 = 0xFFFFFFFF, p.orient = 1, p.w = 3, p.h = 2, p.x = 0, p.y = 0;
  Draw(&cv, p, 0);
  // (c, r) -> (x + w - 1 - r, y + c): the box is columns 1..2, rows 0..2.
  const u32 I = 0xFF0000FF, O = 0xFF000000;
  EXPECT_EQ(cv.Pixel(2, 0), I);
  EXPECT_EQ(cv.Pixel(2, 2), I);
  EXPECT_EQ(cv.Pixel(1, 1), I);
  EXPECT_EQ(cv.Pixel(2, 1), O);
  EXPECT_EQ(cv.Pixel(1, 0), O);
  EXPECT_EQ(cv.Pixel(1, 2), O);
  TestCanvas untouched(4, 4);
  for (int y = 0; y < 4; y++) {
    EXPECT_EQ(cv.Pixel(0, y), untouched.Pixel(0, y));
    EXPECT_EQ(cv.Pixel(3, y), untouched.Pixel(3, y));
  }
}

TEST_F(GlyphTest, LeftToRightGradientRunsRedToBlue) {
  TestCell cell(64);
  for (int r = 0; r < 3; r++)
    for (int c = 0; c < 4; c++) cell.Ink(c, r);
  TestCanvas cv(4, 3);
  Params p;
  p.c1 = 0xFF0000, p.c2 = 0x0000FF, p.mode = 3, p.w = 4, p.h = 3;
  Draw(&cv, p, 0);
  const u32 kRow[4] = {0xFFFF0000, 0xFFAA0055, 0xFF5500AA, 0xFF0000FF};
  for (int y = 0; y < 3; y++)
    for (int x = 0; x < 4; x++) EXPECT_EQ(cv.Pixel(x, y), kRow[x]) << x << "," << y;
}

TEST_F(GlyphTest, SmoothLevelsFromSixteenSamples) {
  TestCell cell(64);
  // Pixel 0: rows 0..3 of columns 0..3; pixel 1: columns 4..7.
  cell.bits[0 * 8] = 0x0F;  // 4 ink left
  cell.bits[1 * 8] = 0x3C;  // 2 left, 2 right
  cell.bits[2 * 8] = 0x7F;  // 1 left
  cell.bits[3 * 8] = 0xF0;  // 4 right
  TestCanvas cv(2, 1);
  Params p;
  p.c1 = 0x102030, p.c2 = 0xFFFFFFFF, p.w = 2, p.h = 1, p.smooth = 1;
  Draw(&cv, p, 0);
  EXPECT_EQ(cv.Pixel(0, 0), 0x7E102030u);  // 7 samples: 126
  EXPECT_EQ(cv.Pixel(1, 0), 0x6C102030u);  // 6 samples: 108
}

TEST_F(GlyphTest, SmoothInkOnlyBlendsOverThePixels) {
  TestCell cell(64);
  cell.bits[0] = 0x1F;  // 3 samples of pixel 0
  TestCanvas cv(2, 1);
  const u8 kOld[8] = {10, 20, 30, 100, 40, 50, 60, 0};
  std::memcpy(cv.At(0, 0), kOld, 8);
  Params p;
  p.c1 = 0xC8C8C8, p.c2 = 0xFFFFFFFF, p.w = 2, p.h = 1, p.smooth = 1, p.ink_only = 1;
  Draw(&cv, p, 0);
  // Level 54, a = 55: alpha 100 + 55 - 21 - 1 = 133; 10 + 190 * 55 / 134 = 87 ...
  EXPECT_EQ(cv.Pixel(0, 0), 0x85635D57u);
  // No ink over a transparent pixel: alpha stays 0.
  EXPECT_EQ(cv.At(1, 0)[3], 0);
}

TEST_F(GlyphTest, CopyModesOutlineAndShadow) {
  TestCell cell(64);
  cell.Ink(0, 0);
  struct {
    int m;
    std::vector<std::pair<int, int>> inked;
  } kCases[] = {
      {0, {{6, 6}}},
      {2, {{4, 4}, {4, 6}, {4, 8}, {6, 4}, {6, 6}, {6, 8}, {8, 4}, {8, 6}, {8, 8}}},
      {12, {{8, 6}, {6, 8}, {8, 8}}},
      {15, {{11, 6}, {6, 11}, {11, 11}}},
      {-4, {{6, 6}}},
  };
  for (auto& c : kCases) {
    TestCanvas cv(16, 16);
    for (int y = 0; y < 16; y++)
      for (int x = 0; x < 16; x++) std::memset(cv.At(x, y), 0, 4);
    Params p;
    p.c1 = 0xFFFFFF, p.c2 = 0xFFFFFFFF, p.w = 2, p.h = 2, p.x = 6, p.y = 6, p.ink_only = 1;
    Draw(&cv, p, c.m);
    int count = 0;
    for (int y = 0; y < 16; y++)
      for (int x = 0; x < 16; x++)
        if (cv.Pixel(x, y)) count++;
    EXPECT_EQ(count, static_cast<int>(c.inked.size())) << "mode " << c.m;
    for (auto [x, y] : c.inked) EXPECT_EQ(cv.Pixel(x, y), 0xFFFFFFFFu) << "mode " << c.m << " at " << x << "," << y;
  }
}

TEST_F(GlyphTest, BoxMustLieWhollyInside) {
  TestCell cell(64);
  cell.Random(7);
  struct {
    int x, y, w, h, orient;
    bool drawn;
  } kCases[] = {
      {6, 0, 4, 4, 0, true},  {7, 0, 4, 4, 0, false}, {-1, 0, 4, 4, 0, false}, {0, 7, 4, 4, 0, false},
      {0, 6, 4, 4, 2, true},  {0, 0, 3, 6, 1, false}, {3, 0, 3, 6, 1, true},   {2, 0, 3, 6, 1, false},
      {0, 5, 6, 3, 3, false}, {0, 4, 6, 3, 3, true},  {2, 0, 3, 9, 3, false},  {1, 0, 3, 9, 3, true},
  };
  for (auto c : kCases) {
    TestCanvas cv(10, 10, 3), before(10, 10, 3);
    Params p;
    p.x = c.x, p.y = c.y, p.w = c.w, p.h = c.h, p.orient = c.orient;
    GlyphCanvas g;
    Draw(&cv, p, 0, &g);
    EXPECT_EQ(cv.buf != before.buf, c.drawn) << c.x << "," << c.y << " " << c.w << "x" << c.h << " o" << c.orient;
    EXPECT_EQ(g.has_alpha, 1);
    EXPECT_EQ(g.dirty_right > g.dirty_left, c.drawn);
  }
}

TEST_F(GlyphTest, DirtyBoxCoversEveryCopy) {
  TestCell cell(64);
  TestCanvas cv(20, 20);
  Params p;
  p.w = 4, p.h = 3, p.x = 5, p.y = 5, p.ink_only = 1;
  GlyphCanvas g;
  Draw(&cv, p, 2, &g);
  EXPECT_EQ(g.dirty_left, 3);
  EXPECT_EQ(g.dirty_top, 3);
  EXPECT_EQ(g.dirty_right, 11);
  EXPECT_EQ(g.dirty_bottom, 10);
  p.orient = 1, p.x = 10, p.y = 10;
  Draw(&cv, p, 0, &g);
  EXPECT_EQ(g.dirty_left, 11);  // columns x + w - h .. x + w - 1
  EXPECT_EQ(g.dirty_right, 14);
  EXPECT_EQ(g.dirty_bottom, 14);  // rows y .. y + w - 1
}

// ---- Gradient tables ---------------------------------------------------------------------------

TEST_F(GlyphTest, GradientCornersForEveryModeAndTurn) {
  const u32 c1 = 0xF01008, c2 = 0x20C0FF;
  for (int orient = 0; orient <= 5; orient++)
    for (int mode = 0; mode <= 9; mode++) {
      GlyphRgb got[4];
      Rgb3 want[4];
      TextGradientCorners(mode, orient, c1, c2, got);
      RefCorners(mode, orient, c1, c2, want);
      for (int i = 0; i < 4; i++) {
        EXPECT_EQ(got[i].r, want[i].c[0]) << mode << "/" << orient << " corner " << i;
        EXPECT_EQ(got[i].g, want[i].c[1]) << mode << "/" << orient << " corner " << i;
        EXPECT_EQ(got[i].b, want[i].c[2]) << mode << "/" << orient << " corner " << i;
      }
    }
  // The midpoint truncates toward the first colour: 0xF0 -> 0x20 gives 0x88.
  GlyphRgb k[4];
  TextGradientCorners(5, 0, c1, c2, k);
  EXPECT_EQ(k[1].r, 0x88);
  EXPECT_EQ(k[1].g, 0x68);
  EXPECT_EQ(k[1].b, 0x83);
}

// ---- Against the reference model ---------------------------------------------------------------

TEST_F(GlyphTest, EveryModeOrientationAndSizeMatchesTheReference) {
  struct {
    int w, h;
  } kSizes[] = {{8, 8}, {7, 5}, {5, 9}, {1, 1}, {1, 6}, {6, 1}, {0, 4}, {4, 0}, {16, 3}, {3, 16}};
  int drawn = 0;
  for (int cell_side : {64, 96}) {
    TestCell cell(cell_side);
    cell.Random(static_cast<u32>(cell_side));
    for (auto s : kSizes)
      for (int orient : {0, 1, 2, 3, 6})
        for (int mode = 0; mode <= 8; mode++)
          for (u8 smooth : {0, 1})
            for (u8 ink_only : {0, 1}) {
              Params p;
              p.w = s.w, p.h = s.h, p.orient = orient, p.mode = mode, p.smooth = smooth, p.ink_only = ink_only;
              p.x = 2 + (mode % 3), p.y = 1 + (mode % 2);
              if (mode == 4) p.c2 = 0xFFFFFFFF;
              TestCanvas got(22, 22, static_cast<u32>(mode * 7 + orient)), want = got;
              Draw(&got, p, 0);
              RefDraw(&want, cell, p, 0);
              ASSERT_TRUE(got.buf == want.buf) << s.w << "x" << s.h << " o" << orient << " mode " << mode << " smooth "
                                               << int(smooth) << " ink " << int(ink_only);
              drawn += got.buf != TestCanvas(22, 22, static_cast<u32>(mode * 7 + orient)).buf;
            }
  }
  EXPECT_GT(drawn, 1000) << "most cases draw something";
}

TEST_F(GlyphTest, CopyModesMatchTheReferenceNearTheEdges) {
  TestCell cell(96);
  cell.Random(99);
  for (int m : {0, 1, 3, 10, 11, 13, 20})
    for (int orient : {0, 1, 3})
      for (u8 smooth : {0, 1})
        for (int x : {0, 2, 9})
          for (int y : {0, 4, 12}) {
            Params p;
            p.w = 5, p.h = 7, p.orient = orient, p.smooth = smooth, p.ink_only = 1, p.x = x, p.y = y;
            p.mode = 6;
            TestCanvas got(20, 20, 5), want = got;
            Draw(&got, p, m);
            RefDraw(&want, cell, p, m);
            ASSERT_TRUE(got.buf == want.buf) << "m " << m << " o" << orient << " at " << x << "," << y;
          }
}

TEST_F(GlyphTest, TinyAndLopsidedGlyphsStayInsideTheirBuffers) {
  // A cell far too small for the glyph: reads past it are no ink, never past the allocation.
  TestCell cell(64);
  cell.Random(3);
  for (int w : {0, 1, 2, 63, 64, 100, 256})
    for (int h : {0, 1, 2, 5, 64, 100, 256})
      for (int orient : {0, 1, 2, 3})
        for (u8 smooth : {0, 1})
          for (int m : {0, 2, 12}) {
            Params p;
            p.w = w, p.h = h, p.orient = orient, p.smooth = smooth, p.x = 0, p.y = 0;
            TestCanvas got(101, 103, 11), want = got;
            Draw(&got, p, m);
            ASSERT_TRUE(got.GuardsIntact()) << w << "x" << h << " o" << orient << " m " << m;
            RefDraw(&want, cell, p, m);
            ASSERT_TRUE(got.buf == want.buf) << w << "x" << h << " o" << orient << " m " << m;
          }
}

TEST_F(GlyphTest, NothingDrawnWithoutACell) {
  TestCanvas cv(8, 8), before(8, 8);
  Params p;
  GlyphCanvas g;
  Draw(&cv, p, 0, &g);
  EXPECT_TRUE(cv.buf == before.buf);
  EXPECT_EQ(g.dirty_right, g.dirty_left);
  GlyphCanvas none = GlyphCanvasMake(nullptr, 8, 8, 32);
  TestCell cell(64);
  TextDrawGlyphHard(0, 0, 0, 0, 4, 4, 0, 0, 0, &none);
  EXPECT_EQ(none.dirty_right, 0);
}

// ---- With a real font --------------------------------------------------------------------------

TEST_F(GlyphTest, DrawGlyphRendersMeasuresAndDrawsInsideItsBox) {
  ASSERT_EQ(FontEnumInstalled(), 0);
  ASSERT_EQ(FontSelectFaceByName("IPAGothic"), 1);
  std::string a = PlatUtf8ToSjis("あ");
  for (u8 smooth : {0, 1}) {
    TestCanvas cv(30, 30), before(30, 30);
    GlyphCanvas g = cv.Canvas();
    i32 adv = TextDrawGlyph(a.c_str(), 0xFFFFFF, 0xFFFFFFFF, 0, 0, 20, 20, 0, smooth, 0, 3, 4, 1, &g);
    EXPECT_EQ(adv, 20);
    int full = 0;
    for (int y = 0; y < 30; y++)
      for (int x = 0; x < 30; x++) {
        bool in_box = x >= 3 && x < 23 && y >= 4 && y < 24;
        if (!in_box) {
          EXPECT_EQ(cv.Pixel(x, y), before.Pixel(x, y)) << x << "," << y;
        }
        if (in_box && cv.Pixel(x, y) >> 24 == 255 && (cv.Pixel(x, y) & 0xFFFFFF) == 0xFFFFFF) full++;
      }
    EXPECT_GT(full, 20) << "smooth " << int(smooth);
    EXPECT_LT(full, 300) << "smooth " << int(smooth);
    EXPECT_EQ(g.dirty_left, 3);
    EXPECT_EQ(g.dirty_bottom, 24);
  }
  // A size with no cell draws nothing, not the glyph left in the cell.
  TestCanvas cv(30, 30), before(30, 30);
  GlyphCanvas g = cv.Canvas();
  EXPECT_EQ(TextDrawGlyph(a.c_str(), 0xFFFFFF, 0, 0, 0, 20, 300, 0, 1, 0, 0, 0, 0, &g), 0);
  EXPECT_TRUE(cv.buf == before.buf);
}
