// Monitors, their display modes and the screen saver, as SDL reports them. A monitor is an SDL
// display index; its rectangle follows the display mode in use, so after a mode change it has
// the new size. Without video every query finds nothing.
#include <SDL.h>

#include "platform/video.h"
#include "platform/video_internal.h"

i32 PlatMonitorCount() {
  if (!PlatVideoReady()) return 0;
  int n = SDL_GetNumVideoDisplays();
  return n > 0 ? n : 0;
}

bool PlatMonitorGet(i32 index, PlatMonitor* out) {
  *out = PlatMonitor{};
  if (index < 0 || index >= PlatMonitorCount()) return false;
  SDL_Rect r;
  SDL_DisplayMode mode;
  if (SDL_GetDisplayBounds(index, &r) != 0 || SDL_GetCurrentDisplayMode(index, &mode) != 0) return false;
  if (index == 0) PlatForeignScreen(&r.x, &r.y, &mode.w, &mode.h);
  out->x = r.x;
  out->y = r.y;
  out->width = mode.w;
  out->height = mode.h;
  out->bits_per_pixel = static_cast<i32>(SDL_BITSPERPIXEL(mode.format));
  out->refresh_hz = mode.refresh_rate;
  return true;
}

// Squared distance from a point to a rectangle (0 inside).
static i64 DistanceSquared(const SDL_Rect& r, i32 x, i32 y) {
  i64 dx = x < r.x ? i64{r.x} - x : (x >= r.x + r.w ? i64{x} - (r.x + r.w - 1) : 0);
  i64 dy = y < r.y ? i64{r.y} - y : (y >= r.y + r.h ? i64{y} - (r.y + r.h - 1) : 0);
  return dx * dx + dy * dy;
}

i32 PlatMonitorNearest(i32 x, i32 y) {
  i32 best = -1;
  i64 best_d = 0;
  for (i32 i = 0; i < PlatMonitorCount(); i++) {
    SDL_Rect r;
    if (SDL_GetDisplayBounds(i, &r) != 0) continue;
    i64 d = DistanceSquared(r, x, y);
    if (best < 0 || d < best_d) {
      best = i;
      best_d = d;
    }
  }
  return best;
}

bool PlatDisplayModeGet(i32 monitor, i32 index, PlatDisplayMode* out) {
  *out = PlatDisplayMode{};
  if (monitor < 0 || monitor >= PlatMonitorCount() || index < 0) return false;
  SDL_DisplayMode mode;
  if (index >= SDL_GetNumDisplayModes(monitor) || SDL_GetDisplayMode(monitor, index, &mode) != 0) return false;
  *out = {mode.w, mode.h, static_cast<i32>(SDL_BITSPERPIXEL(mode.format)), mode.refresh_rate};
  return true;
}

void PlatScreenSaverBlock(bool block) {
  if (!PlatVideoReady()) return;
  if (block) SDL_DisableScreenSaver();
  else SDL_EnableScreenSaver();
}
