// Image writers: a layer's picture as a JPEG, PNG or 24-bit BMP file. Each file is built whole in
// memory and then written with the platform's atomic write, so a failed or interrupted save
// leaves the old file (or none), never a part. The PNG encoder is shared with the frame dump.
#pragma once
#include <cstddef>

#include "common/types.h"

struct LayerRecord;

enum {
  IMAGE_PNG_LEVEL_DEFAULT = 5,
  IMAGE_JPEG_QUALITY_DEFAULT = 90,
  IMAGE_BMP_HEADER_SIZE = 54,
};

// A growing heap block the encoders write into; free data with std::free.
struct ImageOutBuffer {
  u8* data;
  size_t size;
  size_t capacity;
};

// How ImagePngEncode writes the rows.
struct ImagePngFormat {
  i32 level;       // zlib level 0..9, or -1 for the library's default
  u8 keep_alpha;   // 1: RGBA; 0: RGB, the alpha bytes dropped
  u8 all_filters;  // 1: libpng chooses among all five row filters; 0: its default
  u8 gamma;        // 1: a gAMA chunk of 1 / 2.2
};

// Encodes width x height B, G, R, A pixels (rows top-down, stride width * 4) as a PNG into out
// (cleared first). 0; -1 for no pixels or when libpng's objects cannot be made; -2 after a
// libpng error, which a lack of memory for the output also raises (out then empty).
i32 ImagePngEncode(const u8* bgra, i32 width, i32 height, const ImagePngFormat* fmt, ImageOutBuffer* out);
// Baseline JPEG of the pixels' colour (alpha dropped) at quality 1..100. 0, or -2 after a
// libjpeg error (out then empty).
i32 ImageJpegEncode(const u8* bgra, i32 width, i32 height, i32 quality, ImageOutBuffer* out);
// A 24-bit bottom-up BMP file of the pixels, rows padded to 4 bytes. 0, or -1 when the file
// would not fit its 32-bit size field or no memory is left.
i32 ImageBmpEncode(const u8* bgra, i32 width, i32 height, ImageOutBuffer* out);
void ImageOutFree(ImageOutBuffer* out);

// The writers. path is a Shift-JIS game-data name, resolved against the game folder.
// A layer without pixels is refused with -1; a file that cannot be written shows "File Create
// Error." and gives -1.
// JPEG: 0, -1, or -2 after a libjpeg error (nothing written).
i32 ImageSaveJpeg(LayerRecord* rec, const char* path, i32 quality);
// PNG at zlib level 0..9: 0 (1 when the quit flag is found set at the end), -1; after a libpng
// error 0, with nothing written. A layer without has-alpha gets every alpha byte set to 255 first
// and keeps them.
i32 ImageSavePng(LayerRecord* rec, const char* path, i32 level);
// BMP: 0 or -1.
i32 ImageSaveBmp(LayerRecord* rec, const char* path);
