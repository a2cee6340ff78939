// Glyphs drawn per second into a 32-bit canvas with an installed IPA face: rendering the
// character into the slot's cell and copying it, at 16 and 32 pixels, smooth and hard.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "layer/font.h"
#include "layer/glyph.h"
#include "platform/platform.h"

static void BM_GlyphDraw(benchmark::State& state) {
  const i32 size = static_cast<i32>(state.range(0));
  const u8 smooth = static_cast<u8>(state.range(1));
  FontReset();
  if (FontEnumInstalled() != 0 || !FontSelectFaceByName("IPAGothic")) {
    state.SkipWithError("no IPA face installed");
    return;
  }
  const i32 w = 640, h = 480;
  std::vector<u8> pixels(static_cast<size_t>(w * h * 4 + w * 4 + 4));
  GlyphCanvas canvas = GlyphCanvasMake(pixels.data(), w, h, w * 4);
  // A line of kana and kanji, typed out the way message text is.
  const std::string text = PlatUtf8ToSjis("あいうえおかきくけこ漢字の表示速度を測ります。");
  size_t at = 0;
  i32 x = 0, y = 0;
  for (auto _ : state) {
    i32 adv = TextDrawGlyph(text.c_str() + at, 0xFFFFFF, 0x8080FF, 1, 0, size, size, 0, smooth, 0, x,
                            y, 0, &canvas);
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
BENCHMARK(BM_GlyphDraw)
    ->ArgNames({"px", "smooth"})
    ->Args({16, 0})
    ->Args({16, 1})
    ->Args({32, 0})
    ->Args({32, 1});

BENCHMARK_MAIN();
