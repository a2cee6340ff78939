// Effect kernels built for AVX2 (fx_avx2.cpp, compiled for AVX2 as a whole): called only when
// g_CpuHasAvx2 is set. Each works on whole groups of eight pixels from the start of a row and
// returns how many pixels it did (0 on a build without the AVX2 code); the caller does the rest.
#pragma once
#include "common/types.h"

// The sepia tone of fx.cpp, the same bytes.
i64 FxSepiaAvx2(u8* out, const u8* src, i64 pixels);
// The negative (colour bits flipped, alpha kept).
i64 FxNegativeAvx2(u8* out, const u8* src, i64 pixels);
// The threshold: colour 0 where B + G + R < limit, else 255 in each channel; alpha kept.
i64 FxThresholdAvx2(u8* out, const u8* src, i64 pixels, i32 limit);
