#include <gtest/gtest.h>

#include <vector>

#include "display/gpu.h"
#include "display/present.h"
#include "platform/input.h"
#include "platform/platform.h"
#include "script/save.h"
#include "shell/frame.h"
#include "shell/input.h"
#include "shell/menu.h"
#include "shell/window.h"
#include "sound/movie.h"

namespace {

// The main window's platform handle: only ever compared, never opened.
char g_FakeHandleStorage;
PlatWindow* const kHandle = reinterpret_cast<PlatWindow*>(&g_FakeHandleStorage);

enum : u32 { VK_RETURN = 0x0D, VK_SHIFT = 0x10, VK_SPACE = 0x20, VK_LSHIFT = 0xA0, VK_A = 0x41, VK_F24 = 0x87 };

struct InputTest : ::testing::Test {
  WindowObject* main = nullptr;

  void SetUp() override {
    PlatInputReset();
    InputReset();
    InputInstallKeyCallbacks();
    ASSERT_EQ(WinObjsCreate(), 0);
    main = g_WindowObjects[0];
    main->width = 640;
    main->height = 480;
    WinObjSetupScreen(main, "input");
    main->handle = kHandle;
    main->active = 1;
    g_OutputSize = {640, 480};
    g_OutputOffset = {0, 0};
    PlatClockSetFixed(true, 50000);
    Move(10, 10);
    Frame();  // the move itself is one frame of key 7
    Frame();
  }
  void TearDown() override {
    main->handle = nullptr;
    WinReset();
    InputReset();
    PlatInputReset();
    g_OutputSize = {0, 0};
    g_OutputOffset = {0, 0};
    PlatClockSetFixed(false);
  }

  // One turn of the main loop: poll, then a frame at the current time.
  void Frame() {
    InputPoll();
    g_GameClock = PlatTimeMs();
    InputUpdate();
    PlatClockAdvance(16);
  }
  void Send(u32 kind, u32 vk, i32 x = 0, i32 y = 0, i32 wheel = 0) {
    PlatInputEvent e{};
    e.kind = kind;
    e.window = kHandle;
    e.user = main;
    e.vk = vk;
    e.x = x;
    e.y = y;
    e.wheel = wheel;
    PlatInputFeed(&e);
  }
  void Key(u32 vk, bool down) { Send(down ? PLAT_INPUT_KEY_DOWN : PLAT_INPUT_KEY_UP, vk); }
  void Button(u32 vk, bool down, i32 x = 10, i32 y = 10) {
    Send(down ? PLAT_INPUT_BUTTON_DOWN : PLAT_INPUT_BUTTON_UP, vk, x, y);
  }
  void Move(i32 x, i32 y) { Send(PLAT_INPUT_MOUSE_MOVE, 0, x, y); }
  void Wheel(i32 delta) { Send(PLAT_INPUT_WHEEL, 0, 0, 0, delta); }

  // The counters of some keys after each of a run of frames, holding the key for the frames
  // whose flag is set.
  std::vector<i64> Trace(u32 key, const std::vector<bool>& held, u32 read) {
    std::vector<i64> out;
    bool down = false;
    for (bool h : held) {
      if (h != down) Key(key, h);
      down = h;
      Frame();
      out.push_back(g_InputKeyTable.counter[read]);
    }
    return out;
  }
};

CmdArgRecord Args(std::initializer_list<std::pair<int, i64>> given, const char* layer = nullptr) {
  CmdArgRecord a{};
  for (auto [i, v] : given) {
    a.given[i] = 1;
    a.value[i] = v;
  }
  if (layer) a.str[10] = layer;
  return a;
}

}  // namespace

TEST_F(InputTest, HeldThreeFramesCountsUpThenDownWithOnePress) {
  struct Case {
    u32 pressed, read;
  } cases[] = {
      {VK_A, VK_A},
      {VK_RETURN, VK_RETURN},
      {VK_F24, VK_F24},  // the last key of the table's F-key block
      {VK_LSHIFT, VK_LSHIFT},
      {VK_LSHIFT, VK_SHIFT},      // either shift key holds VK_SHIFT
      {VK_SPACE, INPUT_KEY_ANY},  // and every keyboard key the any-key
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.read);
    u64 presses = g_InputKeyTable.presses[c.read];
    EXPECT_EQ(Trace(c.pressed, {true, true, true, false, false}, c.read), (std::vector<i64>{1, 2, 3, -1, -2}));
    EXPECT_EQ(g_InputKeyTable.presses[c.read], presses + 1);
  }
}

TEST_F(InputTest, ATapBetweenTwoFramesIsAOneFramePress) {
  struct Case {
    u32 pressed, read;
    bool button;
  } cases[] = {
      {VK_A, VK_A, false},
      {VK_LSHIFT, VK_SHIFT, false},
      {INPUT_KEY_LBUTTON, INPUT_KEY_LBUTTON, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.read);
    u64 presses = g_InputKeyTable.presses[c.read];
    if (c.button) {
      Button(c.pressed, true);
      Button(c.pressed, false);
    } else {
      Key(c.pressed, true);
      Key(c.pressed, false);
    }
    Frame();
    EXPECT_EQ(g_InputKeyTable.counter[c.read], 1);
    EXPECT_EQ(g_InputKeyTable.presses[c.read], presses + 1);
    Frame();
    EXPECT_EQ(g_InputKeyTable.counter[c.read], -1);
  }
  // A tap while the keyboard is not processed is not kept for later.
  i64 before = g_InputKeyTable.counter[VK_A];
  CmdArgRecord off = Args({{0, 0}}), on = Args({{0, 1}});
  InputProcessingSet(&off);
  Key(VK_A, true);
  Key(VK_A, false);
  Frame();
  InputProcessingSet(&on);
  Frame();
  EXPECT_EQ(g_InputKeyTable.counter[VK_A], before - 1);
}

TEST_F(InputTest, EveryPressCountsAndAKeyNeverPressedCountsDown) {
  Trace(VK_A, {true, false, true, true, false, true}, VK_A);
  EXPECT_EQ(g_InputKeyTable.presses[VK_A], 3u);
  EXPECT_EQ(g_InputKeyTable.counter[VK_A], 1);
  // 'B' was up all along: the setup's two frames and these six.
  EXPECT_EQ(g_InputKeyTable.counter[0x42], -8);
  EXPECT_EQ(g_InputKeyTable.presses[0x42], 0u);
}

TEST_F(InputTest, WithNoWindowActiveEveryKeyReadsReleasedNextFrame) {
  Key(VK_A, true);
  Frame();
  Frame();
  main->active = 0;
  Frame();
  EXPECT_EQ(g_InputKeyTable.counter[VK_A], -1);
  EXPECT_EQ(g_InputKeyTable.counter[INPUT_KEY_ANY], -1);
  EXPECT_EQ(g_InputActiveWindow.load(), -1);
  // The system's key state was cleared too: coming back does not bring the old press back.
  main->active = 1;
  Frame();
  EXPECT_EQ(g_InputKeyTable.counter[VK_A], -2);
}

TEST_F(InputTest, MouseButtonsWheelAndMovementArePseudoKeys) {
  struct Case {
    void (*act)(InputTest*);
    u32 key;
  } cases[] = {
      {[](InputTest* t) { t->Button(INPUT_KEY_LBUTTON, true); }, INPUT_KEY_LBUTTON},
      {[](InputTest* t) { t->Button(INPUT_KEY_RBUTTON, true); }, INPUT_KEY_RBUTTON},
      {[](InputTest* t) { t->Button(INPUT_KEY_MBUTTON, true); }, INPUT_KEY_MBUTTON},
      {[](InputTest* t) { t->Wheel(120); }, INPUT_KEY_WHEEL_UP},
      {[](InputTest* t) { t->Wheel(-240); }, INPUT_KEY_WHEEL_DOWN},
      {[](InputTest* t) { t->Move(30, 40); }, INPUT_KEY_MOUSE_MOVED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    c.act(this);
    Frame();
    EXPECT_EQ(g_InputKeyTable.counter[c.key], 1);
    // A button stays held until released; one wheel step or one move lasts one frame.
    Frame();
    bool button = c.key <= INPUT_KEY_MBUTTON;
    EXPECT_EQ(g_InputKeyTable.counter[c.key], button ? 2 : -1);
    if (button) Button(c.key, false);
    Frame();
    EXPECT_LT(g_InputKeyTable.counter[c.key], 0);
    EXPECT_LT(g_InputKeyTable.counter[INPUT_KEY_ANY], 0);  // the any-key is the keyboard's
  }
}

TEST_F(InputTest, PressesDoNotStartOutsideButOneStartedInsideGoesOn) {
  Move(-300, 10);
  Button(INPUT_KEY_LBUTTON, true, -300, 10);
  Wheel(120);
  Frame();
  EXPECT_EQ(main->outside_extended.load(), 1);
  EXPECT_EQ(g_InputKeyTable.counter[INPUT_KEY_LBUTTON], -3);
  EXPECT_LT(g_InputKeyTable.counter[INPUT_KEY_WHEEL_UP], 0);
  EXPECT_LT(g_InputKeyTable.counter[INPUT_KEY_MOUSE_MOVED], 0);
  Button(INPUT_KEY_LBUTTON, false, -300, 10);
  Move(20, 20);
  Button(INPUT_KEY_LBUTTON, true, 20, 20);
  Frame();
  EXPECT_EQ(g_InputKeyTable.counter[INPUT_KEY_LBUTTON], 1);
  Move(700, 20);
  Frame();
  Frame();
  EXPECT_EQ(g_InputKeyTable.counter[INPUT_KEY_LBUTTON], 3);
  Button(INPUT_KEY_LBUTTON, false, 700, 20);
  Frame();
  EXPECT_EQ(g_InputKeyTable.counter[INPUT_KEY_LBUTTON], -1);
}

TEST_F(InputTest, CursorInGamePixelsWithOutsideFlagsForAScaledWindow) {
  // A 640 x 480 game shown at 1280 x 960 with 100 and 60 pixel bands around it.
  g_OutputSize = {1280, 960};
  g_OutputOffset = {100, 60};
  struct Case {
    i32 cx, cy, gx, gy;
    u8 outside, outside_ext;
  } cases[] = {
      {100, 60, 0, 0, 0, 0},
      {100 + 1279, 60 + 959, 639, 479, 0, 0},
      {100 + 640, 60 + 480, 320, 240, 0, 0},
      {99, 60, -1, 0, 1, 0},   // in the left band
      {100, 59, 0, -1, 1, 0},  // in the top band
      {0, 0, -50, -30, 1, 0},  // the client's corner is the band's corner
      {-1, 60, -51, 0, 1, 1},  // left of the client area
      {100 + 1280 + 99, 60, 689, 0, 1, 0},
      {100 + 1280 + 101, 60, 690, 0, 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.cx << "," << c.cy);
    Move(c.cx, c.cy);
    InputPoll();
    EXPECT_EQ(main->cursor_x.load(), c.gx);
    EXPECT_EQ(main->cursor_y.load(), c.gy);
    EXPECT_EQ(main->outside_screen.load(), c.outside);
    EXPECT_EQ(main->outside_extended.load(), c.outside_ext);
  }
  // A window without a platform window: 0, 0 and outside.
  WindowObject* sub = g_WindowObjects[1];
  sub->cursor_x = 5;
  InputPoll();
  EXPECT_EQ(sub->cursor_x.load(), 0);
  EXPECT_EQ(sub->outside_screen.load(), 1);
  EXPECT_EQ(sub->outside_extended.load(), 1);
}

TEST_F(InputTest, JoystickAxesAndButtonsAreTheirThirtySixKeys) {
  PlatInputJoystickInject(0, true, 0, 0, 0);                    // at rest
  PlatInputJoystickInject(2, true, 32767, -32768, 0x80000001);  // right, up, buttons 1 and 32
  PlatInputJoystickInject(3, true, -32768, 32767, 0);           // left, down
  PlatInputJoystickInject(4, true, 300, -300, 0);               // resting a little off centre
  PlatInputJoystickInject(5, false, 32767, 32767, 0xFF);        // nothing in the slot
  g_JoystickPresent = static_cast<u8>(InputJoystickInit());
  ASSERT_EQ(g_JoystickPresent, 1);
  EXPECT_EQ(g_InputJoystickCount, INPUT_JOY_MAX);
  Frame();
  auto held = [](i32 j) {
    std::vector<u32> keys;
    for (u32 k = 0; k < INPUT_JOY_KEYS; k++)
      if (g_InputKeyTable.counter[INPUT_JOY_FIRST_KEY + INPUT_JOY_KEYS * j + k] > 0) keys.push_back(k);
    return keys;
  };
  EXPECT_EQ(held(0), std::vector<u32>{});
  EXPECT_EQ(held(2), (std::vector<u32>{INPUT_JOY_UP, INPUT_JOY_RIGHT, INPUT_JOY_BUTTON1, INPUT_JOY_BUTTON1 + 31}));
  EXPECT_EQ(held(3), (std::vector<u32>{INPUT_JOY_DOWN, INPUT_JOY_LEFT}));
  EXPECT_EQ(held(4), std::vector<u32>{});
  EXPECT_EQ(held(5), std::vector<u32>{});
  EXPECT_EQ(g_InputJoy[2].ok, 1);
  EXPECT_EQ(g_InputJoy[5].ok, 0);
  EXPECT_EQ(g_InputKeyTable.presses[INPUT_JOY_FIRST_KEY + INPUT_JOY_KEYS * 2 + INPUT_JOY_RIGHT], 1u);
  EXPECT_EQ(g_InputKeyTable.counter[INPUT_KEY_ANY], -3);  // joysticks are not the any-key

  // The stick returns to rest: released. Joystick processing off freezes the counters.
  PlatInputJoystickInject(2, true, 0, 0, 0);
  Frame();
  EXPECT_EQ(g_InputKeyTable.counter[INPUT_JOY_FIRST_KEY + INPUT_JOY_KEYS * 2 + INPUT_JOY_RIGHT], -1);
  CmdArgRecord off = Args({{1, 0}});
  InputProcessingSet(&off);
  PlatInputJoystickInject(2, true, 32767, 0, 0);
  Frame();
  EXPECT_EQ(g_InputKeyTable.counter[INPUT_JOY_FIRST_KEY + INPUT_JOY_KEYS * 2 + INPUT_JOY_RIGHT], -1);
}

TEST_F(InputTest, CursorHidesTwoAndAHalfSecondsAfterAKeyAndMovementShowsIt) {
  Key(VK_A, true);
  Frame();
  u32 pressed = PlatTimeMs() - 16;
  Key(VK_A, false);
  EXPECT_EQ(main->cursor_timer_running.load(), 1);
  EXPECT_EQ(main->cursor_timer_start, pressed);
  while (PlatTimeMs() + 16 < pressed + 2500) {
    Frame();
    ASSERT_TRUE(PlatInputCursorShown()) << PlatTimeMs() - pressed;
  }
  PlatClockAdvance(pressed + 2500 - PlatTimeMs());
  Frame();  // exactly 2500 ms on: not yet
  EXPECT_TRUE(PlatInputCursorShown());
  Frame();
  EXPECT_FALSE(PlatInputCursorShown());
  EXPECT_EQ(g_CursorShown.load(), 0);
  Frame();
  EXPECT_FALSE(PlatInputCursorShown());
  Move(20, 20);
  Frame();
  EXPECT_TRUE(PlatInputCursorShown());
  EXPECT_EQ(main->cursor_timer_running.load(), 0);
  // No key since: the timer stays off and the cursor shown.
  PlatClockAdvance(10000);
  Frame();
  EXPECT_TRUE(PlatInputCursorShown());
}

TEST_F(InputTest, CursorGatesAndModesDecideWhatHidesAndShows) {
  CmdArgRecord gates = Args({{1, 100}, {2, 0}, {3, 1}, {4, 0}});
  InputCursorSet(&gates);
  Key(VK_A, true);
  Frame();
  Key(VK_A, false);
  PlatClockAdvance(200);
  Frame();
  ASSERT_FALSE(PlatInputCursorShown());
  Move(20, 20);  // the move gate is closed
  Wheel(120);    // and so is the wheel's
  Frame();
  EXPECT_FALSE(PlatInputCursorShown());
  Button(INPUT_KEY_RBUTTON, true);
  Frame();
  EXPECT_TRUE(PlatInputCursorShown());
  Button(INPUT_KEY_RBUTTON, false);

  // Mode 0 hides for good, mode 2 shows for good; neither is undone by the timer or the mouse.
  CmdArgRecord hide = Args({{0, INPUT_CURSOR_HIDDEN}});
  InputCursorSet(&hide);
  Button(INPUT_KEY_LBUTTON, true);
  Frame();
  EXPECT_FALSE(PlatInputCursorShown());
  CmdArgRecord show = Args({{0, INPUT_CURSOR_SHOWN}});
  InputCursorSet(&show);
  Key(VK_A, true);
  Frame();
  PlatClockAdvance(5000);
  Frame();
  EXPECT_TRUE(PlatInputCursorShown());
  EXPECT_EQ(g_CursorMode, INPUT_CURSOR_SHOWN);
  CmdArgRecord bad = Args({{0, 3}});
  InputCursorSet(&bad);
  EXPECT_EQ(g_CursorMode, INPUT_CURSOR_SHOWN);
}

TEST_F(InputTest, MouseProcessingOffHidesTheCursorAndFreezesTheMouseKeys) {
  Button(INPUT_KEY_LBUTTON, true);
  Move(20, 20);
  Frame();
  CmdArgRecord off = Args({{2, 0}});
  InputProcessingSet(&off);
  Frame();
  Frame();
  EXPECT_FALSE(PlatInputCursorShown());
  EXPECT_EQ(g_InputKeyTable.counter[INPUT_KEY_LBUTTON], 1);
  CmdArgRecord on = Args({{2, 1}});
  InputProcessingSet(&on);
  Frame();
  EXPECT_TRUE(PlatInputCursorShown());
  EXPECT_EQ(g_InputKeyTable.counter[INPUT_KEY_LBUTTON], 2);

  i64 before = g_InputKeyTable.counter[VK_A];
  CmdArgRecord kb_off = Args({{0, 0}});
  InputProcessingSet(&kb_off);
  Key(VK_A, true);
  Frame();
  EXPECT_EQ(g_InputKeyTable.counter[VK_A], before);
}

TEST_F(InputTest, CursorCommandMovesTheCursorAndPicksShapes) {
  g_OutputSize = {1280, 960};
  g_OutputOffset = {100, 60};
  CmdArgRecord at = Args({{5, 320}, {6, 240}});
  InputCursorSet(&at);
  i32 cx = 0, cy = 0;
  ASSERT_TRUE(PlatInputCursorClient(kHandle, &cx, &cy));
  EXPECT_EQ(cx, 100 + 640);
  EXPECT_EQ(cy, 60 + 480);
  InputPoll();  // and it reads back as the same game pixel
  EXPECT_EQ(main->cursor_x.load(), 320);
  EXPECT_EQ(main->cursor_y.load(), 240);

  struct Case {
    i64 value;
    i32 shape;
  } shapes[] = {{1, PLAT_CURSOR_IBEAM},  {11, PLAT_CURSOR_HAND},  {13, PLAT_CURSOR_HELP},        {0, PLAT_CURSOR_ARROW},
                {14, PLAT_CURSOR_ARROW}, {-5, PLAT_CURSOR_ARROW}, {1LL << 40, PLAT_CURSOR_ARROW}};
  for (const Case& c : shapes) {
    CmdArgRecord a = Args({{7, c.value}});
    InputCursorSet(&a);
    EXPECT_EQ(PlatInputCursorShape(), c.shape) << c.value;
  }
  CmdArgRecord hot = Args({{8, 0x12345}, {9, -1}, {10, 0}}, "cur/arrow");
  EXPECT_EQ(InputCursorSet(&hot), 0);
  EXPECT_EQ(g_CursorHotX, 0x2345);
  EXPECT_EQ(g_CursorHotY, 0xFFFF);
}

TEST_F(InputTest, ForcedVisibleStopsTheTimerOnlyWhenTheEngineHidTheCursor) {
  Key(VK_A, true);
  Frame();
  InputForceCursorVisible();  // shown: nothing to do
  EXPECT_EQ(main->cursor_timer_running.load(), 1);
  EXPECT_EQ(g_CursorOp.load(), INPUT_CURSOR_OP_NONE);
  PlatClockAdvance(3000);
  Frame();
  ASSERT_FALSE(PlatInputCursorShown());
  InputForceCursorVisible();
  EXPECT_EQ(main->cursor_timer_running.load(), 0);
  EXPECT_EQ(g_CursorShown.load(), 1);
  InputApplyCursorVisibility();
  EXPECT_TRUE(PlatInputCursorShown());
}

TEST_F(InputTest, KeyNumbersOutsideTheTableReadZero) {
  Key(VK_A, true);
  Frame();
  struct Case {
    i64 key;
    i64 counter;
  } cases[] = {{VK_A, 1}, {0x42, -3}, {-1, 0}, {INPUT_KEY_COUNT, 0}, {1LL << 40, 0}};
  for (const Case& c : cases) {
    EXPECT_EQ(InputKeyCounter(c.key), c.counter) << c.key;
    EXPECT_EQ(InputKeyPresses(c.key), c.key == VK_A ? 1u : 0u) << c.key;
  }
}
