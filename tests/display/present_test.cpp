// Presentation: which picture reaches which window, where and how scaled, for every mode and
// fit of the main window, blanking, and one whole frame through the frame loop.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <iterator>
#include <thread>

#include "layer/compose_fixture.h"
#include "platform/present.h"
#include "platform/video.h"
#include "shell/frame.h"
#include "shell/screen.h"

namespace {

struct Blit {
  WindowObject* w;
  const u8* pixels;
  i32 width, height, dx, dy, dw, dh, sx, sy, sw, sh;
  std::vector<u8> copy;  // the picture as it was handed over
};
std::vector<Blit> g_Blits;

void Record(WindowObject* w, const u8* pixels, i32 width, i32 height, i32 dx, i32 dy, i32 dw, i32 dh, i32 sx, i32 sy,
            i32 sw, i32 sh) {
  g_Blits.push_back({w, pixels, width, height, dx, dy, dw, dh, sx, sy, sw, sh,
                     std::vector<u8>(pixels, pixels + static_cast<size_t>(width) * height * 4)});
}

struct PresentTest : ComposeTest {
  void SetUp() override {
    ComposeTest::SetUp();
    g_Blits.clear();
    g_FrameBlit = Record;
    ObjNode* p = TestPicture("W0/p", 64, 48, 0, 0);
    TestFillNoise(LayerOf(p), 11, false);
    ASSERT_EQ(LayerComposeWindow(g_WindowObjects[0]), 0);
    g_DisplaySize = {100, 80};
    g_Fullscreen = g_Maximised = 0;
    g_FitMode = 0;
    g_CpuScaleFilter = 1;
  }
  void TearDown() override {
    g_Fullscreen = g_Maximised = 0;
    g_FitMode = 0;
    g_CpuScaleFilter = 1;
    g_DisplaySize = {0, 0};
    ComposeTest::TearDown();
  }
  static void Output(i32 w, i32 h) {
    g_OutputSize = {w, h};
    std::free(g_ScaledFrameBuffer);
    g_ScaledFrameBufferSize = ImagePixelBytes(w, h);
    g_ScaledFrameBuffer = static_cast<u8*>(std::malloc(g_ScaledFrameBufferSize));
    FramePresentForget(nullptr);  // as the screen modes do when they replace the buffer
  }
  static void Update(i64 l, i64 t, i64 r, i64 b) {
    Root()->update_left = l, Root()->update_top = t, Root()->update_right = r, Root()->update_bottom = b;
  }
};

enum Kind { DIRECT, BILINEAR, NEAREST, STRETCH, BILINEAR_HERE };

// The picture a scaled presentation must hand over, worked out with the scalers themselves
// (their arithmetic is checked against references in scale_test.cpp).
std::vector<u8> Expected(Kind k, i32 ow, i32 oh) {
  const LayerRecord* r = ComposeTest::Root();
  std::vector<u8> out(ImagePixelBytes(ow, oh));
  if (k == NEAREST)
    FrameScaleNearest(out.data(), r->pixels, 0, 0, r->width - 1, r->height - 1, r->width, r->height, ow, oh);
  else if (k == BILINEAR_HERE)
    FrameScaleBilinear(out.data(), r->pixels, 0, 0, r->width * 100 - 100, r->height * 100 - 100, r->width, r->height,
                       ow * 100, oh * 100);
  else
    FrameScaleBilinearThreaded(out.data(), r->pixels, 0, 0, r->width * 100 - 100, r->height * 100 - 100, r->width,
                               r->height, ow * 100, oh * 100);
  out.resize(static_cast<size_t>(ow) * oh * 4);
  return out;
}

// What a window shows: blits applied in order to a 100 x 80 client area the way the platform
// puts them there (the source rectangle stretched by nearest neighbour, black outside the
// picture).
struct Window {
  static constexpr i32 W = 100, H = 80;
  std::vector<u8> px = std::vector<u8>(W * H * 4, 0x5A);  // neither black nor any picture byte
  void Apply(const u8* pixels, i32 width, i32 height, i32 dx, i32 dy, i32 dw, i32 dh, i32 sx, i32 sy, i32 sw, i32 sh) {
    for (i32 y = std::max(dy, 0); y < std::min(dy + dh, H); y++)
      for (i32 x = std::max(dx, 0); x < std::min(dx + dw, W); x++) {
        const i64 px_y = sy + i64{y - dy} * sh / dh, px_x = sx + i64{x - dx} * sw / dw;
        u8* out = &px[(static_cast<size_t>(y) * W + x) * 4];
        if (px_x < 0 || px_y < 0 || px_x >= width || px_y >= height) std::memset(out, 0, 4);
        else std::memcpy(out, pixels + (px_y * width + px_x) * 4, 4);
      }
  }
  void Apply(const Blit& b) { Apply(b.copy.data(), b.width, b.height, b.dx, b.dy, b.dw, b.dh, b.sx, b.sy, b.sw, b.sh); }
};

// Every mode and fit of the main window: the first presentation shows the whole picture as its
// mode scales it; the frames after it, which change the picture inside their updates only, send
// only part of the window (except where the platform stretches) and leave it showing exactly
// what a whole presentation of the changed picture would.
TEST_F(PresentTest, MainWindowByModeFitAndFilter) {
  struct Case {
    const char* what;
    u8 fullscreen, maximised;
    i32 fit;
    u8 filter;
    i32 ow, oh;
    bool whole_update;
    Kind kind;
    i32 x, y;
  } const cases[] = {
      {"windowed, whole update at output size", 0, 0, 0, 1, 64, 48, true, DIRECT, 0, 0},
      {"windowed, partial update: the picture itself", 0, 0, 0, 1, 64, 48, false, DIRECT, 0, 0},
      {"windowed, partial update, nearest", 0, 0, 0, 0, 64, 48, false, DIRECT, 0, 0},
      {"windowed, half size, nearest", 0, 0, 0, 0, 32, 24, true, NEAREST, 0, 0},
      {"windowed, half size, bilinear", 0, 0, 0, 1, 32, 24, true, BILINEAR, 0, 0},
      {"windowed, half size, bilinear on this thread", 0, 0, 0, 2, 32, 24, true, BILINEAR, 0, 0},
      {"fullscreen, fit 1, bilinear", 1, 0, 1, 1, 90, 68, true, BILINEAR, 5, 6},
      {"fullscreen, fit 2, nearest", 1, 0, 2, 0, 90, 68, true, NEAREST, 5, 6},
      {"fullscreen, fit 3, bilinear", 1, 0, 3, 1, 100, 80, true, BILINEAR, 0, 0},
      {"fullscreen, native: the platform stretches", 1, 0, 0, 1, 90, 68, true, STRETCH, 5, 6},
      {"maximised in a window: always bilinear", 0, 1, 0, 0, 90, 68, true, BILINEAR, 5, 6},
      {"fullscreen and maximised, native", 1, 1, 0, 0, 90, 68, true, STRETCH, 5, 6},
  };
  // The picture's changes, frame by frame: a glyph-sized spot, a row band, the edges, one pixel.
  const struct {
    i32 l, t, r, b;
  } changes[] = {{10, 5, 25, 20}, {0, 30, 63, 33}, {60, 44, 63, 47}, {0, 0, 0, 0}, {31, 23, 31, 23}};
  const u8 saved_sse = g_CfgUseSse;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TestFillNoise(Root(), 5, false);
    g_Fullscreen = c.fullscreen;
    g_Maximised = c.maximised;
    g_FitMode = c.fit;
    g_CpuScaleFilter = c.filter == 2 ? 1 : c.filter;
    g_CfgUseSse = c.filter == 2 ? 0 : saved_sse;
    Output(c.ow, c.oh);
    FramePresentForget(nullptr);
    Window got;
    for (i32 frame = 0; frame <= static_cast<i32>(std::size(changes)); frame++) {
      SCOPED_TRACE(frame);
      if (frame == 0) {
        if (c.whole_update) Update(0, 0, 63, 47);
        else Update(3, 4, 20, 30);
      } else {
        const auto& ch = changes[frame - 1];
        for (i32 y = ch.t; y <= ch.b; y++)
          for (i32 x = ch.l; x <= ch.r; x++)
            for (i32 k = 0; k < 4; k++) Root()->pixels[(static_cast<size_t>(y) * 64 + x) * 4 + k] ^= 0xA5 + frame + k;
        Update(ch.l, ch.t, ch.r, ch.b);
      }
      g_Blits.clear();
      FramePresent(g_WindowObjects[0], Root());
      if (frame == 0) {
        ASSERT_FALSE(g_Blits.empty());  // later a change may reach no shown pixel
      }
      EXPECT_EQ(g_OutputOffset.load().x, c.x);
      EXPECT_EQ(g_OutputOffset.load().y, c.y);
      i64 sent = 0;
      for (const Blit& b : g_Blits) {
        got.Apply(b);
        sent += i64{b.dw} * b.dh;
      }
      if (frame > 0 && c.kind != STRETCH) {
        EXPECT_LT(sent, i64{c.ow} * c.oh);
      }
      Window want = got;  // outside the shown rectangle the window keeps what it had
      if (c.kind == DIRECT || c.kind == STRETCH) {
        want.Apply(Root()->pixels, 64, 48, c.x, c.y, c.ow, c.oh, 0, 0, 64, 48);
        EXPECT_EQ(g_WindowObjects[0]->screen_header.width, 64);
        EXPECT_EQ(g_WindowObjects[0]->screen_header.height, -48);
      } else {
        const std::vector<u8> scaled = Expected(c.filter == 2 ? BILINEAR_HERE : c.kind, c.ow, c.oh);
        want.Apply(scaled.data(), c.ow, c.oh, c.x, c.y, c.ow, c.oh, 0, 0, c.ow, c.oh);
        EXPECT_EQ(g_WindowObjects[0]->screen_header.width, c.ow);
        EXPECT_EQ(g_WindowObjects[0]->screen_header.height, -c.oh);
      }
      ASSERT_EQ(got.px, want.px);
      // Fullscreen and maximised, the client area around the picture is black from the first
      // frame on, whatever it showed before.
      if (c.fullscreen || c.maximised) {
        for (i32 y = 0; y < Window::H; y++)
          for (i32 x = 0; x < Window::W; x++)
            if (x < c.x || y < c.y || x >= c.x + c.ow || y >= c.y + c.oh)
              ASSERT_EQ(got.px[(static_cast<size_t>(y) * Window::W + x) * 4], 0) << x << "," << y;
      }
    }
  }
  g_CfgUseSse = saved_sse;
}

// At the output size every scaler gives the picture back unchanged, which is what lets a partial
// update at factor 1 go to the window straight from the picture.
TEST_F(PresentTest, EveryScalerAtFactorOneIsTheIdentity) {
  const LayerRecord* r = Root();
  const std::vector<u8> picture(r->pixels, r->pixels + static_cast<size_t>(r->width) * r->height * 4);
  for (Kind k : {NEAREST, BILINEAR, BILINEAR_HERE}) EXPECT_EQ(Expected(k, 64, 48), picture) << k;
}

// Whatever else drew into the window since, the next presentation is whole again.
TEST_F(PresentTest, AfterTheWindowWasBlankedOrTheBufferReplacedThePresentationIsWhole) {
  Output(32, 24);
  g_CpuScaleFilter = 0;
  Update(0, 0, 63, 47);
  FramePresent(g_WindowObjects[0], Root());
  struct {
    const char* what;
    void (*step)();
  } const steps[] = {
      {"blanked",
       [] {
         g_WindowOpen[0] = -1;
         g_WindowObjects[0]->has_drawn = 1;
         FramePaintWindow(g_WindowObjects[0]);
         g_WindowOpen[0] = 1;
       }},
      {"forgotten", [] { FramePresentForget(g_WindowObjects[0]); }},
  };
  for (const auto& st : steps) {
    SCOPED_TRACE(st.what);
    st.step();
    g_Blits.clear();
    Update(2, 2, 3, 3);
    FramePresent(g_WindowObjects[0], Root());
    ASSERT_EQ(g_Blits.size(), 1u);
    EXPECT_EQ(g_Blits[0].dw, 32);
    EXPECT_EQ(g_Blits[0].dh, 24);
  }
}

TEST_F(PresentTest, FastPathNeedsTheUpdateAndThePictureAtOutputSize) {
  // The update is as large as the output, but the picture is larger: it is scaled, never cut.
  Output(32, 24);
  g_CpuScaleFilter = 0;
  Update(0, 0, 31, 23);
  FramePresent(g_WindowObjects[0], Root());
  ASSERT_EQ(g_Blits.size(), 1u);
  EXPECT_EQ(g_Blits[0].pixels, g_ScaledFrameBuffer);
  EXPECT_EQ(g_Blits[0].copy, Expected(NEAREST, 32, 24));
}

TEST_F(PresentTest, SubWindowsAreShownWholeAtTheirRootsPlace) {
  WindowObject* w1 = g_WindowObjects[1];
  w1->width = 20, w1->height = 10;
  g_WindowOpen[1] = 1;
  ASSERT_EQ(LayerCreateWindowRoot(1), 0);
  LayerRecord* r = LayerOf(w1->root_layer);
  r->x = 3, r->y = 2;
  Update(0, 0, 0, 0);
  r->update_left = r->update_top = 0, r->update_right = 5, r->update_bottom = 5;
  g_Fullscreen = 1;
  g_FitMode = 1;
  Output(90, 68);
  FramePresent(w1, r);
  ASSERT_EQ(g_Blits.size(), 1u);
  const Blit& b = g_Blits[0];
  EXPECT_EQ(b.pixels, r->pixels);
  EXPECT_EQ(b.dx, 3);
  EXPECT_EQ(b.dy, 2);
  EXPECT_EQ(b.dw, 20);
  EXPECT_EQ(b.dh, 10);
  EXPECT_EQ(b.sw, 20);
  EXPECT_EQ(b.sh, 10);
}

TEST_F(PresentTest, NothingIsShownWithoutAnUpdateAnOutputOrAfterQuit) {
  Output(64, 48);
  struct {
    const char* what;
    i64 r;
    i32 ow;
    u8 quit;
  } const cases[] = {{"empty update", -5, 64, 0}, {"no output", 63, 0, 0}, {"quitting", 63, 64, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Update(0, 0, c.r, 47);
    g_OutputSize = SizeI32{c.ow, g_OutputSize.load().height};
    g_QuitRequested = c.quit;
    FramePresent(g_WindowObjects[0], Root());
    EXPECT_TRUE(g_Blits.empty());
    g_QuitRequested = 0;
  }
}

TEST_F(PresentTest, ATooSmallScaledBufferIsNeverWrittenPast) {
  Output(32, 24);
  g_ScaledFrameBufferSize = ImagePixelBytes(32, 23);  // as if the sizes had been injected late
  g_CpuScaleFilter = 0;
  Update(0, 0, 63, 47);
  FramePresent(g_WindowObjects[0], Root());
  ASSERT_EQ(g_Blits.size(), 1u);
  EXPECT_EQ(g_Blits[0].pixels, Root()->pixels);  // the platform stretches the picture instead
  EXPECT_EQ(g_Blits[0].dw, 32);
  EXPECT_EQ(g_Blits[0].sw, 64);
}

TEST_F(PresentTest, PaintPresentsRecomposedWindowsAndBlanksAHiddenOneOnce) {
  Output(64, 48);
  WindowObject* w = g_WindowObjects[0];
  Root()->needs_compose = 0;
  EXPECT_EQ(FramePaintWindow(w), 0);
  EXPECT_TRUE(g_Blits.empty());
  Root()->needs_compose = 1;
  Update(0, 0, 63, 47);
  EXPECT_EQ(FramePaintWindow(w), 0);
  ASSERT_EQ(g_Blits.size(), 1u);
  EXPECT_EQ(w->has_drawn, 1);
  for (i32 hide = 0; hide < 2; hide++) {
    SCOPED_TRACE(hide ? "window closed" : "root hidden");
    g_Blits.clear();
    if (hide) g_WindowOpen[0] = -1;
    else Root()->visible = 0;
    w->has_drawn = 1;
    EXPECT_EQ(FramePaintWindow(w), 0);
    EXPECT_EQ(FramePaintWindow(w), 0);  // blanked once only
    ASSERT_EQ(g_Blits.size(), 1u);
    const Blit& b = g_Blits[0];
    EXPECT_EQ(b.width, 1);
    EXPECT_EQ(b.height, 1);
    EXPECT_EQ(b.copy, std::vector<u8>(4, 0));
    EXPECT_EQ(b.dx, 0);
    EXPECT_EQ(b.dy, 0);
    EXPECT_EQ(b.dw, (64 & ~3) + 4);
    EXPECT_EQ(b.dh, 48);
    EXPECT_EQ(w->has_drawn, 0);
    Root()->visible = 1;
    g_WindowOpen[0] = 1;
  }
  g_QuitRequested = 1;
  EXPECT_EQ(FramePaintWindow(w), 1);
}

TEST_F(PresentTest, InvalidateShowsTheWholePictureNextFrame) {
  Output(64, 48);
  LayerResetUpdateRects(g_LayerRoot);
  WindowObject* w = g_WindowObjects[0];
  WinInvalidate(w);
  EXPECT_TRUE(Root()->needs_compose);
  EXPECT_EQ(Root()->update_right, 63);
  EXPECT_EQ(Root()->update_bottom, 47);
  LayerResetUpdateRects(g_LayerRoot);
  // Threaded, the main thread only leaves the request; the frame's thread carries it out.
  g_ThreadedMode = 1;
  WinInvalidate(w);
  EXPECT_FALSE(Root()->needs_compose);
  WinInvalidateApplyPending();
  EXPECT_TRUE(Root()->needs_compose);
  EXPECT_EQ(Root()->update_left, 0);
  g_ThreadedMode = 0;
}

TEST_F(PresentTest, AFrameComposesPresentsAndResets) {
  Output(64, 48);
  FrameReset();
  LayerResetUpdateRects(g_LayerRoot);
  ObjNode* p = ObjFindNode(g_LayerRoot, "W0/p", OBJ_FIND_ITEM);
  LayerRecord* pr = LayerOf(p);
  pr->pending_opacity = 128;  // applied by the frame's commit, which marks the root
  pr->pending_opacity_set = 1;
  EXPECT_EQ(FrameRun(), 0);
  ASSERT_EQ(g_Blits.size(), 1u);
  EXPECT_EQ(g_Blits[0].copy, TestModelCompose(RootNode()));
  EXPECT_FALSE(Root()->needs_compose);  // reset after presentation
  EXPECT_EQ(Root()->update_left, LAYER_RECT_EMPTY_MIN);
  g_Blits.clear();
  EXPECT_EQ(FrameRun(), 0);
  EXPECT_TRUE(g_Blits.empty());  // nothing changed, nothing shown
  FrameReset();
}

}  // namespace

namespace {

// Threaded mode: the frame thread composes and presents while the main thread pumps and asks for
// repaints; the window ends up showing the last composed picture.
TEST_F(ComposeTest, ThreadedFramesReachTheWindowWhileTheMainThreadPaints) {
  ASSERT_EQ(PlatVideoInit(), 0);
  WindowObject* w = g_WindowObjects[0];
  ASSERT_EQ(WinCreate(w, "present-test", "present"), 1);
  g_OutputSize = {64, 48};
  g_ThreadedMode = 1;
  PlatClockSetFixed(true, 0);
  FrameReset();
  UseWorkers(3);
  ObjNode* p = TestPicture("W0/p", 20, 20, 0, 0);
  TestFillNoise(LayerOf(p), 3, false);
  std::atomic<bool> done{false};
  std::thread frames([&] {
    for (i32 i = 0; i < 40; i++) {
      LayerMarkDirty(p);
      LayerOf(p)->x = i % 44;
      LayerMarkDirty(p);
      FrameRun();
    }
    done = true;
  });
  while (!done) {
    WinInvalidate(w);
    WinDispatchMessages();
  }
  frames.join();
  WinDispatchMessages();
  std::vector<u8> shown;
  i32 sw = 0, sh = 0;
  ASSERT_TRUE(PlatPresentSnapshot(w->handle, &shown, &sw, &sh));
  ASSERT_GE(sw, 64);
  ASSERT_GE(sh, 48);
  for (i32 y = 0; y < 48; y++)
    ASSERT_EQ(std::memcmp(shown.data() + static_cast<size_t>(y) * sw * 4, Root()->pixels + y * 64 * 4, 64 * 4), 0) << y;
  g_ThreadedMode = 0;
  PlatClockSetFixed(false);
  FrameReset();
  WinDestroyAll();
  PlatVideoQuit();
}

// The screen modes replace the scaled buffer on the main thread while the frame thread scales
// into it: the two never overlap (a sanitized build reports any use of a freed buffer).
TEST_F(PresentTest, ScaledBufferReplacedWhilePresentingElsewhere) {
  UseWorkers(2);
  g_Fullscreen = 1;
  g_FitMode = WIN_FIT_INSIDE;
  g_DisplaySize = SizeI32{200, 150};
  Output(128, 96);
  std::atomic<bool> done{false};
  std::thread frames([&] {
    for (i32 i = 0; i < 300; i++) {
      Update(0, 0, 63, 47);
      FramePresent(g_WindowObjects[0], Root());
    }
    done = true;
  });
  const SizeI32 sizes[] = {{128, 96}, {200, 150}, {64, 48}};
  for (i32 i = 0; !done; i++) {
    const SizeI32 s = sizes[i % 3];
    g_OutputSize = s;
    ASSERT_EQ(WinScaledBufferAlloc(s.width, s.height), 0);
  }
  frames.join();
  EXPECT_FALSE(g_Blits.empty());
  for (const Blit& b : g_Blits) EXPECT_EQ(b.copy.size(), static_cast<size_t>(b.width) * b.height * 4);
}

}  // namespace
