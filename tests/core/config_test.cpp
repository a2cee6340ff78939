#include <cstring>

#include "core/config.h"
#include "core/pack_fixture.h"
#include "kit/config_writer.h"
#include "shell/sysinfo.h"
#include "sound/sound_thread.h"

namespace {

struct ConfigTest : PackFixture {
  void Settings(const std::vector<u32>& values) {
    ASSERT_EQ(KitSettingsValuesWrite(game.Path("zpcfg.dat"), values), 0);
  }
  i32 Project(const KitProjectConfig& cfg) {
    game.Write("chbin/zpcfg.zbn", KitProjectConfigBuild(cfg));
    return CfgLoadProjectConfig();
  }
};

struct Drawing {
  u8 filter, cpu_filter, gpu, d3d;
  bool operator==(const Drawing&) const = default;
};
Drawing CurrentDrawing() { return {g_PresentFilterMode, g_CpuScaleFilter, g_GpuDrawing, g_D3dInUse}; }

}  // namespace

TEST_F(ConfigTest, WithoutSettingsFileTheDefaultsHold) {
  ASSERT_EQ(CfgLoadEngineSettings(), 0);
  EXPECT_EQ(CurrentDrawing(), (Drawing{0, 1, 0, 0}));  // CPU drawing, bilinear scaling
  EXPECT_EQ(g_FitMode, 1);
  EXPECT_EQ(g_MovieUseDirectShow, 1);
  EXPECT_EQ(g_CfgUseSse, 1);
  EXPECT_EQ(g_CfgUseSse2, 1);
  EXPECT_EQ(g_CfgWorkerLimit, 4);
  EXPECT_EQ(g_FullscreenModeChange, 0);
}

TEST_F(ConfigTest, DrawingModesAndValuesOutsideTheirSets) {
  struct Case {
    u32 mode;
    Drawing want;
  } cases[] = {
      {0, {3, 1, 1, 1}},
      {1, {2, 1, 1, 1}},      // GPU modes leave the Direct3D flag {2, {1, 1, 0, 0}}, {3, {0, 0, 0, 0}},
      {7, {0, 1, 0, 1}},      // no accepted value: nothing changes
      {0x103, {0, 0, 0, 0}},  // tested on its low byte
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    CfgReset();
    g_D3dInUse = 1;
    std::vector<u32> v = KitEngineSettingsDefaults();
    v[8] = c.mode;
    Settings(v);
    ASSERT_EQ(CfgLoadEngineSettings(), 0);
    EXPECT_EQ(CurrentDrawing(), c.want);
  }
  // Each setting keeps its value when the file holds one outside its set.
  CfgReset();
  std::vector<u32> v(32, 9);
  Settings(v);
  ASSERT_EQ(CfgLoadEngineSettings(), 0);
  EXPECT_EQ(g_MovieUseDirectShow, 1);
  EXPECT_EQ(g_CfgUseSse, 1);
  EXPECT_EQ(g_FitMode, 1);
  EXPECT_EQ(g_D3dDitherTextures, 1);
  EXPECT_EQ(g_CfgWorkerLimit, 9);  // any value is taken: non-zero allows four workers
  EXPECT_EQ(g_D3dTextureFormat, 21u);
}

TEST_F(ConfigTest, EveryIndexLandsInItsSetting) {
  std::vector<u32> v(32, 0);
  v[0] = 0;
  v[2] = 0;
  v[3] = 1;
  v[4] = 0;
  v[6] = 0;
  v[7] = 2;
  v[9] = 1;
  v[10] = 1;
  v[12] = 1;
  v[13] = 1;
  v[14] = 0;
  v[15] = 2;
  v[22] = 1;
  v[23] = 1;
  g_D3dTileMaxSize[0] = 1;
  g_D3dMipFilter = 2;
  Settings(v);
  ASSERT_EQ(CfgLoadEngineSettings(), 0);
  EXPECT_EQ(g_MovieUseDirectShow, 0);
  EXPECT_EQ(g_CfgUseSse, 0);
  EXPECT_EQ(g_CfgUseSse2, 1);
  EXPECT_EQ(g_CfgWorkerLimit, 0);
  EXPECT_EQ(g_FullscreenModeChange, 1);
  EXPECT_EQ(g_FitMode, 3);
  EXPECT_EQ(g_CfgCaptionDoubleClick, 1);
  EXPECT_EQ(g_CfgReportedFlag, 1);
  EXPECT_EQ(g_D3dNoHardwareVp, 1);
  EXPECT_EQ(g_D3dUse16BitTextures, 1);
  EXPECT_EQ(g_D3dTextureFormat, 26u);
  EXPECT_EQ(g_D3dDitherTextures, 0);
  EXPECT_EQ(g_CfgUnreadValue15, 2);
  EXPECT_EQ(g_CfgDwmOff, 1);
  EXPECT_EQ(g_CfgDpiAware, 1);
  EXPECT_EQ(g_D3dTileMaxSize[0], 512);  // reset whenever the file was read
  EXPECT_EQ(g_D3dTileMaxSize[1], 256);
  EXPECT_EQ(g_D3dMipFilter, 0);
}

TEST_F(ConfigTest, ShortSettingsFilesReadTheMissingValuesAsZero) {
  struct Case {
    size_t count;
    u8 direct_show;
    i32 workers;
    i32 fit;
  } cases[] = {
      {0, 0, 0, 1},  // an empty file: every value 0
      {1, 1, 0, 1},  // only index 0 given
      {5, 1, 4, 1},
      {31, 1, 4, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.count);
    CfgReset();
    std::vector<u32> v = KitEngineSettingsDefaults();
    v.resize(c.count);
    Settings(v);
    ASSERT_EQ(CfgLoadEngineSettings(), 0);
    EXPECT_EQ(g_MovieUseDirectShow, c.direct_show);
    EXPECT_EQ(g_CfgWorkerLimit, c.workers);
    EXPECT_EQ(g_FitMode, c.fit);
  }
}

TEST_F(ConfigTest, SaveFolderModes) {
  StrCopySjis(g_AppDataFolder, sizeof g_AppDataFolder, "c:\\appdata");
  StrCopySjis(g_DocumentsFolder, sizeof g_DocumentsFolder, "c:\\docs");
  struct Case {
    i32 write;  // -1: no file
    const char* want;
  } cases[] = {
      {-1, "savech\\"},
      {0, "savech\\"},
      {1, "c:\\appdata\\MySoftware_SaveData\\MyGame\\save\\"},
      {2, "c:\\docs\\MySoftware_SaveData\\MyGame\\save\\"},
      {3, "c:\\docs\\My Games\\MySoftware_SaveData\\MyGame\\save\\"},
      {4, "c:\\docs\\My Games\\MySoftware_SaveData\\MyGame\\save\\"},  // keeps the mode before
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.write);
    std::filesystem::remove(game.Path("zpsfs.dat"));
    if (c.write >= 0) {
      ASSERT_EQ(KitSaveFolderSettingsWrite(game.Path("zpsfs.dat"), static_cast<u32>(c.write)), 0);
    }
    ASSERT_EQ(CfgLoadSaveFolder(), 0);
    EXPECT_STREQ(g_SaveFolder, c.want);
  }
  // No home folder, so no user folders: no save folder rather than one at the root.
  g_AppDataFolder[0] = g_DocumentsFolder[0] = '\0';
  for (u32 mode : {1u, 2u, 3u}) {
    ASSERT_EQ(KitSaveFolderSettingsWrite(game.Path("zpsfs.dat"), mode), 0);
    ASSERT_EQ(CfgLoadSaveFolder(), 0);
    EXPECT_STREQ(g_SaveFolder, "") << mode;
    EXPECT_EQ(g_SaveFolderMissing, 1) << mode;
  }
  ASSERT_EQ(KitSaveFolderSettingsWrite(game.Path("zpsfs.dat"), 0), 0);
  ASSERT_EQ(CfgLoadSaveFolder(), 0);
  EXPECT_EQ(g_SaveFolderMissing, 0) << "savech\\ needs no user folder";
}

TEST_F(ConfigTest, ProjectScreenSizesAtAndBeyondTheLimits) {
  struct Case {
    i32 w, h, result, want_w, want_h;
  } cases[] = {
      {0, 0, 0, 1920, 1080},  // the monitor size
      {128, 16, 0, 128, 16}, {8192, 8192, 0, 8192, 8192}, {100, 600, 1, 0, 0}, {127, 600, 1, 0, 0},  {640, 15, 1, 0, 0},
      {8193, 600, 1, 0, 0},  {640, 8193, 1, 0, 0},        {0, 480, 1, 0, 0},   {-640, 480, 1, 0, 0},
  };
  g_MonitorSize = {1920, 1080};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h));
    CfgReset();
    ErrReset();
    g_QuitRequested = 0;
    KitProjectConfig cfg;
    cfg.width = c.w;
    cfg.height = c.h;
    EXPECT_EQ(Project(cfg), c.result);
    if (c.result == 0) {
      EXPECT_EQ(g_CfgMainWidth, c.want_w);
      EXPECT_EQ(g_CfgMainHeight, c.want_h);
    } else {
      // Raised before the project's error texts exist: the engine's own text says what is wrong.
      const std::string size = std::to_string(c.w) + " x " + std::to_string(c.h);
      EXPECT_NE(g_ErrLastText.find("[chbin\\zpcfg.zbn]"), std::string::npos) << g_ErrLastText;
      EXPECT_NE(g_ErrLastText.find(PlatUtf8ToSjis("画面サイズ " + size + " は使えません")), std::string::npos);
      EXPECT_EQ(g_QuitRequested, 1);
    }
  }
}

TEST_F(ConfigTest, ProjectTitleAndFileSizeLimits) {
  struct Case {
    const char* what;
    size_t title;
    i32 stored_length;  // -1: the title's own
    size_t cut;         // bytes removed from the end of the file
    u32 threaded;
    i32 result;
    const char* why;  // what the error says is wrong
  } cases[] = {
      {"title of 128 bytes", 128, -1, 0, 0, 0, ""},
      {"title of 129 bytes", 129, -1, 0, 0, 1, "タイトルが 129 バイトあります（128 バイトまで）"},
      {"title length past the end", 10, 60, 0, 0, 1, "タイトルの 60 バイトがファイルの終わりを越えています"},
      {"file without its title length", 0, -1, 1, 0, 1, "ファイルが 77 バイトしかありません"},
      {"file of 16 bytes", 0, -1, 62, 0, 1, "ファイルが 16 バイトしかありません"},
      {"empty file", 0, -1, 78, 0, 1, "ファイルが 0 バイトしかありません"},
      {"threaded mode 2", 5, -1, 0, 2, 1, "スレッドモード 2 は 0 か 1 でなければなりません"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CfgReset();
    ErrReset();
    KitProjectConfig cfg;
    cfg.title = std::string(c.title, 'T');
    cfg.title_length = c.stored_length;
    cfg.threaded = c.threaded;
    std::vector<u8> file = KitProjectConfigBuild(cfg);
    file.resize(file.size() - c.cut);
    game.Write("chbin/zpcfg.zbn", file);
    EXPECT_EQ(CfgLoadProjectConfig(), c.result);
    if (c.result == 0) {
      EXPECT_EQ(std::strlen(g_CfgMainTitle), c.title);
    } else {
      EXPECT_NE(g_ErrLastText.find("[chbin\\zpcfg.zbn]"), std::string::npos) << g_ErrLastText;
      EXPECT_NE(g_ErrLastText.find(PlatUtf8ToSjis(c.why)), std::string::npos) << PlatSjisToUtf8(g_ErrLastText);
    }
  }
}

TEST_F(ConfigTest, ProjectValuesLandInTheirGlobals) {
  KitProjectConfig cfg;
  cfg.width = 800;
  cfg.height = 600;
  cfg.show_after_first_frame = 0x100;  // the low byte counts
  const u8 images[8] = {3, 1, 0, 0, 0, 9, 9, 9};
  std::memcpy(cfg.image_order, images, 8);
  cfg.sound_order[0] = 2;
  cfg.sound_order[1] = 1;
  cfg.threaded = 1;
  cfg.debug = 1;
  cfg.sound = 2;
  cfg.resizable = 1;
  cfg.framed = 0;
  cfg.options[0] = 7;
  cfg.options[2] = 0x1FF;
  cfg.title = PlatUtf8ToSjis("体験版タイトル");
  EXPECT_EQ(Project(cfg), 0);
  EXPECT_EQ(g_CfgMainWidth, 800);
  EXPECT_EQ(g_CfgMainHeight, 600);
  EXPECT_EQ(g_CfgMainShowAfterFirstFrame, 0);
  EXPECT_EQ(std::memcmp(g_CfgImageOrder, images, 8), 0);
  EXPECT_EQ(g_CfgSoundOrder[0], 2);
  EXPECT_EQ(g_ThreadedMode, 1);
  EXPECT_EQ(g_DebugMode, 1);
  EXPECT_EQ(g_SoundEnabled.load(), 2);
  g_SoundEnabled.store(1);
  EXPECT_EQ(g_WindowResizable, 1);
  EXPECT_EQ(g_WindowFramed, 0);
  EXPECT_EQ(g_CfgOptionBytes[0], 7);
  EXPECT_EQ(g_CfgOptionBytes[2], 0xFF);
  EXPECT_EQ(std::string(g_CfgMainTitle), cfg.title);
  EXPECT_EQ(g_FrameTextureSize[0], 1024);
  EXPECT_EQ(g_FrameTextureSize[1], 1024);
  g_DebugMode = 0;
  // An empty title becomes one space; an already chosen texture size stays.
  CfgReset();
  g_FrameTextureSize[0] = 64;
  g_FrameTextureSize[1] = 64;
  cfg.title.clear();
  cfg.width = 300;
  cfg.height = 200;
  EXPECT_EQ(Project(cfg), 0);
  EXPECT_STREQ(g_CfgMainTitle, " ");
  EXPECT_EQ(g_FrameTextureSize[0], 64);
  g_DebugMode = 0;
}

TEST_F(ConfigTest, ProjectConfigurationComesThroughTheFileSources) {
  EXPECT_EQ(CfgLoadProjectConfig(), -1);
  EXPECT_EQ(g_ErrLastText, ErrText(ERR_FILE_MISSING, "chbin\\zpcfg.zbn"));
  KitProjectConfig cfg;
  cfg.width = 1024;
  cfg.height = 768;
  WritePack("data.zpf", {Entry("chbin\\zpcfg.zbn", KitProjectConfigBuild(cfg), true)});
  ASSERT_EQ(PackScanAll(), 0);
  EXPECT_EQ(g_ScriptsPacked, 1);
  EXPECT_EQ(CfgLoadProjectConfig(), 0);
  EXPECT_EQ(g_CfgMainWidth, 1024);
  EXPECT_EQ(g_FrameTextureSize[0], 1024);
  EXPECT_EQ(g_FrameTextureSize[1], 1024);
  // A pack that no longer opens is reported as such.
  std::filesystem::remove(game.Path("data.zpf"));
  ErrReset();
  EXPECT_EQ(CfgLoadProjectConfig(), -1);
  EXPECT_EQ(g_ErrLastText, ErrText(ERR_PACK_OPEN, "chbin\\zpcfg.zbn"));
}
