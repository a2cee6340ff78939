// SDL keyboard, mouse, joysticks and cursors in the engine's Windows terms. Held keys are
// counted per virtual key from the scancodes that went down, so two keys sharing one number
// (both Enter keys) release it only when both are up, and a release never comes without its
// press. Everything here sits under one lock; SDL itself is only called on the main thread.
#include "platform/input.h"

#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/platform.h"
#include "platform/video.h"
#include "platform/video_internal.h"

// Windows virtual-key numbers used below.
enum : u8 {
  VK_LBUTTON = 0x01,
  VK_RBUTTON = 0x02,
  VK_MBUTTON = 0x04,
  VK_BACK = 0x08,
  VK_TAB = 0x09,
  VK_RETURN = 0x0D,
  VK_SHIFT = 0x10,
  VK_CONTROL = 0x11,
  VK_MENU = 0x12,
  VK_PAUSE = 0x13,
  VK_CAPITAL = 0x14,
  VK_ESCAPE = 0x1B,
  VK_SPACE = 0x20,
  VK_PRIOR = 0x21,
  VK_NEXT = 0x22,
  VK_END = 0x23,
  VK_HOME = 0x24,
  VK_LEFT = 0x25,
  VK_UP = 0x26,
  VK_RIGHT = 0x27,
  VK_DOWN = 0x28,
  VK_SELECT = 0x29,
  VK_EXECUTE = 0x2B,
  VK_SNAPSHOT = 0x2C,
  VK_INSERT = 0x2D,
  VK_DELETE = 0x2E,
  VK_HELP = 0x2F,
  VK_LWIN = 0x5B,
  VK_RWIN = 0x5C,
  VK_APPS = 0x5D,
  VK_NUMPAD0 = 0x60,
  VK_MULTIPLY = 0x6A,
  VK_ADD = 0x6B,
  VK_SEPARATOR = 0x6C,
  VK_SUBTRACT = 0x6D,
  VK_DECIMAL = 0x6E,
  VK_DIVIDE = 0x6F,
  VK_F1 = 0x70,
  VK_F13 = 0x7C,
  VK_NUMLOCK = 0x90,
  VK_SCROLL = 0x91,
  VK_LSHIFT = 0xA0,
  VK_RSHIFT = 0xA1,
  VK_LCONTROL = 0xA2,
  VK_RCONTROL = 0xA3,
  VK_LMENU = 0xA4,
  VK_RMENU = 0xA5,
  VK_VOLUME_MUTE = 0xAD,
  VK_VOLUME_DOWN = 0xAE,
  VK_VOLUME_UP = 0xAF,
  VK_OEM_1 = 0xBA,
  VK_OEM_PLUS = 0xBB,
  VK_OEM_COMMA = 0xBC,
  VK_OEM_MINUS = 0xBD,
  VK_OEM_PERIOD = 0xBE,
  VK_OEM_2 = 0xBF,
  VK_OEM_3 = 0xC0,
  VK_OEM_4 = 0xDB,
  VK_OEM_5 = 0xDC,
  VK_OEM_6 = 0xDD,
  VK_OEM_7 = 0xDE,
  VK_OEM_102 = 0xE2,
};

// Keys by position (US layout names); letters, digits, F-keys and the keypad digits are ranges
// handled in code.
static const struct {
  SDL_Scancode scancode;
  u8 vk;
} s_ScanRows[] = {
    {SDL_SCANCODE_RETURN, VK_RETURN},
    {SDL_SCANCODE_ESCAPE, VK_ESCAPE},
    {SDL_SCANCODE_BACKSPACE, VK_BACK},
    {SDL_SCANCODE_TAB, VK_TAB},
    {SDL_SCANCODE_SPACE, VK_SPACE},
    {SDL_SCANCODE_MINUS, VK_OEM_MINUS},
    {SDL_SCANCODE_EQUALS, VK_OEM_PLUS},
    {SDL_SCANCODE_LEFTBRACKET, VK_OEM_4},
    {SDL_SCANCODE_RIGHTBRACKET, VK_OEM_6},
    {SDL_SCANCODE_BACKSLASH, VK_OEM_5},
    {SDL_SCANCODE_NONUSHASH, VK_OEM_7},
    {SDL_SCANCODE_SEMICOLON, VK_OEM_1},
    {SDL_SCANCODE_APOSTROPHE, VK_OEM_7},
    {SDL_SCANCODE_GRAVE, VK_OEM_3},
    {SDL_SCANCODE_COMMA, VK_OEM_COMMA},
    {SDL_SCANCODE_PERIOD, VK_OEM_PERIOD},
    {SDL_SCANCODE_SLASH, VK_OEM_2},
    {SDL_SCANCODE_CAPSLOCK, VK_CAPITAL},
    {SDL_SCANCODE_PRINTSCREEN, VK_SNAPSHOT},
    {SDL_SCANCODE_SCROLLLOCK, VK_SCROLL},
    {SDL_SCANCODE_PAUSE, VK_PAUSE},
    {SDL_SCANCODE_INSERT, VK_INSERT},
    {SDL_SCANCODE_HOME, VK_HOME},
    {SDL_SCANCODE_PAGEUP, VK_PRIOR},
    {SDL_SCANCODE_DELETE, VK_DELETE},
    {SDL_SCANCODE_END, VK_END},
    {SDL_SCANCODE_PAGEDOWN, VK_NEXT},
    {SDL_SCANCODE_RIGHT, VK_RIGHT},
    {SDL_SCANCODE_LEFT, VK_LEFT},
    {SDL_SCANCODE_DOWN, VK_DOWN},
    {SDL_SCANCODE_UP, VK_UP},
    {SDL_SCANCODE_NUMLOCKCLEAR, VK_NUMLOCK},
    {SDL_SCANCODE_KP_DIVIDE, VK_DIVIDE},
    {SDL_SCANCODE_KP_MULTIPLY, VK_MULTIPLY},
    {SDL_SCANCODE_KP_MINUS, VK_SUBTRACT},
    {SDL_SCANCODE_KP_PLUS, VK_ADD},
    {SDL_SCANCODE_KP_ENTER, VK_RETURN},
    {SDL_SCANCODE_KP_PERIOD, VK_DECIMAL},
    {SDL_SCANCODE_KP_COMMA, VK_SEPARATOR},
    {SDL_SCANCODE_NONUSBACKSLASH, VK_OEM_102},
    {SDL_SCANCODE_APPLICATION, VK_APPS},
    {SDL_SCANCODE_EXECUTE, VK_EXECUTE},
    {SDL_SCANCODE_HELP, VK_HELP},
    {SDL_SCANCODE_SELECT, VK_SELECT},
    {SDL_SCANCODE_MUTE, VK_VOLUME_MUTE},
    {SDL_SCANCODE_VOLUMEUP, VK_VOLUME_UP},
    {SDL_SCANCODE_VOLUMEDOWN, VK_VOLUME_DOWN},
    {SDL_SCANCODE_INTERNATIONAL1, VK_OEM_102},  // ろ
    {SDL_SCANCODE_INTERNATIONAL3, VK_OEM_5},    // ￥
    {SDL_SCANCODE_LCTRL, VK_LCONTROL},
    {SDL_SCANCODE_LSHIFT, VK_LSHIFT},
    {SDL_SCANCODE_LALT, VK_LMENU},
    {SDL_SCANCODE_LGUI, VK_LWIN},
    {SDL_SCANCODE_RCTRL, VK_RCONTROL},
    {SDL_SCANCODE_RSHIFT, VK_RSHIFT},
    {SDL_SCANCODE_RALT, VK_RMENU},
    {SDL_SCANCODE_RGUI, VK_RWIN},
};

// The cursor command's shapes; -1 where the system has none (the arrow stands in).
static const int s_CursorSystemShape[PLAT_CURSOR_COUNT] = {
    SDL_SYSTEM_CURSOR_ARROW,
    SDL_SYSTEM_CURSOR_IBEAM,
    SDL_SYSTEM_CURSOR_WAIT,
    SDL_SYSTEM_CURSOR_CROSSHAIR,
    -1,
    SDL_SYSTEM_CURSOR_SIZENWSE,
    SDL_SYSTEM_CURSOR_SIZENESW,
    SDL_SYSTEM_CURSOR_SIZEWE,
    SDL_SYSTEM_CURSOR_SIZENS,
    SDL_SYSTEM_CURSOR_SIZEALL,
    SDL_SYSTEM_CURSOR_NO,
    SDL_SYSTEM_CURSOR_HAND,
    SDL_SYSTEM_CURSOR_WAITARROW,
    -1,
};

// Analog sticks rest a little off centre; inside this band they read as centred, since the
// engine's direction thresholds sit at the exact centre.
static const i32 s_JoyDeadZone = 8000;

struct JoySlot {
  SDL_Joystick* joystick;
  SDL_JoystickID instance;
  bool connected;
  bool injected;  // tests: the state below is given, not read from SDL
  PlatJoyState state;
};

static std::mutex s_Lock;
static PlatInputHandler s_Handler = nullptr;
static u8 s_VkHeld[256];                      // how many keys or buttons hold each virtual key
static u8 s_ScanVk[SDL_NUM_SCANCODES];        // the virtual key a held scancode went down as
static PlatWindow* s_CursorWindow = nullptr;  // the last window the mouse reported from
static i32 s_CursorX = 0, s_CursorY = 0;
static bool s_CursorKnown = false;
static std::atomic<bool> s_WantShown{true};
static std::atomic<i32> s_WantShape{PLAT_CURSOR_ARROW};
static int s_ShownApplied = -1;  // main thread: what SDL shows now, -1 unknown
static int s_ShapeApplied = -1;
static SDL_Cursor* s_Cursors[PLAT_CURSOR_COUNT];
// The image cursor: its picture (under s_Lock), and the SDL cursor made from it on the main thread.
static std::vector<u8> s_ImagePixels;
static i32 s_ImageW = 0, s_ImageH = 0, s_ImageHotX = 0, s_ImageHotY = 0;
static bool s_ImageChanged = false;
static SDL_Cursor* s_ImageCursor = nullptr;
static bool s_WarpPending = false;
static PlatWindow* s_WarpWindow = nullptr;
static i32 s_WarpX = 0, s_WarpY = 0;
static JoySlot s_Joy[PLAT_JOY_MAX];
static bool s_JoyStarted = false;
static bool s_JoyInjected = false;

// ---- Keys ------------------------------------------------------------------------------------

u8 PlatInputVkFromKey(i32 sc, i32 keycode) {
  if (keycode >= 'a' && keycode <= 'z') return static_cast<u8>('A' + (keycode - 'a'));
  if (sc >= SDL_SCANCODE_A && sc <= SDL_SCANCODE_Z) return static_cast<u8>('A' + (sc - SDL_SCANCODE_A));
  if (sc >= SDL_SCANCODE_1 && sc <= SDL_SCANCODE_9) return static_cast<u8>('1' + (sc - SDL_SCANCODE_1));
  if (sc == SDL_SCANCODE_0) return '0';
  if (sc >= SDL_SCANCODE_F1 && sc <= SDL_SCANCODE_F12) return static_cast<u8>(VK_F1 + (sc - SDL_SCANCODE_F1));
  if (sc >= SDL_SCANCODE_F13 && sc <= SDL_SCANCODE_F24) return static_cast<u8>(VK_F13 + (sc - SDL_SCANCODE_F13));
  if (sc >= SDL_SCANCODE_KP_1 && sc <= SDL_SCANCODE_KP_9)
    return static_cast<u8>(VK_NUMPAD0 + 1 + (sc - SDL_SCANCODE_KP_1));
  if (sc == SDL_SCANCODE_KP_0) return VK_NUMPAD0;
  for (const auto& row : s_ScanRows)
    if (row.scancode == sc) return row.vk;
  return 0;
}

static void Hold(u32 vk) {
  if (vk > 0 && vk < 256 && s_VkHeld[vk] < 255) s_VkHeld[vk]++;
}

static void Release(u32 vk) {
  if (vk > 0 && vk < 256 && s_VkHeld[vk] > 0) s_VkHeld[vk]--;
}

void PlatInputKeyboardState(u8 out[256]) {
  std::lock_guard<std::mutex> g(s_Lock);
  for (int i = 0; i < 256; i++) out[i] = s_VkHeld[i] ? 0x80 : 0;
  auto either = [&](u8 both, u8 left, u8 right) {
    if (out[left] || out[right]) out[both] = 0x80;
  };
  either(VK_SHIFT, VK_LSHIFT, VK_RSHIFT);
  either(VK_CONTROL, VK_LCONTROL, VK_RCONTROL);
  either(VK_MENU, VK_LMENU, VK_RMENU);
}

void PlatInputKeyboardReset() {
  std::lock_guard<std::mutex> g(s_Lock);
  std::memset(s_VkHeld, 0, sizeof s_VkHeld);
  std::memset(s_ScanVk, 0, sizeof s_ScanVk);
}

// ---- Events ----------------------------------------------------------------------------------

void PlatInputSetHandler(PlatInputHandler fn) {
  std::lock_guard<std::mutex> g(s_Lock);
  s_Handler = fn;
}

void PlatInputFeed(const PlatInputEvent* e) {
  PlatInputHandler handler;
  {
    std::lock_guard<std::mutex> g(s_Lock);
    switch (e->kind) {
      case PLAT_INPUT_KEY_DOWN:
        if (!e->repeat) Hold(e->vk);
        break;
      case PLAT_INPUT_KEY_UP: Release(e->vk); break;
      case PLAT_INPUT_BUTTON_DOWN: Hold(e->vk); break;
      case PLAT_INPUT_BUTTON_UP: Release(e->vk); break;
    }
    bool positioned =
        e->kind == PLAT_INPUT_MOUSE_MOVE || e->kind == PLAT_INPUT_BUTTON_DOWN || e->kind == PLAT_INPUT_BUTTON_UP;
    if (positioned && e->window) {
      s_CursorWindow = e->window;
      s_CursorX = e->x;
      s_CursorY = e->y;
      s_CursorKnown = true;
    }
    handler = s_Handler;
  }
  if (handler) handler(e);
}

static PlatInputEvent EventFor(u32 kind, u32 sdl_window_id) {
  PlatInputEvent ev{};
  ev.kind = kind;
  ev.window = PlatWindowFromSdlId(sdl_window_id);
  ev.user = PlatWindowUser(ev.window);
  return ev;
}

static u32 ButtonVk(u8 sdl_button) {
  switch (sdl_button) {
    case SDL_BUTTON_LEFT: return VK_LBUTTON;
    case SDL_BUTTON_RIGHT: return VK_RBUTTON;
    case SDL_BUTTON_MIDDLE: return VK_MBUTTON;
  }
  return 0;  // the side buttons have no key: 5 and 6 are the wheel's
}

void PlatInputReleaseLetGo(u32 sdl_buttons_held) {
  int n = 0;
  const u8* keys = SDL_GetKeyboardState(&n);
  std::lock_guard<std::mutex> g(s_Lock);
  for (int b : {SDL_BUTTON_LEFT, SDL_BUTTON_RIGHT, SDL_BUTTON_MIDDLE})
    if (!(sdl_buttons_held & SDL_BUTTON(b))) s_VkHeld[ButtonVk(static_cast<u8>(b))] = 0;
  for (int sc = 0; sc < SDL_NUM_SCANCODES; sc++) {
    if (!s_ScanVk[sc] || (keys && sc < n && keys[sc])) continue;
    Release(s_ScanVk[sc]);
    s_ScanVk[sc] = 0;
  }
}

static void JoyOpenDevice(int device_index);
static void JoyCloseInstance(SDL_JoystickID instance);

bool PlatInputHandleSdlEvent(const SDL_Event* e) {
  switch (e->type) {
    case SDL_KEYDOWN:
    case SDL_KEYUP: {
      int sc = e->key.keysym.scancode;
      if (sc <= 0 || sc >= SDL_NUM_SCANCODES) return true;
      PlatInputEvent ev = EventFor(e->type == SDL_KEYDOWN ? PLAT_INPUT_KEY_DOWN : PLAT_INPUT_KEY_UP, e->key.windowID);
      // Alt with an underlined letter opens the window's menu (Ctrl with Alt is AltGr); the
      // menu takes the key, so the game never sees it pressed.
      const u16 mod = e->key.keysym.mod;
      if (ev.window && e->type == SDL_KEYDOWN && !e->key.repeat && (mod & KMOD_ALT) && !(mod & KMOD_CTRL) &&
          PlatMenuBarKey(ev.window, e->key.keysym.sym))
        return true;
      {
        std::lock_guard<std::mutex> g(s_Lock);
        if (e->type == SDL_KEYDOWN) {
          ev.vk = PlatInputVkFromKey(sc, e->key.keysym.sym);
          ev.repeat = e->key.repeat || s_ScanVk[sc] != 0;
          if (!ev.repeat) s_ScanVk[sc] = static_cast<u8>(ev.vk);
          else if (s_ScanVk[sc]) ev.vk = s_ScanVk[sc];
        } else {
          ev.vk = s_ScanVk[sc];  // 0: its press was never seen (or forgotten by a reset)
          s_ScanVk[sc] = 0;
        }
      }
      if (ev.vk) PlatInputFeed(&ev);
      return true;
    }
    case SDL_MOUSEMOTION: {
      PlatInputEvent ev = EventFor(PLAT_INPUT_MOUSE_MOVE, e->motion.windowID);
      // Over a menu bar in the frame the pointer is outside the client area.
      const i32 bar = PlatWindowBarOffset(ev.window);
      if (e->motion.y < bar) return true;
      ev.x = e->motion.x;
      ev.y = e->motion.y - bar;
      PlatInputFeed(&ev);
      return true;
    }
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: {
      u32 vk = ButtonVk(e->button.button);
      if (!vk) return true;
      PlatInputEvent ev =
          EventFor(e->type == SDL_MOUSEBUTTONDOWN ? PLAT_INPUT_BUTTON_DOWN : PLAT_INPUT_BUTTON_UP, e->button.windowID);
      const i32 bar = PlatWindowBarOffset(ev.window);
      if (ev.window && e->type == SDL_MOUSEBUTTONDOWN && vk == VK_LBUTTON &&
          PlatMenuBarMouseDown(ev.window, e->button.x, e->button.y))
        return true;
      if (e->button.y < bar) return true;
      ev.vk = vk;
      ev.x = e->button.x;
      ev.y = e->button.y - bar;
      PlatInputFeed(&ev);
      return true;
    }
    case SDL_MOUSEWHEEL: {
      i64 steps = e->wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -e->wheel.y : e->wheel.y;
      if (steps == 0) return true;  // sideways only
      PlatInputEvent ev = EventFor(PLAT_INPUT_WHEEL, e->wheel.windowID);
      // Whole steps only: 273 steps of 120 are the most a 16-bit delta holds.
      ev.wheel = static_cast<i32>(std::clamp<i64>(steps, -273, 273) * 120);
      PlatInputFeed(&ev);
      return true;
    }
    case SDL_JOYDEVICEADDED: JoyOpenDevice(e->jdevice.which); return true;
    case SDL_JOYDEVICEREMOVED: JoyCloseInstance(e->jdevice.which); return true;
    case SDL_JOYAXISMOTION:
    case SDL_JOYBALLMOTION:
    case SDL_JOYHATMOTION:
    case SDL_JOYBUTTONDOWN:
    case SDL_JOYBUTTONUP:
    case SDL_JOYBATTERYUPDATED: return true;  // joysticks are read as a whole at the sync
  }
  return false;
}

// ---- Cursor position -------------------------------------------------------------------------

bool PlatInputCursorClient(PlatWindow* w, i32* x, i32* y) {
  if (!w) return false;
  SDL_Window* sdl = PlatIsMainThread() ? PlatWindowSdl(w) : nullptr;
  if (sdl) {
    int cx, cy;
    if (SDL_GetMouseFocus() == sdl) {
      SDL_GetMouseState(&cx, &cy);
    } else {
      int wx, wy;
      SDL_GetGlobalMouseState(&cx, &cy);
      SDL_GetWindowPosition(sdl, &wx, &wy);
      cx -= wx;
      cy -= wy;
    }
    *x = cx;
    *y = cy - PlatWindowBarOffset(w);
    return true;
  }
  std::lock_guard<std::mutex> g(s_Lock);
  if (!s_CursorKnown || s_CursorWindow != w) return false;
  *x = s_CursorX;
  *y = s_CursorY;
  return true;
}

bool PlatInputCursorScreen(i32* x, i32* y) {
  if (!PlatVideoReady() || !PlatIsMainThread()) return false;
  int cx = 0, cy = 0;
  SDL_GetGlobalMouseState(&cx, &cy);
  *x = cx;
  *y = cy;
  return true;
}

static void WarpNow(PlatWindow* w, i32 x, i32 y) {
  if (SDL_Window* sdl = PlatWindowSdl(w)) SDL_WarpMouseInWindow(sdl, x, y + PlatWindowBarOffset(w));
}

void PlatInputWarpCursor(PlatWindow* w, i32 x, i32 y) {
  if (!w) return;
  bool now = PlatIsMainThread();
  {
    std::lock_guard<std::mutex> g(s_Lock);
    s_CursorWindow = w;
    s_CursorX = x;
    s_CursorY = y;
    s_CursorKnown = true;
    if (!now) {
      s_WarpPending = true;
      s_WarpWindow = w;
      s_WarpX = x;
      s_WarpY = y;
    }
  }
  if (now) WarpNow(w, x, y);
}

// ---- Cursor shape and visibility -------------------------------------------------------------

static SDL_Cursor* CursorFor(i32 shape) {
  if (!s_Cursors[shape]) {
    int sys = s_CursorSystemShape[shape];
    if (sys >= 0) s_Cursors[shape] = SDL_CreateSystemCursor(static_cast<SDL_SystemCursor>(sys));
  }
  return s_Cursors[shape];
}

// Main thread: brings SDL to the wanted visibility and shape.
// The SDL cursor of the image shape, remade when the picture changed. Main thread.
static SDL_Cursor* ImageCursor() {
  std::lock_guard<std::mutex> g(s_Lock);
  if (!s_ImageChanged) return s_ImageCursor;
  s_ImageChanged = false;
  if (s_ImageCursor) SDL_FreeCursor(s_ImageCursor);
  s_ImageCursor = nullptr;
  if (s_ImagePixels.empty()) return nullptr;
  SDL_Surface* surf = SDL_CreateRGBSurfaceWithFormatFrom(s_ImagePixels.data(), s_ImageW, s_ImageH, 32, s_ImageW * 4,
                                                         SDL_PIXELFORMAT_ARGB8888);
  if (surf) {
    s_ImageCursor = SDL_CreateColorCursor(surf, s_ImageHotX, s_ImageHotY);
    SDL_FreeSurface(surf);
  }
  return s_ImageCursor;
}

static void ApplyCursor() {
  if (!PlatVideoReady() || !PlatIsMainThread()) return;
  int shown = s_WantShown ? 1 : 0;
  if (shown != s_ShownApplied) {
    SDL_ShowCursor(shown ? SDL_ENABLE : SDL_DISABLE);
    s_ShownApplied = shown;
  }
  i32 shape = s_WantShape;
  if (shape == PLAT_CURSOR_IMAGE) {
    bool changed;
    {
      std::lock_guard<std::mutex> g(s_Lock);
      changed = s_ImageChanged;
    }
    if (shape == s_ShapeApplied && !changed) return;
    SDL_Cursor* c = ImageCursor();
    if (!c) c = CursorFor(PLAT_CURSOR_ARROW);
    if (c) SDL_SetCursor(c);
    s_ShapeApplied = shape;
    return;
  }
  if (shape != s_ShapeApplied) {
    SDL_Cursor* c = CursorFor(shape);
    if (!c) c = CursorFor(PLAT_CURSOR_ARROW);
    if (!c) c = SDL_GetDefaultCursor();
    if (c) SDL_SetCursor(c);
    s_ShapeApplied = shape;
  }
}

void PlatInputShowCursor(bool show) {
  s_WantShown = show;
  ApplyCursor();
}

bool PlatInputCursorShown() { return s_WantShown; }

void PlatInputSetCursorShape(i32 shape) {
  s_WantShape = shape >= 0 && shape < PLAT_CURSOR_COUNT ? shape : PLAT_CURSOR_ARROW;
  ApplyCursor();
}

i32 PlatInputCursorShape() { return s_WantShape; }

i32 PlatInputSetCursorImage(const u8* bgra, i32 width, i32 height, i32 hot_x, i32 hot_y) {
  if (!bgra || width < 1 || height < 1 || width > PLAT_CURSOR_IMAGE_MAX || height > PLAT_CURSOR_IMAGE_MAX) return -1;
  {
    std::lock_guard<std::mutex> g(s_Lock);
    s_ImagePixels.assign(bgra, bgra + static_cast<size_t>(width) * height * 4);
    s_ImageW = width;
    s_ImageH = height;
    s_ImageHotX = std::clamp(hot_x, 0, width - 1);
    s_ImageHotY = std::clamp(hot_y, 0, height - 1);
    s_ImageChanged = true;
  }
  s_WantShape = PLAT_CURSOR_IMAGE;
  ApplyCursor();
  return 0;
}

const u8* PlatInputCursorImage(i32* width, i32* height, i32* hot_x, i32* hot_y) {
  std::lock_guard<std::mutex> g(s_Lock);
  *width = s_ImageW;
  *height = s_ImageH;
  *hot_x = s_ImageHotX;
  *hot_y = s_ImageHotY;
  return s_ImagePixels.empty() ? nullptr : s_ImagePixels.data();
}

// ---- Joysticks -------------------------------------------------------------------------------

u32 PlatInputJoystickAxis(i16 raw) {
  i32 v = raw;
  if (v > -s_JoyDeadZone && v < s_JoyDeadZone) return PLAT_JOY_CENTRE;
  // Outside the band the rest of each half is stretched over the engine's half range.
  if (v > 0) return static_cast<u32>(PLAT_JOY_CENTRE + 1 + (v - s_JoyDeadZone) * 32767 / (32767 - s_JoyDeadZone));
  return static_cast<u32>(PLAT_JOY_CENTRE - 1 - (-v - s_JoyDeadZone) * (PLAT_JOY_CENTRE - 1) / (32768 - s_JoyDeadZone));
}

static void JoyOpenDevice(int device_index) {
  if (!s_JoyStarted) return;
  SDL_JoystickID id = SDL_JoystickGetDeviceInstanceID(device_index);
  std::lock_guard<std::mutex> g(s_Lock);
  JoySlot* free_slot = nullptr;
  for (JoySlot& s : s_Joy) {
    if (s.joystick && s.instance == id) return;  // opened already (start-up also announces it)
    if (!s.joystick && !s.injected && !free_slot) free_slot = &s;
  }
  if (!free_slot) return;  // a 17th joystick is not read
  SDL_Joystick* j = SDL_JoystickOpen(device_index);
  if (!j) return;
  free_slot->joystick = j;
  free_slot->instance = SDL_JoystickInstanceID(j);
  free_slot->connected = false;  // until the next sync has read it
}

static void JoyCloseInstance(SDL_JoystickID instance) {
  std::lock_guard<std::mutex> g(s_Lock);
  for (JoySlot& s : s_Joy) {
    if (s.joystick && s.instance == instance) {
      SDL_JoystickClose(s.joystick);
      s = JoySlot{};
    }
  }
}

i32 PlatInputJoystickStart() {
  if (s_JoyInjected) return PLAT_JOY_MAX;
  if (s_JoyStarted) return PLAT_JOY_MAX;
  // Joysticks are read whether or not a window has the focus, as the engine always did.
  SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
  if (SDL_InitSubSystem(SDL_INIT_JOYSTICK) != 0) return 0;
  s_JoyStarted = true;
  int n = SDL_NumJoysticks();
  for (int i = 0; i < n; i++) JoyOpenDevice(i);
  return PLAT_JOY_MAX;
}

static void JoyReadAll() {
  if (!s_JoyStarted) return;
  SDL_JoystickUpdate();
  std::lock_guard<std::mutex> g(s_Lock);
  for (JoySlot& s : s_Joy) {
    if (!s.joystick || s.injected) continue;
    s.connected = SDL_JoystickGetAttached(s.joystick) == SDL_TRUE;
    if (!s.connected) continue;
    // Only X, Y and 32 buttons are read, as joyGetPosEx was asked for.
    int axes = SDL_JoystickNumAxes(s.joystick);
    s.state.x = PlatInputJoystickAxis(axes > 0 ? SDL_JoystickGetAxis(s.joystick, 0) : 0);
    s.state.y = PlatInputJoystickAxis(axes > 1 ? SDL_JoystickGetAxis(s.joystick, 1) : 0);
    int buttons = std::min(SDL_JoystickNumButtons(s.joystick), static_cast<int>(PLAT_JOY_BUTTONS));
    u32 bits = 0;
    for (int b = 0; b < buttons; b++)
      if (SDL_JoystickGetButton(s.joystick, b)) bits |= 1u << b;
    s.state.buttons = bits;
  }
}

bool PlatInputJoystickRead(i32 slot, PlatJoyState* out) {
  *out = {PLAT_JOY_CENTRE, PLAT_JOY_CENTRE, 0};
  if (slot < 0 || slot >= PLAT_JOY_MAX) return false;
  std::lock_guard<std::mutex> g(s_Lock);
  if (!s_Joy[slot].connected) return false;
  *out = s_Joy[slot].state;
  return true;
}

void PlatInputJoystickInject(i32 slot, bool connected, i16 raw_x, i16 raw_y, u32 buttons) {
  if (slot < 0 || slot >= PLAT_JOY_MAX) return;
  std::lock_guard<std::mutex> g(s_Lock);
  s_JoyInjected = true;
  JoySlot& s = s_Joy[slot];
  s.injected = true;
  s.connected = connected;
  s.state = {PlatInputJoystickAxis(raw_x), PlatInputJoystickAxis(raw_y), buttons};
}

// ---- Main thread -----------------------------------------------------------------------------

void PlatInputSync() {
  if (!PlatIsMainThread()) return;
  bool warp;
  PlatWindow* w;
  i32 x, y;
  {
    std::lock_guard<std::mutex> g(s_Lock);
    warp = s_WarpPending;
    w = s_WarpWindow;
    x = s_WarpX;
    y = s_WarpY;
    s_WarpPending = false;
  }
  if (warp) WarpNow(w, x, y);
  ApplyCursor();
  JoyReadAll();
}

void PlatInputStop() {
  std::lock_guard<std::mutex> g(s_Lock);
  for (JoySlot& s : s_Joy) {
    if (s.joystick) SDL_JoystickClose(s.joystick);
    s = JoySlot{};
  }
  if (s_JoyStarted) SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
  s_JoyStarted = false;
  for (SDL_Cursor*& c : s_Cursors) {
    if (c) SDL_FreeCursor(c);
    c = nullptr;
  }
  if (s_ImageCursor) SDL_FreeCursor(s_ImageCursor);
  s_ImageCursor = nullptr;
  s_ImageChanged = !s_ImagePixels.empty();
  s_ShownApplied = -1;
  s_ShapeApplied = -1;
  s_WarpPending = false;
}

void PlatInputReset() {
  PlatInputStop();
  std::lock_guard<std::mutex> g(s_Lock);
  s_Handler = nullptr;
  std::memset(s_VkHeld, 0, sizeof s_VkHeld);
  std::memset(s_ScanVk, 0, sizeof s_ScanVk);
  s_CursorWindow = nullptr;
  s_CursorX = s_CursorY = 0;
  s_CursorKnown = false;
  s_WantShown = true;
  s_WantShape = PLAT_CURSOR_ARROW;
  s_JoyInjected = false;
  s_ImagePixels.clear();
  s_ImageW = s_ImageH = s_ImageHotX = s_ImageHotY = 0;
  s_ImageChanged = false;
}
