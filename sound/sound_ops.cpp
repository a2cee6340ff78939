// Sound request handlers (see sound_ops.h), in the order of their operation codes; the table
// at the end is what the ring's drain calls. A fade's step is its volume change per ms in
// 1/1024; a fade time of 0 takes the whole change as one step.
#include "sound/sound_ops.h"

#include <algorithm>

#include "common/sjis.h"
#include "core/obj.h"
#include "platform/audio.h"
#include "platform/platform.h"
#include "sound/sound_file.h"
#include "sound/sound_object.h"
#include "sound/sound_ring.h"

static ObjNode* SlotNode(i32 slot) { return g_SoundRequestRing.object[slot]; }
static SoundObject* SlotObject(i32 slot) { return SoundObjectOf(SlotNode(slot)); }
static i32 SlotArgument(i32 slot) { return g_SoundRequestRing.argument[slot]; }

static i32 FadeStep(i32 change, i32 fade_time) {
  const i64 dividend = static_cast<i64>(change) * 1024;
  return static_cast<i32>(fade_time ? dividend / fade_time : dividend);
}

static void StartFade(SoundObject* o, i32 from, i32 change) {
  o->fade_start = PlatTimeMs();
  o->fade_end = 0;
  o->fade_from = from;
  o->fade_step = FadeStep(change, o->fade_time);
}

// Silences the object's voice (a folder: every voice below it gets its own volume again), then
// frees the stream and the file image.
static void Unload(ObjNode* node, SoundObject* o) {
  SoundApplyVolume(node, 0);
  SoundStreamRelease(&o->stream);
  o->start = 0;
  o->state = SOUND_UNLOADED;
}

i32 SoundOpLoad(i32 slot) {
  ObjNode* node = SlotNode(slot);
  SoundObject* o = SoundObjectOf(node);
  if (!o) return 0;
  if (o->state != SOUND_UNLOADED) {
    Unload(node, o);
    return 0;
  }
  StrCopySjis(o->file_name, sizeof o->file_name, g_SoundRequestRing.file_name[slot]);
  SoundStream* s = &o->stream;
  s->loops_left = 0;
  s->half_indicator = 1;
  o->pan = o->speed = 256;
  o->start = 0;
  s->loop_back = 0;
  s->end = 0;
  o->bytes_played = 0;
  s->pending_loop_back = s->pending_end = 0;
  const i32 r = SoundOpenFile(s, o->file_name, o->kind, static_cast<u64>(node->order));
  if (r == 0) o->state = SOUND_LOADED;
  return r;
}

// Start of play from the loaded state: silent voice, pan, first half, looping play, then the
// fade from 0 to the target.
static i32 PlayLoaded(SoundObject* o, i32 failure) {
  SoundStream* s = &o->stream;
  if (o->start >= s->end) o->start = 0;
  SoundSetBufferVolume(s, 0);
  SoundSetBufferPan(s, o->pan);
  u32 cursor = 0;
  if (s->buffer) PlatAudioVoiceGetPosition(s->buffer, &cursor, nullptr);
  s->last_play_cursor = cursor;
  if (SoundStreamStart(s, o->start, &o->bytes_played) != 0) return failure;
  // The fade runs from now: a file loaded earlier must not count its waiting time as faded.
  StartFade(o, 0, o->target_volume);
  o->state = SOUND_FADING_IN;
  return 0;
}

i32 SoundOpPlay(i32 slot) {
  ObjNode* node = SlotNode(slot);
  SoundObject* o = SoundObjectOf(node);
  if (!o) return 0;
  o->fade_time = SlotArgument(slot);
  SoundStream* s = &o->stream;
  switch (o->state) {
    case SOUND_UNLOADED: {
      if (!o->file_name[0]) return 0;
      s->half_indicator = 1;
      o->start = 0;
      o->bytes_played = 0;
      s->last_play_cursor = 0;
      s->carry_count = 0;
      s->silence_to_insert = 0;
      o->fade_start = PlatTimeMs();
      o->fade_end = 0;
      const i32 r = SoundOpenFile(s, o->file_name, o->kind, static_cast<u64>(node->order));
      if (r) return r;
      o->state = SOUND_LOADED;
      return PlayLoaded(o, -110);
    }
    case SOUND_LOADED: return PlayLoaded(o, -120);
    case SOUND_FADING_IN: StartFade(o, o->volume, o->target_volume - o->previous_target); return 0;
    case SOUND_PLAYING:
      StartFade(o, o->volume, o->target_volume - o->volume);
      o->state = SOUND_FADING_IN;
      return 0;
    case SOUND_FADING_OUT:
      // Play during a fade-out cuts it short and unloads the object.
      std::swap(o->fade_from, o->target_volume);
      Unload(node, o);
      return 0;
  }
  return 0;
}

i32 SoundOpPause(i32 slot) {
  ObjNode* node = SlotNode(slot);
  SoundObject* o = SoundObjectOf(node);
  if (!o) return 0;
  const i32 arg = SlotArgument(slot);
  o->paused = static_cast<u8>(arg);
  const u8 flag = arg != 0;
  if (flag) {
    SoundObjectPause(node);
  } else {
    SoundObjectResume(node);
  }
  if (node->kind == OBJ_FOLDER) SoundPauseTree(node->first_child, flag);
  return 0;
}

i32 SoundOpFadeOut(i32 slot) {
  SoundObject* o = SlotObject(slot);
  if (!o) return 0;
  if (o->state < SOUND_FADING_IN) return 0;
  o->fade_time = SlotArgument(slot);
  const i32 from = o->state == SOUND_FADING_IN ? o->previous_target : o->volume;
  StartFade(o, o->volume, -from);
  o->target_volume = 0;
  o->state = SOUND_FADING_OUT;
  return 0;
}

i32 SoundOpSetVolume(i32 slot) {
  ObjNode* node = SlotNode(slot);
  SoundObject* o = SoundObjectOf(node);
  if (!o) return 0;
  const i32 v = SlotArgument(slot);
  o->volume = o->target_volume = o->previous_target = v;
  SoundApplyVolume(node, v);
  return 0;
}

i32 SoundOpSetNextVolume(i32 slot) {
  SoundObject* o = SlotObject(slot);
  if (!o) return 0;
  o->previous_target = o->target_volume;
  o->target_volume = SlotArgument(slot);
  return 0;
}

// The object of a slot for ops 7 to 12 and 14, or null when there is none or it is unloaded.
static SoundObject* LoadedObject(i32 slot, i32* result) {
  SoundObject* o = SlotObject(slot);
  *result = o ? 1 : 0;
  return o && o->state != SOUND_UNLOADED ? o : nullptr;
}

i32 SoundOpSetLoopCount(i32 slot) {
  i32 r;
  SoundObject* o = LoadedObject(slot, &r);
  if (!o) return r;
  o->stream.loops_left = SlotArgument(slot);
  return 0;
}

i32 SoundOpSetEnd(i32 slot) {
  i32 r;
  SoundObject* o = LoadedObject(slot, &r);
  if (!o) return r;
  o->stream.end = static_cast<i32>(std::min<i64>(SlotArgument(slot), o->stream.length));
  return 0;
}

i32 SoundOpSetStart(i32 slot) {
  i32 r;
  SoundObject* o = LoadedObject(slot, &r);
  if (!o) return r;
  const i32 ms = SlotArgument(slot);
  o->start = ms < o->stream.length ? ms : 0;
  return 0;
}

i32 SoundOpSetLoopPoint(i32 slot) {
  i32 r;
  SoundObject* o = LoadedObject(slot, &r);
  if (!o) return r;
  const i32 ms = SlotArgument(slot);
  o->stream.loop_back = ms < o->stream.length ? ms : 0;
  return 0;
}

i32 SoundOpSetPan(i32 slot) {
  i32 r;
  SoundObject* o = LoadedObject(slot, &r);
  if (!o) return r;
  o->pan = SlotArgument(slot);
  SoundSetBufferPan(&o->stream, o->pan);
  return 0;
}

i32 SoundOpSetSpeed(i32 slot) {
  i32 r;
  SoundObject* o = LoadedObject(slot, &r);
  if (!o) return r;
  o->speed = SlotArgument(slot);
  SoundSetBufferSpeed(&o->stream, o->speed);
  return 0;
}

i32 SoundOpNop(i32) { return 0; }

i32 SoundOpUnload(i32 slot) {
  ObjNode* node = SlotNode(slot);
  i32 r;
  SoundObject* o = LoadedObject(slot, &r);
  if (!o) return r;
  o->file_name[0] = '\0';
  Unload(node, o);
  return 0;
}

const SoundRequestHandler g_SoundRequestHandlerTable[SOUND_OP_COUNT] = {
    nullptr,         SoundOpLoad,      SoundOpPlay,          SoundOpPause,
    SoundOpFadeOut,  SoundOpSetVolume, SoundOpSetNextVolume, SoundOpSetLoopCount,
    SoundOpSetEnd,   SoundOpSetStart,  SoundOpSetLoopPoint,  SoundOpSetPan,
    SoundOpSetSpeed, SoundOpNop,       SoundOpUnload,
};
