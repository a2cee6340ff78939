// Builders of the test pictures: BMP and own-format bytes laid out by hand, PNG and JPEG through
// the libraries.
#include "image_test_files.h"

#include <png.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>

#include <jpeglib.h>

static void Le(std::vector<u8>* v, u32 x, int n) {
  for (int i = 0; i < n; i++) v->push_back(static_cast<u8>(x >> (8 * i)));
}

u32 TestBmpStride(i32 width, u32 bits) { return (static_cast<u32>(width) * bits + 31) / 32 * 4; }

std::vector<u8> TestBmpBuild(const TestBmp& b) {
  u32 offset = 14 + b.header_size + 4 * static_cast<u32>(b.masks.size() + b.palette.size());
  std::vector<u8> rows = b.rows;
  if (rows.empty())
    rows.assign(static_cast<size_t>(TestBmpStride(b.width, b.bits)) * (b.height < 0 ? -b.height : b.height), 0);
  std::vector<u8> f;
  f.push_back('B');
  f.push_back('M');
  Le(&f, offset + static_cast<u32>(rows.size()), 4);
  Le(&f, 0, 4);
  Le(&f, offset, 4);
  Le(&f, b.header_size, 4);
  Le(&f, static_cast<u32>(b.width), 4);
  Le(&f, static_cast<u32>(b.height), 4);
  Le(&f, 1, 2);
  Le(&f, b.bits, 2);
  Le(&f, b.compression, 4);
  Le(&f, static_cast<u32>(rows.size()), 4);
  Le(&f, 2835, 4);
  Le(&f, 2835, 4);
  Le(&f, b.colours_used, 4);
  Le(&f, 0, 4);
  f.resize(14 + b.header_size, 0);
  for (u32 m : b.masks) Le(&f, m, 4);
  for (u32 c : b.palette) Le(&f, c, 4);
  f.insert(f.end(), rows.begin(), rows.end());
  return f;
}

int TestPngChannels(int colour) {
  switch (colour) {
    case PNG_COLOR_TYPE_GRAY:
    case PNG_COLOR_TYPE_PALETTE: return 1;
    case PNG_COLOR_TYPE_GRAY_ALPHA: return 2;
    case PNG_COLOR_TYPE_RGB: return 3;
    default: return 4;
  }
}

static void PngWriteVec(png_structp png, png_bytep data, png_size_t n) {
  auto* out = static_cast<std::vector<u8>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + n);
}
static void PngFlush(png_structp) {}

std::vector<u8> TestPngBuild(const TestPng& p) {
  std::vector<u8> out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return {};
  }
  png_set_write_fn(png, &out, PngWriteVec, PngFlush);
  png_set_IHDR(png, info, p.width, p.height, p.depth, p.colour, p.interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (p.colour == PNG_COLOR_TYPE_PALETTE) {
    std::vector<png_color> pal(p.palette.size() / 3);
    for (size_t i = 0; i < pal.size(); i++) pal[i] = {p.palette[i * 3], p.palette[i * 3 + 1], p.palette[i * 3 + 2]};
    png_set_PLTE(png, info, pal.data(), static_cast<int>(pal.size()));
    if (!p.trns_alpha.empty())
      png_set_tRNS(png, info, p.trns_alpha.data(), static_cast<int>(p.trns_alpha.size()), nullptr);
  } else if (p.trns_colour) {
    png_color_16 c{};
    c.gray = p.trns_grey;
    c.red = p.trns_r;
    c.green = p.trns_g;
    c.blue = p.trns_b;
    png_set_tRNS(png, info, nullptr, 0, &c);
  }
  if (p.gamma > 0) png_set_gAMA(png, info, p.gamma);
  png_write_info(png, info);
  if (p.depth < 8) png_set_packing(png);
  if (p.depth == 16) png_set_swap(png);  // rows below are little-endian u16
  int ch = TestPngChannels(p.colour);
  size_t row_samples = static_cast<size_t>(p.width) * ch;
  std::vector<u8> rows(row_samples * (p.depth == 16 ? 2 : 1) * p.height);
  std::vector<png_bytep> ptrs(p.height);
  for (u32 y = 0; y < p.height; y++) {
    u8* r = rows.data() + y * row_samples * (p.depth == 16 ? 2 : 1);
    ptrs[y] = r;
    for (size_t i = 0; i < row_samples; i++) {
      u16 v = p.samples[y * row_samples + i];
      if (p.depth == 16) {
        r[i * 2] = static_cast<u8>(v);
        r[i * 2 + 1] = static_cast<u8>(v >> 8);
      } else {
        r[i] = static_cast<u8>(v);
      }
    }
  }
  png_write_image(png, ptrs.data());
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return out;
}

std::vector<u8> TestJpegBuild(const TestJpeg& j) {
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* mem = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &mem, &size);
  c.image_width = static_cast<JDIMENSION>(j.width);
  c.image_height = static_cast<JDIMENSION>(j.height);
  c.input_components = j.components;
  c.in_color_space = j.components == 1 ? JCS_GRAYSCALE : j.components == 4 ? JCS_CMYK : JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, j.quality, TRUE);
  if (j.components == 3 && !j.subsample)
    for (int i = 0; i < 3; i++) c.comp_info[i].h_samp_factor = c.comp_info[i].v_samp_factor = 1;
  if (j.progressive) jpeg_simple_progression(&c);
  jpeg_start_compress(&c, TRUE);
  while (c.next_scanline < c.image_height) {
    JSAMPROW row = const_cast<u8*>(j.samples.data()) + static_cast<size_t>(c.next_scanline) * j.width * j.components;
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  std::vector<u8> out(mem, mem + size);
  jpeg_destroy_compress(&c);
  std::free(mem);
  return out;
}

std::vector<u8> TestZcgTwoParts(i32 width, i32 height, const std::vector<u8>& part1, u32 declared1,
                                const std::vector<u8>& part2, u32 declared2) {
  auto deflated = [](const std::vector<u8>& raw) {
    uLongf n = compressBound(raw.size());
    std::vector<u8> z(n);
    compress(z.data(), &n, raw.data(), raw.size());
    z.resize(n);
    return z;
  };
  const std::vector<u8> z1 = deflated(part1), z2 = deflated(part2);
  std::vector<u8> f = {'Z', 'C', 'G', 0};
  for (u32 v : {static_cast<u32>(width), static_cast<u32>(height), 0u, 1u, 0u, 0u, 0u, declared1,
                static_cast<u32>(z1.size()), 0u, 0u, declared2, static_cast<u32>(z2.size())})
    Le(&f, v, 4);
  f.insert(f.end(), z1.begin(), z1.end());
  f.insert(f.end(), z2.begin(), z2.end());
  return f;
}

std::vector<u8> TestPattern(size_t n, u32 seed) {
  std::vector<u8> v(n);
  u32 x = seed * 2654435761u + 1;
  for (size_t i = 0; i < n; i++) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    v[i] = static_cast<u8>(x >> 7);
  }
  return v;
}
