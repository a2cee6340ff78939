// Settings files and the project configuration. "\zpcfg.dat" (engine settings) and "\zpsfs.dat"
// (save-folder mode) beside the game are optional: a missing file keeps the defaults, a value
// outside its accepted set keeps the setting as it was. "chbin\zpcfg.zbn" is required and is
// checked against its size before any field is read. The layouts below are shared with the kit.
#pragma once
#include <atomic>
#include "common/types.h"

// ---- Formats ---------------------------------------------------------------------------------
enum {
  CFG_VALUE_COUNT = 32,      // both ".dat" files: 32 little-endian u32 values
  CFG_SAVE_MODE_INDEX = 21,  // the one value of "\zpsfs.dat" that is read
  CFG_TITLE_MAX = 128,
  CFG_WIDTH_MIN = 128,
  CFG_HEIGHT_MIN = 16,
  CFG_SIDE_MAX = 8192,
};
// Offsets in "chbin\zpcfg.zbn".
enum {
  CFG_OFF_WIDTH = 16,
  CFG_OFF_HEIGHT = 20,
  CFG_OFF_SHOW_AFTER_FIRST_FRAME = 24,
  CFG_OFF_IMAGE_ORDER = 28,
  CFG_OFF_SOUND_ORDER = 36,
  CFG_OFF_THREADED = 40,
  CFG_OFF_DEBUG = 44,
  CFG_OFF_SOUND = 48,
  CFG_OFF_RESIZABLE = 52,
  CFG_OFF_FRAMED = 56,
  CFG_OFF_OPTIONS = 60,
  CFG_OFF_TITLE_LENGTH = 76,
  CFG_OFF_TITLE = 78,  // the fixed part ends with the title length
};
// Error codes of the project configuration (texts from the project's error table).
enum { ERR_CFG_TITLE_TOO_LONG = 901000, ERR_CFG_BAD_CONTENTS = 901020 };

// ---- Engine settings ("\zpcfg.dat"), by index --------------------------------------------------
extern u8 g_MovieUseDirectShow;     // 0: 0 MCI, 1 DirectShow
extern u8 g_CfgUnreadFlag1;         // 1: kept, read by nothing
extern u8 g_CfgUseSse;              // 2
extern u8 g_CfgUseSse2;             // 3
extern i32 g_CfgWorkerLimit;        // 4: as read; 0 allows one drawing worker, any other four
extern u8 g_CfgUnreadFlag5;         // 5: kept, read by nothing
extern u8 g_FullscreenModeChange;   // 6: 1 fullscreen changes the display mode
extern i32 g_FitMode;               // 7
extern i32 g_CfgDrawingMode;        // 8: the drawing mode 0 to 3 last applied (2 by default)
extern u8 g_PresentFilterMode;      // 8
extern u8 g_CpuScaleFilter;         // 8
extern u8 g_GpuDrawing;             // 8
extern u8 g_D3dInUse;               // 8
extern u8 g_CfgCaptionDoubleClick;  // 9: a caption double-click is reported to the scripts
extern u8 g_CfgReportedFlag;        // 10: reported by a system variable
extern u8 g_D3dNoHardwareVp;        // 12
extern u8 g_D3dUse16BitTextures;    // 13
extern u32 g_D3dTextureFormat;      // 13: 26 (A4R4G4B4) or 21 (A8R8G8B8)
extern u8 g_D3dDitherTextures;      // 14
extern u8 g_CfgUnreadValue15;       // 15: kept, read by nothing
extern u8 g_CfgDwmOff;              // 22: desktop composition off
extern u8 g_CfgDpiAware;            // 23
// Texture settings reset whenever the file has been read.
extern i32 g_D3dTileMaxSize[2];
extern i8 g_D3dMagFilter;
extern i8 g_D3dMinFilter;
extern i8 g_D3dMipFilter;
extern u8 g_D3dUploadFlag;

// ---- Save folder ("\zpsfs.dat") ---------------------------------------------------------------
enum { CFG_SAVE_FOLDER_MAX = 640 };
extern i32 g_CfgSaveFolderMode;  // 0 to 3
extern char g_SaveFolder[CFG_SAVE_FOLDER_MAX];
// The save folder's user folder is unknown (no home folder): saves have no file to go to.
extern u8 g_SaveFolderMissing;

// ---- Project configuration ("chbin\zpcfg.zbn") -------------------------------------------------
// Values of the main window's record, kept here too and written into the main WindowObject when
// it exists (start-up creates the four objects before it reads the project configuration).
extern i32 g_CfgMainWidth;
extern i32 g_CfgMainHeight;
extern u8 g_CfgMainShowAfterFirstFrame;
extern char g_CfgMainTitle[263];
// Extension probing: image codes 1 ".png", 2 ".bmp", 3 ".jpg", 4 ".gif", 5 ".psb" (first five
// bytes used); sound codes 1 ".ogg", 2 ".wav" (first two used); other codes are skipped.
extern u8 g_CfgImageOrder[8];
extern u8 g_CfgSoundOrder[4];
extern u8 g_ThreadedMode;
extern std::atomic<u8> g_SoundEnabled;  // project configuration: 0 off, 1 on, 2 on and required
extern u8 g_WindowResizable;
extern u8 g_WindowFramed;
extern u8 g_CfgOptionBytes[3];     // kept, read by nothing
extern i32 g_FrameTextureSize[2];  // read-back texture size, 0 until chosen

i32 CfgLoadEngineSettings();  // 0 (a missing file keeps the defaults)
i32 CfgLoadSaveFolder();      // 0
i32 CfgLoadProjectConfig();   // 0, 1 bad contents, -1 not found or not readable

// Tests: every setting back to its default.
void CfgReset();
