// Writes the seed corpora of the picture fuzz targets: BMPs of every depth, PNGs of every colour
// type (interlaced, tRNS, gAMA), JPEGs (grey, RGB, progressive, CMYK) and ".zcg" pictures of both
// methods, GIFs (code sizes, interlace, transparency, extensions, several images, full tables)
// and JPEG frame sets from the kit. Usage: image_fuzz_seeds DIR (creates DIR/bmp, png, jpeg, zcg,
// gif, frameset).
#include <png.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "kit/frameset_writer.h"
#include "kit/gif_writer.h"
#include "kit/zcg_writer.h"
#include "layer/image_test_files.h"

static std::string s_Root;

static void Save(const char* kind, const std::string& name, const std::vector<u8>& bytes) {
  std::filesystem::create_directories(s_Root + "/" + kind);
  std::string path = s_Root + "/" + kind + "/" + name;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return;
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: image_fuzz_seeds DIR\n");
    return 2;
  }
  s_Root = argv[1];

  for (u16 bits : {1, 4, 8, 16, 24, 32}) {
    TestBmp b;
    b.bits = bits;
    b.width = 5;
    b.height = 3;
    if (bits <= 8) b.palette = std::vector<u32>(1u << bits, 0x00336699);
    b.rows = TestPattern(static_cast<size_t>(TestBmpStride(5, bits)) * 3, bits);
    Save("bmp", std::to_string(bits), TestBmpBuild(b));
    if (bits == 16) {
      b.compression = 3;
      b.masks = {0xF800, 0x07E0, 0x001F};
      Save("bmp", "16-bitfields", TestBmpBuild(b));
    }
  }

  const int kinds[][2] = {{0, 1}, {0, 8}, {0, 16}, {2, 8}, {2, 16}, {3, 4}, {3, 8}, {4, 8}, {6, 8}, {6, 16}};
  for (const auto& k : kinds)
    for (int variant = 0; variant < 3; variant++) {
      TestPng p;
      p.width = 7;
      p.height = 5;
      p.colour = k[0];
      p.depth = k[1];
      p.interlace = variant == 1;
      p.gamma = variant == 2 ? 1.0 : 0;
      u32 max = (1u << p.depth) - 1;
      for (u8 v : TestPattern(p.width * p.height * TestPngChannels(p.colour), k[0] + k[1]))
        p.samples.push_back(v & max);
      if (p.colour == PNG_COLOR_TYPE_PALETTE) {
        p.palette = TestPattern(3u << p.depth, 1);
        if (variant == 2) p.trns_alpha = {0, 200};
      } else if (variant == 2 && (p.colour == 0 || p.colour == 2)) {
        p.trns_colour = true;
      }
      Save("png", std::to_string(k[0]) + "-" + std::to_string(k[1]) + "-" + std::to_string(variant), TestPngBuild(p));
    }

  for (int components : {1, 3, 4})
    for (bool progressive : {false, true}) {
      TestJpeg j;
      j.width = 19;
      j.height = 11;
      j.components = components;
      j.progressive = progressive && components != 4;
      j.samples = TestPattern(static_cast<size_t>(j.width) * j.height * components, components);
      Save("jpeg", std::to_string(components) + (j.progressive ? "-progressive" : ""), TestJpegBuild(j));
    }

  std::vector<u8> px = TestPattern(9 * 4 * 4, 7), out;
  for (u32 method : {0u, 1u})
    for (u64 split : {u64{0}, KitZcgDefaultSplit(9, 4), u64{101}}) {
      if (KitZcgEncode(px.data(), 9, 4, method, split, &out) == 0)
        Save("zcg", std::to_string(method) + "-" + std::to_string(split), out);
      if (method == 0) break;
    }

  for (u32 bits : {2u, 5u, 8u})
    for (int variant = 0; variant < 3; variant++) {
      KitGif g;
      g.width = 13;
      g.height = 9;
      g.palette = TestPattern(3u << bits, bits);
      g.loops = variant == 1 ? 0 : -1;
      KitGifImage im;
      im.width = 11;
      im.height = 7;
      im.left = 1;
      im.top = 2;
      for (u8 v : TestPattern(77, bits + variant)) im.indexes.push_back(static_cast<u8>(v & ((1u << bits) - 1)));
      im.code.min_code_size = bits;
      im.interlaced = variant == 1;
      im.control = variant > 0;
      im.transparent = variant == 2;
      im.code.clear_every = variant == 1 ? 5 : 0;
      im.code.keep_full = variant == 2;
      if (variant == 2) im.before = KitGifComment(std::string(300, 'c'));
      g.images.push_back(im);
      if (variant == 1) g.images.push_back(im);
      std::vector<u8> gif;
      if (KitGifEncode(g, &gif) == 0) Save("gif", std::to_string(bits) + "-" + std::to_string(variant), gif);
    }

  std::vector<u8> bgra = TestPattern(12 * 10 * 4, 3);
  KitFrame plain{KitJpegEncode(bgra.data(), 12, 10, false, 80), {}};
  KitFrame with_alpha{plain.colour, KitJpegEncode(bgra.data(), 12, 10, true, 80)};
  KitFrame other{KitJpegEncode(bgra.data(), 6, 5, false, 50), KitJpegEncode(bgra.data(), 9, 4, true, 50)};
  const i32 values[3] = {1, 2, 3};
  Save("frameset", "plain", KitFrameSetEncode({plain}, 0, values));
  Save("frameset", "alpha", KitFrameSetEncode({with_alpha, other}, 1, values));
  Save("frameset", "flag2", KitFrameSetEncode({other, plain, with_alpha}, 2, values));
  return 0;
}
