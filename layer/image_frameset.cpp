// JPEG frame sets (see image_frameset.h). One decompression object serves every frame of the
// run: it is made on the first frame shown and put back to its start state after each stream,
// after a library error too (the jump point is set again for every stream), so a damaged frame
// never leaves it unusable.
#include "layer/image_frameset.h"

#include <jerror.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "core/err.h"
#include "core/pack.h"
#include "layer/image.h"
#include "layer/image_jpeg.h"
#include "layer/layer.h"

enum { FRAME_ROWS_AT_ONCE = 16 };

namespace {

struct FrameJpegDecoder {
  jpeg_decompress_struct cinfo;
  ImageJpegError err;
  ImageJpegSource src;
  jpeg_progress_mgr progress;
};

}  // namespace

static FrameJpegDecoder g_FrameJpegDecoder;
static u8 g_FrameJpegReady;

static i32 ReadI32(const u8* p) {
  u32 v = u32{p[0]} | u32{p[1]} << 8 | u32{p[2]} << 16 | u32{p[3]} << 24;
  return static_cast<i32>(v);
}

// ---- Loading ---------------------------------------------------------------------------------

// The header and the three tables fit the file, and every frame's two streams lie inside it,
// behind the tables (unscrambling a stream must never change a table already checked).
static bool TablesValid(const u8* d, u32 size) {
  if (size < IMAGE_FRAMESET_HEADER_SIZE) return false;
  i32 n = ReadI32(d + IMAGE_FRAMESET_OFS_COUNT);
  if (n < 0) return false;
  u64 tables_end = IMAGE_FRAMESET_HEADER_SIZE + u64{12} * static_cast<u64>(n);
  if (tables_end > size) return false;
  const u8* offsets = d + IMAGE_FRAMESET_HEADER_SIZE;
  for (i32 k = 0; k < n; k++) {
    i32 off = ReadI32(offsets + 4 * k);
    i32 colour = ReadI32(offsets + 4 * (static_cast<u64>(n) + k));
    i32 alpha = ReadI32(offsets + 4 * (2 * static_cast<u64>(n) + k));
    if (off < 0 || colour < 0 || alpha < 0) return false;
    u64 streams = static_cast<u64>(colour) + static_cast<u64>(alpha);
    if (static_cast<u64>(off) + streams > size) return false;
    if (streams > 0 && static_cast<u64>(off) < tables_end) return false;
  }
  return true;
}

i32 ImageFrameSetTake(LayerRecord* rec, u8* data, u32 size, const char* name) {
  if (!rec || !data || !TablesValid(data, size)) {
    std::free(data);
    ErrRaiseAtScriptF(ERR_FILE_READ, 1, name);
    return -1;
  }
  LayerFreeFrameSet(rec);
  ImageFrameSet* set = static_cast<ImageFrameSet*>(std::calloc(1, sizeof(ImageFrameSet)));
  if (!set) {
    std::free(data);
    ErrRaise(ERR_OUT_OF_MEMORY, 1);
    return 0;
  }
  set->frame_count = ReadI32(data + IMAGE_FRAMESET_OFS_COUNT);
  set->alpha_flag = ReadI32(data + IMAGE_FRAMESET_OFS_ALPHA_FLAG);
  for (int i = 0; i < 3; i++) set->values[i] = ReadI32(data + IMAGE_FRAMESET_OFS_VALUES + 4 * i);
  set->data = data;
  set->size = size;
  const size_t n = static_cast<size_t>(set->frame_count);
  set->offsets = data + IMAGE_FRAMESET_HEADER_SIZE;
  set->colour_sizes = set->offsets + 4 * n;
  set->alpha_sizes = set->offsets + 8 * n;
  rec->frame_set = set;
  for (size_t k = 0; k < n; k++) {
    u8* colour = data + ReadI32(set->offsets + 4 * k);
    size_t colour_size = static_cast<size_t>(ReadI32(set->colour_sizes + 4 * k));
    ImageFrameSetScramble(colour, colour_size);
    ImageFrameSetScramble(colour + colour_size, static_cast<size_t>(ReadI32(set->alpha_sizes + 4 * k)));
  }
  return 0;
}

i32 ImageFrameSetLoad(ObjNode* node, const char* name) {
  LayerRecord* rec = LayerOf(node);
  if (!rec || !name) return -1;
  PackLookup lookup{};
  i32 found = PackFindAnySource(&lookup, name, 0);
  if (found <= 0) {
    i32 code = found == 0 ? ERR_FILE_MISSING : found == -2 ? ERR_PACK_OPEN : ERR_FILE_READ;
    ErrRaiseF(code, 1, name);
    ErrRaiseAtScriptF(ERR_FILE_READ, 1, name);
    return -1;
  }
  if (PackReadBySource(&lookup, name) != 0) {
    std::free(lookup.data);
    ErrRaiseAtScriptF(ERR_FILE_READ, 1, name);
    return -1;
  }
  return ImageFrameSetTake(rec, lookup.data, lookup.size, name);
}

void ImageFrameSetFree(ImageFrameSet* set) {
  if (!set) return;
  std::free(set->data);
  std::free(set->spare);
  std::free(set);
}

// ---- Decoding --------------------------------------------------------------------------------

u8* ImageFrameAllocPixels(i32 width, i32 height) {
  if (width < 1 || height < 1 || width > IMAGE_MAX_SIZE || height > IMAGE_MAX_SIZE) {
    ImageRaiseTooLarge(width, height);
    return nullptr;
  }
  return ImageAllocPixels(nullptr, width, height, nullptr);
}

// 0, or -2 when the library could not make the object.
static i32 EnsureDecoder() {
  if (g_FrameJpegReady) return 0;
  FrameJpegDecoder* d = &g_FrameJpegDecoder;
  std::memset(d, 0, sizeof *d);
  d->cinfo.err = ImageJpegSetErrorManager(&d->err);
  if (setjmp(d->err.jump)) {
    jpeg_destroy_decompress(&d->cinfo);
    return -2;
  }
  jpeg_create_decompress(&d->cinfo);
  ImageJpegLimitScans(&d->cinfo, &d->progress);
  g_FrameJpegReady = 1;
  return 0;
}

// The spare buffer at the frame's size (kept when it already has it). 0, or -1 after the error.
static i32 SizeSpare(ImageFrameSet* set, i32 width, i32 height) {
  if (set->spare && set->spare_width == width && set->spare_height == height) return 0;
  u8* p = ImageFrameAllocPixels(width, height);
  if (!p) return -1;
  std::free(set->spare);
  set->spare = p;
  set->spare_width = width;
  set->spare_height = height;
  return 0;
}

// Holds no object with a destructor: the library leaves through longjmp. Every way out puts
// the object back to its start state.
i32 ImageFrameDecodeColour(const u8* data, u32 size, ImageFrameSet* set) {
  if (EnsureDecoder() != 0) return -2;
  jpeg_decompress_struct* c = &g_FrameJpegDecoder.cinfo;
  if (setjmp(g_FrameJpegDecoder.err.jump)) {
    jpeg_abort_decompress(c);
    return -2;
  }
  ImageJpegSetMemorySource(c, &g_FrameJpegDecoder.src, data, size);
  jpeg_read_header(c, TRUE);
  i32 width = static_cast<i32>(std::min<JDIMENSION>(c->image_width, 0x7FFFFFFF));
  i32 height = static_cast<i32>(std::min<JDIMENSION>(c->image_height, 0x7FFFFFFF));
  bool direct = false;
  int expected = ImageJpegChooseOutput(c, &direct);
  // The size is settled before the library allocates anything for it.
  if (expected < 0 || SizeSpare(set, width, height) != 0) {
    jpeg_abort_decompress(c);
    return expected < 0 ? -2 : -1;
  }
  jpeg_start_decompress(c);
  int components = c->output_components;
  if (components != expected || static_cast<i32>(c->output_width) != width ||
      static_cast<i32>(c->output_height) != height) {
    jpeg_abort_decompress(c);
    return -2;
  }
  JSAMPARRAY samples = nullptr;
  if (!direct)
    samples = (*c->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(c), JPOOL_IMAGE,
                                      static_cast<JDIMENSION>(width * components + 16), 1);
  bool inverted = c->saw_Adobe_marker;
  while (c->output_scanline < c->output_height) {
    u8* row = set->spare + static_cast<size_t>(c->output_scanline) * width * 4;
    if (direct) {
      // Rows straight into the picture, as many as the library gives at once.
      JSAMPROW rows[FRAME_ROWS_AT_ONCE];
      JDIMENSION want = std::min<JDIMENSION>(FRAME_ROWS_AT_ONCE, c->output_height - c->output_scanline);
      for (JDIMENSION r = 0; r < want; r++) rows[r] = row + static_cast<size_t>(r) * width * 4;
      if (jpeg_read_scanlines(c, rows, want) == 0) ERREXIT(c, JERR_INPUT_EOF);
      continue;
    }
    if (jpeg_read_scanlines(c, samples, 1) != 1) ERREXIT(c, JERR_INPUT_EOF);
    ImageJpegConvertRow(samples[0], row, width, components, inverted);
  }
  jpeg_finish_decompress(c);
  jpeg_abort_decompress(c);
  return 0;
}

i32 ImageFrameDecodeAlpha(const u8* data, u32 size, ImageFrameSet* set) {
  if (EnsureDecoder() != 0) return -2;
  jpeg_decompress_struct* c = &g_FrameJpegDecoder.cinfo;
  if (setjmp(g_FrameJpegDecoder.err.jump)) {
    jpeg_abort_decompress(c);
    return -2;
  }
  ImageJpegSetMemorySource(c, &g_FrameJpegDecoder.src, data, size);
  jpeg_read_header(c, TRUE);
  if (c->jpeg_color_space != JCS_GRAYSCALE) {
    // Only a grey picture carries alpha; a colour one leaves the alpha bytes as they are.
    jpeg_abort_decompress(c);
    return 0;
  }
  c->out_color_space = JCS_GRAYSCALE;
  jpeg_start_decompress(c);
  if (c->output_components != 1) {
    jpeg_abort_decompress(c);
    return 0;
  }
  JSAMPARRAY samples =
      (*c->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(c), JPOOL_IMAGE, c->output_width + 16, FRAME_ROWS_AT_ONCE);
  // An alpha picture of another size writes only where both pictures have pixels.
  const u32 rows = std::min<u32>(c->output_height, static_cast<u32>(set->spare_height));
  const u32 cols = std::min<u32>(c->output_width, static_cast<u32>(set->spare_width));
  while (c->output_scanline < rows) {
    const u32 first = c->output_scanline;
    JDIMENSION got = jpeg_read_scanlines(c, samples, std::min<JDIMENSION>(FRAME_ROWS_AT_ONCE, rows - first));
    if (got == 0) ERREXIT(c, JERR_INPUT_EOF);
    for (JDIMENSION r = 0; r < got; r++) {
      u8* row = set->spare + static_cast<size_t>(first + r) * set->spare_width * 4 + 3;
      const u8* s = samples[r];
      for (u32 x = 0; x < cols; x++) row[x * 4] = s[x];
    }
  }
  if (c->output_scanline == c->output_height) jpeg_finish_decompress(c);
  jpeg_abort_decompress(c);
  return 0;
}

i32 ImageFrameSetShow(ObjNode* node, i64 k) {
  LayerRecord* rec = LayerOf(node);
  ImageFrameSet* set = rec ? rec->frame_set : nullptr;
  if (!set || !set->data || set->frame_count <= 0) return -1;
  const size_t i = static_cast<size_t>(std::clamp<i64>(k, 0, set->frame_count - 1));
  const u8* colour = set->data + ReadI32(set->offsets + 4 * i);
  const u32 colour_size = static_cast<u32>(ReadI32(set->colour_sizes + 4 * i));
  const u32 alpha_size = static_cast<u32>(ReadI32(set->alpha_sizes + 4 * i));
  i32 r = ImageFrameDecodeColour(colour, colour_size, set);
  // A frame without an alpha stream keeps the opaque alpha of its colour picture.
  if (r == 0 && set->alpha_flag != 0 && alpha_size > 0)
    r = ImageFrameDecodeAlpha(colour + colour_size, alpha_size, set);
  if (r != 0) return r;

  if (set->spare_width != rec->width || set->spare_height != rec->height) LayerMarkDirty(node);
  std::swap(rec->pixels, set->spare);
  std::swap(rec->width, set->spare_width);
  std::swap(rec->height, set->spare_height);
  // The layer's old buffer is the next spare only when it has the size it claims.
  if (!set->spare) set->spare_width = set->spare_height = 0;
  rec->has_alpha = set->alpha_flag == 1 ? 1 : 0;
  LayerMarkDirty(node);
  return 0;
}

void ImageFrameReset() {
  if (g_FrameJpegReady) jpeg_destroy_decompress(&g_FrameJpegDecoder.cinfo);
  g_FrameJpegReady = 0;
}
