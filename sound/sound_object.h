// Sound objects: the payload of a sound-tree node. A folder carries a record of its own, so its
// volume, on byte and paused byte apply to everything below it (on is combined by AND up the
// tree, paused by OR). The streaming fields, with the lap fields the decoder moves (length, end,
// loop-back, loops left, the pending pair), close the record as its SoundStream.
#pragma once
#include "common/types.h"
#include "sound/sound_stream.h"

enum { SOUND_NAME_SIZE = 261 };
// Play states.
enum { SOUND_UNLOADED = 0, SOUND_LOADED = 1, SOUND_FADING_IN = 2, SOUND_PLAYING = 3, SOUND_FADING_OUT = 4 };

struct SoundObject {
  char file_name[SOUND_NAME_SIZE];  // empty = none
  u8 kind;              // SOUND_KIND_OGG or SOUND_KIND_WAV
  u8 on;                // 0 makes the effective volume 0 and blocks resume
  u8 state;             // SOUND_UNLOADED ... SOUND_FADING_OUT
  u8 paused;            // paused by script
  i32 loop_count;       // plays before the tracker stops the object; 0 = forever
  i32 loop_counter;     // ends reached so far
  i64 bytes_played;     // PCM bytes from the file start
  i32 start;            // ms, where play begins
  u32 pause_time;       // clock when paused; 0 = not paused
  i32 pan;              // 0 left .. 256 centre .. 512 right
  i32 speed;            // 256 = file rate, 0..512
  i32 volume;           // 0..256
  i32 fade_from;
  i32 target_volume;
  i32 previous_target;  // requested volume before the last change
  i32 fade_time;        // ms
  i32 fade_step;        // volume change per ms in 1/1024
  u32 fade_start;
  u32 fade_end;         // 0 while the fade runs
  SoundStream stream;
};

// Releases the object's stream (voice, blocks, decoder, file image) and frees the record.
void SoundObjectFree(SoundObject* obj);
