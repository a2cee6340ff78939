#include <cstring>

#include "common/hash.h"
#include "core/pack_fixture.h"

namespace {

struct PackArchiveTest : PackFixture {
  std::vector<std::string> PackNames() const {
    std::vector<std::string> v;
    for (i32 i = 0; i < g_PackDirectory.pack_count; i++) v.push_back(g_PackDirectory.names[i]);
    return v;
  }
  static void Put32(std::vector<u8>& img, size_t at, u32 v) {
    for (int i = 0; i < 4; i++) img[at + i] = static_cast<u8>(v >> (8 * i));
  }
  // Runs the scan with stderr captured; the message boxes and dialogs it printed.
  i32 ScanCapturing(std::string* printed) {
    ::testing::internal::CaptureStderr();
    i32 r = PackScanAll();
    *printed = ::testing::internal::GetCapturedStderr();
    return r;
  }
};

const char kScanFailed[] = "パックファイルの調査に失敗しました。";

}  // namespace

TEST_F(PackArchiveTest, ScanOrderPutsUpdatePacksLastAndTheySupersede) {
  WritePack("update2.zpf", {Entry("a.txt", Bytes("new a"))});
  WritePack("data.zpf", {Entry("a.txt", Bytes("old a")), Entry("b.txt", Bytes("b"))});
  WritePack("pac/voice.zpf", {Entry("v\\01.ogg", Bytes("voice"))});
  game.Write("readme.txt", "not a pack");
  ASSERT_EQ(PackScanAll(), 0);
  EXPECT_EQ(PackNames(), (std::vector<std::string>{".\\data.zpf", ".\\pac\\voice.zpf", ".\\update2.zpf"}));
  EXPECT_EQ(g_PackDirectory.entry_count, 4);
  EXPECT_EQ(Read("a.txt"), "new a");
  EXPECT_EQ(Read("b.txt"), "b");
  EXPECT_EQ(Read("v\\01.ogg"), "voice");
  EXPECT_EQ(g_ScriptsPacked, 0);
  // The directory is sorted by hash, with the superseded entry holding 0 or 1.
  const std::vector<u32>& h = g_PackDirectory.hashes;
  EXPECT_TRUE(std::is_sorted(h.begin(), h.end()));
  EXPECT_LE(h.front(), 1u);
}

TEST_F(PackArchiveTest, LaterUpdatePacksWinAndSupersededEntriesStayHidden) {
  WritePack("data.zpf", {Entry("a.txt", Bytes("data"))});
  WritePack("update1.zpf", {Entry("a.txt", Bytes("update1")), Entry("c.txt", Bytes("c1"))});
  WritePack("pac/update3.zpf", {Entry("A.TXT", Bytes("update3"))});
  WritePack("update2.zpf", {Entry("c.txt", Bytes("c2"))});
  ASSERT_EQ(PackScanAll(), 0);
  EXPECT_EQ(PackNames(),
            (std::vector<std::string>{".\\data.zpf", ".\\update1.zpf", ".\\update2.zpf", ".\\pac\\update3.zpf"}));
  EXPECT_EQ(Read("a.txt"), "update3");
  EXPECT_EQ(Read("c.txt"), "c2");
}

TEST_F(PackArchiveTest, TheSameNameInTwoOrdinaryPacksIsRefusedWithItsName) {
  WritePack("data.zpf", {Entry("Chbin\\Dup.zbn", Bytes("1"))});
  WritePack("more.zpf", {Entry("chbin\\dup.ZBN", Bytes("2"))});
  EXPECT_EQ(PackScanAll(), -1);
  EXPECT_EQ(g_ErrLastText, ErrText(ERR_PACK_DUPLICATE, "chbin\\dup.ZBN"));
  EXPECT_EQ(g_QuitRequested, 0);  // not fatal by its flag; the -1 ends the start-up
}

TEST_F(PackArchiveTest, EqualHashesWithDifferentNamesAreBothKept) {
  KitPackLayout layout;
  std::vector<u8> img = BuildPack({Entry("a.txt", Bytes("A")), Entry("b.txt", Bytes("B"))}, &layout);
  // Give b.txt the hash of a.txt: the lookup must confirm names, not trust hashes.
  Put32(img, layout.record_offsets[1], HashMurmur2("a.txt", 5, 0));
  game.Write("data.zpf", img);
  ASSERT_EQ(PackScanAll(), 0);
  EXPECT_EQ(g_PackDirectory.duplicates, 1);
  EXPECT_EQ(Read("a.txt"), "A");
  EXPECT_EQ(Read("b.txt"), "<find=0>");  // its record carries another name's hash
}

TEST_F(PackArchiveTest, ProjectConfigurationInAPackMarksTheScriptsPacked) {
  WritePack("data.zpf", {Entry("CHBIN\\zpcfg.zbn", Bytes("cfg"))});
  ASSERT_EQ(PackScanAll(), 0);
  EXPECT_EQ(g_ScriptsPacked, 1);
}

TEST_F(PackArchiveTest, PacksAreFoundOnlyInTheGameFolderAndItsPacFolder) {
  WritePack("PAC/one.zpf", {Entry("one.txt", Bytes("1"))});
  WritePack("PAC/pac/two.zpf", {Entry("two.txt", Bytes("2"))});
  WritePack("other/three.zpf", {Entry("three.txt", Bytes("3"))});
  game.Write("folder.zpf/x", "a folder named like a pack");
  ASSERT_EQ(PackScanAll(), 0);
  EXPECT_EQ(PackNames(), (std::vector<std::string>{".\\pac\\one.zpf"}));
  EXPECT_EQ(Read("one.txt"), "1");
  EXPECT_EQ(Read("two.txt"), "<find=0>");
}

TEST_F(PackArchiveTest, FolderWalkLimits) {
  // 33 nested "pac" folders with an unlimited depth: refused at depth 32.
  std::string deep;
  for (int i = 0; i < 33; i++) deep += "pac/";
  game.Write(deep + "x.zpf", "");
  EXPECT_EQ(PackFindFiles(1000, "."), -1);
  EXPECT_EQ(g_ErrLastText, ErrText(ERR_PACK_FOLDERS_TOO_DEEP));
  std::filesystem::remove_all(game.Path("pac"));
  // More than 1000 "pac" folders: every case spelling of "pac" is a folder of its own here.
  std::vector<std::string> level{"."};
  const char* spellings[] = {"pac", "paC", "pAc", "pAC", "Pac", "PaC", "PAc", "PAC"};
  for (int depth = 0; depth < 4; depth++) {
    std::vector<std::string> next;
    for (size_t i = 0; i < level.size() && (depth < 3 || i < 60); i++)
      for (const char* s : spellings) next.push_back(level[i] + "/" + s);
    for (const std::string& f : next) std::filesystem::create_directories(game.Path(f));
    level = next;
  }
  ErrReset();
  EXPECT_EQ(PackFindFiles(10, "."), -1);
  EXPECT_EQ(g_ErrLastText, ErrText(ERR_PACK_TOO_MANY_FOLDERS));
}

TEST_F(PackArchiveTest, HundredPacksAreAcceptedAndTheHundredAndFirstRefused) {
  KitPackOptions opt;
  opt.recovery = false;
  for (int i = 0; i < 100; i++) {
    char name[32];
    std::snprintf(name, sizeof name, "p%03d.zpf", i);
    WritePack(name, {Entry(std::string(name) + ".txt", Bytes(name))}, opt);
  }
  game.Write("junk.zpf", "not a pack at all");  // ignored: not counted
  ASSERT_EQ(PackScanAll(), 0);
  EXPECT_EQ(g_PackDirectory.pack_count, 100);
  EXPECT_EQ(Read("p000.zpf.txt"), "p000.zpf");
  EXPECT_EQ(Read("p099.zpf.txt"), "p099.zpf");
  WritePack("p100.zpf", {Entry("p100.txt", Bytes("x"))}, opt);
  PackReset();
  PackScrambleSetup();
  EXPECT_EQ(PackScanAll(), -1);
  EXPECT_EQ(g_ErrLastText, ErrText(ERR_PACK_TOO_MANY_PACKS, 100));
}

TEST_F(PackArchiveTest, HundredThousandEntriesAreAcceptedAndOneMoreRefused) {
  KitPackOptions opt;
  opt.recovery = false;
  for (int p = 0; p < 2; p++) {
    std::vector<KitPackEntry> entries;
    for (int i = 0; i < 50000; i++) entries.push_back(Entry("e" + std::to_string(p * 50000 + i), {}));
    entries[0].data = Bytes("first of " + std::to_string(p));
    WritePack("e" + std::to_string(p) + ".zpf", entries, opt);
  }
  ASSERT_EQ(PackScanAll(), 0);
  EXPECT_EQ(g_PackDirectory.entry_count, 100000);
  EXPECT_EQ(Read("e0"), "first of 0");
  EXPECT_EQ(Read("e50000"), "first of 1");
  EXPECT_EQ(Read("e99999"), "");
  WritePack("e2.zpf", {Entry("last", Bytes("x"))}, opt);
  PackReset();
  PackScrambleSetup();
  EXPECT_EQ(PackScanAll(), -1);
  EXPECT_EQ(g_ErrLastText, ErrText(ERR_PACK_TOO_MANY_ENTRIES, 100000));
}

TEST_F(PackArchiveTest, DamagedEntryTablesStopTheScanCleanly) {
  struct Case {
    const char* what;
    void (*damage)(std::vector<u8>& img, const KitPackLayout& l);
    const char* expect;  // the message printed, UTF-8
  } cases[] = {
      {"count above the records", [](std::vector<u8>& img, const KitPackLayout&) { Put32(img, 8, 3); }, kScanFailed},
      {"length code past the table",
       [](std::vector<u8>& img, const KitPackLayout& l) { img[l.record_offsets[1] + 4] = 0; }, kScanFailed},
      {"table larger than the file", [](std::vector<u8>& img, const KitPackLayout&) { Put32(img, 12, 0x7FFFFFFF); },
       kScanFailed},
      {"truncated inside the table", [](std::vector<u8>& img, const KitPackLayout&) { img.resize(40); }, kScanFailed},
      {"old version", [](std::vector<u8>& img, const KitPackLayout&) { Put32(img, 4, 233); },
       "パックファイル仕様が現在の仕様と一致しません。"},
      {"header cut after the magic", [](std::vector<u8>& img, const KitPackLayout&) { img.resize(6); },
       "パックファイル仕様が現在の仕様と一致しません。"},
      {"absurd entry count", [](std::vector<u8>& img, const KitPackLayout&) { Put32(img, 8, 0xFFFFFFFF); },
       "合計 100000 個を超えました。"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PackReset();
    PackScrambleSetup();
    ErrReset();
    KitPackLayout layout;
    std::vector<u8> img = BuildPack({Entry("a.txt", Bytes("A")), Entry("bb.txt", Bytes("B"))}, &layout);
    c.damage(img, layout);
    game.Write("data.zpf", img);
    std::string printed;
    EXPECT_EQ(ScanCapturing(&printed), -1);
    EXPECT_NE(PlatUtf8ToSjis(printed).find(PlatUtf8ToSjis(c.expect)), std::string::npos) << printed;
  }
}

TEST_F(PackArchiveTest, ARecordChangedAfterTheScanIsCheckedAtLookup) {
  KitPackLayout layout;
  std::vector<u8> img = BuildPack({Entry("a.txt", Bytes("A"))}, &layout);
  game.Write("data.zpf", img);
  ASSERT_EQ(PackScanAll(), 0);
  img[layout.record_offsets[0] + 4] = 0;  // a length code whose name runs past the table
  game.Write("data.zpf", img);
  PackLookup lookup{};
  EXPECT_EQ(PackFindInArchives(&lookup, "a.txt"), -2);
  img.resize(20);
  game.Write("data.zpf", img);
  EXPECT_EQ(PackFindInArchives(&lookup, "a.txt"), -2);
}

TEST_F(PackArchiveTest, ScrambleSetupBuildsTheTablesBothSidesShare) {
  PackReset();
  ASSERT_EQ(PackScrambleSetup(), 0);
  int moved = 0;
  for (int i = 0; i < 256; i++) {
    if (g_NameLengthTable[i] != i) moved++;
    EXPECT_EQ(g_NameLengthTable[g_NameLengthTable[i]], i);  // pairs exchanged: an involution
  }
  EXPECT_EQ(moved, 24);
  const u8 key[4] = {0x9e, 0xd3, 0x98, 0xb8};  // CRC-32 of "Vorlik", most significant byte first
  EXPECT_EQ(std::memcmp(g_ScrambleKey, key, 4), 0);
  // Every name length survives the writer's code and the reader's table.
  for (u32 len : {1u, 3u, 8u, 197u, 250u, 255u}) {
    std::string name(len, 'n');
    KitPackLayout layout;
    std::vector<u8> img = BuildPack({Entry(name, Bytes("x"))}, &layout);
    EXPECT_EQ(g_NameLengthTable[255 - img[layout.record_offsets[0] + 4]], len);
  }
}
