// The window code driven by platform events injected into the real event pump (dummy video
// driver) and by input events fed to the platform's input layer: close states and the
// confirmation, focus, drops, keys, buttons, the wheel, the cursor in game pixels, the system
// commands, the command window, shapes and the text buffers.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/sjis.h"
#include "core/config.h"
#include "core/sys.h"
#include "display/gpu.h"
#include "display/present.h"
#include "platform/input.h"
#include "platform/platform.h"
#include "platform/video.h"
#include "script/save.h"
#include "shell/frame.h"
#include "shell/input.h"
#include "shell/menu.h"
#include "shell/screen.h"
#include "shell/startup.h"
#include "shell/window.h"
#include "sound/movie.h"

namespace fs = std::filesystem;

namespace {

char g_FakeHandleStorage;

struct WindowTest : ::testing::Test {
  WindowObject* main = nullptr;

  void SetUp() override {
    ResetAll();
    ASSERT_EQ(PlatVideoInit(), 0);
    InputInstallKeyCallbacks();
    PlatClockSetFixed(true, 50000);
    ASSERT_EQ(WinObjsCreate(), 0);
    main = g_WindowObjects[0];
    main->width = 640;
    main->height = 480;
    main->show_after_first_frame = 1;
    WinObjSetupScreen(main, "Game");
    g_WindowOpen[0] = 1;
    ASSERT_EQ(WinCreate(main, "class", main->title), 1);
    Pump();  // what the system says about a new window
  }
  void TearDown() override {
    ResetAll();
    PlatVideoQuit();
    PlatDialogsSetAnswer(0);
    PlatClockSetFixed(false);
  }
  static void ResetAll() {
    WinReset();
    WinScreenReset();
    InputReset();
    PlatInputReset();
    FrameReset();
    g_QuitRequested = 0;
    g_Running = 1;
    g_OutputSize = {0, 0};
    g_OutputOffset = {0, 0};
    g_Maximised = 0;
    g_Fullscreen = 0;
    g_WindowResizable = 0;
    g_RestoreSizePending = 0;
    g_BlockScreenSaver = 0;
    g_ScreenSaverBuild = 0;
    g_MoviePlaying = 0;
    g_MovieMciOpen = 0;
  }
  static void Pump() { WinDispatchMessages(); }
  // A keyboard or mouse event of the main window, as the platform's input layer delivers it.
  void Feed(u32 kind, u32 vk, i32 x = 0, i32 y = 0, i32 wheel = 0) {
    PlatInputEvent e{};
    e.kind = kind;
    e.window = main->handle;
    e.user = main;
    e.vk = vk;
    e.x = x;
    e.y = y;
    e.wheel = wheel;
    PlatInputFeed(&e);
  }
  static void Inject(WindowObject* w, u32 kind, i64 a = 0, i64 b = 0, u32 code = 0) {
    ASSERT_TRUE(PlatInjectEvent(w->handle, kind, code, a, b));
    Pump();
  }
  WindowObject* OpenSub(i32 index, i32 width, i32 height) {
    WindowObject* w = g_WindowObjects[index];
    w->width = width;
    w->height = height;
    WinObjSetupScreen(w, "Sub");
    g_WindowOpen[index] = 1;
    EXPECT_EQ(WinCreate(w, "sub", w->title), 1);
    Pump();
    return w;
  }
};

}  // namespace

TEST_F(WindowTest, CloseButtonFollowsTheCloseStateAndTheAnswer) {
  struct Case {
    u8 state;
    int answer;  // the player's answer to the confirmation, 0 = none asked
    bool closes;
    u8 quits;  // the quit flag
    bool loop_ends;
    u32 close_request;
  } cases[] = {
      {WIN_CLOSE_TELL_SCRIPT, 0, false, 0, false, 1},
      {WIN_CLOSE_CONFIRM, PLAT_IDNO, false, 0, false, 0},
      {WIN_CLOSE_CONFIRM, PLAT_IDYES, true, 1, true, 0},
      {WIN_CLOSE_QUIT, 0, true, 1, true, 0},
      {WIN_CLOSE_ONLY, 0, true, 0, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "state " << int(c.state) << " answer " << c.answer);
    ResetAll();
    ASSERT_EQ(WinObjsCreate(), 0);
    main = g_WindowObjects[0];
    main->width = 320;
    main->height = 200;
    WinObjSetupScreen(main, "Game");
    g_WindowOpen[0] = 1;
    ASSERT_EQ(WinCreate(main, "class", main->title), 1);
    Pump();
    main->close_state = c.state;
    PlatDialogsSetAnswer(c.answer ? c.answer : PLAT_IDNO);
    testing::internal::CaptureStderr();
    Inject(main, PLAT_MSG_CLOSE_REQUEST);
    std::string printed = testing::internal::GetCapturedStderr();
    if (c.answer) {
      EXPECT_NE(printed.find("[message box] Game\n終了します。よろしいですか？"), std::string::npos) << printed;
    } else {
      EXPECT_EQ(printed.find("[message box]"), std::string::npos) << printed;
    }
    EXPECT_EQ(g_FramesHeld.load(), 0) << "the frames go on after the box";
    EXPECT_EQ(main->handle != nullptr, !c.closes);
    EXPECT_EQ(g_WindowOpen[0].load(), c.closes ? -1 : 1);
    EXPECT_EQ(g_QuitRequested.load(), c.quits);
    EXPECT_EQ(g_CloseRequested.load(), c.close_request);
    Pump();  // the quit message, when one was posted
    EXPECT_EQ(g_Running.load() == 0, c.loop_ends);
  }
}

TEST_F(WindowTest, CloseOfASubWindowReportsItsOwnIndex) {
  WindowObject* sub = OpenSub(2, 128, 128);
  sub->close_state = WIN_CLOSE_TELL_SCRIPT;
  Inject(sub, PLAT_MSG_CLOSE_REQUEST);
  EXPECT_EQ(g_CloseRequested.load(), 3u);
  EXPECT_NE(sub->handle, nullptr);
  sub->close_state = WIN_CLOSE_ONLY;
  Inject(sub, PLAT_MSG_CLOSE_REQUEST);
  EXPECT_EQ(sub->handle, nullptr);
  EXPECT_EQ(g_WindowOpen[2].load(), -1);
  EXPECT_EQ(g_WindowOpen[0].load(), 1);
  EXPECT_EQ(g_Running.load(), 1);
  EXPECT_EQ(PlatWindowCount(), 1);
}

TEST_F(WindowTest, SystemQuitEndsTheRunWhateverTheCloseState) {
  main->close_state = WIN_CLOSE_TELL_SCRIPT;  // would keep a close button press for the script
  PlatMsg quit{PLAT_MSG_SYSTEM_QUIT, nullptr, nullptr, 0, 0, 0, nullptr};
  WinMainDispatch(&quit);
  EXPECT_EQ(g_QuitRequested.load(), 1);
  EXPECT_EQ(main->close_state.load(), WIN_CLOSE_QUIT);
  Pump();  // the posted close
  EXPECT_EQ(main->handle, nullptr);
  Pump();  // the quit message
  EXPECT_EQ(g_Running.load(), 0);
}

TEST_F(WindowTest, FocusLossPausesScriptTimersAndReturnShiftsThem) {
  Inject(main, PLAT_MSG_ACTIVATE, 1);  // before any layer root exists: only the flag changes
  EXPECT_EQ(main->active.load(), 1);
  g_ScriptTimers = {{1000, 2000, 3000, 4000}, {1, 1, 0, 1}, {}};
  g_RunInBackground = 0;
  FrameRun();
  EXPECT_EQ(g_InactivePaused.load(), 0);
  Inject(main, PLAT_MSG_ACTIVATE, 0);
  EXPECT_EQ(main->active.load(), 0);
  FrameRun();
  ASSERT_EQ(g_InactivePaused.load(), 1);
  u32 since = g_InactiveSince;
  PlatClockAdvance(700);
  Inject(main, PLAT_MSG_ACTIVATE, 1);
  u32 back = PlatTimeMs();
  FrameRun();
  EXPECT_EQ(g_InactivePaused.load(), 0);
  u32 shift = back - since;
  EXPECT_GE(shift, 700u);
  EXPECT_EQ(g_ScriptTimers.start[0], 1000 + shift);
  EXPECT_EQ(g_ScriptTimers.start[1], 2000 + shift);
  EXPECT_EQ(g_ScriptTimers.start[2], 3000u) << "a stopped timer stays";
  EXPECT_EQ(g_ScriptTimers.start[3], 4000 + shift);

  // Running in the background, focus loss changes nothing.
  g_RunInBackground = 1;
  Inject(main, PLAT_MSG_ACTIVATE, 0);
  FrameRun();
  EXPECT_EQ(g_InactivePaused.load(), 0);
  EXPECT_EQ(g_ScriptTimers.start[0], 1000 + shift);
}

TEST_F(WindowTest, PaintBeforeTheLayerRootsIsHarmless) {
  ASSERT_EQ(main->root_layer, nullptr);
  Inject(main, PLAT_MSG_PAINT);
  Inject(main, PLAT_MSG_ACTIVATE, 1);
  EXPECT_EQ(main->active.load(), 1);
  EXPECT_NE(main->handle, nullptr);
}

TEST_F(WindowTest, TwoFilesAndAFolderDroppedGiveThreeEntries) {
  char tmpl[] = "/tmp/zephra-drop-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  fs::path root = tmpl;
  fs::create_directories(root / "Folder");
  std::ofstream(root / "a.txt") << "a";
  std::ofstream(root / "ファイル.bin") << "b";
  std::vector<std::string> paths{(root / "a.txt").string(), (root / "ファイル.bin").string(),
                                 (root / "Folder").string()};
  ASSERT_TRUE(PlatInjectDrop(main->handle, paths));
  Pump();
  ASSERT_EQ(WinDroppedFileCount(), 3);
  auto windows_style = [](const std::string& native) {
    std::string s = PlatUtf8ToSjis(native);
    std::vector<char> b(s.begin(), s.end());
    b.push_back('\0');
    StrReplaceCharSjis(b.data(), '/', '\\');
    return std::string(b.data());
  };
  char buf[WIN_DROP_PATH_SIZE];
  for (int i = 0; i < 3; i++) {
    ASSERT_EQ(WinDroppedFileCopy(i, buf, sizeof buf), 0);
    EXPECT_EQ(std::string(buf), windows_style(paths[i]) + (i == 2 ? "\\" : "")) << i;
  }
  EXPECT_NE(std::string(buf).find("\\Folder\\"), std::string::npos);
  EXPECT_EQ(WinDroppedFileCopy(3, buf, sizeof buf), -1);
  EXPECT_STREQ(buf, "");

  // The next drop replaces the list; a path too long for an entry is left out, not cut.
  std::string long_path = "/" + std::string(600, 'x');
  ASSERT_TRUE(PlatInjectDrop(main->handle, {long_path, (root / "a.txt").string()}));
  Pump();
  ASSERT_EQ(WinDroppedFileCount(), 1);
  WinDroppedFileCopy(0, buf, sizeof buf);
  EXPECT_EQ(std::string(buf), windows_style((root / "a.txt").string()));
  WinDroppedFilesClear();
  EXPECT_EQ(WinDroppedFileCount(), 0);
  fs::remove_all(root);
}

TEST_F(WindowTest, WheelTurnsReachTheInputUpdateAsMultiplesOf120) {
  for (i32 delta : {120, -120, 360, -240}) {
    g_WheelDelta = 0;
    Feed(PLAT_INPUT_WHEEL, 0, 0, 0, delta);
    EXPECT_EQ(g_WheelDelta.load(), delta);
  }
}

TEST_F(WindowTest, CursorInGamePixelsOfAScaledWindow) {
  // A 640 x 480 game shown at 1280 x 960 with a letterbox of 320 x 60 on each side: the
  // extended area reaches 160 x 30 game pixels beyond the screen.
  g_OutputSize = {1280, 960};
  g_OutputOffset = {320, 60};
  main->active = 1;
  // A handle SDL does not know: the poll then takes the cursor from the events, not from SDL.
  PlatWindow* real = main->handle;
  main->handle = reinterpret_cast<PlatWindow*>(&g_FakeHandleStorage);
  struct Case {
    i32 cx, cy;
    i32 x, y;
    u8 outside, outside_extended;
  } cases[] = {
      {320, 60, 0, 0, 0, 0},      {1599, 1019, 639, 479, 0, 0}, {1600, 1019, 640, 479, 1, 0},
      {960, 540, 320, 240, 0, 0}, {0, 0, -160, -30, 1, 0},      {-4, 0, -162, -30, 1, 1},
      {960, -2, 320, -31, 1, 1},  {1919, 1079, 799, 509, 1, 0}, {1922, 1079, 801, 509, 1, 1},
  };
  for (const Case& c : cases) {
    g_MouseMoved = 0;
    Feed(PLAT_INPUT_MOUSE_MOVE, 0, c.cx, c.cy);
    EXPECT_EQ(g_MouseMoved.load(), 0x80);
    InputPoll();
    EXPECT_EQ(main->cursor_x.load(), c.x) << c.cx << "," << c.cy;
    EXPECT_EQ(main->cursor_y.load(), c.y) << c.cx << "," << c.cy;
    EXPECT_EQ(main->outside_screen.load(), c.outside) << c.cx << "," << c.cy;
    EXPECT_EQ(main->outside_extended.load(), c.outside_extended) << c.cx << "," << c.cy;
  }
  main->handle = real;
}

TEST_F(WindowTest, KeysAndButtonsThroughTheWindowProcedure) {
  enum : u32 { VK_CONTROL = 0x11, VK_MENU = 0x12, VK_A = 0x41, VK_X = 0x58, VK_Y = 0x59, VK_F10 = 0x79 };
  struct Step {
    u32 kind, vk;
    u32 last_key;  // g_LastKeyDown afterwards
  } steps[] = {
      {PLAT_INPUT_KEY_DOWN, VK_A, VK_A},
      {PLAT_INPUT_KEY_UP, VK_A, VK_A},
      {PLAT_INPUT_KEY_DOWN, VK_MENU, VK_A},  // Alt alone is a system key
      {PLAT_INPUT_KEY_DOWN, VK_X, VK_A},     // and so is a key with Alt held
      {PLAT_INPUT_KEY_UP, VK_X, VK_A},
      {PLAT_INPUT_KEY_DOWN, VK_CONTROL, VK_CONTROL},  // with Ctrl down too, keys are plain keys
      {PLAT_INPUT_KEY_DOWN, VK_Y, VK_Y},              // Ctrl+Alt (AltGr) types a key
      {PLAT_INPUT_KEY_UP, VK_Y, VK_Y},
      {PLAT_INPUT_KEY_UP, VK_CONTROL, VK_Y},
      {PLAT_INPUT_KEY_UP, VK_MENU, VK_Y},
      {PLAT_INPUT_KEY_DOWN, VK_F10, VK_Y},
      {PLAT_INPUT_KEY_UP, VK_F10, VK_Y},
      {PLAT_INPUT_KEY_DOWN, VK_X, VK_X},
  };
  for (const Step& st : steps) {
    Feed(st.kind, st.vk);
    EXPECT_EQ(g_LastKeyDown.load(), st.last_key) << st.kind << " " << st.vk;
  }
  for (u32 button : {1u, 4u, 2u}) {
    Feed(PLAT_INPUT_BUTTON_DOWN, button, 5, 5);
    EXPECT_EQ(g_MouseButtonDown.load(), button);
    u8 keys[256];
    PlatInputKeyboardState(keys);
    EXPECT_EQ(keys[button], 0x80) << "handed over to the input state";
    Feed(PLAT_INPUT_BUTTON_UP, button, 5, 5);
  }
  EXPECT_EQ(g_DragWindow.load(), 0) << "no drag map, no drag";
}

TEST_F(WindowTest, MinimiseAndMaximiseFollowTheWindowOptions) {
  Inject(main, PLAT_MSG_MINIMIZE);
  EXPECT_EQ(g_MinimiseRequested.load(), 1u);
  EXPECT_TRUE(PlatWindowMinimized(main->handle));
  Inject(main, PLAT_MSG_RESTORE);  // back from the icon: no frame change, no size restore
  EXPECT_EQ(g_RestoreSizePending, 0);
  main->minimise_allowed = 0;
  Inject(main, PLAT_MSG_MINIMIZE);
  EXPECT_FALSE(PlatWindowMinimized(main->handle)) << "taken back";

  // A fixed-size main window gets the thick frame while maximised and loses it on restore.
  ASSERT_EQ(WinGetStyle(main) & WIN_WS_THICKFRAME, 0u);
  g_MaximiseRequested = 0;
  Inject(main, PLAT_MSG_MAXIMIZE);
  EXPECT_EQ(g_MaximiseRequested.load(), 1u);
  EXPECT_EQ(g_Maximised.load(), 1);
  EXPECT_NE(WinGetStyle(main) & WIN_WS_THICKFRAME, 0u);
  // The restore is carried out as it is reported: the sizes of before the maximise come back.
  g_DisplaySize = SizeI32{1024, 768};
  g_OutputSize = SizeI32{1024, 768};
  Inject(main, PLAT_MSG_RESTORE);
  EXPECT_EQ(WinGetStyle(main) & WIN_WS_THICKFRAME, 0u);
  EXPECT_EQ(g_RestoreSizePending, 0);
  EXPECT_EQ(g_Maximised.load(), 0);
  EXPECT_EQ(g_DisplaySize.load().width, 640);
  EXPECT_EQ(g_OutputSize.load().height, 480);

  // A resizable one keeps its frame.
  g_RestoreSizePending = 0;
  g_WindowResizable = 1;
  WinSetStyle(main, WinGetStyle(main) | WIN_WS_THICKFRAME);
  Inject(main, PLAT_MSG_MAXIMIZE);
  Inject(main, PLAT_MSG_RESTORE);
  EXPECT_NE(WinGetStyle(main) & WIN_WS_THICKFRAME, 0u);

  // A sub window's maximise does not act: it is reported and taken back.
  WindowObject* sub = OpenSub(3, 64, 64);
  g_Maximised = 0;
  Inject(sub, PLAT_MSG_MAXIMIZE);
  EXPECT_EQ(g_MaximiseRequested.load(), 4u);
  EXPECT_EQ(g_Maximised.load(), 0);
  EXPECT_EQ(WinGetStyle(sub) & WIN_WS_THICKFRAME, 0u);
}

TEST_F(WindowTest, SystemCommandsWithoutAPlatformEvent) {
  struct Case {
    u32 command;
    u8 block_saver, saver_build;
    i32 swallowed;
  } cases[] = {
      {WIN_SC_SIZE_RESET, 0, 0, 1},
      {WIN_SC_SCREENSAVE, 0, 0, 0},
      {WIN_SC_SCREENSAVE, 1, 0, 1},
      {WIN_SC_SCREENSAVE, 1, 1, 0},  // a screen saver lets itself start
      {0xF100, 0, 0, 0},             // the keyboard menu: the system's own
  };
  for (const Case& c : cases) {
    g_BlockScreenSaver = c.block_saver;
    g_ScreenSaverBuild = c.saver_build;
    EXPECT_EQ(WinOnSysCommand(main, c.command), c.swallowed) << c.command;
  }
  EXPECT_EQ(g_MenuCommandId.load(), static_cast<u32>(WIN_SC_SIZE_RESET));
}

TEST_F(WindowTest, KeysAndSystemKeys) {
  struct Case {
    u32 vk;
    bool system;
    i32 swallowed;
    u32 last;
  } cases[] = {
      {0x41, false, 0, 0x41}, {0x79, false, 0, 0x79},  // F10 without the system meaning is a key like any
      {0x79, true, 1, 0x79},  {0x12, true, 1, 0x79},
      {0xA4, true, 1, 0x79},  {0x73, true, 0, 0x79},  // Alt+F4 goes its own way
      {0x0D, false, 0, 0x0D},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WinOnKeyDown(main, c.vk, c.system), c.swallowed) << c.vk;
    EXPECT_EQ(g_LastKeyDown.load(), c.last) << c.vk;
  }
}

TEST_F(WindowTest, CommandWindowKeepsTheLastMenuCommand) {
  ASSERT_EQ(WinCommandCreate(), 0);
  EXPECT_EQ(g_CommandWindow.created, 1);
  EXPECT_EQ(g_CommandWindow.width, 640);
  EXPECT_EQ(g_CommandWindow.height, g_MenuBarHeight);
  EXPECT_GT(g_MenuBarHeight, 0);
  ASSERT_TRUE(PlatPostMessage(WIN_MSG_COMMAND, 0x12345, WIN_TARGET_COMMAND));
  Pump();
  EXPECT_EQ(g_MenuCommandId.load(), 0x2345u) << "the low word";
  EXPECT_EQ(WinCommandProc(0x0112, WIN_SC_CLOSE), 1);
  EXPECT_EQ(WinCommandProc(0x0112, WIN_SC_MINIMIZE), 0);
  // A menu command to the main window lands in the same place.
  PlatPostMessage(WIN_MSG_COMMAND, 77, 0);
  Pump();
  EXPECT_EQ(g_MenuCommandId.load(), 77u);
  WinCommandDestroy();
  PlatPostMessage(WIN_MSG_COMMAND, 5, WIN_TARGET_COMMAND);
  Pump();
  EXPECT_EQ(g_MenuCommandId.load(), 77u) << "gone with the command window";
}

TEST_F(WindowTest, FinishedMciMovieEndsPlayback) {
  g_MovieMciOpen = 1;
  g_MoviePlaying = 1;
  PlatPostMessage(WIN_MSG_MCI_NOTIFY, 2, 0);  // aborted or superseded: still playing
  Pump();
  EXPECT_EQ(g_MoviePlaying, 1);
  PlatPostMessage(WIN_MSG_MCI_NOTIFY_ALT, 1, 0);
  Pump();
  EXPECT_EQ(g_MoviePlaying, 0);
  g_MovieMciOpen = 0;
  g_MoviePlaying = 1;
  PlatPostMessage(WIN_MSG_MCI_NOTIFY, 1, 0);
  Pump();
  EXPECT_EQ(g_MoviePlaying, 1) << "only while the movie is open";
}

TEST_F(WindowTest, TitlesAndMenuNamesAreCutAtAWholeCharacter) {
  const std::string kanji = "\x8A\xBF";  // 漢
  struct Case {
    size_t ascii;
    size_t kept;  // bytes kept of ascii + kanji + "z"
  } title_cases[] = {{260, 262}, {261, 261}, {0, 20}};
  for (const Case& c : title_cases) {
    std::string t = std::string(c.ascii, 'a') + kanji + "zzzzzzzzzzzzzzzzzz";
    WinSetTitle(main, t.c_str());
    EXPECT_EQ(std::strlen(main->title), c.kept) << c.ascii;
    EXPECT_EQ(std::string(main->title), t.substr(0, c.kept));
  }
  std::string m = std::string(254, 'm') + kanji;
  WinSetMenuName(main, m.c_str());
  EXPECT_EQ(std::string(main->menu_name), std::string(254, 'm'));
  // The object's title is cut the same way when a window is set up.
  WindowObject* sub = g_WindowObjects[1];
  std::string t = std::string(261, 'b') + kanji;
  WinObjSetupScreen(sub, t.c_str());
  EXPECT_EQ(std::string(sub->title), std::string(261, 'b'));
}

TEST(WindowRegion, RunsOfNonBlackPixelsRowByRow) {
  const u32 K = 0xFF000000u, W = 0xFFFFFFFFu, R = 0xFF0000FFu;
  struct Case {
    i32 width, height;
    std::vector<u32> pixels;
    std::vector<WinRect> rects;
  } cases[] = {
      {3, 2, {K, K, K, K, K, K}, {}},
      {3, 1, {W, W, W}, {{0, 0, 3, 1}}},
      {5, 2, {W, K, R, R, K, K, K, K, K, W}, {{0, 0, 1, 1}, {2, 0, 4, 1}, {4, 1, 5, 2}}},
      {2, 2, {0x00000000u, K, K, 0x01000000u}, {{0, 0, 1, 1}, {1, 1, 2, 2}}},  // black with another alpha is no hole
  };
  for (const Case& c : cases) {
    WinShapeBitmap bm{const_cast<u32*>(c.pixels.data()), c.width, c.height};
    std::vector<WinRect> out;
    ASSERT_EQ(WinRegionFromBitmap(&bm, &out), static_cast<i32>(c.rects.size()));
    ASSERT_EQ(out.size(), c.rects.size());
    for (size_t i = 0; i < out.size(); i++) {
      EXPECT_EQ(out[i].left, c.rects[i].left);
      EXPECT_EQ(out[i].top, c.rects[i].top);
      EXPECT_EQ(out[i].right, c.rects[i].right);
      EXPECT_EQ(out[i].bottom, c.rects[i].bottom);
    }
  }
}

TEST(WindowRegion, GivesUpAtTwoThousandRectangles) {
  // Rows of one white and one black pixel: one run per row. 1999 runs fit, 2000 do not.
  for (i32 runs : {1999, 2000}) {
    std::vector<u32> px(static_cast<size_t>(runs) * 2, 0xFF000000u);
    for (i32 i = 0; i < runs; i++) px[static_cast<size_t>(i) * 2] = 0xFFFFFFFFu;
    WinShapeBitmap bm{px.data(), 2, runs};
    std::vector<WinRect> out;
    i32 n = WinRegionFromBitmap(&bm, &out);
    if (runs == 1999) {
      EXPECT_EQ(n, 1999);
    } else {
      EXPECT_EQ(n, -1);
      EXPECT_TRUE(out.empty());
    }
  }
}

TEST_F(WindowTest, ShapeBitmapIsOpaqueAndTheWindowStaysWhenShapesAreMissing) {
  // B, G, R, A: a transparent red pixel, an opaque black one, a black one with alpha 0.
  const u8 px[] = {0, 0, 255, 0, 0, 0, 0, 255, 0, 0, 0, 0};
  PlatWindow* before = main->handle;
  i32 r = WinSetShapeFromImage(main, px, 3, 1);
  ASSERT_NE(g_ShapeBitmap.pixels, nullptr);
  EXPECT_EQ(g_ShapeBitmap.pixels[0], 0xFFFF0000u);
  EXPECT_EQ(g_ShapeBitmap.pixels[1], 0xFF000000u);
  EXPECT_EQ(g_ShapeBitmap.pixels[2], 0xFF000000u) << "every alpha byte becomes 255";
  std::vector<WinRect> rects;
  EXPECT_EQ(WinRegionFromBitmap(&g_ShapeBitmap, &rects), 1);
  // The dummy video driver cannot shape windows: the call fails and the window is untouched.
  EXPECT_EQ(r, -1);
  EXPECT_EQ(main->handle, before);
  EXPECT_FALSE(PlatWindowShaped(main->handle));
  EXPECT_EQ(PlatWindowCount(), 1);
  EXPECT_EQ(WinSetShapeFromImage(main, nullptr, 3, 1), -1);
  EXPECT_EQ(g_ShapeBitmap.pixels, nullptr);
}

TEST_F(WindowTest, OpacityAndFlashingSayWhenTheSystemCannot) {
  // The dummy driver has neither; a display server has both (the X11 tests).
  main->opacity = 300;
  testing::internal::CaptureStderr();
  EXPECT_EQ(WinApplyOpacity(main), -1);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("SetLayeredWindowAttributes Error."), std::string::npos);
  EXPECT_EQ(WinFlash(main, 3, 0), -1);
}

TEST_F(WindowTest, StylesOfTheFramesAndTheBorderlessMainWindow) {
  u32 framed = WIN_WS_CAPTION | WIN_WS_SYSMENU | WIN_WS_MINIMIZEBOX | WIN_WS_MAXIMIZEBOX;
  EXPECT_EQ(WinGetStyle(main) & (framed | WIN_WS_POPUP | WIN_WS_THICKFRAME), framed);
  EXPECT_EQ(WinGetStyle(main) & WIN_WS_VISIBLE, 0u) << "shown after the first frame";
  WinSetStyle(main, WIN_WS_POPUP);
  EXPECT_EQ(WinGetStyle(main) & (framed | WIN_WS_POPUP), WIN_WS_POPUP);
  i32 ew = -1, eh = -1;
  WinRectFromClient(main, &ew, &eh);
  EXPECT_GE(ew, 0);
  EXPECT_GE(eh, 0);
  // A borderless main window is a visible popup from the start; a resizable one has the
  // thick frame.
  struct Case {
    u8 framed, resizable;
    u32 want;
  } cases[] = {{0, 0, WIN_WS_POPUP | WIN_WS_VISIBLE}, {1, 1, framed | WIN_WS_THICKFRAME}, {1, 0, framed}};
  for (const Case& c : cases) {
    WinDestroyAll();
    g_WindowFramed = c.framed;
    g_WindowResizable = c.resizable;
    ASSERT_EQ(WinCreate(main, "class", "T"), 1);
    EXPECT_EQ(WinGetStyle(main) & (framed | WIN_WS_POPUP | WIN_WS_THICKFRAME | WIN_WS_VISIBLE), c.want);
  }
  g_WindowFramed = 1;
  g_WindowResizable = 0;
}
