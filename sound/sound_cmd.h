// Sound commands 87 (set), 88 (delete) and 89 (query) on the script thread. They reach the sound
// thread only through the request ring, read and change sound records only under g_EngineLock,
// and change the tree's shape only under it too (the sound thread walks the tree in its pass).
// The bodies take already decoded arguments, indexed by parameter id.
#pragma once
#include "common/types.h"
#include "script/cmdargs.h"

struct ObjNode;
struct SoundObject;

enum { CMD_SLOT_SOUND_SET = 87, CMD_SLOT_SOUND_DELETE = 88, CMD_SLOT_SOUND_QUERY = 89 };
// Parameter ids of the sound commands.
enum {
  SOUND_PARAM_NAME = 0,
  SOUND_PARAM_ON = 1,
  SOUND_PARAM_FILE = 2,
  SOUND_PARAM_PLAY = 3,
  SOUND_PARAM_PAUSE = 4,
  SOUND_PARAM_FADE = 5,
  SOUND_PARAM_START = 6,
  SOUND_PARAM_LOOP_BACK = 7,
  SOUND_PARAM_END = 8,
  SOUND_PARAM_LOOP_COUNT = 9,
  SOUND_PARAM_VOLUME = 10,
  SOUND_PARAM_PAN = 11,
  SOUND_PARAM_SPEED = 12,
  SOUND_PARAM_RESULT = 23,
  SOUND_PARAM_COUNT = 24,
};
// Query selectors (command 89), by parameter id.
enum {
  SOUND_QUERY_HAS_FILE = 1,
  SOUND_QUERY_ON = 2,
  SOUND_QUERY_STATE = 3,
  SOUND_QUERY_PAUSED = 4,
  SOUND_QUERY_VOLUME = 5,
  SOUND_QUERY_PAN = 6,
  SOUND_QUERY_SPEED = 7,
  SOUND_QUERY_FILE_NAME = 8,
  SOUND_QUERY_KIND = 9,
  SOUND_QUERY_START = 10,
  SOUND_QUERY_LOOP_BACK = 11,
  SOUND_QUERY_END = 12,
  SOUND_QUERY_LOOP_COUNT = 13,
  SOUND_QUERY_LOOP_COUNTER = 14,
  SOUND_QUERY_POSITION = 15,
  SOUND_QUERY_LENGTH = 16,
  SOUND_QUERY_CHANNELS = 17,
  SOUND_QUERY_BITS = 18,
  SOUND_QUERY_RATE = 19,
  SOUND_QUERY_LEVEL_FIRST = 20,
  SOUND_QUERY_LEVEL_SECOND = 21,
  SOUND_QUERY_CONVERTED = 22,
};
enum {
  ERR_SOUND_EMPTY_NAME = 900020,
  ERR_SOUND_FOLDER_FILE = 101292,
  ERR_SOUND_FILE_TYPE = 100030,
};

// Command bodies: 0 to go on, -1 after a fatal error. With sound off each does nothing.
i32 SoundCmdSet(const CmdArgRecord* a);
i32 SoundCmdDelete(const CmdArgRecord* a);
i32 SoundCmdQuery(const CmdArgRecord* a);

// Unloads one object (waiting for the sound thread), takes it out of the tree and frees it.
void SoundDeleteObject(ObjNode* node);

// The output level at the play cursor, of the frame's first sample (Mono) or of the second
// sample of a stereo frame and the only one of a mono frame (Stereo): 0..32768 for 16 bits,
// 0..128 for 8 bits; -1 without a voice or for another format. The caller holds g_EngineLock.
i32 SoundLevelMono(const SoundObject* o);
i32 SoundLevelStereo(const SoundObject* o);
