// libFuzzer target: the own-format (.zcg) picture decoder over arbitrary bytes, inflating the two
// parts on the calling thread or on a second thread by the input's length.
#include "image_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const u8* data, size_t size) {
  g_ImageInflatePair = (size & 1) ? ImageInflatePairThreaded : ImageInflatePairHere;
  return FuzzImageDecode(IMAGE_TYPE_ZCG, data, size);
}
