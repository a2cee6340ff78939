// Japanese line breaking. The character sets are written in UTF-8 and converted to CP932 once;
// every comparison is of whole two-byte characters, so a one-byte character never matches.
#include "layer/message_break.h"

#include <cstring>
#include <string>

#include "platform/platform.h"

static const char* const kNoLineStart[] = {
    "）", "』", "」", "、", "。", "ッ", "ョ", "ュ", "ャ", "ォ", "ェ", "ゥ",
    "ィ", "ァ", "っ", "ょ", "ゅ", "ゃ", "ぉ", "ぇ", "ぅ", "ぃ", "ぁ",
};
static const char* const kOpeningBrackets[] = {"「", "『", "（"};

struct BreakSets {
  std::string no_line_start[ZP_COUNTOF(kNoLineStart)];
  std::string opening[ZP_COUNTOF(kOpeningBrackets)];
  std::string exclamation, question;
};

static const BreakSets& Sets() {
  static const BreakSets sets = [] {
    BreakSets s;
    for (size_t i = 0; i < ZP_COUNTOF(kNoLineStart); i++) s.no_line_start[i] = PlatUtf8ToSjis(kNoLineStart[i]);
    for (size_t i = 0; i < ZP_COUNTOF(kOpeningBrackets); i++) s.opening[i] = PlatUtf8ToSjis(kOpeningBrackets[i]);
    s.exclamation = PlatUtf8ToSjis("！");
    s.question = PlatUtf8ToSjis("？");
    return s;
  }();
  return sets;
}

static bool SameChar(const char* s, const std::string& c) {
  return s && c.size() == 2 && s[0] == c[0] && s[0] != '\0' && s[1] == c[1];
}

i32 TextIsNoLineStart(const char* s) {
  for (const std::string& c : Sets().no_line_start)
    if (SameChar(s, c)) return 1;
  return 0;
}

i32 TextIsOpeningBracket(const char* s) {
  for (const std::string& c : Sets().opening)
    if (SameChar(s, c)) return 1;
  return 0;
}

TextBreakAction TextLineBreakDecide(const TextBreakInput* in) {
  // Sums in 64 bits: sizes come from scripts and may be anything up to the layer's size.
  const i64 x = in->x, y = in->y, w = in->w, W = in->layer_width, H = in->layer_height;
  const i64 bottom_room = static_cast<i64>(in->next_h) + 2;
  if (y + bottom_room >= H) return TEXT_BREAK_DROP;
  const TextBreakAction feed = (y + in->h + bottom_room >= H) ? TEXT_BREAK_FEED_DROP : TEXT_BREAK_FEED_DRAW;
  if (x + 2 + w >= W) return feed;
  if (x + 2 + 2 * w >= W) return (in->two_byte && TextIsNoLineStart(in->ch)) ? TEXT_BREAK_HANG : feed;
  if (x + 2 + 4 * w >= W && in->two_byte) {
    if (SameChar(in->ch, Sets().exclamation) && in->next_two_byte && SameChar(in->next_ch, Sets().question))
      return TEXT_BREAK_PAIR;
    if (TextIsOpeningBracket(in->ch)) return feed;
  }
  return TEXT_BREAK_DRAW;
}
