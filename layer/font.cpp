// Fonts: face list, font slots, glyph tables, measuring and the font commands' bodies. The face
// list never holds more entries than its counting pass allotted, and every face or slot index
// that comes from a script or a caller is checked against the list and the eight slots.
#include "layer/font.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <list>
#include <string>
#include <unordered_map>

#include "common/sjis.h"
#include "core/err.h"
#include "platform/platform.h"

FontFaceList g_FontFaceList;
FontSlot g_FontSlots[FONT_SLOT_COUNT];
i32 g_FontCurrentSlot = 0;
u32 g_GlyphCoverage[256];
u8 g_GlyphGreyLevels[32];
i32 g_GlyphCellSize[FONT_GLYPH_MAX + 1];
FontEnumFacesFn g_FontEnumFaces = PlatFontEnumFaces;
FontCreateFn g_FontCreate = PlatFontCreate;

// Five Japanese faces, Gothic first; the platform maps them onto the installed fonts.
static const char* const kPreferredFaces[] = {
    "ＭＳ ゴシック", "ＭＳ Ｐゴシック", "MS UI Gothic", "ＭＳ 明朝", "ＭＳ Ｐ明朝",
};

static const std::string& JapaneseScriptName() {
  static const std::string name = PlatUtf8ToSjis("日本語");
  return name;
}

static FontSlot& CurrentSlot() { return g_FontSlots[g_FontCurrentSlot]; }

// Set while the listing of FontEnumInstalledLater is still owed; the first call that reads the
// list or a slot's face (or sets a face) makes it then.
static u8 s_FaceListOwed = 0;
static void FaceListNeeded();

// ---- Face list ---------------------------------------------------------------------------------

struct FontEnumState {
  i32 pass;      // 0 counting, 1 filling
  i32 seen;      // faces counted, or filled
  i32 capacity;  // entries allotted by the counting pass
};

int FontEnumProc(const char* face_name, const char* script_name, u8 pitch_and_family, void* ctx) {
  FontEnumState* st = static_cast<FontEnumState*>(ctx);
  if (st->pass == 0) {
    st->seen++;
    return 1;
  }
  // Faces installed between the two passes have no entry to go into.
  if (st->seen >= st->capacity) return 1;
  i32 i = st->seen++;
  g_FontFaceList.names[i] = face_name ? strdup(face_name) : nullptr;
  u8 script = 1;
  if (script_name && JapaneseScriptName() == script_name) script = 0;
  g_FontFaceList.script_flags[i] = script;
  static const u8 kPitch[4] = {1, 0, 1, 255};
  g_FontFaceList.pitch_flags[i] = kPitch[pitch_and_family & 3];
  return 1;
}

// ---- Finished glyph cells -----------------------------------------------------------------------

// Cells rendered before, by what decides their bits: the font maker, face, font height and
// weight, cell side and character. Most recently used first; at most kGlyphCacheCells cells and
// kGlyphCacheBytes of bits, the least recently used going first. Used on the thread that draws
// text, as the slots are. Forgotten with the face list, whose indexes the keys hold, and with the
// slots at shutdown.
struct GlyphCacheKey {
  FontCreateFn create;
  i32 face, font_height, font_weight, cell_side;
  u8 len;
  u8 ch[2];
  bool operator==(const GlyphCacheKey&) const = default;
};
struct GlyphCacheKeyHash {
  size_t operator()(const GlyphCacheKey& k) const {
    size_t h = std::hash<const void*>()(reinterpret_cast<const void*>(k.create));
    for (i64 v : {i64{k.face}, i64{k.font_height}, i64{k.font_weight}, i64{k.cell_side},
                  i64{k.len} << 16 | i64{k.ch[0]} << 8 | k.ch[1]})
      h = (h ^ static_cast<size_t>(v)) * 0x100000001B3ull;
    return h;
  }
};
struct GlyphCacheEntry {
  GlyphCacheKey key;
  u8* bits;  // cell_side * cell_side / 8 bytes
  i32 x_max, first_row;
};
enum : size_t { kGlyphCacheCells = 1024, kGlyphCacheBytes = 16u << 20 };
static std::list<GlyphCacheEntry> s_GlyphCache;
static std::unordered_map<GlyphCacheKey, std::list<GlyphCacheEntry>::iterator, GlyphCacheKeyHash> s_GlyphIndex;
static size_t s_GlyphCacheBytes = 0;

static void GlyphCacheDropLast() {
  GlyphCacheEntry& e = s_GlyphCache.back();
  s_GlyphCacheBytes -= static_cast<size_t>(e.key.cell_side) * e.key.cell_side / 8;
  s_GlyphIndex.erase(e.key);
  free(e.bits);
  s_GlyphCache.pop_back();
}

static void GlyphCacheClear() {
  while (!s_GlyphCache.empty()) GlyphCacheDropLast();
}

// The last ink column and first ink row of a cell (-1 for the row when it holds no ink).
static void CellExtent(const u8* bits, i32 side, i32* x_max, i32* first_row) {
  const i32 row_bytes = side / 8;
  *x_max = 0;
  *first_row = -1;
  for (i32 y = 0; y < side; y++) {
    const u8* row = bits + y * row_bytes;
    for (i32 b = 0; b < row_bytes; b++) {
      u32 ink = ~static_cast<u32>(row[b]) & 0xFFu;
      if (!ink) continue;
      if (*first_row < 0) *first_row = y;
      i32 col = b * 8 + 7 - std::countr_zero(ink);
      if (col > *x_max) *x_max = col;
    }
  }
}

// Fills the current slot's cell with the character (len bytes of text), from the cache or
// rendered and kept, and gives its extent.
static void RenderCell(FontSlot& s, const char* text, i32 len, i32* x_max, i32* first_row) {
  GlyphCacheKey key{g_FontCreate, s.face, s.font_height, s.font_weight, s.cell_side, static_cast<u8>(len), {0, 0}};
  for (i32 i = 0; i < len && i < 2; i++) key.ch[i] = static_cast<u8>(text[i]);
  const size_t bytes = static_cast<size_t>(s.glyph_bytes);
  auto it = s_GlyphIndex.find(key);
  if (it != s_GlyphIndex.end()) {
    s_GlyphCache.splice(s_GlyphCache.begin(), s_GlyphCache, it->second);
    const GlyphCacheEntry& e = s_GlyphCache.front();
    std::memcpy(s.glyph_bits, e.bits, bytes);
    *x_max = e.x_max;
    *first_row = e.first_row;
    return;
  }
  std::memset(s.glyph_bits, 0xFF, bytes);
  PlatFontDrawChar(s.font, text, len, s.glyph_bits, s.cell_side, s.cell_side, s.cell_side / 8);
  CellExtent(s.glyph_bits, s.cell_side, x_max, first_row);
  if (bytes > kGlyphCacheBytes / 4) return;  // too large to be worth keeping
  u8* copy = static_cast<u8*>(malloc(bytes));
  if (!copy) return;  // not kept: the cell is right all the same
  std::memcpy(copy, s.glyph_bits, bytes);
  while (!s_GlyphCache.empty() &&
         (s_GlyphCache.size() >= kGlyphCacheCells || s_GlyphCacheBytes + bytes > kGlyphCacheBytes))
    GlyphCacheDropLast();
  s_GlyphCache.push_front(GlyphCacheEntry{key, copy, *x_max, *first_row});
  s_GlyphIndex[key] = s_GlyphCache.begin();
  s_GlyphCacheBytes += bytes;
}

static void FreeFaceList() {
  GlyphCacheClear();
  for (i32 i = 0; i < g_FontFaceList.count && g_FontFaceList.names; i++) free(g_FontFaceList.names[i]);
  free(g_FontFaceList.names);
  free(g_FontFaceList.script_flags);
  free(g_FontFaceList.pitch_flags);
  g_FontFaceList = {};
}

static i32 FindFace(const char* name);

// A face by name (exact, then the platform's stand-in) for one slot; 1 when found.
static i32 SelectFaceByName(FontSlot& s, const char* name) {
  if (!name) return 0;
  i32 i = FindFace(name);
  // A Windows face name that this machine lacks selects the face standing in for it.
  if (i < 0) {
    const char* stand_in = PlatFontSubstitute(name);
    if (stand_in) i = FindFace(stand_in);
  }
  if (i < 0) return 0;
  s.face = i;
  return 1;
}

// The listing itself and every slot's face from the preference list; the slots' other fields
// and the current slot stay. 0, or -1 without memory (raised; the list is then empty).
static i32 ListFacesAndChoose() {
  FreeFaceList();
  FontEnumState st = {0, 0, 0};
  g_FontEnumFaces(FontEnumProc, &st);
  i32 counted = st.seen;
  if (counted > 0) {
    size_t n = static_cast<size_t>(counted);
    g_FontFaceList.names = static_cast<char**>(calloc(n, sizeof(char*)));
    g_FontFaceList.script_flags = static_cast<u8*>(calloc(n, 1));
    g_FontFaceList.pitch_flags = static_cast<u8*>(calloc(n, 1));
    if (!g_FontFaceList.names || !g_FontFaceList.script_flags || !g_FontFaceList.pitch_flags) {
      FreeFaceList();
      ErrRaiseF(ERR_OUT_OF_MEMORY, 1);
      return -1;
    }
    st = {1, 0, counted};
    g_FontEnumFaces(FontEnumProc, &st);
    g_FontFaceList.count = st.seen;
  }
  static std::string preferred[ZP_COUNTOF(kPreferredFaces)];
  if (preferred[0].empty())
    for (size_t i = 0; i < ZP_COUNTOF(kPreferredFaces); i++) preferred[i] = PlatUtf8ToSjis(kPreferredFaces[i]);
  for (FontSlot& slot : g_FontSlots) {
    slot.face = 0;  // a face of an earlier list may be past the end of this one
    for (const std::string& name : preferred)
      if (SelectFaceByName(slot, name.c_str())) break;
  }
  return 0;
}

i32 FontEnumInstalled() {
  s_FaceListOwed = 0;
  if (ListFacesAndChoose() != 0) return -1;
  FontSetCurrentSlot(0);
  FontInitSlots();
  return 0;
}

void FontEnumInstalledLater() {
  FreeFaceList();
  for (FontSlot& slot : g_FontSlots) slot.face = 0;
  FontSetCurrentSlot(0);
  FontInitSlots();
  s_FaceListOwed = 1;
}

static void FaceListNeeded() {
  if (!s_FaceListOwed) return;
  s_FaceListOwed = 0;
  ListFacesAndChoose();  // a failure is raised there and leaves the list empty
}

// ---- Slots and tables --------------------------------------------------------------------------

static void FreeSlotObjects(FontSlot& s) {
  PlatFontDestroy(s.font);
  s.font = nullptr;
  free(s.glyph_bits);
  s.glyph_bits = nullptr;
  s.glyph_bytes = 0;
  s.cell_side = 0;
  s.cache_valid = 0;
}

static void BuildTables() {
  for (u32 v = 0; v < 256; v++)
    g_GlyphCoverage[v] =
        ((4u - static_cast<u32>(std::popcount(v >> 4))) << 8) + (4u - static_cast<u32>(std::popcount(v & 15u)));
  for (i32 i = 0; i < 32; i++) g_GlyphGreyLevels[i] = static_cast<u8>(i * 18 < 255 ? i * 18 : 255);
  for (i32 size = 0; size <= FONT_GLYPH_MAX; size++) g_GlyphCellSize[size] = ((32 + 4 * size) & ~31) + 32;
}

void FontInitSlots() {
  BuildTables();
  for (FontSlot& s : g_FontSlots) {
    FreeSlotObjects(s);
    s.glyph_width = 20;
    s.glyph_height = 20;
    s.colour = 0xFFFFFF;
    s.second_colour = 0xFFFFFF;
    s.bold = 0;
    s.gradient_mode = 1;
    s.orientation = 0;
    s.smooth = 1;
    s.ink_only = 0;
    s.font_weight = 400;
    s.font_height = 0;
    std::memset(s.last_char, 0, sizeof s.last_char);
    s.measured_width = 0;
    s.measured_height = 0;
  }
}

void FontFreeSlots() {
  for (FontSlot& s : g_FontSlots) FreeSlotObjects(s);
  GlyphCacheClear();
}

void FontReset() {
  FontFreeSlots();
  FreeFaceList();
  s_FaceListOwed = 0;
  for (FontSlot& s : g_FontSlots) s = {};
  g_FontCurrentSlot = 0;
  std::memset(g_GlyphCoverage, 0, sizeof g_GlyphCoverage);
  std::memset(g_GlyphGreyLevels, 0, sizeof g_GlyphGreyLevels);
  std::memset(g_GlyphCellSize, 0, sizeof g_GlyphCellSize);
  g_FontEnumFaces = PlatFontEnumFaces;
  g_FontCreate = PlatFontCreate;
}

// ---- Accessors ---------------------------------------------------------------------------------

i32 FontSetCurrentSlot(i32 slot) {
  if (slot < 0 || slot >= FONT_SLOT_COUNT) return -1;
  g_FontCurrentSlot = slot;
  return 0;
}

i32 FontSelectFaceByIndex(i32 index) {
  FaceListNeeded();
  if (index < 0 || index >= g_FontFaceList.count) return 0;
  CurrentSlot().face = index;
  return 1;
}

static i32 FindFace(const char* name) {
  for (i32 i = 0; i < g_FontFaceList.count; i++)
    if (g_FontFaceList.names[i] && std::strcmp(g_FontFaceList.names[i], name) == 0) return i;
  return -1;
}

i32 FontSelectFaceByName(const char* name) {
  FaceListNeeded();
  return SelectFaceByName(CurrentSlot(), name);
}

i32 FontCurrentFace() {
  FaceListNeeded();
  return CurrentSlot().face;
}

i32 FontCurrentPitch() {
  FaceListNeeded();
  i32 i = CurrentSlot().face;
  if (i < 0 || i >= g_FontFaceList.count) return 1;
  return g_FontFaceList.pitch_flags[i];
}

const char* FontFaceName(i32 index) {
  FaceListNeeded();
  if (index < 0 || index >= g_FontFaceList.count) return nullptr;
  return g_FontFaceList.names[index];
}

i32 FontFaceScriptFlag(i32 index) {
  FaceListNeeded();
  if (index < 0 || index >= g_FontFaceList.count) return -1;
  return g_FontFaceList.script_flags[index];
}

i32 FontFaceCount() {
  FaceListNeeded();
  return g_FontFaceList.count;
}

// ---- Rendering and measuring -------------------------------------------------------------------

i32 FontPrepareSlot(i32 glyph_width, i32 glyph_height, u32 bold, i32 font_height, i32 cell_side) {
  FaceListNeeded();
  FontSlot& s = CurrentSlot();
  if (s.cache_valid && s.cache_glyph_width == glyph_width && s.cache_glyph_height == glyph_height &&
      s.cache_font_height == font_height && s.cache_face == s.face && s.cache_bold == bold)
    return 0;
  s.cache_valid = 1;
  s.cache_glyph_width = glyph_width;
  s.cache_glyph_height = glyph_height;
  s.cache_font_height = font_height;
  s.cache_face = s.face;
  s.cache_bold = bold;
  PlatFontDestroy(s.font);
  s.font = nullptr;
  free(s.glyph_bits);
  s.glyph_bits = nullptr;
  s.glyph_bytes = 0;
  s.cell_side = 0;

  if (cell_side <= 0 || cell_side % 8 != 0) return -1;
  i32 bytes = cell_side * cell_side / 8;
  s.glyph_bits = static_cast<u8*>(malloc(static_cast<size_t>(bytes)));
  if (!s.glyph_bits) {
    ErrRaiseF(ERR_OUT_OF_MEMORY, 1);
    return -1;
  }
  s.cell_side = cell_side;
  s.glyph_bytes = bytes;
  s.font_weight = bold ? 700 : 400;
  s.font_height = font_height;
  s.font = g_FontCreate(FontFaceName(s.face), font_height, s.font_weight);
  if (!s.font) {
    // Without a font the cell would hold nothing drawn: keep neither.
    free(s.glyph_bits);
    s.glyph_bits = nullptr;
    s.glyph_bytes = 0;
    s.cell_side = 0;
    ErrRaiseF(ERR_FONT_CREATE, 1);
    return -1;
  }
  return 1;
}

void FontMeasureText(const char* text, i32 glyph_width, i32 glyph_height, u32 bold, u8 smooth, i32* out_width,
                     i32* out_height) {
  FontSlot& s = CurrentSlot();
  i32 width = 0, height = 0;
  if (glyph_width >= 0 && glyph_width <= FONT_GLYPH_MAX && glyph_height >= 0 && glyph_height <= FONT_GLYPH_MAX) {
    i32 side = g_GlyphCellSize[glyph_width];
    i32 font_height = smooth == 1 ? 4 * glyph_width : glyph_width;
    if (FontPrepareSlot(glyph_width, glyph_height, bold, font_height, side) >= 0 && s.font && s.glyph_bits) {
      if (!text) text = "";
      i32 len = static_cast<i32>(SjisCharLen(text));
      std::memset(s.last_char, 0, sizeof s.last_char);
      std::memcpy(s.last_char, text, static_cast<size_t>(len));
      i32 cell_x_max, first_row;
      RenderCell(s, text, len, &cell_x_max, &first_row);

      i32 pitch = FontCurrentPitch();
      i32 x_max = 0, top = 0;
      if (pitch == 1) {
        x_max = cell_x_max;
        top = first_row < 0 ? 0 : s.cell_side - first_row;
      }
      if (pitch != 0) {
        width = std::min(glyph_width, x_max / 4 + 4);
        height = std::min(glyph_height, top / 4 + 4);
      } else {
        width = len == 2 ? glyph_width : glyph_width / 2;
        height = glyph_height;
      }
    }
  }
  s.measured_width = width;
  s.measured_height = height;
  if (out_width) *out_width = width;
  if (out_height) *out_height = height;
}

// ---- Commands ----------------------------------------------------------------------------------

// The argument's operator over the current value, saturating instead of overflowing; a zero
// divisor leaves the value.
static i64 ApplyOp(u32 op, i64 current, i64 arg) {
  i64 r;
  switch (op) {
    case 0: return arg;
    case 1: return __builtin_add_overflow(current, arg, &r) ? (arg > 0 ? INT64_MAX : INT64_MIN) : r;
    case 2: return __builtin_sub_overflow(current, arg, &r) ? (arg < 0 ? INT64_MAX : INT64_MIN) : r;
    case 3:
      if (__builtin_mul_overflow(current, arg, &r)) return ((current < 0) != (arg < 0)) ? INT64_MIN : INT64_MAX;
      return r;
    case 4:
      if (arg == 0) return current;
      if (current == INT64_MIN && arg == -1) return INT64_MAX;
      return current / arg;
    default: return current;
  }
}

static i64 ApplyOpClamped(const CmdArgRecord* a, i32 id, i64 current, i64 low, i64 high) {
  i64 v = ApplyOp(a->op[id], current, a->value[id]);
  return v < low ? low : v > high ? high : v;
}

static const char* ParamName(const CmdArgRecord* a, i32 id) { return CmdArgName(a, id); }

static const char* CommandName(const CmdArgRecord* a) { return CmdArgCommandName(a); }

// A script face number (1..count) to a list index; raises the range errors.
static i32 CheckFaceNumber(const CmdArgRecord* a, i32 id, i64 number) {
  FaceListNeeded();
  if (number < 1) {
    ErrRaiseAtScriptF(ERR_FONT_ARG_BELOW, 1, CommandName(a), ParamName(a, id), number, static_cast<i64>(1));
    return -1;
  }
  if (number > g_FontFaceList.count) {
    ErrRaiseAtScriptF(ERR_FONT_FACE_ABOVE, 1, CommandName(a), ParamName(a, id), number,
                      static_cast<i64>(g_FontFaceList.count));
    return -1;
  }
  return static_cast<i32>(number - 1);
}

i32 FontSetApply(const CmdArgRecord* a, FontMessageFont* msg) {
  if (a->given[1] || a->given[2]) FaceListNeeded();  // before the face is read or set
  if (a->given[0]) {
    i64 slot = a->value[0];
    if (slot < 0 || slot >= FONT_SLOT_COUNT) {
      ErrRaiseAtScriptF(ERR_FONT_ARG_RANGE, 1, CommandName(a), ParamName(a, 0), slot, static_cast<i64>(0),
                        static_cast<i64>(FONT_SLOT_COUNT - 1));
      FontSetCurrentSlot(0);
      return -1;
    }
    FontSetCurrentSlot(static_cast<i32>(slot));
  }
  FontSlot& s = CurrentSlot();
  FontMessageFont* m = g_FontCurrentSlot == 0 ? msg : nullptr;
  if (a->given[1]) {
    i32 index = CheckFaceNumber(a, 1, ApplyOp(a->op[1], s.face + 1, a->value[1]));
    if (index < 0) {
      FontSetCurrentSlot(0);
      return -1;
    }
    FontSelectFaceByIndex(index);
  }
  if (a->given[2]) FontSelectFaceByName(CmdArgStr(a, 2));
  if (a->given[3]) {
    s.smooth = static_cast<u8>(ApplyOpClamped(a, 3, s.smooth, 0, 255));
    if (m) m->smooth = s.smooth;
  }
  if (a->given[4]) {
    s.colour = static_cast<u32>(ApplyOpClamped(a, 4, s.colour, 0, 0xFFFFFF));
    if (m) m->colour = s.colour;
  }
  if (a->given[5]) {
    s.second_colour = static_cast<u32>(ApplyOpClamped(a, 5, s.second_colour, 0, 0xFFFFFF));
    if (m) m->second_colour = s.second_colour;
  }
  if (a->given[6]) {
    s.gradient_mode = static_cast<u8>(ApplyOpClamped(a, 6, s.gradient_mode, 0, 8));
    if (m) m->gradient_mode = s.gradient_mode;
  }
  if (a->given[7]) {
    s.orientation = static_cast<u8>(ApplyOpClamped(a, 7, s.orientation, 0, 8));
    if (m) m->orientation = s.orientation;
  }
  if (a->given[8]) {
    s.ink_only = static_cast<u8>(ApplyOpClamped(a, 8, s.ink_only, 0, 1));
    if (m) m->ink_only = s.ink_only;
  }
  if (a->given[9]) {
    s.glyph_width = static_cast<i32>(ApplyOpClamped(a, 9, s.glyph_width, 0, FONT_GLYPH_MAX));
    if (m) m->glyph_width = s.glyph_width;
  }
  if (a->given[10]) {
    s.glyph_height = static_cast<i32>(ApplyOpClamped(a, 10, s.glyph_height, 0, FONT_GLYPH_MAX));
    if (m) m->glyph_height = s.glyph_height;
  }
  if (a->given[11]) {
    s.bold = static_cast<u32>(ApplyOpClamped(a, 11, s.bold, 0, 1));
    if (m) m->bold = static_cast<u8>(s.bold);
  }
  FontSetCurrentSlot(0);
  return 0;
}

static FontInfoValue Number(i64 v) { return {0, v, nullptr}; }

i32 FontInfoQuery(const CmdArgRecord* a, const FontMessageFont* msg, FontInfoValue* out) {
  FontSlot& s0 = g_FontSlots[0];
  FontMessageFont slot_font = {s0.glyph_width,           s0.glyph_height,  s0.colour,
                               s0.second_colour,         s0.gradient_mode, s0.orientation,
                               static_cast<u8>(s0.bold), s0.ink_only,      s0.smooth};
  const FontMessageFont& f = msg ? *msg : slot_font;
  *out = Number(0);
  if (a->given[2]) *out = Number(f.smooth);
  else if (a->given[3]) *out = Number(f.colour);
  else if (a->given[4]) *out = Number(f.second_colour);
  else if (a->given[5]) *out = Number(f.gradient_mode);
  else if (a->given[6]) *out = Number(f.orientation);
  else if (a->given[7]) *out = Number(f.ink_only);
  else if (a->given[8]) *out = Number(f.glyph_width);
  else if (a->given[9]) *out = Number(f.glyph_height);
  else if (a->given[10]) *out = Number(f.bold);
  else if (a->given[11] && a->value[11] == 1) *out = Number(FontFaceCount());
  else if (a->given[12]) *out = Number(0);
  else if (a->given[14] || a->given[15]) {
    const char* text = CmdArgStr(a, 17);
    i32 w = 0, h = 0;
    // No character, nothing to measure: the empty text is 0 x 0 rather than a blank glyph.
    if (text[0]) FontMeasureText(text, f.glyph_width, f.glyph_height, f.bold, f.smooth, &w, &h);
    *out = Number(a->given[14] ? w : h);
  } else if ((a->given[1] && a->value[1] == 1) || (a->given[13] && a->value[13] == 1)) {
    i64 number = a->given[0] ? a->value[0] : FontCurrentFace() + 1;
    i32 index = CheckFaceNumber(a, 0, number);
    if (index < 0) return -1;
    if (a->given[1] && a->value[1] == 1) {
      const char* name = FontFaceName(index);
      *out = name ? FontInfoValue{1, 0, name} : Number(0);
    } else {
      *out = Number(FontFaceScriptFlag(index));
    }
  }
  return 0;
}
