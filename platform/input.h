// Keyboard, mouse, joysticks and the mouse cursor in the engine's own (Windows) terms: keys are
// virtual-key numbers, the mouse buttons are the virtual keys 1 (left), 2 (right) and 4
// (middle), a wheel step is 120, a joystick axis runs 0..65535 with its centre at 32767. SDL
// events come in through PlatInputHandleSdlEvent (one call from the event pump); the state they
// leave is read back by the engine's input poll. Cursor calls may come from any thread: SDL is
// only touched on the main thread, so calls from elsewhere wait for the next PlatInputSync.
#pragma once
#include "common/types.h"

union SDL_Event;
struct PlatWindow;

// ---- Events ----------------------------------------------------------------------------------
enum PlatInputKind : u32 {
  PLAT_INPUT_KEY_DOWN = 1,  // vk; repeat set for the system's auto-repeat of a held key
  PLAT_INPUT_KEY_UP,        // vk
  PLAT_INPUT_BUTTON_DOWN,   // vk 1, 2 or 4; x, y
  PLAT_INPUT_BUTTON_UP,     // vk 1, 2 or 4; x, y
  PLAT_INPUT_MOUSE_MOVE,    // x, y
  PLAT_INPUT_WHEEL,         // wheel: +120 per step away from the user, -120 towards
};

struct PlatInputEvent {
  u32 kind;
  PlatWindow* window;  // the window the event happened in; null when it is not one of ours
  void* user;          // that window's user pointer
  u32 vk;
  u8 repeat;
  i32 x, y;  // the cursor in the window's client pixels
  i32 wheel;
};
typedef void (*PlatInputHandler)(const PlatInputEvent* e);

// The engine's receiver of every input event (after the state below has been updated).
void PlatInputSetHandler(PlatInputHandler fn);
// The event pump hands every SDL event here. Returns true when it was an input event (the
// keyboard, the mouse or a joystick coming or going); the caller then has nothing left to do.
bool PlatInputHandleSdlEvent(const SDL_Event* e);
// Takes one event as if the system had sent it: the state is updated, the handler called.
void PlatInputFeed(const PlatInputEvent* e);

// ---- Keyboard and mouse state ----------------------------------------------------------------
// The virtual key of an SDL scancode and keycode, 0 for a key the engine has no number for.
// Letters follow the keyboard layout (the keycode); every other key its position (the scancode).
u8 PlatInputVkFromKey(i32 sdl_scancode, i32 sdl_keycode);
// GetKeyboardState's layout: out[vk] = 0x80 for every key and mouse button held now, 0 else.
// VK_SHIFT, VK_CONTROL and VK_MENU are held when either of their left and right keys is.
void PlatInputKeyboardState(u8 out[256]);
// Every key and button counts as released from now on (until it is pressed again).
void PlatInputKeyboardReset();
// The cursor in a window's client pixels (it may lie outside the window). False when the
// position is not known for that window.
bool PlatInputCursorClient(PlatWindow* w, i32* x, i32* y);
// The cursor in desktop pixels. Main thread only; false elsewhere or without a display.
bool PlatInputCursorScreen(i32* x, i32* y);
// Moves the cursor to a point in a window's client pixels.
void PlatInputWarpCursor(PlatWindow* w, i32 x, i32 y);

// ---- Cursor ----------------------------------------------------------------------------------
// The engine's standard cursors, in the numbers of the cursor command.
enum {
  PLAT_CURSOR_ARROW = 0,
  PLAT_CURSOR_IBEAM = 1,
  PLAT_CURSOR_WAIT = 2,
  PLAT_CURSOR_CROSS = 3,
  PLAT_CURSOR_UPARROW = 4,
  PLAT_CURSOR_SIZENWSE = 5,
  PLAT_CURSOR_SIZENESW = 6,
  PLAT_CURSOR_SIZEWE = 7,
  PLAT_CURSOR_SIZENS = 8,
  PLAT_CURSOR_SIZEALL = 9,
  PLAT_CURSOR_NO = 10,
  PLAT_CURSOR_HAND = 11,
  PLAT_CURSOR_APPSTARTING = 12,
  PLAT_CURSOR_HELP = 13,
  PLAT_CURSOR_COUNT = 14,
};
void PlatInputShowCursor(bool show);
bool PlatInputCursorShown();
// Any number outside the table is the arrow; a shape the system lacks is shown as the arrow.
void PlatInputSetCursorShape(i32 shape);
i32 PlatInputCursorShape();
// A cursor made from a picture (B, G, R, A bytes, rows top-down; 1 to 256 pixels each way) with its
// hot spot, kept clamped inside the picture. It becomes the shape PLAT_CURSOR_IMAGE until another
// shape is set. 0, or -1 for a size the system cannot show (the cursor stays as it was).
enum { PLAT_CURSOR_IMAGE = PLAT_CURSOR_COUNT, PLAT_CURSOR_IMAGE_MAX = 256 };
i32 PlatInputSetCursorImage(const u8* bgra, i32 width, i32 height, i32 hot_x, i32 hot_y);
// The picture of the image cursor as set (tests): its size and hot spot; null when none.
const u8* PlatInputCursorImage(i32* width, i32* height, i32* hot_x, i32* hot_y);

// ---- Joysticks -------------------------------------------------------------------------------
enum { PLAT_JOY_MAX = 16, PLAT_JOY_BUTTONS = 32, PLAT_JOY_CENTRE = 32767 };

// One joystick as the engine reads it.
struct PlatJoyState {
  u32 x, y;     // 0 left / up .. 65535 right / down; a stick at rest reads PLAT_JOY_CENTRE
  u32 buttons;  // bit i = button i + 1
};
// Starts the joysticks (main thread, after video). Returns the number of joystick slots the
// engine may read (PLAT_JOY_MAX), or 0 when the system offers no joysticks.
i32 PlatInputJoystickStart();
// Reads slot 0..PLAT_JOY_MAX-1 as of the last PlatInputSync. False, with a centred state and
// no buttons, when no joystick sits in that slot.
bool PlatInputJoystickRead(i32 slot, PlatJoyState* out);
// SDL's raw axis value (-32768..32767, 0 at rest) in the engine's range.
u32 PlatInputJoystickAxis(i16 raw);

// ---- Main thread -----------------------------------------------------------------------------
// Once per idle turn on the main thread: carries out the cursor calls made from other threads,
// reads the joysticks and the cursor position.
void PlatInputSync();
// Closes the joysticks and forgets the cursors (before SDL stops).
void PlatInputStop();

// ---- Tests -----------------------------------------------------------------------------------
// Back to the state before start-up: nothing held, cursor shown as the arrow, no joysticks.
void PlatInputReset();
// Makes a slot report a joystick with these raw SDL values (connected false: an empty slot).
// From the first call on, PlatInputJoystickStart offers PLAT_JOY_MAX slots without SDL.
void PlatInputJoystickInject(i32 slot, bool connected, i16 raw_x, i16 raw_y, u32 buttons);
