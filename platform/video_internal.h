// Inside the platform layer only: what the presentation and the window list need from each other.
#pragma once
#include <string>

#include "common/types.h"

struct PlatWindow;
struct SDL_Window;

// Main thread: the window shows a picture now, so an expose no longer paints it black.
void PlatWindowMarkPicture(PlatWindow* w);
// Main thread: the window is being destroyed; its copy goes with it.
void PlatPresentForget(PlatWindow* w);
// Main thread: the whole copy onto the window again (after an expose). False when the window was
// never presented.
bool PlatPresentRepaint(PlatWindow* w);
// The window of another program that the main window becomes (the screen saver's), as the
// screen: its position on the display and its size. False when there is none.
bool PlatForeignScreen(i32* x, i32* y, i32* width, i32* height);
// Any window's position on the display and its size, asked of the X server; false when it names
// no window or there is no X server.
bool PlatForeignWindowRect(u64 id, i32* x, i32* y, i32* width, i32* height);

// The record beside an instance lock (system.cpp, instance_x11.cpp): the holder writes it through
// its handle; anyone reads it by the lock's name (false when there is none). The window behind
// the recorded main window changed (a shape remade it), or a lock is let go: the record follows.
void PlatInstanceLockWrite(i32 handle, const std::string& text);
bool PlatInstanceLockRead(const char* name, std::string* out);
void PlatInstanceWindowChanged(PlatWindow* w);
void PlatInstanceLockForget(i32 handle);

// Modal loops of the engine's own dialogs and menus (main thread). One wait takes at most one
// event: calls handed to the main thread and window operations run at once, the engine windows'
// paints, moves and activations reach the engine as usual (unless fn returns false for one), and
// engine messages, close requests, drops and a quit are kept until PlatModalEnd queues them
// again. fn sees the rest (the modal windows' events and the input of every window), and also a
// quit and the engine windows' events.
union SDL_Event;
void PlatModalWait(i32 timeout_ms, bool (*fn)(const SDL_Event* e, void* ctx), void* ctx);
void PlatModalEnd();
// The SDL id belongs to an engine window (not a dialog's or a menu's).
bool PlatWindowIsEngine(u32 sdl_id);
// The window the engine's dialogs belong to: the game's main window while it shows (null while
// it is hidden or minimised, or when there is none).
SDL_Window* PlatDialogOwner();
// After a modal loop (main thread): the keys and the mouse buttons (SDL_BUTTON bits) that are no
// longer held count as released, whatever window their release went to; nothing is pressed.
void PlatInputReleaseLetGo(u32 sdl_buttons_held);

// X11 (window_x11.cpp), for any SDL window of the display; on other drivers false or -1.
// The pointer's buttons as the server has them, as SDL_BUTTON bits.
bool PlatX11ButtonsHeld(SDL_Window* any, u32* sdl_buttons);
// 1 when an EWMH window manager runs, 0 when none does.
int PlatX11WindowManager(SDL_Window* any);
// The same for a display connection of its own (a second start's, made before SDL's).
struct _XDisplay;
bool PlatX11ManagerRuns(_XDisplay* display);
// Stacks w right below sibling, or below every other window for a null sibling.
bool PlatX11StackBelow(SDL_Window* w, SDL_Window* sibling);
// Marks a window not yet shown as a dialog (_NET_WM_WINDOW_TYPE_DIALOG).
void PlatX11MarkDialog(SDL_Window* w);
// A framed window's maximise box, as the Motif hints that window managers take ask for it:
// without it the window can neither be maximised nor show the button.
void PlatX11SetMaximizeBox(SDL_Window* w, bool maximize, bool resizable);
// Marks (or unmarks) a window that the engine hid while it was minimised; the mark is read by
// a second start through a display connection of its own.
void PlatX11MarkHiddenMinimised(SDL_Window* w, bool on);
bool PlatX11HiddenMinimised(_XDisplay* display, unsigned long window);
// The one 32-bit item of a window's property of that type (format 32); false when it has none.
bool PlatX11PropertyLong(_XDisplay* display, unsigned long window, unsigned long property, unsigned long type,
                         unsigned long* value);
// The window manager's aspect hint: the size less base_height rows keeps width : height (0, 0
// takes the hint away).
void PlatX11SetAspect(SDL_Window* w, i32 width, i32 height, i32 base_height);

// Menu bars (menu.cpp and video.cpp). A destroyed menu leaves every window showing it as its bar
// (any thread). The window's bar: its menu, mode and the rows it takes above the client area
// (main thread; false for a window that does not exist).
void PlatWindowForgetMenuBar(u32 menu);
bool PlatWindowBarInfo(PlatWindow* w, u32* menu, i32* mode, i32* height);
i32 PlatWindowBarOffset(PlatWindow* w);
void PlatWindowDeliverMenuCommand(PlatWindow* w, u32 id);
// Tells the engine that the window became active or inactive (PLAT_MSG_ACTIVATE).
void PlatWindowDeliverActivate(PlatWindow* w, bool active);
// Draws the window's bar again (after its surface changed).
void PlatMenuBarRepaint(PlatWindow* w);
// A left button press at surface pixels (x, y) of the window: true when it fell on the bar, whose
// menus have then run.
bool PlatMenuBarMouseDown(PlatWindow* w, i32 x, i32 y);
// A key pressed with Alt in the window: true when it is the underlined letter of an item of the
// window's bar, whose menus have then run.
bool PlatMenuBarKey(PlatWindow* w, i32 keycode);
