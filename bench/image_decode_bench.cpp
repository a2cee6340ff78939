// Picture decoding speed where the engine chooses a way: the own format's two zlib parts on one
// thread or two, and JPEG rows written by the library as BGRA or converted from RGB samples.
// Beside them, the bare libraries decoding the same files to BGRA (libjpeg-turbo, libpng's
// simplified reader), and the goals: JPEG within 1.1 times and PNG within 1.05 times of them.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <png.h>

#include "bench/median_runs.h"
#include "kit/zcg_writer.h"
#include "layer/image.h"
#include "platform/platform.h"

static const i32 kW = 1280, kH = 720;
static const int kRepetitions = 9;

static void Tune(benchmark::internal::Benchmark* b) {
  b->Repetitions(kRepetitions)->ReportAggregatesOnly(true)->MinTime(0.2);
}

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
    if (ImageDecode(type, file.data(), static_cast<u32>(file.size()), "bench", &pic) != 0)
      state.SkipWithError("decode failed");
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
BENCHMARK(BM_ZcgInflate)->Arg(0)->Arg(1)->ArgName("threaded")->Apply(Tune);

static void BM_JpegRows(benchmark::State& state) {
  std::vector<u8> file = Jpeg(Picture());
  g_ImageJpegDirect = static_cast<u8>(state.range(0));
  Decode(state, IMAGE_TYPE_JPEG, file);
  ImageReset();
}
BENCHMARK(BM_JpegRows)->Arg(0)->Arg(1)->ArgName("direct")->Apply(Tune);

// libjpeg-turbo alone: the same file to BGRA rows in a buffer of the same layout.
static void BM_LibJpeg(benchmark::State& state) {
  std::vector<u8> file = Jpeg(Picture());
  std::vector<u8> out(static_cast<size_t>(kW) * kH * 4);
  for (auto _ : state) {
    jpeg_decompress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_decompress(&c);
    jpeg_mem_src(&c, file.data(), file.size());
    jpeg_read_header(&c, TRUE);
    c.out_color_space = JCS_EXT_BGRA;
    jpeg_start_decompress(&c);
    while (c.output_scanline < c.output_height) {
      JSAMPROW r = out.data() + static_cast<size_t>(c.output_scanline) * kW * 4;
      jpeg_read_scanlines(&c, &r, 1);
    }
    jpeg_finish_decompress(&c);
    jpeg_destroy_decompress(&c);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(state.iterations() * kW * kH * 4);
}
BENCHMARK(BM_LibJpeg)->Apply(Tune);

static std::vector<u8> Png(const std::vector<u8>& bgra) {
  png_image im{};
  im.version = PNG_IMAGE_VERSION;
  im.width = kW;
  im.height = kH;
  im.format = PNG_FORMAT_BGRA;
  png_alloc_size_t size = 0;
  if (!png_image_write_to_memory(&im, nullptr, &size, 0, bgra.data(), 0, nullptr)) return {};
  std::vector<u8> out(size);
  if (!png_image_write_to_memory(&im, out.data(), &size, 0, bgra.data(), 0, nullptr)) return {};
  out.resize(size);
  return out;
}

static void BM_PngDecode(benchmark::State& state) {
  std::vector<u8> px = Picture();
  for (size_t i = 3; i < px.size(); i += 4) px[i] = static_cast<u8>(i / 4 % 251);  // with alpha
  Decode(state, IMAGE_TYPE_PNG, Png(px));
}
BENCHMARK(BM_PngDecode)->Apply(Tune);

// libpng's simplified reader alone, to BGRA.
static void BM_LibPng(benchmark::State& state) {
  std::vector<u8> px = Picture();
  for (size_t i = 3; i < px.size(); i += 4) px[i] = static_cast<u8>(i / 4 % 251);
  std::vector<u8> file = Png(px);
  std::vector<u8> out(static_cast<size_t>(kW) * kH * 4);
  for (auto _ : state) {
    png_image im{};
    im.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&im, file.data(), file.size())) state.SkipWithError("libpng refused");
    im.format = PNG_FORMAT_BGRA;
    png_image_finish_read(&im, nullptr, out.data(), 0, nullptr);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(state.iterations() * kW * kH * 4);
}
BENCHMARK(BM_LibPng)->Apply(Tune);

namespace {
std::map<std::string, double> g_Ns;  // benchmark name -> median nanoseconds per decode
}  // namespace

int main(int argc, char** argv) {
  if (!RunInterleavedMedians(argc, argv, MedianClock::kCpu, &g_Ns)) return 1;
  int missed = 0;
  auto goal = [&](const char* name, const char* ours, const char* ref, double target) {
    if (!g_Ns.count(ours) || !g_Ns.count(ref)) {
      std::printf("goal %s: not measured (goal within %.2fx) missed\n", name, target);
      missed++;
      return;
    }
    const double ratio = g_Ns[ours] / g_Ns[ref];
    const bool met = ratio <= target;
    missed += !met;
    std::printf("goal %s: %.3fx the library's time, medians (goal within %.2fx) %s\n", name, ratio, target,
                met ? "met" : "missed");
  };
  goal("JPEG 1280x720 against libjpeg-turbo", "BM_JpegRows/direct:1", "BM_LibJpeg", 1.10);
  goal("PNG 1280x720 against libpng", "BM_PngDecode", "BM_LibPng", 1.05);
  std::printf("%d goal(s) missed\n", missed);
  benchmark::Shutdown();
  return 0;
}
