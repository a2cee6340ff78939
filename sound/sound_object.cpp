// Sound objects (see sound_object.h).
#include "sound/sound_object.h"

#include <cstdlib>

void SoundObjectFree(SoundObject* obj) {
  if (!obj) return;
  SoundStreamRelease(&obj->stream);
  free(obj);
}
