// Picture decoding speed where the engine chooses a way: the own format's two zlib parts on one
// thread or two, and JPEG rows written by the library as BGRA or converted from RGB samples.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include <jpeglib.h>

#include "kit/zcg_writer.h"
#include "layer/image.h"
#include "platform/platform.h"

static const i32 kW = 1280, kH = 720;

// A picture with smooth areas and edges, like a background.
static std::vector<u8> Picture() {
  std::vector<u8> px(static_cast<size_t>(kW) * kH * 4);
  for (i32 y = 0; y < kH; y++)
    for (i32 x = 0; x < kW; x++) {
      u8* p = &px[(static_cast<size_t>(y) * kW + x) * 4];
      p[0] = static_cast<u8>(x / 5);
      p[1] = static_cast<u8>(y / 3 + ((x / 64 + y / 64) % 2) * 60);
      p[2] = static_cast<u8>((x * y) >> 10);
      p[3] = 255;
    }
  return px;
}

static std::vector<u8> Jpeg(const std::vector<u8>& bgra) {
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* mem = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &mem, &size);
  c.image_width = kW;
  c.image_height = kH;
  c.input_components = 3;
  c.in_color_space = JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_start_compress(&c, TRUE);
  std::vector<u8> row(kW * 3);
  while (c.next_scanline < c.image_height) {
    const u8* s = &bgra[static_cast<size_t>(c.next_scanline) * kW * 4];
    for (i32 x = 0; x < kW; x++) row[x * 3] = s[x * 4 + 2], row[x * 3 + 1] = s[x * 4 + 1], row[x * 3 + 2] = s[x * 4];
    JSAMPROW r = row.data();
    jpeg_write_scanlines(&c, &r, 1);
  }
  jpeg_finish_compress(&c);
  std::vector<u8> out(mem, mem + size);
  jpeg_destroy_compress(&c);
  std::free(mem);
  return out;
}

static void Decode(benchmark::State& state, u8 type, const std::vector<u8>& file) {
  PlatDialogsSetStderr(true);
  ImagePicture pic{};
  for (auto _ : state) {
    if (ImageDecode(type, file.data(), static_cast<u32>(file.size()), "bench", &pic) != 0) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(pic.pixels);
  }
  std::free(pic.pixels);
  state.SetBytesProcessed(state.iterations() * kW * kH * 4);
}

static void BM_ZcgInflate(benchmark::State& state) {
  std::vector<u8> file;
  std::vector<u8> px = Picture();
  KitZcgEncode(px.data(), kW, kH, IMAGE_ZCG_METHOD_ZLIB, KitZcgDefaultSplit(kW, kH), &file);
  g_ImageInflatePair = state.range(0) ? ImageInflatePairThreaded : ImageInflatePairHere;
  Decode(state, IMAGE_TYPE_ZCG, file);
  ImageReset();
}
BENCHMARK(BM_ZcgInflate)->Arg(0)->Arg(1)->ArgName("threaded");

static void BM_JpegRows(benchmark::State& state) {
  std::vector<u8> file = Jpeg(Picture());
  g_ImageJpegDirect = static_cast<u8>(state.range(0));
  Decode(state, IMAGE_TYPE_JPEG, file);
  ImageReset();
}
BENCHMARK(BM_JpegRows)->Arg(0)->Arg(1)->ArgName("direct");

BENCHMARK_MAIN();
