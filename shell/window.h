// The engine's four windows (index 0 is the main window) and the handling of their messages.
// A WindowObject lives from start-up to the end of the run; its platform window may come and go.
// Fields that the main thread writes and the frame thread reads (or the other way round) are
// atomics, so a threaded run shares them without a lock.
#pragma once
#include <atomic>

#include "common/types.h"

struct ObjNode;
struct PlatWindow;
struct PlatMsg;

enum { WIN_COUNT = 4, WIN_TITLE_MAX = 263, WIN_MENU_NAME_MAX = 256, WIN_SPARE_BYTES = 100 };

// Close state: what the close button does.
enum {
  WIN_CLOSE_TELL_SCRIPT = 0,  // the script sees the request and decides
  WIN_CLOSE_CONFIRM = 1,      // ask the player first
  WIN_CLOSE_QUIT = 2,         // close and end the program
  WIN_CLOSE_ONLY = 3,         // close the window without ending the program
};

// Engine messages posted through the platform's queue (the Windows numbers they stand for).
enum {
  WIN_MSG_CLOSE = 0x0010,    // WM_CLOSE, a = window index
  WIN_MSG_COMMAND = 0x0111,  // WM_COMMAND, a = command id
  WIN_MSG_SHOW = 0x0464,     // the engine's own: show window a (ShowWindow from any thread)
};

// The header of a window's screen buffer, as the presentation describes its picture.
struct WinBitmapHeader {
  u32 size;  // 40
  i32 width, height;
  u16 planes, bit_count;  // 1, 32
  u32 compression, size_image;
  i32 x_pels_per_meter, y_pels_per_meter;
  u32 colours_used, colours_important;
};

struct WinRect {
  i32 left, top, right, bottom;
};

struct WindowObject {
  i32 index;                        // 0 to 3
  i32 x, y;                         // window position on the desktop
  i32 width, height;                // size of the game screen
  i32 opacity;                      // 256 after set-up
  u8 show_after_first_frame;
  u8 class_registered;
  std::atomic<u8> close_state;      // WIN_CLOSE_...
  u8 maximise_acts;
  u8 minimise_allowed;
  char title[WIN_TITLE_MAX];        // Shift-JIS
  ObjNode* root_layer;
  char menu_name[WIN_MENU_NAME_MAX];
  u8 has_drawn;
  u8 spare[WIN_SPARE_BYTES];        // zero-filled by set-up, its first u32 = 100
  WinRect client;                   // 0, 0, width, height
  PlatWindow* handle;
  std::atomic<u8> active;           // the window is active
  std::atomic<i32> cursor_x, cursor_y;  // cursor in game pixels
  std::atomic<u8> outside_screen, outside_extended;
  u8 move_shows_cursor, button_shows_cursor, wheel_shows_cursor;
  std::atomic<u8> cursor_timer_running;  // also stopped by the error dialog's thread
  u32 cursor_timer_start;
  WinBitmapHeader screen_header;
};

extern WindowObject* g_WindowObjects[WIN_COUNT];
// -1 for a window that is not open, 1 for an open one.
extern std::atomic<i32> g_WindowOpen[WIN_COUNT];
extern std::atomic<u32> g_MenuCommandId;    // the last menu command id
extern std::atomic<u8> g_MouseMoved;        // 0x80 after a mouse move, cleared by the input update
extern std::atomic<i16> g_WheelDelta;
extern std::atomic<u8> g_CloseRequested;    // the close button was pressed with close state 0

// Marks all four windows not open, allocates (once) and initialises the four objects. Returns
// 0, or -1 when an allocation fails.
i32 WinObjsCreate();
void WinObjInit(WindowObject* w, i32 index);
// Prepares a window's screen for its size and title (both already in the object for the main
// window; the title may be the object's own title).
void WinObjSetupScreen(WindowObject* w, const char* title);
// Creates the platform window, centred in the desktop's work area. 1 created, 0 failed.
i32 WinCreate(WindowObject* w, const char* class_name, const char* title);
// Closes the window at once (what WM_CLOSE does): not open, platform window destroyed, and for
// the main window the end of the message loop unless its close state is WIN_CLOSE_ONLY.
void WinClose(WindowObject* w);
// Returns 1 when the close request was swallowed (the window stays), 0 when the window closes.
i32 WinOnCloseRequest(WindowObject* w);
// The handler of every platform message.
void WinMainDispatch(const PlatMsg* m);
// Dispatches every waiting message (main thread).
void WinDispatchMessages();
// Destroys every platform window still open (shutdown of a start-up that stopped half-way).
void WinDestroyAll();

// Tests: frees the objects and clears the window state.
void WinReset();
