// The message typewriter on a fixed clock with injected keys: the character clock, click waits,
// skipping, the control codes, the append limits, and line breaking applied at the pen. A fake
// drawer records each character's place (advance: the glyph width for two-byte characters, half
// of it for one-byte ones); one case draws with the installed font into the layer's pixels.
#include <string>
#include <vector>

#include "compose_fixture.h"
#include "layer/font.h"
#include "layer/glyph.h"
#include "layer/message.h"
#include "script/script.h"
#include "script/task.h"
#include "shell/input.h"

namespace {

struct Drawn {
  std::string ch;  // Shift-JIS
  i32 x, y;
};
std::vector<Drawn> g_Drawn;

i32 FakeDraw(const char* text, u32, u32, i32, i32, i32 w, i32, u32, u8, i32, i32 x, i32 y, u8, GlyphCanvas*) {
  g_Drawn.push_back({text, x, y});
  return text[1] ? w : w / 2;
}

std::string Sjis(const char* utf8) { return PlatUtf8ToSjis(utf8); }

// Project texts that show an error's code.
const char* const kErrTexts[][2] = {
    {"101250", "E101250 %s|%s"}, {"102000", "E102000"}, {"102030", "E102030"}, {"900010", "E900010"}};

bool Raised(const char* code) { return g_ErrFatalRaised.load() && g_ErrLastText.find(code) != std::string::npos; }

struct MessageTest : ComposeTest {
  TaskContext task{};
  ObjNode* layer = nullptr;

  void SetUp() override {
    ComposeTest::SetUp();
    TextMessageReset();
    InputKeyTableReset();
    g_Drawn.clear();
    PlatClockSetFixed(true, 1000);
    ASSERT_EQ(TextMessageInit(), 0);
    g_MessageDrawGlyph = FakeDraw;
    g_UserErrCount = static_cast<i32>(ZP_COUNTOF(kErrTexts));
    for (size_t i = 0; i < ZP_COUNTOF(kErrTexts); i++) {
      g_UserErrCodes[i] = static_cast<u32>(std::stoul(kErrTexts[i][0]));
      g_UserErrTexts[i] = kErrTexts[i][1];
    }
    MakeLayer(100, 100);
  }
  void TearDown() override {
    TextMessageReset();
    InputKeyTableReset();
    PlatClockSetFixed(false);
    ComposeTest::TearDown();
  }
  void MakeLayer(i32 w, i32 h) {
    ASSERT_NE(LayerCreate("W0/msg", w, h, 1), nullptr);
    layer = ObjFindNode(g_LayerRoot, "W0/msg", OBJ_FIND_FOLDER);
    ASSERT_NE(layer, nullptr);
    g_MessageRecord->text_layer = layer;
  }
  static MessageRecord* M() { return g_MessageRecord; }
  static void Text(const char* utf8) {
    std::string s = Sjis(utf8);
    ASSERT_EQ(TextMessageAppendText(s.c_str(), static_cast<i32>(s.size() + 1)), 0);
  }
  static void Code(char c) { ASSERT_EQ(TextMessageAppendCode(static_cast<u8>(c), 1), 0); }
  // One scheduler visit with the keys of this frame, then the key counters age.
  void Frame(std::vector<std::pair<i32, i64>> keys = {}) {
    for (auto& k : keys) g_InputKeyTable.counter[k.first] = k.second;
    TextMessageUpdate(&task);
    for (auto& k : keys) g_InputKeyTable.counter[k.first] = 0;
  }
  static std::string Codes() { return TextMessageVarText(1); }
};

// ---- The character clock -----------------------------------------------------------------------

TEST_F(MessageTest, DelayClockKeepsTheRemainderAndHalvesOneByteCharacters) {
  M()->char_delay = 50;
  Text("あいうえおかabcd");
  Code('E');
  task.message_wait = 1;
  struct Step {
    u32 advance_ms;
    size_t drawn;
  } kSteps[] = {
      {0, 1},            // the first character at once
      {49, 1},           // not yet
      {111, 4},          // 160 ms since the start: three more, 10 ms kept
      {40, 5},           // the kept 10 ms count
      {49, 5},  {1, 6},  // "か" at 250 ms
      {25, 7},           // one-byte characters take 25 ms
      {74, 9},  {1, 10},
  };
  for (const Step& s : kSteps) {
    PlatClockAdvance(s.advance_ms);
    Frame();
    EXPECT_EQ(g_Drawn.size(), s.drawn) << "at " << PlatTimeMs();
    EXPECT_EQ(task.message_wait, s.drawn < 10 ? 1 : 0);
  }
  EXPECT_EQ(M()->code_count, 0);  // cleared for the next message
}

TEST_F(MessageTest, ClickWaitPassesOnlyOnAPressOfAnAdvanceKey) {
  Text("あ");
  Code('C');
  Text("い");
  Code('E');
  task.message_wait = 1;
  Frame();
  EXPECT_EQ(g_Drawn.size(), 1u);
  EXPECT_EQ(M()->waiting, 1);
  Frame({{INPUT_KEY_LBUTTON, 2}});  // held since an earlier frame: not a press
  Frame({{13, -1}});                // released
  EXPECT_EQ(M()->waiting, 1);
  EXPECT_EQ(g_Drawn.size(), 1u);
  Frame({{13, 1}});
  EXPECT_EQ(M()->waiting, 0);
  EXPECT_EQ(task.message_wait, 1);
  Frame();
  ASSERT_EQ(g_Drawn.size(), 2u);
  EXPECT_EQ(g_Drawn[1].ch, Sjis("い"));
  EXPECT_EQ(task.message_wait, 0);
}

TEST_F(MessageTest, ClickWhileTypingShowsTheRestAtOnce) {
  M()->char_delay = 1000;
  Text("あいう");
  Code('E');
  task.message_wait = 1;
  Frame();
  EXPECT_EQ(g_Drawn.size(), 1u);
  Frame({{INPUT_KEY_LBUTTON, 1}});
  EXPECT_EQ(g_MessageSkipAll, 1);
  Frame();
  EXPECT_EQ(g_Drawn.size(), 3u);
  EXPECT_EQ(task.message_wait, 0);
  EXPECT_EQ(g_MessageSkipAll, 0);
}

TEST_F(MessageTest, HeldSkipKeyTypesEverythingAndPassesClickWaits) {
  M()->char_delay = 1000;
  Text("あいう");
  Code('C');
  Text("えお");
  Code('C');
  Code('E');
  task.message_wait = 1;
  Frame({{17, 3}});
  EXPECT_EQ(g_Drawn.size(), 3u);
  EXPECT_EQ(M()->waiting, 0);  // passed in the same frame
  Frame({{17, 4}});
  EXPECT_EQ(g_Drawn.size(), 5u);
  EXPECT_EQ(M()->waiting, 0);
  Frame();
  EXPECT_EQ(task.message_wait, 0);
}

TEST_F(MessageTest, KeyTableEntriesOutsideTheInputTableAreIgnored) {
  Text("あ");
  Code('C');
  Code('E');
  task.message_wait = 1;
  const i32 kBad[] = {-7, 0, 1023, 1024, 1 << 30};
  for (i32 e = 0; e < MSG_KEY_COUNT; e++) g_MessageKeys[e] = kBad[e % 5];
  Frame({{1023, 1}});  // 1023 stands for no key
  Frame({{INPUT_KEY_LBUTTON, 1}, {13, 1}, {17, 1}});
  EXPECT_EQ(M()->waiting, 1);
  // Through the command the values are kept to "none"; 0 means none as well.
  CmdArgRecord a{};
  const i64 kValues[] = {5000, -3, 0, 32, 1023, 1022, 7, 65};
  for (i32 e = 0; e < MSG_KEY_COUNT; e++) {
    a.given[2 + e] = 1;
    a.value[2 + e] = kValues[e];
  }
  ASSERT_EQ(TextMessageSet(&a), 0);
  const i32 kStored[] = {1023, 1023, 1023, 32, 1023, 1022, 7, 65};
  for (i32 e = 0; e < MSG_KEY_COUNT; e++) EXPECT_EQ(g_MessageKeys[e], kStored[e]) << e;
  Frame({{32, 1}});
  EXPECT_EQ(M()->waiting, 0);
}

// ---- Control codes and commands 79, 96, 97 -----------------------------------------------------

TEST_F(MessageTest, NewLineAndClearPageMoveThePen) {
  LayerRecord* rec = LayerOf(layer);
  std::memset(rec->pixels, 0x55, static_cast<size_t>(rec->width) * rec->height * 4);
  M()->font.glyph_height = 24;
  Text("aあ");
  Code('R');
  M()->font.glyph_height = 16;
  Text("い");
  Code('r');
  Text("b");
  Code('P');
  Text("う");
  Code('E');
  task.message_wait = 1;
  Frame();
  ASSERT_EQ(g_Drawn.size(), 5u);
  const Drawn kWant[] = {{"a", 0, 0}, {Sjis("あ"), 10, 0}, {Sjis("い"), 0, 24}, {"b", 0, 40}, {Sjis("う"), 0, 0}};
  for (size_t i = 0; i < 5; i++) {
    EXPECT_EQ(g_Drawn[i].ch, kWant[i].ch) << i;
    EXPECT_EQ(g_Drawn[i].x, kWant[i].x) << i;
    EXPECT_EQ(g_Drawn[i].y, kWant[i].y) << i;
  }
  EXPECT_EQ(rec->pixels[0], 0);
  EXPECT_EQ(rec->pixels[static_cast<size_t>(rec->width) * rec->height * 4 - 1], 0);
  EXPECT_TRUE(Root()->needs_compose);
}

TEST_F(MessageTest, UnknownCodeIsFatalAndEndsTheMessage) {
  Text("あ");
  Code('Z');
  Text("い");
  task.message_wait = 1;
  Frame();
  EXPECT_TRUE(Raised("E900010"));
  EXPECT_EQ(g_Drawn.size(), 1u);
  EXPECT_EQ(task.message_wait, 0);
}

TEST_F(MessageTest, MessageEndAppendsItsCodesAndWaits) {
  struct Case {
    u32 wait, newline, page;
    u8 active;
    const char* codes;
  } kCases[] = {
      {1, 1, 1, 1, "aCRPE"}, {0, 1, 0, 1, "aRE"}, {1, 0, 1, 1, "aCPE"}, {0, 0, 0, 1, "aE"}, {1, 1, 1, 0, "aE"},
  };
  for (const Case& c : kCases) {
    M()->needs_clear = 1;
    TextMessageClear();
    M()->end_wait = c.wait;
    M()->end_newline = c.newline;
    M()->end_page = c.page;
    M()->active = c.active;
    Code('a');
    task = TaskContext{};
    EXPECT_EQ(TextMessageEnd(&task, 7, 42), -1);
    EXPECT_EQ(Codes(), c.codes);
    EXPECT_EQ(task.message_wait, 1);
    EXPECT_EQ(task.message_pos[0], 7u);
    EXPECT_EQ(task.message_pos[1], 42u);
    EXPECT_EQ(M()->needs_clear, c.active ? 0 : 1);
  }
  // Not shown: the next visit ends the wait and empties the message. A thread that does not
  // wait leaves the message alone.
  task.message_wait = 0;
  TextMessageWaitUpdate(&task);
  EXPECT_EQ(M()->code_count, 2);
  task.message_wait = 1;
  TextMessageWaitUpdate(&task);
  EXPECT_EQ(task.message_wait, 0);
  EXPECT_EQ(M()->code_count, 0);
  EXPECT_TRUE(g_Drawn.empty());
}

TEST_F(MessageTest, SetCommandAppendsInTableOrderAndInfoReportsTheFirstGiven) {
  CmdArgRecord a{};
  for (i32 id : {11, 12, 13, 14, 15}) {
    a.given[id] = 1;
    a.value[id] = 1;
  }
  EXPECT_EQ(TextMessageSet(&a), -1);  // a click wait while active ends the line
  EXPECT_EQ(Codes(), "CRPrp");
  a = CmdArgRecord{};
  a.given[16] = a.given[17] = a.given[18] = a.given[19] = a.given[10] = a.given[1] = 1;
  a.value[16] = 1;
  a.value[10] = 30;
  a.value[17] = 0;
  a.value[18] = 5;
  a.value[19] = 0;
  a.value[1] = 0;
  EXPECT_EQ(TextMessageSet(&a), 0);
  EXPECT_EQ(Codes(), "");
  EXPECT_EQ(M()->char_delay, 30u);
  i64 v = -1;
  const struct {
    i32 first;
    i64 want;
  } kInfo[] = {{1, 0}, {4, 0}, {5, 0}, {6, 5}, {7, 0}};
  for (auto& c : kInfo) {
    CmdArgRecord q{};
    for (i32 id = c.first; id <= 7; id++) q.given[id] = 1;
    EXPECT_EQ(TextMessageInfo(&q, &v), 1);
    EXPECT_EQ(v, c.want) << c.first;
  }
  CmdArgRecord none{};
  EXPECT_EQ(TextMessageInfo(&none, &v), 0);
}

TEST_F(MessageTest, SetCommandTakesTheLayerByPathAndRefusesAMissingOne) {
  ASSERT_NE(LayerCreate("W0/other", 10, 10, 2), nullptr);
  CmdArgRecord a{};
  a.slot = 96;
  g_CmdNames[96] = "msg";  // as a game's command definitions name it
  a.given[0] = 1;
  a.str[0] = "W0/msg";
  ASSERT_EQ(TextMessageSet(&a), 0);
  EXPECT_EQ(M()->text_layer, layer);
  EXPECT_EQ(LayerOf(layer)->is_message_layer, 1);
  a.given[0] = 1;
  a.str[0] = "W0/other";
  ASSERT_EQ(TextMessageSet(&a), 0);
  EXPECT_EQ(LayerOf(layer)->is_message_layer, 0);
  ObjNode* other = ObjFindNode(g_LayerRoot, "W0/other", OBJ_FIND_FOLDER);
  EXPECT_EQ(M()->text_layer, other);
  a.given[0] = 1;
  a.str[0] = "W0/none";
  EXPECT_EQ(TextMessageSet(&a), -1);
  EXPECT_TRUE(Raised("E101250 msg|W0/none"));
  EXPECT_EQ(M()->text_layer, other);
  // Releasing the layer forgets it; the typewriter then draws nothing.
  LayerRelease(other);
  EXPECT_EQ(M()->text_layer, nullptr);
  Text("あ");
  Frame();
  EXPECT_TRUE(g_Drawn.empty());
}

// ---- Appending and its limits ------------------------------------------------------------------

TEST_F(MessageTest, AppendStoresTheMessageValuesPerCharacter) {
  M()->char_delay = 41;
  M()->font = FontMessageFont{24, 18, 0x123456, 0xABCDEF, 3, 2, 1, 0, 1};
  std::string s = Sjis("xあ") + "\x82";  // a lead byte without its second byte at the end
  ASSERT_EQ(TextMessageAppendText(s.c_str(), static_cast<i32>(s.size())), 0);
  EXPECT_EQ(Codes(), "121");
  EXPECT_EQ(std::string(M()->chars), Sjis("xあ") + " ");
  const i16 kDelays[] = {20, 41, 20};
  for (i32 c = 0; c < 3; c++) {
    EXPECT_EQ(M()->widths[c], 24);
    EXPECT_EQ(M()->heights[c], 18);
    EXPECT_EQ(M()->colours[c], 0x123456u);
    EXPECT_EQ(M()->colours2[c], 0xABCDEFu);
    EXPECT_EQ(M()->gradients[c], 3);
    EXPECT_EQ(M()->orientations[c], 2);
    EXPECT_EQ(M()->bolds[c], 1);
    EXPECT_EQ(M()->delays[c], kDelays[c]);
  }
  // Text after a zero byte is not the line's text.
  ASSERT_EQ(TextMessageAppendText("ab\0cd", 5), 0);
  EXPECT_EQ(M()->char_count, 6);
  EXPECT_EQ(Codes(), "12111");
}

TEST_F(MessageTest, AppendLimitLeavesTheMessageUnchanged) {
  std::string block(8000, 'a');
  ASSERT_EQ(TextMessageAppendText(block.c_str(), 8000), 0);
  std::string more(200, 'b');
  EXPECT_EQ(TextMessageAppendText(more.c_str(), 200), -1);
  EXPECT_TRUE(Raised("E102000"));
  EXPECT_EQ(M()->char_count, 8000);
  EXPECT_EQ(M()->code_count, 8000);
  EXPECT_EQ(TextMessageAppendText(more.c_str(), 189), 0);  // 8189 bytes fit
  EXPECT_EQ(TextMessageAppendText("c", 1), -1);
  EXPECT_EQ(TextMessagePrintText("c", 1), -1);
  EXPECT_EQ(M()->char_count, 8189);
  EXPECT_EQ(M()->chars[8189], 0);
}

TEST_F(MessageTest, CodesBeyondTheBufferAreRefusedAndNothingReadsPastTheText) {
  for (i32 i = 0; i < MSG_CODE_MAX; i++) ASSERT_EQ(TextMessageAppendCode('R', 1), 0);
  EXPECT_EQ(TextMessageAppendCode('R', 1), -1);
  EXPECT_EQ(TextMessageAppendText("a", 1), -1);
  EXPECT_EQ(M()->code_count, MSG_CODE_MAX);
  EXPECT_EQ(M()->codes[MSG_CODE_MAX], 0);
  // Character codes written by a script without their characters draw nothing.
  M()->needs_clear = 1;
  TextMessageClear();
  TextMessageVarSet(1, "2E");
  TextMessageVarSet(0, "a");
  task.message_wait = 1;
  Frame();
  EXPECT_TRUE(g_Drawn.empty());
  EXPECT_EQ(task.message_wait, 0);
}

TEST_F(MessageTest, PrintedValuesKeepOnlyPrintableOneByteCharacters) {
  std::string s = std::string("1.5\x01\x7F") + Sjis("値") + "\xB1";
  ASSERT_EQ(TextMessagePrintText(s.c_str(), static_cast<i32>(s.size())), 0);
  EXPECT_EQ(std::string(M()->chars), "1.5  " + Sjis("値") + " ");
  EXPECT_EQ(Codes(), "1111121");
  std::string big(MSG_PRINT_MAX + 1, 'x');
  EXPECT_EQ(TextMessagePrintText(big.c_str(), MSG_PRINT_MAX + 1), -1);
  EXPECT_TRUE(Raised("E102030"));
  EXPECT_EQ(M()->char_count, 8);
}

TEST_F(MessageTest, SystemVariablesReadAndReplaceTheTextAndCodes) {
  Text("あa");
  EXPECT_EQ(std::string(TextMessageVarText(0)), Sjis("あa"));
  EXPECT_EQ(Codes(), "21");
  std::string huge(9000, 'z');
  TextMessageVarSet(0, huge.c_str());
  EXPECT_EQ(M()->char_count, MSG_TEXT_MAX);
  TextMessageVarSet(1, huge.c_str());
  EXPECT_EQ(M()->code_count, MSG_CODE_MAX);
  EXPECT_EQ(M()->codes[MSG_CODE_MAX], 0);
}

// ---- Line breaking at the pen ------------------------------------------------------------------

// The layer is 100 x 100 with 20-pixel glyphs: cells start at 0, 20, 40, 60; a pen at 60 is in
// the last cell, at 20 or 40 in the last three cells.
struct BreakCase {
  const char* text;  // UTF-8, before the end code
  const char* ch;    // the character whose place is checked
  i32 x, y;          // where it is drawn
};

void RunBreakCase(MessageTest* t, const BreakCase& c) {
  t->TearDown();
  t->SetUp();
  MessageTest::Text(c.text);
  MessageTest::Code('E');
  t->task.message_wait = 1;
  t->Frame();
  std::string want = Sjis(c.ch);
  bool found = false;
  for (const Drawn& d : g_Drawn)
    if (d.ch == want && !found) {
      found = true;
      EXPECT_EQ(d.x, c.x) << c.text;
      EXPECT_EQ(d.y, c.y) << c.text;
    }
  EXPECT_TRUE(found) << c.text;
  EXPECT_EQ(t->task.message_wait, 0) << c.text;
}

TEST_F(MessageTest, NoLineStartCharactersHangInTheLastCell) {
  const char* kNoStart[] = {"）", "』", "」", "、", "。", "ッ", "ョ", "ュ", "ャ", "ォ", "ェ", "ゥ",
                            "ィ", "ァ", "っ", "ょ", "ゅ", "ゃ", "ぉ", "ぇ", "ぅ", "ぃ", "ぁ"};
  ASSERT_EQ(ZP_COUNTOF(kNoStart), 23u);
  for (const char* ch : kNoStart) {
    std::string text = std::string("漢漢漢") + ch + "字";
    RunBreakCase(this, {text.c_str(), ch, 60, 0});
    RunBreakCase(this, {text.c_str(), "字", 0, 20});
  }
  // Any other character in the last cell starts the next line, one-byte ones too.
  RunBreakCase(this, {"漢漢漢あ", "あ", 0, 20});
  RunBreakCase(this, {"漢漢漢ab", "a", 0, 20});
}

TEST_F(MessageTest, ExclamationQuestionPairAndOpeningBracketsInTheLastThreeCells) {
  const BreakCase kCases[] = {
      {"漢漢！？字", "！", 40, 0}, {"漢漢！？字", "？", 60, 0}, {"漢漢！？字", "字", 0, 20}, {"漢漢！あ", "！", 40, 0},
      {"漢漢！あ", "あ", 0, 20},   {"漢漢「あ", "「", 0, 20},   {"漢漢『あ", "『", 0, 20},   {"漢漢（あ", "（", 0, 20},
      {"漢「あ", "「", 0, 20},     {"「あ", "「", 0, 0},        {"漢漢あ", "あ", 40, 0},
  };
  for (const BreakCase& c : kCases) RunBreakCase(this, c);
}

TEST_F(MessageTest, TextReachingTheBottomIsDroppedAndTheMessageCompletes) {
  M()->end_wait = 0;
  Text("一二三四五六七八九十一二三四五六七八九十一二三四五六七八九十");
  Code('R');
  Code('P');
  Text("あ");
  TextMessageEnd(&task, 0, 0);
  task.message_wait = 1;
  Frame();
  // Three characters a row (the last cell takes only a hanging one), four rows: the feed to
  // y = 80 leaves no room for another row, and "あ" after the page clear is dropped with the rest.
  ASSERT_EQ(g_Drawn.size(), 12u);
  for (const Drawn& d : g_Drawn) EXPECT_LE(d.y, 60);
  EXPECT_EQ(g_Drawn.back().x, 40);
  EXPECT_EQ(g_Drawn.back().y, 60);
  EXPECT_EQ(task.message_wait, 0);
  EXPECT_EQ(M()->code_count, 0);
}

// ---- Drawing with the installed font -----------------------------------------------------------

TEST_F(MessageTest, TypesIntoTheLayerPixelsWithTheInstalledFont) {
  g_MessageDrawGlyph = TextDrawGlyph;
  ASSERT_EQ(FontEnumInstalled(), 0);
  ASSERT_EQ(FontSelectFaceByName("IPAGothic"), 1);
  LayerRecord* rec = LayerOf(layer);
  rec->has_alpha = 0;
  rec->x = 5;
  rec->y = 7;
  LayerComposeWindow(g_WindowObjects[0]);  // what creation marked is composed and forgotten
  LayerResetUpdateRects(RootNode());
  Text("あA");
  Code('E');
  task.message_wait = 1;
  Frame();
  EXPECT_EQ(task.message_wait, 0);
  i32 inked = 0, right_inked = 0;
  for (i32 y = 0; y < 20; y++)
    for (i32 x = 0; x < 40; x++)
      if (rec->pixels[(y * rec->width + x) * 4 + 3] > 0) (x < 20 ? inked : right_inked)++;
  EXPECT_GT(inked, 20);
  EXPECT_GT(right_inked, 5);
  EXPECT_EQ(rec->has_alpha, 1);
  // Only the glyphs' boxes are composed again, in the window's pixels.
  EXPECT_TRUE(Root()->needs_compose);
  EXPECT_TRUE(Root()->dirty_valid);
  // Two 20 x 20 glyph boxes at (0, 0) and (20, 0) of the layer; "A" advances by half a cell.
  EXPECT_EQ(Root()->dirty_left, 5);
  EXPECT_EQ(Root()->dirty_top, 7);
  EXPECT_EQ(Root()->dirty_right, 5 + 39);
  EXPECT_EQ(Root()->dirty_bottom, 7 + 19);
  EXPECT_EQ(M()->pen_x, 30);
  FontReset();
}

}  // namespace
