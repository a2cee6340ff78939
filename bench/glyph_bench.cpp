// Glyphs drawn per second into a 32-bit canvas with an installed IPA face: rendering the
// character into the slot's cell and copying it, at 16 and 32 pixels, smooth and hard, typed out
// the way message text is (a line of kana and kanji, characters repeating as text does). Beside
// it, FreeType's own rate for the same rendering method: loading and rendering each character
// as a 1-bit bitmap at the cell's font size (four times the glyph size for smooth text). And a
// page of 200 glyphs shown at once.
#include <benchmark/benchmark.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "layer/font.h"
#include "layer/glyph.h"
#include "platform/platform.h"

namespace {

// A line of kana and kanji, typed out the way message text is.
const char* kLine = "あいうえおかきくけこ漢字の表示速度を測ります。";

std::map<std::pair<int, int>, double> g_Ours, g_FreeType;  // (px, smooth) -> glyphs per second
double g_PageUs = -1;

bool SelectIpa() {
  FontReset();
  return FontEnumInstalled() == 0 && FontSelectFaceByName("IPAGothic");
}

void BM_GlyphDraw(benchmark::State& state) {
  const i32 size = static_cast<i32>(state.range(0));
  const u8 smooth = static_cast<u8>(state.range(1));
  if (!SelectIpa()) {
    state.SkipWithError("no IPA face installed");
    return;
  }
  const i32 w = 640, h = 480;
  std::vector<u8> pixels(static_cast<size_t>(w * h * 4 + w * 4 + 4));
  GlyphCanvas canvas = GlyphCanvasMake(pixels.data(), w, h, w * 4);
  const std::string text = PlatUtf8ToSjis(kLine);
  size_t at = 0;
  i32 x = 0, y = 0;
  for (auto _ : state) {
    i32 adv = TextDrawGlyph(text.c_str() + at, 0xFFFFFF, 0x8080FF, 1, 0, size, size, 0, smooth, 0, x, y, 0, &canvas);
    at += 2;
    if (at >= text.size()) at = 0;
    x += adv;
    if (x + size >= w) {
      x = 0;
      y = (y + size) % (h - size);
    }
  }
  state.SetItemsProcessed(state.iterations());
  FontReset();
}

// FreeType alone: the same characters loaded and rendered 1-bit at the cell's font size.
void BM_FreeTypeMono(benchmark::State& state) {
  const i32 size = static_cast<i32>(state.range(0));
  const u8 smooth = static_cast<u8>(state.range(1));
  std::string path;
  if (std::FILE* p = popen("fc-match -f '%{file}' IPAGothic 2>/dev/null", "r")) {
    char buf[4096];
    size_t n = std::fread(buf, 1, sizeof buf - 1, p);
    pclose(p);
    path.assign(buf, n);
  }
  FT_Library lib;
  FT_Face face;
  if (path.empty() || FT_Init_FreeType(&lib) != 0) {
    state.SkipWithError("no FreeType or no IPA face");
    return;
  }
  if (FT_New_Face(lib, path.c_str(), 0, &face) != 0) {
    FT_Done_FreeType(lib);
    state.SkipWithError("IPA face not readable");
    return;
  }
  FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(smooth ? 4 * size : size));
  std::vector<u32> cps;
  for (const char* s = kLine; *s;) {  // UTF-8 to code points (three-byte characters only here)
    const u8* u = reinterpret_cast<const u8*>(s);
    cps.push_back((u32{u[0]} & 0x0F) << 12 | (u32{u[1]} & 0x3F) << 6 | (u32{u[2]} & 0x3F));
    s += 3;
  }
  size_t at = 0;
  for (auto _ : state) {
    FT_Load_Char(face, cps[at], FT_LOAD_TARGET_MONO);
    FT_Render_Glyph(face->glyph, FT_RENDER_MODE_MONO);
    benchmark::DoNotOptimize(face->glyph->bitmap.buffer);
    if (++at == cps.size()) at = 0;
  }
  state.SetItemsProcessed(state.iterations());
  FT_Done_Face(face);
  FT_Done_FreeType(lib);
}

// Two hundred glyphs of a page at once (24 pixels, smooth), as a message window fills.
void BM_Page(benchmark::State& state) {
  if (!SelectIpa()) {
    state.SkipWithError("no IPA face installed");
    return;
  }
  const i32 w = 800, h = 600, size = 24;
  std::vector<u8> pixels(static_cast<size_t>(w * h * 4 + w * 4 + 4));
  GlyphCanvas canvas = GlyphCanvasMake(pixels.data(), w, h, w * 4);
  const std::string text = PlatUtf8ToSjis(kLine);
  for (auto _ : state) {
    size_t at = 0;
    i32 x = 0, y = 0;
    for (i32 n = 0; n < 200; n++) {
      x += TextDrawGlyph(text.c_str() + at, 0xFFFFFF, 0xFFFFFFFF, 0, 0, size, size, 0, 1, 0, x, y, 0, &canvas);
      at = at + 2 >= text.size() ? 0 : at + 2;
      if (x + size >= w) {
        x = 0;
        y += size + 4;
      }
    }
  }
  FontReset();
}

BENCHMARK(BM_GlyphDraw)->ArgNames({"px", "smooth"})->ArgsProduct({{16, 32}, {0, 1}});
BENCHMARK(BM_FreeTypeMono)->ArgNames({"px", "smooth"})->ArgsProduct({{16, 32}, {0, 1}});
BENCHMARK(BM_Page)->Unit(benchmark::kMicrosecond);

// Picks the figures out of the runs as they are reported.
class Collect : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      const std::string name = r.benchmark_name();
      const double seconds_per = r.GetAdjustedRealTime() / 1e9;  // reported in ns
      int px = name.find("px:32") != std::string::npos ? 32 : 16;
      int smooth = name.find("smooth:1") != std::string::npos ? 1 : 0;
      if (name.rfind("BM_GlyphDraw", 0) == 0) g_Ours[{px, smooth}] = 1 / seconds_per;
      if (name.rfind("BM_FreeTypeMono", 0) == 0) g_FreeType[{px, smooth}] = 1 / seconds_per;
      if (name.rfind("BM_Page", 0) == 0) g_PageUs = r.GetAdjustedRealTime();  // microseconds
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  Collect reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  int missed = 0;
  std::printf("\n%-18s %16s %16s %8s\n", "glyphs", "zephra /s", "FreeType /s", "ratio");
  for (const auto& [key, ours] : g_Ours) {
    const double ft = g_FreeType.count(key) ? g_FreeType[key] : 0;
    std::printf("%3d px %-11s %16.0f %16.0f %7.2fx\n", key.first, key.second ? "smooth" : "hard", ours, ft,
                ft > 0 ? ours / ft : 0.0);
    char name[96];
    std::snprintf(name, sizeof name, "glyphs at %d px %s against FreeType mono%s", key.first,
                  key.second ? "smooth" : "hard", key.second ? " at 4x" : "");
    const bool met = ft > 0 && ours >= ft;
    missed += !met;
    std::printf("goal %s: %.2fx (goal at least 1.00x) %s\n", name, ft > 0 ? ours / ft : 0.0, met ? "met" : "missed");
  }
  const bool page_met = g_PageUs >= 0 && g_PageUs < 1000;
  missed += !page_met;
  std::printf("goal a page of 200 glyphs at 24 px smooth: %.0f us (goal under 1000 us) %s\n", g_PageUs,
              page_met ? "met" : "missed");
  std::printf("%d goal(s) missed\n", missed);
  benchmark::Shutdown();
  return 0;
}
