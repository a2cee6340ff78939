// libFuzzer target: the GIF decoder over arbitrary bytes through the type-code dispatcher, the
// frame records in a temporary table. Run with -rss_limit_mb=2048: a small file may legitimately
// ask for 256 MiB of frame records. Pictures above a million pixels that the decoder would accept
// are left out: a 20-byte input declaring one costs milliseconds of clearing memory and reaches
// nothing a small picture does not.
#include <algorithm>

#include "image_fuzz.h"

namespace {

u32 Le16(const u8* p) { return p[0] | u32{p[1]} << 8; }

// The largest picture the logical screen or an image descriptor declares with both sides within
// the decoder's limit, found by walking the blocks as the decoder walks them.
u64 LargestPicture(const u8* d, size_t n) {
  if (n < 13) return 0;
  u64 most = 0;
  auto note = [&](u32 w, u32 h) {
    if (w <= IMAGE_MAX_SIZE && h <= IMAGE_MAX_SIZE) most = std::max(most, u64{w} * h);
  };
  note(Le16(d + 6), Le16(d + 8));
  size_t q = 13;
  if (d[10] & 0x80) q += 3u << ((d[10] & 7) + 1);
  auto skip_sub_blocks = [&] {
    while (q < n) {
      const u8 len = d[q++];
      if (len == 0) return;
      q += len;
    }
  };
  while (q < n) {
    const u8 b = d[q++];
    if (b == 0x2C) {
      if (q + 9 > n) break;
      note(Le16(d + q + 4), Le16(d + q + 6));
      const u8 packed = d[q + 8];
      q += 9;
      if (packed & 0x80) q += 3u << ((packed & 7) + 1);
      q++;  // the LZW minimum code size
      skip_sub_blocks();
    } else if (b == 0x21) {
      q++;  // the label
      skip_sub_blocks();
    } else {
      break;
    }
  }
  return most;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const u8* data, size_t size) {
  if (LargestPicture(data, size) > (1u << 20)) return 0;
  return FuzzImageDecode(IMAGE_TYPE_GIF, data, size);
}
