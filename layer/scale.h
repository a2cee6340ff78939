// Frame scalers: nearest neighbour and bilinear (with sharpened 8-bit weights) from a rectangle of
// a source picture to a whole destination picture, through position tables built by the caller
// and read by the worker rows. Destination rows and columns whose source lies outside the
// picture are cleared to 0. The bilinear readers take one pixel right of and one row below each
// source position, which the spare bytes of every pixel buffer hold.
#pragma once
#include <vector>

#include "common/types.h"

struct WorkerJob;

extern u8 g_BilinearSharpen;  // 1: sharpen the bilinear weights (never changed)

struct FrameSharpenTables {
  u8 col[256];  // fraction -> sharpened fraction, columns
  u8 row[256];  // the same for rows
  float col_factor, row_factor;
  u8 built;
};
extern FrameSharpenTables g_BilinearSharpenTables;

// Position tables of the last scaling, one entry per destination row and column, absolute in the
// source picture (-1 before it, its size after it): nearest: source rows and columns; bilinear:
// the row in 1/256 pixel (fraction sharpened), the column's byte offset, and the column fraction
// four times as 16-bit values. Bounds are limited to 2^31 pixels either way and every position
// is worked out in 64 bits.
extern std::vector<i32> g_ScaleRowTable;
extern std::vector<i32> g_ScaleColTable;
extern std::vector<u64> g_ScaleFracTable;

// Source rectangle (inclusive pixels) of a sw x sh picture to a whole dw x dh destination, the
// rows split over the workers (job 11). 16.16 steps, accumulated in 64 bits.
void FrameScaleNearest(u8* dst, const u8* src, i64 left, i64 top, i64 right, i64 bottom, i32 sw, i32 sh, i32 dw,
                       i32 dh);
// Source bounds in hundredths of a pixel, destination size times 100; rows over the workers (job
// 21). FrameScaleBilinear does the same on the calling thread, combining the two horizontal sums
// after dropping their low bytes (so its results may differ from the threaded ones by a unit).
void FrameScaleBilinearThreaded(u8* dst, const u8* src, i64 left, i64 top, i64 right, i64 bottom, i32 sw, i32 sh,
                                i64 dw100, i64 dh100);
void FrameScaleBilinear(u8* dst, const u8* src, i64 left, i64 top, i64 right, i64 bottom, i32 sw, i32 sh, i64 dw100,
                        i64 dh100);
// Partial redos of a destination that already holds the whole scaling of the same source with
// the same arguments: only the destination pixels that read the changed source rectangle
// (cl, ct)-(cr, cb), inclusive, are scaled again, on the calling thread, with the same bytes
// the whole scaling gives (threaded_sums: those of FrameScaleBilinearThreaded). Returns the
// destination rectangle redone (right and bottom exclusive; empty when none).
struct ScaleRect {
  i32 x0, y0, x1, y1;
};
ScaleRect FrameScaleNearestPart(u8* dst, const u8* src, i64 left, i64 top, i64 right, i64 bottom, i32 sw, i32 sh,
                                i32 dw, i32 dh, i32 cl, i32 ct, i32 cr, i32 cb);
ScaleRect FrameScaleBilinearPart(u8* dst, const u8* src, i64 left, i64 top, i64 right, i64 bottom, i32 sw, i32 sh,
                                 i64 dw100, i64 dh100, bool threaded_sums, i32 cl, i32 ct, i32 cr, i32 cb);
// The sharpened fraction of a raw one (builds the tables on first use).
u8 FrameSharpenFraction(u8 f);

// Worker bodies: 11 nearest rows, 21 bilinear rows.
void LayerJobScaleNearest(WorkerJob* job);
void LayerJobScaleBilinear(WorkerJob* job);

// Tests: tables forgotten.
void FrameScaleReset();
