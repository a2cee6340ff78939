// The GPU drawing path and the animated-character bridge, as the rest of the engine calls them.
// The compositor below reaches these through core/hooks.h.
#pragma once
#include "common/types.h"
#include "core/hooks.h"  // g_D3dRedraw, g_D3dReadbackNode, g_EmoteAvailable

struct ImagePicture;
struct LayerRecord;
struct ObjNode;

i32 D3dStartup();               // 0 ready, 1 fall back to CPU drawing, -1 stop
void D3dReleaseAll();
void D3dRenderFrame();          // the frame pass that reads window 0's GPU layers back
void D3dForgetLayer(ObjNode* node);  // the read-back layer, when it is released
// A layer's picture cut into texture tiles (tile parameter, tile sizes). 0, non-zero on failure.
i32 D3dBuildLayerTextures(LayerRecord* rec, i8 tile, i32 size1, i32 size2);
void GpuFreeLayerTiles(LayerRecord* rec);  // a layer's texture tiles

void EmoteReleasePlayer(LayerRecord* rec);  // a layer's animated-character player
void EmoteBridgeLoad();
void EmoteBridgeRelease();
void EmoteAdvanceAll(u32 elapsed_ms);
void EmoteUpdateTransforms();   // after a size change of the main window
i32 EmoteAnyBusy();
// Animated-character data (".psb") handed to the character player bridge.
int EmoteLoadPsb(const u8* data, u32 size, const char* name, ImagePicture* pic);
