// The compositor's product tables (see lut.h). C++ integer division truncates toward zero, which
// is exactly the rounding the tables need for negative products.
#include "layer/lut.h"

i16 g_LutProduct256[257][512];
i16 g_LutProduct255[257][512];
u8 g_LutProductByte[256][256];

void LutBuildTables() {
  for (i32 a = 0; a <= 256; a++) {
    for (i32 k = 0; k < 512; k++) {
      g_LutProduct256[a][k] = static_cast<i16>(a * (k - 255) / 256);
      g_LutProduct255[a][k] = static_cast<i16>(a * (k - 255) / 255);
    }
  }
  for (i32 a = 0; a < 256; a++)
    for (i32 b = 0; b < 256; b++) g_LutProductByte[a][b] = static_cast<u8>(a * b / 255);
}
