// Frames that runs dump (PNG), read back and compared with the golden pictures under
// tests/integration/golden. Glyphs come from the installed IPA fonts, whose rendering may move a
// pixel between FreeType versions: inside the text area a frame may differ a little. So may an
// animated character drawn on the GPU, whose parts an optimised build places a sub-pixel apart
// from an unoptimised one. Everywhere else a frame must match.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "layer/image.h"

inline bool DecodePngFile(const std::filesystem::path& file, ImagePicture* pic) {
  std::ifstream in(file, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  *pic = ImagePicture{};
  return !bytes.empty() && ImageDecodePng(reinterpret_cast<const u8*>(bytes.data()), static_cast<u32>(bytes.size()),
                                          file.string().c_str(), pic) == 0;
}

struct GoldenTextArea {
  i32 left, top, right, bottom;  // right and bottom exclusive
  bool Holds(i32 x, i32 y) const { return x >= left && x < right && y >= top && y < bottom; }
};

// Outside the text: within 2 levels a channel. Inside: at most 3 % of its pixels differ by more
// than 2, and the amount of ink (bright pixels) is within 10 % of the golden picture's. Inside
// the character's area (when given): at most 10 % of its pixels differ by more than 2.
inline void ExpectFrameMatchesGolden(const std::filesystem::path& frame, const char* golden, GoldenTextArea text,
                                     GoldenTextArea character = {0, 0, 0, 0}) {
  ImagePicture got{}, want{};
  bool read = DecodePngFile(frame, &got);
  read = DecodePngFile(std::filesystem::path(ZEPHRA_SOURCE_DIR) / "tests" / "integration" / "golden" / golden, &want) &&
         read;
  if (!read) {
    std::free(got.pixels);
    std::free(want.pixels);
    FAIL() << "cannot read " << frame << " or " << golden;
  }
  EXPECT_EQ(got.width, want.width);
  EXPECT_EQ(got.height, want.height);
  size_t outside_off = 0, text_off = 0, character_off = 0, ink_got = 0, ink_want = 0;
  for (i32 y = 0; y < std::min(got.height, want.height); y++)
    for (i32 x = 0; x < std::min(got.width, want.width); x++) {
      const u8* a = got.pixels + (static_cast<size_t>(y) * got.width + x) * 4;
      const u8* b = want.pixels + (static_cast<size_t>(y) * want.width + x) * 4;
      int diff = 0;
      for (int c = 0; c < 3; c++) diff = std::max(diff, std::abs(a[c] - b[c]));
      if (character.Holds(x, y) && !text.Holds(x, y)) {
        character_off += diff > 2;
        continue;
      }
      if (!text.Holds(x, y)) {
        outside_off += diff > 2;
        continue;
      }
      text_off += diff > 2;
      ink_got += a[0] + a[1] + a[2] > 400;
      ink_want += b[0] + b[1] + b[2] > 400;
    }
  EXPECT_EQ(outside_off, 0u) << golden;
  EXPECT_LE(character_off,
            static_cast<size_t>((character.right - character.left) * (character.bottom - character.top) / 10))
      << golden;
  EXPECT_LE(text_off, static_cast<size_t>((text.right - text.left) * (text.bottom - text.top) * 3 / 100)) << golden;
  EXPECT_GT(ink_want, 1000u) << "the golden picture shows the text";
  EXPECT_NEAR(static_cast<double>(ink_got), static_cast<double>(ink_want), ink_want * 0.10) << golden;
  std::free(got.pixels);
  std::free(want.pixels);
}
