// GIF decoding and frame-set frames beside their references. GIF: 1920 x 1080 pictures in 256
// colours (noise and flat areas, plain and interlaced) decoded into B, G, R, A by the engine's own
// decoder, and by giflib (DGifSlurp from memory, then the palette lookup into B, G, R, A).
// Frame sets: one 1280 x 720 frame with its alpha picture shown in a layer, and the same two
// streams decoded by plain libjpeg that makes and destroys a decompression object per frame.
// Goals: ahead of giflib on every picture; frame sets ahead of the plain decode.
#include <benchmark/benchmark.h>
#include <gif_lib.h>
#include <jpeglib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "kit/frameset_writer.h"
#include "kit/gif_writer.h"
#include "layer/image.h"
#include "layer/image_frameset.h"
#include "layer/layer.h"
#include "platform/platform.h"

namespace {

enum Picture { NOISE, NOISE_INTERLACED, FLAT, FLAT_INTERLACED, PICTURE_COUNT };
const char* const kPictureNames[PICTURE_COUNT] = {"noise", "noise/il", "flat", "flat/il"};
constexpr i32 kGifW = 1920, kGifH = 1080, kFrameW = 1280, kFrameH = 720;

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Noise: every pixel its own index. Flat: large areas of one colour with a few edges, as in
// drawn pictures.
const std::vector<u8>& GifFile(Picture p) {
  static std::map<int, std::vector<u8>> files;
  std::vector<u8>& f = files[p];
  if (!f.empty()) return f;
  KitGif g;
  g.width = kGifW;
  g.height = kGifH;
  for (u32 i = 0; i < 256; i++)
    g.palette.insert(g.palette.end(), {static_cast<u8>(i), static_cast<u8>(i * 3), static_cast<u8>(255 - i)});
  KitGifImage im;
  im.width = kGifW;
  im.height = kGifH;
  im.interlaced = p == NOISE_INTERLACED || p == FLAT_INTERLACED;
  im.indexes.resize(static_cast<size_t>(kGifW) * kGifH);
  u32 x = 12345;
  for (i32 y = 0; y < kGifH; y++)
    for (i32 c = 0; c < kGifW; c++) {
      x = x * 1103515245u + 12345u;
      u8 v = p == NOISE || p == NOISE_INTERLACED
                 ? static_cast<u8>(x >> 16)
                 : static_cast<u8>((c / 160) * 16 + (y / 120) + ((x >> 20) % 61 == 0 ? 7 : 0));
      im.indexes[static_cast<size_t>(y) * kGifW + c] = v;
    }
  g.images.push_back(im);
  KitGifEncode(g, &f);
  return f;
}

struct Mem {
  const std::vector<u8>* file;
  size_t pos;
};

int GifRead(GifFileType* g, GifByteType* buf, int n) {
  Mem* m = static_cast<Mem*>(g->UserData);
  size_t k = std::min(static_cast<size_t>(n), m->file->size() - m->pos);
  std::memcpy(buf, m->file->data() + m->pos, k);
  m->pos += k;
  return static_cast<int>(k);
}

// giflib's way: slurp, then the first image through its colour map into B, G, R, A.
int GiflibDecode(const std::vector<u8>& file, std::vector<u8>* bgra) {
  Mem m{&file, 0};
  int err = 0;
  GifFileType* g = DGifOpen(&m, GifRead, &err);
  if (!g) return -1;
  if (DGifSlurp(g) != GIF_OK || g->ImageCount < 1) {
    DGifCloseFile(g, &err);
    return -1;
  }
  const SavedImage* im = &g->SavedImages[0];
  const ColorMapObject* map = im->ImageDesc.ColorMap ? im->ImageDesc.ColorMap : g->SColorMap;
  u32 colours[256] = {0};
  for (int i = 0; map && i < map->ColorCount && i < 256; i++)
    colours[i] = 0xFF000000u | u32{map->Colors[i].Red} << 16 | u32{map->Colors[i].Green} << 8 | map->Colors[i].Blue;
  const size_t n = static_cast<size_t>(g->SWidth) * g->SHeight;
  bgra->resize(n * 4);
  const u8* src = im->RasterBits;
  u8* dst = bgra->data();
  for (size_t i = 0; i < n; i++) std::memcpy(dst + i * 4, &colours[src[i]], 4);
  DGifCloseFile(g, &err);
  return 0;
}

struct GifFigures {
  double ours_us = 0, giflib_us = 0;
};
GifFigures g_Gif[PICTURE_COUNT];

void BM_Gif(benchmark::State& state) {
  PlatDialogsSetStderr(true);
  Picture p = static_cast<Picture>(state.range(0));
  const std::vector<u8>& file = GifFile(p);
  std::vector<u8> ref;
  if (GiflibDecode(file, &ref) != 0) state.SkipWithError("giflib refused the file");
  ImagePicture pic{};
  std::vector<double> ours_t, lib_t;
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    if (ImageDecode(IMAGE_TYPE_GIF, file.data(), static_cast<u32>(file.size()), "bench", &pic) != 0)
      state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(pic.pixels);
    auto t1 = std::chrono::steady_clock::now();
    GiflibDecode(file, &ref);
    benchmark::DoNotOptimize(ref.data());
    auto t2 = std::chrono::steady_clock::now();
    ours_t.push_back(std::chrono::duration<double>(t1 - t0).count());
    lib_t.push_back(std::chrono::duration<double>(t2 - t1).count());
    state.SetIterationTime(ours_t.back());
  }
  if (pic.pixels && std::memcmp(pic.pixels, ref.data(), ref.size()) != 0) state.SkipWithError("pictures differ");
  std::free(pic.pixels);
  g_Gif[p] = {Median(ours_t) * 1e6, Median(lib_t) * 1e6};
  state.counters["giflib_us"] = g_Gif[p].giflib_us;
  state.SetBytesProcessed(static_cast<i64>(state.iterations()) * kGifW * kGifH * 4);
  state.SetLabel(kPictureNames[p]);
}
BENCHMARK(BM_Gif)
    ->ArgName("picture")
    ->DenseRange(NOISE, FLAT_INTERLACED)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();

// ---- Frame sets ------------------------------------------------------------------------------

KitFrame FrameStreams() {
  std::vector<u8> px(static_cast<size_t>(kFrameW) * kFrameH * 4);
  for (i32 y = 0; y < kFrameH; y++)
    for (i32 x = 0; x < kFrameW; x++) {
      u8* p = &px[(static_cast<size_t>(y) * kFrameW + x) * 4];
      p[0] = static_cast<u8>(x / 5);
      p[1] = static_cast<u8>(y / 3 + ((x / 64 + y / 64) % 2) * 60);
      p[2] = static_cast<u8>((x * y) >> 10);
      p[3] = static_cast<u8>(std::min(255, std::abs(x - kFrameW / 2) / 2));
    }
  return {KitJpegEncode(px.data(), kFrameW, kFrameH, false, 85), KitJpegEncode(px.data(), kFrameW, kFrameH, true, 85)};
}

// The plain way: a new decompression object for each stream, the colour rows as B, G, R, A,
// then the grey rows into the alpha bytes.
void PlainDecode(const KitFrame& f, std::vector<u8>* bgra) {
  bgra->resize(static_cast<size_t>(kFrameW) * kFrameH * 4);
  std::vector<u8> grey(kFrameW);
  for (int pass = 0; pass < 2; pass++) {
    const std::vector<u8>& s = pass ? f.alpha : f.colour;
    jpeg_decompress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_decompress(&c);
    jpeg_mem_src(&c, s.data(), s.size());
    jpeg_read_header(&c, TRUE);
    if (!pass) c.out_color_space = JCS_EXT_BGRA;
    jpeg_start_decompress(&c);
    while (c.output_scanline < c.output_height) {
      u8* row = bgra->data() + static_cast<size_t>(c.output_scanline) * kFrameW * 4;
      JSAMPROW r = pass ? grey.data() : row;
      jpeg_read_scanlines(&c, &r, 1);
      if (pass)
        for (i32 x = 0; x < kFrameW; x++) row[x * 4 + 3] = grey[x];
    }
    jpeg_finish_decompress(&c);
    jpeg_destroy_decompress(&c);
  }
}

GifFigures g_Frames;  // ours: the frame shown; "giflib": the plain decode

void BM_FrameSetShow(benchmark::State& state) {
  PlatDialogsSetStderr(true);
  KitFrame f = FrameStreams();
  const i32 values[3] = {0, 0, 0};
  std::vector<u8> file = KitFrameSetEncode({f, f}, 1, values);
  LayerRecord* rec = static_cast<LayerRecord*>(std::calloc(1, sizeof(LayerRecord)));
  rec->width = rec->height = 1;
  ObjNode node{};
  node.payload = rec;
  u8* bytes = static_cast<u8*>(std::malloc(file.size()));
  std::memcpy(bytes, file.data(), file.size());
  ImageFrameSetTake(rec, bytes, static_cast<u32>(file.size()), "bench");
  std::vector<u8> plain;
  std::vector<double> ours_t, plain_t;
  i64 k = 0;
  for (auto _ : state) {
    // Each goes first every other time, so neither always meets the caches the other left.
    bool ours_first = (k & 1) == 0;
    double ours = 0, ref = 0;
    for (int turn = 0; turn < 2; turn++) {
      auto t0 = std::chrono::steady_clock::now();
      if ((turn == 0) == ours_first) {
        if (ImageFrameSetShow(&node, k & 1) != 0) state.SkipWithError("frame not shown");
        ours = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
      } else {
        PlainDecode(f, &plain);
        benchmark::DoNotOptimize(plain.data());
        ref = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
      }
    }
    k++;
    ours_t.push_back(ours);
    plain_t.push_back(ref);
    state.SetIterationTime(ours);
  }
  if (rec->pixels && std::memcmp(rec->pixels, plain.data(), plain.size()) != 0) state.SkipWithError("frames differ");
  LayerRecordFree(rec);
  ImageFrameReset();
  g_Frames = {Median(ours_t) * 1e6, Median(plain_t) * 1e6};
  state.counters["plain_us"] = g_Frames.giflib_us;
  state.SetBytesProcessed(static_cast<i64>(state.iterations()) * kFrameW * kFrameH * 4);
}
BENCHMARK(BM_FrameSetShow)->Unit(benchmark::kMillisecond)->UseManualTime();

void PrintTable() {
  std::printf("\n%-20s %12s %14s %10s  %s\n", "case", "zephra us", "reference us", "ratio", "goal");
  int missed = 0;
  auto row = [&](const std::string& name, const GifFigures& f, const char* ref) {
    bool ok = f.ours_us > 0 && f.ours_us <= f.giflib_us;
    missed += !ok;
    std::printf("%-20s %12.1f %14.1f %9.2fx  %s (%s)\n", name.c_str(), f.ours_us, f.giflib_us,
                f.ours_us > 0 ? f.giflib_us / f.ours_us : 0.0, ok ? "ok" : "MISSED", ref);
  };
  for (int p = 0; p < PICTURE_COUNT; p++) row(std::string("gif ") + kPictureNames[p], g_Gif[p], "ahead of giflib");
  row("frame set 1280x720", g_Frames, "ahead of plain libjpeg");
  std::printf("\n%d goal(s) missed\n", missed);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  PrintTable();
  return 0;
}
