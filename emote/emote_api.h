// The animated-character player library as the engine loads it: one shared library
// (libzephra_emote.so) whose single exported function gives each entry point by its number, as
// the engine's bridge takes them. Every call below runs on the thread that holds the engine's GL
// context; the library draws with that context and never makes one of its own.
//
// Numbers and calls (h = player, D = driver; names are UTF-8, NUL-terminated):
//   2   D   (EmoteDevice** block of three words: device, 0, 0)     null on failure
//   3   void(bytes, size, filter)     the next player made from these bytes has its pictures'
//                                     B, G, R, A pixels passed through filter first
//   102 void(D)                       the driver and its GL objects released
//   119 void(D, bytes, size, h* out)  a player from ".psb" bytes; *out null when they are damaged
//   121 void(D, GL texture name)      the render target of the next draws
//   202 void(h)                       player deleted (its GL textures with it)
//   205 void(h)                       playing begins: the character's automatic motions start
//   208 void(h, u8)                   1 smooth (bilinear) pictures, 0 nearest
//   212 void(h, i32)                  1 time runs, 0 time stands still
//   214, 218, 216 void(h, float 0..1) opacity, brightness, speed of time
//   220 void(h, x, y, 0, 0)           position in pixels, y up
//   222 void(h, scale, 0, 0)          224 void(h, radians, 0, 0) counter-clockwise
//   226 void(h, RRGGBBAA, 0, 0)       colour multiplying the pictures, 0x80 = 1.0 per channel
//   228 u32(h)                        variable count;  229 const char*(h, index) its name
//   234 float(h, name)                a variable's current value (0 for an unknown name)
//   233 void(h, name, value, frames, 0)  a variable moves to value over frames (0: at once)
//   235 void(h, phase, speed, turn, sway x, bob y)  a gentle sway of the whole character on
//   236 void(h)                       sway off
//   244 u8(h, name)                   1 while that motion plays
//   245 void(h, name, 1 or 3)         starts a motion (1) or a timeline (3)
//   246 u8(h, name or "")             1 while that timeline (with "": any timeline) plays
//   247 void(h, name)                 stops a motion, its variables keeping their values
//   248 void(h, name, weight, frames, 0, 0)  a started timeline's weight moves to weight
//   251 void(h, name, frames, 0)      a timeline fades out over frames and stops
//   252 u8(h)                         1 while any motion plays
//   253 void(h)                       back to the state right after 205
//   254 void(h, frames)               time advances (frames of 1/60 s)
//   255 u8(h)                         1 while anything moves (motion, timeline, fade, sway)
//   256 void(h)                       draws into the render target of 121
// Any other number gives null. The transforms of the device (EmoteDevice) are read at each draw:
// a picture point p (pixels, relative to the render target's centre after the player's own
// position, scale and rotation) lands at clip = projection * view * world * p.
#pragma once
#include <cstdint>

struct EmoteDevice {
  float world[16], view[16], projection[16];  // column-major 4 x 4
};

typedef void* (*EmoteProcFn)(unsigned ordinal);
#define ZEMOTE_PROC_SYMBOL "ZephraEmoteProc"
#define ZEMOTE_LIBRARY_NAME "libzephra_emote.so"

extern "C" void* ZephraEmoteProc(unsigned ordinal);

// The entry points' types, by number.
typedef void* (*EmoteFn2)(void** block);
typedef void (*EmotePixelFilter)(std::uint32_t* pixels, std::uint32_t bytes);
typedef void (*EmoteFn3)(const std::uint8_t* bytes, std::uint32_t size, EmotePixelFilter filter);
typedef void (*EmoteFnD)(void* driver);
typedef void (*EmoteFn119)(void* driver, const std::uint8_t* bytes, std::uint32_t size, void** out);
typedef void (*EmoteFn121)(void* driver, std::uint32_t texture);
typedef void (*EmoteFnH)(void* h);
typedef void (*EmoteFnHByte)(void* h, std::uint8_t v);
typedef void (*EmoteFnHInt)(void* h, std::int32_t v);
typedef void (*EmoteFnHFloat)(void* h, float v);
typedef void (*EmoteFnHFloat4)(void* h, float a, float b, float c, float d);
typedef void (*EmoteFnHFloat3)(void* h, float a, float b, float c);
typedef void (*EmoteFnHColour)(void* h, std::uint32_t rgba, float b, float c);
typedef std::uint32_t (*EmoteFnHCount)(void* h);
typedef const char* (*EmoteFnHName)(void* h, std::uint32_t index);
typedef float (*EmoteFnHGet)(void* h, const char* name);
typedef void (*EmoteFnHSet)(void* h, const char* name, float value, float frames, float ease);
typedef void (*EmoteFnHFloat5)(void* h, float a, float b, float c, float d, float e);
typedef std::uint8_t (*EmoteFnHAskName)(void* h, const char* name);
typedef void (*EmoteFnHStart)(void* h, const char* name, std::int32_t kind);
typedef void (*EmoteFnHName0)(void* h, const char* name);
typedef void (*EmoteFnHFade)(void* h, const char* name, float value, float frames, float ease, std::uint8_t flag);
typedef void (*EmoteFnHStopTl)(void* h, const char* name, float frames, float ease);
typedef std::uint8_t (*EmoteFnHAsk)(void* h);
