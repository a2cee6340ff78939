// The sound devices of the machine, for the system report. Opens SDL's audio subsystem only for
// the question and closes it again (SDL counts the openings, so a running sound output stays).
#include <SDL.h>

#include "platform/audio.h"
#include "platform/platform.h"

std::vector<PlatSoundDeviceInfo> PlatSoundDeviceList(bool capture) {
  std::vector<PlatSoundDeviceInfo> list;
  if (PlatAudioSubsystemStart() != 0) return list;
  int iscapture = capture ? 1 : 0;
  int n = SDL_GetNumAudioDevices(iscapture);
  for (int i = 0; i < n; i++) {
    PlatSoundDeviceInfo d{};
    const char* name = SDL_GetAudioDeviceName(i, iscapture);
    d.name = name ? name : "";
    SDL_AudioSpec spec;
    if (SDL_GetAudioDeviceSpec(i, iscapture, &spec) == 0) {
      d.channels = spec.channels;
      d.frequency = spec.freq;
      d.bits = static_cast<i32>(SDL_AUDIO_BITSIZE(spec.format));
    }
    list.push_back(d);
  }
  PlatAudioSubsystemStop();
  return list;
}
