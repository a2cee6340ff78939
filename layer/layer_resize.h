// Resizing and rotating a layer's picture (the layer edit command's parameters 24 to 29). The
// result goes into the output layer when the line names one, else it replaces the source's own
// picture. A source without pixels is left alone. The result is always worked into a buffer that
// the source does not share, then installed, so a layer may be its own output.
#pragma once
#include <vector>

#include "common/types.h"

struct ObjNode;

// Filter codes.
enum {
  RESIZE_NEAREST = 10,
  RESIZE_BILINEAR = 21,
  RESIZE_BICUBIC = 31,
  RESIZE_BILINEAR_THREADED = 41,
  RESIZE_SINC = 51,
};
// Rotation variants: 11 tests every source position (rounded toward minus infinity), 12 rounds
// toward zero and clamps into the picture.
enum { ROTATE_TESTED = 11, ROTATE_CLAMPED = 12 };
enum { RESIZE_MAX_SIZE = 8192 };

// Resizes the source's picture to new_w100 / 100 x new_h100 / 100 pixels (each 1..8192, checked
// by the caller) from the rectangle x1..x2, y1..y2 in hundredths of a pixel (filters 10 and 31
// use whole pixels: the hundredths divided by 100). The output's buffer is reused when it already
// has the new size, or when its keep-buffer flag is set and it is larger both ways; a reused
// buffer keeps the output's alpha flag, a new one takes the source's. 0, or -1
// after error 100010 (the size message) or 104030 (no memory, naming out_name).
i32 LayerResize(ObjNode* src, ObjNode* out, i64 x1, i64 y1, i64 x2, i64 y2, i64 new_w100, i64 new_h100, bool has_output,
                i32 filter, const char* out_name);

// Turns the source's picture by degrees about (width / 2, height / 2); the result keeps the
// source's size. Angles that are multiples of 90 are exact; others sample the nearest source
// pixel through 16.16 steps. Pixels whose source lies outside the picture are transparent black,
// except that variant 12 into an output's reused buffer (one of the result's byte size) leaves the
// output's pixels beside each row's turned span as they were (quarter and half turns still fill
// every pixel). The result has the source's alpha flag for multiples of 180, else 1.
// 0, or -1 as for LayerResize.
i32 LayerRotate(ObjNode* src, ObjNode* out, i64 degrees, bool has_output, i32 variant, const char* out_name);

// The filters on plain buffers (the source with its spare bytes, the destination dw x dh).
// Rectangles as LayerResize takes them.
void ResizeBicubic(u8* dst, i32 dw, i32 dh, const u8* src, i32 sw, i32 sh, i64 x1, i64 y1, i64 x2, i64 y2);
void ResizeBilinearThreaded(u8* dst, i64 dw100, i64 dh100, const u8* src, i32 sw, i32 sh, i64 x1, i64 y1, i64 x2,
                            i64 y2);
// Whole picture, along rows then columns. 0, or -1 when the temporary buffer cannot be made.
i32 ResizeSinc(u8* dst, i32 dw, i32 dh, const u8* src, i32 sw, i32 sh);
// keep_outside: the pixels beside each row's span (not the quarter turns') are left as they are.
void RotatePixels(u8* dst, const u8* src, i32 w, i32 h, i64 degrees, i32 variant, bool keep_outside);

// The windowed-sinc kernel: sin(pi x) / (pi x) with pi as the float 3.1415927410125732, and the
// Lanczos window of two lobes.
double ResampleSinc(double x);
double ResampleLanczos2(double x);
// The windowed-sinc weights of one direction (1 horizontal, 0 vertical) for old size n and new
// size m: per output index its first source index, its tap count and its weights (16.16).
struct ResampleTable {
  i32 slots;                 // weights per output index
  std::vector<i64> left;     // first source index
  std::vector<i32> count;    // taps used
  std::vector<i32> weights;  // slots per output index
};
extern ResampleTable g_ResampleTables[2];
void LayerResampleSetup(i32 direction, i32 n, i32 m);
