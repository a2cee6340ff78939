// Input key table: per key the raw down byte, the state byte, the transition counter (1 on the
// press frame, then 2, 3, ...; -1 on the release frame, then -2, ...) and the press count,
// indexed by virtual-key code or pseudo key. Index 0 is the any-key; 1, 2, 4 the mouse buttons,
// 5 and 6 the wheel, 7 mouse movement; joystick j owns the 36 keys from 384 + 36 j (four
// directions, then 32 buttons). The poll (UI thread) writes only the down bytes, which are
// atomics; everything else belongs to the thread that runs frames.
#pragma once
#include <atomic>

#include "common/types.h"
#include "core/state.h"
#include "script/cmdargs.h"

struct PlatInputEvent;
struct WindowObject;

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
// Command 50: 0 keyboard, 1 joysticks, 2 mouse processing on or off.
i32 InputProcessingSet(const CmdArgRecord* a);
// Command 70: 0 cursor mode, 1 auto-hide delay, 2-4 the main window's gates (move, buttons,
// wheel), 5-6 cursor position in game pixels, 7 standard cursor, 8-9 hot spot, 10 layer cursor.
i32 InputCursorSet(const CmdArgRecord* a);
// The cursor made from a layer's picture with its hot spot (cursor command parameter 10). A missing
// layer does nothing; a picture the system cannot show as a cursor shows a message and leaves the
// cursor unchanged (-1).
i32 InputCursorFromLayer(const char* layer_name, i32 hot_x, i32 hot_y);

// Tests: every key up, counters and press counts 0 (the handlers are kept).
void InputKeyTableReset();
// Tests: the key table and every input global back to their start-up values.
void InputReset();
