// Image loading core: the pixel-buffer allocator, the missing-file picture, the fill of fully
// transparent pixels, the PSD refusal and the dispatch of a file's bytes to the decoder of its
// type code (a table indexed by the code, null for codes that are no picture).
#include "layer/image.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <cstdlib>
#include <cstring>
#include <string>

#include "core/err.h"
#include "core/hooks.h"
#include "core/state.h"
#include "layer/image_gif.h"
#include "platform/platform.h"
#include "script/arg.h"
#include "script/cmd.h"

const u32 g_ImageFillColour = 0x00808080;

enum { CMD_SLOT_LAYER = 1 };

static const char kSizeTooLargeUtf8[] = "ＣＧサイズが大きすぎます。X=%d, Y=%d";

static const std::string& SizeTooLargeText() {
  static const std::string t = PlatUtf8ToSjis(kSizeTooLargeUtf8);
  return t;
}

size_t ImagePixelBytes(i32 width, i32 height) {
  return static_cast<size_t>(width) * 4 * static_cast<size_t>(height) + static_cast<size_t>(width) * 4 + 4;
}

void ImageRaiseTooLarge(i32 width, i32 height) {
  ErrMessageBoxF("", SizeTooLargeText().c_str(), width, height);
  ErrRaise(ERR_OUT_OF_MEMORY, 1);
}

void ImageRowsDone::ClearRest() const {
  if (pixels) std::memset(pixels + rows * row_bytes, 0, (height - rows) * row_bytes);
}

u8* ImageAllocPixels(u8* old, i32 width, i32 height, const char* name) {
  if (width > IMAGE_MAX_SIZE) {
    ImageRaiseTooLarge(width, height);
    return nullptr;
  }
  // A negative size would wrap into a huge request: treat it as one that cannot be met.
  u8* p = nullptr;
  if (width >= 0 && height >= 0) p = static_cast<u8*>(std::realloc(old, ImagePixelBytes(width, height)));
  if (!p) {
    if (name) ErrRaiseF(ERR_FILE_READ_NOMEM, 1, name);
    else ErrRaise(ERR_OUT_OF_MEMORY, 1);
    return nullptr;
  }
  std::memset(p + static_cast<size_t>(width) * 4 * static_cast<size_t>(height), 0, static_cast<size_t>(width) * 4 + 4);
  return p;
}

bool ImageFillTransparentRow(u8* p, size_t n) {
  const u32 fill = g_ImageFillColour;
  bool changed = false;
  size_t i = 0;
#if defined(__SSE2__)
  // Sixteen pixels a step, tested in four vectors; only a vector with a transparent pixel is
  // written back, its transparent words replaced whole.
  const __m128i alpha = _mm_set1_epi32(static_cast<int>(0xFF000000u));  // the fourth byte (little-endian)
  const __m128i zero = _mm_setzero_si128();
  const __m128i fill4 = _mm_set1_epi32(static_cast<int>(fill));
  for (; i + 16 <= n; i += 16, p += 64) {
    __m128i v[4], clear[4];
    for (int k = 0; k < 4; k++) {
      v[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k * 16));
      clear[k] = _mm_cmpeq_epi32(_mm_and_si128(v[k], alpha), zero);
    }
    const __m128i any = _mm_or_si128(_mm_or_si128(clear[0], clear[1]), _mm_or_si128(clear[2], clear[3]));
    if (_mm_movemask_epi8(any) == 0) continue;
    changed = true;
    for (int k = 0; k < 4; k++)
      if (_mm_movemask_epi8(clear[k]) != 0)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p + k * 16),
                         _mm_or_si128(_mm_and_si128(clear[k], fill4), _mm_andnot_si128(clear[k], v[k])));
  }
#endif
  for (; i < n; i++, p += 4)
    if (p[3] == 0) {
      std::memcpy(p, &fill, 4);
      changed = true;
    }
  return changed;
}

void ImageFillTransparent(ImagePicture* pic) {
  if (!pic->pixels || pic->width <= 0 || pic->height <= 0) return;
  ImageFillTransparentRow(pic->pixels, static_cast<size_t>(pic->width) * static_cast<size_t>(pic->height));
}

int ImageMakeEmpty(ImagePicture* pic, const char* name) {
  pic->has_alpha = 0;
  u8* p = ImageAllocPixels(pic->pixels, 1, 1, name);
  if (!p) return -1;
  pic->pixels = p;
  pic->width = 1;
  pic->height = 1;
  std::memset(p, 0, 4);
  ImageFillTransparent(pic);
  FrameStampTime();
  return 0;
}

int ImageDecodePsd(const u8*, u32, const char* name, ImagePicture*) {
  ErrRaiseAtScriptF(IMAGE_ERR_PSD, 1, name);
  return -1;
}

// Animated-character data is not a picture: the loader hands it to the character bridge before
// reading (ImageLoad); decoded on its own it leaves the picture as it was.
static int DecodePsb(const u8*, u32, const char*, ImagePicture*) { return 0; }

static const ImageDecodeFn kDecoders[IMAGE_TYPE_COUNT] = {
    nullptr,               // 0 unknown
    ImageDecodeBmp,        // 1 BMP
    ImageDecodePngFilled,  // 2 PNG
    ImageDecodeJpeg,       // 3 JPEG
    ImageDecodeGif,        // 4 GIF
    nullptr,               // 5 WAV
    nullptr,               // 6 Ogg
    ImageDecodePsd,        // 7 PSD
    ImageDecodeZcg,        // 8 own format
    DecodePsb,             // 9 animated-character data
};

int ImageDecode(u8 type, const u8* data, u32 size, const char* name, ImagePicture* pic) {
  pic->has_alpha = 0;
  ImageDecodeFn fn = type < IMAGE_TYPE_COUNT ? kDecoders[type] : nullptr;
  if (!fn) {
    ErrRaiseAtScriptF(IMAGE_ERR_NOT_PICTURE, 1, ArgCommandName(CMD_SLOT_LAYER), name);
    return -1;
  }
  int r = fn(data, size, name, pic);
  if (r != 0) {
    if (type == IMAGE_TYPE_JPEG) ErrRaise(IMAGE_ERR_JPEG, 1);
    if (type == IMAGE_TYPE_GIF) ErrRaise(IMAGE_ERR_GIF, 1);
    return -1;
  }
  // Every JPEG decoding path writes alpha 255, so a JPEG has no transparent pixel to fill; PNG
  // rows are filled by their decoder as they come.
  if (type != IMAGE_TYPE_JPEG && type != IMAGE_TYPE_PNG) ImageFillTransparent(pic);
  FrameStampTime();
  return 0;
}

void ImageReset() {
  g_ImageInflatePair = ImageInflatePairHere;
  g_ImageJpegDirect = 1;
}
