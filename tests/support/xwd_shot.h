// Screenshots of a whole X screen taken with xwd, read back for pixel checks: the X11 tests of
// the screen modes compare what the display server shows with what the engine drew.
#pragma once
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "common/types.h"

// A screenshot in B, G, R, A bytes (alpha 255).
struct Shot {
  i32 width = 0, height = 0;
  std::vector<u8> px;
  u32 At(i32 x, i32 y) const {
    u32 v;
    std::memcpy(&v, px.data() + (static_cast<size_t>(y) * width + x) * 4, 4);
    return v & 0xFFFFFFu;
  }
};

inline bool Near(u32 a, u32 b) {
  for (int shift : {0, 8, 16}) {
    int d = static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF);
    if (d < -2 || d > 2) return false;
  }
  return true;
}

inline u32 Be32(const u8* p) { return (u32{p[0]} << 24) | (u32{p[1]} << 16) | (u32{p[2]} << 8) | p[3]; }

inline int MaskShift(u32 mask) {
  int s = 0;
  while (mask && !(mask & 1)) mask >>= 1, s++;
  return s;
}

// Reads an XWD file of a 24-bit TrueColor screen (ZPixmap, 24 or 32 bits per pixel).
inline bool ReadXwd(const std::string& path, Shot* out) {
  std::ifstream f(path, std::ios::binary);
  std::vector<u8> d((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  if (d.size() < 100) return false;
  const u32 header_size = Be32(&d[0]), version = Be32(&d[4]), format = Be32(&d[8]);
  const u32 width = Be32(&d[16]), height = Be32(&d[20]), byte_order = Be32(&d[28]);
  const u32 bits = Be32(&d[44]), bpl = Be32(&d[48]);
  const u32 red = Be32(&d[56]), green = Be32(&d[60]), blue = Be32(&d[64]), ncolors = Be32(&d[76]);
  if (version != 7 || format != 2 || (bits != 24 && bits != 32) || width > 16384 || height > 16384) return false;
  const u32 bytes = bits / 8;
  const size_t data = size_t{header_size} + size_t{ncolors} * 12;
  if (d.size() < data + size_t{bpl} * height || bpl < width * bytes) return false;
  out->width = static_cast<i32>(width);
  out->height = static_cast<i32>(height);
  out->px.assign(static_cast<size_t>(width) * height * 4, 255);
  for (u32 y = 0; y < height; y++) {
    for (u32 x = 0; x < width; x++) {
      const u8* p = &d[data + size_t{y} * bpl + size_t{x} * bytes];
      u32 v = 0;
      for (u32 i = 0; i < bytes; i++) v |= u32{p[i]} << (8 * (byte_order == 0 ? i : bytes - 1 - i));
      u8* o = &out->px[(size_t{y} * width + x) * 4];
      o[0] = static_cast<u8>((v & blue) >> MaskShift(blue));
      o[1] = static_cast<u8>((v & green) >> MaskShift(green));
      o[2] = static_cast<u8>((v & red) >> MaskShift(red));
    }
  }
  return true;
}
