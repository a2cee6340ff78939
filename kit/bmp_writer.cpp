// BMP files for the kit's pictures (see demo_art.h). Kept apart from the demo art, which also
// writes a movie, so a program that only encodes pictures does not link the movie writer.
#include "kit/demo_art.h"

static void Put(std::vector<u8>* out, u32 v, int bytes) {
  for (int i = 0; i < bytes; i++) out->push_back(static_cast<u8>(v >> (8 * i)));
}

std::vector<u8> KitBmpEncode(const u8* bgra, i32 width, i32 height, bool with_alpha) {
  const u32 bpp = with_alpha ? 4 : 3;
  const u32 stride = (static_cast<u32>(width) * bpp + 3) & ~3u;
  const u32 data = stride * static_cast<u32>(height);
  std::vector<u8> f;
  f.push_back('B');
  f.push_back('M');
  Put(&f, 54 + data, 4);
  Put(&f, 0, 4);
  Put(&f, 54, 4);
  Put(&f, 40, 4);
  Put(&f, static_cast<u32>(width), 4);
  Put(&f, static_cast<u32>(height), 4);
  Put(&f, 1, 2);
  Put(&f, bpp * 8, 2);
  Put(&f, 0, 4);
  Put(&f, data, 4);
  Put(&f, 2835, 4);
  Put(&f, 2835, 4);
  Put(&f, 0, 4);
  Put(&f, 0, 4);
  for (i32 r = height - 1; r >= 0; r--) {
    const u8* row = bgra + static_cast<size_t>(r) * width * 4;
    for (i32 x = 0; x < width; x++) f.insert(f.end(), row + x * 4, row + x * 4 + bpp);
    f.resize(f.size() + (stride - static_cast<u32>(width) * bpp), 0);
  }
  return f;
}
