// Video and the event pump: SDL start-up, the desktop, windows and the messages they produce.
// Windows are created, destroyed and pumped on the main thread (the thread that called
// PlatVideoInit); the calls marked "any thread", PlatPostMessage and PlatPostQuit may come from
// other threads and take effect when the main thread next pumps. The system reports a minimise,
// maximise or restore after it happened; the engine can only take it back. Input, presentation,
// fonts and audio add their own headers beside this one and deliver their events through the
// same pump.
#pragma once
#include <atomic>
#include <string>
#include <vector>

#include "common/types.h"

// ---- Start-up --------------------------------------------------------------------------------
// Starts SDL video and events on the calling thread, which becomes the main thread. Returns 0,
// or -1 (the reason goes to stderr); everything below then fails softly.
int PlatVideoInit();
// Destroys every window still open and stops SDL video. Safe to call when not started.
void PlatVideoQuit();
bool PlatVideoReady();
bool PlatIsMainThread();

// ---- Desktop ---------------------------------------------------------------------------------
struct PlatDesktop {
  i32 width, height;                            // desktop resolution of the first display
  i32 bits_per_pixel;                           // colour depth as the display reports it (a 24-bit desktop reports 24)
  i32 refresh_hz;                               // 0 when unknown
  i32 work_x, work_y, work_width, work_height;  // usable area (without panels)
};
// False when video is not started; out then holds 640 x 480 x 32 and refresh 0.
bool PlatDesktopGet(PlatDesktop* out);

struct PlatDisplayMode {
  i32 width, height, bits_per_pixel, refresh_hz;
};
struct PlatDisplayInfo {
  std::string name;    // UTF-8
  std::string driver;  // the video driver's name
  bool primary;
  std::vector<PlatDisplayMode> modes;
};
std::vector<PlatDisplayInfo> PlatDisplayList();

// ---- Monitors and display modes --------------------------------------------------------------
// A monitor: its rectangle on the desktop and its current display mode.
struct PlatMonitor {
  i32 x, y, width, height;
  i32 bits_per_pixel;  // as the display reports it (a 24-bit mode reports 24)
  i32 refresh_hz;      // 0 when unknown
};
i32 PlatMonitorCount();
bool PlatMonitorGet(i32 index, PlatMonitor* out);
// The monitor holding the desktop point, else the nearest one; -1 when no monitor is known.
i32 PlatMonitorNearest(i32 x, i32 y);
// Mode index of the monitor's list (largest first); false past the last one.
bool PlatDisplayModeGet(i32 monitor, i32 index, PlatDisplayMode* out);
// The screen saver is kept from starting while blocked (it may start by default).
void PlatScreenSaverBlock(bool block);

// ---- Windows ---------------------------------------------------------------------------------
struct PlatWindow;

enum {
  PLAT_WINDOW_FRAMED = 1,     // caption and border; else a borderless popup
  PLAT_WINDOW_RESIZABLE = 2,  // a thick frame the user can drag
  PLAT_WINDOW_TOPMOST = 4,
  PLAT_WINDOW_SHOWN = 8,  // visible at once; else hidden until PlatWindowShow
  PLAT_WINDOW_TOOL = 16,  // a tool window: no entry in the task bar (fixed at creation)
  PLAT_WINDOW_NO_MAXIMIZE = 32,  // framed without a maximise box (a hint the window manager may take)
};
enum { PLAT_WINDOW_CENTERED = -0x7FFF };

struct PlatWindowDesc {
  const char* title;  // Shift-JIS
  i32 x, y;           // client position on the desktop, or PLAT_WINDOW_CENTERED
  i32 width, height;  // client size
  u32 flags;
  void* user;  // handed back with every message of the window
};
// Null when video is not started or SDL refuses the window.
// The next window created is this window of another program (an X11 id), adopted as it is: it
// is the screen (PlatDesktopGet and monitor 0 report its size), and it is never moved, sized,
// reframed or made fullscreen. 0 forgets it.
void PlatVideoUseForeignWindow(u64 id);
PlatWindow* PlatWindowCreate(const PlatWindowDesc* desc);
void PlatWindowDestroy(PlatWindow* w);
void PlatWindowShow(PlatWindow* w, bool show);  // any thread
bool PlatWindowShown(PlatWindow* w);
// Any thread.
void PlatWindowSetTitle(PlatWindow* w, const char* title_sjis);
void* PlatWindowUser(PlatWindow* w);
// Fills the client area with black (what a window shows before its first picture).
void PlatWindowPaintBlack(PlatWindow* w);
// The background erase of an exposed window: black until the window's first picture; a window
// with a picture shows it again from the presentation's copy.
void PlatWindowErase(PlatWindow* w);
// Number of windows alive (tests).
int PlatWindowCount();
// For the other platform files: the SDL window behind a window and the window with an SDL id;
// null for a window that does not exist (any more).
struct SDL_Window;
SDL_Window* PlatWindowSdl(PlatWindow* w);
PlatWindow* PlatWindowFromSdlId(u32 id);

// The frame flags (PLAT_WINDOW_FRAMED, _RESIZABLE, _TOPMOST, _NO_MAXIMIZE) the engine last gave
// the window.
u32 PlatWindowFlags(PlatWindow* w);
// Gives the window these frame flags (any thread).
void PlatWindowSetFlags(PlatWindow* w, u32 flags);
// Minimise and maximise have happened by the time the engine hears of them: this takes one back
// (any thread). The restore that follows is not reported as a message.
void PlatWindowRestore(PlatWindow* w);
bool PlatWindowMinimized(PlatWindow* w);
// Width and height that the frame adds to the client area; 0, 0 while the system does not say.
void PlatWindowFrameExtras(PlatWindow* w, i32* extra_width, i32* extra_height);
// Opacity 0 (clear) to 255 (opaque). -1 when the system cannot make windows translucent.
int PlatWindowSetOpacity(PlatWindow* w, i32 alpha);  // any thread (then 0 when queued)
// Draws the user's attention: count 0 stops, 1 flashes briefly, more flashes until the window
// gets the focus. -1 when the system cannot.
int PlatWindowFlash(PlatWindow* w, i32 count);  // any thread (then 0 when queued)

// A window shape: the union of rectangles in client pixels, right and bottom exclusive.
struct PlatRect {
  i32 left, top, right, bottom;
};
// Shows only the shape's pixels of the window; a shaped window has no frame. The first shape
// makes a new system window behind the same PlatWindow (main thread; from other threads the
// shape is carried out by the pump). -1 when the system cannot shape windows.
int PlatWindowSetShape(PlatWindow* w, const PlatRect* rects, i32 count);
bool PlatWindowShaped(PlatWindow* w);

// Hit testing: asked on every button press inside a window; true makes that press drag the
// window (the system moves it; the press is not reported).
typedef bool (*PlatHitTestFn)(void* user, i32 x, i32 y);
void PlatSetHitTestHandler(PlatHitTestFn fn);

// ---- Window geometry, states and fullscreen ----------------------------------------------------
// The client area's position on the desktop and its size (main thread). False for a window that
// does not exist, and on other threads.
bool PlatWindowClientRect(PlatWindow* w, i32* x, i32* y, i32* width, i32* height);
// Places the client area's top-left corner (any thread). Ignored while fullscreen.
void PlatWindowMove(PlatWindow* w, i32 x, i32 y);
// Gives the client area this size (any thread). Ignored while fullscreen; reported as PLAT_MSG_SIZE.
void PlatWindowSetClientSize(PlatWindow* w, i32 width, i32 height);
// The client sizes the user can drag the window to; 0 for no limit (any thread).
void PlatWindowSetSizeLimits(PlatWindow* w, i32 min_width, i32 min_height, i32 max_width, i32 max_height);
// The client area keeps width : height while the user drags the window's size (0, 0: any shape;
// any thread). Only where a window manager takes the hint (X11).
void PlatWindowKeepAspect(PlatWindow* w, i32 width, i32 height);
// To the front of the other windows, with the input focus (any thread).
void PlatWindowRaise(PlatWindow* w);
// Below the sibling window, or below every other window for a null sibling (any thread). Only
// where the system can restack windows (X11); elsewhere nothing happens.
void PlatWindowStackBelow(PlatWindow* w, PlatWindow* sibling);
enum { PLAT_STATE_NORMAL = 0, PLAT_STATE_MINIMIZED = 1, PLAT_STATE_MAXIMIZED = 2 };
// Minimises, maximises or restores the window as the user would; the system reports it with the
// usual messages (any thread).
void PlatWindowSetState(PlatWindow* w, i32 state);
// Fullscreen on the monitor that holds the window (main thread): with a mode, the display
// switches to that mode of the monitor's list; without, the window covers the monitor at the
// desktop's mode. 0, or -1 when refused (the window stays as it was).
int PlatWindowSetFullscreen(PlatWindow* w, const PlatDisplayMode* mode);
// Back to a window at its windowed place, the desktop's display mode restored (main thread).
// The frame flags given while fullscreen take effect now.
void PlatWindowLeaveFullscreen(PlatWindow* w);
bool PlatWindowIsFullscreen(PlatWindow* w);

// ---- Calls on the main thread ----------------------------------------------------------------
// Runs fn(arg) on the main thread and returns once it ran: at once on the main thread (or when
// video is not started), else at the main thread's next event pump while the caller waits. The
// wait gives up, and fn is never run, when *abort becomes non-zero before fn starts. True when
// fn ran. The caller must hold no lock the main thread may take.
bool PlatCallOnMain(void (*fn)(void* arg), void* arg, const std::atomic<u8>* abort);
// Main thread, while it waits for another thread: runs the calls and window operations that
// thread may be waiting on (a dialog it asked for, say), and nothing else.
void PlatServeMainCalls();

// ---- Messages --------------------------------------------------------------------------------
enum PlatMsgKind : u32 {
  PLAT_MSG_QUIT = 1,       // the message loop ends (what PlatPostQuit asked for)
  PLAT_MSG_SYSTEM_QUIT,    // the system asks the program to end (a signal, the session ending)
  PLAT_MSG_POSTED,         // PlatPostMessage: code, a, b as posted
  PLAT_MSG_CLOSE_REQUEST,  // the user asks to close the window (its close button)
  PLAT_MSG_ACTIVATE,       // a = 1 the window became active, 0 it lost activation
  PLAT_MSG_PAINT,          // the window's contents must be drawn again
  PLAT_MSG_MOVE,           // a, b = new position
  PLAT_MSG_SIZE,           // a, b = new client size
  PLAT_MSG_MINIMIZE,
  PLAT_MSG_MAXIMIZE,
  PLAT_MSG_RESTORE,       // a = 1 when the window was minimised
  PLAT_MSG_DROP_FILES,    // a = count of paths (native, UTF-8) dropped on the window at once
  PLAT_MSG_MENU_COMMAND,  // a = the id of the item chosen from the window's menu bar
};
// Keyboard and mouse events go their own way (platform/input.h).

struct PlatMsg {
  u32 kind;
  PlatWindow* window;  // the window of a window message, else null
  void* user;          // its user pointer
  u32 code;            // PLAT_MSG_POSTED: the engine's own message number
  i64 a, b;
  const char* const* paths;  // PLAT_MSG_DROP_FILES
};
typedef void (*PlatMsgHandler)(const PlatMsg* m);

void PlatSetMessageHandler(PlatMsgHandler fn);
// Delivers every waiting message to the handler (main thread only). Returns the number delivered.
int PlatPollEvents();
// Queues an engine message for the main thread; false when video is not started.
bool PlatPostMessage(u32 code, i64 a, i64 b);
// True when the system asked the program to end: a quit signal arrived (any thread), or the
// session's quit event waits in the queue, where it stays for the message loop (main thread
// only; not seen when video is not started). For waits before the message loop runs.
bool PlatSystemQuitPending();
// Queues PLAT_MSG_QUIT; false when video is not started.
bool PlatPostQuit();

// Tests: queues a window message (PLAT_MSG_CLOSE_REQUEST to PLAT_MSG_RESTORE) as the system's
// own event, so the next PlatPollEvents translates it like a real one. False when it cannot.
bool PlatInjectEvent(PlatWindow* w, u32 kind, u32 code, i64 a, i64 b);
// Tests: queues a drop of these native paths on the window, as the system sends one.
bool PlatInjectDrop(PlatWindow* w, const std::vector<std::string>& paths);
