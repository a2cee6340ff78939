// Layout, labels and text for the engine's own menus and dialogs. Glyphs come from one shared
// IPA Gothic font and are cached by code point under s_GlyphMutex, so any thread may measure.
#include "platform/ui.h"

#include <algorithm>
#include <mutex>
#include <unordered_map>

#include "platform/font.h"

// ---- Labels ----------------------------------------------------------------------------------

std::u32string PlatUiDecodeUtf8(const std::string& s) {
  std::u32string out;
  const u8* p = reinterpret_cast<const u8*>(s.data());
  const size_t n = s.size();
  for (size_t i = 0; i < n;) {
    u32 c = p[i];
    size_t len = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
    if (len == 0 || i + len > n) {
      out.push_back(0xFFFD);
      i++;
      continue;
    }
    u32 cp = len == 1 ? c : len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
    bool ok = true;
    for (size_t k = 1; k < len; k++) {
      if ((p[i + k] & 0xC0) != 0x80) ok = false;
      cp = cp << 6 | (p[i + k] & 0x3Fu);
    }
    if (!ok) {
      out.push_back(0xFFFD);
      i++;
      continue;
    }
    out.push_back(static_cast<char32_t>(cp));
    i += len;
  }
  return out;
}

PlatUiLabel PlatUiParseLabel(const std::string& utf8) {
  PlatUiLabel l{{}, {}, -1};
  std::u32string t = PlatUiDecodeUtf8(utf8);
  std::u32string* col = &l.left;
  for (size_t i = 0; i < t.size(); i++) {
    char32_t c = t[i];
    if (c == U'\t' && col == &l.left) {
      col = &l.right;
      continue;
    }
    if (c == U'&') {
      if (i + 1 >= t.size()) break;
      if (t[i + 1] == U'&') {
        col->push_back(U'&');
        i++;
        continue;
      }
      if (col == &l.left && l.underline < 0) l.underline = static_cast<i32>(l.left.size());
      continue;
    }
    col->push_back(c);
  }
  if (l.underline >= static_cast<i32>(l.left.size())) l.underline = -1;
  return l;
}

// ---- Font and glyphs ---------------------------------------------------------------------------

enum { UI_FONT_CELL = 13 };  // IPA Gothic's Windows cell at 12 pixels a em

static std::mutex s_GlyphMutex;
static PlatFont* s_Font = nullptr;
static bool s_FontTried = false;
static std::unordered_map<char32_t, PlatGlyph>* s_Glyphs = nullptr;

// The cached glyph (lock held); null without a font.
static const PlatGlyph* Glyph(char32_t c) {
  if (!s_FontTried) {
    s_FontTried = true;
    s_Font = PlatFontCreate("IPAGothic", UI_FONT_CELL, 400);
    s_Glyphs = new std::unordered_map<char32_t, PlatGlyph>;
  }
  if (!s_Font) return nullptr;
  auto it = s_Glyphs->find(c);
  if (it != s_Glyphs->end()) return &it->second;
  PlatGlyph g;
  PlatFontGlyphGray(s_Font, static_cast<u32>(c), &g);
  return &s_Glyphs->emplace(c, std::move(g)).first->second;
}

static i32 Ascent() {
  PlatFontMetrics m{};
  if (s_Font) PlatFontGetMetrics(s_Font, &m);
  return m.ascent;
}

i32 PlatUiLineHeight() {
  std::lock_guard<std::mutex> g(s_GlyphMutex);
  Glyph(U' ');
  if (!s_Font) return 0;
  PlatFontMetrics m{};
  PlatFontGetMetrics(s_Font, &m);
  return m.ascent + m.descent;
}

i32 PlatUiAdvance(char32_t c) {
  std::lock_guard<std::mutex> g(s_GlyphMutex);
  const PlatGlyph* gl = Glyph(c);
  return gl ? gl->advance : 0;
}

i32 PlatUiTextWidth(const std::u32string& text) {
  std::lock_guard<std::mutex> g(s_GlyphMutex);
  i32 w = 0;
  for (char32_t c : text)
    if (const PlatGlyph* gl = Glyph(c)) w += gl->advance;
  return w;
}

// East Asian text may break between any two characters; Latin text only after a blank.
static bool BreaksAround(char32_t c) { return c >= 0x2E80; }

static void TrimBlanks(std::u32string* line) {
  while (!line->empty() && line->back() == U' ') line->pop_back();
}

std::vector<std::u32string> PlatUiWrap(const std::u32string& text, i32 max_width, i32 (*advance)(char32_t c)) {
  std::vector<std::u32string> lines(1);
  i32 x = 0;
  size_t cut = 0;  // where the last line may break at the latest: the start of its last word
  for (size_t i = 0; i < text.size(); i++) {
    char32_t c = text[i];
    if (c == U'\r' && i + 1 < text.size() && text[i + 1] == U'\n') continue;
    if (c == U'\n' || c == U'\r') {
      lines.emplace_back();
      x = 0;
      cut = 0;
      continue;
    }
    std::u32string& line = lines.back();
    const i32 a = advance(c);
    const bool boundary = !line.empty() && (line.back() == U' ' || BreaksAround(line.back()) || BreaksAround(c));
    if (x + a > max_width && !line.empty()) {
      if (c == U' ') {  // a blank at the edge ends the line unseen
        TrimBlanks(&line);
        lines.emplace_back();
        x = 0;
        cut = 0;
        continue;
      }
      std::u32string rest;
      if (!boundary && cut > 0) rest = line.substr(cut), line.erase(cut);  // the word moves down whole
      TrimBlanks(&line);
      lines.push_back(std::move(rest));
      x = 0;
      for (char32_t r : lines.back()) x += advance(r);
      cut = 0;
    } else if (boundary) {
      cut = line.size();
    }
    lines.back().push_back(c);
    x += a;
  }
  return lines;
}

// ---- Canvas ------------------------------------------------------------------------------------

void PlatUiCanvasInit(PlatUiCanvas* c, i32 width, i32 height, u32 color) {
  c->width = std::max(width, 0);
  c->height = std::max(height, 0);
  c->px.assign(static_cast<size_t>(c->width) * c->height, color);
}

static PlatRect Clip(const PlatUiCanvas* c, const PlatRect& r) {
  return {std::max(r.left, 0), std::max(r.top, 0), std::min(r.right, c->width), std::min(r.bottom, c->height)};
}

void PlatUiFill(PlatUiCanvas* c, const PlatRect& r, u32 color) {
  PlatRect k = Clip(c, r);
  for (i32 y = k.top; y < k.bottom; y++)
    std::fill(c->px.begin() + static_cast<ptrdiff_t>(y) * c->width + k.left,
              c->px.begin() + static_cast<ptrdiff_t>(y) * c->width + k.right, color);
}

void PlatUiOutline(PlatUiCanvas* c, const PlatRect& r, u32 color) {
  if (r.right <= r.left || r.bottom <= r.top) return;
  PlatUiFill(c, {r.left, r.top, r.right, r.top + 1}, color);
  PlatUiFill(c, {r.left, r.bottom - 1, r.right, r.bottom}, color);
  PlatUiFill(c, {r.left, r.top, r.left + 1, r.bottom}, color);
  PlatUiFill(c, {r.right - 1, r.top, r.right, r.bottom}, color);
}

static u32 Blend(u32 dst, u32 src, u32 a) {
  u32 out = 0;
  for (int sh = 0; sh <= 16; sh += 8) {
    u32 d = (dst >> sh) & 0xFF, s = (src >> sh) & 0xFF;
    out |= ((s * a + d * (255 - a) + 127) / 255) << sh;
  }
  return out;
}

void PlatUiDrawText(PlatUiCanvas* c, i32 x, i32 y, const std::u32string& text, u32 color, i32 underline,
                    const PlatRect& clip) {
  PlatRect k = Clip(c, clip);
  std::lock_guard<std::mutex> g(s_GlyphMutex);
  Glyph(U' ');
  const i32 base = y + Ascent();
  i32 pen = x;
  for (size_t i = 0; i < text.size(); i++) {
    const PlatGlyph* gl = Glyph(text[i]);
    if (!gl) return;
    for (i32 gy = 0; gy < gl->height; gy++) {
      i32 py = base - gl->top + gy;
      if (py < k.top || py >= k.bottom) continue;
      for (i32 gx = 0; gx < gl->width; gx++) {
        i32 px = pen + gl->left + gx;
        u8 a = gl->coverage[static_cast<size_t>(gy) * gl->width + gx];
        if (!a || px < k.left || px >= k.right) continue;
        u32& d = c->px[static_cast<size_t>(py) * c->width + px];
        d = Blend(d, color, a);
      }
    }
    if (static_cast<i32>(i) == underline && base + 1 >= k.top && base + 1 < k.bottom)
      for (i32 ux = std::max(pen, k.left); ux < std::min(pen + gl->advance, k.right); ux++)
        c->px[static_cast<size_t>(base + 1) * c->width + ux] = color;
    pen += gl->advance;
  }
}

// ---- Hit tests ---------------------------------------------------------------------------------

bool PlatUiInside(const PlatRect& r, i32 x, i32 y) { return x >= r.left && x < r.right && y >= r.top && y < r.bottom; }

i32 PlatUiHitTest(const std::vector<PlatRect>& rects, i32 x, i32 y) {
  for (size_t i = 0; i < rects.size(); i++)
    if (PlatUiInside(rects[i], x, y)) return static_cast<i32>(i);
  return -1;
}

// ---- Dialog layout -----------------------------------------------------------------------------

PlatUiDialogLayout PlatUiLayoutDialog(const PlatUiDialogSpec& spec) {
  PlatUiDialogLayout l{};
  const i32 m = UI_DIALOG_MARGIN;
  const i32 lh = std::max(spec.line_height, 1);
  i32 buttons_width = 0;
  std::vector<i32> widths;
  for (i32 w : spec.label_widths) {
    widths.push_back(std::max<i32>(UI_BUTTON_MIN_WIDTH, w + 16));
    buttons_width += widths.back();
  }
  if (!widths.empty()) buttons_width += UI_BUTTON_GAP * static_cast<i32>(widths.size() - 1);
  const i32 edit_height = lh + 8;
  const i32 band_height = UI_BUTTON_HEIGHT + 2 * m - 2;
  const i32 icon_side = spec.icon ? i32{UI_ICON_SIZE} : 0;
  const i32 icon_room = spec.icon ? i32{UI_ICON_SIZE + UI_ICON_GAP} : 0;
  // Everything but the text: a text that would take the dialog past its height shows whole
  // lines of itself beside a scroll bar.
  const i32 fixed = (m + 4) + m + (spec.with_edit ? edit_height + m : 0) + band_height;
  i32 text_height = std::max(spec.text_height, 0);
  const bool scrolls = spec.max_height > 0 && fixed + std::max(text_height, icon_side) > spec.max_height &&
                       (spec.max_height - fixed) / lh < (text_height + lh - 1) / lh;
  if (scrolls) {
    l.visible_lines = std::max(1, (spec.max_height - fixed) / lh);
    text_height = l.visible_lines * lh;
  }
  const i32 text_room = spec.text_width + (scrolls ? UI_SCROLLBAR_GAP + UI_SCROLLBAR_WIDTH : 0);
  const i32 inner = std::max({icon_room + text_room, buttons_width, spec.with_edit ? i32{UI_EDIT_WIDTH} : 0});
  l.width = std::max({i32{UI_DIALOG_MIN_WIDTH}, inner + 2 * m, spec.min_width});
  i32 y = m + 4;
  const i32 content = std::max(text_height, icon_side);
  if (spec.icon) l.icon = {m, y, m + icon_side, y + icon_side};
  // A text shorter than the icon stands at the icon's middle.
  const i32 ty = y + (content - text_height) / 2;
  l.text = {m + icon_room, ty, m + icon_room + spec.text_width, ty + text_height};
  if (scrolls) l.scrollbar = {l.text.right + UI_SCROLLBAR_GAP, ty, l.text.right + UI_SCROLLBAR_GAP + UI_SCROLLBAR_WIDTH,
                              ty + text_height};
  y += content + m;
  if (spec.with_edit) {
    l.edit = {m, y, l.width - m, y + edit_height};
    y += edit_height + m;
  }
  l.band = {0, y, l.width, y + band_height};
  l.height = y + band_height;
  i32 x = l.width - m - buttons_width;
  const i32 by = y + (band_height - UI_BUTTON_HEIGHT) / 2;
  for (i32 w : widths) {
    l.buttons.push_back({x, by, x + w, by + UI_BUTTON_HEIGHT});
    x += w + UI_BUTTON_GAP;
  }
  return l;
}

PlatRect PlatUiScrollThumb(const PlatRect& bar, i32 total, i32 visible, i32 first) {
  const i64 track = bar.bottom - bar.top;
  if (total <= visible || visible <= 0 || track <= 0) return bar;
  const i64 len = std::clamp<i64>(track * visible / total, std::min<i64>(UI_SCROLL_THUMB_MIN, track), track);
  const i64 range = track - len;
  const i64 f = std::clamp<i64>(first, 0, total - visible);
  const i32 top = bar.top + static_cast<i32>(f * range / (total - visible));
  return {bar.left, top, bar.right, top + static_cast<i32>(len)};
}

i32 PlatUiScrollFirstAt(const PlatRect& bar, i32 total, i32 visible, i32 thumb_top) {
  if (total <= visible || visible <= 0) return 0;
  const PlatRect t = PlatUiScrollThumb(bar, total, visible, 0);
  const i64 range = (bar.bottom - bar.top) - (t.bottom - t.top);
  if (range <= 0) return 0;
  const i64 pos = std::clamp<i64>(i64{thumb_top} - bar.top, 0, range);
  return static_cast<i32>((pos * (total - visible) + range / 2) / range);
}

// ---- Icons -------------------------------------------------------------------------------------

namespace {

struct Pt {
  float x, y;
};

bool InDisc(Pt p, float cx, float cy, float r) { return (p.x - cx) * (p.x - cx) + (p.y - cy) * (p.y - cy) <= r * r; }

// Within hw of the segment from a to b: a stroke with round ends.
bool OnStroke(Pt p, Pt a, Pt b, float hw) {
  const float dx = b.x - a.x, dy = b.y - a.y;
  const float len2 = dx * dx + dy * dy;
  float t = len2 > 0 ? ((p.x - a.x) * dx + (p.y - a.y) * dy) / len2 : 0;
  t = std::clamp(t, 0.0f, 1.0f);
  const float ex = a.x + t * dx - p.x, ey = a.y + t * dy - p.y;
  return ex * ex + ey * ey <= hw * hw;
}

bool InTriangle(Pt p, Pt a, Pt b, Pt c) {
  auto side = [](Pt u, Pt v, Pt q) { return (v.x - u.x) * (q.y - u.y) - (v.y - u.y) * (q.x - u.x); };
  const float d1 = side(a, b, p), d2 = side(b, c, p), d3 = side(c, a, p);
  return !((d1 < 0 || d2 < 0 || d3 < 0) && (d1 > 0 || d2 > 0 || d3 > 0));
}

// The question mark's hook: the upper part of a ring, its right side running on down into a
// stroke to the stem.
bool InQuestionMark(Pt p) {
  const float cx = 16, cy = 12.5f;
  const float d2 = (p.x - cx) * (p.x - cx) + (p.y - cy) * (p.y - cy);
  const bool ring = d2 >= 3.3f * 3.3f && d2 <= 7.3f * 7.3f && (p.y <= cy || (p.x >= cx + 2 && p.y <= cy + 3));
  return ring || OnStroke(p, {20.6f, 16.4f}, {16, 19}, 2) || OnStroke(p, {16, 19}, {16, 20.5f}, 2) ||
         InDisc(p, 16, 25, 2.2f);
}

// What a point of the icon shows: 0 nothing, 1 the body, 2 the mark.
int IconPart(int kind, Pt p) {
  switch (kind) {
    case UI_ICON_WARNING: {
      if (!InTriangle(p, {16, 2.5f}, {30.5f, 28.5f}, {1.5f, 28.5f})) return 0;
      return OnStroke(p, {16, 11}, {16, 19.5f}, 1.8f) || InDisc(p, 16, 24, 1.9f) ? 2 : 1;
    }
    case UI_ICON_ERROR:
    case UI_ICON_QUESTION:
    case UI_ICON_INFO: {
      if (!InDisc(p, 16, 16, 15)) return 0;
      bool mark = false;
      if (kind == UI_ICON_ERROR) mark = OnStroke(p, {10.5f, 10.5f}, {21.5f, 21.5f}, 2) || OnStroke(p, {21.5f, 10.5f}, {10.5f, 21.5f}, 2);
      if (kind == UI_ICON_INFO) mark = InDisc(p, 16, 9.5f, 2.3f) || OnStroke(p, {16, 14.5f}, {16, 23.5f}, 2);
      if (kind == UI_ICON_QUESTION) mark = InQuestionMark(p);
      return mark ? 2 : 1;
    }
  }
  return 0;
}

}  // namespace

void PlatUiDrawIcon(PlatUiCanvas* c, i32 x, i32 y, i32 kind) {
  if (kind < UI_ICON_ERROR || kind > UI_ICON_INFO) return;
  const u32 body = kind == UI_ICON_ERROR ? u32{UI_COLOR_ICON_ERROR}
                   : kind == UI_ICON_WARNING ? u32{UI_COLOR_ICON_WARNING}
                                             : u32{UI_COLOR_ICON_BLUE};
  const u32 mark = kind == UI_ICON_WARNING ? u32{UI_COLOR_ICON_WARN_MARK} : u32{UI_COLOR_ICON_MARK};
  const int SAMPLES = 4;  // per side: 16 samples a pixel, averaged below
  const float step = 1.0f / SAMPLES;
  for (i32 py = 0; py < UI_ICON_SIZE; py++) {
    const i32 cy = y + py;
    if (cy < 0 || cy >= c->height) continue;
    for (i32 px = 0; px < UI_ICON_SIZE; px++) {
      const i32 cx = x + px;
      if (cx < 0 || cx >= c->width) continue;
      u32& d = c->px[static_cast<size_t>(cy) * c->width + cx];
      u32 sum[3] = {0, 0, 0};
      for (int sy = 0; sy < SAMPLES; sy++)
        for (int sx = 0; sx < SAMPLES; sx++) {
          const Pt p{static_cast<float>(px) + (static_cast<float>(sx) + 0.5f) * step,
                     static_cast<float>(py) + (static_cast<float>(sy) + 0.5f) * step};
          const int part = IconPart(kind, p);
          const u32 v = part == 2 ? mark : part == 1 ? body : d;
          for (int k = 0; k < 3; k++) sum[k] += (v >> (8 * k)) & 0xFF;
        }
      u32 out = 0;
      for (int k = 0; k < 3; k++) out |= ((sum[k] + 8) / 16) << (8 * k);
      d = out;
    }
  }
}

// ---- Menu layout -------------------------------------------------------------------------------

PlatUiMenuLayout PlatUiLayoutMenu(const std::vector<PlatUiMenuEntry>& entries) {
  PlatUiMenuLayout l{};
  i32 left = 0, right = 0;
  for (const PlatUiMenuEntry& e : entries) {
    if (e.separator) continue;
    left = std::max(left, e.left_width);
    right = std::max(right, e.right_width);
  }
  i32 inner = UI_MENU_CHECK_WIDTH + left + (right > 0 ? UI_MENU_COLUMN_GAP + right : 0) + UI_MENU_ARROW_WIDTH;
  inner = std::max<i32>(inner, 80);
  const i32 b = UI_MENU_BORDER;
  i32 y = b;
  for (const PlatUiMenuEntry& e : entries) {
    i32 h = e.separator ? UI_MENU_SEPARATOR_HEIGHT : UI_MENU_ITEM_HEIGHT;
    l.items.push_back({b, y, b + inner, y + h});
    y += h;
  }
  l.width = inner + 2 * b;
  l.height = y + b;
  l.right_column = b + inner - UI_MENU_ARROW_WIDTH;
  return l;
}

std::vector<PlatRect> PlatUiLayoutBar(const std::vector<i32>& text_widths) {
  std::vector<PlatRect> r;
  i32 x = 0;
  for (i32 w : text_widths) {
    i32 iw = w + 2 * UI_MENU_BAR_PAD;
    r.push_back({x, 0, x + iw, UI_MENU_BAR_HEIGHT});
    x += iw;
  }
  return r;
}

void PlatUiPlaceMenu(i32 x, i32 y, i32 alt_x, i32 alt_y, i32 width, i32 height, const PlatRect& area, i32* out_x,
                     i32* out_y) {
  i64 px = x, py = y;
  if (px + width > area.right) px = i64{alt_x} - width;
  if (py + height > area.bottom) py = i64{alt_y} - height;
  if (px + width > area.right) px = i64{area.right} - width;
  if (py + height > area.bottom) py = i64{area.bottom} - height;
  px = std::max<i64>(px, area.left);
  py = std::max<i64>(py, area.top);
  *out_x = static_cast<i32>(px);
  *out_y = static_cast<i32>(py);
}

i32 PlatUiMenuStep(const std::vector<bool>& selectable, i32 from, i32 step) {
  const i32 n = static_cast<i32>(selectable.size());
  if (n == 0) return -1;
  i32 i = from;
  if (i < 0 || i >= n) i = step > 0 ? -1 : n;
  for (i32 k = 0; k < n; k++) {
    i = ((i + step) % n + n) % n;
    if (selectable[static_cast<size_t>(i)]) return i;
  }
  return -1;
}
