// JPEG frame sets: one file holding a numbered series of JPEG pictures (frames), each with an
// optional greyscale JPEG that carries its alpha. A layer holds at most one set and shows one
// frame of it at a time. The header and the tables are checked whole when a set is loaded, before
// a byte is unscrambled, so showing a frame trusts them. A frame is decoded into a spare buffer
// and swapped in only when both of its streams decoded: a damaged frame leaves the layer's
// picture as it was. The file layout and the scrambling below are shared with the kit's writer.
#pragma once
#include <cstddef>

#include "common/types.h"

struct LayerRecord;
struct ObjNode;

// The file, little-endian signed 32-bit values, n = frame count: the header, then three tables
// of n entries at 32 (offset of each colour stream from the file's start), 32 + 4n (its size)
// and 32 + 8n (the size of the alpha stream that directly follows it; 0 when none).
enum {
  IMAGE_FRAMESET_HEADER_SIZE = 32,
  IMAGE_FRAMESET_OFS_COUNT = 8,
  IMAGE_FRAMESET_OFS_ALPHA_FLAG = 12,  // 1: the layer shows the alpha; other non-zero: decoded only
  IMAGE_FRAMESET_OFS_VALUES = 16,      // three values the script can read
  IMAGE_FRAMESET_SCRAMBLE = 0xA7,
};

// Byte i of every stream is stored XOR-ed with (IMAGE_FRAMESET_SCRAMBLE + i mod 16) & 255, i
// counted from the start of that stream. Applying it twice gives the bytes back.
inline void ImageFrameSetScramble(u8* p, size_t n) {
  for (size_t i = 0; i < n; i++) p[i] ^= static_cast<u8>(IMAGE_FRAMESET_SCRAMBLE + (i & 15));
}

struct ImageFrameSet {
  i32 frame_count;
  i32 alpha_flag;
  i32 values[3];
  u8* data;  // the file's bytes, owned, unscrambled
  u32 size;
  const u8* offsets;  // the three tables, inside data
  const u8* colour_sizes;
  const u8* alpha_sizes;
  u8* spare;  // the next frame is decoded here (ImageFrameAllocPixels size)
  i32 spare_width, spare_height;
};

// Finds name through the four file sources, reads it and makes it the layer's set. 0, or -1
// after 104060 / 104010 / 901040 and 104010 at the script position.
i32 ImageFrameSetLoad(ObjNode* node, const char* name);
// Makes the file's bytes (a malloc'd block, taken over) the record's set: a header or table that
// does not fit the file raises 104010 at the script position and gives -1, the old set kept.
// Otherwise the old set is freed and the streams unscrambled; 0 (also after 100010 when the set
// record cannot be allocated: the layer then has none).
i32 ImageFrameSetTake(LayerRecord* rec, u8* data, u32 size, const char* name);
// Shows frame k (clamped to the set) in the layer and marks it dirty. 0 shown; -1 no set or no
// frame, or no memory for the pixels (after its error); -2 a damaged stream (nothing reported).
i32 ImageFrameSetShow(ObjNode* node, i64 k);
// Decodes a colour stream into the set's spare buffer (sized to the frame). 0, -1 no pixels
// (after 100010), -2 library error.
i32 ImageFrameDecodeColour(const u8* data, u32 size, ImageFrameSet* set);
// A grey stream's samples into the alpha bytes of the spare buffer, over the rows and columns
// both pictures have; a colour stream leaves them. 0, or -2 library error.
i32 ImageFrameDecodeAlpha(const u8* data, u32 size, ImageFrameSet* set);
// A pixel buffer for a frame: width and height 1 to 8192, else the size message and 100010.
u8* ImageFrameAllocPixels(i32 width, i32 height);
void ImageFrameSetFree(ImageFrameSet* set);
// Tests and shutdown: destroys the shared decompression object.
void ImageFrameReset();
