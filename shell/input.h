// Input key table: per key the raw down byte, the state byte, the transition counter (1 on the
// press frame, then 2, 3, ...; -1 on the release frame, then -2, ...) and the press count,
// indexed by virtual-key code or pseudo key. Index 0 is the any-key; 1, 2, 4 the mouse buttons,
// 5 and 6 the wheel, 7 mouse movement; joystick j owns the 36 keys from 384 + 36 j (four
// directions, then 32 buttons). The poll (UI thread) writes only the down bytes, which are
// atomics; everything else belongs to the thread that runs frames.
#pragma once
#include <atomic>

#include "common/types.h"

struct PlatInputEvent;
struct WindowObject;

enum {
  INPUT_KEY_COUNT = 1024,
  INPUT_JOY_FIRST_KEY = 384,
  INPUT_JOY_KEYS = 36,
  INPUT_JOY_BUTTONS = 32,
  INPUT_JOY_MAX = 16,
};
enum { INPUT_STATE_UP = 0, INPUT_STATE_HELD = 2 };

// Pseudo keys.
enum {
  INPUT_KEY_ANY = 0,
  INPUT_KEY_LBUTTON = 1,
  INPUT_KEY_RBUTTON = 2,
  INPUT_KEY_MBUTTON = 4,
  INPUT_KEY_WHEEL_UP = 5,
  INPUT_KEY_WHEEL_DOWN = 6,
  INPUT_KEY_MOUSE_MOVED = 7,
};
// Offsets inside a joystick's 36 keys.
enum { INPUT_JOY_UP = 0, INPUT_JOY_DOWN = 1, INPUT_JOY_LEFT = 2, INPUT_JOY_RIGHT = 3, INPUT_JOY_BUTTON1 = 4 };

// Indexed by state + (down ? 1 : 0).
typedef void (*InputKeyHandler)(u32 key);

struct InputKeyTable {
  std::atomic<u8> down[INPUT_KEY_COUNT];  // 0x80 when down at the last sample
  u8 state[INPUT_KEY_COUNT];              // INPUT_STATE_UP or INPUT_STATE_HELD
  i64 counter[INPUT_KEY_COUNT];
  u64 presses[INPUT_KEY_COUNT];
  InputKeyHandler handlers[4];
};

extern InputKeyTable g_InputKeyTable;

// One joystick as the last update read it.
struct InputJoyRecord {
  u32 x, y, buttons;
  u8 ok;  // the read succeeded (a joystick sits in this slot)
};

extern std::atomic<i32> g_InputActiveWindow;  // the first active window, -1 none
extern u8 g_InputKeyboardOn, g_InputJoystickOn, g_InputMouseOn;  // command 50; all 1
extern u8 g_JoystickPresent;                  // set at start-up
extern i32 g_InputJoystickCount;              // at most INPUT_JOY_MAX
extern InputJoyRecord g_InputJoy[INPUT_JOY_MAX];

// The cursor: shown and the pending operation may be changed from any thread (the error dialog).
enum { INPUT_CURSOR_OP_NONE = 0, INPUT_CURSOR_OP_SHOW = 1, INPUT_CURSOR_OP_HIDE = 2 };
enum { INPUT_CURSOR_HIDDEN = 0, INPUT_CURSOR_AUTO_HIDE = 1, INPUT_CURSOR_SHOWN = 2 };
extern std::atomic<u8> g_CursorShown;         // 1
extern std::atomic<u8> g_CursorOp;            // INPUT_CURSOR_OP_...
extern u8 g_CursorAutoHide;                   // 1
extern u8 g_CursorMode;                       // INPUT_CURSOR_...; auto-hide at start
extern i32 g_CursorHideDelay;                 // ms, 2500
extern i32 g_CursorHotX, g_CursorHotY;        // hot spot of a cursor made from a layer

// ---- Keys ------------------------------------------------------------------------------------
// Installs the four key handlers and the receiver of the platform's input events (the window
// procedure's WinOnInputEvent, which ends in InputOnPlatformEvent).
void InputInstallKeyCallbacks();
void InputKeyDec(u32 key);      // up, was up
void InputKeyPress(u32 key);    // down, was up
void InputKeyRelease(u32 key);  // up, was held
void InputKeyInc(u32 key);      // down, was held
// Checked access for callers holding a key number from a script or a file: 0 outside the table.
bool InputKeyValid(i64 key);
i64 InputKeyCounter(i64 key);
u64 InputKeyPresses(i64 key);

// ---- Once per turn and once per frame --------------------------------------------------------
// UI thread, every idle turn: the keyboard of the active window and every window's cursor.
void InputPoll();
// Once per frame: the key transitions, joysticks, the cursor auto-hide.
void InputUpdate();
// The mouse and keyboard rows of the window messages: movement and the wheel for the update.
void InputOnPlatformEvent(const PlatInputEvent* e);
// Start-up: the joystick slots; 1 when joysticks can be read.
i32 InputJoystickInit();
void InputPollJoysticks();

// ---- Cursor ----------------------------------------------------------------------------------
// When the engine has hidden the cursor: stop the main window's timer and show it again.
void InputForceCursorVisible();
// Carries out the pending show or hide.
void InputApplyCursorVisibility();
// A cursor position in game pixels of window w as a point in its client area, and back.
void InputGameToClient(const WindowObject* w, i32 gx, i32 gy, i32* cx, i32* cy);
void InputClientToGame(const WindowObject* w, i32 cx, i32 cy, i32* gx, i32* gy);

// ---- Commands --------------------------------------------------------------------------------
// Decoded arguments of commands 50 and 70: per parameter whether it was given and its value.
enum { INPUT_CMD_PARAMS = 11 };
struct InputCmdArgs {
  u8 given[INPUT_CMD_PARAMS];
  i64 value[INPUT_CMD_PARAMS];
  const char* layer;  // command 70 parameter 10 (Shift-JIS)
};
// Command 50: 0 keyboard, 1 joysticks, 2 mouse processing on or off.
i32 InputProcessingSet(const InputCmdArgs* a);
// Command 70: 0 cursor mode, 1 auto-hide delay, 2-4 the main window's gates (move, buttons,
// wheel), 5-6 cursor position in game pixels, 7 standard cursor, 8-9 hot spot, 10 layer cursor.
i32 InputCursorSet(const InputCmdArgs* a);
// The cursor made from a layer's picture with its hot spot (cursor command parameter 10). A missing
// layer does nothing; a picture the system cannot show as a cursor shows a message and leaves the
// cursor unchanged (-1).
i32 InputCursorFromLayer(const char* layer_name, i32 hot_x, i32 hot_y);

// Tests: every key up, counters and press counts 0 (the handlers are kept).
void InputKeyTableReset();
// Tests: the key table and every input global back to their start-up values.
void InputReset();
