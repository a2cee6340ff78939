// The text-entry window: typed text arrives as SDL events queued before it opens (the test learns
// the id the window will get from a window made and closed just before), so no timing is involved.
#include <SDL.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "platform/video.h"

namespace {

struct InputDialogTest : ::testing::Test {
  void SetUp() override {
    ASSERT_EQ(PlatVideoInit(), 0);
    PlatDialogsSetStderr(false);
  }
  void TearDown() override {
    PlatDialogsSetStderr(true);
    PlatVideoQuit();
  }
  // The id the next system window gets.
  static u32 NextWindowId() {
    PlatWindowDesc d{"probe", 0, 0, 10, 10, PLAT_WINDOW_FRAMED, nullptr};
    PlatWindow* w = PlatWindowCreate(&d);
    EXPECT_NE(w, nullptr);
    u32 id = SDL_GetWindowID(PlatWindowSdl(w));
    PlatWindowDestroy(w);
    return id + 1;
  }
  static void Text(u32 id, const char* utf8) {
    SDL_Event e{};
    e.type = SDL_TEXTINPUT;
    e.text.windowID = id;
    SDL_strlcpy(e.text.text, utf8, sizeof e.text.text);
    SDL_PushEvent(&e);
  }
  static void Key(u32 id, SDL_Keycode k) {
    SDL_Event e{};
    e.type = SDL_KEYDOWN;
    e.key.windowID = id;
    e.key.keysym.sym = k;
    SDL_PushEvent(&e);
  }
  static void Close(u32 id) {
    SDL_Event e{};
    e.type = SDL_WINDOWEVENT;
    e.window.windowID = id;
    e.window.event = SDL_WINDOWEVENT_CLOSE;
    SDL_PushEvent(&e);
  }
};

const std::string kKan = "\x8a\xbf";  // 漢 in Shift-JIS

}  // namespace

TEST_F(InputDialogTest, TypedTextWithBackspaceAndNoCancel) {
  const u32 id = NextWindowId();
  SDL_StartTextInput();
  Close(id);             // ignored: the window cannot be cancelled
  Key(id, SDLK_ESCAPE);  // likewise
  Text(id + 50, "zz");   // another window's typing is dropped
  Text(id, "ab");
  Text(id, "漢字");
  Key(id, SDLK_BACKSPACE);  // removes the whole last character
  Text(id, "c");
  Key(id, SDLK_RETURN);
  char out[4096];
  ASSERT_EQ(PlatInputDialog("Ask", "name?", "x", 0, out, sizeof out), 0);
  EXPECT_EQ(std::string(out), "xab" + kKan + "c");
}

TEST_F(InputDialogTest, LengthLimitKeepsWholeCharacters) {
  const u32 id = NextWindowId();
  SDL_StartTextInput();
  Text(id, "ab");
  Text(id, "漢字");  // the limit of 5 bytes keeps 漢 and refuses the half of 字
  Text(id, "d");     // one more byte still fits
  Key(id, SDLK_KP_ENTER);
  char out[4096];
  ASSERT_EQ(PlatInputDialog("Ask", "", "", 5, out, sizeof out), 0);
  EXPECT_EQ(std::string(out), "ab" + kKan + "d");
}

// The limit holds typing only: an initial text above it is kept whole and takes no more
// characters until it is shortened below the limit.
TEST_F(InputDialogTest, LengthLimitLeavesTheInitialTextWhole) {
  const u32 id = NextWindowId();
  SDL_StartTextInput();
  Text(id, "x");  // refused: 4 bytes already
  Key(id, SDLK_BACKSPACE);
  Text(id, "y");  // refused: 3 bytes fill the limit
  Key(id, SDLK_RETURN);
  char out[4096];
  ASSERT_EQ(PlatInputDialog("Ask", "", "abcd", 3, out, sizeof out), 0);
  EXPECT_EQ(std::string(out), "abc");
}

TEST_F(InputDialogTest, StderrSinkPrintsAndTakesTheInitialText) {
  PlatDialogsSetStderr(true);
  testing::internal::CaptureStderr();
  char out[16] = "junk";
  ASSERT_EQ(PlatInputDialog("Title", "Prompt", "init", 0, out, sizeof out), 0);
  std::string printed = testing::internal::GetCapturedStderr();
  EXPECT_NE(printed.find("Title"), std::string::npos);
  EXPECT_NE(printed.find("Prompt"), std::string::npos);
  EXPECT_STREQ(out, "init");
  // Not cut to the length limit, which holds only what is typed; cut on a whole character to
  // what the answer can hold.
  testing::internal::CaptureStderr();
  ASSERT_EQ(PlatInputDialog("Title", "Prompt", ("ab" + kKan).c_str(), 3, out, sizeof out), 0);
  EXPECT_STREQ(out, ("ab" + kKan).c_str());
  char small[5];
  ASSERT_EQ(PlatInputDialog("Title", "Prompt", ("abc" + kKan).c_str(), 0, small, sizeof small), 0);
  testing::internal::GetCapturedStderr();
  EXPECT_STREQ(small, "abc");
}

// Message boxes answered from the keyboard: Enter presses the focused button (at first the
// default one), Tab and the arrows move the focus round the buttons, an underlined letter presses
// its button, Escape and the close button answer Cancel, and Escape answers OK when it is the only
// button.
TEST_F(InputDialogTest, MessageBoxKeys) {
  struct Case {
    u32 style;
    std::vector<SDL_Keycode> keys;  // 0 stands for the close button
    int answer;
  } cases[] = {
      {PLAT_MB_YESNOCANCEL | PLAT_MB_DEFBUTTON2, {SDLK_RETURN}, PLAT_IDNO},
      {PLAT_MB_YESNOCANCEL | PLAT_MB_DEFBUTTON2, {SDLK_TAB, SDLK_RETURN}, PLAT_IDCANCEL},
      {PLAT_MB_YESNOCANCEL, {SDLK_LEFT, SDLK_RETURN}, PLAT_IDCANCEL},                      // round from the first
      {PLAT_MB_YESNO, {SDLK_ESCAPE, 0, SDLK_RIGHT, SDLK_RIGHT, SDLK_RETURN}, PLAT_IDYES},  // no Cancel: ignored
      {PLAT_MB_YESNO, {SDLK_n}, PLAT_IDNO},
      {PLAT_MB_OKCANCEL, {SDLK_ESCAPE}, PLAT_IDCANCEL},
      {PLAT_MB_OK, {0}, PLAT_IDCANCEL},
      {PLAT_MB_OK, {SDLK_ESCAPE}, PLAT_IDOK},
      {PLAT_MB_YESNOCANCEL | PLAT_MB_DEFBUTTON3, {SDLK_SPACE}, PLAT_IDCANCEL},
  };
  for (const Case& c : cases) {
    const u32 id = NextWindowId();
    for (SDL_Keycode k : c.keys) {
      if (k == 0) Close(id);
      else Key(id, k);
    }
    EXPECT_EQ(PlatMessageBox("t", "\x8f\x49\x97\xb9", c.style), c.answer) << std::hex << c.style;  // 終了
  }
}

// A box asked for before the program started its video (the compiler's box, a message at the very
// start) starts the video for itself, is answered, and leaves the video stopped again.
TEST(DialogBeforeVideo, BoxIsAnsweredAndTheVideoStoppedAgain) {
  ASSERT_FALSE(PlatVideoReady());
  PlatDialogsSetStderr(false);
  std::atomic<bool> done{false};
  std::thread keys([&] {
    // The box is the first window of the fresh video: id 1.
    int i = 0;
    for (; i < 2000 && !done && !SDL_WasInit(SDL_INIT_EVENTS); i++) SDL_Delay(10);
    InputDialogTest::Key(1, SDLK_RETURN);
    for (; i < 2000 && !done; i++) SDL_Delay(10);
    if (!done) {
      std::fprintf(stderr, "the box never took its Return\n");
      std::_Exit(1);
    }
  });
  const int answer = PlatMessageBox("title", "text", PLAT_MB_OKCANCEL);
  done = true;
  keys.join();
  PlatDialogsSetStderr(true);
  EXPECT_EQ(answer, PLAT_IDOK);
  EXPECT_FALSE(PlatVideoReady());
}
