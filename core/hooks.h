// Calls that must go up a floor: a module below asks, and the owner above answers through a
// function pointer that it installs at start-up (shell/hooks.cpp installs them all, before
// anything runs). A hook left null does nothing and answers 0, which is what the engine does
// without the owner (tests of one module, tools). Also the few flags and nodes that the
// compositor and the GPU path share.
#pragma once
#include "common/types.h"

struct ImagePicture;
struct LayerRecord;
struct ObjNode;
struct TaskContext;

// ---- Input and windows ---------------------------------------------------------------------------
// Before a dialog: the cursor shown, whatever the game set (the input module).
extern void (*g_HookCursorForDialog)();
// A layer being released is no window's drag map any more (the window command).
extern void (*g_HookForgetDragLayer)(ObjNode* node);

// ---- Scheduler -----------------------------------------------------------------------------------
// Whether a thread still waits for its message to be read (the typewriter): sets message_wait.
extern void (*g_HookMessageWait)(TaskContext* ctx);
// The wait routine that runs before each line while the inactive pause lasts (the frame loop).
extern i32 (*g_HookPumpWait)();

// ---- GPU path and animated characters --------------------------------------------------------------
extern u8 g_D3dRedraw;              // the GPU frame must be drawn again
extern ObjNode* g_D3dReadbackNode;  // the layer that receives the GPU frame (or null)
extern u8 g_EmoteAvailable;         // the animated-character bridge is loaded
// A layer's picture cut into texture tiles (tile parameter, tile sizes): 0, non-zero on failure.
extern i32 (*g_HookGpuBuildTiles)(LayerRecord* rec, i8 tile, i32 size1, i32 size2);
extern void (*g_HookGpuFreeTiles)(LayerRecord* rec);
// The frame pass that draws window 0's GPU layers and reads them back.
extern void (*g_HookGpuFramePass)();
// The read-back layer, when it is released.
extern void (*g_HookGpuForgetLayer)(ObjNode* node);
// Another layer's picture pasted into a sprite layer's existing tiles (the layer edit command):
// 0, or -1 on failure.
extern i32 (*g_HookGpuPasteSprite)(ObjNode* src, ObjNode* dst);
// One layer drawn by the GPU and read back into another layer's picture (the layer edit
// command's "GETSS"): 0.
extern i32 (*g_HookGpuSnapshotLayer)(ObjNode* src, ObjNode* dst);
// The GPU path asks the windows: the monitor of a window found again, its resolution stored in
// g_MonitorSize (the monitor's index); the display modes of an adapter traced.
extern i32 (*g_HookWinGetMonitor)(i32 window);
extern void (*g_HookListAdapterModes)(i32 adapter);
// A layer's animated-character player, when the layer's record is freed.
extern void (*g_HookEmoteReleasePlayer)(LayerRecord* rec);
// Animated-character data (".psb") that the file sources found (lookup, not read yet) handed to
// the character bridge, which reads it and gives the layer its player: 0, non-zero on failure
// (reported). resolved is the file's name, name the script's.
struct PackLookup;
extern i32 (*g_HookEmoteLoadPsb)(PackLookup* lookup, LayerRecord* rec, const char* resolved, const char* name);

// ---- Save data and layer records -------------------------------------------------------------------
// The picture of a layer for a save: the 1600-byte record image laid out as the save files hold
// it (pointer and handle fields 0), and the size and pixels. 0, or -1 when the layer has no pixels.
extern i32 (*g_HookLayerSaveImage)(const ObjNode* node, u8* image, i32* width, i32* height, const u8** pixels);
// The width and height stored in a record image (the only fields a load takes from it).
extern void (*g_HookLayerImageSize)(const u8* image, i32* width, i32* height);
// A change of the node's area (its ancestors take it in), and the release of a layer node.
extern void (*g_HookLayerMarkDirty)(ObjNode* node);
extern void (*g_HookLayerRelease)(ObjNode* node);
// A fresh default record for a new node holding the given picture (the buffer is taken over on
// success), marked dirty. 0, or -1 after the error (the buffer stays the caller's).
extern i32 (*g_HookLayerNewPicture)(ObjNode* node, i32 width, i32 height, u8* pixels);

// Calls through a hook that may be unset.
template <typename R, typename... A, typename... P>
inline R HookCall(R (*fn)(A...), P&&... args) {
  if (!fn) return R();
  return fn(static_cast<P&&>(args)...);
}
