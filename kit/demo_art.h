// The demo game's pictures, drawn by the kit so the project ships no art of its own: a gradient
// background, a character silhouette with soft alpha edges and a translucent message window, each
// written as a 32-bit BMP (alpha kept) or 24-bit where it has none.
#pragma once
#include <string>
#include <vector>

#include "common/types.h"

// A BMP file of a width x height B, G, R, A picture (rows top-down): 32 bits, or 24 bits with
// alpha dropped.
std::vector<u8> KitBmpEncode(const u8* bgra, i32 width, i32 height, bool with_alpha);

struct KitDemoPicture {
  std::string name;  // relative path, "/" separators
  i32 width, height;
  bool alpha;
  std::vector<u8> bgra;
};
// The demo's pictures at a game size (the background covers it).
std::vector<KitDemoPicture> KitDemoPictures(i32 game_width, i32 game_height);
// Writes them as BMP files under a native folder (created as needed). 0, or -1 with err.
int KitDemoArtWrite(const std::string& folder_native, i32 game_width, i32 game_height, std::string* err);
