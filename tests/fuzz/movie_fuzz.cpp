// Arbitrary bytes opened as a movie through the player's memory reader, and a few pictures
// decoded and converted: a damaged movie must end, never crash or hang. Seeds: `zpkit movie`.
#include <cstddef>
#include <cstdint>

#include "platform/movie.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  PlatMovie* m = PlatMovieOpenMemory(data, size);
  if (!m) return 0;
  PlatMovieDecodeFrames(m, 8);
  PlatMovieClose(m);
  return 0;
}
