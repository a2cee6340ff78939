// Screen modes and monitors (see screen.h). The platform reports sizes after the fact: a size the
// user dragged to is corrected to the game's aspect when it is reported, and sizes the engine
// asks for itself are handled at once, as the system's own size messages would be. A failed
// switch to fullscreen leaves the window and every size as they were before it.
#include "shell/screen.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <string>

#include "core/config.h"
#include "core/err.h"
#include "core/sys.h"
#include "display/gpu.h"
#include "display/present.h"
#include "platform/input.h"
#include "platform/platform.h"
#include "platform/video.h"
#include "script/save.h"
#include "shell/frame.h"
#include "shell/menu.h"
#include "shell/startup.h"
#include "shell/sysinfo.h"
#include "shell/window.h"
#include "sound/movie.h"

static int PlatformFullscreen(WindowObject* w, const PlatDisplayMode* mode) {
  return w->handle ? PlatWindowSetFullscreen(w->handle, mode) : -1;
}
WinFullscreenFn g_WinFullscreenFn = PlatformFullscreen;

// Sizes kept across a change of mode.
struct WinSavedSizes {
  SizeI32 display, output;
  PointI32 offset;
  u8 valid;
};
static WinSavedSizes s_Windowed;                      // at the switch to fullscreen, for a switch that fails
static WinSavedSizes s_AtMaximise;                    // at a maximise, for the restore
static i32 s_RestoreExtraW = 0, s_RestoreExtraH = 0;  // frame extras when a size restore was asked
static SizeI32 s_BufferFor = {0, 0};                  // the output size the scaled buffer holds
static WinMinMax s_LimitsApplied = {{0, 0}, {0, 0}};
// The last client size asked for after a report, and the report it answered: a window manager
// that refuses the size reports the same size again, and is then left alone.
static SizeI32 s_AskedSize = {0, 0}, s_AskedAfter = {0, 0};

static bool SameSize(SizeI32 a, SizeI32 b) { return a.width == b.width && a.height == b.height; }

static const std::string& EngineText(const char* utf8, std::string* keep) {
  if (keep->empty()) *keep = PlatUtf8ToSjis(utf8);
  return *keep;
}

// Rounding as the size arithmetic does it: add 0.5 and cut towards zero, kept inside i32.
static i32 RoundHalf(double v) {
  v += 0.5;
  if (!(v > INT_MIN)) return INT_MIN;  // also NaN
  if (v >= INT_MAX) return INT_MAX;
  return static_cast<i32>(v);
}

static i32 ClampI32(i64 v) { return static_cast<i32>(std::clamp<i64>(v, INT_MIN, INT_MAX)); }

// The game's aspect; 1 for a game without a height (or width).
static double GameAspect(const WindowObject* w) {
  if (w->height <= 0 || w->width <= 0) return 1.0;
  return static_cast<double>(w->width) / w->height;
}

static void RequestResetWithModeChange() {
  if ((g_GpuDrawing || g_D3dInUse) && g_FullscreenModeChange) g_D3dResetRequest = 1;
}

static void RequestResetForGpu() {
  if (g_GpuDrawing && g_FullscreenModeChange) g_D3dResetRequest = 1;
}

// ---- Monitors --------------------------------------------------------------------------------

i32 WinGetMonitor(WindowObject* w) {
  i32 x, y, cw, ch;
  if (!w || !w->handle || !PlatWindowClientRect(w->handle, &x, &y, &cw, &ch)) return 0;
  i32 index = PlatMonitorNearest(x + cw / 2, y + ch / 2);
  PlatMonitor m;
  if (index < 0 || !PlatMonitorGet(index, &m)) return 0;
  g_MonitorOrigin = PointI32{m.x, m.y};
  g_MonitorSize = SizeI32{m.width, m.height};
  return index;
}

// ---- Output size and the scaled buffer -------------------------------------------------------

SizeI32 WinComputeOutputSize(i32 fit_mode, bool maximised_window, i32 gw, i32 gh, i32 dw, i32 dh, SizeI32 monitor,
                             u8* kind) {
  const i64 gws = gw == 0 ? 1 : gw, ghs = gh == 0 ? 1 : gh;  // a side of 0 never divides
  const bool fit_height = static_cast<double>(dh) <= static_cast<double>(gh) * dw / static_cast<double>(gws);
  const SizeI32 to_height = {ClampI32(i64{gw} * dh / ghs), dh};
  const SizeI32 to_width = {dw, ClampI32(i64{gh} * dw / gws)};
  SizeI32 out;
  if (fit_mode == WIN_FIT_INSIDE || maximised_window) {
    out = fit_height ? to_height : to_width;
    *kind = fit_height ? WIN_SCALE_TO_HEIGHT : WIN_SCALE_TO_WIDTH;
  } else if (fit_mode == WIN_FIT_FILL) {
    out = fit_height ? to_width : to_height;
    *kind = fit_height ? WIN_SCALE_TO_WIDTH : WIN_SCALE_TO_HEIGHT;
  } else if (fit_mode == WIN_FIT_STRETCH) {
    out = {dw, dh};
    *kind = WIN_SCALE_STRETCH;
  } else {
    out = {gw, gh};
    *kind = WIN_SCALE_NATIVE;
  }
  if (fit_mode != WIN_FIT_FILL) {
    out.width = std::min(out.width, monitor.width);
    out.height = std::min(out.height, monitor.height);
  }
  return out;
}

i32 WinScaledBufferAlloc(i32 width, i32 height) {
  if (width > WIN_OUTPUT_WIDTH_MAX) {
    {
      EngineLockGuard lock;
      FramePresentForget(nullptr);
      std::free(g_ScaledFrameBuffer);
      g_ScaledFrameBuffer = nullptr;
      g_ScaledFrameBufferSize = 0;
      s_BufferFor = {0, 0};
    }
    static std::string text;
    ErrMessageBoxF("", EngineText("ＣＧサイズが大きすぎます。X=%d, Y=%d", &text).c_str(), width, height);
    ErrRaise(ERR_OUT_OF_MEMORY, 1);
    return -1;
  }
  const u64 w = width > 0 ? static_cast<u64>(width) : 0, h = height > 0 ? static_cast<u64>(height) : 0;
  const u64 size = w * 4 * h + w * 4 + 4;
  bool ok;
  {
    // Presentation holds the lock while it scales into the buffer.
    EngineLockGuard lock;
    FramePresentForget(nullptr);
    std::free(g_ScaledFrameBuffer);
    g_ScaledFrameBuffer = static_cast<u8*>(std::malloc(size));
    ok = g_ScaledFrameBuffer != nullptr;
    g_ScaledFrameBufferSize = ok ? size : 0;
    s_BufferFor = ok ? SizeI32{width, height} : SizeI32{0, 0};
  }
  if (ok) return 0;
  ErrRaiseF(ERR_FILE_READ_NOMEM, 1);  // raised outside the lock: the dialog waits for the player
  return -1;
}

i32 WinUpdateOutputSize(i32 gw, i32 gh, i32 dw, i32 dh) {
  u8 kind = 0;
  SizeI32 out =
      WinComputeOutputSize(g_FitMode, !g_Fullscreen && g_Maximised, gw, gh, dw, dh, g_MonitorSize.load(), &kind);
  g_ScaleKind = kind;
  SizeI32 before = g_OutputSize.exchange(out);
  return SameSize(before, out) ? 0 : WinScaledBufferAlloc(out.width, out.height);
}

// ---- Display modes ---------------------------------------------------------------------------

// Games ask for 32-bit modes; a 24-bit mode shows them all the same.
static i32 ModeDepth(i32 bits) { return bits == 24 ? 32 : bits; }

i32 WinPickDisplayMode(const std::vector<PlatDisplayMode>& modes, SizeI32 monitor, SizeI32 game, i32 bits) {
  if (monitor.height <= 0) return -1;
  const i64 aspect = i64{monitor.width} * 1000 / monitor.height;
  i32 best = -1;
  const size_t n = std::min<size_t>(modes.size(), WIN_MODES_MAX);
  for (size_t i = 0; i < n; i++) {
    const PlatDisplayMode& m = modes[i];
    if (m.height <= 0 || i64{m.width} * 1000 / m.height != aspect) continue;
    if (m.width < game.width || m.height < game.height || ModeDepth(m.bits_per_pixel) != bits) continue;
    if (best < 0 || (m.width < modes[best].width && m.height < modes[best].height)) best = static_cast<i32>(i);
  }
  return best;
}

std::vector<PlatDisplayMode> WinListDisplayModes(i32 device) {
  std::vector<PlatDisplayMode> modes;
  PlatDisplayMode m;
  for (i32 i = 0; i < WIN_MODES_MAX && PlatDisplayModeGet(device, i, &m); i++) modes.push_back(m);
  return modes;
}

// ---- Placement and styles --------------------------------------------------------------------

// The system lets no program move other programs' windows here, and a mode change does not
// disturb them: there is nothing to save or restore.
void WinSavePlacements() {}
void WinRestorePlacements() {}

void WinMoveTo(WindowObject* w, i32 x, i32 y) {
  if (w->handle) PlatWindowMove(w->handle, x, y);
}

// Frame changes take effect as they are made on this platform.
void WinApplyPos(WindowObject*) {}

// The windowed frame of the main window: as it was created.
static u32 WindowedStyle(WindowObject* w) {
  u32 visible = WinGetStyle(w) & WIN_WS_VISIBLE;
  // A borderless game stays borderless after fullscreen.
  if (!g_WindowFramed) return WIN_WS_POPUP | visible;
  u32 style = WIN_WS_CAPTION | WIN_WS_SYSMENU | WIN_WS_MINIMIZEBOX | WIN_WS_MAXIMIZEBOX | WIN_WS_CLIPCHILDREN | visible;
  if (g_WindowResizable) style |= WIN_WS_THICKFRAME;
  return style;
}

static void CursorToMonitorCentre(WindowObject* w) {
  i32 x, y, cw, ch;
  if (!w->handle || !PlatWindowClientRect(w->handle, &x, &y, &cw, &ch)) return;
  SizeI32 mon = g_MonitorSize.load();
  const PointI32 origin = g_MonitorOrigin.load();
  PlatInputWarpCursor(w->handle, origin.x + mon.width / 2 - x, origin.y + mon.height / 2 - y);
}

void WinResizeClient(WindowObject* w, i32 width, i32 height) {
  if (!w->handle) return;
  PlatWindowSetClientSize(w->handle, width, height);
  WinOnWindowPosChanged(w);
  WinOnSize(w, width, height);
}

// ---- Fullscreen ------------------------------------------------------------------------------

i32 WinFullscreenNoDx(WindowObject* w, i32 device) {
  const bool reset = (g_GpuDrawing || g_D3dInUse) && g_FullscreenModeChange;
  if (reset) g_D3dResetRequest = 1;
  const SizeI32 display = g_DisplaySize.load();
  PlatDisplayMode mode{};
  const PlatDisplayMode* want = nullptr;
  if (g_FullscreenModeChange) {
    bool found = false;
    for (const PlatDisplayMode& m : WinListDisplayModes(device)) {
      if (m.width == display.width && m.height == display.height &&
          ModeDepth(m.bits_per_pixel) == g_FullscreenBitsPerPixel) {
        mode = m;
        found = true;
        break;
      }
    }
    if (!found) {
      if (reset) g_D3dResetRequest = 0;
      g_Fullscreen = 0;
      WinRestoreDisplayMode(w);
      static std::string text;
      ErrMessageBoxF("", EngineText("PC環境が %d x %d 解像度でのフルスクリーンに対応していません。", &text).c_str(),
                     display.width, display.height);
      return -1;
    }
    want = &mode;
  }
  if (g_WinFullscreenFn(w, want) != 0) {
    if (reset) g_D3dResetRequest = 0;
    g_Fullscreen = 0;
    WinRestoreDisplayMode(w);
    ErrRaise(ERR_WIN_MODE_REFUSED, 0);
    return -1;
  }
  return 0;
}

i32 WinSwitchToFullscreen(WindowObject* w, i32 mode_change) {
  const i32 device = WinGetMonitor(w);
  WinSavePlacements();
  s_Windowed = {g_DisplaySize.load(), g_OutputSize.load(), g_OutputOffset.load(), 1};
  WinMenuDetach(w);  // the menu bar of a fullscreen window lives in its own window
  const SizeI32 monitor = g_MonitorSize.load();
  SizeI32 display = monitor;
  if (mode_change) {
    std::vector<PlatDisplayMode> modes = WinListDisplayModes(device);
    i32 i = WinPickDisplayMode(modes, monitor, SizeI32{w->width, w->height}, g_FullscreenBitsPerPixel);
    if (i >= 0) display = {modes[i].width, modes[i].height};
  }
  g_DisplaySize = display;
  WinUpdateOutputSize(w->width, w->height, display.width, display.height);
  WinSetStyle(w, WIN_WS_POPUP | (WinGetStyle(w) & WIN_WS_VISIBLE));
  if (WinFullscreenNoDx(w, device) < 0) return -1;
  // The system puts a fullscreen window on its monitor itself; a move now would only change the
  // place it returns to.
  WinApplyPos(w);
  if (w->handle) PlatInputWarpCursor(w->handle, display.width / 2, display.height / 2);
  WinMenuSet(w->menu_name, w);
  WinPaintBlack(w);  // the bands around a letterboxed picture start black
  return 0;
}

void WinRestoreDisplayMode(WindowObject* w) {
  // The windowed frame is given before the window leaves fullscreen, which applies it: the frame
  // is never taken away and given back on the way (the window manager then lost its place).
  if (!g_QuitRequested) WinSetStyle(w, WindowedStyle(w));
  if (w->handle) PlatWindowLeaveFullscreen(w->handle);
  WinRestorePlacements();
  if (g_Maximised && w->handle) {
    PlatDesktop desk;
    PlatDesktopGet(&desk);
    WinMoveTo(w, desk.work_x + (desk.work_width - w->width) / 2, desk.work_y + (desk.work_height - w->height) / 2);
    PlatWindowSetState(w->handle, PLAT_STATE_NORMAL);
  }
  if (!g_QuitRequested) WinMenuSet(w->menu_name, w);
}

i32 WinSwitchToWindowed(WindowObject* w, i32 keep_display_mode) {
  WinMenuDetach(w);
  s_Windowed.valid = 0;
  const SizeI32 game = {w->width, w->height};
  g_DisplaySize = game;
  g_OutputSize = game;
  if (!keep_display_mode) WinRestoreDisplayMode(w);
  RequestResetWithModeChange();
  WinScaledBufferAlloc(game.width, game.height);
  // Some systems give the window back its fullscreen size: the game size is the windowed one.
  if (w->handle && !PlatWindowIsFullscreen(w->handle)) PlatWindowSetClientSize(w->handle, game.width, game.height);
  WinGetMonitor(w);
  CursorToMonitorCentre(w);
  return 0;
}

i32 WinSetFullscreen(i32 on) {
  const u8 want = on ? 1 : 0;
  if (want == g_Fullscreen) return 0;
  WindowObject* main = g_WindowObjects[0];
  if (!main) return 0;
  if (!want) {
    WinSwitchToWindowed(main, 0);
    g_Fullscreen = 0;
    g_Maximised = 0;
    return 1;
  }
  g_Fullscreen = 1;
  if (WinSwitchToFullscreen(main, g_FullscreenModeChange) == 0) return 1;
  // Nothing switched: the window keeps its windowed sizes and the caller is told so.
  g_Fullscreen = 0;
  if (s_Windowed.valid) {
    g_DisplaySize = s_Windowed.display;
    g_OutputSize = s_Windowed.output;
    g_OutputOffset = s_Windowed.offset;
    s_Windowed.valid = 0;
    WinScaledBufferAlloc(g_OutputSize.load().width, g_OutputSize.load().height);
  }
  return 0;
}

void WinRememberWindowedSizes() {
  s_AtMaximise = {g_DisplaySize.load(), g_OutputSize.load(), g_OutputOffset.load(), 1};
}

void WinRequestSizeRestore(WindowObject* w) {
  g_RestoreSizePending = 1;
  WinRectFromClient(w, &s_RestoreExtraW, &s_RestoreExtraH);
}

// ---- Size messages ---------------------------------------------------------------------------

WinRect WinOnSizing(const WindowObject* w, i32 edge, WinRect rect, i32 extra_w, i32 extra_h) {
  if (w->index != 0) return rect;
  const double r = GameAspect(w);
  const i32 cw = rect.right - rect.left - extra_w, ch = rect.bottom - rect.top - extra_h;
  const i32 dw = RoundHalf(ch * r) - cw;
  const i32 dh = RoundHalf(cw / r) - ch;
  switch (edge) {
    case WIN_EDGE_LEFT:
    case WIN_EDGE_RIGHT: rect.bottom += dh; break;
    case WIN_EDGE_TOP:
    case WIN_EDGE_BOTTOM: rect.right += dw; break;
    case WIN_EDGE_TOP_LEFT:
      if (dw >= 1) rect.left -= dw;
      else rect.top -= dh;
      break;
    case WIN_EDGE_TOP_RIGHT:
      if (dw >= 1) rect.right += dw;
      else rect.top -= dh;
      break;
    case WIN_EDGE_BOTTOM_LEFT:
      if (dw >= 1) rect.left -= dw;
      else rect.bottom += dh;
      break;
    case WIN_EDGE_BOTTOM_RIGHT:
      if (dw >= 1) rect.right += dw;
      else rect.bottom += dh;
      break;
  }
  return rect;
}

// Asks the platform for a client size unless it has it already, or refused it just now.
static void ClientSizeTo(WindowObject* w, i32 width, i32 height) {
  i32 x, y, cw, ch;
  if (!w->handle || !PlatWindowClientRect(w->handle, &x, &y, &cw, &ch)) return;
  const SizeI32 now = {cw, ch}, want = {width, height};
  if (SameSize(now, want)) return;
  if (SameSize(want, s_AskedSize) && SameSize(now, s_AskedAfter)) return;
  s_AskedSize = want;
  s_AskedAfter = now;
  PlatWindowSetClientSize(w->handle, width, height);
}

static bool ComputeSizeLimits(const WindowObject* w, WinMinMax* out) {
  const SizeI32 output = g_OutputSize.load(), mon = g_MonitorSize.load();
  if (w->index != 0 || g_Fullscreen || g_Maximised || output.width <= 0 || output.height <= 0) return false;
  if (mon.width <= 0 || mon.height <= 0) return false;
  const double r = GameAspect(w);
  i32 lw, lh;
  if (mon.width / r > mon.height) {
    lh = mon.height;
    lw = RoundHalf(lh * r);
  } else {
    lw = mon.width;
    lh = RoundHalf(lw / r);
  }
  const i32 h = std::min(lh, lw);
  const i32 q = std::min(w->width, w->height) / 4;
  out->min_track = {RoundHalf(q * r), q};
  out->max_track = {RoundHalf(h * r), h};
  return true;
}

bool WinOnGetMinMaxInfo(WindowObject* w, WinMinMax* out) {
  if (!ComputeSizeLimits(w, out)) return false;
  WinScaledBufferAlloc(out->max_track.width, out->max_track.height);
  return true;
}

void WinApplySizeLimits(WindowObject* w) {
  WinMinMax m;
  if (!w->handle || !ComputeSizeLimits(w, &m)) return;
  // The window manager keeps the game's aspect while the user drags, as the sizing handler does.
  PlatWindowKeepAspect(w->handle, w->width, w->height);
  if (SameSize(m.min_track, s_LimitsApplied.min_track) && SameSize(m.max_track, s_LimitsApplied.max_track)) return;
  WinOnGetMinMaxInfo(w, &m);
  s_LimitsApplied = m;
  // The size handler keeps the window inside the monitor; a smaller maximum here would keep
  // window managers from maximising it.
  const SizeI32 mon = g_MonitorSize.load();
  PlatWindowSetSizeLimits(w->handle, m.min_track.width, m.min_track.height, std::max(m.max_track.width, mon.width),
                          std::max(m.max_track.height, mon.height));
}

void WinOnSize(WindowObject* w, i32 client_width, i32 client_height) {
  if (client_width <= 0 || client_height <= 0) return;  // a minimised window has nothing to fit
  if (w->index == 0 && !g_Fullscreen && !g_Maximised && !g_RestoreSizePending) {
    const SizeI32 mon = g_MonitorSize.load();
    i32 cw = mon.width > 0 ? std::min(client_width, mon.width) : client_width;
    i32 ch = mon.height > 0 ? std::min(client_height, mon.height) : client_height;
    const double r = GameAspect(w);
    if (static_cast<double>(cw) / ch <= r) ch = std::max(1, RoundHalf(cw / r));
    else cw = std::max(1, RoundHalf(ch * r));
    ClientSizeTo(w, cw, ch);
    g_DisplaySize = SizeI32{cw, ch};
    g_OutputSize = SizeI32{cw, ch};
    WinApplySizeLimits(w);
    if (!SameSize(s_BufferFor, SizeI32{cw, ch})) WinScaledBufferAlloc(cw, ch);
    WinLayoutMovieAndFlash(w->height > 0 ? static_cast<double>(ch) / w->height : 1.0);
  } else {
    const SizeI32 target = w->index == 0 ? g_DisplaySize.load() : SizeI32{w->width, w->height};
    i32 x, y, cw, ch;
    if (g_RestoreSizePending && w->handle && PlatWindowClientRect(w->handle, &x, &y, &cw, &ch)) {
      // The window keeps its centre: the old frame around the old size, the new around the new.
      i32 ew, eh;
      WinRectFromClient(w, &ew, &eh);
      WinMoveTo(w, x + (cw + s_RestoreExtraW - target.width - ew) / 2,
                y + (ch + s_RestoreExtraH - target.height - eh) / 2);
    }
    if (target.width > 0 && target.height > 0) ClientSizeTo(w, target.width, target.height);
    if (w->index == 0) WinLayoutMovieAndFlash(w->height > 0 ? static_cast<double>(target.height) / w->height : 1.0);
  }
  if (g_EmoteAvailable) EmoteUpdateTransforms();
}

void WinOnWindowPosChanged(WindowObject* w) {
  if (w->index != 0 || g_Fullscreen) return;
  if (g_RestoreSizePending) {
    g_RestoreSizePending = 0;
    g_Maximised = 0;
    // Without a maximise before it there is nothing to go back to.
    if (s_AtMaximise.valid) {
      g_OutputSize = s_AtMaximise.output;
      g_DisplaySize = s_AtMaximise.display;
      s_AtMaximise.valid = 0;
      WinScaledBufferAlloc(g_OutputSize.load().width, g_OutputSize.load().height);
    }
    RequestResetForGpu();
    return;
  }
  i32 x, y, cw, ch;
  if (!g_Maximised || !w->handle || !PlatWindowClientRect(w->handle, &x, &y, &cw, &ch)) return;
  if (cw <= 0 || ch <= 0 || SameSize(g_DisplaySize.load(), SizeI32{cw, ch})) return;
  g_DisplaySize = SizeI32{cw, ch};
  WinUpdateOutputSize(w->width, w->height, cw, ch);
}

void WinOnReportedSize(WindowObject* w, i32 client_width, i32 client_height) {
  WinOnWindowPosChanged(w);
  if (w->index == 0 && !g_Fullscreen && !g_Maximised && !g_RestoreSizePending && client_width > 0 &&
      client_height > 0) {
    // What the user dragged, told from what changed since the last size.
    const SizeI32 before = g_DisplaySize.load();
    const bool wide = client_width != before.width, high = client_height != before.height;
    const i32 edge = wide && high ? WIN_EDGE_BOTTOM_RIGHT : wide ? WIN_EDGE_RIGHT : high ? WIN_EDGE_BOTTOM : 0;
    if (edge) {
      WinRect r = WinOnSizing(w, edge, WinRect{0, 0, client_width, client_height}, 0, 0);
      client_width = r.right - r.left;
      client_height = r.bottom - r.top;
    }
  }
  WinOnSize(w, client_width, client_height);
}

// ---- Movie and Flash layout --------------------------------------------------------------------

WinRect WinMovieRectOnScreen(const WinRect& movie, i32 fit_mode, SizeI32 game, SizeI32 display, SizeI32 output,
                             PointI32 offset) {
  const double sx = game.width > 0 ? static_cast<double>(output.width) / game.width : 1.0;
  const double sy = game.height > 0 ? static_cast<double>(output.height) / game.height : 1.0;
  PointI32 o = offset;
  if (fit_mode == WIN_FIT_FILL) {
    // The filled picture overflows the display: the movie is centred as a fitted picture would be.
    u8 kind;
    SizeI32 fitted = WinComputeOutputSize(WIN_FIT_INSIDE, false, game.width, game.height, display.width, display.height,
                                          SizeI32{INT_MAX, INT_MAX}, &kind);
    o = {(display.width - fitted.width) / 2, (display.height - fitted.height) / 2};
  }
  return WinRect{o.x + RoundHalf(movie.left * sx), o.y + RoundHalf(movie.top * sy), o.x + RoundHalf(movie.right * sx),
                 o.y + RoundHalf(movie.bottom * sy)};
}

void WinLayoutMovieAndFlash(double scale) {
  WindowObject* main = g_WindowObjects[0];
  if (!main) return;
  const SizeI32 game = {main->width, main->height}, display = g_DisplaySize.load(), output = g_OutputSize.load();
  WinRect fr;
  if (FlashHostRect(&fr) == 0) {
    const double sx = game.width > 0 ? static_cast<double>(output.width) / game.width : 1.0;
    const double sy = game.height > 0 ? static_cast<double>(output.height) / game.height : 1.0;
    const i32 x = (display.width - output.width) / 2 + static_cast<i32>(fr.left * scale);
    const i32 y = (display.height - output.height) / 2 + static_cast<i32>(fr.top * scale);
    WinRect r = {x, y, x + RoundHalf((fr.right - fr.left) * sx), y + RoundHalf((fr.bottom - fr.top) * sy)};
    FlashHostMove(&r);
  }
  if (g_MoviePlaying && g_MovieUseDirectShow == 1) MovieGraphLayout();
  WinRect mr;
  if (g_MovieMciOpen && MovieMciRect(&mr) == 0) {
    WinRect r = WinMovieRectOnScreen(mr, g_FitMode, game, display, output, g_OutputOffset.load());
    MovieMciPut(&r);
  }
}

// ---- Command 91 and painting -------------------------------------------------------------------

void WinPaintBlack(WindowObject* w) {
  if (!w || !w->handle) return;
  i32 x, y, cw, ch;
  if (!PlatWindowClientRect(w->handle, &x, &y, &cw, &ch)) {
    SizeI32 d = w->index == 0 ? g_DisplaySize.load() : SizeI32{w->width, w->height};
    cw = d.width;
    ch = d.height;
  }
  static const u8 black[4 + 4 + 4] = {};  // one pixel with the spare bytes every picture has
  FramePresentForget(w);
  g_FrameBlit(w, black, 1, 1, 0, 0, cw, ch, 0, 0, 1, 1);
}

static bool Given(const CmdArgRecord* a, i32 p) { return a->given[p] != 0; }

i32 CmdScreenSetBody(const CmdArgRecord* a) {
  WindowObject* main = g_WindowObjects[0];
  if (Given(a, 0)) {
    g_BlockScreenSaver = static_cast<u8>(a->value[0]);
    PlatScreenSaverBlock(g_BlockScreenSaver != 0 && !g_ScreenSaverBuild);
  }
  if (Given(a, 1) && main && main->active) g_RunInBackground = static_cast<u8>(a->value[1]);
  if ((Given(a, 2) || Given(a, 3)) && main) {
    const i64 gw = Given(a, 2) ? a->value[2] : main->width, gh = Given(a, 3) ? a->value[3] : main->height;
    if (gw >= 1 && gh >= 1) {
      if (gw > WIN_OUTPUT_WIDTH_MAX || gh > INT_MAX) {
        // Too large for any picture: the size box and the error, nothing stored.
        WinScaledBufferAlloc(ClampI32(gw), ClampI32(gh));
        return -1;
      }
      main->width = static_cast<i32>(gw);
      main->height = static_cast<i32>(gh);
      main->client = {0, 0, main->width, main->height};
      if (!g_Fullscreen && !g_Maximised) {
        g_DisplaySize = SizeI32{main->width, main->height};
        g_OutputSize = SizeI32{main->width, main->height};
        // The presentation scales into the buffer at the output size: it must hold it.
        WinScaledBufferAlloc(main->width, main->height);
      } else {
        const SizeI32 d = g_DisplaySize.load();
        WinUpdateOutputSize(main->width, main->height, d.width, d.height);
        WinPaintBlack(main);
      }
    }
  }
  const u32 now = PlatTimeMs();
  for (i32 t = 0; t < 4; t++) {
    if (!Given(a, 4 + t)) continue;
    const i64 v = a->value[4 + t];
    if (v == 0 && g_ScriptTimers.running[t]) {
      g_ScriptTimers.running[t] = 0;
      g_ScriptTimers.stopped_at[t] = now;
    } else if (v == 1 && !g_ScriptTimers.running[t]) {
      g_ScriptTimers.start[t] += now - g_ScriptTimers.stopped_at[t];
      g_ScriptTimers.running[t] = 1;
    }
  }
  return 0;
}

i32 CmdScreenSet() {
  CmdArgRecord a;
  if (ArgDecodeRecord(CMD_SCREEN_SET, &a) != 0) return -1;
  return CmdRunOnMain(CmdScreenSetBody, &a);
}

void WinScreenReset() {
  g_DisplaySize = SizeI32{0, 0};
  g_MonitorOrigin = PointI32{0, 0};
  g_Fullscreen = 0;
  g_Maximised = 0;
  g_ScaleKind = 0;
  g_D3dResetRequest = 0;
  g_FullscreenBitsPerPixel = 32;
  g_RestoreSizePending = 0;
  g_BlockScreenSaver = 0;
  g_WinFullscreenFn = PlatformFullscreen;
  s_Windowed = {};
  s_AtMaximise = {};
  s_RestoreExtraW = s_RestoreExtraH = 0;
  s_BufferFor = {0, 0};
  s_LimitsApplied = {};
  s_AskedSize = s_AskedAfter = {0, 0};
}
