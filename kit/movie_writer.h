// Test movies: MPEG-1 video with MPEG audio layer II in an MPEG program stream, encoded with
// libavcodec's own encoders. Each second shows one solid colour of the list (the last repeats),
// and the sound is a sine tone, so a player's pictures and sound can be checked.
#pragma once
#include <string>
#include <vector>

#include "common/types.h"

struct KitMovieSpec {
  i32 width = 160, height = 120;  // even sides
  i32 fps = 25;
  i32 seconds = 2;
  std::vector<u32> colours = {0xFF0000, 0x00FF00};  // 0xRRGGBB per second
  i32 tone_hz = 440;                                // 0: no sound stream
  i32 sample_rate = 44100;
};

// 0, or -1 with *err.
int KitWriteTestMovie(const std::string& path, const KitMovieSpec& spec, std::string* err);
