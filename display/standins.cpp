// What stands in for the animated-character bridge until it is built: each does nothing visible
// and succeeds (no bridge is ever loaded, so the GPU path's bridge points are not reached in a
// game).
#include "core/hooks.h"
#include "display/gpu.h"

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
// stand-in: the player driver made on the GPU device
i32 EmoteDriverInit() { return 0; }
// stand-in: players saved and released, and the driver freed, before a device rebuild
void EmoteSaveAndReleasePlayers() {}
// stand-in: a reloaded character layer's player values and saved state sent again
void EmoteRestorePlayer(LayerRecord*) {}
// stand-in: a character layer's player drawing into its render texture
void EmoteDrawPlayer(LayerRecord*, PlatGpuTexture*) {}
