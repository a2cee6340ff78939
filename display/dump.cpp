// The frame dump of ZEPHRA_FRAME_DUMP: the main window's root picture as an RGB PNG, written to a
// temporary file beside the target and renamed into place, so a reader never sees half a file.
#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/file.h"
#include "display/present.h"
#include "layer/layer.h"
#include "core/state.h"

static void PngAppend(png_structp png, png_bytep data, png_size_t n) {
  static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<const char*>(data), n);
}
static void PngFlush(png_structp) {}

// No object with a destructor lives between the recovery point and the libpng calls: libpng
// leaves through longjmp.
static i32 Encode(png_bytep* rows, i32 width, i32 height, std::string* out) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!png || !info) {
    png_destroy_write_struct(&png, &info);
    return -1;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return -1;
  }
  png_set_write_fn(png, out, PngAppend, PngFlush);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8, PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  png_write_image(png, rows);
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return 0;
}

i32 FrameEncodePng(const u8* bgra, i32 width, i32 height, std::string* out) {
  out->clear();
  if (!bgra || width <= 0 || height <= 0) return -1;
  size_t row = static_cast<size_t>(width) * 3;
  std::vector<u8> rgb(row * static_cast<size_t>(height));
  std::vector<png_bytep> rows(static_cast<size_t>(height));
  for (i32 y = 0; y < height; y++) {
    u8* d = rgb.data() + row * static_cast<size_t>(y);
    const u8* s = bgra + static_cast<size_t>(width) * 4 * static_cast<size_t>(y);
    for (i32 x = 0; x < width; x++, d += 3, s += 4) {
      d[0] = s[2];
      d[1] = s[1];
      d[2] = s[0];
    }
    rows[static_cast<size_t>(y)] = rgb.data() + row * static_cast<size_t>(y);
  }
  if (Encode(rows.data(), width, height, out) != 0) {
    out->clear();
    return -1;
  }
  return 0;
}

i32 FrameDumpPng(const char* path) {
  WindowObject* w = g_WindowObjects[0];
  const LayerRecord* r = w ? LayerOf(w->root_layer) : nullptr;
  if (!path || !path[0] || !LayerHasPixels(r)) return -1;
  std::string png;
  if (FrameEncodePng(r->pixels, r->width, r->height, &png) != 0) return -1;
  return PlatFileWriteAtomicNative(path, png.data(), png.size()) == 0 ? 0 : -1;
}
