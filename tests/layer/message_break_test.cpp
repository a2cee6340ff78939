#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "layer/message_break.h"
#include "platform/platform.h"

namespace {

std::string Sjis(const char* utf8) { return PlatUtf8ToSjis(utf8); }

const char* const kNoLineStart[23] = {
    "）", "』", "」", "、", "。", "ッ", "ョ", "ュ", "ャ", "ォ", "ェ", "ゥ",
    "ィ", "ァ", "っ", "ょ", "ゅ", "ゃ", "ぉ", "ぇ", "ぅ", "ぃ", "ぁ",
};

// A 100 x 100 text layer and 20-pixel glyphs: the last cell starts at x 58..77, the last three
// cells at 18..57, and x 78 and beyond no longer fit a glyph.
TextBreakAction Decide(const std::string& ch, i32 x, i32 y = 0, const std::string& next = "", i32 next_h = 20,
                       i32 h = 20) {
  TextBreakInput in = {};
  in.x = x, in.y = y, in.w = 20, in.h = h, in.next_h = next_h;
  in.layer_width = 100, in.layer_height = 100;
  in.ch = ch.c_str();
  in.two_byte = ch.size() == 2;
  in.next_ch = next.c_str();
  in.next_two_byte = next.size() == 2;
  return TextLineBreakDecide(&in);
}

}  // namespace

TEST(MessageBreakTest, NoLineStartCharactersHangInTheLastCell) {
  for (const char* c : kNoLineStart) {
    std::string ch = Sjis(c);
    ASSERT_EQ(ch.size(), 2u) << c;
    EXPECT_EQ(TextIsNoLineStart(ch.c_str()), 1) << c;
    for (i32 x : {58, 77}) EXPECT_EQ(Decide(ch, x), TEXT_BREAK_HANG) << c << " at " << x;
    EXPECT_EQ(Decide(ch, 57), TEXT_BREAK_DRAW) << c;
    EXPECT_EQ(Decide(ch, 78), TEXT_BREAK_FEED_DRAW) << c << " does not fit at all";
  }
  // Other characters in the last cell go to the next line, one-byte ones included.
  for (std::string ch : {Sjis("あ"), Sjis("ー"), Sjis("！"), Sjis("「"), std::string(")"), std::string("\xAF")}) {
    EXPECT_EQ(TextIsNoLineStart(ch.c_str()), 0);
    EXPECT_EQ(Decide(ch, 60), TEXT_BREAK_FEED_DRAW) << ch;
  }
}

TEST(MessageBreakTest, LastThreeCellsKeepBangQuestionAndMoveOpeningBrackets) {
  const std::string bang = Sjis("！"), question = Sjis("？");
  struct {
    std::string ch, next;
    i32 x;
    TextBreakAction want;
  } kCases[] = {
      {bang, question, 18, TEXT_BREAK_PAIR},
      {bang, question, 57, TEXT_BREAK_PAIR},
      {bang, question, 17, TEXT_BREAK_DRAW},
      {bang, "?", 40, TEXT_BREAK_DRAW},
      {bang, Sjis("あ"), 40, TEXT_BREAK_DRAW},
      {bang, question, 60, TEXT_BREAK_FEED_DRAW},
      {Sjis("「"), "", 40, TEXT_BREAK_FEED_DRAW},
      {Sjis("『"), "", 18, TEXT_BREAK_FEED_DRAW},
      {Sjis("（"), "", 57, TEXT_BREAK_FEED_DRAW},
      {Sjis("「"), "", 17, TEXT_BREAK_DRAW},
      {"(", "", 40, TEXT_BREAK_DRAW},
      {Sjis("あ"), "", 40, TEXT_BREAK_DRAW},
  };
  for (auto& c : kCases) EXPECT_EQ(Decide(c.ch, c.x, 0, c.next), c.want) << c.ch << " at " << c.x;
  EXPECT_EQ(TextIsOpeningBracket(Sjis("」").c_str()), 0);
}

TEST(MessageBreakTest, TextThatReachesTheBottomIsDropped) {
  const std::string a = Sjis("あ");
  // Room below: y + 2 + next glyph height must stay under the layer height.
  EXPECT_EQ(Decide(a, 0, 77), TEXT_BREAK_DRAW);
  EXPECT_EQ(Decide(a, 0, 78), TEXT_BREAK_DROP);
  EXPECT_EQ(Decide(a, 0, 60, "", 40), TEXT_BREAK_DROP);
  // Feeding a line first: the new line must have that room too.
  EXPECT_EQ(Decide(a, 80, 57), TEXT_BREAK_FEED_DRAW);
  EXPECT_EQ(Decide(a, 80, 58), TEXT_BREAK_FEED_DROP);
  EXPECT_EQ(Decide(a, 60, 58), TEXT_BREAK_FEED_DROP);
  EXPECT_EQ(Decide(Sjis("。"), 60, 58), TEXT_BREAK_HANG) << "hanging needs no new line";
}

TEST(MessageBreakTest, HugeAndBrokenInputsAreSafe) {
  TextBreakInput in = {};
  in.x = INT_MAX, in.y = INT_MAX - 5, in.w = INT_MAX, in.h = INT_MAX, in.next_h = INT_MAX;
  in.layer_width = INT_MAX, in.layer_height = INT_MAX;
  EXPECT_EQ(TextLineBreakDecide(&in), TEXT_BREAK_DROP);
  in.y = 0, in.next_h = 0;
  EXPECT_EQ(TextLineBreakDecide(&in), TEXT_BREAK_FEED_DROP);
  EXPECT_EQ(TextIsNoLineStart(nullptr), 0);
  EXPECT_EQ(TextIsNoLineStart(""), 0);
  EXPECT_EQ(TextIsNoLineStart("\x81"), 0);
  in = {};
  in.layer_width = in.layer_height = 100;
  in.w = in.h = 20;
  in.two_byte = 1;  // a code that claims two bytes with no character behind it
  EXPECT_EQ(TextLineBreakDecide(&in), TEXT_BREAK_DRAW);
  in.x = 60;
  EXPECT_EQ(TextLineBreakDecide(&in), TEXT_BREAK_FEED_DRAW);
}
