#include <gtest/gtest.h>

#include "core/err.h"
#include "core/sys.h"
#include "core/usererr.h"
#include "platform/platform.h"

namespace {

std::string Sjis(const char* utf8) { return PlatUtf8ToSjis(utf8); }

struct ErrTest : ::testing::Test {
  void SetUp() override {
    ErrReset();
    UserErrReset();
    g_ErrScriptPosition = nullptr;
    g_QuitRequested = 0;
    g_DebugMode = 0;
  }
  void TearDown() override {
    g_ErrScriptPosition = nullptr;
    UserErrReset();
    g_QuitRequested = 0;
  }
};

bool FakePosition(const char** file, i32* line) {
  *file = "script\\main.txt";
  *line = 12;
  return true;
}

}  // namespace

TEST_F(ErrTest, BuiltinTextWinsOverProjectText) {
  std::string project = Sjis("プロジェクトの文");
  g_UserErrCount = 2;
  g_UserErrCodes[0] = 104060;
  g_UserErrTexts[0] = project.c_str();
  g_UserErrCodes[1] = 200001;
  g_UserErrTexts[1] = project.c_str();
  EXPECT_EQ(std::string(ErrMessageForCode(104060)), Sjis("[%s]ファイルが\n存在しません。"));
  EXPECT_EQ(std::string(ErrMessageForCode(200001)), project);
  EXPECT_EQ(std::string(ErrMessageForCode(200002)),
            Sjis("[内部エラー]\n\nエラー文字列の指定ミスです。\nシステム開発者までお問い合わせください。"));
  // Codes raised before the project's texts are loaded have texts of the engine's own, which a
  // project text of the same code still replaces.
  ErrRaiseF(105000, 1, "chbin\\zpe.zbn");
  EXPECT_EQ(g_ErrLastText, Sjis("[chbin\\zpe.zbn]ファイルが壊れています。"));
  g_UserErrCodes[1] = 105000;
  EXPECT_EQ(std::string(ErrMessageForCode(105000)), project);
}

TEST_F(ErrTest, HeaderOnlyInsideScriptsAndArgumentsNeverFormatIt) {
  ErrRaiseF(104060, 0, "a.png");
  EXPECT_EQ(g_ErrLastText, Sjis("[a.png]ファイルが\n存在しません。"));
  EXPECT_EQ(g_ErrScriptFile, nullptr);
  // A script file name holding "%s" is data, not a conversion.
  g_ErrScriptPosition = [](const char** f, i32* l) {
    *f = "100%s.txt";
    *l = 7;
    return true;
  };
  ErrRaiseAtScriptF(104060, 0, "b.png");
  EXPECT_EQ(g_ErrLastText,
            Sjis("[対象ファイル]\n100%s.txt\n\n[場所]\n7 行目\n\n[内容]\n\n[b.png]ファイルが\n存在しません。"));
  EXPECT_STREQ(g_ErrScriptFile, "100%s.txt");
  EXPECT_EQ(g_ErrScriptLine, 7);
}

TEST_F(ErrTest, FirstErrorOnlyOpensTheDialogAndFatalSticks) {
  EXPECT_EQ(g_ErrDialogShown, 0);
  ErrRaise(100010, 1);
  EXPECT_EQ(g_ErrDialogShown, 1);
  EXPECT_EQ(g_QuitRequested.load(), 1);
  // A later non-fatal error neither shows a dialog nor clears the quit request.
  EXPECT_EQ(ErrRaise(104110, 0), 0);
  EXPECT_EQ(g_QuitRequested.load(), 1);
  EXPECT_EQ(g_ErrLastText, Sjis("フォルダの数が多すぎます。"));
}

TEST_F(ErrTest, FormatterChecksConversionsAgainstArguments) {
  EXPECT_EQ(ErrFormat("%d-%s-%u", -5, "x", -1), "-5-x-4294967295");
  EXPECT_EQ(ErrFormat("[%s][%d]"), "[][]");  // missing arguments give nothing
  EXPECT_EQ(ErrFormat("%s", 42), "42");      // mismatched kinds convert
  EXPECT_EQ(ErrFormat("%d", "text"), "text");
  EXPECT_EQ(ErrFormat("%5d|%-4s|%03x", 42, "ab", 10), "   42|ab  |00a");
  EXPECT_EQ(ErrFormat("%lld %I64d", i64{-9000000000}, i64{1} << 40), "-9000000000 1099511627776");
  EXPECT_EQ(ErrFormat("100%% %q %"), "100% %q %");
  EXPECT_EQ(ErrFormat("%.2f", 1.005), "1.00");
  // A trail byte equal to '%' (0x25 is not a trail byte, but 0x5C-like cases must not split):
  std::string s = "\x82\xA0%d";
  EXPECT_EQ(ErrFormat(s.c_str(), 3),
            "\x82\xA0"
            "3");
  // Precision on strings never cuts inside a character.
  EXPECT_EQ(ErrFormat("%.3s", "a\x82\xA0\x82\xA0"), "a\x82\xA0");
}

TEST_F(ErrTest, FormatterReadsFlagsAndWidthsByThePrintfGrammarWithinALimit) {
  // A game's own error texts: flags repeat or mix, widths may be absurd; none may crash or
  // build an enormous text.
  const std::string limit(ERR_FORMAT_FIELD_MAX - 2, ' ');
  static const struct {
    const char* format;
    std::string want;
  } kCases[] = {
      {"%--5s|", "ab   |"},
      {"% -5s|", "ab   |"},
      {"%-05s|", "ab   |"},
      {"%+5s|", "   ab|"},
      {"%18446744073709551615s", limit + "ab"},
      {"%1500000000s", limit + "ab"},
      {"%99999999999999999999999999999999s", limit + "ab"},
      {"%.18446744073709551615s", "ab"},
      {"%-18446744073709551615s|", "ab" + limit + "|"},
      {"%5$s|", "%5$s|"},  // positional arguments are not supported: literal text
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(ErrFormat(c.format, "ab"), c.want) << c.format;
  }
  // Numbers take the same limits; a '*' width comes from the arguments, negative = left.
  EXPECT_EQ(ErrFormat("%99999999999d", 7).size(), size_t{ERR_FORMAT_FIELD_MAX});
  EXPECT_EQ(ErrFormat("%.99999999999f", 1.5).size(), size_t{ERR_FORMAT_FIELD_MAX + 2});
  EXPECT_EQ(ErrFormat("%*s|", -4, "ab"), "ab  |");
  EXPECT_EQ(ErrFormat("%*s|", i64{1} << 40, "ab"), limit + "ab|");
  // Raised through the project's texts, the run survives and the fatal flag still applies.
  std::string text = "%--5s %1500000000s";
  g_UserErrCount = 1;
  g_UserErrCodes[0] = 200001;
  g_UserErrTexts[0] = text.c_str();
  ErrRaiseF(200001, 1, "a", "b");
  EXPECT_EQ(g_QuitRequested.load(), 1);
  EXPECT_EQ(g_ErrLastText.size(), size_t{5 + 1 + ERR_FORMAT_FIELD_MAX});
}

TEST_F(ErrTest, NoticesTextIsWholeAndCaptioned) {
  std::string n = ErrMessageForCode(ERR_NOTICES);
  EXPECT_EQ(n.rfind(Sjis("■ライセンスについて"), 0), 0u);
  for (const char* lib : {"Ogg Vorbis", "libpng", "zlib", "libjpeg-turbo", "SDL2", "FreeType", "Fontconfig"})
    EXPECT_NE(n.find(lib), std::string::npos) << lib;
  g_ErrDialogCaption = "License Information";
  ErrRaise(ERR_NOTICES, 1);
  EXPECT_EQ(g_ErrLastText, n);  // longer than 1024 bytes and not cut
  EXPECT_GT(n.size(), 1024u);
}

TEST_F(ErrTest, EditorTableAndDefaultRow) {
  EXPECT_EQ(ErrEditorParameters("TeraPad.exe", 12, "c:\\g\\a.txt"), " /jl=12 c:\\g\\a.txt");
  EXPECT_EQ(ErrEditorParameters("emeditor.EXE", 3, "p"), " \"p\" /l 3");
  EXPECT_EQ(ErrEditorParameters("MIW.exe", 9, "p"), " \"p+9\"");
  EXPECT_EQ(ErrEditorParameters("QXW32.exe", 9, "p"), " -J9 \"p\"");
  EXPECT_EQ(ErrEditorParameters("vim", 9, "p"), " +9 p");
  EXPECT_EQ(ErrEditorParameters("gvim", 9, "p"), " p");
  std::vector<std::string> argv = ErrEditorCommand("/usr/bin/sakura", 5, "/g/my script.txt");
  ASSERT_EQ(argv.size(), 3u);
  EXPECT_EQ(argv[0], "/usr/bin/sakura");
  EXPECT_EQ(argv[1], "/g/my script.txt");
  EXPECT_EQ(argv[2], "-Y=5");
  argv = ErrEditorCommand("hidemaru", 40, "/a b");
  ASSERT_EQ(argv.size(), 3u);
  EXPECT_EQ(argv[1], "/j40");
  EXPECT_EQ(argv[2], "/a b");
}

TEST_F(ErrTest, DebugModeScriptErrorRecordsPosition) {
  g_DebugMode = 1;
  g_ErrScriptPosition = FakePosition;
  ErrRaiseAtScript(100010, 0);
  EXPECT_STREQ(g_ErrScriptFile, "script\\main.txt");
  EXPECT_EQ(g_ErrScriptLine, 12);
  EXPECT_EQ(g_QuitRequested.load(), 0);
}

// The engine's boxes shown without a title carry the system's default caption; a title given,
// even an empty one from a script, stands as it is.
TEST_F(ErrTest, BoxesWithoutATitleCarryTheDefaultCaption) {
  testing::internal::CaptureStderr();
  ErrMessageBoxF("", "%s", "a");
  ErrMessageBoxF("T", "b");
  PlatMessageBox(nullptr, "c", PLAT_MB_OK);
  PlatMessageBox("", "d", PLAT_MB_OK);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "[message box] エラー\na\n[message box] T\nb\n[message box] エラー\nc\n[message box] \nd\n");
}

// The editors of this platform take the line their own way; the Windows rows stay for what
// matches them; the path is one argument whatever it holds, and the editor setting's own words
// stay words.
TEST_F(ErrTest, EditorCommandKeepsThePathOneArgument) {
  const std::string odd = "/g/my \"quoted\" dir/main script.zs";
  struct Case {
    const char* editor;
    std::vector<std::string> argv;
  } cases[] = {
      {"vim", {"vim", "+7", odd}},
      {"/usr/bin/nvim", {"/usr/bin/nvim", "+7", odd}},
      {"emacs -nw", {"emacs", "-nw", "+7", odd}},
      {"nano", {"nano", "+7", odd}},
      {"kate", {"kate", "+7", odd}},
      {"gedit", {"gedit", "+7", odd}},
      {"mousepad", {"mousepad", "+7", odd}},
      {"vi", {"vi", "+7", odd}},
      {"code -w", {"code", "-w", "--goto", odd + ":7"}},
      {"\"/opt/my editor/ed\" -x", {"/opt/my editor/ed", "-x", odd}},
      {"sakura", {"sakura", odd, "-Y=7"}},
      {"MIW.exe", {"MIW.exe", odd + "+7"}},
      {"TeraPad", {"TeraPad", "/jl=7", odd}},
  };
  for (const Case& c : cases) EXPECT_EQ(ErrEditorCommand(c.editor, 7, odd), c.argv) << c.editor;
  EXPECT_TRUE(ErrEditorCommand("", 7, odd).empty());
}
