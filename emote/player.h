// One character player without its drawing: variables (each moving towards a target when set
// over time), the motions and timelines that drive them, the sway, and the poses of the parts
// that follow from it all. Time is counted in frames of 1/60 s.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "emote/psb.h"

struct EmoteActiveClip {
  std::uint32_t clip;
  float time;
  float weight;                      // timelines: how much of their values shows
  float weight_target, weight_step;  // the weight moves by step per frame until it is at target
  bool stopping;                     // a timeline fading out: removed when its weight is 0
};

// Where one part is drawn: the affine map from picture pixels (origin at the picture's top-left)
// to character pixels (y down, origin at the character's origin), and its opacity.
struct EmotePose {
  float a, b, c, d, tx, ty;  // x' = a x + c y + tx, y' = b x + d y + ty
  float opacity;
  bool visible;
};

struct EmotePlayerState {
  EmoteModel model;
  std::vector<float> base;          // each variable's own value
  std::vector<float> target, step;  // a variable moving over time: towards target by step a frame
  std::vector<float> value;         // what shows: the base, then motions, then timelines
  std::vector<EmoteActiveClip> motions, timelines;
  bool runs = true;    // switch 212
  float speed = 1.0f;  // value 216
  bool sway_on = false;
  float sway[5] = {0, 1, 1, 1, 1};
  float sway_time = 0.0f;
};

void EmotePlayerInit(EmotePlayerState* p);                      // the model's defaults, nothing playing
void EmotePlayerBegin(EmotePlayerState* p);                     // the automatic clips start
int EmoteFindVar(const EmotePlayerState& p, const char* name);  // index or -1
void EmotePlayerSetVar(EmotePlayerState* p, int var, float value, float frames);
// Starts the clip of that kind and name (a motion already playing starts over). 0, or -1 when the
// character has no such clip.
int EmotePlayerStart(EmotePlayerState* p, const char* name, std::uint32_t kind);
void EmotePlayerStopMotion(EmotePlayerState* p, const char* name);
void EmotePlayerFadeTimeline(EmotePlayerState* p, const char* name, float weight, float frames);
void EmotePlayerStopTimeline(EmotePlayerState* p, const char* name, float frames);
bool EmotePlayerMotionPlaying(const EmotePlayerState& p, const char* name);    // null: any
bool EmotePlayerTimelinePlaying(const EmotePlayerState& p, const char* name);  // "" or null: any
bool EmotePlayerBusy(const EmotePlayerState& p);
void EmotePlayerAdvance(EmotePlayerState* p, float frames);
void EmotePlayerEvaluate(EmotePlayerState* p);  // value from base, motions and timelines
// Every part's pose for the current values (sway included), in file order.
void EmotePlayerPoses(const EmotePlayerState& p, std::vector<EmotePose>* out);
