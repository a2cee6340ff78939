// The engine's four windows (index 0 is the main window) and the handling of their messages.
// A WindowObject lives from start-up to the end of the run; its platform window may come and go.
// Fields and flags that the main thread writes and the frame thread reads (or the other way
// round) are atomics, so a threaded run shares them without a lock; the dropped-file list is
// the one piece of window state kept under g_EngineLock.
#pragma once
#include <atomic>
#include <vector>

#include "common/types.h"
#include "core/state.h"

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
// Where the client area lies inside the window's outer rectangle, whose corner is the position the
// window command places and the window query reports (main thread).
void WinClientOffset(WindowObject* w, i32* dx, i32* dy);
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
