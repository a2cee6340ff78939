// Glyph drawing: one character from the current font slot's 1-bit cell into 32-bit BGRA pixels,
// hard (1 bit a pixel) or smooth (alpha from 4 x 4 supersampled coverage), coloured by a
// four-corner gradient, turned by the orientation and copied for outlines and shadows. A glyph
// is drawn only when its whole box, turned or not, lies inside the pixels.
#pragma once
#include "common/types.h"

// The pixels drawn into: rows top-down, `stride` bytes apart, 4 bytes a pixel (B, G, R, A).
// The drawers set has_alpha and grow the dirty box (right and bottom exclusive; empty while
// dirty_right <= dirty_left); the caller hands both on to the layer.
struct GlyphCanvas {
  u8* pixels;
  i32 width, height, stride;
  u8 has_alpha;
  i32 dirty_left, dirty_top, dirty_right, dirty_bottom;
};

struct GlyphRgb {
  i32 r, g, b;
};

// A canvas over a pixel buffer with an empty dirty box.
GlyphCanvas GlyphCanvasMake(u8* pixels, i32 width, i32 height, i32 stride);

// The four corner colours (left top, right top, left bottom, right bottom) of a gradient mode
// 0..8, remapped first so that the gradient turns with orientations 1..3. Colours are 0xRRGGBB;
// modes above 8 draw in the first colour alone.
void TextGradientCorners(i32 mode, i32 orientation, u32 colour, u32 second_colour, GlyphRgb out[4]);

// One copy of the current slot's rendered glyph at (x, y), w x h pixels. A second colour of
// 0xFFFFFFFF means none.
void TextDrawGlyphSmooth(u32 colour, u32 second_colour, i32 gradient_mode, i32 orientation, i32 w, i32 h, i32 x, i32 y,
                         u8 ink_only, GlyphCanvas* canvas);
void TextDrawGlyphHard(u32 colour, u32 second_colour, i32 gradient_mode, i32 orientation, i32 w, i32 h, i32 x, i32 y,
                       u8 ink_only, GlyphCanvas* canvas);

// The copies of copy mode m of the glyph already rendered in the current slot: m <= 0 one at
// (x, y); 1..10 nine at x + m, x, x - m by y - m, y, y + m (an outline m pixels thick); 11 and
// above three, shifted by d = m - 10, at (x + d, y), (x, y + d), (x + d, y + d) (a shadow).
void TextDrawGlyphCopies(u32 colour, u32 second_colour, i32 gradient_mode, i32 orientation, i32 w, i32 h, u8 smooth,
                         i32 copy_mode, i32 x, i32 y, u8 ink_only, GlyphCanvas* canvas);

// Renders the first character of text with the current slot's face and draws it in copy mode m.
// Returns the advance width measured for it.
i32 TextDrawGlyph(const char* text, u32 colour, u32 second_colour, i32 gradient_mode, i32 orientation, i32 w, i32 h,
                  u32 bold, u8 smooth, i32 copy_mode, i32 x, i32 y, u8 ink_only, GlyphCanvas* canvas);
