// The GPU path on the platform's device: tiles, each set-up blend mode against its stage and blend
// formulas, the effect passes, rotation, read-back, snapshot, the lost-device rebuild and the
// start-up fall-backs. Scenes are drawn by the frame pass and read back into a layer.
#include <algorithm>
#include <cmath>
#include <vector>

#include "gpu_fixture.h"
#include "layer/kernels.h"

namespace {

struct Rgba {
  float c[4];  // B, G, R, A in 0..1
};
Rgba FromU32(u32 v) {
  Rgba r;
  for (int i = 0; i < 4; i++) r.c[i] = static_cast<float>((v >> (8 * i)) & 255) / 255.0f;
  return r;
}
u32 ToU32(const Rgba& r) {
  u32 v = 0;
  for (int i = 0; i < 4; i++) v |= static_cast<u32>(std::lround(std::clamp(r.c[i], 0.0f, 1.0f) * 255.0f)) << (8 * i);
  return v;
}

// The stage table and blend triple of a mode, computed per channel on the CPU: texture t,
// opacity o (0..256), over destination d.
u32 ModeReference(i32 mode, u32 texel, i32 opacity, u32 dest) {
  const Rgba t = FromU32(texel), d = FromU32(dest);
  const float o = static_cast<float>(std::min(opacity, 255)) / 255.0f;
  Rgba s;
  switch (mode) {
    case 0:
    case 1:
      s = t;
      s.c[3] = t.c[3] * o;
      break;
    default: {
      for (int i = 0; i < 4; i++) s.c[i] = t.c[i] * o;
      const float towards = mode == 5 ? 0.0f : 1.0f;  // black for screen, white for multiply, darken
      if (mode == 3 || mode == 5 || mode == 7)
        for (int i = 0; i < 3; i++) s.c[i] = s.c[i] * s.c[3] + towards * (1.0f - s.c[3]);
    }
  }
  Rgba out;
  for (int i = 0; i < 4; i++) {
    const float sa = s.c[3], sc = s.c[i], dc = d.c[i];
    switch (mode) {
      case 0: out.c[i] = sc * sa + dc * (1 - sa); break;
      case 1: out.c[i] = sc * sa + dc; break;
      case 2: out.c[i] = dc - sc * sa; break;
      case 3: out.c[i] = dc * sc; break;
      case 5: out.c[i] = sc * (1 - dc) + dc; break;
      case 6: out.c[i] = std::max(sc, dc); break;
      case 7: out.c[i] = std::min(sc, dc); break;
      case 9: out.c[i] = sc * (1 - dc) + dc * (1 - sc); break;
    }
  }
  return ToU32(out);
}

}  // namespace

TEST_F(GpuTest, TilesArePowersOfTwoUnderTheLimitsInOrder) {
  struct Case {
    i32 w, h, max_w, max_h;
    std::vector<i32> cols, rows;
  } cases[] = {
      {16, 16, 512, 256, {16}, {16}},
      {17, 3, 512, 256, {32}, {16}},
      {1000, 600, 512, 256, {512, 512}, {256, 256, 128}},
      {300, 20, 64, 0, {64, 64, 64, 64, 64}, {32}},
  };
  int i = 0;
  for (const Case& c : cases) {
    std::string path = "W0/t" + std::to_string(i++);
    ObjNode* n = Sprite(
        path.c_str(), c.w, c.h, 0, 0, [](i32 x, i32 y) { return 0xFF000000u | (x * 7 + y * 3); }, 0, c.max_w, c.max_h);
    ASSERT_NE(n, nullptr) << c.w << "x" << c.h;
    LayerRecord* r = LayerOf(n);
    EXPECT_EQ(std::vector<i32>(r->tile_widths, r->tile_widths + r->tile_cols), c.cols) << c.w << "x" << c.h;
    EXPECT_EQ(std::vector<i32>(r->tile_heights, r->tile_heights + r->tile_rows), c.rows) << c.w << "x" << c.h;
    for (size_t k = 0; k < c.cols.size() * c.rows.size(); k++) EXPECT_NE(r->textures[k], nullptr);
    EXPECT_EQ(r->textures[c.cols.size() * c.rows.size()], nullptr);
    EXPECT_EQ(r->gpu_transform[0], c.w * 50) << "the centre in hundredths";
    EXPECT_EQ(r->gpu_transform[1], c.h * 50);
    if (c.w == 17) {
      // The one tile as staged: 17 pixels of the picture, then 15 transparent black, every row.
      for (i32 y = 0; y < 16; y++)
        for (i32 x = 0; x < 32; x++) {
          u32 v;
          std::memcpy(&v, g_SpriteStaging + (static_cast<size_t>(y) * 32 + x) * 4, 4);
          u32 want = x < 17 && y < 3 ? 0xFF000000u | (x * 7 + y * 3) : 0u;
          ASSERT_EQ(v, want) << x << "," << y;
        }
    }
  }
}

TEST_F(GpuTest, OverflowingTilingsAreRefusedWithTheirBoxAndLeaveNoTiles) {
  struct Case {
    i32 w, h, max_w, max_h;
    const char* box;
  } cases[] = {
      {16, 8192, 512, 256, "TYNUM Overflow Error. SX = 16, SY = 8192, mRest = 0"},
      {256, 272, 16, 16, "TXNUM Overflow Error."},  // 16 x 17 tiles: more than the table's 256
  };
  for (const Case& c : cases) {
    ObjNode* n = TestPicture("W0/big", c.w, c.h, 0, 0);
    LayerRecord* r = LayerOf(n);
    r->draw_kind = LAYER_DRAW_SPRITE;
    r->height = 16;
    ASSERT_EQ(D3dBuildLayerTextures(r, 0, 16, 16), 0) << "a first build that fits";
    r->height = c.h;
    const i32 live = PlatGpuLiveObjects();
    testing::internal::CaptureStderr();
    EXPECT_EQ(D3dBuildLayerTextures(r, 0, c.max_w, c.max_h), -1);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(c.box), std::string::npos) << err;
    for (void* t : r->textures) EXPECT_EQ(t, nullptr);
    EXPECT_LT(PlatGpuLiveObjects(), live) << "the earlier tiles were released";
    LayerRelease(n);
  }
}

TEST_F(GpuTest, EachBlendModeFollowsItsStageAndBlendFormulas) {
  UseReadback();
  const u32 back = 0xFF4080C0u;
  ObjNode* bg = Solid("W0/bg", 64, 48, 0, 0, back, 1);
  ASSERT_NE(bg, nullptr);
  const u32 texels[] = {0xFF20A060u, 0x80F04010u, 0x40FFFFFFu};
  const i32 opacities[] = {256, 128, 0};
  for (i32 mode : {0, 1, 2, 3, 5, 6, 7, 9})
    for (u32 texel : texels)
      for (i32 o : opacities) {
        ObjNode* n = Solid("W0/s", 16, 16, 8, 8, texel, 2);
        ASSERT_NE(n, nullptr);
        LayerOf(n)->blend_mode = static_cast<u8>(mode);
        LayerOf(n)->opacity = static_cast<i16>(o);
        D3dRenderFrame();
        EXPECT_TRUE(Near(Px(16, 16), ModeReference(mode, texel, o, back), 2))
            << "mode " << mode << " texel " << std::hex << texel << std::dec << " opacity " << o;
        EXPECT_EQ(Px(2, 2), back) << "outside the sprite";
        if (o == 0 && mode <= 1) {
          EXPECT_EQ(Px(16, 16), back) << "opacity 0 is invisible in mode " << mode;
        }
        LayerRelease(n);
      }
}

TEST_F(GpuTest, OpaqueSpritesAtFullOpacityAgreeWithTheCpuKernels) {
  UseReadback();
  const u32 back = 0xFF4080C0u, texel = 0xFF20A0F0u;
  ASSERT_NE(Solid("W0/bg", 64, 48, 0, 0, back, 1), nullptr);
  struct Case {
    i32 mode;
    KernelRowFn kernel;
    bool texel_first;  // the kernel's destination row holds the texel (mode 2 runs the other way)
  } cases[] = {{1, g_PixelKernels.add, false},     {2, g_PixelKernels.sub, true},
               {3, g_PixelKernels.mul, false},     {5, g_PixelKernels.screen, false},
               {6, g_PixelKernels.lighten, false}, {7, g_PixelKernels.darken, false}};
  for (const Case& c : cases) {
    ObjNode* n = Solid("W0/s", 16, 16, 8, 8, texel, 2);
    LayerOf(n)->blend_mode = static_cast<u8>(c.mode);
    D3dRenderFrame();
    u32 d = c.texel_first ? texel : back, s = c.texel_first ? back : texel;
    c.kernel(reinterpret_cast<u8*>(&d), reinterpret_cast<const u8*>(&s), 4);
    EXPECT_TRUE(Near(Px(16, 16) | 0xFF000000u, d | 0xFF000000u, 2)) << "mode " << c.mode;
    LayerRelease(n);
  }
  ObjNode* n = Solid("W0/s", 16, 16, 8, 8, texel, 2);
  D3dRenderFrame();
  EXPECT_EQ(Px(16, 16), texel) << "mode 0 shows the sprite as it is";
  LayerRelease(n);
}

TEST_F(GpuTest, CrossFadeAndMaskPassesFollowTheirFormulas) {
  UseReadback();
  const u32 a = 0xFFC08040u, b = 0x80204080u;
  ObjNode* second = Solid("W0/b", 16, 16, 0, 0, b, 0);
  LayerOf(second)->visible = 0;
  // Masks of one grey each (red channel 0, 85, 255).
  const i32 greys[] = {0, 85, 255};
  for (i32 g : greys) {
    std::string path = "W0/m" + std::to_string(g);
    ObjNode* m = Solid(path.c_str(), 16, 16, 0, 0, 0xFF000000u | static_cast<u32>(g) << 16);
    LayerOf(m)->visible = 0;
  }
  ObjNode* n = Solid("W0/s", 16, 16, 8, 8, a, 1);
  LayerRecord* r = LayerOf(n);
  // Cross-fade: a x (1 - f) + b x f, alpha times opacity / 256, then blended as mode 0.
  std::strcpy(r->second_name, "W0/b");
  for (i32 amount : {0, 64, 256})
    for (i32 o : {256, 128}) {
      r->second_amount = static_cast<u16>(amount);
      r->opacity = static_cast<i16>(o);
      D3dRenderFrame();
      const float f = static_cast<float>(amount) / 256.0f;
      Rgba ra = FromU32(a), rb = FromU32(b), mix;
      for (int i = 0; i < 4; i++) mix.c[i] = ra.c[i] * (1 - f) + rb.c[i] * f;
      const float sa = mix.c[3] * static_cast<float>(o) / 256.0f;
      Rgba want;
      for (int i = 0; i < 4; i++) want.c[i] = (i == 3 ? sa : mix.c[i]) * sa;
      EXPECT_TRUE(Near(Px(16, 16), ToU32(want), 2)) << "amount " << amount << " opacity " << o;
    }
  // Mask: alpha x saturate((fade - m.red / 2) x softness) x opacity / 256, fade = progress x
  // (256 / softness + 128) / 65536; a softness of 0 falls back to the cross-fade.
  r->second_name[0] = 0;
  r->opacity = 256;
  for (i32 softness : {256, 4})
    for (i32 progress : {0, 128, 256}) {
      for (i32 g : greys) {
        r->mask_softness = static_cast<i16>(softness);
        r->mask_progress = static_cast<i16>(progress);
        std::snprintf(r->mask_name, LAYER_NAME_SIZE, "W0/m%d", g);
        D3dRenderFrame();
        const float fade = static_cast<float>(progress) * (256.0f / static_cast<float>(softness) + 128.0f) / 65536.0f;
        const float m = static_cast<float>(g) / 255.0f;
        const float k = std::clamp((fade - 0.5f * m) * static_cast<float>(softness), 0.0f, 1.0f);
        const float sa = k;  // a is opaque
        Rgba ra = FromU32(a), want;
        for (int i = 0; i < 4; i++) want.c[i] = (i == 3 ? sa : ra.c[i]) * sa;
        EXPECT_TRUE(Near(Px(12, 12), ToU32(want), 2))
            << "softness " << softness << " progress " << progress << " mask grey " << g;
      }
    }
}

TEST_F(GpuTest, SpritesTurnAboutTheirCentre) {
  UseReadback();
  const u32 c = 0xFF00FF00u;
  // A fresh sprite at the origin turns about its own middle (10, 5).
  ObjNode* n = Solid("W0/s", 20, 10, 0, 0, c, 1);
  LayerOf(n)->rot_z = 9000.0f;
  D3dRenderFrame();
  EXPECT_EQ(Px(10, 12), c) << "below the unturned sprite, inside the turned one";
  EXPECT_EQ(Px(2, 5), 0u) << "inside the unturned sprite, outside the turned one";
  EXPECT_EQ(Px(10, 5), c);
  // Elsewhere, about the centre the layer command sets (hundredths, in screen coordinates).
  LayerRecord* r = LayerOf(n);
  r->x100 = 3000;
  r->y100 = 2000;
  r->gpu_transform[0] = 4000;
  r->gpu_transform[1] = 2500;
  r->rot_z = 18000.0f;  // half a turn: the same rectangle
  D3dRenderFrame();
  // The half-pixel offset turns with the quad: the covered centres move one pixel on. The
  // sprite's last column and row take an eighth of the tile's transparent padding (the texture
  // coordinates lead by an eighth of a texel), and turned they are its first ones: not compared.
  for (i32 y = 18; y < 33; y++)
    for (i32 x = 28; x < 53; x++) {
      if (x == 31 || y == 21) continue;
      const bool inside = x >= 31 && x <= 50 && y >= 21 && y <= 30;
      EXPECT_EQ(Px(x, y), inside ? c : 0u) << x << "," << y;
    }
}

TEST_F(GpuTest, ReadBackIsTopDownWithAlphaKeptAndRefusesAnotherSize) {
  UseReadback();
  Solid("W0/s", 64, 3, 0, 0, 0x80FF0000u, 1);
  D3dRenderFrame();
  EXPECT_TRUE(Near(Px(5, 0), 0x40800000u, 1)) << "source-alpha blend over transparent black";
  EXPECT_TRUE(Near(Px(5, 1), 0x40800000u, 1));
  EXPECT_EQ(Px(5, 3), 0u);
  EXPECT_EQ(Px(5, 47), 0u);
  // Another size: the box with both sizes, at every pass, and the picture stays.
  ObjNode* other = TestPicture("W0/small", 32, 48, 0, 0, -50);
  TestFillSolid(LayerOf(other), 0x11223344u);
  g_D3dReadbackNode = other;
  for (int pass = 0; pass < 2; pass++) {
    testing::internal::CaptureStderr();
    D3dRenderFrame();
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("(32, 48) --- (64, 48)"), std::string::npos) << err;
  }
  u32 v;
  std::memcpy(&v, LayerOf(other)->pixels, 4);
  EXPECT_EQ(v, 0x11223344u);
}

TEST_F(GpuTest, DrawingModeZeroNeverReadsBack) {
  UseReadback();
  Solid("W0/s", 64, 48, 0, 0, 0xFFFFFFFFu, 1);
  TestFillSolid(LayerOf(readback), 0x01020304u);
  g_GpuDrawing = 1;
  g_D3dInUse = 0;
  D3dRenderFrame();
  EXPECT_EQ(Px(10, 10), 0x01020304u);
  g_GpuDrawing = 0;
  g_D3dInUse = 1;
}

TEST_F(GpuTest, SnapshotDrawsOneLayerAtItsOpacityIntoAnotherLayer) {
  const u32 c = 0xFF8040C0u;
  ObjNode* src = Solid("W0/s", 16, 8, 4, 2, c, 1);
  ObjNode* dst = TestPicture("W0/d", 5, 5, 0, 0, 2);
  for (i32 o : {256, 128}) {
    LayerOf(src)->opacity = static_cast<i16>(o);
    EXPECT_EQ(D3dSnapshotLayer(src, dst), 0);
    LayerRecord* d = LayerOf(dst);
    ASSERT_EQ(d->width, 64);
    ASSERT_EQ(d->height, 48);
    u32 v, outside;
    std::memcpy(&v, d->pixels + (static_cast<size_t>(5) * 64 + 10) * 4, 4);
    std::memcpy(&outside, d->pixels, 4);
    const float a = static_cast<float>(std::min(o, 255)) / 255.0f;
    Rgba want = FromU32(c);
    for (int i = 0; i < 4; i++) want.c[i] *= a;
    want.c[3] = a * a;  // the alpha channel takes the same source-alpha blend
    EXPECT_TRUE(Near(v, ToU32(want), 2)) << "opacity " << o;
    EXPECT_EQ(outside, 0u);
  }
}

TEST_F(GpuTest, LostDeviceRebuildsEveryLayersTilesWithTheSamePicture) {
  UseReadback();
  Sprite(
      "W0/a", 40, 30, 3, 4, [](i32 x, i32 y) { return 0xFF000000u | static_cast<u32>(x * 5) << 8 | (y * 7); }, 1);
  ObjNode* f = TestFolder("W0/f", 64, 48, 0, 0, 2);
  ASSERT_NE(f, nullptr);
  Solid("W0/f/b", 8, 8, 30, 20, 0x80FFFFFFu, 0);
  D3dRenderFrame();
  const std::vector<u8> before(LayerOf(readback)->pixels, LayerOf(readback)->pixels + 64 * 48 * 4);
  const i32 live = PlatGpuLiveObjects();
  void* old_tile = LayerOf(ObjFindNode(g_LayerRoot, "W0/a", OBJ_FIND_ITEM))->textures[0];
  struct Case {
    i32 status;
    u8 gpu_drawing, reset_request;
    bool rebuilt, drawn;
  } cases[] = {
      {PLAT_GPU_NOT_RESET, 0, 0, true, true},
      {PLAT_GPU_OK, 0, 1, true, true},     // a reset request rebuilds too
      {PLAT_GPU_LOST, 0, 0, false, true},  // not back yet: the pass goes on
  };
  for (const Case& c : cases) {
    std::memset(LayerOf(readback)->pixels, 0x55, 64 * 48 * 4);
    PlatGpuTestForceStatus(c.status, 1);
    g_D3dResetRequest = c.reset_request;
    g_GpuDrawing = c.gpu_drawing;
    D3dRenderFrame();
    EXPECT_EQ(g_D3dResetRequest.load(), 0);
    EXPECT_EQ(std::memcmp(before.data(), LayerOf(readback)->pixels, before.size()) == 0, c.drawn)
        << "status " << c.status;
    EXPECT_EQ(PlatGpuLiveObjects(), live) << "the rebuild made what it released";
    EXPECT_EQ(g_D3dInUse, 1);
  }
  EXPECT_NE(LayerOf(ObjFindNode(g_LayerRoot, "W0/a", OBJ_FIND_ITEM))->textures[0], old_tile);
  // With GPU drawing (mode 0 or 1) a due rebuild is not acted on and the request stays.
  g_GpuDrawing = 1;
  g_D3dResetRequest = 1;
  PlatGpuTestForceStatus(PLAT_GPU_NOT_RESET, 1);
  D3dRenderFrame();
  EXPECT_EQ(g_D3dResetRequest.load(), 1);
  g_GpuDrawing = 0;
  g_D3dResetRequest = 0;
}

// A picture that cannot be read again does not stop the rebuild: its tiles are made from what the
// failed load left, and every later layer gets its tiles too.
TEST_F(GpuTest, RebuildGoesOnPastAPictureThatCannotBeReadAgain) {
  UseReadback();
  TestNameErrorCodes({100070});
  TestAddMemoryFile("bad.bmp", IMAGE_TYPE_BMP, std::vector<u8>(64, 'x'));  // no "BM"
  const u32 colours[] = {0xFF102030u, 0xFF405060u};
  ObjNode* bad = Solid("W0/bad", 8, 8, 0, 0, colours[0], 1);
  ObjNode* later = Solid("W0/later", 8, 8, 10, 0, colours[1], 2);
  ASSERT_TRUE(bad && later);
  std::strcpy(LayerOf(bad)->source_name, "bad.bmp");
  g_D3dResetRequest = 1;
  D3dRenderFrame();
  EXPECT_NE(g_ErrLastText.find("E100070"), std::string::npos) << "the load itself failed: " << g_ErrLastText;
  for (ObjNode* n : {bad, later}) {
    const LayerRecord* r = LayerOf(n);
    EXPECT_NE(r->textures[0], nullptr) << n->name;
    EXPECT_EQ(TestPixel(r, 3, 3), n == bad ? colours[0] : colours[1]) << n->name;
  }
  D3dRenderFrame();
  EXPECT_EQ(Px(13, 3), colours[1]) << "the later layer is drawn";
  EXPECT_EQ(Px(3, 3), colours[0]) << "the failed one shows the picture its load left";
  PackMemoryListsFree();
  g_QuitRequested = 0;
}

TEST_F(GpuTest, SixteenBitTilesRoundOrDiffuseTheirColours) {
  UseReadback();
  g_D3dTextureFormat = D3D_FMT_A4R4G4B4;
  for (u8 dither : {0, 1}) {
    g_D3dDitherTextures = dither;
    ObjNode* n = Solid("W0/s", 32, 32, 0, 0, 0xFF7F7F7Fu, 1);
    D3dRenderFrame();
    i64 sum = 0;
    std::vector<i32> seen;
    for (i32 y = 4; y < 28; y++)
      for (i32 x = 4; x < 28; x++) {
        sum += Ch(Px(x, y), 0);
        seen.push_back(Ch(Px(x, y), 0));
      }
    std::sort(seen.begin(), seen.end());
    const double mean = static_cast<double>(sum) / static_cast<double>(seen.size());
    if (!dither) {
      EXPECT_EQ(seen.front(), 119) << "127 rounds to level 7 of 15";
      EXPECT_EQ(seen.back(), 119);
    } else {
      EXPECT_NEAR(mean, 127.0, 3.0) << "diffusion keeps the mean";
      EXPECT_NE(seen.front(), seen.back()) << "two levels are mixed";
    }
    LayerRelease(n);
  }
}

TEST_F(GpuTest, PasteCopiesOnlyWhatBothPicturesHave) {
  UseReadback();
  ObjNode* dst = Solid("W0/d", 8, 4, 0, 0, 0xFFFFFFFFu, 1);
  // A smaller source: its 4 x 2 pixels, the rest of the tile transparent black.
  ObjNode* small = TestPicture("W0/small", 4, 2, 0, 0, -1);
  TestFillSolid(LayerOf(small), 0xFF102030u);
  ASSERT_EQ(D3dPasteSprite(small, dst), 0);
  D3dRenderFrame();
  EXPECT_EQ(Px(1, 0), 0xFF102030u);
  EXPECT_EQ(Px(5, 0), 0u);
  EXPECT_EQ(Px(1, 2), 0u);
  // A wider source: each row read with the source's own width.
  ObjNode* wide = TestPicture("W0/wide", 20, 6, 0, 0, -2);
  LayerRecord* w = LayerOf(wide);
  for (i32 y = 0; y < 6; y++)
    for (i32 x = 0; x < 20; x++) {
      u32 v = 0xFF000000u | static_cast<u32>(y * 40) << 8 | static_cast<u32>(x * 10);
      std::memcpy(w->pixels + (static_cast<size_t>(y) * 20 + x) * 4, &v, 4);
    }
  ASSERT_EQ(D3dPasteSprite(wide, dst), 0);
  D3dRenderFrame();
  // Rows 0 to 2, column 6: an eighth of the next texel on each axis comes along.
  for (i32 y = 0; y < 3; y++)
    EXPECT_TRUE(Near(Px(6, y), 0xFF000000u | static_cast<u32>(y * 40 + 5) << 8 | 61u, 2)) << y;
  EXPECT_EQ(LayerOf(dst)->width, 8);
}

// ---- Start-up ----------------------------------------------------------------------------------

struct GpuStartupTest : GpuTest {
  void SetUp() override {
    GpuTest::SetUp();
    if (IsSkipped()) return;
    D3dResetForTests();
  }
};

TEST_F(GpuStartupTest, EachFailureShowsItsBoxAndLeavesNothingBehind) {
  struct Case {
    const char* what;
    void (*arrange)();
    i32 result;
    const char* box;  // UTF-8 as the stderr sink prints it
  } cases[] = {
      {"no display", [] { PlatGpuTestFailDisplay(true); }, 1, "[DX]オブジェクトを生成できませんでした。"},
      {"no device", [] { PlatGpuTestFailDevice(true, true); }, 1,
       "[Direct3D初期化エラー]Direct3Dの初期化に失敗しました。"},
      {"old version", [] { PlatGpuTestForceVersion(2, 1); }, 1, "環境チェック"},
      {"no render texture", [] { PlatGpuTestFailTexturesAfter(1); }, -1, "Render テクスチャを生成できませんでした。"},
      {"no snapshot texture", [] { PlatGpuTestFailTexturesAfter(2); }, -1, "GetSS テクスチャを生成できませんでした。"},
  };
  for (const Case& c : cases) {
    D3dResetForTests();
    c.arrange();
    testing::internal::CaptureStderr();
    EXPECT_EQ(D3dStartup(), c.result) << c.what;
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(c.box), std::string::npos) << c.what << ": " << err;
    EXPECT_EQ(PlatGpuLiveObjects(), 0) << c.what;
    EXPECT_EQ(g_D3dDevice, 0) << c.what;
    PlatGpuTestFailDisplay(false);
    PlatGpuTestFailDevice(false, false);
    PlatGpuTestForceVersion(0, 0);
    PlatGpuTestFailTexturesAfter(-1);
  }
}

TEST_F(GpuStartupTest, SettingTwelveSkipsTheResetReportingDevice) {
  for (u8 skip : {0, 1}) {
    D3dResetForTests();
    PlatGpuTestFailDevice(false, false);
    g_D3dNoHardwareVp = skip;
    ASSERT_EQ(D3dStartup(), 0);
    i32 robust = 0;
    EXPECT_EQ(PlatGpuTestDeviceAttempts(&robust), 1);
    EXPECT_EQ(robust, skip ? 0 : 1);
  }
  g_D3dNoHardwareVp = 0;
}
