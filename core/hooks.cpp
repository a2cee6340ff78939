// The hooks of core/hooks.h: null until their owners install them.
#include "core/hooks.h"

void (*g_HookCursorForDialog)() = nullptr;
void (*g_HookForgetDragLayer)(ObjNode*) = nullptr;
void (*g_HookMessageWait)(TaskContext*) = nullptr;
i32 (*g_HookPumpWait)() = nullptr;

u8 g_D3dRedraw = 0;
ObjNode* g_D3dReadbackNode = nullptr;
u8 g_EmoteAvailable = 0;
i32 (*g_HookGpuBuildTiles)(LayerRecord*, i8, i32, i32) = nullptr;
void (*g_HookGpuFreeTiles)(LayerRecord*) = nullptr;
void (*g_HookGpuFramePass)() = nullptr;
void (*g_HookGpuForgetLayer)(ObjNode*) = nullptr;
i32 (*g_HookGpuPasteSprite)(ObjNode*, ObjNode*) = nullptr;
i32 (*g_HookGpuSnapshotLayer)(ObjNode*, ObjNode*) = nullptr;
i32 (*g_HookWinGetMonitor)(i32) = nullptr;
void (*g_HookListAdapterModes)(i32) = nullptr;
void (*g_HookEmoteReleasePlayer)(LayerRecord*) = nullptr;
i32 (*g_HookEmoteLoadPsb)(PackLookup*, LayerRecord*, const char*, const char*) = nullptr;

i32 (*g_HookLayerSaveImage)(const ObjNode*, u8*, i32*, i32*, const u8**) = nullptr;
void (*g_HookLayerImageSize)(const u8*, i32*, i32*) = nullptr;
void (*g_HookLayerMarkDirty)(ObjNode*) = nullptr;
void (*g_HookLayerRelease)(ObjNode*) = nullptr;
i32 (*g_HookLayerNewPicture)(ObjNode*, i32, i32, u8*) = nullptr;
