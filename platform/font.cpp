// Platform fonts over fontconfig and FreeType. The face table is built once and never changes
// afterwards, so both passes of an enumeration see the same faces; FreeType objects are only
// touched under s_FtMutex. Glyphs are rendered monochrome and hinted, ink cleared to 0 bits.
#include "platform/font.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SYNTHESIS_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace {

struct FaceFile {
  std::string path;
  int index = 0;
};

struct FaceEntry {
  std::string family;              // UTF-8, the listed name
  std::string name;                // Shift-JIS, the listed name
  std::vector<std::string> other;  // Shift-JIS, the family's other names
  FaceFile regular, bold;          // bold.path empty: no bold face
  u8 japanese = 0;
  u8 pitch = PLAT_VARIABLE_PITCH;
};

struct FaceTable {
  std::vector<FaceEntry> faces;
  std::string script_japanese, script_western;
};

// One font file as fontconfig reports it, before the files are grouped into families.
struct FileInfo {
  std::string family;
  std::vector<std::string> names;
  FaceFile file;
  int weight = FC_WEIGHT_REGULAR, slant = FC_SLANT_ROMAN, width = FC_WIDTH_NORMAL, spacing = 0;
  bool japanese = false;
};

}  // namespace

struct PlatFont {
  FT_Face face;
  i32 ascent, descent, ppem;
  u8 bold_face, embolden;
};

static std::once_flag s_TableOnce;
static FaceTable* s_Table;
static std::mutex s_FtMutex;
static FT_Library s_FtLibrary;
static std::vector<u32>* s_SjisToUcs;  // 0x10000 entries by (first byte << 8 | second), lazily

// The listed name of a file's family: the last English name, which fontconfig orders after
// the typographic family, so it is the family GDI groups styles under.
static void ReadFamily(FcPattern* p, FileInfo* info) {
  FcChar8* s;
  std::string first, english;
  for (int i = 0; FcPatternGetString(p, FC_FAMILY, i, &s) == FcResultMatch; i++) {
    std::string name(reinterpret_cast<const char*>(s));
    info->names.push_back(name);
    FcChar8* lang;
    if (FcPatternGetString(p, FC_FAMILYLANG, i, &lang) == FcResultMatch &&
        std::strcmp(reinterpret_cast<const char*>(lang), "en") == 0)
      english = name;
    if (i == 0) first = name;
  }
  info->family = english.empty() ? first : english;
}

static bool ReadFile(FcPattern* p, FileInfo* info) {
  FcBool outline = FcFalse;
  if (FcPatternGetBool(p, FC_OUTLINE, 0, &outline) != FcResultMatch || !outline) return false;
  FcChar8* file;
  if (FcPatternGetString(p, FC_FILE, 0, &file) != FcResultMatch) return false;
  info->file.path = reinterpret_cast<const char*>(file);
  FcPatternGetInteger(p, FC_INDEX, 0, &info->file.index);
  FcPatternGetInteger(p, FC_WEIGHT, 0, &info->weight);
  FcPatternGetInteger(p, FC_SLANT, 0, &info->slant);
  FcPatternGetInteger(p, FC_WIDTH, 0, &info->width);
  FcPatternGetInteger(p, FC_SPACING, 0, &info->spacing);
  FcLangSet* langs;
  if (FcPatternGetLangSet(p, FC_LANG, 0, &langs) == FcResultMatch)
    info->japanese = FcLangSetHasLang(langs, reinterpret_cast<const FcChar8*>("ja")) == FcLangEqual;
  ReadFamily(p, info);
  return !info->family.empty();
}

// Lower is better: upright first, then the weight nearest to the one wanted, then normal width.
static long StyleDistance(const FileInfo& f, int weight) {
  long d = f.slant == FC_SLANT_ROMAN ? 0 : 1000000;
  d += std::abs(f.weight - weight) * 1000L;
  d += std::abs(f.width - FC_WIDTH_NORMAL);
  return d;
}

static void AddFamily(FaceTable* t, const std::vector<const FileInfo*>& files) {
  const FileInfo* regular = nullptr;
  const FileInfo* bold = nullptr;
  for (const FileInfo* f : files) {
    if (!regular || StyleDistance(*f, FC_WEIGHT_REGULAR) < StyleDistance(*regular, FC_WEIGHT_REGULAR)) regular = f;
    if (f->slant == FC_SLANT_ROMAN && f->weight >= FC_WEIGHT_DEMIBOLD &&
        (!bold || StyleDistance(*f, FC_WEIGHT_BOLD) < StyleDistance(*bold, FC_WEIGHT_BOLD)))
      bold = f;
  }
  FaceEntry e;
  e.family = regular->family;
  e.name = PlatUtf8ToSjis(regular->family);
  e.regular = regular->file;
  if (bold && bold != regular) e.bold = bold->file;
  for (const FileInfo* f : files) {
    e.japanese |= f->japanese ? 1 : 0;
    for (const std::string& n : f->names) {
      std::string sj = PlatUtf8ToSjis(n);
      if (sj != e.name && std::find(e.other.begin(), e.other.end(), sj) == e.other.end()) e.other.push_back(sj);
    }
  }
  e.pitch = regular->spacing >= FC_DUAL ? PLAT_FIXED_PITCH : PLAT_VARIABLE_PITCH;
  t->faces.push_back(std::move(e));
}

static void BuildTable() {
  FaceTable* t = new FaceTable;
  t->script_japanese = PlatUtf8ToSjis("日本語");
  t->script_western = PlatUtf8ToSjis("欧文");
  std::vector<FileInfo> files;
  if (FcInit()) {
    FcPattern* pat = FcPatternCreate();
    FcObjectSet* os = FcObjectSetBuild(FC_FAMILY, FC_FAMILYLANG, FC_FILE, FC_INDEX, FC_WEIGHT, FC_SLANT, FC_WIDTH,
                                       FC_SPACING, FC_OUTLINE, FC_LANG, static_cast<char*>(nullptr));
    FcFontSet* set = (pat && os) ? FcFontList(nullptr, pat, os) : nullptr;
    for (int i = 0; set && i < set->nfont; i++) {
      FileInfo info;
      if (ReadFile(set->fonts[i], &info)) files.push_back(std::move(info));
    }
    if (set) FcFontSetDestroy(set);
    if (os) FcObjectSetDestroy(os);
    if (pat) FcPatternDestroy(pat);
    // Everything needed is copied out; nothing else here uses fontconfig, so let it go.
    FcFini();
  }
  // Fixed order: by family, then by file, so the same files always give the same list.
  std::sort(files.begin(), files.end(), [](const FileInfo& a, const FileInfo& b) {
    if (a.family != b.family) return a.family < b.family;
    if (a.file.path != b.file.path) return a.file.path < b.file.path;
    return a.file.index < b.file.index;
  });
  for (size_t i = 0; i < files.size();) {
    std::vector<const FileInfo*> family;
    size_t j = i;
    for (; j < files.size() && files[j].family == files[i].family; j++) family.push_back(&files[j]);
    AddFamily(t, family);
    i = j;
  }
  s_Table = t;
}

static const FaceTable& Table() {
  std::call_once(s_TableOnce, BuildTable);
  return *s_Table;
}

int PlatFontEnumFaces(PlatFontEnumProc proc, void* ctx) {
  const FaceTable& t = Table();
  int calls = 0;
  for (const FaceEntry& e : t.faces) {
    u8 pitch = e.pitch;
    if (e.japanese) {
      calls++;
      if (!proc(e.name.c_str(), t.script_japanese.c_str(), pitch, ctx)) return calls;
    }
    calls++;
    if (!proc(e.name.c_str(), t.script_western.c_str(), pitch, ctx)) return calls;
  }
  return calls;
}

// ---- Face names --------------------------------------------------------------------------------

struct FaceAlias {
  const char* names[2];    // Japanese and romanised spelling (UTF-8)
  const char* targets[2];  // installed faces, in order of preference
};

static const FaceAlias kAliases[] = {
    {{"ＭＳ ゴシック", "MS Gothic"}, {"IPAGothic", "IPAPGothic"}},
    {{"ＭＳ Ｐゴシック", "MS PGothic"}, {"IPAPGothic", "IPAGothic"}},
    {{"MS UI Gothic", nullptr}, {"IPAPGothic", "IPAGothic"}},
    {{"ＭＳ 明朝", "MS Mincho"}, {"IPAMincho", "IPAPMincho"}},
    {{"ＭＳ Ｐ明朝", "MS PMincho"}, {"IPAPMincho", "IPAMincho"}},
    {{"メイリオ", "Meiryo"}, {"IPAPGothic", "IPAGothic"}},
};

// ASCII letters compare without regard to case, as GDI matches face names; other bytes exactly
// (the trail byte of a double-byte character is never a letter that matters here, since both
// sides are whole names and a byte-wise walk stays in step).
static bool NameEqual(const char* a, const char* b) {
  for (;; a++, b++) {
    unsigned char x = static_cast<unsigned char>(*a), y = static_cast<unsigned char>(*b);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
    if (x != y) return false;
    if (x == 0) return true;
  }
}

static const FaceEntry* FindListed(const FaceTable& t, const char* name_sjis) {
  for (const FaceEntry& e : t.faces)
    if (e.name == name_sjis) return &e;
  return nullptr;
}

static const FaceEntry* FindSubstitute(const FaceTable& t, const char* name) {
  static std::once_flag once;
  static std::vector<std::string>* alias_names;  // Shift-JIS, two per alias row
  std::call_once(once, [] {
    alias_names = new std::vector<std::string>;
    for (const FaceAlias& a : kAliases)
      for (const char* n : a.names) alias_names->push_back(n ? PlatUtf8ToSjis(n) : std::string());
  });
  for (size_t row = 0; row < ZP_COUNTOF(kAliases); row++) {
    for (int k = 0; k < 2; k++) {
      const std::string& n = (*alias_names)[row * 2 + k];
      if (n.empty() || !NameEqual(n.c_str(), name)) continue;
      for (const char* target : kAliases[row].targets)
        if (const FaceEntry* e = FindListed(t, target)) return e;
    }
  }
  for (const FaceEntry& e : t.faces)
    for (const std::string& n : e.other)
      if (n == name) return &e;
  return nullptr;
}

const char* PlatFontSubstitute(const char* face_name) {
  if (!face_name) return nullptr;
  const FaceEntry* e = FindSubstitute(Table(), face_name);
  return e ? e->name.c_str() : nullptr;
}

// ---- Rendering ---------------------------------------------------------------------------------

static const FaceEntry* ResolveFace(const FaceTable& t, const char* name) {
  if (name) {
    if (const FaceEntry* e = FindListed(t, name)) return e;
    if (const FaceEntry* e = FindSubstitute(t, name)) return e;
  }
  for (const char* fallback : {"IPAGothic", "IPAPGothic", "IPAMincho"})
    if (const FaceEntry* e = FindListed(t, fallback)) return e;
  return t.faces.empty() ? nullptr : &t.faces[0];
}

PlatFont* PlatFontCreate(const char* face_name, i32 height, i32 weight) {
  const FaceTable& t = Table();
  const FaceEntry* e = ResolveFace(t, face_name);
  if (!e) return nullptr;
  bool want_bold = weight >= 600;
  const FaceFile& file = (want_bold && !e->bold.path.empty()) ? e->bold : e->regular;
  std::lock_guard<std::mutex> lock(s_FtMutex);
  if (!s_FtLibrary && FT_Init_FreeType(&s_FtLibrary) != 0) {
    s_FtLibrary = nullptr;
    return nullptr;
  }
  FT_Face face;
  if (FT_New_Face(s_FtLibrary, file.path.c_str(), file.index, &face) != 0) return nullptr;
  if (!FT_IS_SCALABLE(face)) {
    FT_Done_Face(face);
    return nullptr;
  }
  // GDI maps a positive height onto the Windows ascent + descent, not onto the em.
  i32 upem = face->units_per_EM > 0 ? face->units_per_EM : 1000;
  i32 asc = 0, desc = 0;
  const TT_OS2* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
  if (os2 && os2->version != 0xFFFF && os2->usWinAscent + os2->usWinDescent > 0) {
    asc = os2->usWinAscent;
    desc = os2->usWinDescent;
  } else if (face->ascender - face->descender > 0) {
    asc = face->ascender;
    desc = -face->descender;
  } else {
    asc = upem * 4 / 5;
    desc = upem - asc;
  }
  i32 cell = std::max<i32>(height, 1);
  i64 ppem = (static_cast<i64>(cell) * upem + (asc + desc) / 2) / (asc + desc);
  if (ppem < 1) ppem = 1;
  if (ppem > 4096) ppem = 4096;
  if (FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(ppem)) != 0) {
    FT_Done_Face(face);
    return nullptr;
  }
  PlatFont* f = new PlatFont;
  f->face = face;
  f->ppem = static_cast<i32>(ppem);
  f->ascent = static_cast<i32>((static_cast<i64>(asc) * cell + (asc + desc) / 2) / (asc + desc));
  f->descent = cell - f->ascent;
  f->bold_face = (want_bold && !e->bold.path.empty()) ? 1 : 0;
  f->embolden = (want_bold && !f->bold_face) ? 1 : 0;
  return f;
}

void PlatFontDestroy(PlatFont* font) {
  if (!font) return;
  std::lock_guard<std::mutex> lock(s_FtMutex);
  FT_Done_Face(font->face);
  delete font;
}

void PlatFontGetMetrics(const PlatFont* font, PlatFontMetrics* out) {
  *out = {font->ascent, font->descent, font->ppem, font->bold_face};
}

// Unicode code point of a CP932 character, 0 when it has none. Cached: glyphs are drawn one
// character at a time and a converter per character would dominate.
static u32 SjisToCodePoint(const u8* ch, i32 len) {
  u32 key = len == 2 ? (static_cast<u32>(ch[0]) << 8 | ch[1]) : ch[0];
  if (!s_SjisToUcs) s_SjisToUcs = new std::vector<u32>(0x10000, 0xFFFFFFFFu);
  u32& slot = (*s_SjisToUcs)[key];
  if (slot != 0xFFFFFFFFu) return slot;
  std::string u = PlatSjisToUtf8(std::string(reinterpret_cast<const char*>(ch), static_cast<size_t>(len)));
  const u8* p = reinterpret_cast<const u8*>(u.data());
  u32 cp = 0;
  if (u.size() == 1 && p[0] < 0x80) cp = p[0];
  else if (u.size() == 2 && (p[0] & 0xE0) == 0xC0) cp = (p[0] & 0x1Fu) << 6 | (p[1] & 0x3Fu);
  else if (u.size() == 3 && (p[0] & 0xF0) == 0xE0) cp = (p[0] & 0x0Fu) << 12 | (p[1] & 0x3Fu) << 6 | (p[2] & 0x3Fu);
  if (cp == 0xFFFD) cp = 0;
  slot = cp;
  return cp;
}

void PlatFontDrawChar(PlatFont* font, const char* ch, i32 len, u8* bits, i32 width, i32 height, i32 stride) {
  if (!font || !ch || !bits || len < 1 || len > 2 || width <= 0 || height <= 0 || stride * 8 < width) return;
  std::lock_guard<std::mutex> lock(s_FtMutex);
  u32 cp = SjisToCodePoint(reinterpret_cast<const u8*>(ch), len);
  FT_UInt gi = FT_Get_Char_Index(font->face, cp);
  if (FT_Load_Glyph(font->face, gi, FT_LOAD_TARGET_MONO) != 0) return;
  FT_GlyphSlot slot = font->face->glyph;
  if (font->embolden) FT_GlyphSlot_Embolden(slot);
  if (slot->format != FT_GLYPH_FORMAT_BITMAP && FT_Render_Glyph(slot, FT_RENDER_MODE_MONO) != 0) return;
  const FT_Bitmap& bm = slot->bitmap;
  i32 x0 = slot->bitmap_left;
  i32 y0 = font->ascent - slot->bitmap_top;
  // A negative pitch means the rows lie bottom-up in memory.
  const u8* top = bm.pitch < 0 ? bm.buffer + static_cast<i64>(bm.rows - 1) * -bm.pitch : bm.buffer;
  const u8 mode = bm.pixel_mode;
  if (mode != FT_PIXEL_MODE_MONO && mode != FT_PIXEL_MODE_GRAY && mode != FT_PIXEL_MODE_BGRA) {
    // Pixels of another kind are never drawn.
    return;
  }
  // Clears the ink bit of cell pixel x of a row.
  auto ink_at = [](u8* dst, i32 x) { dst[x >> 3] = static_cast<u8>(dst[x >> 3] & ~(0x80u >> (x & 7))); };
  for (u32 gy = 0; gy < bm.rows; gy++) {
    i32 y = y0 + static_cast<i32>(gy);
    if (y < 0 || y >= height) continue;
    const u8* src = top + static_cast<i64>(gy) * bm.pitch;
    u8* dst = bits + static_cast<i64>(y) * stride;
    if (mode == FT_PIXEL_MODE_MONO) {
      // Eight source pixels at a time; a byte that reaches past the cell's sides goes bit by bit.
      for (u32 i = 0; i * 8 < bm.width; i++) {
        u32 ink = src[i];
        const u32 left = bm.width - i * 8;
        if (left < 8) ink &= 0xFFu << (8 - left);
        if (!ink) continue;
        const i32 x = x0 + static_cast<i32>(i * 8);
        if (x >= 0 && x + 8 <= width) {
          const i32 sh = x & 7;
          dst[x >> 3] = static_cast<u8>(dst[x >> 3] & ~(ink >> sh));
          if (sh) dst[(x >> 3) + 1] = static_cast<u8>(dst[(x >> 3) + 1] & ~(ink << (8 - sh)));
          continue;
        }
        for (i32 b = 0; b < 8; b++)
          if ((ink >> (7 - b)) & 1 && x + b >= 0 && x + b < width) ink_at(dst, x + b);
      }
      continue;
    }
    for (u32 gx = 0; gx < bm.width; gx++) {
      const bool ink = mode == FT_PIXEL_MODE_GRAY ? src[gx] >= 128 : src[gx * 4 + 3] >= 128;
      i32 x = x0 + static_cast<i32>(gx);
      if (ink && x >= 0 && x < width) ink_at(dst, x);
    }
  }
}

bool PlatFontGlyphGray(PlatFont* font, u32 code_point, PlatGlyph* out) {
  *out = PlatGlyph{0, 0, 0, 0, 0, {}};
  if (!font) return false;
  std::lock_guard<std::mutex> lock(s_FtMutex);
  FT_UInt gi = FT_Get_Char_Index(font->face, code_point);
  if (FT_Load_Glyph(font->face, gi, FT_LOAD_TARGET_LIGHT) != 0) return false;
  FT_GlyphSlot slot = font->face->glyph;
  if (font->embolden) FT_GlyphSlot_Embolden(slot);
  out->advance = static_cast<i32>((slot->advance.x + 32) >> 6);
  if (slot->format != FT_GLYPH_FORMAT_BITMAP && FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL) != 0) return false;
  const FT_Bitmap& bm = slot->bitmap;
  if (bm.width > 1024 || bm.rows > 1024) return false;
  out->left = slot->bitmap_left;
  out->top = slot->bitmap_top;
  out->width = static_cast<i32>(bm.width);
  out->height = static_cast<i32>(bm.rows);
  out->coverage.assign(static_cast<size_t>(bm.width) * bm.rows, 0);
  const u8* top = bm.pitch < 0 ? bm.buffer + static_cast<i64>(bm.rows - 1) * -bm.pitch : bm.buffer;
  for (u32 gy = 0; gy < bm.rows; gy++) {
    const u8* src = top + static_cast<i64>(gy) * bm.pitch;
    u8* dst = out->coverage.data() + static_cast<size_t>(gy) * bm.width;
    for (u32 gx = 0; gx < bm.width; gx++) {
      if (bm.pixel_mode == FT_PIXEL_MODE_GRAY) dst[gx] = src[gx];
      else if (bm.pixel_mode == FT_PIXEL_MODE_MONO) dst[gx] = ((src[gx >> 3] >> (7 - (gx & 7))) & 1) ? 255 : 0;
      else if (bm.pixel_mode == FT_PIXEL_MODE_BGRA) dst[gx] = src[gx * 4 + 3];
      else return false;
    }
  }
  return gi != 0;
}
