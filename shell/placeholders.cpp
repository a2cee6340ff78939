// Placeholders (see placeholders.h): each succeeds and does nothing visible; each global starts
// with the value its owning part gives it.
#include "shell/placeholders.h"

#include "common/sjis.h"
#include "shell/cmdargs.h"
#include "shell/frame.h"
#include "shell/startup.h"
#include "shell/window.h"

// ---- Compiler link and screen-saver mode -----------------------------------------------------
i32 ScriptCompilerLink() {
  StrCopySjis(g_WorkFolder, sizeof g_WorkFolder, g_ExeFolder);
  return 0;
}
i32 WinSaverArgs() { return 0; }

// ---- Menus and tray icon ---------------------------------------------------------------------
u8 g_MenuBarWindowShown = 0;
i32 WinMenuSet(const char*, WindowObject*) { return 0; }
void WinMenuDetach(WindowObject*) {}
void TrayOnNotify(WindowObject*, i64, i64) {}
void TrayIconRemove() {}
void MenuDestroySet(i32) {}

// ---- Object trees, variables, scripts --------------------------------------------------------
void VarInitAccessorTables() {}
void InputCursorScreenPos(i32* x, i32* y) { *x = *y = 0; }
void ScreenDisplayResolution(i32* w, i32* h) {
  *w = 640;
  *h = 480;
}
void SaveFreeBlocks(i32) {}

// ---- Compositor ------------------------------------------------------------------------------
void ImageFrameSetFree(ImageFrameSet*) {}
void LayerJobResizeBilinear(WorkerJob*) {}
int ImageDecodeGif(const u8*, u32, const char*, ImagePicture*) { return -1; }

// ---- Display ---------------------------------------------------------------------------------
u8 g_D3dRedraw = 0;
u8 g_EmoteAvailable = 0;
i32 D3dStartup() { return 0; }
void D3dReleaseAll() {}
void D3dRenderFrame() {}
ObjNode* g_D3dReadbackNode = nullptr;
void D3dForgetLayer(ObjNode* node) {
  if (g_D3dReadbackNode == node) g_D3dReadbackNode = nullptr;
}
i32 D3dBuildLayerTextures(LayerRecord*, i8, i32, i32) { return 0; }
void GpuFreeLayerTiles(LayerRecord*) {}
void EmoteReleasePlayer(LayerRecord*) {}
void EmoteBridgeLoad() {}
void EmoteBridgeRelease() {}
void EmoteAdvanceAll(u32) {}
i32 EmoteAnyBusy() { return 0; }
void EmoteUpdateTransforms() {}
int EmoteLoadPsb(const u8*, u32, const char*, ImagePicture*) { return 0; }

// ---- Sound and movies ------------------------------------------------------------------------
u8 g_MoviePlaying = 0, g_MovieMciOpen = 0;
void MovieGraphRelease() {}
void MovieMciClose() {}
void MovieGraphDrainEvents() {}
i32 FlashHostRect(WinRect*) { return -1; }
void FlashHostMove(const WinRect*) {}
void MovieGraphLayout() {}
i32 MovieMciRect(WinRect*) { return -1; }
void MovieMciPut(const WinRect*) {}
