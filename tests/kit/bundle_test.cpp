#include "kit/bundle.h"

#include <gtest/gtest.h>

#include <cstring>

#include "core/pack_fixture.h"
#include "kit/config_writer.h"
#include "platform/resource.h"
#include "shell/saver.h"
#include "shell/startup.h"

namespace {

struct BundleTest : PackFixture {
  std::string pack_path;
  void SetUp() override {
    PackFixture::SetUp();
    g_ScreenSaverBuild = 0;
    pack_path = game.Path("game.zpf");
    std::string err;
    KitPackOptions opt;
    ASSERT_EQ(KitPackWrite(pack_path, {Entry("a.txt", Bytes("appended a")), Entry("chbin\\zpcfg.zbn", Bytes("c"))}, opt,
                           &err),
              0)
        << err;
  }
  void TearDown() override {
    g_ScreenSaverBuild = 0;
    PackFixture::TearDown();
  }
  std::string MakeBundle() {
    std::string out = game.Path("mygame");
    std::string err;
    EXPECT_EQ(KitBundleWrite(ZEPHRA_BIN, pack_path, out, &err), 0) << err;
    return out;
  }
  static u64 FileSize(const std::string& p) { return std::filesystem::file_size(p); }
  static void Patch(const std::string& p, u64 at, const void* bytes, size_t n) {
    std::vector<u8> img;
    ASSERT_EQ(PlatFileReadAllNative(p, &img), 0);
    std::memcpy(img.data() + at, bytes, n);
    ASSERT_EQ(PlatFileWriteAtomicNative(p, img.data(), img.size(), true), 0);
  }
};

}  // namespace

TEST_F(BundleTest, ANormalBuildCarriesBothResources) {
  u8 v[4] = {};
  EXPECT_EQ(PlatResourceRead("ZP_RES", 201, v, 4), 4);
  EXPECT_EQ(v[0] | v[1] << 8 | v[2] << 16 | v[3] << 24, 4);  // nothing appended
  i32 bin = PlatResourceSize("ZP_BIN", 148);
  EXPECT_GE(bin, 0);
  EXPECT_LE(bin, 4);
  EXPECT_EQ(PlatResourceSize("ZP_RES", 148), -1);
  EXPECT_EQ(PackDetectAppended(), 0);
  EXPECT_EQ(g_DataInExe, 0);
  g_PackExeNative = ZEPHRA_BIN;
  EXPECT_EQ(PackDetectAppended(), 0);
}

TEST_F(BundleTest, AStandaloneGameReadsOnlyItsAppendedPack) {
  std::string bundle = MakeBundle();
  u64 exe_size = FileSize(ZEPHRA_BIN);
  EXPECT_EQ(FileSize(bundle), exe_size + 16 + FileSize(pack_path));
  g_PackExeNative = bundle;
  ASSERT_EQ(PackDetectAppended(), 1);
  EXPECT_EQ(g_DataInExe, 1);
  EXPECT_EQ(g_ScriptsPacked, 1);
  EXPECT_EQ(g_AppendedBase, exe_size + 16);
  EXPECT_EQ(g_ScreenSaverBuild, 0);
  // Packs beside it are never opened: this one would stop the scan.
  game.Write("data.zpf", std::string("ZPF\0\xff\xff\xff\xff", 8));
  std::filesystem::remove(pack_path);
  ASSERT_EQ(PackScanAll(), 0);
  EXPECT_EQ(g_PackDirectory.pack_count, 1);
  EXPECT_EQ(Read("a.txt"), "appended a");
  game.Write("a.txt", "loose");
  EXPECT_EQ(Read("a.txt"), "appended a");  // packs before loose files
}

TEST_F(BundleTest, TheTrailerDecidesWhatIsAppended) {
  std::string bundle = MakeBundle();
  u64 a = FileSize(ZEPHRA_BIN);
  u32 preview = 1234;
  Patch(bundle, a + 8, &preview, 4);
  g_PackExeNative = bundle;
  EXPECT_EQ(PackDetectAppended(), 1);
  EXPECT_EQ(g_ScreenSaverBuild, 1);
  PackReset();
  g_ScreenSaverBuild = 0;
  Patch(bundle, a, "ZPEX", 4);  // no marker at A: nothing appended
  g_PackExeNative = bundle;
  EXPECT_EQ(PackDetectAppended(), 0);
  EXPECT_EQ(g_DataInExe, 0);
}

TEST_F(BundleTest, AnExecutableWithoutItsResourceEndsTheRun) {
  game.Write("not-zephra", std::string(5000, 'x'));
  g_PackExeNative = game.Path("not-zephra");
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(PackDetectAppended(), -1);
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("FS"), std::string::npos);
}

TEST_F(BundleTest, BundlingRefusesWhatItCannotUse) {
  std::string bundle = MakeBundle();
  std::string err;
  EXPECT_EQ(KitBundleWrite(bundle, pack_path, game.Path("twice"), &err), -1);  // already a game
  game.Write("bad.zpf", "no pack");
  EXPECT_EQ(KitBundleWrite(ZEPHRA_BIN, game.Path("bad.zpf"), game.Path("x"), &err), -1);
  EXPECT_EQ(KitBundleWrite(game.Path("bad.zpf"), pack_path, game.Path("x"), &err), -1);
  EXPECT_FALSE(std::filesystem::exists(game.Path("x")));
}

TEST_F(BundleTest, ZpkitWritesPacksBundlesAndSettings) {
  game.Write("src/BG/Title.png", std::string(3000, 'p'));
  game.Write("src/chbin/zpcfg.zbn", KitProjectConfigBuild(KitProjectConfig()));
  std::string out = game.Path("cli.zpf");
  ASSERT_EQ(PlatSpawnWait({ZPKIT_BIN, "pack", game.Path("src"), out, "--no-recovery"}), 0);
  ASSERT_EQ(PlatSpawnWait({ZPKIT_BIN, "bundle", game.Path("cli-game"), out}), 0);
  ASSERT_EQ(PlatSpawnWait({ZPKIT_BIN, "settings", game.Path("zpcfg.dat"), "8=3", "0=0"}), 0);
  ASSERT_EQ(PlatSpawnWait({ZPKIT_BIN, "savefolder", game.Path("zpsfs.dat"), "2"}), 0);
  EXPECT_NE(PlatSpawnWait({ZPKIT_BIN, "settings", game.Path("x.dat"), "32=1"}), 0);
  EXPECT_NE(PlatSpawnWait({ZPKIT_BIN, "nonsense"}), 0);
  std::filesystem::remove(pack_path);
  std::filesystem::rename(out, game.Path("data.zpf"));
  ASSERT_EQ(PackScanAll(), 0);
  EXPECT_EQ(Read("bg\\title.png"), std::string(3000, 'p'));
  ASSERT_EQ(CfgLoadEngineSettings(), 0);
  EXPECT_EQ(g_MovieUseDirectShow, 0);
  EXPECT_EQ(g_PresentFilterMode, 0);
  EXPECT_EQ(g_CpuScaleFilter, 0);
  ASSERT_EQ(CfgLoadSaveFolder(), 0);
  EXPECT_EQ(g_CfgSaveFolderMode, 2);
  PackReset();
  PackScrambleSetup();
  g_PackExeNative = game.Path("cli-game");
  EXPECT_EQ(PackDetectAppended(), 1);
}

// A built game folder becomes a folder a player runs: the pack goes into the program, the saves
// stay behind, every other file travels, the character library only with the driver file.
TEST_F(BundleTest, AGameFolderBecomesAFolderAPlayerRuns) {
  auto pack_with = [&](const char* folder, std::vector<KitPackEntry> entries) {
    std::string err;
    std::filesystem::create_directories(game.Path(folder));
    ASSERT_EQ(KitPackWrite(game.Path(std::string(folder) + "/data.zpf"), entries, KitPackOptions(), &err), 0) << err;
  };
  pack_with("chara", {Entry("chbin\\zpcfg.zbn", Bytes("c")), Entry("EmoteDriver.dll", Bytes("on"))});
  game.Write("chara/mv/op.mpg", "movie");
  game.Write("chara/zpcfg.dat", std::string(128, '\0'));
  game.Write("chara/savech/save01.sd", "a tester's save");
  pack_with("plain", {Entry("chbin\\zpcfg.zbn", Bytes("c"))});
  std::string err;
  for (const char* name : {"chara", "plain"}) {
    SCOPED_TRACE(name);
    KitBundleReport report;
    std::string out = game.Path(std::string("ship/") + name);
    ASSERT_EQ(KitBundleGameFolder(ZEPHRA_BIN, game.Path(name), out, &report, &err), 0) << err;
    bool chara = std::string(name) == "chara";
    std::vector<std::string> want = {out + "/" + name, out + "/README.txt"};
    if (chara)
      want = {out + "/chara", out + "/mv/op.mpg", out + "/zpcfg.dat", out + "/libzephra_emote.so", out + "/README.txt"};
    EXPECT_EQ(report.written, want);
    EXPECT_EQ(std::filesystem::exists(out + "/savech"), false);
    std::vector<std::string> left;
    for (const auto& e : std::filesystem::recursive_directory_iterator(out)) left.push_back(e.path().string());
    EXPECT_EQ(left.size(), chara ? 6u : 2u) << "nothing else, no temporary file";
    std::vector<u8> readme;
    ASSERT_EQ(PlatFileReadAllNative(out + "/README.txt", &readme), 0);
    std::string text(readme.begin(), readme.end());
    EXPECT_NE(text.find("libsdl2-2.0-0"), std::string::npos);
    EXPECT_NE(text.find("fonts-ipafont-gothic"), std::string::npos);
    EXPECT_EQ(text.find("-dev"), std::string::npos);
    PackReset();
    g_PackExeNative = out + "/" + name;
    EXPECT_EQ(PackDetectAppended(), 1);
    EXPECT_LT(FileSize(out + "/" + name), FileSize(ZEPHRA_BIN)) << "stripped";
  }
  KitBundleReport report;
  EXPECT_EQ(KitBundleGameFolder(ZEPHRA_BIN, game.Path("plain"), game.Path("ship/chara"), &report, &err), -1);
  EXPECT_NE(err.find("not an empty folder"), std::string::npos) << err;
  game.Write("plain/update1.zpf", "second pack");
  EXPECT_EQ(KitBundleGameFolder(ZEPHRA_BIN, game.Path("plain"), game.Path("ship/x"), &report, &err), -1);
  EXPECT_NE(err.find("several packs (data.zpf update1.zpf)"), std::string::npos) << err;
  game.Write("loose/chbin/zpcfg.zbn", "c");
  EXPECT_EQ(KitBundleGameFolder(ZEPHRA_BIN, game.Path("loose"), game.Path("ship/y"), &report, &err), -1);
  EXPECT_NE(err.find("holds no pack"), std::string::npos) << err;
}

// The kit stores a preview as the runtime reads it: unpadded bottom-up rows behind a 54-byte
// header, whatever row padding and direction the BMP file had.
TEST(SaverPreviewStore, PaddedAndTopDownFilesComeBackAsTheSamePicture) {
  const i32 w = 3, h = 2;  // 9 bytes a row, padded to 12 in the file
  const u8 px[h][w][3] = {{{1, 2, 3}, {4, 5, 6}, {7, 8, 9}}, {{11, 12, 13}, {14, 15, 16}, {17, 18, 19}}};
  for (bool top_down : {false, true}) {
    std::vector<u8> file(54, 0);
    auto put = [&](size_t at, u32 v) {
      for (int i = 0; i < 4; i++) file[at + i] = static_cast<u8>(v >> (8 * i));
    };
    file[0] = 'B';
    file[1] = 'M';
    put(10, 54);
    put(14, 40);
    put(18, w);
    put(22, top_down ? static_cast<u32>(-h) : static_cast<u32>(h));
    file[26] = 1;
    file[28] = 24;
    for (i32 r = 0; r < h; r++) {
      i32 y = top_down ? r : h - 1 - r;
      for (i32 x = 0; x < w; x++) file.insert(file.end(), px[y][x], px[y][x] + 3);
      file.insert(file.end(), 3, 0xEE);  // padding
    }
    std::vector<u8> stored;
    std::string err;
    ASSERT_EQ(KitSaverPreviewFromBmp(file, &stored, &err), 0) << err;
    EXPECT_EQ(stored.size(), 54u + w * 3 * h);
    u8* out = nullptr;
    i32 ow = 0, oh = 0;
    ASSERT_EQ(WinSaverDecodePreview(stored.data(), static_cast<u32>(stored.size()), &out, &ow, &oh), 0);
    ASSERT_EQ(ow, w);
    ASSERT_EQ(oh, h);
    for (i32 y = 0; y < h; y++)
      for (i32 x = 0; x < w; x++)
        EXPECT_EQ(std::memcmp(out + (y * w + x) * 4, px[y][x], 3), 0) << top_down << " " << x << "," << y;
    std::free(out);
  }
  std::vector<u8> stored;
  std::string err;
  std::vector<u8> truncated(60, 0);
  truncated[0] = 'B';
  truncated[1] = 'M';
  truncated[10] = 54;
  truncated[18] = 4;
  truncated[22] = 4;
  truncated[28] = 24;
  EXPECT_EQ(KitSaverPreviewFromBmp(truncated, &stored, &err), -1) << "rows past the end of the file";
}
