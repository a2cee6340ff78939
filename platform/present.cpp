// Presentation into SDL window surfaces (see present.h). Each window keeps a BGRA copy of what it
// shows and a changed rectangle; only the main thread touches SDL. The copy grows to cover what
// was drawn (up to a bound), so a presenter never needs to ask SDL for the window's size.
#include "platform/present.h"

#include <SDL.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/platform.h"
#include "platform/ui.h"
#include "platform/video.h"
#include "platform/video_internal.h"

enum { CANVAS_MAX_SIDE = 16384 };

struct PresentCanvas {
  PlatWindow* window;
  std::vector<u8> px;
  i32 width = 0, height = 0;
  i32 left = 0, top = 0, right = 0, bottom = 0;  // changed area, right and bottom exclusive
  bool changed = false;
};

static std::mutex s_Lock;
static std::vector<PresentCanvas> s_Canvases;

static PresentCanvas* Find(PlatWindow* w) {
  for (PresentCanvas& c : s_Canvases)
    if (c.window == w) return &c;
  return nullptr;
}

// Grows the copy to at least width x height, keeping what it holds.
static void Grow(PresentCanvas* c, i32 width, i32 height) {
  if (width <= c->width && height <= c->height) return;
  i32 nw = std::max(width, c->width), nh = std::max(height, c->height);
  std::vector<u8> px(static_cast<size_t>(nw) * nh * 4, 0);
  for (i32 y = 0; y < c->height; y++)
    std::memcpy(px.data() + static_cast<size_t>(y) * nw * 4, c->px.data() + static_cast<size_t>(y) * c->width * 4,
                static_cast<size_t>(c->width) * 4);
  c->px.swap(px);
  c->width = nw;
  c->height = nh;
}

static void MarkChanged(PresentCanvas* c, i32 l, i32 t, i32 r, i32 b) {
  if (!c->changed) {
    c->left = l, c->top = t, c->right = r, c->bottom = b;
    c->changed = true;
    return;
  }
  c->left = std::min(c->left, l);
  c->top = std::min(c->top, t);
  c->right = std::max(c->right, r);
  c->bottom = std::max(c->bottom, b);
}

void PlatPresent(PlatWindow* w, const u8* pixels, i32 width, i32 height, i32 dst_x, i32 dst_y, i32 dst_w, i32 dst_h,
                 i32 src_x, i32 src_y, i32 src_w, i32 src_h) {
  if (!w || !pixels || width <= 0 || height <= 0 || dst_w <= 0 || dst_h <= 0 || src_w <= 0 || src_h <= 0) return;
  const i64 x0 = std::max<i64>(dst_x, 0), y0 = std::max<i64>(dst_y, 0);
  const i64 x1 = std::min<i64>(i64{dst_x} + dst_w, CANVAS_MAX_SIDE),
            y1 = std::min<i64>(i64{dst_y} + dst_h, CANVAS_MAX_SIDE);
  if (x0 >= x1 || y0 >= y1) return;
  {
    std::lock_guard<std::mutex> g(s_Lock);
    PresentCanvas* c = Find(w);
    if (!c) {
      s_Canvases.push_back(PresentCanvas{});
      c = &s_Canvases.back();
      c->window = w;
    }
    Grow(c, static_cast<i32>(x1), static_cast<i32>(y1));
    // Source column of each destination column, worked out once per call (none when the widths
    // agree: then every row is one copy between two black margins).
    const bool same_width = src_w == dst_w;
    i64 copy_from = x0, copy_to = x0;  // same width: the columns whose source is inside
    static std::vector<i64> cols;      // guarded by s_Lock
    if (same_width) {
      copy_from = std::min(std::max<i64>(x0, i64{dst_x} - src_x), x1);
      copy_to = std::max(std::min<i64>(x1, i64{dst_x} - src_x + width), copy_from);
    } else {
      cols.resize(static_cast<size_t>(x1 - x0));
      for (i64 x = x0; x < x1; x++) cols[static_cast<size_t>(x - x0)] = src_x + (x - dst_x) * src_w / dst_w;
    }
    for (i64 y = y0; y < y1; y++) {
      u8* out = c->px.data() + (y * c->width + x0) * 4;
      i64 sy = src_y + (y - dst_y) * src_h / dst_h;
      if (sy < 0 || sy >= height) {
        std::memset(out, 0, static_cast<size_t>(x1 - x0) * 4);
        continue;
      }
      const u8* row = pixels + sy * width * 4;
      if (same_width) {
        std::memset(out, 0, static_cast<size_t>(copy_from - x0) * 4);
        if (copy_to > copy_from)
          std::memcpy(out + (copy_from - x0) * 4, row + (src_x + copy_from - dst_x) * 4,
                      static_cast<size_t>(copy_to - copy_from) * 4);
        std::memset(out + (copy_to - x0) * 4, 0, static_cast<size_t>(x1 - copy_to) * 4);
        continue;
      }
      for (i64 x = x0; x < x1; x++, out += 4) {
        const i64 sx = cols[static_cast<size_t>(x - x0)];
        if (sx < 0 || sx >= width) std::memset(out, 0, 4);
        else std::memcpy(out, row + sx * 4, 4);
      }
    }
    MarkChanged(c, static_cast<i32>(x0), static_cast<i32>(y0), static_cast<i32>(x1), static_cast<i32>(y1));
  }
  if (PlatIsMainThread()) PlatPresentFlush();
}

// Copies the rectangle of the copy onto the window surface (main thread, lock held).
static bool Put(PresentCanvas* c, i32 l, i32 t, i32 r, i32 b) {
  SDL_Window* sdl = PlatWindowSdl(c->window);
  if (!sdl) return false;
  SDL_Surface* s = SDL_GetWindowSurface(sdl);
  if (!s) return true;
  // A menu bar in the frame takes the surface's top rows: the client area starts below it.
  const i32 off = PlatWindowBarOffset(c->window);
  r = std::min(r, s->w);
  b = std::min(b, s->h - off);
  if (l < r && t < b) {
    if (SDL_MUSTLOCK(s)) SDL_LockSurface(s);
    u8* dst = static_cast<u8*>(s->pixels) + static_cast<size_t>(t + off) * s->pitch +
              static_cast<size_t>(l) * s->format->BytesPerPixel;
    const u8* src = c->px.data() + (static_cast<size_t>(t) * c->width + l) * 4;
    // The alpha byte is not shown: the picture is read as B, G, R and an unused byte.
    SDL_ConvertPixels(r - l, b - t, SDL_PIXELFORMAT_RGB888, src, c->width * 4, s->format->format, dst, s->pitch);
    if (SDL_MUSTLOCK(s)) SDL_UnlockSurface(s);
    SDL_Rect rect{l, t + off, r - l, b - t};
    SDL_UpdateWindowSurfaceRects(sdl, &rect, 1);
    // A bar drawn over the picture's top band comes back over what was just drawn there.
    if (off == 0 && t < UI_MENU_BAR_HEIGHT) PlatMenuBarRepaint(c->window);
  }
  PlatWindowMarkPicture(c->window);
  return true;
}

void PlatPresentFlush() {
  if (!PlatVideoReady() || !PlatIsMainThread()) return;
  std::lock_guard<std::mutex> g(s_Lock);
  for (size_t i = 0; i < s_Canvases.size();) {
    PresentCanvas& c = s_Canvases[i];
    if (c.changed && !Put(&c, c.left, c.top, c.right, c.bottom)) {
      // A window destroyed before its last picture arrived.
      s_Canvases.erase(s_Canvases.begin() + static_cast<std::ptrdiff_t>(i));
      continue;
    }
    c.changed = false;
    i++;
  }
}

void PlatPresentForget(PlatWindow* w) {
  std::lock_guard<std::mutex> g(s_Lock);
  s_Canvases.erase(
      std::remove_if(s_Canvases.begin(), s_Canvases.end(), [w](const PresentCanvas& c) { return c.window == w; }),
      s_Canvases.end());
}

bool PlatPresentRepaint(PlatWindow* w) {
  if (!PlatVideoReady() || !PlatIsMainThread()) return false;
  std::lock_guard<std::mutex> g(s_Lock);
  PresentCanvas* c = Find(w);
  if (!c) return false;
  Put(c, 0, 0, c->width, c->height);
  c->changed = false;
  return true;
}

bool PlatPresentSnapshot(PlatWindow* w, std::vector<u8>* out, i32* width, i32* height) {
  std::lock_guard<std::mutex> g(s_Lock);
  PresentCanvas* c = Find(w);
  if (!c) return false;
  *out = c->px;
  *width = c->width;
  *height = c->height;
  return true;
}
