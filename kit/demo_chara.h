// The demo's animated character, drawn by the kit (no art of its own): a girl in a blue dress who
// breathes, blinks and turns her head. Variables "breath", "blink" and "head_turn"; motions "idle"
// and "blink" (looping, starting with the player) and "turn" (once); a looping timeline "look".
// Her origin is between her feet; she is about 100 x 200 pixels.
#pragma once
#include <string>
#include <vector>

#include "emote/psb.h"

EmoteModel KitDemoCharacterModel();
// Writes cg/girl.psb under a native folder. 0, or -1 with err.
int KitDemoCharacterWrite(const std::string& folder_native, std::string* err);
