// Sound objects (see sound_object.h). The pass walks visit each node before its children and
// never change the tree's shape, so a walk may hold plain pointers. A paused object has no
// voice: the tracker and the refill pass over it, and its fade's start moves with the clock.
#include "sound/sound_object.h"

#include <cstdlib>

#include "core/obj.h"
#include "core/sys.h"
#include "platform/audio.h"
#include "platform/platform.h"
#include "sound/sound_file.h"
#include "sound/sound_thread.h"

void SoundObjectFree(SoundObject* obj) {
  if (!obj) return;
  SoundStreamRelease(&obj->stream);
  free(obj);
}

SoundObject* SoundObjectOf(ObjNode* node) { return node ? static_cast<SoundObject*>(node->payload) : nullptr; }

// The tree root has no parent; its children are the top of every volume and pause chain.
static bool HasObjectParent(const ObjNode* node) { return node->parent && node->parent->parent; }

static bool Playing(const SoundObject* o) { return o->state >= SOUND_FADING_IN && o->state <= SOUND_FADING_OUT; }

// 0 means "not paused", so a pause that falls on clock value 0 is stored as 1.
static u32 PauseClock() {
  const u32 now = PlatTimeMs();
  return now ? now : 1;
}

// ---- Volume ------------------------------------------------------------------------------------

i32 SoundEffectiveVolume(ObjNode* node) {
  SoundObject* o = SoundObjectOf(node);
  if (!o) return SOUND_VOLUME_FULL;
  i64 own = o->on == 1 ? o->volume : 0;
  if (HasObjectParent(node)) own = own * SoundEffectiveVolume(node->parent) >> 8;
  return static_cast<i32>(own);
}

void SoundApplyVolumeTree(ObjNode* folder) {
  for (ObjNode* c = folder->first_child; c; c = c->next) {
    if (c->kind == OBJ_FOLDER) {
      SoundApplyVolumeTree(c);
    } else if (SoundObject* o = SoundObjectOf(c)) {
      SoundSetBufferVolume(&o->stream, SoundEffectiveVolume(c));
    }
  }
}

void SoundApplyVolume(ObjNode* node, i32 v) {
  SoundObject* o = SoundObjectOf(node);
  if (!o || !g_SoundDevice.load()) return;
  if (node->kind == OBJ_FOLDER) {
    SoundApplyVolumeTree(node);
    return;
  }
  i64 scaled = v;
  if (HasObjectParent(node)) scaled = scaled * SoundEffectiveVolume(node->parent) >> 8;
  SoundSetBufferVolume(&o->stream, static_cast<i32>(scaled));
}

// ---- Pause and resume ----------------------------------------------------------------------------

i32 SoundObjectPause(ObjNode* node) {
  SoundObject* o = SoundObjectOf(node);
  if (!o || !Playing(o) || o->pause_time) return 0;
  if (g_QuitRequested.load()) {
    SoundApplyVolume(node, SOUND_HUSH_VOLUME);
    o->state = SOUND_UNLOADED;
    return 0;
  }
  SoundStream* s = &o->stream;
  if (!s->buffer) return -410;
  u32 cursor;
  if (PlatAudioVoiceGetPosition(s->buffer, &cursor, nullptr) != 0) return -420;
  o->bytes_played += (static_cast<i64>(cursor) + s->buffer_bytes - s->last_play_cursor) % s->buffer_bytes;
  SoundStreamFree(s);
  o->pause_time = PauseClock();
  return 0;
}

static bool ResumeAllowed(ObjNode* node) {
  for (ObjNode* n = node; n && n->parent; n = n->parent) {
    const SoundObject* o = SoundObjectOf(n);
    if (o && (o->on != 1 || o->paused)) return false;
  }
  return true;
}

i32 SoundObjectResume(ObjNode* node) {
  SoundObject* o = SoundObjectOf(node);
  if (!o || !Playing(o) || !o->pause_time || !ResumeAllowed(node)) return 0;
  SoundStream* s = &o->stream;
  s->half_indicator = 1;
  o->start = s->bytes_per_second ? static_cast<i32>(o->bytes_played * 1000 / s->bytes_per_second) : 0;
  o->bytes_played = 0;
  s->last_play_cursor = 0;
  s->fill_offset = 0;
  s->carry_count = 0;
  s->silence_to_insert = 0;
  // Preparing the stream again resets the end to the length.
  const i32 end = s->end;
  i32 r = SoundPrepare(s, o->kind);
  s->end = end;
  if (r) {
    SoundStreamFree(s);  // stays paused; a later resume starts clean
    return r;
  }
  if (o->start >= s->end) o->start = 0;
  if (!s->buffer) return -430;
  SoundApplyVolume(node, o->target_volume);
  SoundSetBufferPan(s, o->pan);
  SoundSetBufferSpeed(s, o->speed);
  if (SoundStreamStart(s, o->start, &o->bytes_played) != 0) {
    SoundStreamFree(s);
    return -440;
  }
  o->pause_time = 0;
  return 0;
}

void SoundPauseTree(ObjNode* first, u8 flag) {
  for (ObjNode* n = first; n; n = n->next) {
    if (flag) {
      SoundObjectPause(n);
    } else {
      SoundObjectResume(n);
    }
    if (n->kind == OBJ_FOLDER) SoundPauseTree(n->first_child, flag);
  }
}

// ---- Walks ---------------------------------------------------------------------------------------

typedef i32 (*SoundNodeFn)(ObjNode* node);

// Each node, then its children; the first negative result ends the walk.
static i32 WalkTree(ObjNode* first, SoundNodeFn fn) {
  for (ObjNode* n = first; n; n = n->next) {
    i32 r = fn(n);
    if (r < 0) return r;
    if (n->first_child) {
      r = WalkTree(n->first_child, fn);
      if (r < 0) return r;
    }
  }
  return 0;
}

static ObjNode* FirstObject() { return g_SoundRoot ? g_SoundRoot->first_child : nullptr; }

// ---- Fades ---------------------------------------------------------------------------------------

i32 SoundFadeVolume(i32 from, i32 target, i32 step, i32 fade_time, u32 elapsed, bool* reached) {
  *reached = true;
  if (fade_time <= 0 || elapsed >= static_cast<u32>(fade_time)) return target;
  i64 v;
  if (step == 0) {
    // A step that rounds to zero would never arrive: go by the share of the time instead.
    v = from + static_cast<i64>(target - from) * elapsed / fade_time;
  } else {
    v = from + static_cast<i64>(elapsed) * step / 1024;
    if ((step < 0 && v <= target) || (step > 0 && v >= target)) return target;
  }
  *reached = v == target;
  return static_cast<i32>(v);
}

// The end of a fade: a fade-in plays on, a fade-out unloads with its volumes back at full.
static void FadeFinished(SoundObject* o) {
  o->fade_end = 0;
  if (o->state == SOUND_FADING_IN) {
    o->state = SOUND_PLAYING;
    return;
  }
  o->volume = SOUND_VOLUME_FULL;
  o->fade_from = 0;
  o->target_volume = o->previous_target = SOUND_VOLUME_FULL;
  o->state = SOUND_UNLOADED;
  SoundStreamRelease(&o->stream);
  o->start = 0;
}

static i32 FadeNode(ObjNode* node) {
  SoundObject* o = SoundObjectOf(node);
  if (!o || (o->state != SOUND_FADING_IN && o->state != SOUND_FADING_OUT)) return 0;
  const u32 now = PlatTimeMs();
  if (o->pause_time || g_SoundFocusMuted) {
    if (o->pause_time) {
      o->fade_start += now - o->pause_time;
      o->pause_time = now ? now : 1;
    }
    return 0;
  }
  const i32 elapsed = static_cast<i32>(now - o->fade_start);
  if (elapsed < 0 && o->state == SOUND_FADING_IN) {
    SoundApplyVolume(node, SOUND_HUSH_VOLUME);
    return 0;
  }
  bool reached;
  const i32 v = SoundFadeVolume(o->fade_from, o->target_volume, o->fade_step, o->fade_time,
                                elapsed < 0 ? 0u : static_cast<u32>(elapsed), &reached);
  SoundApplyVolume(node, v);
  o->volume = v;
  if (reached) {
    o->fade_end = now;
    FadeFinished(o);
  }
  return 0;
}

void SoundUpdateFades() { WalkTree(FirstObject(), FadeNode); }

// ---- Play position and loops -----------------------------------------------------------------------

// On quit every object stops where it is, nearly silent; its stream goes with the thread's end.
static void QuitObject(ObjNode* node, SoundObject* o) {
  if (o->state == SOUND_UNLOADED) return;
  SoundApplyVolume(node, SOUND_HUSH_VOLUME);
  o->state = SOUND_UNLOADED;
}

static i32 TrackNode(ObjNode* node) {
  SoundObject* o = SoundObjectOf(node);
  if (!o) return 0;
  if (g_QuitRequested.load()) {
    QuitObject(node, o);
    return 0;
  }
  if (!Playing(o) || o->pause_time || g_SoundFocusMuted) return 0;
  SoundStream* s = &o->stream;
  if (!s->buffer || s->bytes_per_second <= 0) return 0;  // nothing that moves
  u32 cursor;
  if (PlatAudioVoiceGetPosition(s->buffer, &cursor, nullptr) != 0) return -320;
  i64 moved = static_cast<i64>(cursor) - s->last_play_cursor;
  if (moved < 0) moved += s->buffer_bytes;
  const i64 bytes = o->bytes_played + moved;
  s->last_play_cursor = cursor;
  const i64 end = s->pending_end ? s->pending_end : s->end;
  const i64 loop_back = s->pending_loop_back ? s->pending_loop_back : s->loop_back;
  if (bytes * 1000 / s->bytes_per_second < end) {
    o->bytes_played = bytes;
    return 0;
  }
  // The lap being heard is over.
  s->pending_end = 0;
  s->pending_loop_back = 0;
  const i32 laps = o->loop_counter + 1;
  // A replay after the loop count ran out keeps the decoder's last lap (it is heard once) while
  // the tracker's count is 0: that lap ends the play too, or the silence after it never would.
  const bool decoder_done = o->loop_count == 0 && s->loops_left == 1;
  if (laps == o->loop_count || decoder_done) {
    o->loop_count = 0;
    o->loop_counter = 0;
    o->bytes_played = 0;
    SoundStreamRelease(s);
    o->start = 0;
    o->state = SOUND_UNLOADED;
  } else {
    o->loop_counter = laps;
    o->bytes_played = loop_back * s->bytes_per_second / 1000;
  }
  return 0;
}

i32 SoundUpdateTree() { return WalkTree(FirstObject(), TrackNode); }

// ---- Refill --------------------------------------------------------------------------------------

static i32 RefillNode(ObjNode* node) {
  SoundObject* o = SoundObjectOf(node);
  if (!o || !Playing(o) || o->pause_time || g_SoundFocusMuted) return 0;
  if (g_QuitRequested.load()) {
    QuitObject(node, o);
    return 0;
  }
  const i32 r = SoundStreamRefill(&o->stream);
  if (r == 0 || r == -330) return 0;  // -330: no voice to fill
  // A broken stream is never filled again: the object stops.
  SoundStreamRelease(&o->stream);
  o->start = 0;
  o->state = SOUND_UNLOADED;
  return r;
}

i32 SoundRefillTree() { return WalkTree(FirstObject(), RefillNode); }

static i32 ReleaseNode(ObjNode* node) {
  if (SoundObject* o = SoundObjectOf(node)) {
    SoundStreamRelease(&o->stream);
    o->start = 0;
  }
  return 0;
}

void SoundReleaseTreeStreams() { WalkTree(FirstObject(), ReleaseNode); }

SoundObject* SoundObjectNew(ObjNode* node) {
  if (!node) return nullptr;
  SoundObject* obj = static_cast<SoundObject*>(ObjAllocPayload(sizeof(SoundObject)));
  if (!obj) return nullptr;
  obj->on = 1;
  obj->pan = 256;
  obj->volume = 256;
  obj->target_volume = 256;
  obj->previous_target = 256;
  obj->fade_from = 0;
  node->payload = obj;
  return obj;
}
