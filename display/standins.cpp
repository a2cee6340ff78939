// What stands in for the GPU path and the animated-character bridge until they are built: each
// does nothing visible and succeeds.
#include "core/hooks.h"
#include "display/gpu.h"

// stand-in: the GPU device start-up (CPU drawing goes on)
i32 D3dStartup() { return 0; }
// stand-in: the GPU device release
void D3dReleaseAll() {}
// stand-in: the GPU frame pass and read-back
void D3dRenderFrame() {}
void D3dForgetLayer(ObjNode* node) {
  if (g_D3dReadbackNode == node) g_D3dReadbackNode = nullptr;
}
// stand-in: texture tiles of a GPU sprite layer
i32 D3dBuildLayerTextures(LayerRecord*, i8, i32, i32) { return 0; }
// stand-in: release of a layer's texture tiles
void GpuFreeLayerTiles(LayerRecord*) {}
// stand-in: release of a layer's animated-character player
void EmoteReleasePlayer(LayerRecord*) {}
// stand-in: loading the animated-character bridge
void EmoteBridgeLoad() {}
// stand-in: releasing the animated-character bridge
void EmoteBridgeRelease() {}
// stand-in: advancing the animated-character players by frame time
void EmoteAdvanceAll(u32) {}
// stand-in: whether an animated-character player is busy
i32 EmoteAnyBusy() { return 0; }
// stand-in: the players' transforms after a size change of the main window
void EmoteUpdateTransforms() {}
// stand-in: ".psb" data handed to the bridge (the picture stays as it was)
int EmoteLoadPsb(const u8*, u32, const char*, ImagePicture*) { return 0; }
