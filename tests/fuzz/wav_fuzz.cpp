// Fuzz target for the WAV chunk walk, the compressed-WAV decoders and the streaming of whatever
// they accept (loops and a short end included), without an audio device.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/config.h"
#include "sound/sound_codec.h"
#include "sound/sound_file.h"
#include "sound/sound_stream.h"
#include "sound/sound_thread.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 24)) return 0;
  SoundWavInfo info;
  if (SoundWavParse(data, static_cast<u32>(size), &info) == 0 && info.format.format_tag != SOUND_TAG_PCM) {
    u8* image;
    u32 bytes;
    if (SoundWavDecode(&info, data + info.data_offset, &image, &bytes) == 0) std::free(image);
  }
  g_SoundEnabled.store(1);
  g_SoundDevice.store(0);
  SoundStream s{};
  u8* copy = static_cast<u8*>(std::malloc(size ? size : 1));
  if (size) std::memcpy(copy, data, size);
  if (SoundOpenImage(&s, copy, static_cast<u32>(size), SOUND_KIND_WAV) == 0) {
    s.loops_left = 3;
    s.loop_back = size > 0 ? data[0] : 0;
    s.end = size > 1 ? static_cast<i32>(s.length) - data[1] : static_cast<i32>(s.length);
    i64 played;
    SoundStreamStart(&s, size > 2 ? static_cast<i8>(data[2]) : 0, &played);
    for (int i = 0; i < 3; i++) SoundFillHalf(&s);
  }
  SoundStreamRelease(&s);
  return 0;
}
