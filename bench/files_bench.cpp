// Speed of what a game does at save time and when it loads tables: the demo's scene at 1280 x 720
// written as PNG at level 5 and as JPEG at quality 90, each beside the bare library encoding the
// same rows with the same settings (encoding into memory is timed apart from the atomic write,
// which measures the disk), and a 1 MB CSV table split into a string array.
// Aims: PNG under 100 ms, JPEG under 20 ms, each within 1.2 x of its bare library; CSV under 10 ms.
#include <benchmark/benchmark.h>
#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "kit/demo_art.h"
#include "layer/image.h"
#include "layer/image_write.h"
#include "layer/layer.h"
#include "script/file.h"
#include "script/var.h"

static const i32 kW = 1280, kH = 720;

// The demo's pictures placed over its background, alpha blended: the scene a thumbnail shows.
static const std::vector<u8>& Scene() {
  static const std::vector<u8> scene = [] {
    std::vector<KitDemoPicture> pics = KitDemoPictures(kW, kH);
    std::vector<u8> out(static_cast<size_t>(kW) * kH * 4, 0);
    for (const KitDemoPicture& p : pics) {
      const i32 ox = (kW - p.width) / 2, oy = kH - p.height;
      for (i32 y = 0; y < p.height; y++)
        for (i32 x = 0; x < p.width; x++) {
          const i32 fx = ox + x, fy = oy + y;
          if (fx < 0 || fy < 0 || fx >= kW || fy >= kH) continue;
          const u8* s = &p.bgra[(static_cast<size_t>(y) * p.width + x) * 4];
          u8* d = &out[(static_cast<size_t>(fy) * kW + fx) * 4];
          const int a = p.alpha ? s[3] : 255;
          for (int c = 0; c < 3; c++) d[c] = static_cast<u8>((d[c] * (255 - a) + s[c] * a) / 255);
          d[3] = 255;
        }
    }
    return out;
  }();
  return scene;
}

static void PngAppend(png_structp png, png_bytep data, png_size_t n) {
  auto* v = static_cast<std::vector<u8>*>(png_get_io_ptr(png));
  v->insert(v->end(), data, data + n);
}
static void PngFlush(png_structp) {}

// libpng on its own with the writer's settings: all filters, level 5, RGBA from B, G, R, A rows.
static void BM_PngBareLibrary(benchmark::State& state) {
  const std::vector<u8>& px = Scene();
  std::vector<u8> out;
  for (auto _ : state) {
    out.clear();
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
      state.SkipWithError("libpng failed");
      break;
    }
    png_set_write_fn(png, &out, PngAppend, PngFlush);
    png_set_filter(png, 0, PNG_ALL_FILTERS);
    png_set_compression_level(png, 5);
    png_set_IHDR(png, info, kW, kH, 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_set_gAMA(png, info, 1.0 / 2.2);
    png_write_info(png, info);
    png_set_bgr(png);
    for (i32 y = 0; y < kH; y++) png_write_row(png, const_cast<u8*>(&px[static_cast<size_t>(y) * kW * 4]));
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["bytes"] = static_cast<double>(out.size());
}
BENCHMARK(BM_PngBareLibrary)->Unit(benchmark::kMillisecond);

static void BM_PngEncode(benchmark::State& state) {
  const std::vector<u8>& px = Scene();
  const ImagePngFormat fmt{IMAGE_PNG_LEVEL_DEFAULT, 1, 1, 1};
  ImageOutBuffer out{};
  for (auto _ : state) {
    if (ImagePngEncode(px.data(), kW, kH, &fmt, &out) != 0) state.SkipWithError("encode failed");
    benchmark::DoNotOptimize(out.data);
  }
  state.counters["bytes"] = static_cast<double>(out.size);
  ImageOutFree(&out);
}
BENCHMARK(BM_PngEncode)->Unit(benchmark::kMillisecond);

static void BM_JpegBareLibrary(benchmark::State& state) {
  const std::vector<u8>& px = Scene();
  std::vector<u8> row(static_cast<size_t>(kW) * 3);
  unsigned long size = 0;
  for (auto _ : state) {
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* mem = nullptr;
    size = 0;
    jpeg_mem_dest(&c, &mem, &size);
    c.image_width = kW;
    c.image_height = kH;
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 90, TRUE);
    jpeg_start_compress(&c, TRUE);
    for (i32 y = 0; y < kH; y++) {
      const u8* s = &px[static_cast<size_t>(y) * kW * 4];
      for (i32 x = 0; x < kW; x++) row[x * 3] = s[x * 4 + 2], row[x * 3 + 1] = s[x * 4 + 1], row[x * 3 + 2] = s[x * 4];
      JSAMPROW r = row.data();
      jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    benchmark::DoNotOptimize(mem);
    std::free(mem);
  }
  state.counters["bytes"] = static_cast<double>(size);
}
BENCHMARK(BM_JpegBareLibrary)->Unit(benchmark::kMillisecond);

static void BM_JpegEncode(benchmark::State& state) {
  const std::vector<u8>& px = Scene();
  ImageOutBuffer out{};
  for (auto _ : state) {
    if (ImageJpegEncode(px.data(), kW, kH, IMAGE_JPEG_QUALITY_DEFAULT, &out) != 0) state.SkipWithError("encode failed");
    benchmark::DoNotOptimize(out.data);
  }
  state.counters["bytes"] = static_cast<double>(out.size);
  ImageOutFree(&out);
}
BENCHMARK(BM_JpegEncode)->Unit(benchmark::kMillisecond);

// The whole save of a layer: encoding plus the atomic write (temporary file, fsync, rename).
static void BM_PngSaveToDisk(benchmark::State& state) {
  LayerRecord rec{};
  rec.width = kW;
  rec.height = kH;
  rec.has_alpha = 1;
  rec.pixels = static_cast<u8*>(std::malloc(ImagePixelBytes(kW, kH)));
  std::memcpy(rec.pixels, Scene().data(), Scene().size());
  const std::string path = (std::filesystem::temp_directory_path() / "zephra-files-bench.png").string();
  for (auto _ : state)
    if (ImageSavePng(&rec, path.c_str(), IMAGE_PNG_LEVEL_DEFAULT) < 0) state.SkipWithError("save failed");
  std::remove(path.c_str());
  std::free(rec.pixels);
}
BENCHMARK(BM_PngSaveToDisk)->Unit(benchmark::kMillisecond);

// A 1 MB table of 8 columns split into a string array, as the CSV command stores it.
static void BM_CsvRead1MB(benchmark::State& state) {
  std::string text;
  i64 fields = 0;
  for (int row = 0; text.size() < (1u << 20); row++) {
    for (int col = 0; col < 8; col++, fields++)
      text += (col ? "," : "") + (col == 3 ? "\"name, " + std::to_string(row) + "\"" : std::to_string(row * 8 + col));
    text += "\r\n";
  }
  text += "\r\n";
  VarTableCreate(1001);
  VarRecord* v = VarRecordOf(1000);
  v->dim_count = 1;
  v->dims[0] = static_cast<u32>(fields + 1);
  VarTypeString(1000, "", 0);
  i64 id = 1000;
  for (auto _ : state) {
    const i64 n = FileCsvSplit(
        reinterpret_cast<const u8*>(text.data()), text.size(),
        [](void* ctx, i64 index, const char* s, size_t len) {
          return VarSetStrElementN(*static_cast<i64*>(ctx), index, s, len) == 0;
        },
        &id);
    benchmark::DoNotOptimize(n);
  }
  state.SetBytesProcessed(static_cast<i64>(state.iterations()) * static_cast<i64>(text.size()));
  VarReset();
}
BENCHMARK(BM_CsvRead1MB)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
