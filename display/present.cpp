// Presentation (see present.h). The fast path draws the picture 1:1 only when both the update
// and the picture are the output size; everything else goes through the scaled buffer, which is
// used only when it holds the output size, so injected or stale sizes can never overrun it.
#include "display/present.h"

#include <cstdlib>

#include "layer/scale.h"
#include "layer/cpu.h"
#include "layer/image.h"
#include "layer/layer.h"
#include "platform/present.h"
#include "core/config.h"
#include "core/hooks.h"
#include "core/state.h"
#include "core/sys.h"

u8* g_ScaledFrameBuffer = nullptr;
u64 g_ScaledFrameBufferSize = 0;
FrameBlitFn g_FrameBlit = FrameBlitToWindow;
std::string g_FrameDumpPath;

void FrameBlitToWindow(WindowObject* w, const u8* pixels, i32 width, i32 height, i32 dst_x, i32 dst_y, i32 dst_w,
                       i32 dst_h, i32 src_x, i32 src_y, i32 src_w, i32 src_h) {
  if (!w || !w->handle) return;
  PlatPresent(w->handle, pixels, width, height, dst_x, dst_y, dst_w, dst_h, src_x, src_y, src_w, src_h);
}

static void SetHeader(WindowObject* w, i32 width, i32 height) {
  w->screen_header.width = width;
  w->screen_header.height = -height;
}

static void SetOffset(i32 x, i32 y) { g_OutputOffset = PointI32{x, y}; }

static bool ScaledBufferHolds(i32 ow, i32 oh) {
  return g_ScaledFrameBuffer && g_ScaledFrameBufferSize >= ImagePixelBytes(ow, oh);
}

static bool BilinearOnWorkers() { return g_CpuFeatures.sse && g_CfgUseSse; }

// The whole picture into the scaled buffer at the output size ow x oh, shown 1:1 at (x, y).
// Without a buffer of that size the platform stretches the picture instead. The screen modes
// replace the buffer on the main thread, under the lock held here.
static void ShowScaled(WindowObject* w, const LayerRecord* r, bool bilinear, i32 ow, i32 oh, i32 x, i32 y) {
  EngineLockGuard lock;
  if (!ScaledBufferHolds(ow, oh)) {
    g_FrameBlit(w, r->pixels, r->width, r->height, x, y, ow, oh, 0, 0, r->width, r->height);
    return;
  }
  SetHeader(w, ow, oh);
  if (bilinear) {
    i64 right = i64{r->width} * 100 - 100, bottom = i64{r->height} * 100 - 100;
    if (BilinearOnWorkers())
      FrameScaleBilinearThreaded(g_ScaledFrameBuffer, r->pixels, 0, 0, right, bottom, r->width, r->height,
                                 i64{ow} * 100, i64{oh} * 100);
    else
      FrameScaleBilinear(g_ScaledFrameBuffer, r->pixels, 0, 0, right, bottom, r->width, r->height, i64{ow} * 100,
                         i64{oh} * 100);
  } else {
    FrameScaleNearest(g_ScaledFrameBuffer, r->pixels, 0, 0, r->width - 1, r->height - 1, r->width, r->height, ow, oh);
  }
  g_FrameBlit(w, g_ScaledFrameBuffer, ow, oh, x, y, ow, oh, 0, 0, ow, oh);
}

void FramePresent(WindowObject* w, LayerRecord* r) {
  if (g_QuitRequested || !w || !LayerHasPixels(r)) return;
  const i64 uw = r->update_right - r->update_left + 1, uh = r->update_bottom - r->update_top + 1;
  const SizeI32 output = g_OutputSize.load();
  const i32 ow = output.width, oh = output.height;
  if (uw <= 0 || uh <= 0 || ow <= 0 || oh <= 0) return;
  SetHeader(w, r->width, r->height);
  const i32 rx = static_cast<i32>(LayerClampPos(r->x)), ry = static_cast<i32>(LayerClampPos(r->y));
  if (w->index != 0) {
    g_FrameBlit(w, r->pixels, r->width, r->height, rx, ry, r->width, r->height, 0, 0, r->width, r->height);
    return;
  }
  const u8 fullscreen = g_Fullscreen, maximised = g_Maximised;
  if (fullscreen || maximised) {
    const SizeI32 display = g_DisplaySize.load();
    const i32 ox = (display.width - ow) / 2, oy = (display.height - oh) / 2;
    SetOffset(ox, oy);
    if ((g_FitMode != 0 && g_CpuScaleFilter == 1) || (!fullscreen && maximised)) {
      ShowScaled(w, r, true, ow, oh, ox, oy);
    } else if (g_FitMode != 0) {
      ShowScaled(w, r, false, ow, oh, ox, oy);
    } else {
      g_FrameBlit(w, r->pixels, r->width, r->height, ox, oy, ow, oh, 0, 0, r->width, r->height);
    }
    return;
  }
  SetOffset(0, 0);
  if (uw == ow && uh == oh && r->width == ow && r->height == oh) {
    g_FrameBlit(w, r->pixels, r->width, r->height, rx, ry, ow, oh, 0, 0, ow, oh);
    return;
  }
  ShowScaled(w, r, g_CpuScaleFilter == 1, ow, oh, 0, 0);
}

i32 FramePaintWindow(WindowObject* w) {
  if (!w) return g_QuitRequested;
  LayerRecord* r = LayerOf(w->root_layer);
  bool blank = g_WindowOpen[w->index] != 1 || !r || !r->visible;
  if (!blank) {
    if (r->needs_compose) {
      w->has_drawn = 1;
      FramePresent(w, r);
    }
  } else if (w->has_drawn) {
    w->has_drawn = 0;
    SetHeader(w, 1, 1);
    static const u8 black[4 + 4 + 4] = {};  // one pixel with the spare bytes every picture has
    g_FrameBlit(w, black, 1, 1, 0, 0, (w->width & ~3) + 4, w->height, 0, 0, 1, 1);
  }
  return g_QuitRequested;
}

void FramePresentReset() {
  g_OutputSize = SizeI32{0, 0};
  g_OutputOffset = PointI32{0, 0};
  std::free(g_ScaledFrameBuffer);
  g_ScaledFrameBuffer = nullptr;
  g_ScaledFrameBufferSize = 0;
  g_FrameBlit = FrameBlitToWindow;
  g_FrameDumpPath.clear();
}
