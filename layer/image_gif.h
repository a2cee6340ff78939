// GIF decoding: the block parser, a variable-code-length LZW decoder and the frame records that
// a layer keeps of every image of its last GIF. One decode at a time (the file's bytes are held
// in globals while it runs). Every read past the end of the file gives zero bytes, so a short
// file decodes as far as it goes and then fails on its missing trailer; no table index, row or
// record is ever written outside its block.
#pragma once
#include "common/types.h"

enum {
  IMAGE_GIF_MAX_FRAMES = 8192,       // entries of a layer's frame table
  IMAGE_GIF_MAX_CODES = 4096,        // codes 0 to 4095, at most 12 bits wide
  IMAGE_GIF_NO_CODE = 4098,          // "no code": the prefix of an undefined entry
  IMAGE_GIF_MAX_MIN_CODE_SIZE = 11,  // 12 would make the clear code 4096
  IMAGE_GIF_PALETTE_OFFSET = 64,     // of a frame record
  IMAGE_GIF_INDEX_OFFSET = 1024,     // of a frame record
  IMAGE_GIF_RECORD_SPARE = 16,       // bytes behind a record's indexes
};
// A file may ask for 8192 images of 8192 x 8192; images beyond this many record bytes in one
// file are read over without a record.
inline constexpr u64 kImageGifRecordBudget = u64{256} << 20;

// The fixed head of a frame record; the image's width * height colour indexes (rows top-down)
// follow at IMAGE_GIF_INDEX_OFFSET, then IMAGE_GIF_RECORD_SPARE zero bytes.
struct ImageGifFrame {
  u32 left, top, width, height;
  u32 disposal;     // (packed >> 2) & 7 of the graphic control in force
  u32 transparent;  // its transparency flag
  u32 delay;        // hundredths of a second
  u32 transparent_index;
  u32 loop_count;  // from an application extension; 1 until one is read
  u8 reserved1[IMAGE_GIF_PALETTE_OFFSET - 36];
  u8 palette[768];  // the palette in force for the image: R, G, B per entry
  u8 reserved2[IMAGE_GIF_INDEX_OFFSET - IMAGE_GIF_PALETTE_OFFSET - 768];
};
static_assert(sizeof(ImageGifFrame) == IMAGE_GIF_INDEX_OFFSET, "indexes start at byte 1024");

inline u8* ImageGifIndexes(ImageGifFrame* f) { return reinterpret_cast<u8*>(f) + IMAGE_GIF_INDEX_OFFSET; }

// The LZW decoder of one image's code stream.
struct ImageGifState {
  u32 min_code_size;
  u32 clear_code, end_code;
  u32 next_free;  // one past the entry the next code defines, plus one
  u32 code_width, code_limit;
  u32 last_code;  // IMAGE_GIF_NO_CODE after a clear
  u32 stack_size;
  u32 bits, bit_count;
  u8 end_of_data;  // the terminator sub-block has been read
  u8 block_pos, block_len;
  u8 block[256];
  u8 stack[IMAGE_GIF_MAX_CODES];
  u8 suffix[IMAGE_GIF_MAX_CODES];
  i32 prefix[IMAGE_GIF_MAX_CODES];
};

// Sets up the state for an image whose minimum code size is given (at most 11).
void ImageGifStateInit(ImageGifState* s, u32 min_code_size);
// The next code of the image's data.
u32 ImageGifReadCode(ImageGifState* s);
// The next byte of the image's data sub-blocks; 0 from the terminator on.
u8 ImageGifNextByte(ImageGifState* s);
// Fills a row of colour indexes; the output stack and the last code carry over to the next
// row. 0, or -1 when an undefined code or the end code ended the row early (the rest of the row
// keeps what it held).
i32 ImageGifDecodeLine(ImageGifState* s, u8* row, u32 length);
// Reads over the rest of the image's data sub-blocks.
void ImageGifSkipData(ImageGifState* s);

// A zeroed block with its size kept in front of it; null when memory runs out.
void* ImageGifAllocBlock(u64 n);
void ImageGifFreeBlock(void* block);
// Frees every record of a frame table and the table itself.
void ImageGifFreeFrames(ImageGifFrame** table);
// A new, empty frame table; null when memory runs out.
ImageGifFrame** ImageGifNewFrameTable();

// The decoder for type 4: every image into a record of pic->gif_frames (a temporary table when
// it is null), the first one drawn into the logical screen. 0, or -1 (the loader raises 100215).
struct ImagePicture;
int ImageDecodeGif(const u8* data, u32 size, const char* name, ImagePicture* pic);
