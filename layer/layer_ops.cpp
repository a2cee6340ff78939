// The layer edit command's operations (see layer_ops.h). Positions of the layer-to-layer
// operations are 64-bit script values; the clip keeps every row and column inside every picture
// it touches, and the row loops work on the clipped area only.
#include "layer/layer_ops.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "common/sjis.h"
#include "core/err.h"
#include "core/hooks.h"
#include "core/obj.h"
#include "layer/blend.h"
#include "layer/font.h"
#include "layer/fx.h"
#include "layer/glyph.h"
#include "layer/image.h"
#include "layer/kernels.h"
#include "layer/layer.h"
#include "layer/layer_edit.h"
#include "platform/platform.h"
#include "script/arg.h"

static const char kCanvasSizeUtf8[] = "リサイズ後のサイズが不正です。";

bool LayerBlitClip(const LayerRecord* dst, const LayerRecord* src, i64 x, i64 y) {
  x = LayerClampPos(x);
  y = LayerClampPos(y);
  const i64 dx = std::max<i64>(x, 0), dy = std::max<i64>(y, 0);
  const i64 w = std::min<i64>(x + src->width, dst->width) - dx;
  const i64 h = std::min<i64>(y + src->height, dst->height) - dy;
  if (w <= 0 || h <= 0) {
    g_BlitRect = BlitRect{};
    return false;
  }
  g_BlitRect.dst_x = static_cast<i32>(dx);
  g_BlitRect.dst_y = static_cast<i32>(dy);
  g_BlitRect.src_x = static_cast<i32>(std::max<i64>(-x, 0));
  g_BlitRect.src_y = static_cast<i32>(std::max<i64>(-y, 0));
  g_BlitRect.width = static_cast<i32>(w);
  g_BlitRect.height = static_cast<i32>(h);
  return true;
}

// The clip narrowed so that an input read at A's source position has the pixels too.
static bool ClipToInput(const LayerRecord* in) {
  g_BlitRect.width = std::min(g_BlitRect.width, in->width - g_BlitRect.src_x);
  g_BlitRect.height = std::min(g_BlitRect.height, in->height - g_BlitRect.src_y);
  return g_BlitRect.width > 0 && g_BlitRect.height > 0;
}

// An input's pixels, or a copy of them when the output shares them.
static const u8* InputPixels(const LayerRecord* in, const LayerRecord* out, std::vector<u8>* keep) {
  if (in != out && in->pixels != out->pixels) return in->pixels;
  keep->assign(in->pixels, in->pixels + static_cast<size_t>(in->width) * in->height * 4);
  return keep->data();
}

static const u8* Row(const u8* p, const LayerRecord* r, i64 x, i64 y) { return p + (y * r->width + x) * 4; }
static u8* RowOut(LayerRecord* r, i64 x, i64 y) { return r->pixels + (y * r->width + x) * 4; }

static i32 ClampOpacity(i64 v) { return static_cast<i32>(std::clamp<i64>(v, 0, 256)); }

// ---- Blits, cross-fade, rule, difference ------------------------------------------------------------

i32 LayerBlit(LayerEditLine* line, bool both) {
  const LayerRecord* a = line->recs[0];
  LayerRecord* o = line->recs[1];
  const i32 op_a = ClampOpacity(a->opacity), op_o = ClampOpacity(o->opacity);
  if (!both && op_a == 0) return 0;
  o->has_alpha = 1;
  LayerMarkDirty(line->nodes[1]);
  if (!LayerHasPixels(a) || !LayerHasPixels(o) || !LayerBlitClip(o, a, line->x1, line->y1)) return 0;
  std::vector<u8> keep;
  const u8* ap = InputPixels(a, o, &keep);
  const BlitRect b = g_BlitRect;
  const i32 bytes = b.width * 4;
  for (i32 r = 0; r < b.height; r++) {
    u8* d = RowOut(o, b.dst_x, b.dst_y + r);
    const u8* s = Row(ap, a, b.src_x, b.src_y + r);
    if (!both) {
      if (op_a == 256) g_PixelKernels.over(d, s, bytes);
      else g_PixelKernels.over_opacity(d, s, op_a, bytes);
    } else if (op_a == 256) {
      g_PixelKernels.over_dst_scaled(d, s, op_o, bytes);
    } else {
      g_PixelKernels.over_dst_scaled_opacity(d, s, op_o, op_a, bytes);
    }
  }
  LayerMarkDirty(line->nodes[1]);
  return 0;
}

i32 LayerCrossFade(LayerEditLine* line) {
  const LayerRecord* a = line->recs[0];
  const LayerRecord* b = line->recs[1];
  LayerRecord* o = line->recs[2];
  if (!LayerHasPixels(a) || !LayerHasPixels(b) || !LayerHasPixels(o)) return 0;
  o->has_alpha = 1;
  LayerMarkDirty(line->nodes[2]);
  if (!LayerBlitClip(o, a, line->x1, line->y1) || !ClipToInput(b)) return 0;
  const i32 weight = ClampOpacity(std::min<i64>(line->value, 255) + 1);
  std::vector<u8> keep_a, keep_b;
  const u8* ap = InputPixels(a, o, &keep_a);
  const u8* bp = InputPixels(b, o, &keep_b);
  const BlitRect r = g_BlitRect;
  for (i32 y = 0; y < r.height; y++)
    g_PixelKernels.cross_fade(RowOut(o, r.dst_x, r.dst_y + y), Row(ap, a, r.src_x, r.src_y + y),
                              Row(bp, b, r.src_x, r.src_y + y), weight, r.width * 4);
  LayerMarkDirty(line->nodes[2]);
  return 0;
}

// The four bytes of a pixel in the four 16-bit lanes of a 64-bit word: B and R low, G and A high.
static inline u64 Spread(u32 p) { return (p & 0x00FF00FFu) | (static_cast<u64>(p & 0xFF00FF00u) << 24); }
static inline u32 Gather(u64 v) {
  return static_cast<u32>(v & 0x00FF00FFu) | static_cast<u32>((v >> 24) & 0xFF00FF00u);
}

// The rule's weights in the form the row kernel uses, made once per transition: per mask byte
// the usable weight w (0 where g_MaskWeights gives less than 2), and 2 * w in each of four 16-bit
// words, ready to scale the four bytes of a pixel.
struct RuleWeights {
  u64 w4[256];
  u16 w[256];
};

static void RuleWeightsMake(RuleWeights* t) {
  for (i32 i = 0; i < 256; i++) {
    const i32 wm = g_MaskWeights[i];
    const u16 w = static_cast<u16>(wm < 2 ? 0 : std::min(wm, 256));
    t->w[i] = w;
    t->w4[i] = 0x0001000100010001ull * static_cast<u64>(2 * w);
  }
}

// X - floor((X - Y) * w / 256) is ceil((X * (256 - w) + Y * w) / 256): no lane passes 16 bits.
// Weight 0 gives X exactly, so a weight below 2 needs no branch of its own.
static inline void RulePixel(u8* out, const u8* a, const u8* b, u64 w) {
  const u64 round = 0x00FF00FF00FF00FFull;
  u32 bp, ap;
  std::memcpy(&bp, b, 4);
  std::memcpy(&ap, a, 4);
  const u32 r = Gather(((Spread(bp) * (256 - w) + Spread(ap) * w + round) >> 8) & round);
  std::memcpy(out, &r, 4);
}

static void RuleRowWith(const RuleWeights& t, u8* out, const u8* a, const u8* b, const u8* mask, i32 pixels) {
  i32 i = 0;
#if defined(__SSE2__)
  // Four pixels a step in 16-bit lanes: X - ((X - Y) * 128 * 2w >> 16), the product's high word
  // being floor((X - Y) * w / 256) exactly ((X - Y) * 128 and 2w both fit 16 signed bits).
  const __m128i z = _mm_setzero_si128();
  for (; i + 4 <= pixels; i += 4) {
    const u8* m = mask + i * 4;
    const __m128i w_lo = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(&t.w4[m[0]])),
                                            _mm_loadl_epi64(reinterpret_cast<const __m128i*>(&t.w4[m[4]])));
    const __m128i w_hi = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(&t.w4[m[8]])),
                                            _mm_loadl_epi64(reinterpret_cast<const __m128i*>(&t.w4[m[12]])));
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i * 4));
    const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i * 4));
    const __m128i x_lo = _mm_unpacklo_epi8(x, z), x_hi = _mm_unpackhi_epi8(x, z);
    const __m128i d_lo = _mm_slli_epi16(_mm_sub_epi16(x_lo, _mm_unpacklo_epi8(y, z)), 7);
    const __m128i d_hi = _mm_slli_epi16(_mm_sub_epi16(x_hi, _mm_unpackhi_epi8(y, z)), 7);
    const __m128i r_lo = _mm_sub_epi16(x_lo, _mm_mulhi_epi16(d_lo, w_lo));
    const __m128i r_hi = _mm_sub_epi16(x_hi, _mm_mulhi_epi16(d_hi, w_hi));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i * 4), _mm_packus_epi16(r_lo, r_hi));
  }
#endif
  for (; i < pixels; i++) RulePixel(out + i * 4, a + i * 4, b + i * 4, t.w[mask[i * 4]]);
}

void LayerRuleRow(u8* out, const u8* a, const u8* b, const u8* mask, i32 pixels) {
  RuleWeights t;
  RuleWeightsMake(&t);
  RuleRowWith(t, out, a, b, mask, pixels);
}

i32 LayerRuleTransition(LayerEditLine* line) {
  const LayerRecord* a = line->recs[0];
  const LayerRecord* b = line->recs[1];
  const LayerRecord* m = line->recs[2];
  LayerRecord* o = line->recs[3];
  if (!LayerHasPixels(a) || !LayerHasPixels(b) || !LayerHasPixels(m) || !LayerHasPixels(o)) return 0;
  o->has_alpha = 1;
  LayerMarkDirty(line->nodes[3]);
  if (!LayerBlitClip(o, a, line->x1, line->y1) || !ClipToInput(b) || !ClipToInput(m)) return 0;
  // Value and softness as 32-bit numbers; p above 256 (a negative value) shows A as 256 does.
  const i64 v = std::clamp<i64>(line->value, INT32_MIN, INT32_MAX);
  const i64 soft = std::clamp<i64>(line->value2, INT32_MIN, INT32_MAX);
  const i64 p = 256 - std::min<i64>(v, 255);
  std::vector<u8> keep_a, keep_b, keep_m;
  const u8* ap = InputPixels(a, o, &keep_a);
  const u8* bp = InputPixels(b, o, &keep_b);
  const u8* mp = InputPixels(m, o, &keep_m);
  const BlitRect r = g_BlitRect;
  RuleWeights weights{};
  if (p >= 2 && p != 256) {  // a negative value weighs past 256 too
    BlendBuildRuleWeights(p, static_cast<i32>(soft));
    RuleWeightsMake(&weights);
  }
  for (i32 y = 0; y < r.height; y++) {
    u8* d = RowOut(o, r.dst_x, r.dst_y + y);
    const u8* as = Row(ap, a, r.src_x, r.src_y + y);
    const u8* bs = Row(bp, b, r.src_x, r.src_y + y);
    if (p == 256) std::memmove(d, as, static_cast<size_t>(r.width) * 4);
    else if (p < 2) std::memmove(d, bs, static_cast<size_t>(r.width) * 4);
    else RuleRowWith(weights, d, as, bs, Row(mp, m, r.src_x, r.src_y + y), r.width);
  }
  LayerMarkDirty(line->nodes[3]);
  return 0;
}

i32 LayerDifference(LayerEditLine* line, bool keep_equal) {
  const LayerRecord* a = line->recs[0];
  LayerRecord* o = line->recs[1];
  o->has_alpha = 1;
  LayerMarkDirty(line->nodes[1]);
  if (!LayerHasPixels(a) || !LayerHasPixels(o) || !LayerBlitClip(o, a, line->x1, line->y1)) return 0;
  std::vector<u8> keep;
  const u8* ap = InputPixels(a, o, &keep);
  const BlitRect r = g_BlitRect;
  for (i32 y = 0; y < r.height; y++) {
    u8* d = RowOut(o, r.dst_x, r.dst_y + y);
    const u8* s = Row(ap, a, r.src_x, r.src_y + y);
    for (i32 x = 0; x < r.width; x++) {
      u32 dv, sv;
      std::memcpy(&dv, d + x * 4, 4);
      std::memcpy(&sv, s + x * 4, 4);
      const u32 v = (dv == sv) == keep_equal ? sv : 0;
      std::memcpy(d + x * 4, &v, 4);
    }
  }
  LayerMarkDirty(line->nodes[1]);
  return 0;
}

// ---- Trim and canvas -----------------------------------------------------------------------------

// A new w x h buffer (w and h at least 1) with its spare bytes cleared; null after the size
// message and 100010, or 104030.
static u8* NewPicture(i64 w, i64 h, const char* name) {
  if (w > IMAGE_MAX_SIZE) {
    ImageRaiseTooLarge(static_cast<i32>(std::min<i64>(w, INT32_MAX)), static_cast<i32>(std::min<i64>(h, INT32_MAX)));
    return nullptr;
  }
  u8* p = h <= INT32_MAX ? static_cast<u8*>(std::malloc(ImagePixelBytes(static_cast<i32>(w), static_cast<i32>(h))))
                         : nullptr;
  if (!p) {
    ErrRaiseAtScriptF(ERR_FILE_READ_NOMEM, 1, name ? name : "");
    return nullptr;
  }
  std::memset(p + static_cast<size_t>(w) * static_cast<size_t>(h) * 4, 0, static_cast<size_t>(w) * 4 + 4);
  return p;
}

static void InstallPicture(ObjNode* node, u8* pixels, i32 w, i32 h, u8 has_alpha) {
  LayerRecord* r = LayerOf(node);
  if (r->pixels != pixels) std::free(r->pixels);
  r->pixels = pixels;
  r->width = w;
  r->height = h;
  r->has_alpha = has_alpha;
  LayerMarkDirty(node);
}

i32 LayerTrim(LayerEditLine* line) {
  const LayerRecord* a = line->recs[0];
  if (!LayerHasPixels(a)) return 0;
  ObjNode* out_node = line->nodes[1] ? line->nodes[1] : line->nodes[0];
  LayerRecord* o = LayerOf(out_node);
  i64 top = a->height, bottom = -1, left = a->width, right = -1;
  for (i64 y = 0; y < a->height; y++) {
    const u8* p = a->pixels + y * a->width * 4;
    for (i64 x = 0; x < a->width; x++)
      if (p[x * 4 + 3]) {
        top = std::min(top, y);
        bottom = y;
        left = std::min(left, x);
        right = std::max(right, x);
      }
  }
  const i64 bits = line->value;
  const bool none = bottom < 0;  // nothing visible: the picture stays as it is
  top = none || !(bits & 8) ? 0 : top;
  bottom = none || !(bits & 4) ? a->height - 1 : bottom;
  left = none || !(bits & 2) ? 0 : left;
  right = none || !(bits & 1) ? a->width - 1 : right;
  const i32 w = static_cast<i32>(right - left + 1), h = static_cast<i32>(bottom - top + 1);
  LayerMarkDirty(out_node);
  const bool reuse = o != a && LayerHasPixels(o) && o->pixels != a->pixels && o->width == w && o->height == h;
  u8* buf = reuse ? o->pixels : NewPicture(w, h, out_node->name);
  if (!buf) return -1;
  for (i64 y = 0; y < h; y++)
    std::memmove(buf + y * w * 4, a->pixels + ((top + y) * a->width + left) * 4, static_cast<size_t>(w) * 4);
  InstallPicture(out_node, buf, w, h, a->has_alpha);
  return 0;
}

void LayerCanvasCopy(u8* dst, i32 dw, i32 dh, const u8* src, i32 sw, i32 sh, i64 left, i64 top) {
  const i64 x0 = std::max<i64>(left, 0), x1 = std::min<i64>(left + sw, dw);
  const i64 y0 = std::max<i64>(top, 0), y1 = std::min<i64>(top + sh, dh);
  if (x0 >= x1) return;
  for (i64 y = y0; y < y1; y++)
    std::memcpy(dst + (y * dw + x0) * 4, src + ((y - top) * sw + (x0 - left)) * 4, static_cast<size_t>(x1 - x0) * 4);
}

i32 LayerCanvas(LayerEditLine* line) {
  const LayerRecord* a = line->recs[0];
  if (!LayerHasPixels(a)) return 0;
  const i64 left = LayerClampPos(line->x1), right = LayerClampPos(line->x2);
  const i64 top = LayerClampPos(line->y1), bottom = LayerClampPos(line->y2);
  const i64 w = left + a->width + right, h = top + a->height + bottom;
  if (w < 1 || h < 1) {
    ErrMessageBoxF("", PlatUtf8ToSjis(kCanvasSizeUtf8).c_str());
    return -1;
  }
  ObjNode* out_node = line->nodes[1] ? line->nodes[1] : line->nodes[0];
  u8* buf = NewPicture(w, h, out_node->name);
  if (!buf) return -1;
  const size_t pixels = static_cast<size_t>(w) * static_cast<size_t>(h);
  for (size_t i = 0; i < pixels; i++) std::memcpy(buf + i * 4, &g_ImageFillColour, 4);
  LayerCanvasCopy(buf, static_cast<i32>(w), static_cast<i32>(h), a->pixels, a->width, a->height, left, top);
  const u8 has_alpha = left > 0 || right > 0 || top > 0 || bottom > 0 ? 1 : a->has_alpha;
  LayerMarkDirty(out_node);
  InstallPicture(out_node, buf, static_cast<i32>(w), static_cast<i32>(h), has_alpha);
  return 0;
}

// ---- Text ----------------------------------------------------------------------------------------

i32 LayerDrawText(LayerEditLine* line) {
  if (!ArgGiven(EDIT_P_TEXT)) return -1;
  const char* text = ArgStr(EDIT_P_TEXT);
  LayerRecord* r = line->recs[0];
  if (!text || !text[0] || !LayerHasPixels(r)) return 0;
  const FontSlot& f = g_FontSlots[g_FontCurrentSlot];
  // Beyond 2^20 either way a glyph lies outside every picture; the limit keeps the sums in range.
  const i64 far = i64{1} << 20;
  i64 pen = std::clamp<i64>(ArgInt(EDIT_P_X1), -far, far);
  const i32 y = static_cast<i32>(std::clamp<i64>(line->y1, -far, far));
  const i32 copy_mode = static_cast<i32>(std::clamp<i64>(line->value, INT32_MIN, INT32_MAX));
  GlyphCanvas canvas = GlyphCanvasMake(r->pixels, r->width, r->height, r->width * 4);
  for (const char* p = text; *p;) {
    const size_t n = SjisCharLen(p);
    char ch[3] = {p[0], n == 2 ? p[1] : '\0', '\0'};
    const i32 advance =
        TextDrawGlyph(ch, f.colour, f.second_colour, f.gradient_mode, f.orientation, f.glyph_width, f.glyph_height,
                      f.bold, f.smooth, copy_mode, static_cast<i32>(pen), y, f.ink_only, &canvas);
    pen = std::clamp<i64>(pen + advance, -far, far);
    p += n;
  }
  if (canvas.has_alpha) r->has_alpha = 1;
  LayerMarkDirty(line->nodes[0]);
  return 0;
}

// ---- The operations by parameter -------------------------------------------------------------------

// Effect code and fill mode of each effect parameter.
struct FxParam {
  u8 param;
  u8 code;
  u8 mode;
};
static const FxParam kFxParams[] = {
    {31, FX_SATURATION, 0}, {32, FX_BALANCE, 0},        {33, FX_SEPIA, 0},    {42, FX_BRIGHTNESS, 0},
    {43, FX_THRESHOLD, 0},  {44, FX_FLIP, 0},           {45, FX_MIRROR, 0},   {46, FX_MOSAIC, 0},
    {47, FX_BLUR, 0},       {48, FX_BLUR_H, 0},         {49, FX_BLUR_V, 0},   {50, FX_BLUR_FAST, 0},
    {51, FX_SHADOW, 0},     {52, FX_BLUR_OR_SHADOW, 0}, {53, FX_SCATTER, 0},  {54, FX_WAVE_H, 0},
    {55, FX_WAVE_V, 0},     {56, FX_WAVE, 0},           {57, FX_NEGATIVE, 0}, {58, FX_FILL, 1},
    {59, FX_FILL, 2},       {60, FX_FILL, 3},           {61, FX_SWIRL, 0},    {64, FX_COPY_SETTINGS, 0},
    {65, FX_COPY, 0},
};

i32 LayerEditOperation(u8 param, LayerEditLine* line) {
  for (const FxParam& f : kFxParams)
    if (f.param == param)
      return FxDispatch(f.code, line->nodes[0], line->nodes[1], line->x1, line->y1, line->x2, line->y2, line->value,
                        line->value2, line->nodes[1] != nullptr, f.mode);
  switch (param) {
    case EDIT_P_DRAW_TEXT: return LayerDrawText(line);
    case 34: return LayerBlit(line, false);
    case 35: return LayerBlit(line, true);
    case 36: return LayerCrossFade(line);
    case 37: return LayerRuleTransition(line);
    case 38: return LayerDifference(line, false);
    case 39: return LayerDifference(line, true);
    case 40: return LayerTrim(line);
    case 41: return LayerCanvas(line);
    case 66: return LayerSwap(line->nodes[0], line->nodes[1], LAYER_SWAP_POSITION);
    case 67: return LayerSwap(line->nodes[0], line->nodes[1], LAYER_SWAP_APPEARANCE);
    case 68:
      HookCall(g_HookGpuPasteSprite, line->nodes[0], line->nodes[1]);
      g_D3dRedraw = 1;
      return 0;
    case 69: HookCall(g_HookGpuSnapshotLayer, line->nodes[0], line->nodes[1]); return 0;
    default: return 0;
  }
}
