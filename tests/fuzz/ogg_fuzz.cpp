// Fuzz target for Ogg Vorbis through the engine's own reader callbacks: opening the image,
// starting the stream (seeking into it), and filling its halves with loops and a short end.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/config.h"
#include "sound/sound_file.h"
#include "sound/sound_stream.h"
#include "sound/sound_thread.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3 || size > (1u << 22)) return 0;
  g_SoundEnabled.store(1);
  g_SoundDevice.store(0);
  SoundStream s{};
  u8* copy = static_cast<u8*>(std::malloc(size > 3 ? size - 3 : 1));
  if (size > 3) std::memcpy(copy, data + 3, size - 3);
  if (SoundOpenImage(&s, copy, static_cast<u32>(size - 3), SOUND_KIND_OGG) == 0) {
    s.loops_left = 2;
    s.loop_back = data[0];
    s.end = static_cast<i32>(s.length) - data[1];
    i64 played;
    SoundStreamStart(&s, static_cast<i8>(data[2]), &played);
    for (int i = 0; i < 4; i++) SoundFillHalf(&s);
  }
  SoundStreamRelease(&s);
  return 0;
}
