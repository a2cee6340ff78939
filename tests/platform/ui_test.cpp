// The own-drawn dialogs' and menus' arithmetic: labels, wrapping, rectangles and hit tests.
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/ui.h"

namespace {

i32 Ten(char32_t) { return 10; }

PlatUiDialogLayout Lay(i32 text_width, i32 text_height, std::vector<i32> labels, bool edit, i32 line_height) {
  PlatUiDialogSpec spec;
  spec.text_width = text_width;
  spec.text_height = text_height;
  spec.label_widths = std::move(labels);
  spec.with_edit = edit;
  spec.line_height = line_height;
  return PlatUiLayoutDialog(spec);
}

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

TEST(PlatUi, WrapBreaksAtLineEndsAndBetweenWordsBeforeTheWidth) {
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
      {U"ab cd ef", 50, {"ab cd", "ef"}},      // the blank at the edge goes
      {U"abc defg", 60, {"abc", "defg"}},      // the word moves down whole
      {U"abcdefgh ij", 50, {"abcde", "fgh", "ij"}},
      {U"ab  \u3042\u3044\u3046", 50, {"ab  ?", "??"}},  // kana break anywhere (? in Narrow)
      {U"x \u3042\u3044yz", 40, {"x ??", "yz"}},
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
      PlatUiDialogLayout l = Lay(300, 32, labels, edit, 16);
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
  PlatUiDialogLayout wide = Lay(500, 16, {40}, false, 16);
  EXPECT_EQ(wide.width, 500 + 2 * UI_DIALOG_MARGIN);
}

// A dialog is at least as wide as its caption needs, never taller than it may be (a longer text
// shows whole lines beside a scroll bar), and an icon stands left of the text, which a short
// text meets at its middle.
TEST(PlatUi, DialogSizeFollowsCaptionScreenAndIcon) {
  PlatUiDialogSpec spec;
  spec.text_width = 100;
  spec.text_height = 16;
  spec.label_widths = {40};
  spec.line_height = 16;
  spec.min_width = 400;
  PlatUiDialogLayout l = PlatUiLayoutDialog(spec);
  EXPECT_EQ(l.width, 400);
  EXPECT_EQ(l.buttons.back().right, 400 - UI_DIALOG_MARGIN);

  spec.min_width = 0;
  spec.text_height = 16 * 100;  // a hundred lines
  spec.max_height = 500;
  l = PlatUiLayoutDialog(spec);
  EXPECT_LE(l.height, 500);
  EXPECT_GT(l.height, 500 - 16) << "it takes what it may, to a whole line";
  ASSERT_GT(l.visible_lines, 1);
  EXPECT_EQ(l.text.bottom - l.text.top, l.visible_lines * 16);
  EXPECT_EQ(l.scrollbar.left, l.text.right + UI_SCROLLBAR_GAP);
  EXPECT_EQ(l.scrollbar.right - l.scrollbar.left, UI_SCROLLBAR_WIDTH);
  EXPECT_EQ(l.scrollbar.top, l.text.top);
  EXPECT_EQ(l.scrollbar.bottom, l.text.bottom);
  EXPECT_LE(l.scrollbar.right, l.width - UI_DIALOG_MARGIN);
  spec.max_height = 5000;  // room enough: no scroll bar
  l = PlatUiLayoutDialog(spec);
  EXPECT_EQ(l.scrollbar.right, 0);
  EXPECT_EQ(l.text.bottom - l.text.top, 1600);

  spec.max_height = 0;
  spec.text_height = 16;
  spec.icon = true;
  l = PlatUiLayoutDialog(spec);
  EXPECT_EQ(l.icon.left, UI_DIALOG_MARGIN);
  EXPECT_EQ(l.icon.right - l.icon.left, UI_ICON_SIZE);
  EXPECT_EQ(l.text.left, l.icon.right + UI_ICON_GAP);
  EXPECT_EQ(l.text.top + l.text.bottom, l.icon.top + l.icon.bottom) << "one line at the icon's middle";
  EXPECT_GE(l.band.top, l.icon.bottom + UI_DIALOG_MARGIN);
}

TEST(PlatUi, ScrollThumbFollowsTheFirstLineAndADragComesBack) {
  const PlatRect bar{0, 100, 17, 400};  // 300 rows
  EXPECT_EQ(PlatUiScrollThumb(bar, 10, 20, 0).bottom, 400) << "everything shows: the whole bar";
  PlatRect top = PlatUiScrollThumb(bar, 100, 25, 0);
  EXPECT_EQ(top.top, 100);
  EXPECT_EQ(top.bottom - top.top, 75);
  EXPECT_EQ(PlatUiScrollThumb(bar, 100, 25, 75).bottom, 400);
  EXPECT_EQ(PlatUiScrollThumb(bar, 100, 25, 500).bottom, 400) << "past the end stays at the end";
  EXPECT_EQ(PlatUiScrollThumb(bar, 100000, 10, 0).bottom - 100, UI_SCROLL_THUMB_MIN);
  for (i32 first : {0, 1, 37, 74, 75}) {
    const PlatRect t = PlatUiScrollThumb(bar, 100, 25, first);
    EXPECT_EQ(PlatUiScrollFirstAt(bar, 100, 25, t.top), first);
  }
  EXPECT_EQ(PlatUiScrollFirstAt(bar, 100, 25, -50), 0);
  EXPECT_EQ(PlatUiScrollFirstAt(bar, 100, 25, 1000), 75);
}

// The message box icons: each its body colour and its own mark, anti-aliased at the edges, and
// nothing outside the body (the corners keep the canvas).
TEST(PlatUi, IconsShowTheirBodyAndMark) {
  struct Case {
    i32 kind;
    u32 body, mark;
    i32 mark_x, mark_y, body_x, body_y;  // a point inside the mark, one of the body beside it
  } cases[] = {
      {UI_ICON_ERROR, UI_COLOR_ICON_ERROR, UI_COLOR_ICON_MARK, 16, 16, 16, 8},        // the cross's middle
      {UI_ICON_INFO, UI_COLOR_ICON_BLUE, UI_COLOR_ICON_MARK, 16, 19, 10, 19},         // the i's stem
      {UI_ICON_QUESTION, UI_COLOR_ICON_BLUE, UI_COLOR_ICON_MARK, 16, 25, 16, 12},     // the dot; the hook's hollow
      {UI_ICON_WARNING, UI_COLOR_ICON_WARNING, UI_COLOR_ICON_WARN_MARK, 16, 15, 9, 24},  // the stroke
  };
  for (const Case& c : cases) {
    PlatUiCanvas canvas;
    PlatUiCanvasInit(&canvas, 40, 40, 0x123456);
    PlatUiDrawIcon(&canvas, 4, 4, c.kind);
    auto at = [&](i32 x, i32 y) { return canvas.px[static_cast<size_t>(y + 4) * 40 + x + 4]; };
    EXPECT_EQ(at(c.mark_x, c.mark_y), c.mark) << c.kind;
    EXPECT_EQ(at(c.body_x, c.body_y), c.body) << c.kind;
    EXPECT_EQ(at(0, 0), 0x123456u) << c.kind;
    EXPECT_EQ(at(31, 0), 0x123456u) << c.kind;
    EXPECT_EQ(canvas.px[0], 0x123456u) << "nothing outside the icon's square";
    // Somewhere on the body's edge a pixel is a mix of the body and the canvas.
    bool mixed = false;
    for (i32 x = 0; x < 32 && !mixed; x++)
      for (i32 y = 0; y < 32 && !mixed; y++) mixed = at(x, y) != 0x123456u && at(x, y) != c.body && at(x, y) != c.mark;
    EXPECT_TRUE(mixed) << c.kind;
  }
  PlatUiCanvas none;
  PlatUiCanvasInit(&none, 40, 40, 0x123456);
  PlatUiDrawIcon(&none, 4, 4, UI_ICON_NONE);
  EXPECT_EQ(std::count(none.px.begin(), none.px.end(), 0x123456u), 1600);
}
