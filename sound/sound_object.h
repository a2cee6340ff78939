// Sound objects: the payload of a sound-tree node, the hierarchical volume, pause and resume,
// fades, play-position tracking with loop counts, and the per-pass walks of the sound thread.
// A folder carries a record of its own, so its volume, on byte and paused byte apply to
// everything below it (on is combined by AND up the tree, paused by OR). Records and the tree
// change only under g_EngineLock; everything here runs inside the sound thread's locked pass.
#pragma once
#include "common/types.h"
#include "sound/sound_stream.h"

struct ObjNode;

enum { SOUND_NAME_SIZE = 261 };
// Play states.
enum { SOUND_UNLOADED = 0, SOUND_LOADED = 1, SOUND_FADING_IN = 2, SOUND_PLAYING = 3, SOUND_FADING_OUT = 4 };
enum { SOUND_VOLUME_FULL = 256, SOUND_HUSH_VOLUME = 2 };  // 2 of 256: nearly silent, still playing

struct SoundObject {
  char file_name[SOUND_NAME_SIZE];  // empty = none
  u8 kind;                          // SOUND_KIND_OGG or SOUND_KIND_WAV
  u8 on;                            // 0 makes the effective volume 0 and blocks resume
  u8 state;                         // SOUND_UNLOADED ... SOUND_FADING_OUT
  u8 paused;                        // paused by script
  i32 loop_count;                   // plays before the tracker stops the object; 0 = forever
  i32 loop_counter;                 // ends reached so far
  i64 bytes_played;                 // PCM bytes from the file start
  i32 start;                        // ms, where play begins
  u32 pause_time;                   // clock when paused (never 0 while paused); 0 = not paused
  i32 pan;                          // 0 left .. 256 centre .. 512 right
  i32 speed;                        // 256 = file rate, 0..512
  i32 volume;                       // 0..256
  i32 fade_from;
  i32 target_volume;
  i32 previous_target;  // requested volume before the last change
  i32 fade_time;        // ms
  i32 fade_step;        // volume change per ms in 1/1024
  u32 fade_start;
  u32 fade_end;  // 0 while the fade runs
  SoundStream stream;
};

// Releases the object's stream (voice, blocks, decoder, file image) and frees the record.
void SoundObjectFree(SoundObject* obj);
// The record of a node, or null (the tree root has none).
SoundObject* SoundObjectOf(ObjNode* node);

// ---- Volume ------------------------------------------------------------------------------------

// Own volume (0 when the on byte is not 1) times the effective volume of each ancestor below the
// tree root, 256 being 1.
i32 SoundEffectiveVolume(ObjNode* node);
// A leaf: v scaled by its parent's effective volume goes to the voice (the leaf's own on byte is
// not applied). A folder: every object below it gets its own effective volume.
void SoundApplyVolume(ObjNode* node, i32 v);
void SoundApplyVolumeTree(ObjNode* folder);

// ---- Pause and resume ----------------------------------------------------------------------------

// Pause keeps the position and frees the voice and blocks (the file image stays); resume
// rebuilds them and plays on from the kept position, only while every on byte up the tree is 1
// and no paused byte is set. Objects outside states 2..4 are left alone.
i32 SoundObjectPause(ObjNode* node);
i32 SoundObjectResume(ObjNode* node);
// Pauses (flag 1) or resumes every node of the sibling list from first, folders' children too.
void SoundPauseTree(ObjNode* first, u8 flag);

// ---- The sound thread's pass ---------------------------------------------------------------------

// The volume of a fade after elapsed ms: steps of step/1024 per ms from `from`, stopping at the
// target; a zero step goes by the elapsed share of the fade time, and once the fade time is over
// the target is reached whatever the step. *reached tells whether it is.
i32 SoundFadeVolume(i32 from, i32 target, i32 step, i32 fade_time, u32 elapsed, bool* reached);
// Fades of objects in states 2 and 4; a fade stands still while its object is paused or the
// tree is focus-muted.
void SoundUpdateFades();
// Play positions, lap ends, loop-back and loop counts; on quit every object goes to state 0.
// Negative when a play cursor cannot be read (the pass ends).
i32 SoundUpdateTree();
// Refills every playing object's voice by halves. A fill that fails stops its object and ends
// the pass with its code.
i32 SoundRefillTree();
// Releases every object's stream (the thread's end).
void SoundReleaseTreeStreams();

// A sound object with its defaults (on, centred, full volume), made the node's payload; null for a
// null node or after error 100010 (fatal) when memory runs out.
SoundObject* SoundObjectNew(ObjNode* node);
