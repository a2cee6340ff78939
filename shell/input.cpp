// Input: the key table and its once-a-frame transitions, the cursor position per window in game
// pixels, joysticks as pseudo keys, the cursor auto-hide, and commands 50 and 70. A handler runs
// with the down byte the update decided on, so a poll that overwrites the down bytes meanwhile
// (UI thread, threaded mode) can never make a key skip its press or its release; and a key that
// went down since the last update counts as down once, so a tap shorter than a frame is seen.
#include "shell/input.h"

#include <algorithm>
#include <climits>
#include <string>

#include "core/err.h"
#include "core/obj.h"
#include "display/gpu.h"
#include "display/present.h"
#include "layer/layer.h"
#include "platform/input.h"
#include "platform/platform.h"
#include "script/save.h"
#include "shell/frame.h"
#include "shell/menu.h"
#include "shell/window.h"
#include "sound/movie.h"

// Keys and buttons pressed since the update last looked (UI thread sets, frame thread takes).
static std::atomic<u8> s_PressedSince[256];

// The keyboard keys the update reads, in the order it reads them.
static const struct {
  u8 first, last;
} s_KeyboardRanges[] = {
    {0x08, 0x09}, {0x0D, 0x0D}, {0x10, 0x13}, {0x1B, 0x1B}, {0x20, 0x28}, {0x2C, 0x39}, {0x41, 0x5A},
    {0x60, 0x87}, {0x90, 0x91}, {0xA0, 0xA5}, {0xBA, 0xC0}, {0xDB, 0xDE}, {0xE2, 0xE2},
};

// ---- Keys ------------------------------------------------------------------------------------

void InputKeyDec(u32 key) { g_InputKeyTable.counter[key]--; }

void InputKeyPress(u32 key) {
  g_InputKeyTable.counter[key] = 1;
  g_InputKeyTable.state[key] = INPUT_STATE_HELD;
  g_InputKeyTable.presses[key]++;
}

void InputKeyRelease(u32 key) {
  g_InputKeyTable.counter[key] = -1;
  g_InputKeyTable.state[key] = INPUT_STATE_UP;
}

void InputKeyInc(u32 key) { g_InputKeyTable.counter[key]++; }

void InputInstallKeyCallbacks() {
  g_InputKeyTable.handlers[0] = InputKeyDec;
  g_InputKeyTable.handlers[1] = InputKeyPress;
  g_InputKeyTable.handlers[2] = InputKeyRelease;
  g_InputKeyTable.handlers[3] = InputKeyInc;
  // The window procedure's key and mouse rows come first; they hand over to InputOnPlatformEvent.
  PlatInputSetHandler(WinOnInputEvent);
}

bool InputKeyValid(i64 key) { return key >= 0 && key < INPUT_KEY_COUNT; }

i64 InputKeyCounter(i64 key) { return InputKeyValid(key) ? g_InputKeyTable.counter[key] : 0; }

u64 InputKeyPresses(i64 key) { return InputKeyValid(key) ? g_InputKeyTable.presses[key] : 0; }

// Stores the down byte and runs the handler that the state and that byte select.
static void RunKey(u32 key, u8 down) {
  InputKeyTable& t = g_InputKeyTable;
  t.down[key].store(down, std::memory_order_relaxed);
  u32 held = t.state[key] != INPUT_STATE_UP ? 2 : 0;
  InputKeyHandler h = t.handlers[held + (down ? 1 : 0)];
  if (h) h(key);
}

static u8 Down(u32 key) { return g_InputKeyTable.down[key].load(std::memory_order_relaxed); }

// The down byte of a key or button, counting a press that came and went since the last update.
static u8 DownOrPressed(u32 key) {
  u8 pressed = s_PressedSince[key].exchange(0, std::memory_order_relaxed);
  return pressed ? 0x80 : Down(key);
}

static void ForgetPresses() {
  for (std::atomic<u8>& p : s_PressedSince) p.store(0, std::memory_order_relaxed);
}

// ---- Cursor position -------------------------------------------------------------------------

static i64 FloorDiv(i64 a, i64 b) {
  i64 q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// Only the main window is scaled and placed inside its client area.
static bool Scaled(const WindowObject* w, SizeI32 output) {
  return w->index == 0 && output.width > 0 && output.height > 0 && w->width > 0 && w->height > 0;
}

void InputClientToGame(const WindowObject* w, i32 cx, i32 cy, i32* gx, i32* gy) {
  const SizeI32 output = g_OutputSize.load();
  i64 x = cx, y = cy;
  if (w->index == 0) {
    const PointI32 offset = g_OutputOffset.load();
    x -= offset.x;
    y -= offset.y;
  }
  if (Scaled(w, output)) {
    // Rounded down, so a point just left of the picture stays outside it.
    x = FloorDiv(x * w->width, output.width);
    y = FloorDiv(y * w->height, output.height);
  }
  *gx = static_cast<i32>(std::clamp<i64>(x, INT_MIN, INT_MAX));
  *gy = static_cast<i32>(std::clamp<i64>(y, INT_MIN, INT_MAX));
}

void InputGameToClient(const WindowObject* w, i32 gx, i32 gy, i32* cx, i32* cy) {
  const SizeI32 output = g_OutputSize.load();
  i64 x = gx, y = gy;
  if (Scaled(w, output)) {
    x = FloorDiv(x * output.width, w->width);
    y = FloorDiv(y * output.height, w->height);
  }
  if (w->index == 0) {
    const PointI32 offset = g_OutputOffset.load();
    x += offset.x;
    y += offset.y;
  }
  *cx = static_cast<i32>(std::clamp<i64>(x, INT_MIN, INT_MAX));
  *cy = static_cast<i32>(std::clamp<i64>(y, INT_MIN, INT_MAX));
}

static void PollCursor(WindowObject* w) {
  i32 cx, cy;
  if (!w->handle || !PlatInputCursorClient(w->handle, &cx, &cy)) {
    w->cursor_x = 0;
    w->cursor_y = 0;
    w->outside_screen = 1;
    w->outside_extended = 1;
    return;
  }
  i32 x, y;
  InputClientToGame(w, cx, cy, &x, &y);
  w->cursor_x = x;
  w->cursor_y = y;
  bool outside = x < 0 || y < 0 || x > w->width - 1 || y > w->height - 1;
  // The extended area adds the letterbox bands around the picture, in game pixels.
  i64 mx = 0, my = 0;
  const SizeI32 output = g_OutputSize.load();
  if (Scaled(w, output)) {
    const PointI32 offset = g_OutputOffset.load();
    mx = static_cast<i64>(offset.x) * w->width / output.width;
    my = static_cast<i64>(offset.y) * w->height / output.height;
  }
  bool outside_ext = x < -mx || y < -my || x > w->width - 1 + mx || y > w->height - 1 + my;
  w->outside_screen = outside ? 1 : 0;
  w->outside_extended = outside && outside_ext ? 1 : 0;
}

void InputPoll() {
  PlatInputSync();
  i32 sx, sy;
  if (PlatInputCursorScreen(&sx, &sy)) g_CursorScreenPos = PointI32{sx, sy};
  i32 active = -1;
  for (i32 i = 0; i < WIN_COUNT && active < 0; i++)
    if (g_WindowObjects[i] && g_WindowObjects[i]->active) active = i;
  g_InputActiveWindow = active;
  if (active < 0) {
    for (std::atomic<u8>& d : g_InputKeyTable.down) d.store(0, std::memory_order_relaxed);
    ForgetPresses();
    PlatInputKeyboardReset();
    return;
  }
  u8 keys[256];
  PlatInputKeyboardState(keys);
  for (int i = 0; i < 256; i++) g_InputKeyTable.down[i].store(keys[i], std::memory_order_relaxed);
  for (WindowObject* w : g_WindowObjects)
    if (w) PollCursor(w);
}

void InputOnPlatformEvent(const PlatInputEvent* e) {
  if (!e->window) return;  // not one of the engine's windows
  switch (e->kind) {
    case PLAT_INPUT_KEY_DOWN:
    case PLAT_INPUT_BUTTON_DOWN:
      if (e->repeat || e->vk == 0 || e->vk > 255) break;
      s_PressedSince[e->vk].store(1, std::memory_order_relaxed);
      // The left and right modifier keys also press the key they share.
      if (e->vk >= 0xA0 && e->vk <= 0xA5) s_PressedSince[0x10 + (e->vk - 0xA0) / 2].store(1, std::memory_order_relaxed);
      break;
    case PLAT_INPUT_MOUSE_MOVE: g_MouseMoved = 0x80; break;
    case PLAT_INPUT_WHEEL: g_WheelDelta = static_cast<i16>(std::clamp(e->wheel, -32768, 32767)); break;
  }
}

// ---- Joysticks -------------------------------------------------------------------------------

i32 InputJoystickInit() {
  i32 n = PlatInputJoystickStart();
  g_InputJoystickCount = std::clamp(n, 0, static_cast<i32>(INPUT_JOY_MAX));
  for (InputJoyRecord& r : g_InputJoy) r = InputJoyRecord{};
  return g_InputJoystickCount > 0 ? 1 : 0;
}

void InputPollJoysticks() {
  if (!g_JoystickPresent) return;
  for (i32 j = 0; j < g_InputJoystickCount; j++) {
    PlatJoyState st;
    InputJoyRecord& r = g_InputJoy[j];
    r.ok = PlatInputJoystickRead(j, &st) ? 1 : 0;
    r.x = st.x;
    r.y = st.y;
    r.buttons = st.buttons;
    u8 down[INPUT_JOY_KEYS] = {};
    // An empty slot reads as nothing held, not as the corner its zeroed record would give.
    if (r.ok) {
      down[INPUT_JOY_UP] = r.y < 32767 ? 0x80 : 0;
      down[INPUT_JOY_DOWN] = r.y >= 32768 ? 0x80 : 0;
      down[INPUT_JOY_LEFT] = r.x < 32767 ? 0x80 : 0;
      down[INPUT_JOY_RIGHT] = r.x >= 32768 ? 0x80 : 0;
      for (u32 b = 0; b < INPUT_JOY_BUTTONS; b++)
        down[INPUT_JOY_BUTTON1 + b] = static_cast<u8>((r.buttons & (1u << b)) ? 0x80 : 0);
    }
    u32 base = INPUT_JOY_FIRST_KEY + INPUT_JOY_KEYS * j;
    for (u32 k = 0; k < INPUT_JOY_KEYS; k++) RunKey(base + k, down[k]);
  }
}

// ---- Cursor ----------------------------------------------------------------------------------

static void CursorShow() {
  if (g_CursorShown) return;
  g_CursorOp = INPUT_CURSOR_OP_SHOW;
  g_CursorShown = 1;
}

static void CursorHide() {
  if (!g_CursorShown) return;
  g_CursorOp = INPUT_CURSOR_OP_HIDE;
  g_CursorShown = 0;
}

void InputForceCursorVisible() {
  if (g_CursorShown) return;
  if (WindowObject* m = g_WindowObjects[0]) m->cursor_timer_running = 0;
  g_CursorOp = INPUT_CURSOR_OP_SHOW;
  g_CursorShown = 1;
}

void InputApplyCursorVisibility() {
  u8 op = g_CursorOp.exchange(INPUT_CURSOR_OP_NONE);
  if (op == INPUT_CURSOR_OP_SHOW) PlatInputShowCursor(true);
  else if (op == INPUT_CURSOR_OP_HIDE) PlatInputShowCursor(false);
}

static void CursorAutoHide() {
  WindowObject* m = g_WindowObjects[0];
  if (!g_CursorAutoHide || !m) return;
  const i64* c = g_InputKeyTable.counter;
  if (!m->cursor_timer_running && c[INPUT_KEY_ANY] > 0) {
    m->cursor_timer_running = 1;
    m->cursor_timer_start = PlatTimeMs();
  }
  u32 due = m->cursor_timer_start + static_cast<u32>(g_CursorHideDelay);
  if (m->cursor_timer_running && static_cast<i32>(g_GameClock - due) > 0) CursorHide();
  // With mouse processing off the mouse keys keep their last counters, and the cursor stays
  // hidden as that command left it.
  bool mouse = g_InputMouseOn != 0;
  bool moved = mouse && c[INPUT_KEY_MOUSE_MOVED] > 0 && m->move_shows_cursor;
  bool button = mouse && (c[INPUT_KEY_LBUTTON] > 0 || c[INPUT_KEY_RBUTTON] > 0 || c[INPUT_KEY_MBUTTON] > 0) &&
                m->button_shows_cursor;
  bool wheel = mouse && (c[INPUT_KEY_WHEEL_UP] > 0 || c[INPUT_KEY_WHEEL_DOWN] > 0) && m->wheel_shows_cursor;
  bool outside = mouse && m->outside_extended;
  if (outside || g_MenuBarWindowShown || moved || button || wheel) {
    m->cursor_timer_running = 0;
    CursorShow();
  }
}

// ---- Once per frame --------------------------------------------------------------------------

static void UpdateMouseKeys(WindowObject* w, i16 wheel, u8 moved) {
  static const u32 mouse_keys[] = {INPUT_KEY_LBUTTON,  INPUT_KEY_RBUTTON,    INPUT_KEY_MBUTTON,
                                   INPUT_KEY_WHEEL_UP, INPUT_KEY_WHEEL_DOWN, INPUT_KEY_MOUSE_MOVED};
  u8 down[8];
  for (u32 k = 1; k < 8; k++) down[k] = DownOrPressed(k);
  // The wheel and movement keys have no key of the system behind them: only these decide.
  down[INPUT_KEY_WHEEL_UP] = down[INPUT_KEY_WHEEL_DOWN] = down[INPUT_KEY_MOUSE_MOVED] = 0;
  if (!w->outside_extended) {
    if (wheel > 0) down[INPUT_KEY_WHEEL_UP] = 0x80;
    if (wheel < 0) down[INPUT_KEY_WHEEL_DOWN] = 0x80;
    down[INPUT_KEY_MOUSE_MOVED] = moved;
  } else {
    // Presses do not start outside; one that began inside goes on.
    for (u32 k : mouse_keys)
      if (g_InputKeyTable.counter[k] <= 0) down[k] = 0;
  }
  for (u32 k = 1; k < 8; k++) RunKey(k, down[k]);
}

void InputUpdate() {
  i16 wheel = g_WheelDelta.exchange(0);
  u8 moved = g_MouseMoved.exchange(0);
  i32 active = g_InputActiveWindow;
  WindowObject* aw = active >= 0 && active < WIN_COUNT ? g_WindowObjects[active] : nullptr;
  if (g_InputMouseOn && aw) UpdateMouseKeys(aw, wheel, moved);
  // Presses made while a kind of input is not processed are not kept for later.
  if (!g_InputMouseOn || !aw)
    for (u32 k = 1; k < 8; k++) s_PressedSince[k].store(0, std::memory_order_relaxed);
  if (!g_InputKeyboardOn)
    for (u32 k = 8; k < 256; k++) s_PressedSince[k].store(0, std::memory_order_relaxed);
  if (g_InputKeyboardOn) {
    u8 any = 0;
    for (const auto& r : s_KeyboardRanges) {
      for (u32 k = r.first; k <= r.last; k++) {
        u8 d = DownOrPressed(k);
        any |= d;
        RunKey(k, d);
      }
    }
    RunKey(INPUT_KEY_ANY, any ? 0x80 : 0);
  }
  if (g_InputJoystickOn) InputPollJoysticks();
  CursorAutoHide();
  InputApplyCursorVisibility();
  for (WindowObject* w : g_WindowObjects)
    if (w && WinIsIconic(w)) w->active = 0;
  WinPostDragRequest();
  FrameActiveTimeUpdate();
}

// ---- Commands --------------------------------------------------------------------------------

i32 InputProcessingSet(const CmdArgRecord* a) {
  if (a->given[0]) g_InputKeyboardOn = a->value[0] != 0;
  if (a->given[1]) g_InputJoystickOn = a->value[1] != 0;
  if (a->given[2]) {
    u8 on = a->value[2] != 0;
    if (g_InputMouseOn && !on) {
      g_CursorOp = INPUT_CURSOR_OP_HIDE;
      g_CursorShown = 0;
    } else if (!g_InputMouseOn && on) {
      g_CursorOp = INPUT_CURSOR_OP_SHOW;
      g_CursorShown = 1;
    }
    g_InputMouseOn = on;
  }
  return 0;
}

static void CursorModeSet(i64 mode) {
  WindowObject* m = g_WindowObjects[0];
  switch (mode) {
    case INPUT_CURSOR_HIDDEN:
      CursorHide();
      if (m) m->cursor_timer_running = 0;
      g_CursorAutoHide = 0;
      break;
    case INPUT_CURSOR_AUTO_HIDE:
      if (!g_CursorShown && !(m && m->cursor_timer_running)) CursorShow();
      g_CursorAutoHide = 1;
      break;
    case INPUT_CURSOR_SHOWN:
      CursorShow();
      if (m) m->cursor_timer_running = 0;
      g_CursorAutoHide = 0;
      break;
    default: return;  // not a mode: nothing changes
  }
  g_CursorMode = static_cast<u8>(mode);
}

i32 InputCursorSet(const CmdArgRecord* a) {
  WindowObject* m = g_WindowObjects[0];
  if (a->given[0]) CursorModeSet(a->value[0]);
  if (a->given[1]) g_CursorHideDelay = static_cast<i32>(std::clamp<i64>(a->value[1], 0, INT_MAX));
  if (m) {
    if (a->given[2]) m->move_shows_cursor = a->value[2] != 0;
    if (a->given[3]) m->button_shows_cursor = a->value[3] != 0;
    if (a->given[4]) m->wheel_shows_cursor = a->value[4] != 0;
    if (a->given[5] || a->given[6]) {
      if (a->given[5]) m->cursor_x = static_cast<i32>(std::clamp<i64>(a->value[5], INT_MIN, INT_MAX));
      if (a->given[6]) m->cursor_y = static_cast<i32>(std::clamp<i64>(a->value[6], INT_MIN, INT_MAX));
      i32 cx, cy;
      InputGameToClient(m, m->cursor_x, m->cursor_y, &cx, &cy);
      if (m->handle) PlatInputWarpCursor(m->handle, cx, cy);
    }
  }
  if (a->given[7]) PlatInputSetCursorShape(static_cast<i32>(std::clamp<i64>(a->value[7], -1, PLAT_CURSOR_COUNT)));
  if (a->given[8]) g_CursorHotX = static_cast<i32>(a->value[8] & 0xFFFF);
  if (a->given[9]) g_CursorHotY = static_cast<i32>(a->value[9] & 0xFFFF);
  if (a->given[10]) InputCursorFromLayer(CmdArgStr(a, 10), g_CursorHotX, g_CursorHotY);
  return 0;
}

i32 InputCursorFromLayer(const char* layer_name, i32 hot_x, i32 hot_y) {
  char path[OBJ_PATH_MAX];
  if (ObjResolvePath(path, sizeof path, layer_name, g_LayerBase, 1) < 0) return -1;
  const LayerRecord* r = LayerOf(ObjFindNode(g_LayerRoot, path, OBJ_FIND_ITEM));
  if (!LayerHasPixels(r)) return 0;  // a missing layer leaves the cursor as it is
  if (PlatInputSetCursorImage(r->pixels, r->width, r->height, hot_x, hot_y) != 0) {
    static const std::string text = PlatUtf8ToSjis("CURSOR CreateIconIndirect エラー");
    ErrMessageBoxF("", "%s", text.c_str());
    return -1;
  }
  return 0;
}

// ---- Tests -----------------------------------------------------------------------------------

void InputKeyTableReset() {
  InputKeyTable& t = g_InputKeyTable;
  for (std::atomic<u8>& d : t.down) d.store(0, std::memory_order_relaxed);
  for (u32 k = 0; k < INPUT_KEY_COUNT; k++) {
    t.state[k] = INPUT_STATE_UP;
    t.counter[k] = 0;
    t.presses[k] = 0;
  }
}

void InputReset() {
  InputKeyTableReset();
  ForgetPresses();
  g_InputActiveWindow = -1;
  g_InputKeyboardOn = g_InputJoystickOn = g_InputMouseOn = 1;
  g_JoystickPresent = 0;
  g_InputJoystickCount = 0;
  for (InputJoyRecord& r : g_InputJoy) r = InputJoyRecord{};
  g_CursorShown = 1;
  g_CursorOp = INPUT_CURSOR_OP_NONE;
  g_CursorAutoHide = 1;
  g_CursorMode = INPUT_CURSOR_AUTO_HIDE;
  g_CursorHideDelay = 2500;
  g_CursorHotX = g_CursorHotY = 0;
  g_CursorScreenPos = PointI32{0, 0};
}
