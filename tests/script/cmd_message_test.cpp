// The message commands run from compiled lines: literal text, printed values, the end of a
// message block and the settings query.
#include <gtest/gtest.h>

#include "core/obj.h"
#include "kit/script_compiler.h"
#include "layer/font.h"
#include "layer/message.h"
#include "platform/platform.h"
#include "script_fixture.h"

namespace {

struct CmdMessageTest : ::testing::Test {
  ScriptWorld w;
  void SetUp() override {
    TextMessageReset();
    ASSERT_EQ(TextMessageInit(), 0);
  }
  void TearDown() override {
    w.Close();
    TextMessageReset();
    FontReset();
  }
  void Load(const std::string& text) { w.LoadCompiled(text); }
  static std::string Chars() { return g_MessageRecord->chars; }
  static std::string Codes() { return reinterpret_cast<const char*>(g_MessageRecord->codes); }
};

}  // namespace

TEST_F(CmdMessageTest, TextAndValuesAppendWithTheirCodes) {
  // The kit hands the compiler Shift-JIS text.
  Load(
      PlatUtf8ToSjis("global float f = 1.5\n*SYSTEM_START\nmsg_text text=\"あa b\"\nmsg_value value=f\n"
                     "msg_value value=-42\nmsg_value value=\"x\" + \"yz\"\n"));
  for (u32 line = 0; line < 4; line++) ASSERT_EQ(w.Run(line), 0) << line;
  EXPECT_EQ(Chars(), PlatUtf8ToSjis("あa b") + "1.500000-42xyz");
  EXPECT_EQ(Codes(), "2111" + std::string(8, '1') + "111" + "111");
}

TEST_F(CmdMessageTest, PrintedValueIsEvaluatedWhateverTheDefinitionsKind) {
  // Command 110 formats its argument by the argument's value type itself.
  static const struct {
    const char* value;
    u8 kind;
    const char* want;
  } kCases[] = {
      {"'x' + 'yz'", ARG_KIND_NUMBER, "xyz"}, {"'x' + 'yz'", ARG_KIND_STRING, "xyz"},
      {"1.5", ARG_KIND_STRING, "1.500000"},   {"1.5", ARG_KIND_NUMBER, "1.500000"},
      {"6 * 7", ARG_KIND_STRING, "42"},       {"6 * 7", ARG_KIND_RAW, "42"},
  };
  for (const auto& c : kCases) {
    TextMessageReset();
    ASSERT_EQ(TextMessageInit(), 0);
    Load(std::string("*SYSTEM_START\nmsg_value value=") + c.value + "\n");
    TestDefineParamKind(110, 0, c.kind);
    ASSERT_EQ(w.Run(0), 0) << c.value << " kind " << int(c.kind);
    EXPECT_EQ(Chars(), c.want) << c.value << " kind " << int(c.kind);
    w.Close();
  }
}

TEST_F(CmdMessageTest, MessageEndStopsTheLineAndWaits) {
  Load("*SYSTEM_START\nmsg delay=40, end_page=0\nmsg_text text=\"ab\"\nmsg_end\n");
  ASSERT_EQ(w.Run(0), 0);
  ASSERT_EQ(w.Run(1), 0);
  EXPECT_EQ(g_MessageRecord->delays[0], 20);
  EXPECT_EQ(w.Run(2), -1);
  EXPECT_EQ(w.task->message_wait, 1);
  EXPECT_EQ(w.task->message_pos[0], 2u);
  EXPECT_EQ(Codes(), "11CRE");
}

TEST_F(CmdMessageTest, InfoStoresTheFirstGivenSetting) {
  Load(
      "global int r = -1\n*SYSTEM_START\nmsg end_newline=0, active=1\nmsg_info end_newline=1, end_wait=1, result=r\n"
      "msg_info end_wait=1, result=r\n");
  for (u32 line = 0; line < 2; line++) ASSERT_EQ(w.Run(line), 0);
  EXPECT_EQ(VarGetIntElement(1000, 0), 0);
  ASSERT_EQ(w.Run(2), 0);
  EXPECT_EQ(VarGetIntElement(1000, 0), 1);
}

TEST_F(CmdMessageTest, FontCommandOnSlotZeroSetsTheMessageFont) {
  Load(
      "global int r = -1\n*SYSTEM_START\nfont slot=0, width=24, color=0x102030\nfont_info width=1, result=r\n"
      "msg_text text=\"a\"\n");
  for (u32 line = 0; line < 3; line++) ASSERT_EQ(w.Run(line), 0);
  EXPECT_EQ(g_MessageRecord->font.glyph_width, 24);
  EXPECT_EQ(g_MessageRecord->font.colour, 0x102030u);
  EXPECT_EQ(VarGetIntElement(1000, 0), 24);
  EXPECT_EQ(g_MessageRecord->widths[0], 24);
  EXPECT_EQ(g_MessageRecord->colours[0], 0x102030u);
}
