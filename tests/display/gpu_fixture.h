// GPU scenes: the compose fixture's window 0 (64 x 48) and layer tree with a real device on the
// platform's EGL display (Mesa's llvmpipe where there is no GPU), sprite layers built into tiles,
// and a read-back layer of the screen's size that receives each frame pass.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "../layer/compose_fixture.h"
#include "core/state.h"
#include "display/gpu.h"
#include "platform/gpu.h"
#include "shell/startup.h"

// Why the GPU tests cannot run here, or empty when an EGL display opens.
inline std::string GpuUnavailableReason() {
  PlatGpuDisplay* d = PlatGpuDisplayOpen();
  if (!d) return "no EGL display can be opened on this machine";
  PlatGpuDisplayClose(d);
  return "";
}

struct GpuTest : ComposeTest {
  ObjNode* readback = nullptr;

  void SetUp() override {
    ComposeTest::SetUp();
    UseWorkers(0);
    D3dResetForTests();
    PlatGpuTestFailDisplay(false);
    PlatGpuTestForceStatus(PLAT_GPU_OK, 0);
    PlatGpuTestForceVersion(0, 0);
    PlatGpuTestFailTexturesAfter(-1);
    PlatGpuTestFailDevice(false, false);
    std::string why = GpuUnavailableReason();
    if (!why.empty()) GTEST_SKIP() << why;
    g_D3dInUse = 1;
    g_GpuDrawing = 0;
    g_D3dNoHardwareVp = 0;
    g_D3dTextureFormat = D3D_FMT_A8R8G8B8;
    g_D3dDitherTextures = 1;
    g_D3dTileMaxSize[0] = 512;
    g_D3dTileMaxSize[1] = 256;
    g_D3dMagFilter = g_D3dMinFilter = 1;
    g_D3dMipFilter = 0;
    g_D3dResetRequest = 0;
    SysInstallHooks();
    ASSERT_EQ(D3dStartup(), 0);
  }
  void TearDown() override {
    D3dResetForTests();
    EXPECT_EQ(PlatGpuLiveObjects(), 0) << "every GL object is released once";
    g_D3dInUse = 0;
    g_GpuDrawing = 0;
    g_D3dTextureFormat = D3D_FMT_A8R8G8B8;
    PlatGpuTestFailDisplay(false);
    PlatGpuTestForceStatus(PLAT_GPU_OK, 0);
    PlatGpuTestForceVersion(0, 0);
    PlatGpuTestFailTexturesAfter(-1);
    PlatGpuTestFailDevice(false, false);
    ComposeTest::TearDown();
  }

  // A sprite layer (drawing kind 1) with a w x h picture from f(x, y) -> B, G, R, A as u32,
  // placed at x, y (pixels), built into tiles with the given limits.
  template <class F>
  static ObjNode* Sprite(const char* path, i32 w, i32 h, i64 x, i64 y, F f, i64 order = 0, i32 max_w = 512,
                         i32 max_h = 256) {
    ObjNode* n = TestPicture(path, w, h, x, y, order);
    if (!n) return nullptr;
    LayerRecord* r = LayerOf(n);
    for (i32 yy = 0; yy < h; yy++)
      for (i32 xx = 0; xx < w; xx++) {
        u32 v = f(xx, yy);
        std::memcpy(r->pixels + (static_cast<size_t>(yy) * w + xx) * 4, &v, 4);
      }
    r->x100 = x * 100;
    r->y100 = y * 100;
    r->draw_kind = LAYER_DRAW_SPRITE;
    if (D3dBuildLayerTextures(r, 0, max_w, max_h) != 0) return nullptr;
    return n;
  }
  static ObjNode* Solid(const char* path, i32 w, i32 h, i64 x, i64 y, u32 bgra, i64 order = 0) {
    return Sprite(
        path, w, h, x, y, [bgra](i32, i32) { return bgra; }, order);
  }
  // The read-back layer (a CPU layer of the screen's size, hidden below everything).
  void UseReadback() {
    readback = TestPicture("W0/rb", 64, 48, 0, 0, -100);
    ASSERT_NE(readback, nullptr);
    g_D3dReadbackNode = readback;
  }
  // One frame pass; the read-back pixel at x, y as B, G, R, A.
  u32 Px(i32 x, i32 y) const {
    u32 v;
    std::memcpy(&v, LayerOf(readback)->pixels + (static_cast<size_t>(y) * 64 + x) * 4, 4);
    return v;
  }
  static i32 Ch(u32 v, int c) { return static_cast<i32>((v >> (8 * c)) & 255); }
};

// Every channel of a and b within tol.
inline ::testing::AssertionResult Near(u32 a, u32 b, i32 tol) {
  for (int c = 0; c < 4; c++) {
    i32 d = static_cast<i32>((a >> (8 * c)) & 255) - static_cast<i32>((b >> (8 * c)) & 255);
    if (d > tol || d < -tol) {
      char buf[96];
      std::snprintf(buf, sizeof buf, "%08X vs %08X (channel %d, tolerance %d)", a, b, c, tol);
      return ::testing::AssertionFailure() << buf;
    }
  }
  return ::testing::AssertionSuccess();
}
