// The engine's four windows (index 0 is the main window) and the handling of their messages.
// A WindowObject lives from start-up to the end of the run; its platform window may come and go.
// Fields and flags that the main thread writes and the frame thread reads (or the other way
// round) are atomics, so a threaded run shares them without a lock; the dropped-file list is
// the one piece of window state kept under g_EngineLock.
#pragma once
#include <atomic>
#include <vector>

#include "common/types.h"

struct ObjNode;
struct PlatWindow;
struct PlatMsg;
struct PlatInputEvent;

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
  WIN_MSG_CLOSE = 0x0010,           // WM_CLOSE, a = window index
  WIN_MSG_COMMAND = 0x0111,         // WM_COMMAND, a = command id, b = window index or WIN_TARGET_COMMAND
  WIN_MSG_MCI_NOTIFY = 0x03B9,      // MM_MCINOTIFY, a = the notification (1 = finished successfully)
  WIN_MSG_TRAY = 0x040A,            // WM_USER + 10 from the tray icon: a = icon id, b = mouse message
  WIN_MSG_SHOW = 0x0464,            // the engine's own: show window a (ShowWindow from any thread)
  WIN_MSG_MCI_NOTIFY_ALT = 0x04C8,  // the movie player's second notification number, as MM_MCINOTIFY
  WIN_MSG_GRAPH_EVENT = 0x8001,     // WM_APP + 1: the movie graph has events waiting
};
enum { WIN_TARGET_COMMAND = -1 };  // the hidden command window "zpMncl"

// System commands (WM_SYSCOMMAND numbers) and the system-menu item of the main window.
enum {
  WIN_SC_SIZE_RESET = 30001,  // "ウィンドウサイズ初期化"
  WIN_SC_MINIMIZE = 0xF020,
  WIN_SC_MAXIMIZE = 0xF030,
  WIN_SC_CLOSE = 0xF060,
  WIN_SC_RESTORE = 0xF120,
  WIN_SC_SCREENSAVE = 0xF140,
};

// Window styles (WS_ numbers) as WinGetStyle reports them and WinSetStyle takes them.
enum : u32 {
  WIN_WS_POPUP = 0x80000000u,
  WIN_WS_VISIBLE = 0x10000000u,
  WIN_WS_CLIPCHILDREN = 0x02000000u,
  WIN_WS_CAPTION = 0x00C00000u,
  WIN_WS_SYSMENU = 0x00080000u,
  WIN_WS_THICKFRAME = 0x00040000u,
  WIN_WS_MINIMIZEBOX = 0x00020000u,
  WIN_WS_MAXIMIZEBOX = 0x00010000u,
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
extern std::atomic<u32> g_LastKeyDown;      // virtual key of the last key press
extern std::atomic<u8> g_MouseMoved;        // 0x80 after a mouse move, cleared by the input update
extern std::atomic<u32> g_MouseButtonDown;  // the last button pressed: 1 left, 2 right, 4 middle
extern std::atomic<i16> g_WheelDelta;       // the last wheel turn, 120 per step
// Requests the scripts read and clear: window index + 1, 0 for none.
extern std::atomic<u32> g_CloseRequested;   // the close button, with close state 0
extern std::atomic<u32> g_MaximiseRequested;
extern std::atomic<u32> g_MinimiseRequested;
extern std::atomic<u32> g_CaptionDoubleClicked;
// A press on the drag map: the window (index + 1) the system is moving, and where it started
// (x in the low 16 bits, y in the high 16 bits, client pixels).
extern std::atomic<u8> g_DragWindow;
extern std::atomic<u32> g_DragLParam;
extern i32 g_MonitorIndex;                  // display device holding the main window, per move
extern i32 g_MenuBarHeight;

// The picture a shaped window takes its shape from: 32-bit pixels, rows top-down, every alpha
// byte 255, so only opaque black (0xFF000000) lies outside the shape.
struct WinShapeBitmap {
  u32* pixels;
  i32 width, height;
};
extern WinShapeBitmap g_ShapeBitmap;

// Files dropped on a window: paths in the Windows spelling (Shift-JIS, "\" between names), a
// folder ending in "\". Guarded by g_EngineLock.
enum { WIN_DROP_PATH_SIZE = 521 };
struct WinDropList {
  i32 count;
  char** names;  // count heap strings of WIN_DROP_PATH_SIZE bytes
};
extern WinDropList g_DroppedFiles;

// The hidden command window "zpMncl": on this platform an internal message target as wide as
// the main game screen and one menu bar high, which keeps the last menu command.
struct WinCommandWindow {
  u8 created;
  i32 width, height;
};
extern WinCommandWindow g_CommandWindow;

// ---- Objects and creation --------------------------------------------------------------------
// Marks all four windows not open, allocates (once) and initialises the four objects. Returns
// 0, or -1 when an allocation fails.
i32 WinObjsCreate();
void WinObjInit(WindowObject* w, i32 index);
// Prepares a window's screen for its size and title (both already in the object for the main
// window; the title may be the object's own title).
void WinObjSetupScreen(WindowObject* w, const char* title);
// Creates the platform window: a borderless popup for an unframed main window, else framed
// (resizable for the main window when the project says so); the main window and unframed ones
// are centred in the desktop's work area, sub windows start at 0, 0. 1 created, 0 failed.
i32 WinCreate(WindowObject* w, const char* class_name, const char* title);
// The window's title and menu name, cut at a whole Shift-JIS character to their buffers; an
// open window shows the new title.
void WinSetTitle(WindowObject* w, const char* title);
void WinSetMenuName(WindowObject* w, const char* name);
// Frame styles: WIN_WS_ bits of the window as it is now, and a change of them.
u32 WinGetStyle(WindowObject* w);
void WinSetStyle(WindowObject* w, u32 style);
// What the frame adds to the client area for the window's current styles.
void WinRectFromClient(WindowObject* w, i32* extra_width, i32* extra_height);
// Flashes the window: count 0 stops. 0, or -1 when the system cannot flash windows.
i32 WinFlash(WindowObject* w, i32 count, i32 timeout_ms);
// Applies the object's opacity (0 to 256, capped at 255) to its window. -1, after a plain
// message box, when the system cannot make windows translucent.
i32 WinApplyOpacity(WindowObject* w);

// ---- Shapes ----------------------------------------------------------------------------------
enum { WIN_REGION_MAX_RECTS = 2000 };
// The region of a shape bitmap: one rectangle per run of pixels that are not 0xFF000000, row by
// row from the top, each [x1, x2) x [y, y + 1). Returns the count, or -1 (out left empty) when
// the region would need WIN_REGION_MAX_RECTS rectangles or more.
i32 WinRegionFromBitmap(const WinShapeBitmap* bitmap, std::vector<WinRect>* out);
// Shapes the window after a picture (B, G, R, A bytes, rows top-down, width * 4 per row): the
// picture becomes g_ShapeBitmap with every alpha byte 255, its region the window's shape.
// -1 when the bitmap or the region cannot be made, or the system cannot shape the window.
i32 WinSetShapeFromImage(WindowObject* w, const u8* pixels, i32 width, i32 height);

// ---- Messages --------------------------------------------------------------------------------
// The handler of every platform message (the window procedure of every engine window).
void WinMainDispatch(const PlatMsg* m);
// Dispatches every waiting message (main thread).
void WinDispatchMessages();
// The system-menu commands. Returns 1 when the command is swallowed, 0 when the system's own
// handling follows (for minimise and maximise, which this platform reports after they
// happened, "swallowed" takes them back).
i32 WinOnSysCommand(WindowObject* w, u32 command);
// What a close does (WM_CLOSE and WM_DESTROY): not open, platform window destroyed, and unless
// the close state is WIN_CLOSE_ONLY the quit flag and the end of the message loop.
void WinClose(WindowObject* w);
// The keyboard and mouse rows of the window procedure (the platform's input receiver): the last
// key pressed, the last button pressed and a press on the drag map; then the input module.
void WinOnInputEvent(const PlatInputEvent* e);
// A key press (WM_KEYDOWN, or WM_SYSKEYDOWN when system_key is set: F10, Alt, or a key with
// Alt held). Returns 1 when the key is swallowed (F10 and Alt as system keys).
i32 WinOnKeyDown(WindowObject* w, u32 vk, bool system_key);
// Files dropped on the window at once (native paths): the previous list is replaced.
void WinOnDropFiles(WindowObject* w, const char* const* paths, i32 count);
// The window is minimised (as its messages last said).
i32 WinIsIconic(const WindowObject* w);
// Minimises the window for the window command: not a request of the player, so neither reported
// to the scripts nor refused by the minimise option.
void WinMinimizeByScript(WindowObject* w);
// The drag request of a press on the drag map, once a frame from the input update: the system
// moves the window from the press on, so the request only needs clearing.
void WinPostDragRequest();

// ---- Dropped files (for the system variables) -------------------------------------------------
i32 WinDroppedFileCount();
// Copies entry i into buf (cut at a whole character); 0, or -1 (buf empty) beyond the count.
i32 WinDroppedFileCopy(i32 i, char* buf, size_t buf_size);
void WinDroppedFilesClear();

// ---- Command window --------------------------------------------------------------------------
i32 WinCommandCreate();
void WinCommandDestroy();
// WM_COMMAND keeps the low word of wparam in g_MenuCommandId; WM_SYSCOMMAND SC_CLOSE is
// swallowed. Returns 1 when the message was handled here, 0 for the default.
i32 WinCommandProc(u32 message, u64 wparam);

// Destroys every platform window still open (shutdown of a start-up that stopped half-way).
void WinDestroyAll();
// Tests: frees the objects and clears the window state.
void WinReset();
