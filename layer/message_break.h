// Japanese line breaking of the message text: which characters may not begin a line, and what
// to do with the character about to be typed at the pen. A pure decision over the pen, the glyph
// sizes and the text layer's size; the typewriter applies it to the message record.
#pragma once
#include "common/types.h"

enum TextBreakAction {
  TEXT_BREAK_DRAW = 0,   // draw the character at the pen
  TEXT_BREAK_FEED_DRAW,  // feed a line (x = 0, y += h), then draw
  TEXT_BREAK_FEED_DROP,  // feed a line; the new line leaves no room: drop the rest of the message
  TEXT_BREAK_DROP,       // no room below the pen: drop the rest of the message
  TEXT_BREAK_HANG,       // a character that may not begin a line, drawn in the line's last cell
  TEXT_BREAK_PAIR,       // "！" and the "？" after it, both drawn here
};

// What the break rules see of the character at the pen and the code after it.
struct TextBreakInput {
  i32 x, y;    // pen
  i32 w, h;    // glyph width and height stored with this character's code
  i32 next_h;  // glyph height of the following code
  i32 layer_width, layer_height;
  const char* ch;       // the character (Shift-JIS)
  u8 two_byte;          // the code is "2"
  u8 next_two_byte;     // the following code is "2"
  const char* next_ch;  // the character after it, when the following code is a character
};

TextBreakAction TextLineBreakDecide(const TextBreakInput* in);

// 1 when the two-byte character at s may not begin a line (the 23 closing brackets, commas,
// full stops and small kana).
i32 TextIsNoLineStart(const char* s);
// 1 when the two-byte character at s is an opening bracket that moves to the next line rather
// than end one: "「", "『", "（".
i32 TextIsOpeningBracket(const char* s);
