// The input platform layer, driven with real SDL events (only this test builds them).
#include <SDL.h>
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/input.h"
#include "platform/platform.h"
#include "platform/video.h"

namespace {

std::vector<PlatInputEvent> g_Events;
void Record(const PlatInputEvent* e) { g_Events.push_back(*e); }

struct PlatInputTest : ::testing::Test {
  void SetUp() override {
    PlatInputReset();
    g_Events.clear();
    PlatInputSetHandler(Record);
  }
  void TearDown() override { PlatInputReset(); }
};

SDL_Event KeyEvent(bool down, SDL_Scancode sc, u8 repeat = 0) {
  SDL_Event e{};
  e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
  e.key.keysym.scancode = sc;
  e.key.keysym.sym = SDL_GetKeyFromScancode(sc);
  e.key.repeat = repeat;
  return e;
}

u8 Held(u32 vk) {
  u8 keys[256];
  PlatInputKeyboardState(keys);
  return keys[vk];
}

}  // namespace

TEST(PlatInputKeys, VirtualKeysOfASampleOfKeys) {
  struct Case {
    SDL_Scancode sc;
    i32 keycode;
    u8 vk;
  } cases[] = {
      {SDL_SCANCODE_A, 'a', 0x41},
      {SDL_SCANCODE_Q, 'a', 0x41},  // a French layout: letters follow what the key types
      {SDL_SCANCODE_Z, 0, 0x5A},
      {SDL_SCANCODE_1, '1', 0x31},
      {SDL_SCANCODE_0, '0', 0x30},
      {SDL_SCANCODE_1, '&', 0x31},  // digits stay where they are
      {SDL_SCANCODE_RETURN, '\r', 0x0D},
      {SDL_SCANCODE_KP_ENTER, 0, 0x0D},
      {SDL_SCANCODE_ESCAPE, 0, 0x1B},
      {SDL_SCANCODE_BACKSPACE, 0, 0x08},
      {SDL_SCANCODE_TAB, 0, 0x09},
      {SDL_SCANCODE_SPACE, ' ', 0x20},
      {SDL_SCANCODE_PAGEUP, 0, 0x21},
      {SDL_SCANCODE_LEFT, 0, 0x25},
      {SDL_SCANCODE_DOWN, 0, 0x28},
      {SDL_SCANCODE_DELETE, 0, 0x2E},
      {SDL_SCANCODE_F1, 0, 0x70},
      {SDL_SCANCODE_F12, 0, 0x7B},
      {SDL_SCANCODE_F13, 0, 0x7C},
      {SDL_SCANCODE_F24, 0, 0x87},
      {SDL_SCANCODE_KP_0, 0, 0x60},
      {SDL_SCANCODE_KP_9, 0, 0x69},
      {SDL_SCANCODE_KP_PERIOD, 0, 0x6E},
      {SDL_SCANCODE_NUMLOCKCLEAR, 0, 0x90},
      {SDL_SCANCODE_LSHIFT, 0, 0xA0},
      {SDL_SCANCODE_RCTRL, 0, 0xA3},
      {SDL_SCANCODE_RALT, 0, 0xA5},
      {SDL_SCANCODE_SEMICOLON, ';', 0xBA},
      {SDL_SCANCODE_SLASH, '/', 0xBF},
      {SDL_SCANCODE_GRAVE, '`', 0xC0},
      {SDL_SCANCODE_LEFTBRACKET, '[', 0xDB},
      {SDL_SCANCODE_APOSTROPHE, '\'', 0xDE},
      {SDL_SCANCODE_INTERNATIONAL1, 0, 0xE2},
      {SDL_SCANCODE_INTERNATIONAL3, 0, 0xDC},
      {SDL_SCANCODE_UNKNOWN, 0, 0},
      {SDL_SCANCODE_AC_BACK, 0, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(PlatInputVkFromKey(c.sc, c.keycode), c.vk) << c.sc;
}

TEST_F(PlatInputTest, AKeySharedByTwoKeysIsHeldUntilBothAreUp) {
  struct Step {
    SDL_Scancode sc;
    bool down;
    u8 repeat;
    u32 vk;
    u8 held;  // of vk afterwards
  } steps[] = {
      {SDL_SCANCODE_RETURN, true, 0, 0x0D, 0x80},
      {SDL_SCANCODE_KP_ENTER, true, 0, 0x0D, 0x80},
      {SDL_SCANCODE_RETURN, false, 0, 0x0D, 0x80},
      {SDL_SCANCODE_KP_ENTER, false, 0, 0x0D, 0},
      {SDL_SCANCODE_A, true, 0, 0x41, 0x80},
      {SDL_SCANCODE_A, true, 1, 0x41, 0x80},  // auto-repeat adds no second hold
      {SDL_SCANCODE_A, false, 0, 0x41, 0},
      {SDL_SCANCODE_LSHIFT, true, 0, 0x10, 0x80},
      {SDL_SCANCODE_RSHIFT, true, 0, 0x10, 0x80},
      {SDL_SCANCODE_LSHIFT, false, 0, 0x10, 0x80},
      {SDL_SCANCODE_RSHIFT, false, 0, 0x10, 0},
  };
  for (const Step& s : steps) {
    SDL_Event e = KeyEvent(s.down, s.sc, s.repeat);
    EXPECT_TRUE(PlatInputHandleSdlEvent(&e));
    EXPECT_EQ(Held(s.vk), s.held) << s.sc << (s.down ? " down" : " up");
  }
  ASSERT_EQ(g_Events.size(), std::size(steps));
  EXPECT_EQ(g_Events[5].kind, PLAT_INPUT_KEY_DOWN);
  EXPECT_EQ(g_Events[5].repeat, 1);
  EXPECT_EQ(g_Events[3].kind, PLAT_INPUT_KEY_UP);
  EXPECT_EQ(g_Events[3].vk, 0x0Du);
}

TEST_F(PlatInputTest, ResetForgetsHeldKeysAndTheReleasesThatWouldFollow) {
  SDL_Event down = KeyEvent(true, SDL_SCANCODE_B), up = KeyEvent(false, SDL_SCANCODE_B);
  PlatInputHandleSdlEvent(&down);
  PlatInputKeyboardReset();
  EXPECT_EQ(Held(0x42), 0);
  g_Events.clear();
  PlatInputHandleSdlEvent(&up);  // a release whose press was forgotten
  EXPECT_TRUE(g_Events.empty());
  PlatInputHandleSdlEvent(&down);
  EXPECT_EQ(Held(0x42), 0x80);
  SDL_Event stray = KeyEvent(false, SDL_SCANCODE_C);
  PlatInputHandleSdlEvent(&stray);
  EXPECT_EQ(g_Events.size(), 1u);
}

TEST_F(PlatInputTest, MouseEventsBecomeButtonKeysMovesAndWheelSteps) {
  SDL_Event e{};
  e.type = SDL_MOUSEBUTTONDOWN;
  e.button.button = SDL_BUTTON_RIGHT;
  e.button.x = 12;
  e.button.y = 34;
  PlatInputHandleSdlEvent(&e);
  e.button.button = SDL_BUTTON_MIDDLE;
  PlatInputHandleSdlEvent(&e);
  e.button.button = SDL_BUTTON_X1;  // no key of its own
  PlatInputHandleSdlEvent(&e);
  EXPECT_EQ(Held(2), 0x80);
  EXPECT_EQ(Held(4), 0x80);
  EXPECT_EQ(Held(5), 0);
  e.type = SDL_MOUSEBUTTONUP;
  e.button.button = SDL_BUTTON_RIGHT;
  PlatInputHandleSdlEvent(&e);
  EXPECT_EQ(Held(2), 0);

  struct Wheel {
    i32 x, y;
    u32 direction;
    i32 delta;  // 0: no event
  } wheels[] = {
      {0, 1, SDL_MOUSEWHEEL_NORMAL, 120},
      {0, -2, SDL_MOUSEWHEEL_NORMAL, -240},
      {0, 1, SDL_MOUSEWHEEL_FLIPPED, -120},
      {0, 1000, SDL_MOUSEWHEEL_NORMAL, 32760},  // whole steps: 273 of them fit in 16 bits
      {0, -1000, SDL_MOUSEWHEEL_NORMAL, -32760},
      {3, 0, SDL_MOUSEWHEEL_NORMAL, 0},
  };
  for (const Wheel& w : wheels) {
    g_Events.clear();
    SDL_Event we{};
    we.type = SDL_MOUSEWHEEL;
    we.wheel.x = w.x;
    we.wheel.y = w.y;
    we.wheel.direction = w.direction;
    EXPECT_TRUE(PlatInputHandleSdlEvent(&we));
    if (w.delta == 0) {
      EXPECT_TRUE(g_Events.empty());
    } else {
      ASSERT_EQ(g_Events.size(), 1u);
      EXPECT_EQ(g_Events[0].kind, PLAT_INPUT_WHEEL);
      EXPECT_EQ(g_Events[0].wheel, w.delta);
    }
  }
  g_Events.clear();
  SDL_Event m{};
  m.type = SDL_MOUSEMOTION;
  m.motion.x = -5;
  m.motion.y = 700;
  PlatInputHandleSdlEvent(&m);
  ASSERT_EQ(g_Events.size(), 1u);
  EXPECT_EQ(g_Events[0].kind, PLAT_INPUT_MOUSE_MOVE);
  EXPECT_EQ(g_Events[0].x, -5);
  EXPECT_EQ(g_Events[0].y, 700);
  EXPECT_EQ(g_Events[0].window, nullptr);  // no window of ours has that id
  SDL_Event other{};
  other.type = SDL_CLIPBOARDUPDATE;
  EXPECT_FALSE(PlatInputHandleSdlEvent(&other));
}

TEST_F(PlatInputTest, JoystickAxesMapToTheEngineRangeWithARestingBand) {
  struct Case {
    i16 raw;
    u32 value;
  } cases[] = {
      {0, 32767},     {7999, 32767},  {-7999, 32767}, {8000, 32768},
      {-8000, 32766}, {32767, 65535}, {-32768, 0},    {20384, 32768 + 16384},
  };
  for (const Case& c : cases) EXPECT_EQ(PlatInputJoystickAxis(c.raw), c.value) << c.raw;

  PlatJoyState st;
  EXPECT_FALSE(PlatInputJoystickRead(3, &st));
  EXPECT_EQ(st.x, 32767u);
  EXPECT_EQ(st.buttons, 0u);
  EXPECT_FALSE(PlatInputJoystickRead(-1, &st));
  EXPECT_FALSE(PlatInputJoystickRead(PLAT_JOY_MAX, &st));
  PlatInputJoystickInject(15, true, -32768, 32767, 0x5);
  EXPECT_EQ(PlatInputJoystickStart(), PLAT_JOY_MAX);
  ASSERT_TRUE(PlatInputJoystickRead(15, &st));
  EXPECT_EQ(st.x, 0u);
  EXPECT_EQ(st.y, 65535u);
  EXPECT_EQ(st.buttons, 0x5u);
}

TEST_F(PlatInputTest, PumpNamesTheWindowAndAWarpFromAnotherThreadWaitsForTheSync) {
  ASSERT_EQ(PlatVideoInit(), 0);
  int user = 3;
  PlatWindowDesc d{"w", 0, 0, 200, 100, PLAT_WINDOW_FRAMED | PLAT_WINDOW_SHOWN, &user};
  PlatWindow* w = PlatWindowCreate(&d);
  ASSERT_NE(w, nullptr);
  PlatPollEvents();
  g_Events.clear();
  SDL_Event m{};
  m.type = SDL_MOUSEMOTION;
  m.motion.windowID = SDL_GetWindowID(PlatWindowSdl(w));
  m.motion.x = 40;
  m.motion.y = 50;
  SDL_PushEvent(&m);
  PlatPollEvents();
  ASSERT_EQ(g_Events.size(), 1u);
  EXPECT_EQ(g_Events[0].window, w);
  EXPECT_EQ(g_Events[0].user, &user);

  std::thread t([w] { PlatInputWarpCursor(w, 5, 6); });
  t.join();
  i32 x = -1, y = -1;
  bool known = PlatInputCursorClient(w, &x, &y);
  EXPECT_FALSE(known && x == 5 && y == 6);  // SDL has not been touched off the main thread
  PlatInputSync();
  ASSERT_TRUE(PlatInputCursorClient(w, &x, &y));
  EXPECT_EQ(x, 5);
  EXPECT_EQ(y, 6);
  PlatWindowDestroy(w);
  PlatVideoQuit();
}

// A key and a button held when a message box opens, and let go while it has them: the box's
// modal loop ends with both up for the engine (the device holds neither), and the release that
// may still come to the game window later is no second release.
TEST_F(PlatInputTest, AModalLoopEndsWithWhatTheDeviceLetGoReleased) {
  ASSERT_EQ(PlatVideoInit(), 0);
  PlatWindowDesc d{"w", 0, 0, 200, 100, PLAT_WINDOW_FRAMED | PLAT_WINDOW_SHOWN, nullptr};
  PlatWindow* w = PlatWindowCreate(&d);
  ASSERT_NE(w, nullptr);
  const u32 id = SDL_GetWindowID(PlatWindowSdl(w));
  SDL_Event down = KeyEvent(true, SDL_SCANCODE_A);
  down.key.windowID = id;
  PlatInputHandleSdlEvent(&down);
  SDL_Event b{};
  b.type = SDL_MOUSEBUTTONDOWN;
  b.button.windowID = id;
  b.button.button = SDL_BUTTON_RIGHT;
  PlatInputHandleSdlEvent(&b);
  ASSERT_EQ(Held(0x41), 0x80);
  ASSERT_EQ(Held(2), 0x80);
  // The box is the next window: Return answers it.
  SDL_Event ret{};
  ret.type = SDL_KEYDOWN;
  ret.key.windowID = id + 1;
  ret.key.keysym.sym = SDLK_RETURN;
  SDL_PushEvent(&ret);
  PlatDialogsSetStderr(false);
  EXPECT_EQ(PlatMessageBox("t", "x", PLAT_MB_OK), PLAT_IDOK);
  PlatDialogsSetStderr(true);
  EXPECT_EQ(Held(0x41), 0);
  EXPECT_EQ(Held(2), 0);
  g_Events.clear();
  SDL_Event up = KeyEvent(false, SDL_SCANCODE_A);
  up.key.windowID = id;
  PlatInputHandleSdlEvent(&up);
  EXPECT_TRUE(g_Events.empty()) << "its press is forgotten with it";
  PlatWindowDestroy(w);
  PlatVideoQuit();
}
