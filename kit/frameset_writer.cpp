// Frame-set writer and the JPEG encoder of its frames (see frameset_writer.h).
#include "kit/frameset_writer.h"

#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>

#include "layer/image_frameset.h"

static void Put32(std::vector<u8>* out, size_t at, i32 v) {
  for (int i = 0; i < 4; i++) (*out)[at + i] = static_cast<u8>(static_cast<u32>(v) >> (8 * i));
}

std::vector<u8> KitFrameSetEncode(const std::vector<KitFrame>& frames, i32 alpha_flag, const i32 values[3]) {
  const size_t n = frames.size();
  std::vector<u8> out(IMAGE_FRAMESET_HEADER_SIZE + 12 * n, 0);
  Put32(&out, IMAGE_FRAMESET_OFS_COUNT, static_cast<i32>(n));
  Put32(&out, IMAGE_FRAMESET_OFS_ALPHA_FLAG, alpha_flag);
  for (int i = 0; i < 3; i++) Put32(&out, IMAGE_FRAMESET_OFS_VALUES + 4 * i, values[i]);
  for (size_t k = 0; k < n; k++) {
    const KitFrame& f = frames[k];
    Put32(&out, IMAGE_FRAMESET_HEADER_SIZE + 4 * k, static_cast<i32>(out.size()));
    Put32(&out, IMAGE_FRAMESET_HEADER_SIZE + 4 * (n + k), static_cast<i32>(f.colour.size()));
    Put32(&out, IMAGE_FRAMESET_HEADER_SIZE + 4 * (2 * n + k), static_cast<i32>(f.alpha.size()));
    for (const std::vector<u8>* s : {&f.colour, &f.alpha}) {
      size_t at = out.size();
      out.insert(out.end(), s->begin(), s->end());
      ImageFrameSetScramble(out.data() + at, s->size());
    }
  }
  return out;
}

std::vector<u8> KitJpegEncode(const u8* bgra, i32 width, i32 height, bool alpha, int quality) {
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* mem = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &mem, &size);
  c.image_width = static_cast<JDIMENSION>(width);
  c.image_height = static_cast<JDIMENSION>(height);
  c.input_components = alpha ? 1 : 3;
  c.in_color_space = alpha ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, quality, TRUE);
  jpeg_start_compress(&c, TRUE);
  std::vector<u8> row(static_cast<size_t>(width) * 3);
  while (c.next_scanline < c.image_height) {
    const u8* s = bgra + static_cast<size_t>(c.next_scanline) * width * 4;
    for (i32 x = 0; x < width; x++, s += 4) {
      if (alpha) {
        row[x] = s[3];
      } else {
        row[x * 3] = s[2];
        row[x * 3 + 1] = s[1];
        row[x * 3 + 2] = s[0];
      }
    }
    JSAMPROW r = row.data();
    jpeg_write_scanlines(&c, &r, 1);
  }
  jpeg_finish_compress(&c);
  std::vector<u8> out(mem, mem + size);
  jpeg_destroy_compress(&c);
  std::free(mem);
  return out;
}
