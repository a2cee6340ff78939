// Resizing and rotation against per-pixel references written from the arithmetic of each filter
// (nothing shared with the code under test but the installed halving kernel's rounding), on
// layers of the tree: whole pictures, parts, rectangles that reach outside, sizes 1, 2 and 17,
// a frame-sized picture both ways; then the buffer rules (reuse, keep-buffer, output = source,
// pixel-less layers) and the threaded filter on one and four workers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "compose_fixture.h"
#include "layer/cpu.h"
#include "layer/kernels.h"
#include "layer/layer_resize.h"
#include "resize_reference.h"

namespace {

using namespace resize_ref;

// ---- Scenes ----------------------------------------------------------------------------------

struct ResizeTest : ComposeTest {
  void SetUp() override {
    ComposeTest::SetUp();
    UseWorkers(0);
  }
  // A source layer "W0/s" of noise (its spare bytes noise too) and an output "W0/o".
  static Pic MakeSource(i32 w, i32 h, u32 seed) {
    ObjNode* n = TestPicture("W0/s", w, h, 0, 0, 1);
    LayerRecord* r = LayerOf(n);
    std::mt19937 rng(seed);
    for (size_t i = 0; i < ImagePixelBytes(w, h); i++) r->pixels[i] = static_cast<u8>(rng());
    return Pic{w, h, std::vector<u8>(r->pixels, r->pixels + ImagePixelBytes(w, h))};
  }
  static Out Result(const char* path) {
    const LayerRecord* r = LayerOf(Node(path));
    Out o(static_cast<size_t>(r->width) * r->height);
    std::memcpy(o.data(), r->pixels, o.size() * 4);
    return o;
  }
  static ObjNode* Node(const char* path) { return ObjFindNode(g_LayerRoot, path, OBJ_FIND_ITEM); }
  static void Clear() {
    for (const char* p : {"W0/s", "W0/o"})
      if (ObjNode* n = Node(p)) LayerRelease(n);
  }
};

typedef Out (*RefFn)(const Pic&, Rect, i64, i64);

// Index of the first differing pixel of the compared rows (width w), or -1.
i64 FirstDiff(const Out& a, const Out& b, i64 w = 1) {
  if (a.size() != b.size()) return 0;
  const i64 h = static_cast<i64>(a.size()) / w;
  for (size_t i = 0; i < a.size(); i++)
    if (a[i] != b[i] && RowWanted(static_cast<i64>(i) / w, h)) return static_cast<i64>(i);
  return -1;
}

TEST_F(ResizeTest, EveryFilterMatchesItsReference) {
  // The bilinear filters also without their AVX2 rows (on a processor that has AVX2), and the
  // threaded one also with the plain kernel set's halving, each with its AVX-512 rows (where the
  // processor has them) and with its AVX2 rows.
  struct Filter {
    i32 code;
    RefFn ref;
    bool avx2, plain, avx512;
  } const filters[] = {{RESIZE_NEAREST, RefNearest, true, false, true},
                       {RESIZE_BILINEAR, RefBilinear, true, false, true},
                       {RESIZE_BILINEAR, RefBilinear, false, false, false},
                       {RESIZE_BICUBIC, RefBicubic, true, false, true},
                       {RESIZE_BILINEAR_THREADED, RefThreaded, true, false, true},
                       {RESIZE_BILINEAR_THREADED, RefThreaded, true, false, false},
                       {RESIZE_BILINEAR_THREADED, RefThreaded, false, false, false},
                       {RESIZE_BILINEAR_THREADED, RefThreaded, true, true, true},
                       {RESIZE_BILINEAR_THREADED, RefThreaded, true, true, false},
                       {RESIZE_SINC, RefSinc, true, false, true}};
  const u8 has_avx2 = g_CpuHasAvx2, has_avx512 = g_CpuHasAvx512;
  const PixelKernelTable installed = g_PixelKernels;
  struct Case {
    i32 sw, sh;
    Rect r;  // {-1, ...}: the whole picture
    i64 w100, h100;
  } const cases[] = {
      {17, 13, {-1, 0, 0, 0}, 100, 100},               // to one pixel
      {17, 13, {-1, 0, 0, 0}, 200, 250},               // to two
      {17, 13, {-1, 0, 0, 0}, 1700, 1700},             // to 17
      {2, 1, {-1, 0, 0, 0}, 1750, 300},                // from two and one
      {1, 9, {-1, 0, 0, 0}, 500, 1400},                // source width 1
      {17, 17, {-1, 0, 0, 0}, 3400, 850},              // enlarge one way, shrink the other
      {40, 30, {350, 275, 2233, 1960}, 2600, 3100},    // a part, fractional bounds
      {40, 30, {-520, -310, 4550, 3475}, 3300, 2100},  // reaching outside on every side
      {40, 30, {2900, 2000, 1200, 500}, 1500, 1200},   // bounds the wrong way round
      {40, 30, {-1, 0, 0, 0}, 2000, 1500},             // halving: sub-samples one pixel apart
      {40, 30, {-1, 0, 0, 0}, 900, 700},               // to less than a quarter
      {1920, 1080, {-1, 0, 0, 0}, 128000, 72000},
      {1280, 720, {-1, 0, 0, 0}, 192000, 108000},
  };
  for (const Case& c : cases) {
    Pic s = MakeSource(c.sw, c.sh, 7);
    Rect r = c.r.x1 == -1 ? Rect{0, 0, (c.sw - 1) * 100, (c.sh - 1) * 100} : c.r;
    for (const Filter& f : filters) {
      SCOPED_TRACE(testing::Message() << "filter " << f.code << (f.avx2 ? "" : " without AVX2")
                                      << (f.avx512 ? "" : " without AVX-512") << (f.plain ? " plain halving" : "")
                                      << " " << c.sw << "x" << c.sh << " -> " << c.w100 << "x" << c.h100 << " rect "
                                      << r.x1 << "," << r.y1 << "," << r.x2 << "," << r.y2);
      if (ObjNode* o = Node("W0/o")) LayerRelease(o);
      ObjNode* out = TestPicture("W0/o", 1, 1, 0, 0, 2);
      g_CpuHasAvx2 = f.avx2 ? has_avx2 : 0;
      g_CpuHasAvx512 = f.avx512 ? has_avx512 : 0;
      if (f.plain) g_PixelKernels = g_BlendKernelsPlain;
      const i32 rc = LayerResize(Node("W0/s"), out, r.x1, r.y1, r.x2, r.y2, c.w100, c.h100, true, f.code, "W0/o");
      g_CpuHasAvx2 = has_avx2;
      g_CpuHasAvx512 = has_avx512;
      ASSERT_EQ(rc, 0);
      ASSERT_EQ(LayerOf(out)->width, c.w100 / 100);
      ASSERT_EQ(LayerOf(out)->height, c.h100 / 100);
      g_RowStep = c.sw > 1000 ? 7 : 1;
      Out want = f.ref(s, r, c.w100, c.h100), got = Result("W0/o");
      i64 d = FirstDiff(got, want, c.w100 / 100);
      g_RowStep = 1;
      g_PixelKernels = installed;
      ASSERT_EQ(d, -1) << "pixel " << d % (c.w100 / 100) << "," << d / (c.w100 / 100) << " got " << std::hex << got[d]
                       << " want " << want[d];
    }
    Clear();
  }
}

// Bounds far beyond the picture: positions stay in 64 bits (a 16.16 step over more than 65535
// pixels wraps in 32), each bound limited to 2^31 pixels, and nothing outside the picture is read.
TEST_F(ResizeTest, FarBoundsStayInSixtyFourBits) {
  Pic s = MakeSource(20, 10, 3);
  const i64 lim = i64{1} << 31;
  const Rect rects[] = {{0, 0, 7000000, 900}, {-400000000000LL, 0, 1900, 900}, {0, 0, 900000000000000LL, 900}};
  for (const Rect& r : rects)
    for (auto [code, ref] : {std::pair<i32, RefFn>{RESIZE_NEAREST, RefNearest},
                             {RESIZE_BICUBIC, RefBicubic},
                             {RESIZE_BILINEAR_THREADED, RefThreaded}}) {
      SCOPED_TRACE(testing::Message() << "filter " << code << " x " << r.x1 << ".." << r.x2);
      // The bounds as the filter sees them: whole pixels for 10 and 31, hundredths for 41.
      auto limit = [&](i64 v) {
        return code == RESIZE_BILINEAR_THREADED ? std::clamp(v, -lim * 100, lim * 100)
                                                : std::clamp(v / 100, -lim, lim) * 100;
      };
      ObjNode* out = TestPicture("W0/o", 1, 1, 0, 0, 2);
      ASSERT_EQ(LayerResize(Node("W0/s"), out, r.x1, r.y1, r.x2, r.y2, 900, 700, true, code, "o"), 0);
      Out got = Result("W0/o");
      EXPECT_EQ(FirstDiff(got, ref(s, {limit(r.x1), r.y1, limit(r.x2), r.y2}, 900, 700)), -1);
      if (r.x2 == 7000000 && code != RESIZE_BILINEAR_THREADED) {
        EXPECT_GT(std::count_if(got.begin(), got.end(), [](u32 v) { return v != 0; }), 0)
            << "the first column is taken";
      }
      LayerRelease(out);
    }
}

TEST_F(ResizeTest, RotationMatchesItsReference) {
  // other: a shape whose buffer has the byte size of the source's (w * (h + 1) alike), 0 x 0 when
  // there is none.
  struct Case {
    i32 w, h, other_w, other_h;
  } const sizes[] = {{1, 1, 0, 0},     {2, 2, 3, 1},     {17, 17, 18, 16},
                     {40, 23, 60, 15}, {23, 40, 41, 22}, {64, 64, 65, 63}};
  const i64 angles[] = {0, 90, 180, 270, 720, -90, -180, 45, 30, -135, 361, 1, 89, 179, 269, 359, -1};
  // Into a new buffer, and into an output whose buffer is reused in place because it has the byte
  // size the result needs (of the source's size, or of another shape): variant 12 then writes only
  // the turned span, leaving the buffer's other bytes as they were.
  enum { kNew, kSameSize, kSameBytes };
  for (const Case& c : sizes) {
    Pic s = MakeSource(c.w, c.h, 11);
    for (int into : {kNew, kSameSize, kSameBytes})
      for (i32 variant : {ROTATE_TESTED, ROTATE_CLAMPED})
        for (i64 a : angles) {
          if (into == kSameBytes && c.other_w == 0) continue;
          SCOPED_TRACE(testing::Message()
                       << c.w << "x" << c.h << " by " << a << " variant " << variant << " into " << into);
          if (ObjNode* o = Node("W0/o")) LayerRelease(o);
          ObjNode* out = into == kNew        ? TestPicture("W0/o", 3, 3, 0, 0, 2)
                         : into == kSameSize ? TestPicture("W0/o", c.w, c.h, 0, 0, 2)
                                             : TestPicture("W0/o", c.other_w, c.other_h, 0, 0, 2);
          const u8* buf = LayerOf(out)->pixels;
          std::memset(LayerOf(out)->pixels, 0x5A, ImagePixelBytes(LayerOf(out)->width, LayerOf(out)->height));
          TestFillNoise(LayerOf(out), 5);
          Out before;  // the bytes a reused buffer's result is read from
          if (into != kNew) {
            before.resize(static_cast<size_t>(c.w) * c.h);
            std::memcpy(before.data(), buf, before.size() * 4);
          }
          LayerOf(Node("W0/s"))->has_alpha = 0;
          ASSERT_EQ(LayerRotate(Node("W0/s"), out, a, true, variant, "W0/o"), 0);
          ASSERT_EQ(LayerOf(out)->pixels == buf, into != kNew);
          ASSERT_EQ(LayerOf(out)->width, c.w);
          ASSERT_EQ(LayerOf(out)->height, c.h);
          EXPECT_EQ(LayerOf(out)->has_alpha, a % 180 == 0 ? 0 : 1);
          const bool kept = into != kNew && variant == ROTATE_CLAMPED && a % 90 != 0;
          Out want = RefRotate(s, a, variant, kept ? &before : nullptr), got = Result("W0/o");
          i64 d = FirstDiff(got, want);
          ASSERT_EQ(d, -1) << "pixel " << d % c.w << "," << d / c.w;
        }
    Clear();
  }
}

// A quarter turn of a wide picture keeps a band as wide as the picture is high; of a tall one, a
// band as high as the picture is wide: everything else is transparent black.
TEST_F(ResizeTest, QuarterTurnsKeepOnlyTheRotatedPicture) {
  for (auto [w, h] : {std::pair<i32, i32>{40, 10}, {10, 40}}) {
    MakeSource(w, h, 5);
    TestFillSolid(LayerOf(Node("W0/s")), 0xFF112233u);
    for (i64 a : {90, 270}) {
      SCOPED_TRACE(testing::Message() << w << "x" << h << " by " << a);
      ObjNode* out = TestPicture("W0/o", 1, 1, 0, 0, 2);
      ASSERT_EQ(LayerRotate(Node("W0/s"), out, a, true, ROTATE_TESTED, "W0/o"), 0);
      Out got = Result("W0/o");
      i64 cols = 0, rows = 0;
      for (i32 x = 0; x < w; x++) cols += got[static_cast<size_t>(h / 2) * w + x] != 0;
      for (i32 y = 0; y < h; y++) rows += got[static_cast<size_t>(y) * w + w / 2] != 0;
      EXPECT_EQ(cols, std::min(w, h));
      EXPECT_EQ(rows, std::min(w, h));
      EXPECT_EQ(std::count(got.begin(), got.end(), 0xFF112233u), static_cast<long>(std::min(w, h)) * std::min(w, h));
      LayerRelease(out);
    }
    Clear();
  }
}

TEST_F(ResizeTest, BufferRules) {
  Pic s = MakeSource(30, 20, 9);
  LayerRecord* src = LayerOf(Node("W0/s"));
  src->has_alpha = 1;
  // An output of the new size keeps its buffer; a larger one only with its keep-buffer flag. A
  // reused buffer keeps the output's alpha flag; only a new one takes the source's.
  ObjNode* out = TestPicture("W0/o", 15, 10, 0, 0, 2);
  u8* buf = LayerOf(out)->pixels;
  ASSERT_EQ(LayerResize(Node("W0/s"), out, 0, 0, 2900, 1900, 1500, 1000, true, RESIZE_NEAREST, "o"), 0);
  EXPECT_EQ(LayerOf(out)->pixels, buf);
  EXPECT_EQ(LayerOf(out)->has_alpha, 0);
  LayerOf(out)->keep_buffer = 1;
  ASSERT_EQ(LayerResize(Node("W0/s"), out, 0, 0, 2900, 1900, 1400, 900, true, RESIZE_NEAREST, "o"), 0);
  EXPECT_EQ(LayerOf(out)->pixels, buf);
  EXPECT_EQ(LayerOf(out)->width, 14);
  EXPECT_EQ(LayerOf(out)->has_alpha, 0);
  EXPECT_EQ(FirstDiff(Result("W0/o"), RefNearest(s, {0, 0, 2900, 1900}, 1400, 900)), -1);
  // A rotation into an output of another shape and byte size (20 x 30 against the source's
  // 30 x 20) makes a new buffer.
  ObjNode* odd = TestPicture("W0/odd", 20, 30, 0, 0, 3);
  u8* odd_buf = LayerOf(odd)->pixels;
  ASSERT_EQ(LayerRotate(Node("W0/s"), odd, 30, true, ROTATE_TESTED, "odd"), 0);
  EXPECT_NE(LayerOf(odd)->pixels, odd_buf);
  EXPECT_EQ(LayerOf(odd)->width, 30);
  EXPECT_EQ(LayerOf(odd)->height, 20);

  // Output = source (in place, and a second name of the same record): the result is worked into
  // a new buffer, so it equals what a separate output gets.
  ObjNode* alias = LayerCreateNode("W0/alias", 0, 4);
  LayerRecordShare(alias, src);
  for (ObjNode* o : {Node("W0/s"), alias})
    for (i32 code : {RESIZE_BICUBIC, RESIZE_BILINEAR_THREADED}) {
      SCOPED_TRACE(code);
      std::memcpy(src->pixels, s.px.data(), s.px.size());
      src->width = 30;
      src->height = 20;
      ASSERT_EQ(LayerResize(Node("W0/s"), o, 0, 0, 2900, 1900, 3700, 2300, o != Node("W0/s"), code, "s"), 0);
      RefFn ref = code == RESIZE_BICUBIC ? RefBicubic : RefThreaded;
      EXPECT_EQ(FirstDiff(Result("W0/s"), ref(s, {0, 0, 2900, 1900}, 3700, 2300)), -1);
      // Back to the starting size, in a new buffer of that size.
      u8* np = static_cast<u8*>(std::malloc(s.px.size()));
      std::free(src->pixels);
      src->pixels = np;
    }
  std::memcpy(src->pixels, s.px.data(), s.px.size());
  src->width = 30;
  src->height = 20;
  ASSERT_EQ(LayerRotate(Node("W0/s"), Node("W0/s"), 45, false, ROTATE_TESTED, "s"), 0);
  EXPECT_EQ(FirstDiff(Result("W0/s"), RefRotate(s, 45, ROTATE_TESTED)), -1);

  // A layer without pixels (a fresh record of a line's further layer) is never resized or turned,
  // and its 1 x 1 size never passes for a buffer to reuse.
  ObjNode* bare = LayerCreateNode("W0/bare", 0, 5);
  LayerRecordNew(bare);
  ASSERT_EQ(LayerResize(bare, out, 0, 0, 0, 0, 100, 100, true, RESIZE_NEAREST, "bare"), 0);
  EXPECT_EQ(LayerOf(out)->width, 14) << "unchanged";
  ASSERT_EQ(LayerRotate(bare, nullptr, 45, false, ROTATE_TESTED, "bare"), 0);
  EXPECT_EQ(LayerOf(bare)->pixels, nullptr);
  ASSERT_EQ(LayerResize(Node("W0/s"), bare, 0, 0, 0, 0, 100, 100, true, RESIZE_NEAREST, "bare"), 0);
  ASSERT_NE(LayerOf(bare)->pixels, nullptr);
  EXPECT_EQ(TestPixel(LayerOf(bare), 0, 0), TestPixel(src, 0, 0));
  EXPECT_EQ(LayerOf(bare)->has_alpha, 1) << "a new buffer takes the source's alpha flag";
}

// The threaded filter on one and on four workers: the same bytes.
TEST_F(ResizeTest, ThreadedFilterIsTheSameOnOneAndFourWorkers) {
  Pic s = MakeSource(333, 211, 21);
  std::vector<Out> results;
  for (i32 n : {1, 4}) {
    UseWorkers(n);
    ObjNode* out = TestPicture(("W0/o" + std::to_string(n)).c_str(), 1, 1, 0, 0, 2);
    ASSERT_EQ(LayerResize(Node("W0/s"), out, -250, 130, 30050, 20000, 41700, 9900, true, RESIZE_BILINEAR_THREADED, "o"),
              0);
    results.push_back(Result(("W0/o" + std::to_string(n)).c_str()));
  }
  EXPECT_EQ(FirstDiff(results[0], results[1]), -1);
  EXPECT_EQ(FirstDiff(results[0], RefThreaded(s, {-250, 130, 30050, 20000}, 41700, 9900)), -1);
}

}  // namespace
