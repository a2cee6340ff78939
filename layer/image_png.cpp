// PNG decoder over libpng: every file comes out as 8-bit B, G, R, A rows (palettes and small
// greys expanded, tRNS made into alpha, 16 bits stripped, grey made RGB, opaque filler added, the
// file's gamma corrected for a 2.2 screen). Any libpng error jumps back to the recovery point set
// here, and the read callback never goes past the bytes given, so a damaged file fails cleanly.
#include <png.h>

#include <csetjmp>
#include <cstring>

#include "core/err.h"
#include "core/sys.h"
#include "layer/image.h"

// The screen gamma: the single-precision 2.2 widened to double.
static const double kScreenGamma = static_cast<double>(2.2f);

struct PngReadState {
  const u8* data;
  u32 size;
  u32 pos;
};

static void PngReadMem(png_structp png, png_bytep dst, png_size_t n) {
  PngReadState* s = static_cast<PngReadState*>(png_get_io_ptr(png));
  if (n > s->size - s->pos) png_error(png, "read past the end of the file");
  std::memcpy(dst, s->data + s->pos, n);
  s->pos += static_cast<u32>(n);
}

static void PngError(png_structp png, png_const_charp msg) {
  ErrTrace("png: %s", msg);
  png_longjmp(png, 1);
}

static void PngWarning(png_structp, png_const_charp msg) { ErrTrace("png warning: %s", msg); }

// For a second reading of a file whose messages were already given.
static void PngErrorQuiet(png_structp png, png_const_charp) { png_longjmp(png, 1); }
static void PngWarningQuiet(png_structp, png_const_charp) {}

// 0 decoded, 1 failed after an error was raised, 2 libpng gave up on the file. With fill, each
// row's transparent pixels are filled as soon as the row is final, and *filled tells whether a
// pixel was changed. Holds no object with a destructor: libpng leaves through longjmp.
static int PngReadPicture(png_structp png, png_infop info, const char* name, ImagePicture* pic, bool fill, bool* filled,
                          ImageRowsDone* rows) {
  if (setjmp(png_jmpbuf(png))) {
    rows->ClearRest();
    return 2;
  }
  png_read_info(png, info);
  png_uint_32 width = 0, height = 0;
  int depth = 0, colour = 0;
  png_get_IHDR(png, info, &width, &height, &depth, &colour, nullptr, nullptr, nullptr);
  if (width > IMAGE_MAX_SIZE || height > IMAGE_MAX_SIZE) {
    ErrRaiseAtScriptF(IMAGE_ERR_TOO_LARGE, 1, name);
    return 1;
  }
  if (colour == PNG_COLOR_TYPE_PALETTE || (colour == PNG_COLOR_TYPE_GRAY && depth < 8) ||
      png_get_valid(png, info, PNG_INFO_tRNS))
    png_set_expand(png);
  if (depth == 16) png_set_strip_16(png);
  if (colour == PNG_COLOR_TYPE_GRAY || colour == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
  png_set_bgr(png);
  if (colour != PNG_COLOR_TYPE_GRAY_ALPHA && colour != PNG_COLOR_TYPE_RGB_ALPHA)
    png_set_filler(png, 255, PNG_FILLER_AFTER);
  double file_gamma = 0;
  if (png_get_gAMA(png, info, &file_gamma)) png_set_gamma(png, kScreenGamma, file_gamma);
  // Interlace handling must be known before the row layout is fixed, or the passes come out
  // as partial rows.
  int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  if (png_get_rowbytes(png, info) != static_cast<size_t>(width) * 4) png_error(png, "unexpected row layout");

  u8* pixels = ImageAllocPixels(pic->pixels, static_cast<i32>(width), static_cast<i32>(height), name);
  if (!pixels) return 1;
  pic->pixels = pixels;
  pic->width = static_cast<i32>(width);
  pic->height = static_cast<i32>(height);
  // tRNS alpha is kept in the pixels, but only a real alpha channel sends the layer down the
  // alpha path.
  pic->has_alpha = colour == PNG_COLOR_TYPE_GRAY_ALPHA || colour == PNG_COLOR_TYPE_RGB_ALPHA;
  // Without an alpha channel or tRNS every alpha byte is the filler's 255: nothing to fill.
  const bool fill_rows = fill && (colour == PNG_COLOR_TYPE_GRAY_ALPHA || colour == PNG_COLOR_TYPE_RGB_ALPHA ||
                                  png_get_valid(png, info, PNG_INFO_tRNS));
  // The passes of an interlaced file each write only their own pixels: its picture starts
  // cleared. A plain file's rows are whole once read.
  if (passes > 1) std::memset(pixels, 0, static_cast<size_t>(width) * 4 * height);
  else {
    rows->pixels = pixels;
    rows->row_bytes = static_cast<size_t>(width) * 4;
    rows->height = height;
  }
  for (int pass = 0; pass < passes; pass++) {
    const bool last = pass == passes - 1;
    for (png_uint_32 y = 0; y < height; y++) {
      u8* row = pixels + static_cast<size_t>(y) * width * 4;
      png_read_row(png, row, nullptr);
      rows->rows = y + 1;
      if (fill_rows && last && ImageFillTransparentRow(row, width)) *filled = true;
    }
  }
  return 0;
}

// One reading of the file: 0 decoded, 1 failed after an error was raised, 2 libpng gave up.
static int PngDecode(const u8* data, u32 size, const char* name, ImagePicture* pic, bool quiet, bool fill,
                     bool* filled) {
  PngReadState state{data, size, 0};
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, quiet ? PngErrorQuiet : PngError,
                                           quiet ? PngWarningQuiet : PngWarning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info) {
    if (png) png_destroy_read_struct(&png, nullptr, nullptr);
    return 2;
  }
  png_set_read_fn(png, &state, PngReadMem);
  ImageRowsDone rows;
  int r = PngReadPicture(png, info, name, pic, fill, filled, &rows);
  png_destroy_read_struct(&png, &info, nullptr);
  return r;
}

static int PngDecodeAndReport(const u8* data, u32 size, const char* name, ImagePicture* pic, bool fill) {
  bool filled = false;
  const int r = PngDecode(data, size, name, pic, false, fill, &filled);
  if (r == 2) ErrRaise(IMAGE_ERR_PNG, 1);
  const bool failed = r != 0 || g_QuitRequested;
  // A failed decode hands out its rows unfilled: those already filled are read again, quietly
  // (the same bytes give the same rows, and the messages were given).
  if (failed && filled) {
    bool again = false;
    PngDecode(data, size, name, pic, true, false, &again);
  }
  return failed ? 1 : 0;
}

int ImageDecodePng(const u8* data, u32 size, const char* name, ImagePicture* pic) {
  return PngDecodeAndReport(data, size, name, pic, false);
}

int ImageDecodePngFilled(const u8* data, u32 size, const char* name, ImagePicture* pic) {
  return PngDecodeAndReport(data, size, name, pic, true);
}
