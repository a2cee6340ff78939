// Presentation (see present.h). A picture at the output size is drawn 1:1; everything else goes
// through the scaled buffer, which is used only when it holds the output size, so injected or
// stale sizes can never overrun it. A window that shows the picture already gets only the part
// the frame's update changed.
#include "display/present.h"

#include <algorithm>
#include <cstdlib>

#include "core/config.h"
#include "core/hooks.h"
#include "core/state.h"
#include "core/sys.h"
#include "layer/cpu.h"
#include "layer/image.h"
#include "layer/layer.h"
#include "layer/scale.h"
#include "platform/present.h"

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

// What the last presentation left in each window: a presentation made the same way from the same
// picture (and, when scaled, through the same buffer, which still holds the whole scaled picture)
// need only send what its update changed. Anything else drawn into the window forgets it. Read
// and written under g_EngineLock.
enum { SHOWN_NONE, SHOWN_DIRECT, SHOWN_NEAREST, SHOWN_BILINEAR, SHOWN_BILINEAR_WORKERS };
struct Shown {
  u8 how;
  PlatWindow* handle;
  const u8* picture;
  i32 width, height, out_w, out_h, x, y;
  const u8* buffer;
  u64 buffer_size;
};
static Shown s_Shown[WIN_COUNT];

static Shown Describe(const WindowObject* w, const LayerRecord* r, u8 how, i32 ow, i32 oh, i32 x, i32 y) {
  const bool scaled = how != SHOWN_DIRECT;
  return Shown{how,
               w->handle,
               r->pixels,
               r->width,
               r->height,
               ow,
               oh,
               x,
               y,
               scaled ? g_ScaledFrameBuffer : nullptr,
               scaled ? g_ScaledFrameBufferSize : 0};
}

static bool SameAsShown(const WindowObject* w, const Shown& now) {
  if (w->index < 0 || w->index >= WIN_COUNT) return false;
  const Shown& was = s_Shown[w->index];
  return was.how != SHOWN_NONE && was.how == now.how && was.handle == now.handle && was.picture == now.picture &&
         was.width == now.width && was.height == now.height && was.out_w == now.out_w && was.out_h == now.out_h &&
         was.x == now.x && was.y == now.y && was.buffer == now.buffer && was.buffer_size == now.buffer_size;
}

static void Remember(const WindowObject* w, const Shown& now) {
  if (w->index >= 0 && w->index < WIN_COUNT) s_Shown[w->index] = now;
}

// The black bands around the main window's picture in fullscreen or maximised, as last painted:
// painted again only when the client area or the picture's place changed. Under g_EngineLock.
struct Bands {
  bool painted;
  i32 dw, dh, x, y, w, h;
  bool operator==(const Bands&) const = default;
};
static Bands s_Bands;

static const u8 kBlackPixel[4 + 4 + 4] = {};  // one pixel with the spare bytes every picture has

static void Blacken(WindowObject* w, i32 x, i32 y, i32 width, i32 height) {
  if (width > 0 && height > 0) g_FrameBlit(w, kBlackPixel, 1, 1, x, y, width, height, 0, 0, 1, 1);
}

// The client area around the picture goes black, so nothing of an earlier picture stays there.
static void PaintBands(WindowObject* w, SizeI32 display, i32 x, i32 y, i32 ow, i32 oh) {
  const Bands now{true, display.width, display.height, x, y, ow, oh};
  {
    EngineLockGuard lock;
    if (s_Bands == now) return;
    s_Bands = now;
  }
  const i32 right = x + ow, bottom = y + oh;
  const i32 top = std::max(y, 0), rows = std::min(bottom, display.height) - top;
  Blacken(w, 0, 0, display.width, y);
  Blacken(w, 0, bottom, display.width, display.height - bottom);
  Blacken(w, 0, top, x, rows);
  Blacken(w, right, top, display.width - right, rows);
}

void FramePresentForget(const WindowObject* w) {
  EngineLockGuard lock;
  if (!w) {
    for (Shown& s : s_Shown) s = Shown{};
    s_Bands = Bands{};
  } else if (w->index >= 0 && w->index < WIN_COUNT) {
    s_Shown[w->index] = Shown{};
  }
}

// The update rectangle inside the picture (inclusive); false when nothing of it is inside.
struct Changed {
  i32 l, t, r, b;
};
static bool ChangedPart(const LayerRecord* r, Changed* c) {
  const i64 l = std::max<i64>(r->update_left, 0), t = std::max<i64>(r->update_top, 0);
  const i64 rr = std::min<i64>(r->update_right, i64{r->width} - 1),
            b = std::min<i64>(r->update_bottom, i64{r->height} - 1);
  if (l > rr || t > b) return false;
  *c = Changed{static_cast<i32>(l), static_cast<i32>(t), static_cast<i32>(rr), static_cast<i32>(b)};
  return true;
}

// The whole picture into the scaled buffer at the output size ow x oh, shown 1:1 at (x, y).
// Without a buffer of that size the platform stretches the picture instead. The screen modes
// replace the buffer on the main thread, under the lock held here. When the window shows the
// same scaling of the same picture already, only what the update reaches is scaled and sent.
static void ShowScaled(WindowObject* w, const LayerRecord* r, bool bilinear, i32 ow, i32 oh, i32 x, i32 y) {
  EngineLockGuard lock;
  if (!ScaledBufferHolds(ow, oh)) {
    g_FrameBlit(w, r->pixels, r->width, r->height, x, y, ow, oh, 0, 0, r->width, r->height);
    Remember(w, Shown{});
    return;
  }
  SetHeader(w, ow, oh);
  const bool workers = bilinear && BilinearOnWorkers();
  const Shown now =
      Describe(w, r, bilinear ? (workers ? SHOWN_BILINEAR_WORKERS : SHOWN_BILINEAR) : SHOWN_NEAREST, ow, oh, x, y);
  const i64 right = i64{r->width} * 100 - 100, bottom = i64{r->height} * 100 - 100;
  Changed c;
  if (SameAsShown(w, now)) {
    if (!ChangedPart(r, &c)) return;
    const ScaleRect d =
        bilinear ? FrameScaleBilinearPart(g_ScaledFrameBuffer, r->pixels, 0, 0, right, bottom, r->width, r->height,
                                          i64{ow} * 100, i64{oh} * 100, workers, c.l, c.t, c.r, c.b)
                 : FrameScaleNearestPart(g_ScaledFrameBuffer, r->pixels, 0, 0, r->width - 1, r->height - 1, r->width,
                                         r->height, ow, oh, c.l, c.t, c.r, c.b);
    if (d.x0 < d.x1 && d.y0 < d.y1)
      g_FrameBlit(w, g_ScaledFrameBuffer, ow, oh, x + d.x0, y + d.y0, d.x1 - d.x0, d.y1 - d.y0, d.x0, d.y0, d.x1 - d.x0,
                  d.y1 - d.y0);
    return;
  }
  if (bilinear) {
    if (workers)
      FrameScaleBilinearThreaded(g_ScaledFrameBuffer, r->pixels, 0, 0, right, bottom, r->width, r->height,
                                 i64{ow} * 100, i64{oh} * 100);
    else
      FrameScaleBilinear(g_ScaledFrameBuffer, r->pixels, 0, 0, right, bottom, r->width, r->height, i64{ow} * 100,
                         i64{oh} * 100);
  } else {
    FrameScaleNearest(g_ScaledFrameBuffer, r->pixels, 0, 0, r->width - 1, r->height - 1, r->width, r->height, ow, oh);
  }
  g_FrameBlit(w, g_ScaledFrameBuffer, ow, oh, x, y, ow, oh, 0, 0, ow, oh);
  Remember(w, now);
}

// The picture 1:1 at (x, y), as a whole or, when the window shows it there already, only the
// update's rows and columns.
static void ShowDirect(WindowObject* w, const LayerRecord* r, i32 x, i32 y, bool whole) {
  EngineLockGuard lock;
  const Shown now = Describe(w, r, SHOWN_DIRECT, r->width, r->height, x, y);
  Changed c;
  if (!whole && SameAsShown(w, now)) {
    if (ChangedPart(r, &c))
      g_FrameBlit(w, r->pixels, r->width, r->height, x + c.l, y + c.t, c.r - c.l + 1, c.b - c.t + 1, c.l, c.t,
                  c.r - c.l + 1, c.b - c.t + 1);
    return;
  }
  g_FrameBlit(w, r->pixels, r->width, r->height, x, y, r->width, r->height, 0, 0, r->width, r->height);
  Remember(w, now);
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
    FramePresentForget(w);
    g_FrameBlit(w, r->pixels, r->width, r->height, rx, ry, r->width, r->height, 0, 0, r->width, r->height);
    return;
  }
  const u8 fullscreen = g_Fullscreen, maximised = g_Maximised;
  if (fullscreen || maximised) {
    const SizeI32 display = g_DisplaySize.load();
    const i32 ox = (display.width - ow) / 2, oy = (display.height - oh) / 2;
    SetOffset(ox, oy);
    PaintBands(w, display, ox, oy, ow, oh);
    if ((g_FitMode != 0 && g_CpuScaleFilter == 1) || (!fullscreen && maximised)) {
      ShowScaled(w, r, true, ow, oh, ox, oy);
    } else if (g_FitMode != 0) {
      ShowScaled(w, r, false, ow, oh, ox, oy);
    } else {
      FramePresentForget(w);
      g_FrameBlit(w, r->pixels, r->width, r->height, ox, oy, ow, oh, 0, 0, r->width, r->height);
    }
    return;
  }
  SetOffset(0, 0);
  {
    EngineLockGuard lock;
    s_Bands = Bands{};  // a window again: the next fullscreen paints its bands anew
  }
  if (uw == ow && uh == oh && r->width == ow && r->height == oh) {
    ShowDirect(w, r, rx, ry, true);
    return;
  }
  // At the output size both scalers give the picture back unchanged, so a partial update goes
  // to the window straight from the picture, at the origin as the scaled one would.
  if (r->width == ow && r->height == oh) {
    ShowDirect(w, r, 0, 0, false);
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
    FramePresentForget(w);
    SetHeader(w, 1, 1);
    g_FrameBlit(w, kBlackPixel, 1, 1, 0, 0, (w->width & ~3) + 4, w->height, 0, 0, 1, 1);
  }
  return g_QuitRequested;
}

void FramePresentReset() {
  FramePresentForget(nullptr);
  g_OutputSize = SizeI32{0, 0};
  g_OutputOffset = PointI32{0, 0};
  std::free(g_ScaledFrameBuffer);
  g_ScaledFrameBuffer = nullptr;
  g_ScaledFrameBufferSize = 0;
  g_FrameBlit = FrameBlitToWindow;
  g_FrameDumpPath.clear();
}
