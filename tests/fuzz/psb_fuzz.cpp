// libFuzzer target of the animated-character reader: any bytes are read or refused, and a file
// that is read plays (every motion and timeline started, time advanced, every part posed) without
// a fault. Seeds: `cmake --build build/fuzz --target psb_fuzz_corpus` (the demo character).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "emote/player.h"
#include "emote/psb.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  EmotePlayerState p;
  if (EmotePsbRead(data, size, &p.model) != 0) return 0;
  EmotePlayerInit(&p);
  EmotePlayerBegin(&p);
  for (const EmoteClip& c : p.model.clips) EmotePlayerStart(&p, c.name.c_str(), c.kind);
  std::vector<EmotePose> poses;
  for (float frames : {0.5f, 7.0f, 1000.0f}) {
    EmotePlayerAdvance(&p, frames);
    EmotePlayerPoses(p, &poses);
  }
  return 0;
}
