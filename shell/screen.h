// Screen modes and monitors: the main window windowed, maximised or fullscreen on the monitor
// that holds it, the output size by the fit mode, a resizable window kept at the game's aspect,
// and command 91 (screen size, script timers). Everything here runs on the main thread (commands
// through CmdRunOnMain); the sizes and flags that the presentation reads on the frame thread are
// atomics, and the scaled buffer is replaced only under g_EngineLock, which presentation holds
// while it uses the buffer.
#pragma once
#include <atomic>
#include <vector>

#include "common/types.h"
#include "core/state.h"
#include "script/cmdargs.h"

struct PlatDisplayMode;
struct WindowObject;
struct WinRect;

// ---- Monitors --------------------------------------------------------------------------------
// The monitor nearest the window's centre: sets g_MonitorOrigin and g_MonitorSize and returns its
// index; 0 when it cannot be determined.
i32 WinGetMonitor(WindowObject* w);

// ---- Output size -----------------------------------------------------------------------------
// g_OutputSize and g_ScaleKind for a gw x gh game shown on a dw x dh display by g_FitMode;
// a changed output size gets a new scaled buffer. 0, or -1 when the buffer failed (raised).
i32 WinUpdateOutputSize(i32 gw, i32 gh, i32 dw, i32 dh);
// The output size alone (no globals written): what WinUpdateOutputSize computes.
SizeI32 WinComputeOutputSize(i32 fit_mode, bool maximised_window, i32 gw, i32 gh, i32 dw, i32 dh, SizeI32 monitor,
                             u8* kind);
// A scaled buffer for a width x height output (width * 4 * height + width * 4 + 4 bytes). Wider
// than 8192: the size box and error 100010, no buffer; no memory: error 104030. 0 or -1.
i32 WinScaledBufferAlloc(i32 width, i32 height);

// ---- Fullscreen ------------------------------------------------------------------------------
// 1 when it switched, 0 when the state was already the wanted one or the switch failed (then
// the window and every size stay as they were).
i32 WinSetFullscreen(i32 on);
i32 WinSwitchToFullscreen(WindowObject* w, i32 mode_change);  // 0 or -1
i32 WinSwitchToWindowed(WindowObject* w, i32 keep_display_mode);
// Puts the display into the mode of g_DisplaySize (with a mode change) or covers the monitor.
// 0, or -1 after the box or error 105210 (the window is windowed again).
i32 WinFullscreenNoDx(WindowObject* w, i32 device);
void WinRestoreDisplayMode(WindowObject* w);
// The smallest mode of the monitor's aspect (width * 1000 / height) that holds the game on both
// sides in the wanted depth (a 24-bit mode counts as 32). Index into modes, or -1.
i32 WinPickDisplayMode(const std::vector<PlatDisplayMode>& modes, SizeI32 monitor, SizeI32 game, i32 bits);
// The display modes of a monitor, as the platform lists them (at most WIN_MODES_MAX).
std::vector<PlatDisplayMode> WinListDisplayModes(i32 device);
// Other programs' windows are not the engine's to move on this platform: both do nothing.
void WinSavePlacements();
void WinRestorePlacements();
void WinMoveTo(WindowObject* w, i32 x, i32 y);
void WinApplyPos(WindowObject* w);
// The display and output sizes (and offset) at a maximise, for the restore.
void WinRememberWindowedSizes();
// The size handlers are to restore the window's size, the frame having changed from what it adds
// now (a change of resizability).
void WinRequestSizeRestore(WindowObject* w);
// Gives the window a client size and runs the size handlers at once, as the system's own size
// messages would (main thread).
void WinResizeClient(WindowObject* w, i32 width, i32 height);

// ---- Size messages of the main window ----------------------------------------------------------
// The window rectangle being dragged by edge (WIN_EDGE_...), corrected to the game's aspect.
// extra_w, extra_h: what the frame adds to the client area.
WinRect WinOnSizing(const WindowObject* w, i32 edge, WinRect rect, i32 extra_w, i32 extra_h);
void WinOnSize(WindowObject* w, i32 client_width, i32 client_height);
struct WinMinMax {
  SizeI32 min_track, max_track;
};
// The tracking limits of the windowed main window; false when they do not apply.
bool WinOnGetMinMaxInfo(WindowObject* w, WinMinMax* out);
void WinOnWindowPosChanged(WindowObject* w);
// A size the platform reported after the user resized the window: the dragged edge is told from
// what changed, the size corrected to the aspect, then the size messages follow.
void WinOnReportedSize(WindowObject* w, i32 client_width, i32 client_height);
// Hands the tracking limits to the platform (after a change of monitor or game size).
void WinApplySizeLimits(WindowObject* w);
// The Flash host and movie windows after a size change of the main window, at this scale.
void WinLayoutMovieAndFlash(double scale);
// The movie rectangle (game pixels) as shown: scaled by output / game size and offset.
WinRect WinMovieRectOnScreen(const WinRect& movie, i32 fit_mode, SizeI32 game, SizeI32 display, SizeI32 output,
                             PointI32 offset);

// ---- Command 91 and painting -------------------------------------------------------------------
i32 CmdScreenSetBody(const CmdArgRecord* a);
// Command 91: decodes its line, then the body on the main thread.
i32 CmdScreenSet();
// Paints the window's client area black (a 1 x 1 black picture stretched over it).
void WinPaintBlack(WindowObject* w);

// Tests: every screen state back to its start.
void WinScreenReset();
// Tests: what switches the display (the platform's fullscreen by default).
typedef int (*WinFullscreenFn)(WindowObject* w, const PlatDisplayMode* mode);
extern WinFullscreenFn g_WinFullscreenFn;
