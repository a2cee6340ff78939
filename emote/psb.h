// The character file ".psb" (written by the kit, "zpkit psb"): pictures ("parts") in a tree,
// named float variables, curves that turn a variable's value into a part's position, scale,
// rotation, opacity or visibility, and clips (motions and timelines) whose tracks move variables
// over frames. All numbers little-endian; floats are IEEE single.
//
//   header, 48 bytes: "ZPSB", u32 version 1, i32 canvas width, i32 canvas height (the picture
//     area the kit laid out, for tools only), then u32 counts of variables, parts, bindings,
//     clips, tracks, keys, and the byte sizes of the string table and the pixel area.
//   variables  8 bytes each: u32 name, f32 default
//   parts     40 bytes each: u32 name, i32 parent (-1 none, else an earlier part), f32 x, f32 y
//                            (origin in the parent's space), f32 pivot x, f32 pivot y (the
//                            origin inside the picture), u32 width, u32 height, u32 pixel
//                            offset (B, G, R, A rows, top-down, straight alpha), u32 0
//   bindings  20 bytes each: u32 part, u32 property (EMOTE_PROP_...), u32 variable, u32 first
//                            key, u32 key count (keys: variable value -> property value)
//   clips     24 bytes each: u32 name, u32 kind (1 motion, 3 timeline), u32 flags (1 loops,
//                            2 starts with the player), f32 length in frames, u32 first track,
//                            u32 track count
//   tracks    12 bytes each: u32 variable, u32 first key, u32 key count (keys: frame -> value)
//   keys       8 bytes each: f32 in, f32 out; within one curve the "in" values never decrease
//   strings   NUL-terminated names, addressed by byte offset
//   pixels
// Parts are drawn in file order. A property's curves combine: x, y and rotation (degrees) add to
// the part's own, scale and opacity multiply, and a part is hidden while a visibility curve gives
// less than 0.5.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum {
  EMOTE_PSB_HEADER = 48,
  EMOTE_PSB_VAR = 8,
  EMOTE_PSB_PART = 40,
  EMOTE_PSB_BIND = 20,
  EMOTE_PSB_CLIP = 24,
  EMOTE_PSB_TRACK = 12,
  EMOTE_PSB_KEY = 8,
  // Limits a file may not pass.
  EMOTE_MAX_VARS = 256,
  EMOTE_MAX_PARTS = 256,
  EMOTE_MAX_BINDS = 4096,
  EMOTE_MAX_CLIPS = 256,
  EMOTE_MAX_TRACKS = 4096,
  EMOTE_MAX_KEYS = 1 << 20,
  EMOTE_MAX_SIDE = 4096,
  EMOTE_MAX_STRINGS = 1 << 20,
};
enum {
  EMOTE_PROP_X,
  EMOTE_PROP_Y,
  EMOTE_PROP_SCALE,
  EMOTE_PROP_ROTATION,
  EMOTE_PROP_OPACITY,
  EMOTE_PROP_VISIBLE,
  EMOTE_PROP_COUNT
};
enum { EMOTE_CLIP_MOTION = 1, EMOTE_CLIP_TIMELINE = 3 };
enum { EMOTE_CLIP_LOOP = 1, EMOTE_CLIP_AUTOSTART = 2 };

struct EmoteKey {
  float in, out;
};
struct EmoteCurve {
  std::uint32_t first, count;  // into EmoteModel::keys
};
struct EmotePart {
  std::string name;
  std::int32_t parent;
  float x, y, pivot_x, pivot_y;
  std::uint32_t width, height;
  std::vector<std::uint32_t> pixels;  // B, G, R, A as little-endian words
};
struct EmoteBinding {
  std::uint32_t part, prop, var;
  EmoteCurve curve;
};
struct EmoteTrack {
  std::uint32_t var;
  EmoteCurve curve;
};
struct EmoteClip {
  std::string name;
  std::uint32_t kind, flags;
  float length;
  std::vector<EmoteTrack> tracks;
};
struct EmoteModel {
  std::int32_t canvas_w = 0, canvas_h = 0;
  std::vector<std::string> var_names;
  std::vector<float> var_defaults;
  std::vector<EmotePart> parts;
  std::vector<EmoteBinding> bindings;
  std::vector<EmoteClip> clips;
  std::vector<EmoteKey> keys;
};

// Reads and checks a whole file: every count, size, offset, index and float. 0, or -1 for a
// damaged file (model then undefined).
int EmotePsbRead(const std::uint8_t* data, size_t size, EmoteModel* model);
// The value of a curve at x: linear between keys, the end keys' values outside them; 0 for a
// curve without keys.
float EmoteCurveAt(const EmoteModel& m, const EmoteCurve& c, float x);
