// The engine's own menus and dialogs, drawn without a toolkit: layout as plain arithmetic on
// rectangles (no display needed, so it can be checked anywhere), a canvas of 32-bit pixels, and
// text drawn anti-aliased from the platform's Japanese font. The SDL side lives in dialog.cpp and
// menu.cpp.
#pragma once
#include <string>
#include <vector>

#include "common/types.h"
#include "platform/video.h"

// Colours as 0x00RRGGBB.
enum : u32 {
  UI_COLOR_FACE = 0xF0F0F0,  // dialog and menu background
  UI_COLOR_TEXT = 0x000000,
  UI_COLOR_GREY_TEXT = 0x8D8D8D,  // disabled items and buttons
  UI_COLOR_HILITE = 0x3399FF,     // the lit menu item
  UI_COLOR_HILITE_TEXT = 0xFFFFFF,
  UI_COLOR_EDGE = 0x8E8E8E,  // menu borders, separators, button outlines
  UI_COLOR_WHITE = 0xFFFFFF,
  UI_COLOR_FOCUS = 0x0078D7,  // the default or focused button's outline
};

// ---- Labels ----------------------------------------------------------------------------------
// UTF-8 to code points; bytes that do not decode become U+FFFD.
std::u32string PlatUiDecodeUtf8(const std::string& utf8);

// A menu or button text as Windows draws it: "&" underlines the next character ("&&" is one
// "&"; a last lone "&" is dropped), and a tab starts a right-aligned second column.
struct PlatUiLabel {
  std::u32string left, right;
  i32 underline;  // index into left of the underlined character, -1 for none
};
PlatUiLabel PlatUiParseLabel(const std::string& utf8);

// ---- Text ------------------------------------------------------------------------------------
// The font's line height in pixels (IPA Gothic at 12 pixels a em); 0 when no font is installed.
i32 PlatUiLineHeight();
i32 PlatUiTextWidth(const std::u32string& text);
// Where the text breaks into lines no wider than max_width: line breaks ("\n", "\r\n") always,
// and where a character would cross max_width: after the last blank of the line (the word moves
// down whole, and the blanks at the break are dropped), between two East Asian characters, or,
// in a word longer than a line, before that character (never leaving a line empty). advance(c)
// gives the pen step of one character. Returns the lines without their break characters.
std::vector<std::u32string> PlatUiWrap(const std::u32string& text, i32 max_width, i32 (*advance)(char32_t c));
i32 PlatUiAdvance(char32_t c);  // the font's advance, for PlatUiWrap

struct PlatUiCanvas {
  i32 width = 0, height = 0;
  std::vector<u32> px;  // 0x00RRGGBB, rows top-down
};
void PlatUiCanvasInit(PlatUiCanvas* c, i32 width, i32 height, u32 color);
void PlatUiFill(PlatUiCanvas* c, const PlatRect& r, u32 color);
void PlatUiOutline(PlatUiCanvas* c, const PlatRect& r, u32 color);
// One line of text with the top of its line box at y; underline indexes the character to
// underline (-1 none). Clipped to clip (and to the canvas).
void PlatUiDrawText(PlatUiCanvas* c, i32 x, i32 y, const std::u32string& text, u32 color, i32 underline,
                    const PlatRect& clip);

// ---- Hit tests -------------------------------------------------------------------------------
bool PlatUiInside(const PlatRect& r, i32 x, i32 y);
// The index of the first rectangle holding the point, -1 for none.
i32 PlatUiHitTest(const std::vector<PlatRect>& rects, i32 x, i32 y);

// ---- Dialog layout ---------------------------------------------------------------------------
enum {
  UI_DIALOG_MARGIN = 12,
  UI_BUTTON_MIN_WIDTH = 75,
  UI_BUTTON_HEIGHT = 23,
  UI_BUTTON_GAP = 8,
  UI_DIALOG_MIN_WIDTH = 220,
  UI_DIALOG_TEXT_MAX_WIDTH = 520,  // message text wraps here
  UI_EDIT_WIDTH = 360,
  UI_ICON_SIZE = 32,
  UI_ICON_GAP = 10,        // between the icon and the text
  UI_SCROLLBAR_WIDTH = 17,
  UI_SCROLLBAR_GAP = 6,     // between the text and its scroll bar
  UI_SCROLL_THUMB_MIN = 16,
};
// What a dialog holds: its measured text block, an optional icon left of it, an optional edit
// box below it, and its buttons in a row on a band at the bottom, right-aligned.
struct PlatUiDialogSpec {
  i32 text_width = 0, text_height = 0;
  std::vector<i32> label_widths;  // the buttons' labels
  bool with_edit = false;
  i32 line_height = 1;
  bool icon = false;
  i32 min_width = 0;   // the least width, such as its caption's
  i32 max_height = 0;  // the most it may take (the screen's height), 0 for no limit
};
struct PlatUiDialogLayout {
  i32 width, height;
  PlatRect icon;  // empty (all 0) without one
  // Where the text shows: the whole block, or, when it does not fit the height, whole lines of
  // it beside a scroll bar.
  PlatRect text;
  PlatRect scrollbar;  // empty unless the text scrolls
  i32 visible_lines;   // the lines the text area shows when it scrolls
  PlatRect edit;       // empty without an edit box
  PlatRect band;       // the button band
  std::vector<PlatRect> buttons;
};
PlatUiDialogLayout PlatUiLayoutDialog(const PlatUiDialogSpec& spec);
// The thumb of a scroll bar showing `visible` of `total` lines from line `first`: in proportion,
// never shorter than UI_SCROLL_THUMB_MIN; the whole bar when everything shows.
PlatRect PlatUiScrollThumb(const PlatRect& bar, i32 total, i32 visible, i32 first);
// The first line for a thumb whose top is at y (a drag), kept inside 0..total - visible.
i32 PlatUiScrollFirstAt(const PlatRect& bar, i32 total, i32 visible, i32 thumb_top);

// ---- Icons -------------------------------------------------------------------------------------
// The message box icons, as the style numbers name them (MB_ICON... >> 4): drawn by the engine,
// UI_ICON_SIZE pixels square, anti-aliased onto what the canvas holds.
enum { UI_ICON_NONE = 0, UI_ICON_ERROR = 1, UI_ICON_QUESTION = 2, UI_ICON_WARNING = 3, UI_ICON_INFO = 4 };
enum : u32 {
  UI_COLOR_ICON_ERROR = 0xD8322C,
  UI_COLOR_ICON_BLUE = 0x2A6FD6,  // information and question
  UI_COLOR_ICON_WARNING = 0xF7C318,
  UI_COLOR_ICON_MARK = 0xFFFFFF,     // the mark on the red and blue discs
  UI_COLOR_ICON_WARN_MARK = 0x1E1E1E,  // the mark on the yellow triangle
};
void PlatUiDrawIcon(PlatUiCanvas* c, i32 x, i32 y, i32 kind);

// ---- Menu layout -----------------------------------------------------------------------------
enum {
  UI_MENU_BAR_HEIGHT = 20,  // the window menu bar
  UI_MENU_ITEM_HEIGHT = 20,
  UI_MENU_SEPARATOR_HEIGHT = 9,
  UI_MENU_CHECK_WIDTH = 22,  // the column of check marks, left of the text
  UI_MENU_ARROW_WIDTH = 22,  // the column of submenu arrows, right of the text
  UI_MENU_COLUMN_GAP = 24,   // between the text and its right-aligned column
  UI_MENU_BORDER = 3,        // outline and padding of a drop-down
  UI_MENU_BAR_PAD = 7,       // left and right of a bar item's text
};
struct PlatUiMenuEntry {
  i32 left_width, right_width;  // measured columns of the label
  bool separator;
};
struct PlatUiMenuLayout {
  i32 width, height;
  std::vector<PlatRect> items;  // one per entry, in the drop-down's own pixels
  i32 right_column;             // x where right columns end (right-aligned)
};
PlatUiMenuLayout PlatUiLayoutMenu(const std::vector<PlatUiMenuEntry>& entries);
// The items of a menu bar side by side from the left; items past bar_width keep their places
// (they are drawn clipped).
std::vector<PlatRect> PlatUiLayoutBar(const std::vector<i32>& text_widths);
// Where a drop-down of width x height opens for an anchor point on a screen area (the monitor):
// at the point, moved left or up (to the other side of the anchor's edge alt_x / alt_y) when it
// would leave the area, and never above or left of it.
void PlatUiPlaceMenu(i32 x, i32 y, i32 alt_x, i32 alt_y, i32 width, i32 height, const PlatRect& area, i32* out_x,
                     i32* out_y);
// The next selectable entry from `from` in direction step (+1 or -1), wrapping around; -1 when
// no entry can be selected. from -1 with step +1 gives the first one, with -1 the last one.
i32 PlatUiMenuStep(const std::vector<bool>& selectable, i32 from, i32 step);
