// Image writers over libpng, libjpeg and the engine's own BMP rows. Each encoder writes into an
// ImageOutBuffer that it owns until it returns; the libraries leave an encoder through longjmp
// on an error, so no object with a destructor lives in a function that sets a recovery point,
// and everything the error path must free is reached through the caller's state.
#include "layer/image_write.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>

#include "core/err.h"
#include "core/sys.h"
#include "layer/image_jpeg.h"
#include "layer/layer.h"
#include "platform/file.h"

// ---- Output buffer ---------------------------------------------------------------------------

void ImageOutFree(ImageOutBuffer* out) {
  std::free(out->data);
  *out = ImageOutBuffer{};
}

// Room for n more bytes; false without memory (the buffer is kept as it was).
static bool OutReserve(ImageOutBuffer* out, size_t n) {
  if (n <= out->capacity - out->size) return true;
  if (n > SIZE_MAX / 2 - out->size) return false;
  size_t cap = out->capacity ? out->capacity : 65536;
  while (cap - out->size < n) cap *= 2;
  u8* p = static_cast<u8*>(std::realloc(out->data, cap));
  if (!p) return false;
  out->data = p;
  out->capacity = cap;
  return true;
}

// ---- PNG -------------------------------------------------------------------------------------

static void PngWriteMem(png_structp png, png_bytep data, png_size_t n) {
  ImageOutBuffer* out = static_cast<ImageOutBuffer*>(png_get_io_ptr(png));
  if (!OutReserve(out, n)) png_error(png, "out of memory");
  std::memcpy(out->data + out->size, data, n);
  out->size += n;
}
static void PngFlushMem(png_structp) {}

static void PngErrorExit(png_structp png, png_const_charp msg) {
  ErrTrace("png: %s", msg);
  png_longjmp(png, 1);
}
static void PngWarning(png_structp, png_const_charp msg) { ErrTrace("png warning: %s", msg); }

// The libpng calls between the recovery point and the end; 0, or -2 after a libpng error.
static i32 PngWrite(png_structp png, png_infop info, const u8* bgra, i32 width, i32 height, const ImagePngFormat* fmt,
                    ImageOutBuffer* out) {
  if (setjmp(png_jmpbuf(png))) return -2;
  png_set_write_fn(png, out, PngWriteMem, PngFlushMem);
  if (fmt->all_filters) png_set_filter(png, 0, PNG_ALL_FILTERS);
  if (fmt->level >= 0) png_set_compression_level(png, fmt->level > 9 ? 9 : fmt->level);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
               fmt->keep_alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (fmt->gamma) png_set_gAMA(png, info, 1.0 / (2.2 * 1.0));
  png_write_info(png, info);
  png_set_bgr(png);
  // Without alpha the fourth byte of every pixel is a filler the library skips.
  if (!fmt->keep_alpha) png_set_filler(png, 0, PNG_FILLER_AFTER);
  const size_t stride = static_cast<size_t>(width) * 4;
  for (i32 y = 0; y < height; y++) png_write_row(png, const_cast<png_bytep>(bgra + stride * static_cast<size_t>(y)));
  png_write_end(png, info);
  return 0;
}

i32 ImagePngEncode(const u8* bgra, i32 width, i32 height, const ImagePngFormat* fmt, ImageOutBuffer* out) {
  ImageOutFree(out);
  if (!bgra || width <= 0 || height <= 0) return -1;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, PngErrorExit, PngWarning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  i32 r = png && info ? PngWrite(png, info, bgra, width, height, fmt, out) : -1;
  png_destroy_write_struct(&png, &info);
  if (r != 0) ImageOutFree(out);
  return r;
}

// ---- JPEG ------------------------------------------------------------------------------------

// What the JPEG error path frees, kept outside the frame that sets the recovery point.
struct JpegWriteState {
  jpeg_compress_struct cinfo;
  ImageJpegError err;
  u8* row;
  unsigned char* mem;  // libjpeg's memory destination (malloc'd by the library)
  unsigned long mem_size;
};

static i32 JpegWrite(JpegWriteState* s, const u8* bgra, i32 width, i32 height, i32 quality) {
  jpeg_compress_struct* c = &s->cinfo;
  c->err = ImageJpegSetErrorManager(&s->err);
  if (setjmp(s->err.jump)) return -2;
  jpeg_create_compress(c);
  jpeg_mem_dest(c, &s->mem, &s->mem_size);
  c->image_width = static_cast<JDIMENSION>(width);
  c->image_height = static_cast<JDIMENSION>(height);
  c->input_components = 3;
  c->in_color_space = JCS_RGB;
  jpeg_set_defaults(c);
  jpeg_set_quality(c, quality, TRUE);
  jpeg_start_compress(c, TRUE);
  s->row = static_cast<u8*>(std::malloc(static_cast<size_t>(width) * 3));
  if (!s->row) return -2;
  const size_t stride = static_cast<size_t>(width) * 4;
  for (i32 y = 0; y < height; y++) {
    const u8* src = bgra + stride * static_cast<size_t>(y);
    u8* d = s->row;
    for (i32 x = 0; x < width; x++, src += 4, d += 3) {
      d[0] = src[2];
      d[1] = src[1];
      d[2] = src[0];
    }
    JSAMPROW rows[1] = {s->row};
    jpeg_write_scanlines(c, rows, 1);
  }
  jpeg_finish_compress(c);
  return 0;
}

i32 ImageJpegEncode(const u8* bgra, i32 width, i32 height, i32 quality, ImageOutBuffer* out) {
  ImageOutFree(out);
  if (!bgra || width <= 0 || height <= 0) return -2;
  JpegWriteState* s = static_cast<JpegWriteState*>(std::calloc(1, sizeof(JpegWriteState)));
  if (!s) return -2;
  i32 r = JpegWrite(s, bgra, width, height, quality < 1 ? 1 : (quality > 100 ? 100 : quality));
  jpeg_destroy_compress(&s->cinfo);
  std::free(s->row);
  if (r == 0) {
    // Handed over as it stands: the library's block becomes the output buffer.
    out->data = s->mem;
    out->size = s->mem_size;
    out->capacity = s->mem_size;
  } else {
    std::free(s->mem);
  }
  std::free(s);
  return r;
}

// ---- BMP -------------------------------------------------------------------------------------

static void PutLe(u8* p, u32 v, int n) {
  for (int i = 0; i < n; i++) p[i] = static_cast<u8>(v >> (8 * i));
}

i32 ImageBmpEncode(const u8* bgra, i32 width, i32 height, ImageOutBuffer* out) {
  ImageOutFree(out);
  if (!bgra || width <= 0 || height <= 0) return -1;
  const u64 row = (static_cast<u64>(width) * 3 + 3) & ~u64{3};
  const u64 data_size = row * static_cast<u64>(height);
  if (data_size > UINT32_MAX - IMAGE_BMP_HEADER_SIZE) return -1;
  const size_t total = static_cast<size_t>(data_size) + IMAGE_BMP_HEADER_SIZE;
  u8* file = static_cast<u8*>(std::calloc(1, total));
  if (!file) return -1;
  file[0] = 'B';
  file[1] = 'M';
  PutLe(file + 2, static_cast<u32>(total), 4);
  PutLe(file + 10, IMAGE_BMP_HEADER_SIZE, 4);
  PutLe(file + 14, 40, 4);
  PutLe(file + 18, static_cast<u32>(width), 4);
  PutLe(file + 22, static_cast<u32>(height), 4);
  PutLe(file + 26, 1, 2);
  PutLe(file + 28, 24, 2);
  const size_t stride = static_cast<size_t>(width) * 4;
  for (i32 y = 0; y < height; y++) {
    // File row y is picture row height - 1 - y: the rows are stored bottom-up.
    const u8* src = bgra + stride * static_cast<size_t>(height - 1 - y);
    u8* d = file + IMAGE_BMP_HEADER_SIZE + static_cast<size_t>(row) * static_cast<size_t>(y);
    for (i32 x = 0; x < width; x++, src += 4, d += 3) {
      d[0] = src[0];
      d[1] = src[1];
      d[2] = src[2];
    }
  }
  out->data = file;
  out->size = total;
  out->capacity = total;
  return 0;
}

// ---- Writers ---------------------------------------------------------------------------------

// Writes the encoded file in one go; "File Create Error." and -1 when it cannot be written.
static i32 WriteFile(const char* path, ImageOutBuffer* out) {
  const i32 r = PlatFileWriteAtomic(path, out->data, out->size) == 0 ? 0 : -1;
  ImageOutFree(out);
  if (r != 0) ErrMessageBoxF("", "%s", "File Create Error.");
  return r;
}

i32 ImageSaveJpeg(LayerRecord* rec, const char* path, i32 quality) {
  if (!LayerHasPixels(rec) || !path) return -1;
  ImageOutBuffer out{};
  if (ImageJpegEncode(rec->pixels, rec->width, rec->height, quality, &out) != 0) return -2;
  return WriteFile(path, &out);
}

i32 ImageSavePng(LayerRecord* rec, const char* path, i32 level) {
  if (!LayerHasPixels(rec) || !path) return -1;
  if (!rec->has_alpha) {
    const size_t n = static_cast<size_t>(rec->width) * static_cast<size_t>(rec->height);
    for (size_t i = 0; i < n; i++) rec->pixels[i * 4 + 3] = 255;
  }
  const ImagePngFormat fmt{level < 0 ? 0 : (level > 9 ? 9 : level), 1, 1, 1};
  ImageOutBuffer out{};
  const i32 r = ImagePngEncode(rec->pixels, rec->width, rec->height, &fmt, &out);
  if (r == -2) return 0;  // the library's error ends the write as a finished one: nothing is written
  if (r != 0) return -1;
  if (WriteFile(path, &out) != 0) return -1;
  return g_QuitRequested.load() ? 1 : 0;
}

i32 ImageSaveBmp(LayerRecord* rec, const char* path) {
  if (!LayerHasPixels(rec) || !path) return -1;
  ImageOutBuffer out{};
  if (ImageBmpEncode(rec->pixels, rec->width, rec->height, &out) != 0) {
    ErrTrace("bmp: no memory for %d x %d", rec->width, rec->height);
    return -1;
  }
  return WriteFile(path, &out);
}
