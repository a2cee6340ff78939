// Window painting requests (see window_paint.h).
#include "shell/window_paint.h"

#include <atomic>

#include "core/config.h"
#include "display/gpu.h"
#include "layer/layer.h"
#include "platform/video.h"
#include "script/save.h"
#include "shell/menu.h"
#include "shell/window.h"
#include "sound/movie.h"

static std::atomic<u8> s_Pending[WIN_COUNT];

static void Invalidate(WindowObject* w) {
  LayerRecord* r = LayerOf(w->root_layer);
  if (!r) return;
  r->update_left = 0;
  r->update_top = 0;
  r->update_right = i64{r->width} - 1;
  r->update_bottom = i64{r->height} - 1;
  r->needs_compose = 1;
}

void WinInvalidate(WindowObject* w) {
  if (!w || w->index < 0 || w->index >= WIN_COUNT) return;
  // The frame thread owns the records while it runs.
  if (g_ThreadedMode && PlatIsMainThread()) {
    s_Pending[w->index] = 1;
    return;
  }
  Invalidate(w);
}

void WinInvalidateApplyPending() {
  for (i32 i = 0; i < WIN_COUNT; i++)
    if (s_Pending[i].exchange(0) && g_WindowObjects[i]) Invalidate(g_WindowObjects[i]);
}

void WinInvalidateReset() {
  for (auto& p : s_Pending) p = 0;
}
