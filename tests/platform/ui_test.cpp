// The own-drawn dialogs' and menus' arithmetic: labels, wrapping, rectangles and hit tests.
#include <gtest/gtest.h>

#include "platform/ui.h"

namespace {

i32 Ten(char32_t) { return 10; }

std::string Narrow(const std::u32string& s) {
  std::string o;
  for (char32_t c : s) o.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return o;
}

}  // namespace

TEST(PlatUi, LabelsFollowTheAmpersandAndTabRules) {
  struct Case {
    const char* in;
    const char* left;
    const char* right;
    i32 underline;
  } cases[] = {
      {"&File", "File", "", 0},
      {"Save &As", "Save As", "", 5},
      {"a&&b", "a&b", "", -1},
      {"&&&x", "&x", "", 1},
      {"Open\tCtrl+&O", "Open", "Ctrl+O", -1},  // only the left column underlines
      {"end&", "end", "", -1},
      {"x&y&z", "xyz", "", 1},  // the first marked character wins
      {"a\tb\tc", "a", "b\tc", -1},
  };
  for (const Case& c : cases) {
    PlatUiLabel l = PlatUiParseLabel(c.in);
    EXPECT_EQ(Narrow(l.left), c.left) << c.in;
    EXPECT_EQ(Narrow(l.right), c.right) << c.in;
    EXPECT_EQ(l.underline, c.underline) << c.in;
  }
  PlatUiLabel j = PlatUiParseLabel("はい(&Y)");
  EXPECT_EQ(j.left.size(), 5u);
  EXPECT_EQ(j.left[3], U'Y');
  EXPECT_EQ(j.underline, 3);
  EXPECT_EQ(PlatUiDecodeUtf8("\xE3\x81"), (std::u32string{0xFFFD, 0xFFFD}))
      << "a cut sequence never reads past the end";
}

TEST(PlatUi, WrapBreaksAtLineEndsAndBeforeTheWidth) {
  struct Case {
    const char32_t* in;
    i32 width;
    std::vector<std::string> lines;
  } cases[] = {
      {U"abc\r\ndef", 100, {"abc", "def"}},
      {U"abc\n\ndef", 100, {"abc", "", "def"}},
      {U"abcdef", 30, {"abc", "def"}},
      {U"abcdefg", 30, {"abc", "def", "g"}},
      {U"abc", 5, {"a", "b", "c"}},  // a character wider than the line still takes one line
      {U"", 30, {""}},
  };
  for (const Case& c : cases) {
    std::vector<std::u32string> got = PlatUiWrap(c.in, c.width, Ten);
    std::vector<std::string> narrow;
    for (const auto& l : got) narrow.push_back(Narrow(l));
    EXPECT_EQ(narrow, c.lines) << Narrow(c.in);
  }
}

TEST(PlatUi, DialogButtonsSitRightAlignedInTheBandAndHitTestAsLaidOut) {
  for (bool edit : {false, true}) {
    for (size_t n = 1; n <= 3; n++) {
      std::vector<i32> labels(n, 40);
      labels[0] = 120;  // a long label widens its button only
      PlatUiDialogLayout l = PlatUiLayoutDialog(300, 32, labels, edit, 16);
      ASSERT_EQ(l.buttons.size(), n);
      EXPECT_GE(l.width, UI_DIALOG_MIN_WIDTH);
      EXPECT_EQ(l.buttons.back().right, l.width - UI_DIALOG_MARGIN);
      EXPECT_EQ(l.buttons[0].right - l.buttons[0].left, 136);
      for (size_t i = 0; i < n; i++) {
        const PlatRect& b = l.buttons[i];
        EXPECT_GE(b.top, l.band.top);
        EXPECT_LE(b.bottom, l.band.bottom);
        EXPECT_GE(b.left, UI_DIALOG_MARGIN);
        if (i) {
          EXPECT_EQ(b.left, l.buttons[i - 1].right + UI_BUTTON_GAP);
        }
        EXPECT_EQ(PlatUiHitTest(l.buttons, (b.left + b.right) / 2, (b.top + b.bottom) / 2), static_cast<i32>(i));
        EXPECT_EQ(PlatUiHitTest(l.buttons, b.right, b.top), -1) << "the right edge is outside";
      }
      EXPECT_EQ(PlatUiHitTest(l.buttons, l.text.left, l.text.top), -1);
      EXPECT_EQ(l.band.bottom, l.height);
      if (edit) {
        EXPECT_GT(l.edit.top, l.text.bottom);
        EXPECT_LT(l.edit.bottom, l.band.top);
        EXPECT_GE(l.edit.right - l.edit.left, UI_EDIT_WIDTH);
      } else {
        EXPECT_EQ(l.edit.right, 0);
      }
    }
  }
  // A wide text widens the dialog; the buttons follow the right edge.
  PlatUiDialogLayout wide = PlatUiLayoutDialog(500, 16, {40}, false, 16);
  EXPECT_EQ(wide.width, 500 + 2 * UI_DIALOG_MARGIN);
}
