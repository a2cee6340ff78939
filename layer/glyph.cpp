// Glyph drawing from the current font slot's cell. Output row r of a w x h glyph samples cell
// row 100 r / k (hard) or the four rows from 400 r / k (smooth), k = h * 100 / w, so the glyph
// rendered w wide is stretched to h rows; cell rows and bytes past the cell read as no ink, and
// nothing is written unless the whole placed box lies inside the canvas.
#include "layer/glyph.h"

#include <algorithm>
#include <initializer_list>
#include <vector>

#include "layer/font.h"

GlyphCanvas GlyphCanvasMake(u8* pixels, i32 width, i32 height, i32 stride) {
  return {pixels, width, height, stride, 0, 0, 0, 0, 0};
}

// ---- Gradient ----------------------------------------------------------------------------------

// Gradient modes 1..8 after a quarter, half and three-quarter turn.
static const u8 kModeTurned[9][3] = {
    {0, 0, 0}, {3, 2, 4}, {4, 1, 3}, {2, 4, 1}, {1, 3, 2}, {8, 7, 6}, {5, 8, 7}, {6, 5, 8}, {7, 6, 5},
};

// Corner sources per mode: 0 the colour, 1 the second colour, 2 their midpoint.
static const u8 kModeCorners[9][4] = {
    {0, 0, 0, 0}, {0, 0, 1, 1}, {1, 1, 0, 0}, {0, 1, 0, 1}, {1, 0, 1, 0},
    {0, 2, 2, 1}, {2, 0, 1, 2}, {1, 2, 2, 0}, {2, 1, 0, 2},
};

static GlyphRgb Rgb(u32 c) {
  return {static_cast<i32>((c >> 16) & 0xFF), static_cast<i32>((c >> 8) & 0xFF), static_cast<i32>(c & 0xFF)};
}

void TextGradientCorners(i32 mode, i32 orientation, u32 colour, u32 second_colour, GlyphRgb out[4]) {
  if (mode < 0 || mode > 8) mode = 0;
  if (orientation >= 1 && orientation <= 3) mode = kModeTurned[mode][orientation - 1];
  GlyphRgb c1 = Rgb(colour), c2 = Rgb(second_colour);
  GlyphRgb mid = {c1.r + (c2.r - c1.r) / 2, c1.g + (c2.g - c1.g) / 2, c1.b + (c2.b - c1.b) / 2};
  const GlyphRgb src[3] = {c1, c2, mid};
  for (int i = 0; i < 4; i++) out[i] = src[kModeCorners[mode][i]];
}

static GlyphRgb Lerp(const GlyphRgb& a, const GlyphRgb& b, i32 num, i32 den) {
  if (den <= 0) return a;
  return {a.r + (b.r - a.r) * num / den, a.g + (b.g - a.g) * num / den, a.b + (b.b - a.b) * num / den};
}

// ---- Placement ---------------------------------------------------------------------------------

// Where output pixel (c, r) lands: origin + r * row_step + c * col_step.
struct GlyphPlacement {
  u8* origin;                    // where pixel (0, 0) of the glyph lands
  i64 row_step, col_step;        // bytes per output row and per output column
  i32 left, top, right, bottom;  // the placed box, right and bottom exclusive
};

static bool Place(i32 orientation, i32 w, i32 h, i32 x, i32 y, const GlyphCanvas* cv, GlyphPlacement* p) {
  if (w <= 0 || h <= 0 || !cv || !cv->pixels) return false;
  auto inside = [cv](i64 l, i64 t, i64 r, i64 b) { return l >= 0 && t >= 0 && r <= cv->width && b <= cv->height; };
  i64 X = x, Y = y;
  if (!inside(X, Y, X + w, Y + h)) return false;
  // Quarter turns make the box h wide and w tall; it must fit as well.
  i64 l = X, t = Y, r = X + w, b = Y + h;
  if (orientation == 1) {
    l = X + w - h;
    b = Y + w;
  } else if (orientation == 3) {
    r = X + h;
    b = Y + w;
  }
  if (!inside(l, t, r, b)) return false;
  p->left = static_cast<i32>(l);
  p->top = static_cast<i32>(t);
  p->right = static_cast<i32>(r);
  p->bottom = static_cast<i32>(b);
  const i64 px = 4, stride = cv->stride;
  auto at = [&](i64 cx, i64 cy) { return cv->pixels + cy * stride + cx * px; };
  switch (orientation) {
    case 1:  // (c, r) -> (x + w - 1 - r, y + c)
      p->origin = at(X + w - 1, Y);
      p->row_step = -px;
      p->col_step = stride;
      break;
    case 2:  // (c, r) -> (x + w - 1 - c, y + h - 1 - r)
      p->origin = at(X + w - 1, Y + h - 1);
      p->row_step = -stride;
      p->col_step = -px;
      break;
    case 3:  // (c, r) -> (x + r, y + w - 1 - c)
      p->origin = at(X, Y + w - 1);
      p->row_step = px;
      p->col_step = -stride;
      break;
    default:  // (c, r) -> (x + c, y + r); orientations 4..8 draw unturned
      p->origin = at(X, Y);
      p->row_step = stride;
      p->col_step = px;
      break;
  }
  return true;
}

static void MarkDirty(GlyphCanvas* cv, const GlyphPlacement& p) {
  if (cv->dirty_right <= cv->dirty_left || cv->dirty_bottom <= cv->dirty_top) {
    cv->dirty_left = p.left, cv->dirty_top = p.top, cv->dirty_right = p.right, cv->dirty_bottom = p.bottom;
    return;
  }
  if (p.left < cv->dirty_left) cv->dirty_left = p.left;
  if (p.top < cv->dirty_top) cv->dirty_top = p.top;
  if (p.right > cv->dirty_right) cv->dirty_right = p.right;
  if (p.bottom > cv->dirty_bottom) cv->dirty_bottom = p.bottom;
}

// ---- Drawers -----------------------------------------------------------------------------------

// The current slot's cell, with reads past its rows or bytes giving 0xFF (no ink).
struct GlyphCell {
  const u8* bits;
  i32 side, row_bytes;
  // Row `row`, or null when it lies outside the cell.
  const u8* Row(i64 row) const { return row < 0 || row >= side ? nullptr : bits + row * row_bytes; }
};

static bool CurrentCell(GlyphCell* cell) {
  const FontSlot& s = g_FontSlots[g_FontCurrentSlot];
  if (!s.glyph_bits || s.cell_side <= 0 || s.glyph_bytes < s.cell_side * (s.cell_side / 8)) return false;
  *cell = {s.glyph_bits, s.cell_side, s.cell_side / 8};
  return true;
}

// Everything both drawers share: the box test, the colours at each row's ends and the row's
// first cell row. Calls row_fn(cell, cell_row, left, right, row_origin, col_step) per row drawn.
template <class RowFn>
static void DrawRows(u32 colour, u32 second_colour, i32 mode, i32 orientation, i32 w, i32 h, i32 x, i32 y,
                     i32 rows_per_output, GlyphCanvas* cv, RowFn row_fn) {
  cv->has_alpha = 1;
  GlyphCell cell;
  GlyphPlacement p;
  if (!CurrentCell(&cell) || !Place(orientation, w, h, x, y, cv, &p)) return;
  if (second_colour == 0xFFFFFFFFu) second_colour = colour;
  GlyphRgb corner[4];
  TextGradientCorners(mode, orientation, colour, second_colour, corner);
  i64 k = static_cast<i64>(h) * 100 / w;
  if (k < 1) k = 1;  // a glyph far wider than tall: every row samples from the top
  for (i32 r = 0; r < h; r++) {
    i64 cell_row = static_cast<i64>(rows_per_output) * 100 * r / k;
    if (cell_row >= cell.side) continue;  // starts past the cell's bytes
    GlyphRgb left = Lerp(corner[0], corner[2], r, h - 1);
    GlyphRgb right = Lerp(corner[1], corner[3], r, h - 1);
    row_fn(cell, cell_row, left, right, p.origin + p.row_step * r, p.col_step);
  }
  MarkDirty(cv, p);
}

// Lerp(a, b, c, w - 1) for every column c of a row, without a division per pixel: each channel
// steps its quotient and remainder along the row.
static void RowColours(const GlyphRgb& a, const GlyphRgb& b, i32 w, GlyphRgb* out) {
  const i32 den = w - 1;
  if (den <= 0 || (a.r == b.r && a.g == b.g && a.b == b.b)) {
    for (i32 c = 0; c < w; c++) out[c] = a;
    return;
  }
  auto channel = [&](i32 from, i32 to, i32 GlyphRgb::*field) {
    const i32 diff = to - from, mag = diff < 0 ? -diff : diff, step_q = mag / den, step_r = mag % den;
    i32 q = 0, rem = 0;  // mag * c == q * den + rem
    for (i32 c = 0; c < w; c++) {
      out[c].*field = from + (diff < 0 ? -q : q);  // the division truncates toward zero
      q += step_q;
      rem += step_r;
      if (rem >= den) {
        q++;
        rem -= den;
      }
    }
  };
  channel(a.r, b.r, &GlyphRgb::r);
  channel(a.g, b.g, &GlyphRgb::g);
  channel(a.b, b.b, &GlyphRgb::b);
}

static inline void Put(u8* px, const GlyphRgb& c, u8 alpha) {
  px[0] = static_cast<u8>(c.b);
  px[1] = static_cast<u8>(c.g);
  px[2] = static_cast<u8>(c.r);
  px[3] = alpha;
}

// n / d truncated toward zero for |n| < 2^24 and 0 < d <= 256, through a reciprocal:
// (|n| * ceil(2^40 / d)) >> 40 is exact there.
static inline i32 DivSmall(i32 n, i32 d) {
  static const struct Reciprocals {
    u64 r[257];
    Reciprocals() : r{} {
      for (u32 i = 1; i <= 256; i++) r[i] = ((u64{1} << 40) + i - 1) / i;
    }
  } kRecip;
  const u64 m = static_cast<u64>(n < 0 ? -n : n);
  const i32 q = static_cast<i32>((m * kRecip.r[d]) >> 40);
  return n < 0 ? -q : q;
}

void TextDrawGlyphHard(u32 colour, u32 second_colour, i32 gradient_mode, i32 orientation, i32 w, i32 h, i32 x, i32 y,
                       u8 ink_only, GlyphCanvas* canvas) {
  GlyphRgb stack_cols[FONT_GLYPH_MAX];
  std::vector<GlyphRgb> heap_cols(w > FONT_GLYPH_MAX ? static_cast<size_t>(w) : 0);
  GlyphRgb* cols = w > FONT_GLYPH_MAX ? heap_cols.data() : stack_cols;
  DrawRows(colour, second_colour, gradient_mode, orientation, w, h, x, y, 1, canvas,
           [&](const GlyphCell& cell, i64 row, const GlyphRgb& left, const GlyphRgb& right, u8* px, i64 step) {
             static const GlyphRgb kBlack = {0, 0, 0};
             RowColours(left, right, w, cols);
             const u8* bits = cell.Row(row);
             for (i32 c = 0; c < w; c++) {
               u8* q = px + step * c;
               const bool ink = bits && (c >> 3) < cell.row_bytes && !(bits[c >> 3] & (0x80u >> (c & 7)));
               if (ink) Put(q, cols[c], 255);
               else if (!ink_only) Put(q, kBlack, 255);
             }
           });
}

void TextDrawGlyphSmooth(u32 colour, u32 second_colour, i32 gradient_mode, i32 orientation, i32 w, i32 h, i32 x, i32 y,
                         u8 ink_only, GlyphCanvas* canvas) {
  GlyphRgb stack_cols[FONT_GLYPH_MAX];
  u32 stack_sums[FONT_GLYPH_MAX / 2 + 1];
  const bool large = w > FONT_GLYPH_MAX;
  std::vector<GlyphRgb> heap_cols(large ? static_cast<size_t>(w) : 0);
  std::vector<u32> heap_sums(large ? static_cast<size_t>(w) / 2 + 1 : 0);
  GlyphRgb* cols = large ? heap_cols.data() : stack_cols;
  u32* sums = large ? heap_sums.data() : stack_sums;
  const i32 pairs = (w + 1) / 2;
  DrawRows(colour, second_colour, gradient_mode, orientation, w, h, x, y, 4, canvas,
           [&](const GlyphCell& cell, i64 row, const GlyphRgb& left, const GlyphRgb& right, u8* px, i64 step) {
             // The ink counts of the four cell rows, two output pixels (one cell byte) at a time:
             // the left four pixels' count above bit 8 and the right four's below, which never
             // carry into each other (at most 16 each).
             const u32 none = g_GlyphCoverage[0xFF];
             for (i32 b = 0; b < pairs; b++) sums[b] = 0;
             for (i64 k = 0; k < 4; k++) {
               const u8* bits = cell.Row(row + k);
               const i32 inside = bits ? std::min(pairs, cell.row_bytes) : 0;
               for (i32 b = 0; b < inside; b++) sums[b] += g_GlyphCoverage[bits[b]];
               for (i32 b = inside; b < pairs; b++) sums[b] += none;
             }
             RowColours(left, right, w, cols);
             for (i32 c = 0; c < w; c++) {
               u8* q = px + step * c;
               const u32 count = (c & 1) ? (sums[c >> 1] & 0xFF) : (sums[c >> 1] >> 8);
               u8 level = g_GlyphGreyLevels[count & 31];
               const GlyphRgb& col = cols[c];
               if (!ink_only) {
                 Put(q, col, level);
                 continue;
               }
               // Over what is there: a = level + 1 so that full ink replaces the colour.
               i32 a = level + 1;
               i32 old_a = q[3];
               i32 new_a = old_a + a - ((old_a * a) >> 8) - 1;
               const i32 src[3] = {col.b, col.g, col.r};
               for (int ch = 0; ch < 3; ch++)
                 q[ch] = static_cast<u8>(q[ch] + DivSmall((src[ch] - q[ch]) * a, new_a + 1));
               q[3] = static_cast<u8>(new_a);
             }
           });
}

void TextDrawGlyphCopies(u32 colour, u32 second_colour, i32 gradient_mode, i32 orientation, i32 w, i32 h, u8 smooth,
                         i32 copy_mode, i32 x, i32 y, u8 ink_only, GlyphCanvas* canvas) {
  auto draw = smooth == 1 ? TextDrawGlyphSmooth : TextDrawGlyphHard;
  if (copy_mode <= 0) {
    draw(colour, second_colour, gradient_mode, orientation, w, h, x, y, ink_only, canvas);
  } else if (copy_mode <= 10) {
    const i32 m = copy_mode;
    for (i32 dx : {m, 0, -m})
      for (i32 dy : {-m, 0, m})
        draw(colour, second_colour, gradient_mode, orientation, w, h, x + dx, y + dy, ink_only, canvas);
  } else {
    const i32 d = copy_mode - 10;
    draw(colour, second_colour, gradient_mode, orientation, w, h, x + d, y, ink_only, canvas);
    draw(colour, second_colour, gradient_mode, orientation, w, h, x, y + d, ink_only, canvas);
    draw(colour, second_colour, gradient_mode, orientation, w, h, x + d, y + d, ink_only, canvas);
  }
}

i32 TextDrawGlyph(const char* text, u32 colour, u32 second_colour, i32 gradient_mode, i32 orientation, i32 w, i32 h,
                  u32 bold, u8 smooth, i32 copy_mode, i32 x, i32 y, u8 ink_only, GlyphCanvas* canvas) {
  i32 advance = 0, height = 0;
  FontMeasureText(text, w, h, bold, smooth, &advance, &height);
  // A size outside the cells leaves the last glyph in the cell: nothing of it may be drawn.
  if (w < 0 || w > FONT_GLYPH_MAX || h < 0 || h > FONT_GLYPH_MAX) return advance;
  TextDrawGlyphCopies(colour, second_colour, gradient_mode, orientation, w, h, smooth, copy_mode, x, y, ink_only,
                      canvas);
  return advance;
}
