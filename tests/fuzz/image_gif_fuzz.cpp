// libFuzzer target: the GIF decoder over arbitrary bytes through the type-code dispatcher, the
// frame records in a temporary table. Run with -rss_limit_mb=2048: a small file may legitimately
// ask for 256 MiB of frame records.
#include "image_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const u8* data, size_t size) {
  return FuzzImageDecode(IMAGE_TYPE_GIF, data, size);
}
