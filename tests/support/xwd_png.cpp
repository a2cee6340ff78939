// The desktop tier's screenshot tool: an xwd file of the screen to a PNG, or one pixel's colour.
//   xwd_png SHOT.xwd OUT.png
//   xwd_png --pixel SHOT.xwd X Y     prints RRGGBB
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "layer/image_write.h"
#include "platform/file.h"
#include "support/xwd_shot.h"

int main(int argc, char** argv) {
  Shot shot;
  if (argc == 5 && std::strcmp(argv[1], "--pixel") == 0) {
    if (!ReadXwd(argv[2], &shot)) return 2;
    const i32 x = std::atoi(argv[3]), y = std::atoi(argv[4]);
    if (x < 0 || y < 0 || x >= shot.width || y >= shot.height) return 2;
    std::printf("%06X\n", shot.At(x, y));
    return 0;
  }
  if (argc != 3) {
    std::fprintf(stderr, "usage: xwd_png SHOT.xwd OUT.png | xwd_png --pixel SHOT.xwd X Y\n");
    return 2;
  }
  if (!ReadXwd(argv[1], &shot)) {
    std::fprintf(stderr, "xwd_png: %s is not a 24-bit TrueColor xwd file\n", argv[1]);
    return 1;
  }
  ImagePngFormat fmt{IMAGE_PNG_LEVEL_DEFAULT, 0, 0, 0};
  ImageOutBuffer out{};
  if (ImagePngEncode(shot.px.data(), shot.width, shot.height, &fmt, &out) != 0) return 1;
  const int r = PlatFileWriteAtomicNative(argv[2], out.data, out.size);
  ImageOutFree(&out);
  return r == 0 ? 0 : 1;
}
