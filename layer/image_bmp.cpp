// BMP decoder: Windows bitmaps with an information header of at least 40 bytes, bottom-up rows,
// 1, 4 and 8 bits through a palette, 16 bits (5-5-5 or bit fields), 24 and 32 bits. Every field
// is checked against the file's size before use: the rows, the palette (which starts behind the
// header, whatever its size) and the bit masks all lie inside the bytes given.
#include <cstring>

#include "core/err.h"
#include "layer/image.h"

enum {
  BMP_FILE_HEADER = 14,
  BMP_INFO_HEADER = 40,
  BI_RGB = 0,
  BI_BITFIELDS = 3,
};

static u32 Rd16(const u8* p) { return p[0] | (p[1] << 8); }
static u32 Rd32(const u8* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<u32>(p[3]) << 24); }

// One channel of a bit-field pixel, scaled to 0..255 with rounding.
struct BmpChannel {
  u32 mask, shift, max;
};

static BmpChannel ChannelFromMask(u32 mask) {
  BmpChannel c{mask & 0xFFFF, 0, 0};
  if (!c.mask) return c;
  while (!((c.mask >> c.shift) & 1)) c.shift++;
  c.max = c.mask >> c.shift;
  return c;
}

static u8 ChannelValue(const BmpChannel& c, u32 v) {
  if (!c.max) return 0;
  return static_cast<u8>((((v & c.mask) >> c.shift) * 255 + c.max / 2) / c.max);
}

static void Put(u8* d, u32 bgra) { std::memcpy(d, &bgra, 4); }

int ImageDecodeBmp(const u8* data, u32 size, const char* name, ImagePicture* pic) {
  if (size < 2 || data[0] != 'B' || data[1] != 'M') {
    ErrRaiseAtScriptF(IMAGE_ERR_BMP_SIGNATURE, 1, name);
    return -1;
  }
  if (size < BMP_FILE_HEADER + BMP_INFO_HEADER || Rd32(data + 10) <= 10) {
    ErrRaiseAtScriptF(IMAGE_ERR_BMP_DATA, 1, name);
    return -1;
  }
  const u8* info = data + BMP_FILE_HEADER;
  u64 offset = Rd32(data + 10);
  u64 header_size = Rd32(info);
  i32 width = static_cast<i32>(Rd32(info + 4));
  i32 height = static_cast<i32>(Rd32(info + 8));
  u32 bits = Rd16(info + 14);
  u32 compression = Rd32(info + 16);
  u32 colours_used = Rd32(info + 32);

  if (width > IMAGE_MAX_SIZE || height > IMAGE_MAX_SIZE) {
    ErrRaiseAtScriptF(IMAGE_ERR_TOO_LARGE, 1, name);
    return -1;
  }
  if (height < 0) {
    ErrRaiseAtScriptF(IMAGE_ERR_BMP_TOP_DOWN, 1, name);
    return -1;
  }
  if (width < 1 || height < 1) {
    ErrRaiseAtScriptF(IMAGE_ERR_TOO_LARGE, 1, name);
    return -1;
  }
  // Older 12-byte headers keep their fields elsewhere; RLE and other encodings are not decoded.
  bool known = header_size >= BMP_INFO_HEADER;
  switch (bits) {
    case 1:
    case 24:
    case 32: break;
    case 4:
    case 8: known = known && compression == BI_RGB; break;
    case 16: known = known && (compression == BI_RGB || compression == BI_BITFIELDS); break;
    default: known = false; break;
  }
  if (!known) {
    ErrRaiseF(IMAGE_ERR_BMP_ENCODING, 1, name);
    return -1;
  }

  u64 stride = (static_cast<u64>(width) * bits + 31) / 32 * 4;
  bool fits = offset + stride * static_cast<u64>(height) <= size;
  u32 palette[256];
  if (bits <= 8) {
    u32 entries = 1u << bits;
    u32 n = colours_used == 0 || colours_used > entries ? entries : colours_used;
    u64 at = BMP_FILE_HEADER + header_size;
    fits = fits && at + static_cast<u64>(n) * 4 <= size;
    for (u32 i = 0; i < 256; i++) palette[i] = 0xFF000000;
    for (u32 i = 0; fits && i < n; i++) palette[i] |= Rd32(data + at + i * 4);
  }
  BmpChannel red{}, green{}, blue{};
  if (bits == 16) {
    // Bit fields follow the 40-byte header (or are its continuation in the larger headers).
    u32 masks[3] = {0x7C00, 0x03E0, 0x001F};
    if (compression == BI_BITFIELDS) {
      fits = fits && BMP_FILE_HEADER + BMP_INFO_HEADER + 12 <= size;
      for (int i = 0; fits && i < 3; i++) masks[i] = Rd32(info + BMP_INFO_HEADER + i * 4);
    }
    red = ChannelFromMask(masks[0]);
    green = ChannelFromMask(masks[1]);
    blue = ChannelFromMask(masks[2]);
  }
  if (!fits) {
    ErrRaiseAtScriptF(IMAGE_ERR_BMP_DATA, 1, name);
    return -1;
  }

  u8* pixels = ImageAllocPixels(pic->pixels, width, height, name);
  if (!pixels) return -1;
  pic->pixels = pixels;
  pic->width = width;
  pic->height = height;

  for (i32 r = 0; r < height; r++) {
    const u8* s = data + offset + stride * r;
    u8* d = pixels + static_cast<size_t>(height - 1 - r) * width * 4;
    switch (bits) {
      case 1:
        for (i32 x = 0; x < width; x++) Put(d + x * 4, palette[(s[x >> 3] >> (7 - (x & 7))) & 1]);
        break;
      case 4:
        for (i32 x = 0; x < width; x++) Put(d + x * 4, palette[(x & 1) ? s[x >> 1] & 15 : s[x >> 1] >> 4]);
        break;
      case 8:
        for (i32 x = 0; x < width; x++) Put(d + x * 4, palette[s[x]]);
        break;
      case 16:
        for (i32 x = 0; x < width; x++, d += 4) {
          u32 v = Rd16(s + x * 2);
          d[0] = ChannelValue(blue, v);
          d[1] = ChannelValue(green, v);
          d[2] = ChannelValue(red, v);
          d[3] = 255;
        }
        break;
      case 24:
        for (i32 x = 0; x < width; x++, d += 4, s += 3) {
          d[0] = s[0];
          d[1] = s[1];
          d[2] = s[2];
          d[3] = 255;
        }
        break;
      case 32: std::memcpy(d, s, static_cast<size_t>(width) * 4); break;
    }
  }
  if (bits == 32) pic->has_alpha = 1;
  return 0;
}
