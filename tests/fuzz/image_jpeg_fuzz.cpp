// libFuzzer target: the JPEG picture decoder over arbitrary bytes.
#include "image_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const u8* data, size_t size) {
  return FuzzImageDecode(IMAGE_TYPE_JPEG, data, size);
}
