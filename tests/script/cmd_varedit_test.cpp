// Command 100: conversions, characters removed and extracted (double-byte characters count as
// one), width and case conversions, and the one-dimensional resize, insert and delete.
#include <gtest/gtest.h>

#include <string>

#include "cmd_game.h"
#include "common/sjis_conv.h"
#include "platform/platform.h"
#include "script/cmd_var.h"

namespace {

struct CmdVarEditTest : CmdGameTest {
  void SetUp() override {
    PlatDialogsSetStderr(true);
    PlatDialogsSetAnswer(0);
    plain_codes = {ERR_VAR_CONVERT,       ERR_VAR_NOT_NUMBER,   ERR_VAR_NOT_STRING,  ERR_VAR_EXTRACT_START,
                   ERR_VAR_EXTRACT_COUNT, ERR_VAR_REMOVE_START, ERR_VAR_REMOVE_COUNT};
    named_codes = {};
  }
};

const std::string kA = "\x82\xa0";      // あ
const std::string kI = "\x82\xa2";      // い
const std::string kKanji = "\x8a\xbf";  // 漢

}  // namespace

TEST(SjisConvTest, WidthConversions) {
  static const struct {
    std::string narrow, wide;
  } kCases[] = {
      {"Ab1 ", "\x82\x60\x82\x82\x82\x50\x81\x40"},
      {"\xb6\xde", "\x83\x4a\x81\x4a"},                        // ｶﾞ: two characters, each through the table
      {"\xa1\xa6\xdd", "\x81\x42\x83\x92\x83\x93"},            // ｡ｦﾝ
      {"a" + kKanji + "~", "\x82\x81" + kKanji + "\x81\x50"},  // double-byte text stays as it is
  };
  char out[64];
  for (const auto& c : kCases) {
    StrToFullWidthSjis(out, sizeof out, c.narrow.c_str());
    EXPECT_EQ(std::string(out), c.wide) << c.narrow;
    StrToHalfWidthSjis(out, sizeof out, c.wide.c_str());
    EXPECT_EQ(std::string(out), c.narrow) << c.narrow;
  }
}

TEST(SjisConvTest, VoicedKatakanaSplitIntoBaseAndMark) {
  static const struct {
    std::string wide, narrow;
  } kCases[] = {
      {"\x83\x4b", "\xb6\xde"},  // ガ
      {"\x83\x64", "\xc2\xde"},  // ヅ
      {"\x83\x6f", "\xca\xde"},  // バ
      {"\x83\x70", "\xca\xdf"},  // パ
      {"\x83\x7c", "\xce\xdf"},  // ポ
      {"\x83\x94", "\xb3\xde"},  // ヴ
      {"\x83\x8e", "\x83\x8e"},  // ヮ has no half-width form
      {"\x83\x90", "\x83\x90"},  // ヰ
      {"\x83\x96", "\x83\x96"},  // ヶ
  };
  char out[16];
  for (const auto& c : kCases) {
    StrToHalfWidthSjis(out, sizeof out, c.wide.c_str());
    EXPECT_EQ(std::string(out), c.narrow);
  }
}

TEST(SjisConvTest, WidthConversionCutsAtAWholeCharacter) {
  char out[6];
  EXPECT_EQ(StrToFullWidthSjis(out, sizeof out, "abc"), 4u) << "the third would need bytes 5 and 6";
  EXPECT_EQ(std::string(out), "\x82\x81\x82\x82");
  char big[4096];
  std::string src(3000, 'x');
  EXPECT_EQ(StrToFullWidthSjis(big, sizeof big, src.c_str()), 4094u);
}

TEST(SjisConvTest, CaseConversions) {
  const std::string mixed = "aZ" + kKanji + "\x82\x81\x82\x60" + "\x83\x61";  // a Z 漢 ａ Ａ and a trail byte 'a'
  std::string s = mixed;
  StrUpperAsciiSjis(s.data());
  EXPECT_EQ(s, "AZ" + kKanji + "\x82\x81\x82\x60\x83\x61") << "trail bytes and full-width letters untouched";
  s = mixed;
  StrUpperMbSjis(s.data());
  EXPECT_EQ(s, "AZ" + kKanji + "\x82\x60\x82\x60\x83\x61");
  s = mixed;
  StrLowerMbSjis(s.data());
  EXPECT_EQ(s, "az" + kKanji + "\x82\x81\x82\x81\x83\x61");
  EXPECT_EQ(StrCharCountSjis(("x" + kKanji + kA).c_str()), 3u);
}

TEST_F(CmdVarEditTest, Conversions) {
  Load(
      "global int i = -42\nglobal float f = 1.5\nglobal str s\nglobal int r\nglobal float g\n*SYSTEM_START\n"
      "var_edit var=i, dst=s, convert=1\nvar_edit var=f, dst=s, convert=1\nvar_edit var=s, dst=r, convert=1\n"
      "var_edit var=s, dst=g, convert=1\nvar_edit var=i, dst=g, convert=1\nvar_edit var=s, dst=r, convert=1\n");
  ASSERT_EQ(w.Run(0), 0);
  EXPECT_EQ(Str(1002), "-42");
  ASSERT_EQ(w.Run(1), 0);
  EXPECT_EQ(Str(1002), "1.500000");
  static const struct {
    const char* text;
    i64 want;
  } kInts[] = {{"0x1F", 31}, {"0xFFFFFFFFFFFFFFFF", -1}, {"-17", -17}, {"12.75", 12}};
  for (const auto& c : kInts) {
    VarSetStrElement(1002, 0, c.text);
    ASSERT_EQ(w.Run(2), 0) << c.text;
    EXPECT_EQ(VarGetIntElement(1003, 0), c.want) << c.text;
  }
  VarSetStrElement(1002, 0, "12.75");
  ASSERT_EQ(w.Run(3), 0);
  EXPECT_DOUBLE_EQ(VarGetFloatElement(1004, 0), 12.75);
  EXPECT_EQ(w.Run(4), -1);
  EXPECT_TRUE(TestRaised(ERR_VAR_CONVERT));
  for (const char* bad : {"12a", "0x", "0x12345678901234567", "1 2"}) {
    VarSetStrElement(1002, 0, bad);
    EXPECT_EQ(w.Run(5), -1) << bad;
    EXPECT_TRUE(TestRaised(ERR_VAR_NOT_NUMBER)) << bad;
  }
}

TEST_F(CmdVarEditTest, RemoveAndExtractCountDoubleByteCharacters) {
  const std::string text = kA + "b" + kKanji + "d" + kI;  // 5 characters
  Load("global str s = '" + text +
       "'\nglobal str d\nglobal int n\n*SYSTEM_START\n"
       "var_edit var=s, dst=d, extract=1, start=2, count=2\nvar_edit var=s, dst=d, remove=1, start=3, count=3\n"
       "var_edit var=s, dst=d, extract=1, start=6, count=1\nvar_edit var=s, dst=d, extract=1, start=5, count=2\n"
       "var_edit var=s, dst=d, remove=1, start=0, count=1\nvar_edit var=s, dst=d, remove=1, start=1, count=9\n"
       "var_edit var=s, extract=1, start=1, count=1\nvar_edit var=n, dst=d, extract=1, start=1, count=1\n");
  ASSERT_EQ(w.Run(0), 0);
  EXPECT_EQ(Str(1001), "b" + kKanji);
  ASSERT_EQ(w.Run(1), 0);
  EXPECT_EQ(Str(1001), kA + "b");
  static const struct {
    u32 line;
    i32 code;
  } kErrors[] = {{2, ERR_VAR_EXTRACT_START},
                 {3, ERR_VAR_EXTRACT_COUNT},
                 {4, ERR_VAR_REMOVE_START},
                 {5, ERR_VAR_REMOVE_COUNT},
                 {7, ERR_VAR_NOT_STRING}};
  for (const auto& e : kErrors) {
    ErrReset();
    EXPECT_EQ(w.Run(e.line), -1) << e.line;
    EXPECT_TRUE(TestRaised(e.code)) << e.line << ": " << g_ErrLastText;
  }
  EXPECT_EQ(Str(1001), kA + "b") << "failed edits store nothing";
  ASSERT_EQ(w.Run(6), 0);
  EXPECT_EQ(Str(1000), kA) << "without a destination the source receives the result";
}

TEST_F(CmdVarEditTest, WidthAndCaseThroughTheCommand) {
  Load("global str s = 'ab" + kKanji +
       "\xb1'\nglobal str d\n*SYSTEM_START\nvar_edit var=s, dst=d, wide=1\n"
       "var_edit var=d, dst=d, narrow=1\nvar_edit var=s, dst=d, upper=1\nvar_edit var=s, dst=d, wide=1, upper_mb=1\n");
  ASSERT_EQ(w.Run(0), 0);
  EXPECT_EQ(Str(1001), "\x82\x81\x82\x82" + kKanji + "\x83\x41");
  ASSERT_EQ(w.Run(1), 0);
  EXPECT_EQ(Str(1001), "ab" + kKanji + "\xb1");
  ASSERT_EQ(w.Run(2), 0);
  EXPECT_EQ(Str(1001), "AB" + kKanji + "\xb1");
  ASSERT_EQ(w.Run(3), 0);
  EXPECT_EQ(Str(1001), "AB" + kKanji + "\xb1") << "both read the source: the later one wins";
}

TEST_F(CmdVarEditTest, ResizeInsertDelete) {
  Load(
      "global int a[4]\nglobal str s[3]\nglobal int m[2][2]\n*SYSTEM_START\n"
      "var_edit var=a, insert=1\nvar_edit var=a, delete=0\nvar_edit var=a, resize+=2\nvar_edit var=a, resize=0\n"
      "var_edit var=s, insert=0\nvar_edit var=m, resize=3\nvar_edit var=a, insert=9\n");
  for (i64 k = 0; k < 4; k++) VarSetNumElement(1000, k, 10 + k);
  ASSERT_EQ(w.Run(0), 0);
  static const i64 kAfterInsert[] = {10, 0, 11, 12};
  for (i64 k = 0; k < 4; k++) EXPECT_EQ(VarGetIntElement(1000, k), kAfterInsert[k]) << k;
  ASSERT_EQ(w.Run(1), 0);
  static const i64 kAfterDelete[] = {0, 11, 12, 0};
  for (i64 k = 0; k < 4; k++) EXPECT_EQ(VarGetIntElement(1000, k), kAfterDelete[k]) << k;
  ASSERT_EQ(w.Run(2), 0);
  EXPECT_EQ(VarRecordOf(1000)->count, 6);
  EXPECT_EQ(VarGetIntElement(1000, 2), 12);
  testing::internal::CaptureStderr();
  EXPECT_EQ(w.Run(3), -1) << "a size below 1";
  EXPECT_EQ(w.Run(5), -1) << "two dimensions";
  std::string printed = testing::internal::GetCapturedStderr();
  EXPECT_NE(printed.find("変更後の配列サイズが不正です。"), std::string::npos) << printed;
  EXPECT_NE(printed.find("１次元配列ではありません"), std::string::npos) << printed;
  EXPECT_EQ(VarRecordOf(1000)->count, 6);
  VarSetStrElement(1001, 0, "x");
  VarSetStrElement(1001, 1, "y");
  VarSetStrElement(1001, 2, "z");
  ASSERT_EQ(w.Run(4), 0);
  EXPECT_EQ(Str(1001, 0), "");
  EXPECT_EQ(Str(1001, 1), "x");
  EXPECT_EQ(Str(1001, 2), "y");
  ASSERT_EQ(w.Run(6), 0) << "a position outside moves nothing";
  EXPECT_EQ(VarGetIntElement(1000, 1), 11);
}

TEST_F(CmdVarEditTest, ReinitialisesSelectedGlobals) {
  Load(
      "global class 1 int a = 5\nglobal class 2 int b = 6\nglobal class 1 str s = 'init'\n*SYSTEM_START\n"
      "var_edit var=a, reinit=1, int1=1, str1=1\n");
  VarSetNumElement(1000, 0, 50);
  VarSetNumElement(1001, 0, 60);
  VarSetStrElement(1002, 0, "changed");
  ASSERT_EQ(w.Run(0), 0);
  EXPECT_EQ(VarGetIntElement(1000, 0), 5);
  EXPECT_EQ(VarGetIntElement(1001, 0), 60) << "class 2 not selected";
  EXPECT_EQ(Str(1002), "init");
}
