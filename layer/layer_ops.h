// The layer edit command's operations other than resizing and rotation: blits, cross-fade, rule
// transition, difference masks, trimming, canvas margins, exchange, text, the pixel effects
// (fx.h) and the GPU paste and snapshot. Each reads layer 0 (A) and writes the layer named last
// that it needs; B is layer 1. Layers without pixels are never read or written, and an output that
// is also an input is read from a copy, so the result is that of distinct layers.
#pragma once
#include "common/types.h"

struct LayerRecord;
struct LayerEditLine;

// g_BlitRect: the source picture placed at (x, y) in the destination, clipped to both pictures.
// Positions are any 64-bit values. false (width or rows 0) when nothing overlaps.
bool LayerBlitClip(const LayerRecord* dst, const LayerRecord* src, i64 x, i64 y);

// The operations on the line as the dispatcher read it: 0, or -1 after an error.
i32 LayerBlit(LayerEditLine* line, bool both_opacities);    // 34, 35
i32 LayerCrossFade(LayerEditLine* line);                    // 36
i32 LayerRuleTransition(LayerEditLine* line);               // 37
i32 LayerDifference(LayerEditLine* line, bool keep_equal);  // 38, 39
i32 LayerTrim(LayerEditLine* line);                         // 40
i32 LayerCanvas(LayerEditLine* line);                       // 41
i32 LayerDrawText(LayerEditLine* line);                     // 63

// The rule transition's row kernel: out = X - ((X - Y) * w >> 8) on all four bytes with X the
// pixel of b, Y that of a and w = g_MaskWeights[the mask pixel's first byte]; where w is below 2
// b's pixel is taken as it is.
void LayerRuleRow(u8* out, const u8* a, const u8* b, const u8* mask, i32 pixels);
// The canvas copy: src (sw x sh) into dst (dw x dh) at (left, top), as far as they overlap.
void LayerCanvasCopy(u8* dst, i32 dw, i32 dh, const u8* src, i32 sw, i32 sh, i64 left, i64 top);
