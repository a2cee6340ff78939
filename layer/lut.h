// Lookup tables shared by the pixel kernels and blend modes, built once at engine
// initialisation before any blend table: two signed product tables (row a = 0..256, column
// k = 0..511 holds a * (k - 255) / 256, resp. / 255, truncated toward zero; so column 255 + x
// holds a * x / divisor for x = -255..256) and the byte product a * b / 255 (rounded down).
#pragma once
#include "common/types.h"

extern i16 g_LutProduct256[257][512];
extern i16 g_LutProduct255[257][512];
extern u8 g_LutProductByte[256][256];

void LutBuildTables();
