// The kit's writer of JPEG frame sets, on the layout and the scrambling of the runtime's reader
// (layer/image_frameset.h), and a small JPEG encoder for the frames: a colour picture and a
// greyscale picture of its alpha.
#pragma once
#include <string>
#include <vector>

#include "common/types.h"

struct KitFrame {
  std::vector<u8> colour;  // a JPEG stream
  std::vector<u8> alpha;   // a greyscale JPEG stream, or empty
};

// The set's file: header, tables, then each frame's colour stream directly followed by its alpha
// stream, both scrambled.
std::vector<u8> KitFrameSetEncode(const std::vector<KitFrame>& frames, i32 alpha_flag, const i32 values[3]);

// A width x height B, G, R, A picture (rows top-down) as a JPEG: its colours (alpha false) or
// its alpha bytes as a greyscale picture (alpha true). quality 1 to 100.
std::vector<u8> KitJpegEncode(const u8* bgra, i32 width, i32 height, bool alpha, int quality);
