// The file helpers and commands: the CSV rules and counts, the clipboard cut at its limit, the
// preload lists' order, limit and byte total, the registry store in both encodings, and the
// commands run from compiled lines.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "cmd_game.h"
#include "common/rand.h"
#include "core/hooks.h"
#include "core/pack.h"
#include "file_test_data.h"
#include "platform/desktop.h"
#include "script/file.h"
#include "support/game_folder.h"

namespace {

std::vector<std::string> Split(const std::string& text) {
  std::vector<std::string> out;
  FileCsvSplit(
      reinterpret_cast<const u8*>(text.data()), text.size(),
      [](void* ctx, i64 index, const char* s, size_t len) {
        auto* v = static_cast<std::vector<std::string>*>(ctx);
        EXPECT_EQ(index, static_cast<i64>(v->size()));
        v->emplace_back(s, len);
        return true;
      },
      &out);
  return out;
}

}  // namespace

TEST(FileCsv, FieldsFollowTheLineAndQuoteRules) {
  using V = std::vector<std::string>;
  struct Case {
    const char* what;
    std::string text;  // as the command walks it: the file with CR LF appended
    V want;
  } cases[] = {
      {"content without a comma stores nothing; an empty line one empty string", "a,b\r\nc\r\n\r\n", {"a", "b", ""}},
      {"the file's own line end and the appended one", "a,b\r\nc\r\n\r\n\r\n", {"a", "b", "", ""}},
      {"double quotes keep a comma and stay in the text", "\"x, y\",z\r\n", {"\"x, y\"", "z"}},
      {"single quotes too", "'p,q',r\r\n", {"'p,q'", "r"}},
      {"a line end clears an open quote", "\"a,b\r\nc,d\r\n", {"c", "d"}},
      {"CR, LF and CR LF each end a line", "a,b\rc,d\ne,f\r\n", {"a", "b", "c", "d", "e", "f"}},
      {"leading blanks skipped, later ones kept", "  a \t, \tb c \r\n", {"a \t", "b c "}},
      {"a comma first stores an empty field", ",a\r\n", {"", "a"}},
      {"a trailing comma stores an empty last field", "a,\r\n", {"a", ""}},
      {"blanks and quotes alone make no content", " \"\" ''\r\n", {""}},
      {"a lead byte never takes a delimiter as its trail byte", "\x82,,\x95\x5c\r\n", {"\x82", "", "\x95\x5c"}},
  };
  for (const Case& c : cases) EXPECT_EQ(Split(c.text), c.want) << c.what;
}

TEST(FileCsv, LongFieldKeepsWholeCharactersAndSkipsTheRest) {
  // 5000 bytes: the first 4095 are kept.
  std::string big(5000, 'x');
  std::vector<std::string> got = Split(big + ",tail\r\n");
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0], std::string(4095, 'x'));
  EXPECT_EQ(got[1], "tail");
  // A pair that would straddle the limit is left out, and no later byte fills its place.
  got = Split(std::string(4094, 'x') + "\x82\xa0" + "yyy,z\r\n");
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0], std::string(4094, 'x'));
  EXPECT_EQ(got[1], "z");
}

TEST(FileCsv, CountIsStringsPlusOneOverGeneratedTables) {
  // Tables of random rows, each row a kind the rules treat differently; the expected strings are
  // built from the rows, independently of the walk.
  for (u32 seed = 1; seed <= 40; seed++) {
    SysRandomSeed(seed);
    std::string text;
    std::vector<std::string> want;
    const u32 rows = 1 + RandNextU32() % 30;
    for (u32 r = 0; r < rows; r++) {
      const u32 kind = RandNextU32() % 4;
      if (kind == 0) {
        text += "   ";  // blanks only: one empty string
        want.push_back("");
      } else if (kind == 1) {
        text += "lonely";  // content and no comma: nothing
      } else {
        const u32 fields = 2 + RandNextU32() % 5;
        for (u32 f = 0; f < fields; f++) {
          std::string v = (RandNextU32() % 3 == 0) ? "\"q,\"" : std::string(RandNextU32() % 4, 'a' + f);
          text += (f ? "," : "") + std::string(RandNextU32() % 2, ' ') + v;
          want.push_back(v);
        }
      }
      static const char* const kEnds[] = {"\r\n", "\n", "\r"};
      text += kEnds[RandNextU32() % 3];
    }
    text += "\r\n";  // what the command appends
    want.push_back("");
    EXPECT_EQ(Split(text), want) << "seed " << seed;
    EXPECT_EQ(FileCsvSplit(reinterpret_cast<const u8*>(text.data()), text.size(), nullptr, nullptr) + 1,
              static_cast<i64>(want.size()) + 1);
  }
}

TEST(FileClipboard, CutCountsShiftJisBytesAndNeverSplitsAPair) {
  const std::string pair = "\x82\xa0";
  struct Case {
    const char* what;
    std::string text;
    size_t want_len;
    std::string want_tail;
  } cases[] = {
      {"1023 bytes", std::string(1023, 'a'), 1023, "a"},
      {"1024 bytes", std::string(1024, 'a'), 1024, "a"},
      {"1025 bytes", std::string(1025, 'a'), 1024, "a"},
      {"a pair ending at the limit", std::string(1022, 'a') + pair + "b", 1024, pair},
      {"a pair across the limit is left out", std::string(1023, 'a') + pair, 1023, "a"},
      {"a lead byte without its trail byte", std::string(10, 'a') + "\x82", 10, "a"},
      {"control bytes dropped, counted in the limit", std::string(1000, 'a') + std::string(30, '\n') + "zz", 1000, "a"},
      {"2000 bytes with line breaks",
       [] {
         std::string s;
         for (int i = 0; i < 500; i++) s += "abc\n";
         return s;
       }(),
       768, "c"},
  };
  for (const Case& c : cases) {
    char out[FILE_CLIP_TEXT_MAX + 1];
    std::memset(out, 0x55, sizeof out);
    const size_t n = FileClipboardTextCut(c.text.data(), c.text.size(), out);
    EXPECT_EQ(n, c.want_len) << c.what;
    EXPECT_EQ(std::strlen(out), n) << c.what;
    EXPECT_EQ(std::string(out).substr(n - c.want_tail.size()), c.want_tail) << c.what;
  }
}

// ---- Preload lists ---------------------------------------------------------------------------

struct FilePreloadTest : ::testing::Test {
  TestGameFolder game;
  void SetUp() override {
    PackReset();
    ErrReset();
  }
  void TearDown() override {
    PackReset();
    ErrReset();
  }
  static std::vector<std::string> Names(i32 list) {
    std::vector<std::string> out;
    for (i32 i = 0; i < g_PackMemoryLists[list].count; i++) out.push_back(g_PackMemoryLists[list].items[i].name);
    return out;
  }
  static u64 SumSizes(i32 list) {
    u64 s = 0;
    for (i32 i = 0; i < g_PackMemoryLists[list].count; i++) s += g_PackMemoryLists[list].items[i].size;
    return s;
  }
};

TEST_F(FilePreloadTest, KnownItemMovesToTheEndUnread) {
  game.Write("bg/A.png", "first");
  game.Write("bg/b.png", "bb");
  game.Write("se/c.ogg", "ccc");
  ASSERT_EQ(FileMemListPreload(1, "BG/a", PACK_MEDIA_IMAGE), 0);
  ASSERT_EQ(FileMemListPreload(1, "bg/b.png", PACK_MEDIA_IMAGE), 0);
  ASSERT_EQ(FileMemListPreload(1, "se\\c", PACK_MEDIA_SOUND), 0);
  EXPECT_EQ(Names(1), (std::vector<std::string>{"bg\\a.png", "bg\\b.png", "se\\c.ogg"}));
  EXPECT_EQ(g_PackMemoryLists[1].items[2].type, PACK_TYPE_OGG);
  // Changed on disk: the list keeps what it read, and the known item is not read again.
  game.Write("bg/A.png", "changed on disk");
  ASSERT_EQ(FileMemListPreload(1, "bg/a", PACK_MEDIA_IMAGE), 0);
  EXPECT_EQ(Names(1), (std::vector<std::string>{"bg\\b.png", "se\\c.ogg", "bg\\a.png"}));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(g_PackMemoryLists[1].items[2].data), 5), "first");
  EXPECT_EQ(g_PackMemoryLists[1].total, 10u);
  u8* data = nullptr;
  u32 size = 0;
  ASSERT_EQ(PackReadWholeFile("bg\\a.png", &data, &size), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data), size), "first") << "the memory list answers first";
  std::free(data);
  // Nothing to load changes nothing; a missing file is not an error.
  EXPECT_EQ(FileMemListPreload(1, "bg/none", PACK_MEDIA_IMAGE), 0);
  EXPECT_EQ(g_PackMemoryLists[1].count, 3);
}

TEST_F(FilePreloadTest, FullListDropsItsFirstItemAndItsBytes) {
  for (i32 i = 0; i <= PACK_MEMLIST_ITEMS; i++) {
    // Names longer than the old 260-byte item buffer stay whole.
    const std::string name = std::string(150, 'n') + "/" + std::string(150, 'm') + std::to_string(i) + ".wav";
    game.Write(name, std::string(static_cast<size_t>(i % 7 + 1), 'x'));
    ASSERT_EQ(FileMemListPreload(3, name.c_str(), PACK_MEDIA_SOUND), 0) << i;
  }
  const PackMemoryList& l = g_PackMemoryLists[3];
  ASSERT_EQ(l.count, PACK_MEMLIST_ITEMS);
  const std::string dir = std::string(150, 'n') + "\\" + std::string(150, 'm');
  EXPECT_EQ(std::string(l.items[0].name), dir + "1.wav");
  EXPECT_EQ(std::string(l.items[PACK_MEMLIST_ITEMS - 1].name), dir + "512.wav");
  EXPECT_EQ(l.total, SumSizes(3));
}

// ---- Registry store --------------------------------------------------------------------------

struct FileRegistryTest : ::testing::Test {
  TestGameFolder home;
  std::string saved;
  void SetUp() override {
    saved = PlatGetEnv("XDG_CONFIG_HOME");
    setenv("XDG_CONFIG_HOME", home.native.c_str(), 1);
  }
  void TearDown() override {
    if (saved.empty()) unsetenv("XDG_CONFIG_HOME");
    else setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
  }
  void Store(const std::string& bytes) { home.Write("zephra/registry.reg", bytes); }
  static std::string Read(const char* root, const char* key, const char* value) {
    char buf[FILE_REG_BUF];
    std::memset(buf, 0x55, sizeof buf);
    if (RegReadString(root, key, value, buf) != 0) return "<fail>";
    return buf;
  }
};

TEST_F(FileRegistryTest, BothEncodingsGiveEveryValueType) {
  for (const std::string& file : TestRegistryStores()) {
    Store(file);
    const char* cu = "HKEY_CURRENT_USER";
    EXPECT_EQ(Read(cu, "Software\\Zephra Test", nullptr), "default");
    EXPECT_EQ(Read(cu, "SOFTWARE\\zephra test\\", ""), "default") << "keys compare without regard to case";
    EXPECT_EQ(Read(cu, "software\\zephra test", "NAME"), "\x93\xfa\x96\x7b") << "value names too; text as CP932";
    EXPECT_EQ(Read(cu, "software\\zephra test", "Quote"), "a\"b\\c");
    EXPECT_EQ(Read(cu, "software\\zephra test", "Count"), "*") << "a dword as its little-endian bytes";
    EXPECT_EQ(Read(cu, "software\\zephra test", "Zero"), "");
    EXPECT_EQ(Read(cu, "software\\zephra test", "Bin"), "AB") << "ends at the first zero byte";
    EXPECT_EQ(Read(cu, "software\\zephra test", "Long"), "AABB");
    EXPECT_EQ(Read(cu, "software\\zephra test", "Expand"), "%PATH%");
    EXPECT_EQ(Read(cu, "software\\zephra test", "Multi"), "one");
    EXPECT_EQ(Read(cu, "software\\zephra test", "Gone"), "<fail>");
    EXPECT_EQ(Read(cu, "software\\zephra test", "Missing"), "<fail>");
    EXPECT_EQ(Read(cu, "software\\other", "v"), "<fail>") << "another root";
    EXPECT_EQ(Read("HKEY_LOCAL_MACHINE", "software\\other", "v"), "machine");
    EXPECT_EQ(Read("hkey_local_machine", "software\\other", "v"), "<fail>") << "the root stays case-sensitive";
  }
}

TEST_F(FileRegistryTest, ValueMustFitTheBufferAndDamageFails) {
  const std::string head = "REGEDIT4\n[HKEY_CURRENT_USER\\k]\n";
  Store(head + "\"a\"=\"" + std::string(1023, 'x') + "\"\n\"b\"=\"" + std::string(1024, 'x') +
        "\"\n"
        "\"c\"=hex:" +
        [] {
          std::string s;
          for (int i = 0; i < 1024; i++) s += i ? ",41" : "41";
          return s;
        }() +
        "\n");
  EXPECT_EQ(Read("HKEY_CURRENT_USER", "k", "a"), std::string(1023, 'x'));
  EXPECT_EQ(Read("HKEY_CURRENT_USER", "k", "b"), "<fail>") << "1024 bytes and the zero do not fit";
  EXPECT_EQ(Read("HKEY_CURRENT_USER", "k", "c"), std::string(1023, 'A')) << "the text ends inside the buffer";
  struct Bad {
    const char* what;
    std::string text;
  } bad[] = {
      {"no header", "[HKEY_CURRENT_USER\\k]\n\"a\"=\"1\"\n"},
      {"an unterminated string", head + "\"a\"=\"1\n"},
      {"a bad hex run", head + "\"a\"=hex:4g\n"},
      {"a hex run cut after its continuation", head + "\"a\"=hex:41,\\\n"},
      {"a dword too long", head + "\"a\"=dword:123456789\n"},
      {"a value before any key", "REGEDIT4\n\"a\"=\"1\"\n"},
      {"an open section", head + "[HKEY_CURRENT_USER\\j\n"},
  };
  for (const Bad& b : bad) {
    PlatRegStore store;
    EXPECT_EQ(PlatRegistryParse(reinterpret_cast<const u8*>(b.text.data()), b.text.size(), &store), -1) << b.what;
  }
  home.Write("zephra/registry.reg", bad[1].text);
  EXPECT_EQ(Read("HKEY_CURRENT_USER", "k", "a"), "<fail>");
  std::filesystem::remove(home.Path("zephra/registry.reg"));
  EXPECT_EQ(Read("HKEY_CURRENT_USER", "k", "a"), "<fail>") << "no store";
}

TEST_F(FileRegistryTest, CharacterWithoutCodePageFormReadsAsOneMark) {
  std::string accents;  // U+00E9 each, longer than one of the converter's slices
  for (int i = 0; i < 300; i++) accents += "\xC3\xA9";
  Store(Utf16("Windows Registry Editor Version 5.00\r\n[HKEY_CURRENT_USER\\k]\r\n\"v\"=\"a\xC3\xA9\xE6\x97\xA5" +
              accents + "b\"\r\n"));
  EXPECT_EQ(Read("HKEY_CURRENT_USER", "k", "v"), "a?\x93\xfa" + std::string(300, '?') + "b");
}

TEST_F(FileRegistryTest, ChangedStoreIsReadAgain) {
  const std::string head = "REGEDIT4\n[HKEY_CURRENT_USER\\k]\n";
  Store(head + "\"v\"=\"1\"\n");
  EXPECT_EQ(Read("HKEY_CURRENT_USER", "k", "v"), "1");
  Store(head + "\"v\"=\"2\"\n");  // same size, same file, the same moment
  EXPECT_EQ(Read("HKEY_CURRENT_USER", "k", "v"), "2");
  std::filesystem::remove(home.Path("zephra/registry.reg"));
  EXPECT_EQ(Read("HKEY_CURRENT_USER", "k", "v"), "<fail>");
  Store(head + "\"w\"=\"3\"\n");
  EXPECT_EQ(Read("HKEY_CURRENT_USER", "k", "w"), "3");
}

// ---- Commands --------------------------------------------------------------------------------

struct CmdFileTest : CmdGameTest {
  TestGameFolder game;
  void SetUp() override {
    PackReset();
    plain_codes = {ERR_VAR_WRONG_TYPE};
    named_codes = {ERR_FILE_MISSING};
  }
  void TearDown() override {
    CmdGameTest::TearDown();
    PackReset();
  }
};

TEST_F(CmdFileTest, CsvReadAndCount) {
  game.Write("data/Table.csv", "id,name\r\n1,\"a,b\"\r\n");
  Load(
      "global str s[8]\nglobal int n\n*SYSTEM_START\n"
      "csv_read file='DATA/table.csv', read=1, result=s\ncsv_read file='data/table.csv', count=1, result=n\n"
      "csv_read file='data/none.csv', read=1, result=s\n");
  RunAll(0, 1);
  const char* want[] = {"id", "name", "1", "\"a,b\"", "", ""};
  for (int k = 0; k < 6; k++) EXPECT_EQ(Str(1000, k), want[k]) << k;
  EXPECT_EQ(VarGetIntElement(1001, 0), 6) << "five strings stored, count one more";
  EXPECT_EQ(w.Run(2), -1);
  EXPECT_NE(g_ErrLastText.find("[data\\none.csv]"), std::string::npos) << g_ErrLastText;
}

TEST_F(CmdFileTest, FileInfoQueries) {
  game.Write("cg/pic.jpg", "12345");
  game.Write("se/hit.wav", "w");
  std::filesystem::create_directories(game.Path("save/slot"));
  Load(
      "global int r[6]\nglobal str t\n*SYSTEM_START\n"
      "file_info image='CG/pic', exists=1, result=r[0]\nfile_info sound='se/hit', exists=1, result=r[1]\n"
      "file_info folder='save/SLOT', exists=1, result=r[2]\nfile_info file='cg/pic.jpg', size=1, result=r[3]\n"
      "file_info file='cg/pic', exists=1, result=r[4]\nfile_info folder='save', program=1, result=t\n"
      "file_info file='cg/pic.jpg', exists=1, result=t\n");
  RunAll(0, 5);
  EXPECT_EQ(VarGetIntElement(1000, 0), 1);
  EXPECT_EQ(VarGetIntElement(1000, 1), 1);
  EXPECT_EQ(VarGetIntElement(1000, 2), 1);
  EXPECT_EQ(VarGetIntElement(1000, 3), 5);
  EXPECT_EQ(VarGetIntElement(1000, 4), 0) << "a file is looked up by its whole name";
  EXPECT_EQ(Str(1001), "");
  EXPECT_EQ(w.Run(6), -1);
  EXPECT_TRUE(TestRaised(ERR_VAR_WRONG_TYPE)) << g_ErrLastText;
}

TEST_F(CmdFileTest, ScriptFileInfoIndexesOnlyListedFiles) {
  Load(
      "global int r[4]\nglobal str t[3]\n*SYSTEM_START\n"
      "script_info count=1, result=r[0]\nscript_info value=1, file=1, result=r[1]\n"
      "script_info value=1, file=0, result=r[2]\nscript_info player=1, result=r[3]\n"
      "script_info name=1, file=1, result=t[0]\nscript_info name=1, file=0, result=t[1]\n"
      "script_info name=1, file=4294967297, result=t[2]\n");
  RunAll(0, 6);
  EXPECT_EQ(VarGetIntElement(1000, 0), static_cast<i64>(g_ScriptFileCount));
  EXPECT_EQ(VarGetIntElement(1000, 1), g_ScriptFileValues[0]);
  EXPECT_EQ(VarGetIntElement(1000, 2), 0);
  EXPECT_EQ(VarGetIntElement(1000, 3), g_EmoteAvailable);
  EXPECT_EQ(Str(1001, 0), g_ScriptFileNames[0]);
  EXPECT_EQ(Str(1001, 1), "");
  EXPECT_EQ(Str(1001, 2), "") << "a number compared in 64 bits, not cut to 1";
}

TEST_F(CmdFileTest, RegistryReadResults) {
  const std::string saved = PlatGetEnv("XDG_CONFIG_HOME");
  setenv("XDG_CONFIG_HOME", game.native.c_str(), 1);
  game.Write("zephra/registry.reg", "REGEDIT4\n[HKEY_CURRENT_USER\\Software\\T]\n\"v\"=\"yes\"\n");
  Load(
      "global str s[3]\nglobal int n = 5\nglobal float f = 2.5\n*SYSTEM_START\n"
      "reg_read key='HKEY_CURRENT_USER/software/t', value='v', result=s[0]\n"
      "reg_read key='hkey_current_user/software/t', value='v', result=s[1]\n"
      "reg_read key='HKEY_CURRENT_USER/software/t', value='none', result=s[2]\n"
      "reg_read key='HKEY_CURRENT_USER/software/t', value='none', result=n\n"
      "reg_read key='HKEY_CURRENT_USER/software/t', value='none', result=f\n");
  VarSetStrElement(1000, 1, "kept");
  VarSetStrElement(1000, 2, "cleared");
  RunAll(0, 4);
  EXPECT_EQ(Str(1000, 0), "yes");
  EXPECT_EQ(Str(1000, 1), "kept") << "a prefix in another case is no key path";
  EXPECT_EQ(Str(1000, 2), "");
  EXPECT_EQ(VarGetIntElement(1001, 0), 0);
  EXPECT_EQ(VarGetFloatElement(1002, 0), 0.0);
  if (saved.empty()) unsetenv("XDG_CONFIG_HOME");
  else setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
}
