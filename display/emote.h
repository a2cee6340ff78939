// The animated-character bridge, as the engine calls it: the player bridge's life, its players,
// and the points where the GPU path meets it (the driver set up on the device, the players
// carried over a device rebuild, a character layer drawn by its player into its own texture).
#pragma once
#include "common/types.h"

struct ImagePicture;
struct LayerRecord;
struct PlatGpuTexture;

void EmoteReleasePlayer(LayerRecord* rec);  // a layer's animated-character player
void EmoteBridgeLoad();
void EmoteBridgeRelease();
void EmoteAdvanceAll(u32 elapsed_ms);
void EmoteUpdateTransforms();  // after a size change of the main window
i32 EmoteAnyBusy();
// Animated-character data (".psb") handed to the character player bridge.
int EmoteLoadPsb(const u8* data, u32 size, const char* name, ImagePicture* pic);

// The player driver made on the device (start-up step 2). Its result is not checked.
i32 EmoteDriverInit();
// Before a device rebuild: every player's state saved, every slot's player and the driver
// released.
void EmoteSaveAndReleasePlayers();
// After a character layer's picture was loaded again on the new device: its player values, byte
// setting and saved state sent again.
void EmoteRestorePlayer(LayerRecord* rec);
// A character layer's player draws into target (the layer's tile 0, already the render target
// and cleared): tone, position, scale, rotation, transforms, pending time, draw.
void EmoteDrawPlayer(LayerRecord* rec, PlatGpuTexture* target);
