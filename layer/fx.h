// Pixel effects: one kernel over a rectangle of a layer's picture (brightness, colour balance,
// saturation, sepia, negative, threshold, blurs and soft shadows, mosaic, scatter, waves, swirl,
// mirror and flip, fills and copies), the result installed in the source itself or in an output
// layer. The rectangle is inclusive; results land at (x - x1, y - y1) in a w x h picture, except
// for the threshold and the fills, which work on a full-size picture at (x, y).
#pragma once
#include "common/types.h"

struct ObjNode;

// Effect codes.
enum {
  FX_BRIGHTNESS = 1,
  FX_BLUR = 2,
  FX_BLUR_H = 3,
  FX_BLUR_V = 4,
  FX_BLUR_FAST = 5,
  FX_SHADOW = 6,
  FX_BLUR_OR_SHADOW = 7,
  FX_COPY_SETTINGS = 8,
  FX_COPY = 9,
  FX_SCATTER = 10,
  FX_MIRROR = 11,
  FX_BALANCE = 12,
  FX_THRESHOLD = 19,
  FX_MOSAIC = 20,
  FX_WAVE_H = 21,
  FX_WAVE_V = 22,
  FX_WAVE = 23,
  FX_FILL = 24,
  FX_FILL2 = 25,
  FX_FILL3 = 26,
  FX_NEGATIVE = 27,
  FX_SATURATION = 29,
  FX_FLIP = 37,
  FX_SEPIA = 38,
  FX_SWIRL = 39,
};

// What a kernel works on. out has rows of out_w pixels; the rectangle lies inside the source.
struct FxJob {
  u8* out;
  i32 out_w;
  const u8* src;
  i32 src_w, src_h;
  i32 x1, y1, x2, y2;
  i32 value, value2;  // value2: the waves' phase
  u8 has_alpha;       // the source's has-alpha flag
  i32 mode;           // fills: 1 opaque colour, 2 alpha only, 3 whole value
};

// The effect works on the source's own picture (or a full-size copy of it for an output).
bool FxInPlace(i32 code);
// Runs the kernel of an effect code over job (copy for 8 and 9); unknown codes copy too.
void FxRunKernel(i32 code, const FxJob& job);

// Runs effect code over the rectangle of src's picture, into src itself or (has_output) into out.
// The rectangle is clamped into the picture; an empty one, or a source without pixels, does
// nothing. 0, or -1 after error 104030 (no memory) or 100010.
i32 FxDispatch(i32 code, ObjNode* src, ObjNode* out, i64 x1, i64 y1, i64 x2, i64 y2, i64 value, i64 value2,
               bool has_output, i32 mode);

// The saturation kernel, level 128 = unchanged, 0 = grey; output at (x - x1, y - y1).
void FxSaturation(u8* out, const u8* src, i32 x1, i32 x2, i32 y1, i32 y2, i32 src_w, i32 out_w, i32 level);

// The scatter's permutations: entry e names, for top-left, top-right, bottom-left and bottom-right
// in turn, which of the block's four pixels (0 top-left, 1 top-right, 2 bottom-left, 3
// bottom-right) it takes.
extern const u8 g_FxScatterPerm[24][4];
// The grey table: s / 3 for s = B + G + R.
extern u8 g_FxGrey[766];

// Tests: forgets the swirl's distance map.
void FxReset();
