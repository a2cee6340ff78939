// Pixel effects: every effect on seeded noise, in place and into an output layer, on the whole
// picture and on an offset rectangle, against the per-pixel references; neutral values; the
// has-alpha rules of the fills; empty rectangles; the settings copy and the player move.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "common/rand.h"
#include "compose_fixture.h"
#include "core/hooks.h"
#include "core/state.h"
#include "fx_reference.h"
#include "layer/cpu.h"
#include "layer/fx.h"

namespace {

struct FxTest : ComposeTest {
  void TearDown() override {
    FxReset();
    ComposeTest::TearDown();
  }
  static fxref::Pic PicOf(const LayerRecord* r) {
    fxref::Pic p;
    p.w = r->width;
    p.h = r->height;
    p.px.resize(static_cast<size_t>(p.w) * p.h);
    std::memcpy(p.px.data(), r->pixels, p.px.size() * 4);
    return p;
  }
  static ObjNode* Noise(const char* path, i32 w, i32 h, u32 seed, u8 has_alpha) {
    ObjNode* n = TestPicture(path, w, h, 0, 0);
    TestFillNoise(LayerOf(n), seed, has_alpha != 0);
    LayerOf(n)->has_alpha = has_alpha;
    return n;
  }
};

void ExpectSame(const fxref::Pic& got, const fxref::Pic& want) {
  ASSERT_EQ(got.w, want.w);
  ASSERT_EQ(got.h, want.h);
  int shown = 0;
  for (i32 y = 0; y < got.h; y++)
    for (i32 x = 0; x < got.w; x++)
      if (got.at(x, y) != want.at(x, y) && shown++ < 4)
        ADD_FAILURE() << "pixel " << x << "," << y << ": " << std::hex << got.at(x, y) << " != " << want.at(x, y);
}

TEST_F(FxTest, EveryEffectMatchesItsReference) {
  struct Effect {
    i32 code, value, value2, mode;
  } const effects[] = {
      {1, 40, 0, 0},     {1, 200, 0, 0},         {2, 1, 0, 0},         {2, 40, 0, 0},    {3, 3, 0, 0},
      {3, 0, 0, 0},      {4, 5, 0, 0},           {5, 2, 0, 0},         {5, 256, 0, 0},   {6, 3, 0, 0},
      {7, 4, 0, 0},      {8, 0, 0, 0},           {9, 0, 0, 0},         {10, 7, 0, 0},    {10, 256, 0, 0},
      {11, 1, 0, 0},     {12, 0x20C0FF, 0, 0},   {12, 0x00FF80, 0, 0}, {19, 100, 0, 0},  {20, 3, 0, 0},
      {20, 4, 0, 0},     {21, 5, 30, 0},         {22, -7, 100, 0},     {23, 40, -20, 0}, {24, 0x123456, 0, 1},
      {24, 0x80, 0, 2},  {24, 0x7F102030, 0, 3}, {27, 1, 0, 0},        {29, 0, 0, 0},    {29, 60, 0, 0},
      {29, 200, 0, 0},   {29, 256, 0, 0},        {37, 1, 0, 0},        {38, 0, 0, 0},    {39, 900, 0, 0},
      {39, -3600, 0, 0},
  };
  struct Rect {
    i32 x1, y1, x2, y2;
  } const rects[] = {{0, 0, 22, 16}, {3, 2, 17, 12}};
  for (u8 has_alpha : {u8{0}, u8{1}})
    for (const Rect& rc : rects)
      for (bool output : {false, true})
        for (const Effect& e : effects) {
          SCOPED_TRACE(testing::Message() << "effect " << e.code << " value " << e.value << " mode " << e.mode
                                          << " alpha " << int(has_alpha) << " rect " << rc.x1 << " out " << output);
          ObjNode* a = Noise("W0/a", 23, 17, 11 + e.code, has_alpha);
          ObjNode* b = output ? Noise("W0/b", 5, 5, 3, 1) : nullptr;
          const fxref::Pic before = PicOf(LayerOf(a));
          RandCrtSeed(77);
          const fxref::Job job{e.code, rc.x1, rc.y1, rc.x2, rc.y2, e.value, e.value2, has_alpha != 0, e.mode, 77};
          const fxref::Pic want = fxref::Apply(before, job);
          ASSERT_EQ(FxDispatch(e.code, a, b, rc.x1, rc.y1, rc.x2, rc.y2, e.value, e.value2, output, e.mode), 0);
          ExpectSame(PicOf(LayerOf(output ? b : a)), want);
          if (output) {
            ExpectSame(PicOf(LayerOf(a)), before);
            EXPECT_EQ(LayerOf(b)->has_alpha, has_alpha);
          }
          LayerRelease(a);
          if (b) LayerRelease(b);
          FxReset();
        }
}

// The colour effects and the blurs run four pixels (or four channels) at a time with SSE2: every
// byte value in each channel, rows that leave 0 to 3 pixels after the groups of four, values at
// and beyond the ends of their ranges, windows wider than the picture, and an output that
// already has the result's size (the result in a buffer other than the output's, spare bytes
// cleared also in a buffer kept from an earlier result).
TEST_F(FxTest, VectorPathsMatchTheReferenceOnEveryByteAndRowTail) {
  struct Effect {
    i32 code;
    std::vector<i32> values;
  } const effects[] = {
      {1, {-400, 0, 127, 128, 129, 255, 383, 1000}},
      {12, {0, 0x808080, 0xFF00FF, 0x017FC0}},
      {19, {0, 1, 85, 255, 256, -1}},
      {27, {0}},
      {29, {0, 1, 127, 128, 129, 200, 255, 256}},
      {38, {0}},
      {3, {1, 2, 130, 261, 100000}},
      {4, {1, 7, 40}},
      {5, {1, 3, 300}},
      {6, {1, 2}},
  };
  struct Rect {
    i32 x1, y1, x2, y2;
  } const rects[] = {{0, 0, 260, 5}, {1, 1, 255, 4}, {2, 0, 258, 5}, {5, 2, 7, 3}, {3, 0, 3, 5}};
  const i32 w = 261, h = 6;
  ObjNode* a = TestPicture("W0/a", w, h, 0, 0);
  for (i32 y = 0; y < h; y++)
    for (i32 x = 0; x < w; x++) {
      const u32 b = static_cast<u32>(x) & 255, g = static_cast<u32>(x * 7 + y * 5) & 255,
                r = static_cast<u32>(255 - x + y * 11) & 255, al = static_cast<u32>(x + y * 3) & 255;
      const u32 v = b | g << 8 | r << 16 | al << 24;
      std::memcpy(LayerOf(a)->pixels + (y * w + x) * 4, &v, 4);
    }
  LayerOf(a)->has_alpha = 1;
  const fxref::Pic before = PicOf(LayerOf(a));
  const u8 avx2 = g_CpuHasAvx2;  // the AVX2 kernels where the processor has them, and without
  for (u8 use_avx2 : {u8{0}, avx2})
    for (const Effect& e : effects)
      for (i32 value : e.values)
        for (const Rect& rc : rects) {
          g_CpuHasAvx2 = use_avx2;
          SCOPED_TRACE(testing::Message() << "effect " << e.code << " value " << value << " rect " << rc.x1 << ","
                                          << rc.y1 << " " << rc.x2 << "," << rc.y2 << " avx2 " << int(use_avx2));
          const fxref::Job job{e.code, rc.x1, rc.y1, rc.x2, rc.y2, value, 0, true, 0, 0};
          const fxref::Pic want = fxref::Apply(before, job);
          ObjNode* o = TestPicture("W0/o", want.w, want.h, 0, 0);
          LayerRecord* orec = LayerOf(o);
          u8* const own = orec->pixels;
          std::memset(own + static_cast<size_t>(want.w) * want.h * 4, 0x5A, static_cast<size_t>(want.w) * 4 + 4);
          ASSERT_EQ(FxDispatch(e.code, a, o, rc.x1, rc.y1, rc.x2, rc.y2, value, 0, true, 0), 0);
          u8* const first = orec->pixels;
          ASSERT_NE(first, own) << "the result goes to a buffer of its own";
          ExpectSame(PicOf(orec), want);
          // Again: the buffer the first result replaced (its spare bytes set above) may come back,
          // spare bytes cleared.
          ASSERT_EQ(FxDispatch(e.code, a, o, rc.x1, rc.y1, rc.x2, rc.y2, value, 0, true, 0), 0);
          ASSERT_NE(orec->pixels, first);
          ExpectSame(PicOf(orec), want);
          for (size_t i = 0; i < static_cast<size_t>(want.w) * 4 + 4; i++)
            ASSERT_EQ(orec->pixels[static_cast<size_t>(want.w) * want.h * 4 + i], 0) << "spare byte " << i;
          LayerRelease(o);
        }
  g_CpuHasAvx2 = avx2;
  ExpectSame(PicOf(LayerOf(a)), before);
  LayerRelease(a);
}

TEST_F(FxTest, NeutralValuesLeaveTheRectangleAsItWas) {
  struct Case {
    i32 code, value;
    i32 x1, y1, x2, y2;
  } const cases[] = {
      {1, 128, 0, 0, 9, 7}, {12, 0x808080, 2, 1, 9, 7}, {29, 128, 0, 0, 9, 7}, {2, 5, 4, 4, 4, 4},  {5, 9, 3, 3, 3, 3},
      {21, 0, 1, 2, 8, 6},  {23, 0, 0, 0, 9, 7},        {10, 1, 0, 0, 9, 7},   {39, 0, 1, 1, 8, 6}, {20, 1, 0, 0, 9, 7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    ObjNode* a = Noise("W0/a", 10, 8, 5, 1);
    const fxref::Pic before = PicOf(LayerOf(a));
    ASSERT_EQ(FxDispatch(c.code, a, nullptr, c.x1, c.y1, c.x2, c.y2, c.value, 0, false, 0), 0);
    const fxref::Pic cut =
        fxref::Cut({0, c.x1, c.y1, c.x2, c.y2, 0, 0, false, 0, 0}, [&](i32 x, i32 y) { return before.at(x, y); });
    ExpectSame(PicOf(LayerOf(a)), cut);
    LayerRelease(a);
  }
  // Threshold 0 makes every pixel white, 256 every pixel black; alpha stays.
  for (i32 v : {0, 256}) {
    ObjNode* a = Noise("W0/a", 10, 8, 6, 1);
    const fxref::Pic before = PicOf(LayerOf(a));
    ASSERT_EQ(FxDispatch(19, a, nullptr, 0, 0, 9, 7, v, 0, false, 0), 0);
    const fxref::Pic after = PicOf(LayerOf(a));
    for (size_t i = 0; i < after.px.size(); i++)
      ASSERT_EQ(after.px[i], (v ? 0u : 0xFFFFFFu) | (before.px[i] & 0xFF000000u)) << i;
    LayerRelease(a);
  }
}

TEST_F(FxTest, FillsSetHasAlphaAndEmptyRectanglesDoNothing) {
  struct Case {
    i32 mode;
    i64 value;
    i32 x2;
    u8 alpha_before, alpha_after;
  } const cases[] = {
      {3, 0xFF102030, 9, 1, 0},  // opaque over the whole picture
      {3, 0xFF102030, 8, 0, 1},  // opaque over a part
      {3, 0x10102030, 9, 0, 1}, {2, 255, 9, 1, 0},
      {2, 254, 9, 0, 1},        {1, 0x102030, 8, 1, 1},  // the opaque colour fill leaves the flag
      {1, 0x102030, 9, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.mode << " " << c.x2);
    ObjNode* a = Noise("W0/a", 10, 8, 7, c.alpha_before);
    ASSERT_EQ(FxDispatch(24, a, nullptr, 0, 0, c.x2, 7, c.value, 0, false, c.mode), 0);
    EXPECT_EQ(LayerOf(a)->has_alpha, c.alpha_after);
    EXPECT_EQ(LayerOf(a)->width, 10) << "fills work in place";
    LayerRelease(a);
  }
  // An empty rectangle, or a source without pixels, changes nothing (also no output).
  ObjNode* a = Noise("W0/a", 10, 8, 8, 1);
  ObjNode* b = Noise("W0/b", 3, 3, 9, 0);
  const fxref::Pic before = PicOf(LayerOf(a)), out_before = PicOf(LayerOf(b));
  EXPECT_EQ(FxDispatch(2, a, nullptr, 5, 0, 4, 7, 3, 0, false, 0), 0);
  EXPECT_EQ(FxDispatch(27, a, b, 0, 6, 9, 2, 1, 0, true, 0), 0);
  EXPECT_EQ(FxDispatch(27, a, b, 12, 0, 20, 7, 1, 0, true, 0), 0) << "left of the picture after the clamps";
  ExpectSame(PicOf(LayerOf(a)), before);
  ExpectSame(PicOf(LayerOf(b)), out_before);
  ObjNode* empty = LayerCreateNode("W0/e", 0, 0);
  ASSERT_NE(LayerRecordNew(empty), nullptr);
  EXPECT_EQ(FxDispatch(5, empty, b, 0, 0, 9, 7, 3, 0, true, 0), 0);
  ExpectSame(PicOf(LayerOf(b)), out_before);
}

LayerRecord* g_Released = nullptr;
void RecordRelease(LayerRecord* r) {
  g_Released = r;
  r->player = nullptr;
}

TEST_F(FxTest, CopiesTakeSettingsFieldByFieldAndMoveThePlayer) {
  ObjNode* a = Noise("W0/a", 10, 8, 10, 1);
  ObjNode* b = Noise("W0/b", 4, 4, 11, 0);
  LayerRecord* s = LayerOf(a);
  LayerRecord* o = LayerOf(b);
  s->opacity = 77;
  s->x = -5;
  s->y100 = 1234;
  s->blend_mode = 3;
  s->tone = 0x102030;
  s->rot_z = 2.5f;
  s->gpu_transform[4] = 9;
  std::memset(s->mask_name, 'm', LAYER_NAME_SIZE - 1);  // a name as long as the buffer allows
  std::strcpy(s->second_name, "W0/second");
  s->draw_kind = LAYER_DRAW_CHARACTER;
  s->player = s;  // any handle: the bridge is not loaded
  std::strcpy(s->source_name, "chara.psb");
  o->player = o;
  o->player_flag = 0;
  s->player_flag = 0;
  g_HookEmoteReleasePlayer = RecordRelease;
  g_EmoteSlots[3] = s;
  g_EmoteSlots[5] = o;

  ASSERT_EQ(FxDispatch(FX_COPY_SETTINGS, a, b, 2, 1, 6, 5, 0, 0, true, 0), 0);
  EXPECT_NE(o->pixels, s->pixels);
  EXPECT_EQ(o->width, 5);
  EXPECT_EQ(TestPixel(o, 0, 0), TestPixel(s, 2, 1));
  EXPECT_EQ(o->opacity, 77);
  EXPECT_EQ(o->x, -5);
  EXPECT_EQ(o->y100, 1234);
  EXPECT_EQ(o->blend_mode, 3);
  EXPECT_EQ(o->tone, 0x102030u);
  EXPECT_EQ(o->rot_z, 2.5f);
  EXPECT_EQ(o->gpu_transform[4], 9);
  EXPECT_EQ(std::strlen(o->mask_name), static_cast<size_t>(LAYER_NAME_SIZE - 1));
  EXPECT_STREQ(o->second_name, "W0/second");
  EXPECT_EQ(o->frame_set, nullptr);
  // The player moved: the output's own one released, the slots renamed, the source a sprite.
  EXPECT_EQ(g_Released, o);
  EXPECT_EQ(o->player, s);
  EXPECT_EQ(o->draw_kind, LAYER_DRAW_CHARACTER);
  EXPECT_STREQ(o->source_name, "chara.psb");
  EXPECT_EQ(g_EmoteSlots[3], o) << "the slot names the output";
  EXPECT_EQ(s->player, nullptr);
  EXPECT_EQ(s->draw_kind, LAYER_DRAW_SPRITE);
  EXPECT_STREQ(s->source_name, "");
  EXPECT_EQ(o->player_flag, 0) << "only the plain copy sets the player values";

  // Effect 9 moves it back and sets the player values; a copy onto itself leaves it.
  ASSERT_EQ(FxDispatch(FX_COPY, b, a, 0, 0, 4, 6, 0, 0, true, 0), 0);
  EXPECT_EQ(s->player, s);
  EXPECT_EQ(s->player_value2, 1.0f);
  EXPECT_EQ(s->player_flag, 1);
  EXPECT_EQ(g_EmoteSlots[3], s);
  ASSERT_EQ(FxDispatch(FX_COPY, a, a, 0, 0, 2, 2, 0, 0, true, 0), 0);
  EXPECT_EQ(s->player, s);
  EXPECT_EQ(s->width, 3);
  EXPECT_EQ(g_EmoteSlots[3], s);
  s->player = nullptr;
  o->player = nullptr;
  g_HookEmoteReleasePlayer = nullptr;
  g_EmoteSlots[3] = g_EmoteSlots[5] = nullptr;
}

TEST_F(FxTest, ScatterFollowsTheRuntimeGenerator) {
  // The generator of the Windows C runtime: the first numbers from seed 1.
  RandCrtSeed(1);
  EXPECT_EQ(RandCrtNext(), 41);
  EXPECT_EQ(RandCrtNext(), 18467);
  EXPECT_EQ(RandCrtNext(), 6334);
  // A fixed seed repeats the scatter; another seed gives another picture.
  std::vector<fxref::Pic> runs;
  for (u32 seed : {5u, 5u, 6u}) {
    ObjNode* a = Noise("W0/a", 12, 9, 12, 0);
    RandCrtSeed(seed);
    ASSERT_EQ(FxDispatch(10, a, nullptr, 0, 0, 11, 8, 20, 0, false, 0), 0);
    runs.push_back(PicOf(LayerOf(a)));
    LayerRelease(a);
  }
  EXPECT_EQ(runs[0].px, runs[1].px);
  EXPECT_NE(runs[0].px, runs[2].px);
}

}  // namespace
