// Games whose data the kit packed, run by the real zephra: a packed game starts and runs its
// frames, damaged packs stop the start-up with their numbered errors and status 1, and a
// standalone game reads only the pack appended to it.
#include "kit/bundle.h"
#include "kit/config_writer.h"
#include "kit/pack_writer.h"
#include "platform/platform.h"
#include "support/kit_game.h"
#include "support/zephra_run.h"

namespace fs = std::filesystem;

namespace {

struct PackGame : zephra_run::ZephraRun {
  fs::path game;
  KitPackLayout layout;  // of data.zpf
  std::vector<u8> data_zpf;

  void SetUp() override {
    ZephraRun::SetUp();
    game = root / "packed";
    fs::create_directories(game / "pac");
  }
  static KitPackEntry Entry(const std::string& name, const std::vector<u8>& data, bool compress = true) {
    KitPackEntry e;
    e.name = name;
    e.data = data;
    e.compress = compress;
    return e;
  }
  static std::vector<u8> Text(const std::string& s) { return std::vector<u8>(s.begin(), s.end()); }
  void Write(const fs::path& p, const std::vector<u8>& bytes) {
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  std::vector<u8> Pack(const std::vector<KitPackEntry>& entries, KitPackLayout* l = nullptr,
                       KitPackOptions opt = KitPackOptions()) {
    std::vector<u8> img;
    std::string err;
    EXPECT_EQ(KitPackBuild(entries, opt, &img, l, &err), 0) << err;
    return img;
  }
  // data.zpf with the project configuration and the scripts, a voice pack in "pac", an update
  // pack, settings.
  void MakeGame(KitPackOptions opt = KitPackOptions()) {
    KitProjectConfig cfg;
    cfg.width = 800;
    cfg.height = 600;
    cfg.title = PlatUtf8ToSjis("パックのゲーム");
    std::vector<KitPackEntry> entries = {Entry("chbin\\zpcfg.zbn", KitProjectConfigBuild(cfg), false),
                                         Entry("bg\\title.png", Text("old"))};
    for (const KitPackEntry& e : TestGameScriptEntries()) entries.push_back(e);
    data_zpf = Pack(entries, &layout, opt);
    Write(game / "data.zpf", data_zpf);
    Write(game / "pac" / "voice.zpf", Pack({Entry("voice\\a0001.ogg", Text("voice"))}));
    Write(game / "update1.zpf", Pack({Entry("bg\\title.png", Text("new"))}));
    std::vector<u32> settings = KitEngineSettingsDefaults();
    settings[8] = 3;  // CPU drawing
    ASSERT_EQ(KitSettingsValuesWrite((game / "zpcfg.dat").string(), settings), 0);
    ASSERT_EQ(KitSaveFolderSettingsWrite((game / "zpsfs.dat").string(), 0), 0);
  }
  int Run(std::string* err, const std::string& program = ZEPHRA_BIN, bool with_game_arg = true) {
    std::vector<std::string> args;
    if (with_game_arg) args.push_back(game.string());
    return RunToEnd(args, {"ZEPHRA_EXIT_AFTER_FRAMES=30", "ZEPHRA_FIXED_CLOCK=1"}, err, program);
  }
};

bool Printed(const std::string& err, const char* utf8) { return err.find(utf8) != std::string::npos; }

}  // namespace

TEST_F(PackGame, APackedGameStartsAndRunsItsFrames) {
  MakeGame();
  std::string err;
  EXPECT_EQ(Run(&err), 0) << err;
  EXPECT_FALSE(Printed(err, "[error dialog]")) << err;
  EXPECT_FALSE(Printed(err, "[message box]")) << err;
}

TEST_F(PackGame, DamagedPacksStopTheStartUpWithTheirErrors) {
  struct Case {
    const char* what;
    void (*damage)(PackGame& t);
    const char* printed;  // UTF-8
  } cases[] = {
      {"cut inside the entry table", [](PackGame& t) { t.data_zpf.resize(40); },
       "パックファイルの調査に失敗しました。"},
      {"cut inside the project configuration", [](PackGame& t) { t.data_zpf.resize(t.layout.data_offsets[0] + 20); },
       "パックファイル中に破損ファイルが見つかりました。"},
      {"project configuration damaged beyond repair",
       [](PackGame& t) {
         t.data_zpf[t.layout.data_offsets[0] + 30] ^= 0xFF;
         u64 parity = t.layout.data_offsets[0] + t.layout.stored_sizes[0] + 8 + 2;  // behind the one check
         t.data_zpf[parity + 30] ^= 0x01;
       },
       "File = chbin\\zpcfg.zbn"},
      {"an old pack version",
       [](PackGame& t) {
         t.data_zpf[4] = 100;
         t.data_zpf[5] = 0;
       },
       "パックファイル仕様が現在の仕様と一致しません。"},
      {"the same name in two packs",
       [](PackGame& t) { t.Write(t.game / "pac" / "more.zpf", t.Pack({Entry("BG\\Title.png", Text("x"))})); },
       "[BG\\Title.png]が"},  // the name as the later pack spells it
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MakeGame();
    c.damage(*this);
    Write(game / "data.zpf", data_zpf);
    std::string err;
    EXPECT_EQ(Run(&err), 1) << err;
    EXPECT_TRUE(Printed(err, c.printed)) << err;
    fs::remove(game / "pac" / "more.zpf");
  }
}

TEST_F(PackGame, ADamagedBlockIsRepairedAndTheGameRuns) {
  MakeGame();
  data_zpf[layout.data_offsets[0] + 30] ^= 0xFF;
  Write(game / "data.zpf", data_zpf);
  std::string err;
  EXPECT_EQ(Run(&err), 0) << err;
  EXPECT_FALSE(Printed(err, "[error dialog]")) << err;
}

TEST_F(PackGame, ABadProjectConfigurationEndsTheRun) {
  KitProjectConfig cfg;
  cfg.width = 100;  // below the smallest width
  Write(game / "chbin" / "zpcfg.zbn", KitProjectConfigBuild(cfg));
  TestWriteGameScripts(game);
  std::string err;
  EXPECT_EQ(Run(&err), 1) << err;
  EXPECT_TRUE(Printed(err, "[error dialog]")) << err;
  fs::remove_all(game / "chbin");
  EXPECT_EQ(Run(&err), 1) << err;
  EXPECT_TRUE(Printed(err, "[chbin\\zpcfg.zbn]ファイルが")) << err;
}

TEST_F(PackGame, AStandaloneGameStartsAndOpensNoPackFile) {
  MakeGame();
  fs::path pack = root / "game.zpf";
  fs::rename(game / "data.zpf", pack);
  fs::remove_all(game / "pac");
  fs::remove(game / "update1.zpf");
  fs::path bundle = game / "mygame";
  std::string why;
  ASSERT_EQ(KitBundleWrite(ZEPHRA_BIN, pack.string(), bundle.string(), &why), 0) << why;
  // Beside it: a pack that would stop any scan, and no loose project configuration.
  Write(game / "data.zpf", Text(std::string("ZPF\0\x01\0\0\0", 8)));
  std::string err;
  EXPECT_EQ(RunToEnd({bundle.string()}, {"ZEPHRA_EXIT_AFTER_FRAMES=30", "ZEPHRA_FIXED_CLOCK=1"}, &err), 0) << err;
  EXPECT_FALSE(Printed(err, "[error dialog]")) << err;
  // Started directly, the standalone game is its own game.
  EXPECT_EQ(RunToEnd({}, {"ZEPHRA_EXIT_AFTER_FRAMES=30", "ZEPHRA_FIXED_CLOCK=1"}, &err, bundle.string()), 0) << err;
  EXPECT_FALSE(Printed(err, "[error dialog]")) << err;
}
