// The animated-character bridge, as the engine calls it: the player library's life, its players,
// their settings, and the points where the GPU path meets it (the driver set up on the device,
// the players carried over a device rebuild, a character layer drawn by its player into its own
// texture). The player library is the project's own (emote/), loaded at run time when the game
// ships the driver file "emotedriver.dll" among its files. Everything runs on the thread that
// runs the frames.
#pragma once
#include <string>

#include "common/types.h"

struct LayerRecord;
struct PackLookup;
struct PlatGpuTexture;

enum {
  EMOTE_ORDINAL_MAX = 256,
  EMOTE_DUMP_SIZE = 4096,  // the variable dump text, with its terminating zero
  EMOTE_NAME_SIZE = 512,   // a motion or timeline name, with its terminating zero
};

// Entry points by ordinal (1-3, 101-121, 201-256; the others stay null).
struct EmoteBridgeTable {
  void* fn[EMOTE_ORDINAL_MAX + 1];
};
extern EmoteBridgeTable g_EmoteBridge;
extern void* g_EmoteModule;    // the loaded library
extern void* g_EmoteDriver;    // the driver object of ordinal 2
extern i32 g_EmoteSaturation;  // the saturation of the layer being loaded (128 = neutral)
// The player library's file; empty: "libzephra_emote.so" beside the executable.
extern std::string g_EmoteLibraryPath;

void EmoteBridgeLoad();
void EmoteBridgeRelease();  // every player, the driver and the library
// The player driver made on the device (once, while there is none): 1 when it could not be made.
i32 EmoteDriverInit();
// ".psb" data of a layer (image type 9), found by the lookup: the layer gets a 2 x 2 placeholder
// and, with the bridge, a player. 0, 1 after a read failure, -1 when no player was made.
i32 EmoteLoadPsb(PackLookup* lookup, LayerRecord* rec, const char* resolved, const char* name);
i32 EmotePlayerCreate(LayerRecord* rec, const u8* bytes, u32 size);  // 0, or 1 after a box
void EmoteReleasePlayer(LayerRecord* rec);
// Colours of a character's pictures while it loads, by g_EmoteSaturation: B, G, R, A pixels.
void EmoteSaturationFilter(u32* pixels, u32 bytes);

// Setters of one layer's player (see the bridge for when each applies).
void EmoteSetValue(LayerRecord* rec, i32 which, float v);  // which 1..3
void EmoteSetFlag(LayerRecord* rec, u8 v);
void EmoteSetSwitch(LayerRecord* rec, i32 on);
void EmoteOptionOn(LayerRecord* rec, const float v[5]);
void EmoteOptionOff(LayerRecord* rec);
void EmoteReset(LayerRecord* rec);
i32 EmoteMotionStart(LayerRecord* rec, const char* name);
i32 EmoteMotionStop(LayerRecord* rec, const char* name);
i32 EmoteTimelineStart(LayerRecord* rec, const char* name, float fade, float ms);
i32 EmoteTimelineStop(LayerRecord* rec, const char* name, float ms);
// A variable (name as the player spells it, sent unconverted) moved to value over ms.
i32 EmoteSetVariable(LayerRecord* rec, const char* name, float value, float ms);
// Answers of the player (0 without one).
i32 EmoteAskMotionsPlaying(LayerRecord* rec);                     // ordinal 252
i32 EmoteAskTimelinePlaying(LayerRecord* rec, const char* name);  // "" any
i32 EmoteAskMotionPlaying(LayerRecord* rec, const char* name);

// The variable dump: "name" 0x81 0x92 "value x 1000" 0x81 0x92 per variable, cut before a pair
// that would not fit whole into size bytes (with the terminating zero). Its length.
size_t EmoteDumpVariables(LayerRecord* rec, char* out, size_t size);
// Each complete pair of a dump text, in order; a trailing half pair is ignored. The count sent.
i32 EmoteParseVariables(const char* text, void (*fn)(void* ctx, const char* name, float value), void* ctx);
i32 EmoteApplyVariables(LayerRecord* rec, const char* text, float ms);

// Time: the frame pacing hands over the clock once a frame; each slot's pending time (given to
// its player first when not yet used by a drawing) becomes the milliseconds since the last
// hand-over, or 16.666 after a stall of more than 10 s. A player advances by ms x 0.06 frames.
void EmoteAdvance(LayerRecord* rec, float ms);
void EmoteAdvanceAll(u32 now_ms);
i32 EmoteAnyBusy();
// The device transforms the player draws with: world (the offset, in pixels from the target's
// centre), view and projection for a target of w x h (under g_EngineLock when another thread may
// draw).
void EmoteSetTransforms(i32 w, i32 h, float offset_x, float offset_y);
void EmoteUpdateTransforms();  // a ratio of 1, after a size change of the main window

// Before a device rebuild: every player's state saved, every slot's player and the driver
// released.
void EmoteSaveAndReleasePlayers();
// After a character layer's picture was loaded again on the new device: its player values, byte
// setting and saved state sent again.
void EmoteRestorePlayer(LayerRecord* rec);
// A character layer's player draws into target (the layer's tile 0, already the render target
// and cleared): tone, position, scale, rotation, transforms, pending time, draw.
void EmoteDrawPlayer(LayerRecord* rec, PlatGpuTexture* target);

// Commands 12 and 13.
i32 CmdEmoteControl();
i32 CmdEmoteQuery();
