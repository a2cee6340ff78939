// Video and the event pump: SDL start-up, the desktop, windows and the messages they produce.
// Windows are created, destroyed and pumped on the main thread (the thread that called
// PlatVideoInit); PlatWindowShow, PlatPostMessage and PlatPostQuit may be called from any
// thread and take effect when the main thread next pumps. Input, presentation, fonts and audio
// add their own headers beside this one and deliver their events through the same pump.
#pragma once
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
  i32 width, height;   // desktop resolution of the first display
  i32 bits_per_pixel;  // colour depth as the display reports it (a 24-bit desktop reports 24)
  i32 refresh_hz;      // 0 when unknown
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

// ---- Windows ---------------------------------------------------------------------------------
struct PlatWindow;

enum {
  PLAT_WINDOW_FRAMED = 1,     // caption and border; else a borderless popup
  PLAT_WINDOW_RESIZABLE = 2,  // a thick frame the user can drag
  PLAT_WINDOW_TOPMOST = 4,
  PLAT_WINDOW_SHOWN = 8,      // visible at once; else hidden until PlatWindowShow
};
enum { PLAT_WINDOW_CENTERED = -0x7FFF };

struct PlatWindowDesc {
  const char* title;  // Shift-JIS
  i32 x, y;           // client position on the desktop, or PLAT_WINDOW_CENTERED
  i32 width, height;  // client size
  u32 flags;
  void* user;         // handed back with every message of the window
};
// Null when video is not started or SDL refuses the window.
PlatWindow* PlatWindowCreate(const PlatWindowDesc* desc);
void PlatWindowDestroy(PlatWindow* w);
void PlatWindowShow(PlatWindow* w, bool show);
bool PlatWindowShown(PlatWindow* w);
void PlatWindowSetTitle(PlatWindow* w, const char* title_sjis);
void* PlatWindowUser(PlatWindow* w);
// Fills the client area with black (what a window shows before its first picture).
void PlatWindowPaintBlack(PlatWindow* w);
// Number of windows alive (tests).
int PlatWindowCount();
// For the other platform files: the SDL window behind a window and the window with an SDL id;
// null for a window that does not exist (any more).
struct SDL_Window;
SDL_Window* PlatWindowSdl(PlatWindow* w);
PlatWindow* PlatWindowFromSdlId(u32 id);

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
  PLAT_MSG_RESTORE,
};

struct PlatMsg {
  u32 kind;
  PlatWindow* window;  // the window of a window message, else null
  void* user;          // its user pointer
  u32 code;            // PLAT_MSG_POSTED: the engine's own message number
  i64 a, b;
};
typedef void (*PlatMsgHandler)(const PlatMsg* m);

void PlatSetMessageHandler(PlatMsgHandler fn);
// Delivers every waiting message to the handler (main thread only). Returns the number delivered.
int PlatPollEvents();
// Queues an engine message for the main thread; false when video is not started.
bool PlatPostMessage(u32 code, i64 a, i64 b);
// Queues PLAT_MSG_QUIT; false when video is not started.
bool PlatPostQuit();
