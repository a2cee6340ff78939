// The layer-to-layer operations of the layer edit command on lines built directly: blits over
// every clip case and far positions, the cross-fade, the rule transition with hard and soft
// edges, the difference masks, trimming per edge bit, against references that place every pixel
// on its own; inputs shared with the output and layers without pixels.
#include <gtest/gtest.h>

#include <climits>

#include "compose_fixture.h"
#include "kernel_ref.h"
#include "layer/blend.h"
#include "layer/layer_edit.h"
#include "layer/layer_ops.h"

namespace {

struct LayerOpsTest : ComposeTest {
  LayerEditLine line{};

  static ObjNode* Noise(const char* path, i32 w, i32 h, u32 seed) {
    ObjNode* n = TestPicture(path, w, h, 0, 0);
    TestFillNoise(LayerOf(n), seed);
    return n;
  }
  void Use(i32 k, ObjNode* n) {
    line.nodes[k] = n;
    line.recs[k] = LayerOf(n);
  }
  static ref::KernelSet Set() { return g_PixelKernels.over == g_BlendKernelsPlain.over ? ref::kPlain : ref::kSimd; }
};

// The columns or rows of the destination that the source placed at pos covers.
void Span(i64 pos, i64 src_size, i64 dst_size, i64* first, i64* end) {
  *first = *end = 0;
  if (pos >= dst_size || pos <= -src_size) return;
  *first = std::max<i64>(0, pos);
  *end = std::min<i64>(dst_size, pos + src_size);
}

TEST_F(LayerOpsTest, BlitsCoverEveryClipCaseAndFarPositions) {
  const i64 far = i64{1} << 33;
  const i64 xs[] = {-12, -2, 1, 5, 9, far + 1, -far, LLONG_MAX, LLONG_MIN};
  const i64 ys[] = {-10, -1, 1, 4, 7, far, -far - 3};
  struct Variant {
    bool both;
    i16 op_a, op_o;
    i32 slot;
  } const variants[] = {
      {false, 256, 256, 22}, {false, 100, 256, 23}, {false, 300, 0, 22},  // opacities used clamped
      {true, 256, 200, 24},  {true, 100, 180, 25},  {true, -44, 40, 25},
  };
  for (const Variant& v : variants)
    for (i32 big = 0; big < 2; big++)
      for (i64 x : xs)
        for (i64 y : ys) {
          SCOPED_TRACE(testing::Message() << "slot " << v.slot << " big " << big << " at " << x << "," << y);
          ObjNode* a = Noise("W0/a", big ? 11 : 5, big ? 9 : 4, 1);
          ObjNode* o = Noise("W0/o", 8, 6, 2);
          LayerOf(a)->opacity = v.op_a;
          LayerOf(o)->opacity = v.op_o;
          LayerOf(o)->has_alpha = 0;
          line = LayerEditLine{};
          Use(0, a);
          Use(1, o);
          line.x1 = x;
          line.y1 = y;
          std::vector<u8> want = TestPictureOf(LayerOf(o));
          const LayerRecord* ar = LayerOf(a);
          i64 x0, x1, y0, y1;
          Span(x, ar->width, 8, &x0, &x1);
          Span(y, ar->height, 6, &y0, &y1);
          for (i64 row = y0; row < y1 && x0 < x1; row++) {
            ref::Args args{};
            args.dst = want.data() + (row * 8 + x0) * 4;
            args.src = ar->pixels + ((row - y) * ar->width + (x0 - x)) * 4;
            args.op = v.op_a;
            args.f = v.op_o;
            args.bytes = static_cast<int>(x1 - x0) * 4;
            args.dst_addr = reinterpret_cast<uintptr_t>(LayerOf(o)->pixels + (row * 8 + x0) * 4);
            ref::Slot(v.slot, Set(), args);
          }
          ASSERT_EQ(LayerBlit(&line, v.both), 0);
          EXPECT_EQ(TestPictureOf(LayerOf(o)), want);
          EXPECT_EQ(LayerOf(o)->has_alpha, v.op_a > 0 || v.both ? 1 : 0);
          LayerRelease(a);
          LayerRelease(o);
        }
}

TEST_F(LayerOpsTest, CrossFadeAndRuleWorkWhereEveryPictureHasPixels) {
  struct Case {
    bool rule;
    i64 value, soft;
  } const cases[] = {
      {false, 0, 0},   {false, 127, 0},  {false, 128, 0},  {false, 255, 0},   {false, 1000, 0},       {false, -50, 0},
      {true, 0, 256},  {true, 255, 256}, {true, 100, 256}, {true, 0, 0},      {true, 255, 0},         {true, 128, 64},
      {true, 40, 255}, {true, 200, 64},  {true, -9, 64},   {true, 128, 1000}, {true, 128, LLONG_MIN},
      {true, 172, -50}, {true, 100, -3000}, {true, 128, INT32_MAX},
      // A negative value gives a progress above 256, weighed as it stands unless the edge is hard.
      {true, -1, 1}, {true, -1, -50}, {true, -9, 63}, {true, -9, 256}, {true, INT32_MIN, 3},
  };
  // The rule's weights from progress p and softness s (a 32-bit number taken as it stands; below
  // 0 the edge runs the other way).
  auto weight = [](i64 p, i64 s, i32 m) -> i64 {
    s = std::clamp<i64>(s, INT32_MIN, INT32_MAX);
    if (s == 256) return m < 256 - p ? 0 : 256;
    return std::min<i64>(255, ((m * s) >> 1) + (s >> 1) * p - 128 * s + p) + 1;
  };
  for (const Case& c : cases)
    for (i32 shared = 0; shared < 2; shared++) {
      SCOPED_TRACE(testing::Message() << (c.rule ? "rule " : "fade ") << c.value << " soft " << c.soft << " shared "
                                      << shared);
      // A 9 x 7 at (2, 1) into a 10 x 8 output; B (8 x 6) and the mask (7 x 7) are smaller, so
      // the work area is A's pixels 0..4 x 0..4 that land at 2..6 x 1..5 of the output.
      ObjNode* a = Noise("W0/a", 9, 7, 3);
      ObjNode* b = Noise("W0/b", 8, 6, 4);
      ObjNode* m = Noise("W0/m", 5, 9, 5);
      ObjNode* o = shared ? b : Noise("W0/o", 10, 8, 6);
      line = LayerEditLine{};
      Use(0, a);
      Use(1, b);
      Use(2, c.rule ? m : o);
      if (c.rule) Use(3, o);
      line.x1 = 2;
      line.y1 = 1;
      line.value = c.value;
      line.value2 = c.soft;
      const std::vector<u8> ap = TestPictureOf(LayerOf(a)), bp = TestPictureOf(LayerOf(b)),
                            mp = TestPictureOf(LayerOf(m));
      const LayerRecord* orec = LayerOf(o);
      std::vector<u8> want = TestPictureOf(orec);
      const i32 ow = orec->width, oh = orec->height;
      const i64 vv = std::min<i64>(c.value, 255);
      for (i32 dy = 1; dy < oh; dy++)
        for (i32 dx = 2; dx < ow; dx++) {
          const i32 sx = dx - 2, sy = dy - 1;
          if (sx >= 9 || sy >= 7 || sx >= 8 || sy >= 6) continue;  // A and B
          if (c.rule && (sx >= 5 || sy >= 9)) continue;            // the mask
          const u8* A = &ap[(sy * 9 + sx) * 4];
          const u8* B = &bp[(sy * 8 + sx) * 4];
          u8* D = &want[(static_cast<size_t>(dy) * ow + dx) * 4];
          if (!c.rule) {
            const i64 w = std::clamp<i64>(vv + 1, 0, 256);
            for (i32 k = 0; k < 4; k++) D[k] = static_cast<u8>((A[k] * (256 - w) + B[k] * w) >> 8);
            continue;
          }
          const i64 p = 256 - vv;
          const i64 w = p == 256 ? 256 : p < 2 ? 0 : weight(p, c.soft, mp[(sy * 5 + sx) * 4]);
          for (i32 k = 0; k < 4; k++)
            D[k] = static_cast<u8>(w < 2 ? B[k] : B[k] - ref::FloorDiv((B[k] - A[k]) * static_cast<int>(w), 256));
        }
      ASSERT_EQ(c.rule ? LayerRuleTransition(&line) : LayerCrossFade(&line), 0);
      const std::vector<u8> got = TestPictureOf(orec);
      // The kernel halves each side at weight 128 in its 8-byte groups: one level either way.
      const int slack = !c.rule && vv + 1 == 128 ? 1 : 0;
      ASSERT_EQ(got.size(), want.size());
      int shown = 0;
      for (size_t i = 0; i < got.size(); i++)
        if (std::abs(got[i] - want[i]) > slack && shown++ < 4)
          ADD_FAILURE() << "byte " << i << ": " << int(got[i]) << " != " << int(want[i]);
      EXPECT_EQ(orec->has_alpha, 1);
      LayerRelease(a);
      LayerRelease(b);
      LayerRelease(m);
      if (!shared) LayerRelease(o);
    }
}

TEST_F(LayerOpsTest, DifferenceMasksAndLayersWithoutPixels) {
  for (bool keep_equal : {false, true}) {
    ObjNode* a = Noise("W0/a", 6, 5, 7);
    ObjNode* o = Noise("W0/o", 6, 5, 8);
    // Pixels equal where x + y is even, A placed at (-1, 2).
    for (i32 y = 0; y < 5; y++)
      for (i32 x = 0; x < 6; x++)
        if ((x + y) % 2 == 0 && x + 1 < 6 && y - 2 >= 0)
          std::memcpy(LayerOf(o)->pixels + (y * 6 + x) * 4, LayerOf(a)->pixels + ((y - 2) * 6 + x + 1) * 4, 4);
    const std::vector<u8> before = TestPictureOf(LayerOf(o));
    line = LayerEditLine{};
    Use(0, a);
    Use(1, o);
    line.x1 = -1;
    line.y1 = 2;
    ASSERT_EQ(LayerDifference(&line, keep_equal), 0);
    for (i32 y = 0; y < 5; y++)
      for (i32 x = 0; x < 6; x++) {
        const u32 got = TestPixel(LayerOf(o), x, y);
        u32 old;
        std::memcpy(&old, &before[(y * 6 + x) * 4], 4);
        if (x + 1 >= 6 || y < 2) {
          EXPECT_EQ(got, old) << x << "," << y << " lies outside A";
          continue;
        }
        const u32 av = TestPixel(LayerOf(a), x + 1, y - 2);
        EXPECT_EQ(got, (old == av) == keep_equal ? av : 0u) << x << "," << y;
      }
    LayerRelease(a);
    LayerRelease(o);
  }
  // A fresh record (no pixels) is neither read nor written; a blit into one still sets has-alpha.
  ObjNode* a = Noise("W0/a", 4, 4, 9);
  ObjNode* e = LayerCreateNode("W0/e", 0, 0);
  ASSERT_NE(LayerRecordNew(e), nullptr);
  line = LayerEditLine{};
  Use(0, a);
  Use(1, e);
  Use(2, e);
  Use(3, e);
  EXPECT_EQ(LayerBlit(&line, false), 0);
  EXPECT_EQ(LayerOf(e)->has_alpha, 1);
  EXPECT_EQ(LayerCrossFade(&line), 0);
  EXPECT_EQ(LayerRuleTransition(&line), 0);
  EXPECT_EQ(LayerOf(e)->pixels, nullptr);
}

TEST_F(LayerOpsTest, TrimCutsEachSelectedEdgeToTheVisiblePixels) {
  // Visible pixels span columns 2..6 and rows 1..3 of a 9 x 6 picture.
  auto make = [](const char* path, bool any_visible) {
    ObjNode* n = Noise(path, 9, 6, 10);
    LayerRecord* r = LayerOf(n);
    for (i32 y = 0; y < 6; y++)
      for (i32 x = 0; x < 9; x++) r->pixels[(y * 9 + x) * 4 + 3] = 0;
    if (any_visible) {
      r->pixels[(1 * 9 + 4) * 4 + 3] = 1;
      r->pixels[(3 * 9 + 2) * 4 + 3] = 200;
      r->pixels[(2 * 9 + 6) * 4 + 3] = 255;
    }
    r->has_alpha = 1;
    return n;
  };
  for (bool visible : {true, false})
    for (i64 bits = 0; bits < 16; bits++)
      for (bool output : {false, true}) {
        SCOPED_TRACE(testing::Message() << "bits " << bits << " visible " << visible << " output " << output);
        ObjNode* a = make("W0/a", visible);
        ObjNode* o = output ? Noise("W0/o", 3, 3, 11) : nullptr;
        const std::vector<u8> src = TestPictureOf(LayerOf(a));
        line = LayerEditLine{};
        Use(0, a);
        if (o) Use(1, o);
        line.value = bits;
        const bool cut = visible;
        const i32 top = cut && (bits & 8) ? 1 : 0, bottom = cut && (bits & 4) ? 3 : 5;
        const i32 left = cut && (bits & 2) ? 2 : 0, right = cut && (bits & 1) ? 6 : 8;
        ASSERT_EQ(LayerTrim(&line), 0);
        const LayerRecord* r = LayerOf(o ? o : a);
        ASSERT_EQ(r->width, right - left + 1);
        ASSERT_EQ(r->height, bottom - top + 1);
        EXPECT_EQ(r->has_alpha, 1);
        for (i32 y = 0; y < r->height; y++)
          for (i32 x = 0; x < r->width; x++)
            ASSERT_EQ(TestPixel(r, x, y), *reinterpret_cast<const u32*>(&src[((top + y) * 9 + left + x) * 4]));
        if (o) {
          EXPECT_EQ(LayerOf(a)->width, 9);
        }
        LayerRelease(a);
        if (o) LayerRelease(o);
      }
}

// The rule's row kernel over every mask byte, at row lengths that leave 0 to 3 pixels after the
// groups of four, against the formula on each byte: B - floor((B - A) * w / 256), B where w < 2.
TEST_F(LayerOpsTest, RuleRowMatchesTheFormulaForEveryMaskByteAndRowTail) {
  const i32 n = 259;
  std::vector<u8> a(n * 4), b(n * 4), m(n * 4);
  for (i32 i = 0; i < n; i++)
    for (i32 k = 0; k < 4; k++) {
      a[i * 4 + k] = static_cast<u8>(i % 3 == 0 ? 0 : (i * 37 + k * 11) & 255);
      b[i * 4 + k] = static_cast<u8>(i % 5 == 0 ? 255 : (i * 53 + k * 7 + 3) & 255);
      m[i * 4 + k] = static_cast<u8>(k == 0 ? i & 255 : 255 - (i & 255));  // only byte 0 counts
    }
  for (i32 p : {2, 3, 106, 128, 255})
    for (i32 soft : {0, 1, 64, 255, 256})
      for (i32 len : {n, n - 1, n - 2, n - 3, 3, 1}) {
        SCOPED_TRACE(testing::Message() << "p " << p << " soft " << soft << " pixels " << len);
        BlendBuildMaskWeights(p, soft, 256);
        std::vector<u8> got(n * 4, 0xEE);
        LayerRuleRow(got.data(), a.data(), b.data(), m.data(), len);
        int shown = 0;
        for (i32 i = 0; i < n; i++) {
          const i32 w = g_MaskWeights[m[i * 4]];
          for (i32 k = 0; k < 4; k++) {
            const u8 B = b[i * 4 + k], A = a[i * 4 + k];
            const int want = i >= len ? 0xEE : w < 2 ? B : B - ref::FloorDiv((B - A) * w, 256);
            if (got[i * 4 + k] != want && shown++ < 4)
              ADD_FAILURE() << "pixel " << i << " byte " << k << ": " << int(got[i * 4 + k]) << " != " << want;
          }
        }
      }
}

}  // namespace
