// Picture files for the decoder tests and the fuzz seeds: BMPs of any depth built byte by byte,
// PNGs and JPEGs written through libpng and libjpeg with every option the decoders meet.
#pragma once
#include <string>
#include <vector>

#include "common/types.h"

struct TestBmp {
  u16 bits = 24;
  i32 width = 1, height = 1;
  u32 compression = 0;
  u32 colours_used = 0;
  u32 header_size = 40;      // 40, or larger with zeros after the standard fields
  std::vector<u32> masks;    // written straight after the 40 header bytes
  std::vector<u32> palette;  // written after the header (and masks)
  std::vector<u8> rows;      // bottom-up rows, each padded to 4 bytes; empty: zeros
};
std::vector<u8> TestBmpBuild(const TestBmp& b);
u32 TestBmpStride(i32 width, u32 bits);

struct TestPng {
  u32 width = 1, height = 1;
  int colour = 2;  // PNG_COLOR_TYPE_*
  int depth = 8;
  bool interlace = false;
  std::vector<u16> samples;    // width * height * channels, in the depth's range
  std::vector<u8> palette;     // R, G, B per entry (colour type 3)
  std::vector<u8> trns_alpha;  // palette tRNS
  bool trns_colour = false;    // grey or RGB tRNS with the value below
  u16 trns_grey = 0, trns_r = 0, trns_g = 0, trns_b = 0;
  double gamma = 0;  // written as gAMA when > 0
};
int TestPngChannels(int colour);
std::vector<u8> TestPngBuild(const TestPng& p);

struct TestJpeg {
  i32 width = 1, height = 1;
  int components = 3;  // 1 grey, 3 RGB, 4 CMYK (stored the Adobe way, inverted)
  std::vector<u8> samples;
  int quality = 90;
  bool progressive = false;
  bool subsample = true;  // 2x2 chroma for RGB
};
std::vector<u8> TestJpegBuild(const TestJpeg& j);

// An own-format (".zcg") picture of method 1 from the bytes of its two parts, each deflated as a
// whole, with the inflated sizes its header declares (which need not be what the parts hold).
std::vector<u8> TestZcgTwoParts(i32 width, i32 height, const std::vector<u8>& part1, u32 declared1,
                                const std::vector<u8>& part2, u32 declared2);

// A deterministic byte pattern for picture contents.
std::vector<u8> TestPattern(size_t n, u32 seed);
