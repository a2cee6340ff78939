// Fonts: the list of installed faces, the eight font slots with their glyph cells, the shared
// glyph tables, measuring one character, and the bodies of the font commands (set and info).
// Every slot operation acts on g_FontCurrentSlot, which is 0 except inside the set command;
// slot and face indexes from outside are checked before they are used.
#pragma once
#include "common/types.h"
#include "platform/font.h"
#include "script/cmdargs.h"

enum {
  FONT_SLOT_COUNT = 8,
  FONT_GLYPH_MAX = 256,  // largest glyph width and height
  FONT_CMD_PARAM_COUNT = 20,
};

enum {
  ERR_FONT_ARG_BELOW = 101010,   // a number below its lowest value
  ERR_FONT_ARG_RANGE = 101000,   // a number outside its range
  ERR_FONT_FACE_ABOVE = 101240,  // a face number above the face count
  ERR_FONT_CREATE = 102040,      // the platform could not make the font
};

// The installed faces: listed at start-up, or on first use after FontEnumInstalledLater.
// Script-visible face numbers count from 1.
struct FontFaceList {
  i32 count;
  char** names;      // Shift-JIS
  u8* script_flags;  // 0: listed for the Japanese script, 1: any other script
  u8* pitch_flags;   // 1 proportional or default pitch, 0 fixed pitch, 255 other
};
extern FontFaceList g_FontFaceList;

struct FontSlot {
  i32 face;
  i32 glyph_width, glyph_height;  // 0..256
  u32 colour, second_colour;      // 0xRRGGBB
  u32 bold;                       // 0..1
  u8 gradient_mode;               // 0..8
  u8 orientation;                 // 0..8, 0..3 take effect
  u8 smooth;                      // 1: 4 x 4 supersampled glyphs
  u8 ink_only;                    // 1: the cell background is left untouched
  // What GDI keeps per slot: the font request, the 1-bit glyph cell and the font.
  i32 font_weight, font_height;
  i32 cell_side;    // S: the cell is S x S pixels, S / 8 bytes a row
  i32 glyph_bytes;  // S * S / 8
  u8* glyph_bits;   // 1 bit a pixel, bit 7 leftmost, 0 = ink
  PlatFont* font;
  char last_char[4];
  i32 measured_width, measured_height;
  // Prepare cache: what the cell and font were last made for.
  u8 cache_valid;
  i32 cache_glyph_width, cache_glyph_height, cache_font_height, cache_face;
  u32 cache_bold;
};
extern FontSlot g_FontSlots[FONT_SLOT_COUNT];
extern i32 g_FontCurrentSlot;

// Ink counts of a byte of a 1-bit glyph row: (left four pixels << 8) + right four pixels.
extern u32 g_GlyphCoverage[256];
// Alpha for 0..16 ink samples of a 4 x 4 block (entries up to 31 for safety): min(i * 18, 255).
extern u8 g_GlyphGreyLevels[32];
// Side S of the square glyph cell for glyph sizes 0..256.
extern i32 g_GlyphCellSize[FONT_GLYPH_MAX + 1];

// The platform calls that list faces and make fonts, replaceable by tests.
typedef int (*FontEnumFacesFn)(PlatFontEnumProc proc, void* ctx);
typedef PlatFont* (*FontCreateFn)(const char* face_name, i32 height, i32 weight);
extern FontEnumFacesFn g_FontEnumFaces;
extern FontCreateFn g_FontCreate;

// Lists the faces (two passes: count, then fill no more than counted), gives every slot the
// first installed face of the preference list, then FontInitSlots. 0, or -1 without memory.
i32 FontEnumInstalled();
// Start-up's form of it: the slots get their defaults now, while the listing and the slots'
// faces wait for the first call that reads the list or a face (listing the installed fonts is
// the slowest part of start-up, and many games draw no text in their first frames). Every
// accessor below gives what it would have given after FontEnumInstalled; a listing that finds no
// memory raises its error then and leaves the list empty.
void FontEnumInstalledLater();
// The listing callback; ctx is the enumeration state of FontEnumInstalled.
int FontEnumProc(const char* face_name, const char* script_name, u8 pitch_and_family, void* ctx);
// Builds the three tables and gives every slot its defaults (the face stays as chosen).
void FontInitSlots();
// Frees every slot's cell and font (shutdown).
void FontFreeSlots();
// Tests: frees the face list and the slots and clears every table.
void FontReset();

// Slot accessors; all act on g_FontCurrentSlot.
i32 FontSetCurrentSlot(i32 slot);            // 0, or -1 (nothing changes) outside 0..7
i32 FontSelectFaceByIndex(i32 index);        // 1 when 0 <= index < count, else 0
i32 FontSelectFaceByName(const char* name);  // 1 when found (exact name, then the platform's stand-in)
i32 FontCurrentFace();
i32 FontCurrentPitch();
const char* FontFaceName(i32 index);  // null outside the list
i32 FontFaceScriptFlag(i32 index);    // -1 outside the list
i32 FontFaceCount();

// Makes the current slot's cell and font when any of the values differ from the cache:
// 1 made, 0 unchanged, -1 failure (error raised; the slot keeps no font).
i32 FontPrepareSlot(i32 glyph_width, i32 glyph_height, u32 bold, i32 font_height, i32 cell_side);
// Renders the first character of text into the current slot's cell and gives its advance width
// and height (0 x 0 when the slot has no font or the size is outside 0..256).
void FontMeasureText(const char* text, i32 glyph_width, i32 glyph_height, u32 bold, u8 smooth, i32* out_width,
                     i32* out_height);

// The message font fields that the set command writes through for slot 0 and that the info
// command reports; the message record holds them in this order.
struct FontMessageFont {
  i32 glyph_width, glyph_height;
  u32 colour, second_colour;
  u8 gradient_mode, orientation, bold, ink_only, smooth;
};

// What the info command stores into its variable.
struct FontInfoValue {
  u8 is_text;
  i64 number;
  const char* text;
};

// Body of the font set command on decoded arguments; msg receives what is set on slot 0 (may be
// null). 0, or -1 after an error. The current slot is 0 afterwards.
i32 FontSetApply(const CmdArgRecord* args, FontMessageFont* msg);
// Body of the font info command: the value for its variable. 0, or -1 after an error.
i32 FontInfoQuery(const CmdArgRecord* args, const FontMessageFont* msg, FontInfoValue* out);
