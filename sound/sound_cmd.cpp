// Sound commands (see sound_cmd.h). The script thread is the only one that changes the sound
// tree's shape, so it may read the tree without the lock; it takes g_EngineLock to link or
// unlink a node and for every read or write of a record, which the sound thread changes in its
// pass. Senders that wait sleep outside the lock until the thread's next pass and give up when the sound
// thread has stopped or quit is requested.
#include "sound/sound_cmd.h"

#include <algorithm>
#include <cstdlib>
#include <string>

#include "common/sjis.h"
#include "core/config.h"
#include "core/err.h"
#include "core/hooks.h"
#include "core/obj.h"
#include "core/pack.h"
#include "core/sys.h"
#include "platform/audio.h"
#include "platform/platform.h"
#include "script/arg.h"
#include "script/cmd.h"
#include "script/var.h"
#include "sound/sound_object.h"
#include "sound/sound_ring.h"
#include "sound/sound_thread.h"

static const char* Text(const CmdArgRecord* a, i32 id) { return CmdArgStr(a, id); }

// Script values are 64-bit; requests carry 32 bits.
static i32 Arg32(const CmdArgRecord* a, i32 id) {
  return static_cast<i32>(std::clamp<i64>(a->value[id], INT32_MIN, INT32_MAX));
}

static bool ThreadGone() { return g_SoundThreadState.load() != SOUND_THREAD_RUNNING || g_QuitRequested.load(); }

static void PostAndWait(ObjNode* node, u8 op, i32 argument, const char* name) {
  const i32 slot = SoundRingPost(node, op, argument, name);
  if (slot >= 0) SoundRingWaitDone(slot);
}

// Waits until the object's state byte is 0 once the slot has run (a state that falls to 0 by a
// fade before the slot runs must not end the wait). -1 when the wait gave up.
static i32 WaitUnloaded(const SoundObject* o, i32 slot) {
  if (slot < 0) return -1;
  for (;;) {
    {
      EngineLockGuard lock;
      if (o->state == SOUND_UNLOADED && g_SoundRequestRing.done[slot].load()) return 0;
    }
    if (ThreadGone()) return -1;
    SoundRingWaitPass();
  }
}

// The resolved path of the name parameter and whether it names a folder; the node or null.
static ObjNode* FindObject(const CmdArgRecord* a, char* path, size_t size, i32* folder) {
  *folder = ObjResolvePath(path, size, Text(a, SOUND_PARAM_NAME), g_SoundBase, 0);
  if (*folder < 0 || !g_SoundRoot) return nullptr;
  return ObjFindNode(g_SoundRoot, path, *folder ? OBJ_FIND_FOLDER : OBJ_FIND_ITEM);
}

static const char* LastComponent(const char* s) {
  const char* last = s;
  while (*s) {
    if (*s == '/') last = s + 1;
    s += SjisCharLen(s);
  }
  return last;
}

// A new object or folder with its record, linked under the lock. Null after an error.
static ObjNode* CreateObject(const char* path, i32 folder) {
  if (!ObjFindPath(path, g_SoundRoot)) return nullptr;  // error 100230 raised
  if (!*LastComponent(path)) {
    ErrRaiseAtScript(ERR_SOUND_EMPTY_NAME, 1);
    return nullptr;
  }
  EngineLockGuard lock;
  ObjNode* node = ObjCreateNode(g_SoundRoot, path, folder ? OBJ_FOLDER : OBJ_ITEM, 1);
  if (!node) return nullptr;
  if (!SoundObjectNew(node)) {  // error 100010 raised
    ObjUnlinkNode(node);
    ObjFreeNode(node);
    return nullptr;
  }
  return node;
}

// Parameter 2: unload what is loaded, find the file, take its kind from its type and load it.
// 0 loaded (or the load was posted), 1 the file does not exist, -1 after an error.
static i32 SetFile(ObjNode* node, SoundObject* o, const char* file) {
  u8 state;
  {
    EngineLockGuard lock;
    state = o->state;
  }
  if (state != SOUND_UNLOADED) WaitUnloaded(o, SoundRingPost(node, SOUND_OP_UNLOAD, 0, nullptr));
  PackLookup lookup{};
  char resolved[SOUND_NAME_SIZE];
  const i32 r = PackResolveMediaFile(&lookup, PACK_MEDIA_SOUND, file, resolved, sizeof resolved);
  if (r < 0) return -1;
  if (r > 0) return 1;
  const u8 kind = lookup.type == PACK_TYPE_WAV ? SOUND_KIND_WAV : lookup.type == PACK_TYPE_OGG ? SOUND_KIND_OGG : 0;
  if (!kind) {
    ErrRaiseAtScriptF(ERR_SOUND_FILE_TYPE, 1, ArgCommandName(CMD_SLOT_SOUND_SET), resolved);
    return -1;
  }
  {
    EngineLockGuard lock;
    o->kind = kind;
  }
  PostAndWait(node, SOUND_OP_LOAD, 0, resolved);
  return 0;
}

i32 SoundCmdSet(const CmdArgRecord* a) {
  if (!g_SoundEnabled.load()) return 0;
  char path[OBJ_PATH_MAX];
  i32 folder;
  ObjNode* node = FindObject(a, path, sizeof path, &folder);
  if (folder < 0) return -1;
  if (!g_SoundRoot) return 0;
  const bool file_given = a->given[SOUND_PARAM_FILE];
  if (!node) {
    // A new folder takes no file; an existing one loads it into its own record like any object.
    if (file_given && folder) {
      ErrRaiseAtScriptF(ERR_SOUND_FOLDER_FILE, 1, ArgCommandName(CMD_SLOT_SOUND_SET));
      return -1;
    }
    if (!folder && !file_given) return 0;
    node = CreateObject(path, folder);
    if (!node) return -1;
  }
  SoundObject* o = SoundObjectOf(node);
  if (!o) return 0;
  if (file_given) {
    const i32 r = SetFile(node, o, Text(a, SOUND_PARAM_FILE));
    if (r) return r < 0 ? -1 : 0;
  }

  if (a->given[SOUND_PARAM_ON]) {
    i32 volume;
    {
      EngineLockGuard lock;
      o->on = static_cast<u8>(a->value[SOUND_PARAM_ON]);
      volume = o->volume;
    }
    SoundRingPost(node, SOUND_OP_SET_VOLUME, volume, nullptr);  // re-applies it below a folder
  }
  struct Simple {
    i32 param;
    u8 op;
  };
  static const Simple kPositions[] = {
      {SOUND_PARAM_START, SOUND_OP_SET_START},
      {SOUND_PARAM_LOOP_BACK, SOUND_OP_SET_LOOP_POINT},
      {SOUND_PARAM_END, SOUND_OP_SET_END},
  };
  for (const Simple& s : kPositions) {
    if (a->given[s.param]) SoundRingPost(node, s.op, Arg32(a, s.param), nullptr);
  }
  if (a->given[SOUND_PARAM_LOOP_COUNT]) {
    {
      EngineLockGuard lock;
      o->loop_count = Arg32(a, SOUND_PARAM_LOOP_COUNT);
    }
    SoundRingPost(node, SOUND_OP_SET_LOOP_COUNT, Arg32(a, SOUND_PARAM_LOOP_COUNT), nullptr);
  }
  if (a->given[SOUND_PARAM_PAN]) SoundRingPost(node, SOUND_OP_SET_PAN, Arg32(a, SOUND_PARAM_PAN), nullptr);
  if (a->given[SOUND_PARAM_SPEED]) SoundRingPost(node, SOUND_OP_SET_SPEED, Arg32(a, SOUND_PARAM_SPEED), nullptr);
  const bool play_given = a->given[SOUND_PARAM_PLAY];
  if (a->given[SOUND_PARAM_VOLUME]) {
    // With play given the volume is the target of its fade.
    SoundRingPost(node, play_given ? SOUND_OP_SET_NEXT_VOLUME : SOUND_OP_SET_VOLUME, Arg32(a, SOUND_PARAM_VOLUME),
                  nullptr);
  }
  if (play_given) {
    const i32 fade = a->given[SOUND_PARAM_FADE] ? Arg32(a, SOUND_PARAM_FADE) : 0;
    if (a->value[SOUND_PARAM_PLAY] == 1) {
      PostAndWait(node, SOUND_OP_PLAY, fade, nullptr);
    } else {
      SoundRingPost(node, SOUND_OP_FADE_OUT, fade, nullptr);
    }
  }
  if (a->given[SOUND_PARAM_PAUSE]) PostAndWait(node, SOUND_OP_PAUSE, a->value[SOUND_PARAM_PAUSE] == 1 ? 1 : 0, nullptr);
  return 0;
}

// ---- Delete --------------------------------------------------------------------------------------

void SoundDeleteObject(ObjNode* node) {
  SoundObject* o = SoundObjectOf(node);
  if (o) WaitUnloaded(o, SoundRingPost(node, SOUND_OP_UNLOAD, 0, nullptr));
  {
    // Whatever still waits in the ring for this node must not run once it is freed, also when
    // the wait gave up.
    EngineLockGuard lock;
    SoundRingForget(node);
    ObjUnlinkNode(node);
    node->payload = nullptr;
  }
  SoundObjectFree(o);  // out of the tree: the sound thread cannot reach it any more
  ObjFreeNode(node);
}

// Children first, each folder after everything below it.
static void DeleteFolder(ObjNode* folder) {
  for (ObjNode* c = folder->first_child; c;) {
    ObjNode* next = c->next;
    if (c->kind == OBJ_FOLDER) {
      DeleteFolder(c);
    } else {
      SoundDeleteObject(c);
    }
    c = next;
  }
  SoundDeleteObject(folder);
}

i32 SoundCmdDelete(const CmdArgRecord* a) {
  if (!g_SoundEnabled.load()) return 0;
  char path[OBJ_PATH_MAX];
  i32 folder;
  ObjNode* node = FindObject(a, path, sizeof path, &folder);
  if (folder < 0) return -1;
  if (!node) return 0;
  if (node->kind == OBJ_FOLDER) {
    DeleteFolder(node);
  } else {
    SoundDeleteObject(node);
  }
  return 0;
}

// ---- Query ---------------------------------------------------------------------------------------

static i32 LevelOf(const SoundObject* o, u32 sample) {
  const SoundStream* s = &o->stream;
  const SoundWaveFormat& f = s->format;
  if (!s->buffer || (f.channels != 1 && f.channels != 2) || (f.bits_per_sample != 8 && f.bits_per_sample != 16)) {
    return -1;
  }
  u32 cursor;
  u8 frame[4];
  const u32 bytes = f.bits_per_sample / 8u * f.channels;
  if (PlatAudioVoiceGetPosition(s->buffer, &cursor, nullptr) != 0 ||
      PlatAudioVoiceRead(s->buffer, cursor, frame, bytes) != 0) {
    return -1;
  }
  if (sample >= f.channels) sample = 0;
  if (f.bits_per_sample == 16) {
    return std::abs(static_cast<i32>(static_cast<i16>(frame[2 * sample] | (frame[2 * sample + 1] << 8))));
  }
  return std::abs(static_cast<i32>(frame[sample]) - 128);
}

i32 SoundLevelMono(const SoundObject* o) { return LevelOf(o, 0); }
i32 SoundLevelStereo(const SoundObject* o) { return LevelOf(o, 1); }

// One selector's answer, read under the lock: a number, or a text for the file name.
static i64 Answer(const SoundObject* o, i32 selector) {
  const SoundStream* s = &o->stream;
  switch (selector) {
    case SOUND_QUERY_HAS_FILE: return o->kind > 0 ? 1 : 0;
    case SOUND_QUERY_ON: return o->on;
    case SOUND_QUERY_STATE: return o->state;
    case SOUND_QUERY_PAUSED: return o->paused;
    case SOUND_QUERY_VOLUME: return o->volume;
    case SOUND_QUERY_PAN: return o->pan;
    case SOUND_QUERY_SPEED: return o->speed;
    case SOUND_QUERY_KIND: return o->kind;
    case SOUND_QUERY_START: return o->start;
    case SOUND_QUERY_LOOP_BACK: return s->loop_back;
    case SOUND_QUERY_END: return s->end;
    case SOUND_QUERY_LOOP_COUNT: return o->loop_count;
    case SOUND_QUERY_LOOP_COUNTER: return o->loop_counter;
    case SOUND_QUERY_POSITION: return s->bytes_per_second ? o->bytes_played * 1000 / s->bytes_per_second : 0;
    case SOUND_QUERY_LENGTH: return s->length;
    case SOUND_QUERY_CHANNELS: return s->format.channels;
    case SOUND_QUERY_BITS: return s->format.bits_per_sample;
    case SOUND_QUERY_RATE: return s->format.samples_per_sec;
    case SOUND_QUERY_LEVEL_FIRST: return SoundLevelMono(o);
    case SOUND_QUERY_LEVEL_SECOND: return SoundLevelStereo(o);
    case SOUND_QUERY_CONVERTED: return s->converted;
  }
  return 0;
}

// Stores into the result element; -1 when the variable's type does not take the value (error
// 101140, fatal, raised by the store). An element outside the variable is ignored.
static i32 StoreNumber(const CmdArgRecord* a, i64 value) {
  const VarRecord* v = VarRecordOf(a->var_id[SOUND_PARAM_RESULT]);
  const bool wrong = v && v->type == VAR_TYPE_STR && a->var_elem[SOUND_PARAM_RESULT] >= 0 &&
                     a->var_elem[SOUND_PARAM_RESULT] < v->count;
  VarSetNumElement(a->var_id[SOUND_PARAM_RESULT], a->var_elem[SOUND_PARAM_RESULT], value);
  return wrong ? -1 : 0;
}

static i32 StoreText(const CmdArgRecord* a, const char* text) {
  const VarRecord* v = VarRecordOf(a->var_id[SOUND_PARAM_RESULT]);
  const bool wrong = v && v->type != VAR_TYPE_STR && a->var_elem[SOUND_PARAM_RESULT] >= 0 &&
                     a->var_elem[SOUND_PARAM_RESULT] < v->count;
  VarSetStrElement(a->var_id[SOUND_PARAM_RESULT], a->var_elem[SOUND_PARAM_RESULT], text);
  return wrong ? -1 : 0;
}

// A missing object answers the empty value of the variable's own type.
static void StoreEmpty(const CmdArgRecord* a) {
  const VarRecord* v = VarRecordOf(a->var_id[SOUND_PARAM_RESULT]);
  if (!v) return;
  switch (v->type) {
    case VAR_TYPE_INT: VarSetNumElement(a->var_id[SOUND_PARAM_RESULT], a->var_elem[SOUND_PARAM_RESULT], 0); break;
    case VAR_TYPE_FLOAT: VarSetFloatElement(a->var_id[SOUND_PARAM_RESULT], a->var_elem[SOUND_PARAM_RESULT], 0.0); break;
    case VAR_TYPE_STR: VarSetStrElement(a->var_id[SOUND_PARAM_RESULT], a->var_elem[SOUND_PARAM_RESULT], ""); break;
  }
}

// Tried in this order; the first selector given answers.
static const u8 kQueryOrder[] = {
    SOUND_QUERY_HAS_FILE,     SOUND_QUERY_ON,           SOUND_QUERY_STATE,     SOUND_QUERY_PAUSED,
    SOUND_QUERY_VOLUME,       SOUND_QUERY_PAN,          SOUND_QUERY_SPEED,     SOUND_QUERY_KIND,
    SOUND_QUERY_FILE_NAME,    SOUND_QUERY_START,        SOUND_QUERY_LOOP_BACK, SOUND_QUERY_END,
    SOUND_QUERY_LOOP_COUNT,   SOUND_QUERY_LOOP_COUNTER, SOUND_QUERY_POSITION,  SOUND_QUERY_LENGTH,
    SOUND_QUERY_CHANNELS,     SOUND_QUERY_BITS,         SOUND_QUERY_RATE,      SOUND_QUERY_LEVEL_FIRST,
    SOUND_QUERY_LEVEL_SECOND, SOUND_QUERY_CONVERTED,
};

i32 SoundCmdQuery(const CmdArgRecord* a) {
  if (!g_SoundEnabled.load() || !a->given[SOUND_PARAM_RESULT]) return 0;
  char path[OBJ_PATH_MAX];
  i32 folder;
  ObjNode* node = FindObject(a, path, sizeof path, &folder);
  if (folder < 0) return -1;
  const SoundObject* o = SoundObjectOf(node);
  if (!o) {
    StoreEmpty(a);
    return 0;
  }
  for (u8 selector : kQueryOrder) {
    if (!a->given[selector]) continue;
    // Read under the lock, stored after it: a store may raise an error, which must not hold up
    // the sound thread.
    if (selector == SOUND_QUERY_FILE_NAME) {
      char name[SOUND_NAME_SIZE];
      {
        EngineLockGuard lock;
        StrCopySjis(name, sizeof name, o->file_name);
      }
      return StoreText(a, name);
    }
    i64 value;
    {
      EngineLockGuard lock;
      value = Answer(o, selector);
    }
    return StoreNumber(a, value);
  }
  return 0;
}
