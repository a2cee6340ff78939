// JPEG decoder over libjpeg's 6b interface: a memory source, an error exit that jumps back, and
// rows converted to B, G, R, 255 (RGB and grey straight into the picture's rows when the library
// can write BGRA itself; CMYK converted here). Every library error, a stream that ends early
// included, ends in the failure result with the decompression object destroyed.
#include "layer/image_jpeg.h"

#include <jerror.h>

#include <cstring>

#include "core/err.h"
#include "layer/image.h"

#if defined(JCS_ALPHA_EXTENSIONS)
static const bool kLibraryWritesBgra = true;
#else
static const bool kLibraryWritesBgra = false;
#endif

// A progressive file can hold any number of scans; far more than any encoder writes is taken
// as a hostile file rather than decoded for minutes.
enum { JPEG_MAX_SCANS = 1000 };

u8 g_ImageJpegDirect = 1;

void ImageJpegErrorExit(j_common_ptr cinfo) {
  ImageJpegError* err = reinterpret_cast<ImageJpegError*>(cinfo->err);
  (*cinfo->err->output_message)(cinfo);
  std::longjmp(err->jump, 1);
}

static void JpegOutputMessage(j_common_ptr cinfo) {
  char text[JMSG_LENGTH_MAX];
  (*cinfo->err->format_message)(cinfo, text);
  ErrTrace("jpeg: %s", static_cast<const char*>(text));
}

static void JpegEmitMessage(j_common_ptr cinfo, int level) {
  if (level >= 0) return;  // trace messages
  // A stream that ended early would otherwise decode as a grey tail and report success.
  if (cinfo->err->msg_code == JWRN_JPEG_EOF) ImageJpegErrorExit(cinfo);
  cinfo->err->num_warnings++;
}

jpeg_error_mgr* ImageJpegSetErrorManager(ImageJpegError* err) {
  jpeg_std_error(&err->mgr);
  err->mgr.error_exit = ImageJpegErrorExit;
  err->mgr.emit_message = JpegEmitMessage;
  err->mgr.output_message = JpegOutputMessage;
  return &err->mgr;
}

static void SourceInit(j_decompress_ptr cinfo) {
  ImageJpegSource* src = reinterpret_cast<ImageJpegSource*>(cinfo->src);
  src->mgr.next_input_byte = src->data;
  src->mgr.bytes_in_buffer = 0;
}

// The whole stream is handed over on the first request; a second request means the stream
// ended before the decoder was done.
static boolean SourceFill(j_decompress_ptr cinfo) {
  ImageJpegSource* src = reinterpret_cast<ImageJpegSource*>(cinfo->src);
  if (src->mgr.next_input_byte != src->data || src->size == 0) ERREXIT(cinfo, JERR_INPUT_EOF);
  src->mgr.bytes_in_buffer = src->size;
  return TRUE;
}

static void SourceSkip(j_decompress_ptr cinfo, long n) {
  ImageJpegSource* src = reinterpret_cast<ImageJpegSource*>(cinfo->src);
  if (n <= 0) return;
  if (src->mgr.bytes_in_buffer == 0 && src->mgr.next_input_byte == src->data) SourceFill(cinfo);
  size_t skip = static_cast<size_t>(n) < src->mgr.bytes_in_buffer ? static_cast<size_t>(n) : src->mgr.bytes_in_buffer;
  src->mgr.next_input_byte += skip;
  src->mgr.bytes_in_buffer -= skip;
  if (static_cast<size_t>(n) > skip) ERREXIT(cinfo, JERR_INPUT_EOF);
}

static void SourceTerm(j_decompress_ptr) {}

void ImageJpegSetMemorySource(j_decompress_ptr cinfo, ImageJpegSource* src, const u8* data, u32 size) {
  src->data = data;
  src->size = size;
  src->mgr.next_input_byte = data;
  src->mgr.bytes_in_buffer = 0;
  src->mgr.init_source = SourceInit;
  src->mgr.fill_input_buffer = SourceFill;
  src->mgr.skip_input_data = SourceSkip;
  src->mgr.resync_to_restart = jpeg_resync_to_restart;
  src->mgr.term_source = SourceTerm;
  cinfo->src = &src->mgr;
}

static void JpegProgress(j_common_ptr cinfo) {
  if (cinfo->is_decompressor && reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > JPEG_MAX_SCANS)
    ERREXIT(cinfo, JERR_BAD_SCAN_SCRIPT);
}

void ImageJpegLimitScans(j_decompress_ptr cinfo, jpeg_progress_mgr* progress) {
  progress->progress_monitor = JpegProgress;
  cinfo->progress = progress;
}

int ImageJpegChooseOutput(j_decompress_ptr cinfo, bool* direct) {
  *direct = false;
  switch (cinfo->jpeg_color_space) {
    case JCS_GRAYSCALE:
    case JCS_YCbCr:
    case JCS_RGB: *direct = kLibraryWritesBgra && g_ImageJpegDirect;
#if defined(JCS_ALPHA_EXTENSIONS)
      if (*direct) cinfo->out_color_space = JCS_EXT_BGRA;
#endif
      break;
    case JCS_CMYK:
    case JCS_YCCK: cinfo->out_color_space = JCS_CMYK; break;
    default: return -1;
  }
  return *direct || cinfo->out_color_space == JCS_CMYK ? 4 : cinfo->out_color_space == JCS_GRAYSCALE ? 1 : 3;
}

static u8 Mul255(u32 a, u32 b) { return static_cast<u8>((a * b + 127) / 255); }

void ImageJpegConvertRow(const u8* s, u8* d, i32 width, int components, bool inverted) {
  switch (components) {
    case 3:
      for (i32 x = 0; x < width; x++, s += 3, d += 4) {
        d[0] = s[2];
        d[1] = s[1];
        d[2] = s[0];
        d[3] = 255;
      }
      break;
    case 1:
      for (i32 x = 0; x < width; x++, d += 4) {
        d[0] = d[1] = d[2] = s[x];
        d[3] = 255;
      }
      break;
    case 4:
      for (i32 x = 0; x < width; x++, s += 4, d += 4) {
        u32 c = s[0], m = s[1], y = s[2], k = s[3];
        if (!inverted) c = 255 - c, m = 255 - m, y = 255 - y, k = 255 - k;
        d[0] = Mul255(y, k);
        d[1] = Mul255(m, k);
        d[2] = Mul255(c, k);
        d[3] = 255;
      }
      break;
  }
}

// 0, -2 library error or a colour layout that is not decoded, -3 too large or no memory.
// Holds no object with a destructor: the library leaves through longjmp.
static int JpegReadPicture(jpeg_decompress_struct* cinfo, ImageJpegError* err, ImageJpegSource* src,
                           jpeg_progress_mgr* progress, const u8* data, u32 size, const char* name, ImagePicture* pic,
                           ImageRowsDone* done) {
  if (setjmp(err->jump)) {
    jpeg_destroy_decompress(cinfo);
    done->ClearRest();
    return -2;
  }
  jpeg_create_decompress(cinfo);
  ImageJpegSetMemorySource(cinfo, src, data, size);
  ImageJpegLimitScans(cinfo, progress);
  jpeg_read_header(cinfo, TRUE);
  if (cinfo->image_width > IMAGE_MAX_SIZE || cinfo->image_height > IMAGE_MAX_SIZE) {
    jpeg_destroy_decompress(cinfo);
    ErrRaiseAtScriptF(IMAGE_ERR_TOO_LARGE, 1, name);
    return -3;
  }
  bool direct = false;
  int expected = ImageJpegChooseOutput(cinfo, &direct);
  if (expected < 0) {
    jpeg_destroy_decompress(cinfo);
    return -2;
  }
  jpeg_start_decompress(cinfo);
  i32 width = static_cast<i32>(cinfo->output_width);
  i32 height = static_cast<i32>(cinfo->output_height);
  int components = cinfo->output_components;
  if (components != expected) {
    jpeg_destroy_decompress(cinfo);
    return -2;
  }
  JSAMPARRAY samples = nullptr;
  if (!direct)
    samples = (*cinfo->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE,
                                          static_cast<JDIMENSION>(width * components + 16), 1);
  u8* pixels = ImageAllocPixels(pic->pixels, width, height, name);
  if (!pixels) {
    jpeg_destroy_decompress(cinfo);
    return -3;
  }
  pic->pixels = pixels;
  pic->width = width;
  pic->height = height;
  done->pixels = pixels;
  done->row_bytes = static_cast<size_t>(width) * 4;
  done->height = static_cast<size_t>(height);
  bool inverted = cinfo->saw_Adobe_marker;
  while (cinfo->output_scanline < cinfo->output_height) {
    u8* row = pixels + static_cast<size_t>(cinfo->output_scanline) * width * 4;
    JSAMPROW rows[1] = {direct ? row : samples[0]};
    // The memory source never suspends, so no row means the library has given up.
    if (jpeg_read_scanlines(cinfo, rows, 1) != 1) ERREXIT(cinfo, JERR_INPUT_EOF);
    if (!direct) ImageJpegConvertRow(samples[0], row, width, components, inverted);
    done->rows = cinfo->output_scanline;
  }
  jpeg_finish_decompress(cinfo);
  jpeg_destroy_decompress(cinfo);
  return 0;
}

int ImageDecodeJpeg(const u8* data, u32 size, const char* name, ImagePicture* pic) {
  jpeg_decompress_struct cinfo;
  std::memset(&cinfo, 0, sizeof cinfo);
  ImageJpegError err;
  cinfo.err = ImageJpegSetErrorManager(&err);
  ImageJpegSource src;
  jpeg_progress_mgr progress;
  std::memset(&progress, 0, sizeof progress);
  ImageRowsDone done;
  return JpegReadPicture(&cinfo, &err, &src, &progress, data, size, name, pic, &done);
}
