// Platform fonts: the installed faces listed the way GDI lists them, and one character rendered
// the way GDI's TextOut draws it into a 1-bit DIB. The face list is built once from fontconfig in
// a fixed order (families sorted by name; a face covering Japanese first gets its Japanese entry,
// then its Western one), so face numbers stay the same from run to run on one machine.
#pragma once
#include <vector>

#include "common/types.h"

// Pitch bits of the pitch-and-family byte, as in a LOGFONT.
enum { PLAT_DEFAULT_PITCH = 0, PLAT_FIXED_PITCH = 1, PLAT_VARIABLE_PITCH = 2 };

// Called once per face and script, in list order. Names are Shift-JIS; the script name is
// "日本語" for the Japanese entry and "欧文" for the Western one. Returning 0 ends the listing.
typedef int (*PlatFontEnumProc)(const char* face_name, const char* script_name, u8 pitch_and_family, void* ctx);
// Lists every installed outline face. Returns the number of calls made.
int PlatFontEnumFaces(PlatFontEnumProc proc, void* ctx);

// The name of the installed face that stands in for a face name (Shift-JIS): the Windows
// Japanese faces that games ask for (MS Gothic, MS PGothic, MS UI Gothic, MS Mincho, MS PMincho,
// Meiryo, in Japanese or romanised spelling) map to the IPA fonts, and any other name of an
// installed family (its Japanese name, say) maps to its listed name. Null when nothing fits.
const char* PlatFontSubstitute(const char* face_name);

struct PlatFont;
// A font whose cell (ascent + descent, from the face's Windows metrics) is `height` pixels,
// weight 700 for bold (a bold face of the family, else emboldened outlines) and 400 otherwise.
// An unknown face name falls back to a default Japanese face, as GDI substitutes. Null only when
// no face can be loaded at all.
PlatFont* PlatFontCreate(const char* face_name, i32 height, i32 weight);
void PlatFontDestroy(PlatFont* font);

// TextOut of one Shift-JIS character (len 1 or 2 bytes) at (0, 0) in transparent mode into a
// 1-bit cell of width x height pixels, rows top-down, `stride` bytes a row, bit 7 leftmost: ink
// pixels are cleared to 0, every other bit is left as it is. The baseline lies at the ascent.
// Nothing outside the cell is touched.
void PlatFontDrawChar(PlatFont* font, const char* ch, i32 len, u8* bits, i32 width, i32 height, i32 stride);

struct PlatFontMetrics {
  i32 ascent, descent;  // pixels above and below the baseline; their sum is the cell height
  i32 ppem;             // pixels per em used for the outlines
  u8 bold_face;         // 1: a real bold face, 0: regular (emboldened when bold was asked)
};
void PlatFontGetMetrics(const PlatFont* font, PlatFontMetrics* out);

// One character by Unicode code point as 8-bit coverage (0 none to 255 full ink, anti-aliased),
// for the text of the engine's own menus and dialogs. The box lies `left` pixels right of the pen
// and `top` rows above the baseline; the pen then moves `advance` pixels. False when the font has
// no outline for it (the box is then empty and the advance that of the missing glyph).
struct PlatGlyph {
  i32 left, top, width, height, advance;
  std::vector<u8> coverage;  // width x height, rows top-down
};
bool PlatFontGlyphGray(PlatFont* font, u32 code_point, PlatGlyph* out);
