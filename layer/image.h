// Image decoding: the pixel-buffer allocator, the type-code dispatch over a file already read
// into memory, the missing-file picture and the fill of fully transparent pixels. Every decoder
// checks each size and offset it reads against the bytes it was given before using it, and a
// picture's size is stored only together with a buffer large enough for it.
// Pixels are B, G, R, A bytes, rows top-down, stride width * 4; a buffer holds
// width * height * 4 + width * 4 + 4 bytes (a spare row and pixel for the bilinear scalers).
#pragma once
#include "common/types.h"

enum {
  IMAGE_MAX_SIZE = 8192,  // no picture is wider or taller

  // Type codes of the file sources.
  IMAGE_TYPE_BMP = 1,
  IMAGE_TYPE_PNG = 2,
  IMAGE_TYPE_JPEG = 3,
  IMAGE_TYPE_GIF = 4,
  IMAGE_TYPE_PSD = 7,
  IMAGE_TYPE_ZCG = 8,
  IMAGE_TYPE_PSB = 9,
  IMAGE_TYPE_COUNT = 10,

  // Error codes of the decoders.
  IMAGE_ERR_NOT_PICTURE = 100030,
  IMAGE_ERR_BMP_SIGNATURE = 100070,
  IMAGE_ERR_BMP_DATA = 100080,
  IMAGE_ERR_BMP_ENCODING = 100090,
  IMAGE_ERR_TOO_LARGE = 100091,
  IMAGE_ERR_BMP_TOP_DOWN = 100092,
  IMAGE_ERR_PNG = 100200,
  IMAGE_ERR_JPEG = 100210,
  IMAGE_ERR_GIF = 100215,
  IMAGE_ERR_PSD = 100220,
};

// The engine's own picture format ".zcg": a 56-byte little-endian header, then either the raw
// pixels (method 0) or two complete zlib streams (method 1) whose outputs, one after the other,
// are the picture's width * height * 4 pixel bytes. The kit writes it from these same numbers.
enum {
  IMAGE_ZCG_HEADER_SIZE = 56,
  IMAGE_ZCG_OFS_WIDTH = 4,
  IMAGE_ZCG_OFS_HEIGHT = 8,
  IMAGE_ZCG_OFS_METHOD = 16,
  IMAGE_ZCG_OFS_PART1_RAW = 32,
  IMAGE_ZCG_OFS_PART1_STORED = 36,
  IMAGE_ZCG_OFS_PART2_RAW = 48,
  IMAGE_ZCG_OFS_PART2_STORED = 52,
  IMAGE_ZCG_METHOD_RAW = 0,
  IMAGE_ZCG_METHOD_ZLIB = 1,
};
inline constexpr u8 g_ImageZcgMagic[4] = {'Z', 'C', 'G', 0};

// What a decode leaves for the layer: its picture, size and whether it carries its own alpha.
// pixels is a heap block (free with std::free); the caller hands in the layer's old buffer and a
// decoder reallocates it. width and height always describe the buffer pixels points at.
// gif_frames is the layer's GIF frame table, which keeps a record of every image of a GIF; null
// for a decode without a layer (the records then go when the decode ends).
struct ImageGifFrame;
struct ImagePicture {
  u8* pixels;
  i32 width;
  i32 height;
  u8 has_alpha;
  ImageGifFrame** gif_frames = nullptr;
};

// The rows a decoder has finished so far. A file that breaks off leaves no byte of the picture
// as the allocator left it: ClearRest clears the rows after them (nothing before pixels is set).
struct ImageRowsDone {
  u8* pixels = nullptr;
  size_t row_bytes = 0, height = 0, rows = 0;
  void ClearRest() const;
};

// Every pixel whose alpha byte is 0 after decoding becomes this value whole (B = G = R = 0x80,
// A = 0, read as a little-endian word).
extern const u32 g_ImageFillColour;

// A buffer for a width x height picture: reallocates old (or allocates when old is null). A width
// above 8192 shows the size message and raises 100010; no memory raises 104030 with the file
// name (100010 without one). Returns null after raising. The spare bytes behind the picture are
// zeroed so the scalers read defined values.
u8* ImageAllocPixels(u8* old, i32 width, i32 height, const char* name);
size_t ImagePixelBytes(i32 width, i32 height);  // the size ImageAllocPixels allocates
// The size message ("ＣＧサイズが大きすぎます。") and error 100010.
void ImageRaiseTooLarge(i32 width, i32 height);

// Sets every pixel with alpha 0 to g_ImageFillColour.
void ImageFillTransparent(ImagePicture* pic);
// The same over n pixels at p; true when one was changed.
bool ImageFillTransparentRow(u8* p, size_t n);

// The missing-file picture: 1 x 1 of g_ImageFillColour, has-alpha 0. 0, or -1 after raising.
int ImageMakeEmpty(ImagePicture* pic, const char* name);

// Loads the picture a script names into the record: resolved through the file sources (a name
// found nowhere gives the missing-file picture), read by its source's reader and decoded by its
// type code; the record's source name becomes the name on success. 0, or -1 after an error.
struct LayerRecord;
i32 ImageLoad(LayerRecord* rec, const char* name);

// Decodes the bytes of a file of the given type code into pic: has-alpha starts at 0, the
// decoder for the type runs, then transparent pixels are filled and the frame pacer restamped.
// JPEG and GIF failures raise 100210 / 100215 here, any other type raises 100030 at the script
// position; the other decoders raise their own errors. 0 or -1. data is not freed.
int ImageDecode(u8 type, const u8* data, u32 size, const char* name, ImagePicture* pic);

// The decoders, each over a memory block; name is the resolved file name for the messages.
// 0 success, non-zero failure (JPEG: -2 library error, -3 too large or no memory).
typedef int (*ImageDecodeFn)(const u8* data, u32 size, const char* name, ImagePicture* pic);
// The GIF decoder is in image_gif.h.
int ImageDecodeBmp(const u8* data, u32 size, const char* name, ImagePicture* pic);
int ImageDecodePng(const u8* data, u32 size, const char* name, ImagePicture* pic);
// ImageDecodePng with the transparent pixels filled, row by row while the rows are fresh (the
// dispatcher's PNG decoder): a failed decode leaves the rows it read unfilled, as the plain one.
int ImageDecodePngFilled(const u8* data, u32 size, const char* name, ImagePicture* pic);
int ImageDecodeJpeg(const u8* data, u32 size, const char* name, ImagePicture* pic);
int ImageDecodePsd(const u8* data, u32 size, const char* name, ImagePicture* pic);
int ImageDecodeZcg(const u8* data, u32 size, const char* name, ImagePicture* pic);

// One zlib part of a ".zcg" picture: its stored stream and where its inflated bytes go. result
// is zlib's, produced the number of bytes written.
struct ImageInflatePart {
  const u8* src;
  u32 src_size;
  u8* dst;
  u32 dst_size;
  i32 result;
  u32 produced;
};
// Inflates one part (the body of drawing-worker job 1001).
void ImageJobInflate(ImageInflatePart* part);
// Inflates both parts of a picture. The drawing-worker pool replaces the hook with one that posts
// job 1001 to two workers; every hook gives the same bytes. The defaults: both parts on the
// calling thread (part 2 is not tried when part 1 failed), or part 2 on a thread of its own.
typedef void (*ImageInflatePairFn)(ImageInflatePart parts[2]);
extern ImageInflatePairFn g_ImageInflatePair;
void ImageInflatePairHere(ImageInflatePart parts[2]);
void ImageInflatePairThreaded(ImageInflatePart parts[2]);

// JPEG: decode RGB and grey pictures straight into the picture's rows through the library's
// BGRA output (1; used only when the library offers it) or through a row of samples converted
// here (0). Both give the same pixels.
extern u8 g_ImageJpegDirect;

// Tests: restore the hooks and switches to their start-up values.
void ImageReset();
