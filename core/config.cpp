// Settings files and the project configuration: defaults, the accepted values of each setting,
// and the checks of "chbin\zpcfg.zbn". Reading never changes a setting to a value outside its set.
#include "core/config.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/sjis.h"
#include "core/err.h"
#include "core/pack.h"
#include "core/state.h"
#include "platform/file.h"
#include "platform/platform.h"

u8 g_MovieUseDirectShow;
u8 g_CfgUnreadFlag1;
u8 g_CfgUseSse;
u8 g_CfgUseSse2;
i32 g_CfgWorkerLimit;
u8 g_CfgUnreadFlag5;
u8 g_FullscreenModeChange;
i32 g_FitMode;
std::atomic<u8> g_SoundEnabled{1};
i32 g_CfgDrawingMode;
u8 g_PresentFilterMode;
u8 g_CpuScaleFilter;
u8 g_GpuDrawing;
u8 g_D3dInUse;
u8 g_CfgCaptionDoubleClick;
u8 g_CfgReportedFlag;
u8 g_D3dNoHardwareVp;
u8 g_D3dUse16BitTextures;
u32 g_D3dTextureFormat;
u8 g_D3dDitherTextures;
u8 g_CfgUnreadValue15;
u8 g_CfgDwmOff;
u8 g_CfgDpiAware;
i32 g_D3dTileMaxSize[2];
i8 g_D3dMagFilter;
i8 g_D3dMinFilter;
i8 g_D3dMipFilter;
u8 g_D3dUploadFlag;

i32 g_CfgSaveFolderMode;
char g_SaveFolder[CFG_SAVE_FOLDER_MAX];
u8 g_SaveFolderMissing;

i32 g_CfgMainWidth;
i32 g_CfgMainHeight;
u8 g_CfgMainShowAfterFirstFrame;
char g_CfgMainTitle[263];
u8 g_CfgImageOrder[8];
u8 g_CfgSoundOrder[4];
u8 g_ThreadedMode;
u8 g_WindowResizable;
u8 g_WindowFramed;
u8 g_CfgOptionBytes[3];
i32 g_FrameTextureSize[2];

enum { D3DFMT_A8R8G8B8 = 21, D3DFMT_A4R4G4B4 = 26 };

static void ResetTextureSettings() {
  g_D3dTileMaxSize[0] = 512;
  g_D3dTileMaxSize[1] = 256;
  g_D3dMagFilter = 1;
  g_D3dMinFilter = 1;
  g_D3dMipFilter = 0;
  g_D3dUploadFlag = 0;
}

void CfgReset() {
  g_MovieUseDirectShow = 1;
  g_CfgUnreadFlag1 = 1;
  g_CfgUseSse = 1;
  g_CfgUseSse2 = 1;
  g_CfgWorkerLimit = 4;
  g_CfgUnreadFlag5 = 0;
  g_FullscreenModeChange = 0;
  g_FitMode = 1;
  g_CfgDrawingMode = 2;
  g_PresentFilterMode = 0;
  g_CpuScaleFilter = 1;
  g_GpuDrawing = 0;
  g_D3dInUse = 0;
  g_CfgCaptionDoubleClick = 0;
  g_CfgReportedFlag = 0;
  g_D3dNoHardwareVp = 0;
  g_D3dUse16BitTextures = 0;
  g_D3dTextureFormat = D3DFMT_A8R8G8B8;
  g_D3dDitherTextures = 1;
  g_CfgUnreadValue15 = 0;
  g_CfgDwmOff = 0;
  g_CfgDpiAware = 0;
  ResetTextureSettings();
  g_CfgSaveFolderMode = 0;
  g_SaveFolder[0] = '\0';
  g_SaveFolderMissing = 0;
  g_CfgMainWidth = 0;
  g_CfgMainHeight = 0;
  g_CfgMainShowAfterFirstFrame = 0;
  g_CfgMainTitle[0] = '\0';
  static const u8 kImageOrder[8] = {1, 2, 3, 4, 5, 0, 0, 0};
  static const u8 kSoundOrder[4] = {1, 2, 0, 0};
  std::memcpy(g_CfgImageOrder, kImageOrder, sizeof g_CfgImageOrder);
  std::memcpy(g_CfgSoundOrder, kSoundOrder, sizeof g_CfgSoundOrder);
  g_ThreadedMode = 0;
  g_WindowResizable = 0;
  g_WindowFramed = 1;
  std::memset(g_CfgOptionBytes, 0, sizeof g_CfgOptionBytes);
  g_FrameTextureSize[0] = 0;
  g_FrameTextureSize[1] = 0;
}

// Defaults are in force from the start of the program.
[[maybe_unused]] static const bool s_Defaults = (CfgReset(), true);

static u32 Le32(const u8* p) {
  return static_cast<u32>(p[0]) | static_cast<u32>(p[1]) << 8 | static_cast<u32>(p[2]) << 16 |
         static_cast<u32>(p[3]) << 24;
}

// Up to 32 values of a ".dat" file beside the game; the missing ones read as 0. false when the
// file does not open.
static bool ReadValues(const char* file, u32 values[CFG_VALUE_COUNT]) {
  std::string path = std::string(g_ExeFolder) + file;
  PlatFile* f = PlatFileOpenRead(path.c_str());
  if (!f) return false;
  u8 raw[CFG_VALUE_COUNT * 4] = {};
  PlatFileRead(f, raw, sizeof raw);
  PlatFileClose(f);
  for (int i = 0; i < CFG_VALUE_COUNT; i++) values[i] = Le32(raw + i * 4);
  return true;
}

static void SetFlag(u8* setting, u32 v) {
  if (v <= 1) *setting = static_cast<u8>(v);
}

i32 CfgLoadEngineSettings() {
  u32 v[CFG_VALUE_COUNT];
  if (!ReadValues("\\zpcfg.dat", v)) return 0;
  SetFlag(&g_MovieUseDirectShow, v[0]);
  SetFlag(&g_CfgUnreadFlag1, v[1]);
  SetFlag(&g_CfgUseSse, v[2]);
  SetFlag(&g_CfgUseSse2, v[3]);
  g_CfgWorkerLimit = static_cast<i32>(v[4]);  // every value is accepted
  SetFlag(&g_CfgUnreadFlag5, v[5]);
  if (v[6] <= 1) g_FullscreenModeChange = v[6] == 0 ? 1 : 0;
  static const i32 kFit[4] = {1, 2, 3, 0};
  if (v[7] <= 3) g_FitMode = kFit[v[7]];
  // The drawing mode is tested on its low byte.
  struct DrawingMode {
    u8 filter, cpu_filter, gpu;
  };
  static const DrawingMode kModes[4] = {{3, 1, 1}, {2, 1, 1}, {1, 1, 0}, {0, 0, 0}};
  u8 mode = static_cast<u8>(v[8]);
  if (mode <= 3) {
    g_CfgDrawingMode = mode;
    g_PresentFilterMode = kModes[mode].filter;
    g_CpuScaleFilter = kModes[mode].cpu_filter;
    g_GpuDrawing = kModes[mode].gpu;
    if (!kModes[mode].gpu) g_D3dInUse = 0;
  }
  SetFlag(&g_CfgCaptionDoubleClick, v[9]);
  SetFlag(&g_CfgReportedFlag, v[10]);
  SetFlag(&g_D3dNoHardwareVp, v[12]);
  SetFlag(&g_D3dUse16BitTextures, v[13]);
  g_D3dTextureFormat = v[13] == 1 ? D3DFMT_A4R4G4B4 : D3DFMT_A8R8G8B8;
  SetFlag(&g_D3dDitherTextures, v[14]);
  if (v[15] <= 2) g_CfgUnreadValue15 = static_cast<u8>(v[15]);
  SetFlag(&g_CfgDwmOff, v[22]);
  SetFlag(&g_CfgDpiAware, v[23]);
  ResetTextureSettings();
  return 0;
}

i32 CfgLoadSaveFolder() {
  u32 v[CFG_VALUE_COUNT];
  if (ReadValues("\\zpsfs.dat", v) && v[CFG_SAVE_MODE_INDEX] <= 3)
    g_CfgSaveFolderMode = static_cast<i32>(v[CFG_SAVE_MODE_INDEX]);
  char sub[128];
  std::snprintf(sub, sizeof sub, "\\%s_SaveData\\%s\\save\\", "MySoftware", "MyGame");
  std::string folder;
  switch (g_CfgSaveFolderMode) {
    case 0: folder = "savech\\"; break;
    case 1: folder = std::string(g_AppDataFolder) + sub; break;
    case 2: folder = std::string(g_DocumentsFolder) + sub; break;
    default: folder = std::string(g_DocumentsFolder) + "\\My Games" + sub; break;
  }
  // A user folder that is unknown (no home folder) leaves no save folder at all, rather than one
  // at the root of the file system.
  const char* base = g_CfgSaveFolderMode == 1 ? g_AppDataFolder : g_DocumentsFolder;
  g_SaveFolderMissing = g_CfgSaveFolderMode != 0 && !base[0];
  if (g_SaveFolderMissing) folder.clear();
  StrCopySjis(g_SaveFolder, sizeof g_SaveFolder, folder.c_str());
  return 0;
}

static i32 SideTextureSize(i32 side) {
  for (i32 s = 256; s <= 4096; s *= 2)
    if (s >= side) return s;
  return 4096;
}

i32 CfgLoadProjectConfig() {
  static const char kName[] = "chbin\\zpcfg.zbn";
  PackLookup lookup{};
  i32 r = PackFindAnySource(&lookup, kName, 0);
  if (r == 0) {
    ErrRaiseF(ERR_FILE_MISSING, 1, kName);
    return -1;
  }
  if (r < 0) {
    ErrRaiseF(r == -2 ? ERR_PACK_OPEN : ERR_FILE_READ, 1, kName);
    return -1;
  }
  if (PackReadBySource(&lookup, kName) != 0) return -1;
  const u8* d = lookup.data;
  u32 size = lookup.size;
  // The file's name and what is wrong with it go with the error: its text cannot come from the
  // project's error texts, which are read later.
  auto fail = [&](i32 code, const std::string& why) -> i32 {
    std::free(lookup.data);
    ErrRaiseF(code, 1, kName, why);
    return 1;
  };
  // Every field is read only after the file is known to hold it.
  if (size < CFG_OFF_TITLE)
    return fail(ERR_CFG_BAD_CONTENTS, ErrFormat(PlatUtf8ToSjis("ファイルが %u バイトしかありません（%d バイト以上が必要です）。").c_str(),
                                                size, static_cast<i32>(CFG_OFF_TITLE)));

  i32 width = static_cast<i32>(Le32(d + CFG_OFF_WIDTH));
  i32 height = static_cast<i32>(Le32(d + CFG_OFF_HEIGHT));
  if (width != 0 || height != 0) {
    if (width < CFG_WIDTH_MIN || width > CFG_SIDE_MAX || height < CFG_HEIGHT_MIN || height > CFG_SIDE_MAX)
      return fail(ERR_CFG_BAD_CONTENTS,
                  ErrFormat(PlatUtf8ToSjis("画面サイズ %d x %d は使えません（幅 %d～%d、高さ %d～%d、または 0 x 0）。").c_str(), width,
                            height, static_cast<i32>(CFG_WIDTH_MIN), static_cast<i32>(CFG_SIDE_MAX),
                            static_cast<i32>(CFG_HEIGHT_MIN), static_cast<i32>(CFG_SIDE_MAX)));
  } else {
    const SizeI32 monitor = g_MonitorSize.load();
    width = monitor.width;
    height = monitor.height;
  }
  g_CfgMainWidth = width;
  g_CfgMainHeight = height;
  g_CfgMainShowAfterFirstFrame = d[CFG_OFF_SHOW_AFTER_FIRST_FRAME];
  if (WindowObject* main = g_WindowObjects[0]) {
    main->width = width;
    main->height = height;
    main->show_after_first_frame = g_CfgMainShowAfterFirstFrame;
  }
  std::memcpy(g_CfgImageOrder, d + CFG_OFF_IMAGE_ORDER, sizeof g_CfgImageOrder);
  std::memcpy(g_CfgSoundOrder, d + CFG_OFF_SOUND_ORDER, sizeof g_CfgSoundOrder);

  u32 title_len = static_cast<u32>(d[CFG_OFF_TITLE_LENGTH]) | static_cast<u32>(d[CFG_OFF_TITLE_LENGTH + 1]) << 8;
  if (title_len > CFG_TITLE_MAX)
    return fail(ERR_CFG_TITLE_TOO_LONG, ErrFormat(PlatUtf8ToSjis("タイトルが %u バイトあります（%d バイトまで）。").c_str(), title_len,
                                                  static_cast<i32>(CFG_TITLE_MAX)));
  if (CFG_OFF_TITLE + title_len > size)
    return fail(ERR_CFG_BAD_CONTENTS,
                ErrFormat(PlatUtf8ToSjis("タイトルの %u バイトがファイルの終わりを越えています。").c_str(), title_len));
  std::string title(reinterpret_cast<const char*>(d + CFG_OFF_TITLE), title_len);
  title.resize(std::strlen(title.c_str()));
  if (title.empty()) title.push_back(' ');
  StrCopySjis(g_CfgMainTitle, sizeof g_CfgMainTitle, title.c_str());
  if (WindowObject* main = g_WindowObjects[0]) StrCopySjis(main->title, sizeof main->title, g_CfgMainTitle);

  u32 threaded = Le32(d + CFG_OFF_THREADED);
  if (threaded > 1)
    return fail(ERR_CFG_BAD_CONTENTS,
                ErrFormat(PlatUtf8ToSjis("スレッドモード %u は 0 か 1 でなければなりません。").c_str(), threaded));
  g_ThreadedMode = static_cast<u8>(threaded);
  g_DebugMode = d[CFG_OFF_DEBUG];
  g_SoundEnabled.store(d[CFG_OFF_SOUND]);
  g_WindowResizable = d[CFG_OFF_RESIZABLE];
  g_WindowFramed = d[CFG_OFF_FRAMED];
  for (int i = 0; i < 3; i++) g_CfgOptionBytes[i] = d[CFG_OFF_OPTIONS + 4 * i];
  std::free(lookup.data);

  if (g_FrameTextureSize[0] == 0 && g_FrameTextureSize[1] == 0) {
    g_FrameTextureSize[0] = SideTextureSize(width);
    g_FrameTextureSize[1] = SideTextureSize(height);
  }
  return 0;
}
