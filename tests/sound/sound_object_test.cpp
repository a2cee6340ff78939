#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "common/sjis.h"
#include "core/obj.h"
#include "core/pack.h"
#include "core/sys.h"
#include "platform/audio.h"
#include "platform/platform.h"
#include "shell/frame.h"
#include "sound/sound_object.h"
#include "sound/sound_ops.h"
#include "sound/sound_ring.h"
#include "sound/sound_stream.h"
#include "sound/sound_thread.h"
#include "sound_fixtures.h"

using namespace sndtest;

namespace {

constexpr i16 kLevel = 16000;

// The output level of a constant sample played at an effective volume.
double ExpectedLevel(i32 effective) { return kLevel * PlatAudioGainFromMb(SoundVolumeToMb(effective)); }

struct SoundObjectTest : TreeFixture {
  // Loads a constant WAV into node and plays it (fade 0) at the given volume.
  void PlayConst(ObjNode* node, i32 volume, u32 ms = 3000) {
    Load(node, ConstWav(ms, kLevel), SOUND_KIND_WAV);
    Post(node, SOUND_OP_SET_VOLUME, volume);
    Post(node, SOUND_OP_PLAY, 0);
    Pass();
  }
  // Level of the left channel over the second half of ms of output.
  double LevelOver(u32 ms) {
    const std::vector<i16> out = Run(ms);
    return MeanLevel(out, 0, out.size() / 4);
  }
};

TEST_F(SoundObjectTest, EffectiveVolumeMultipliesDownTheTreeAndOnMasks) {
  struct Row {
    i32 f_volume, g_volume, l_volume;
    u8 f_on, g_on, l_on;
    i32 expected;
  };
  const Row rows[] = {
      {256, 256, 256, 1, 1, 1, 256}, {128, 256, 128, 1, 1, 1, 64}, {128, 128, 256, 1, 1, 1, 64},
      {200, 100, 50, 1, 1, 1, 15},   {256, 256, 256, 0, 1, 1, 0},  {256, 256, 256, 1, 0, 1, 0},
      {256, 256, 256, 1, 1, 0, 0},   {256, 256, 256, 1, 1, 2, 0},
  };
  ObjNode* f = Add("f", nullptr, true);
  ObjNode* g = Add("g", f, true);
  ObjNode* l = Add("l", g);
  ObjNode* top = Add("top");
  for (const Row& r : rows) {
    Obj(f)->volume = r.f_volume;
    Obj(g)->volume = r.g_volume;
    Obj(l)->volume = r.l_volume;
    Obj(f)->on = r.f_on;
    Obj(g)->on = r.g_on;
    Obj(l)->on = r.l_on;
    EXPECT_EQ(SoundEffectiveVolume(l), r.expected) << r.f_volume << " " << r.g_volume << " " << r.l_volume;
  }
  // Directly below the root nothing scales a volume.
  Obj(top)->volume = 77;
  EXPECT_EQ(SoundEffectiveVolume(top), 77);
}

TEST_F(SoundObjectTest, FolderVolumeScalesWhatIsHeardAndIsReappliedAtOnce) {
  ObjNode* folder = Add("bgm", nullptr, true);
  ObjNode* child = Add("a", folder);
  Post(folder, SOUND_OP_SET_VOLUME, 128);
  PlayConst(child, 128);
  ASSERT_EQ(Obj(child)->state, SOUND_PLAYING);
  EXPECT_NEAR(LevelOver(200), ExpectedLevel(64), 2.0);  // 128 x 128 gives 64
  Post(folder, SOUND_OP_SET_VOLUME, 256);
  EXPECT_NEAR(LevelOver(200), ExpectedLevel(128), 2.0);
  // Switching the folder off silences what is below it at once.
  Obj(folder)->on = 0;
  Post(folder, SOUND_OP_SET_VOLUME, 256);
  EXPECT_EQ(LevelOver(100), 0.0);
}

TEST(SoundFadeVolume, StepsStopAtTheTargetAndTheTimeAlwaysEndsTheFade) {
  struct Row {
    i32 from, target, step, time;
    u32 elapsed;
    i32 v;
    bool reached;
  };
  const Row rows[] = {
      {0, 256, 262, 1000, 0, 0, false},      // 256 << 10 / 1000
      {0, 256, 262, 1000, 500, 127, false},  // 500 x 262 / 1024
      {0, 256, 262, 1000, 999, 255, false},
      {0, 256, 262, 1000, 1000, 256, true},   // the time is over
      {0, 100, 1024, 1000, 150, 100, true},   // a step that passes the target stops there
      {256, 0, -262, 1000, 500, 129, false},  // falling, rounded toward zero
      {256, 0, -1024, 1000, 300, 0, true},
      {0, 3, 0, 5000, 2500, 1, false},  // the step rounds to zero: share of the time
      {0, 3, 0, 5000, 4999, 2, false},
      {0, 3, 0, 5000, 5000, 3, true},
      {200, 200, 0, 1000, 10, 200, true},    // nothing to change
      {0, 180, 184320, 0, 0, 180, true},     // a fade time of 0
      {50, 128, -1024, 1000, 1, 128, true},  // a step that points away ends at the target
  };
  for (const Row& r : rows) {
    bool reached = false;
    EXPECT_EQ(SoundFadeVolume(r.from, r.target, r.step, r.time, r.elapsed, &reached), r.v)
        << r.from << "->" << r.target << " at " << r.elapsed;
    EXPECT_EQ(reached, r.reached) << r.from << "->" << r.target << " at " << r.elapsed;
  }
}

TEST_F(SoundObjectTest, FadeInReachesItsTargetInTheStatedTime) {
  struct Row {
    i32 target;
    i32 fade_ms;
  };
  const Row rows[] = {{256, 1000}, {200, 500}, {3, 2000}, {1, 300}, {180, 0}};
  for (const Row& r : rows) {
    ObjNode* n = Add("fade");
    Load(n, ConstWav(4000, kLevel), SOUND_KIND_WAV);
    Post(n, SOUND_OP_SET_NEXT_VOLUME, r.target);
    Post(n, SOUND_OP_PLAY, r.fade_ms);
    Pass();
    SoundObject* o = Obj(n);
    i32 last = -1;
    u32 elapsed = 0;
    while (o->state == SOUND_FADING_IN && elapsed <= 5000) {
      EXPECT_GE(o->volume, last);  // never falls while rising
      last = o->volume;
      Run(10);
      elapsed += 10;
    }
    EXPECT_EQ(o->state, SOUND_PLAYING) << r.target;
    EXPECT_EQ(o->volume, r.target);
    // Reached on the first pass at or after the fade time.
    EXPECT_GE(elapsed, static_cast<u32>(r.fade_ms)) << r.target;
    EXPECT_LE(elapsed, static_cast<u32>(r.fade_ms) + 10) << r.target;
    ObjUnlinkNode(n);
    SoundObjectFree(o);
    ObjFreeNode(n);
  }
}

TEST_F(SoundObjectTest, FadeOutUnloadsWithTheVolumesBackAtFull) {
  ObjNode* n = Add("bgm");
  PlayConst(n, 200);
  Run(100);
  Post(n, SOUND_OP_FADE_OUT, 1000);
  Run(10);
  SoundObject* o = Obj(n);
  ASSERT_EQ(o->state, SOUND_FADING_OUT);
  Run(490);
  EXPECT_NEAR(o->volume, 102, 2);  // 490 ms of 1000 from 200
  EXPECT_GT(LevelOver(100), 0.0);
  Run(500);
  EXPECT_EQ(o->state, SOUND_UNLOADED);
  EXPECT_EQ(o->volume, 256);
  EXPECT_EQ(o->target_volume, 256);
  EXPECT_EQ(o->previous_target, 256);
  EXPECT_EQ(o->stream.file_image, nullptr);
  EXPECT_EQ(o->stream.buffer, nullptr);
  EXPECT_EQ(LevelOver(100), 0.0);
}

TEST_F(SoundObjectTest, FadeStandsStillWhilePausedAndPlaysOnFromThePausedPosition) {
  ObjNode* n = Add("voice");
  Load(n, ConstWav(5000, kLevel), SOUND_KIND_WAV);
  Post(n, SOUND_OP_SET_NEXT_VOLUME, 256);
  Post(n, SOUND_OP_PLAY, 1000);
  Run(400);
  SoundObject* o = Obj(n);
  const i32 volume = o->volume;
  const i64 position = o->bytes_played;
  EXPECT_GT(volume, 80);
  EXPECT_LT(volume, 120);
  Post(n, SOUND_OP_PAUSE, 1);
  Run(10);
  EXPECT_NE(o->pause_time, 0u);
  EXPECT_EQ(o->stream.buffer, nullptr);
  EXPECT_NE(o->stream.file_image, nullptr);
  EXPECT_EQ(LevelOver(2000), 0.0);
  EXPECT_NEAR(o->volume, volume, 3);
  Post(n, SOUND_OP_PAUSE, 0);
  Run(10);
  EXPECT_EQ(o->pause_time, 0u);
  EXPECT_EQ(o->state, SOUND_FADING_IN);
  EXPECT_NEAR(o->volume, volume, 6);
  // The position goes on from where the pause found it (within one pass of output).
  EXPECT_NEAR(static_cast<double>(o->bytes_played), static_cast<double>(position), 16000 * 0.03);
  Run(700);
  EXPECT_EQ(o->state, SOUND_PLAYING);
}

TEST_F(SoundObjectTest, PausingAFolderPausesEverythingBelowIt) {
  ObjNode* folder = Add("se", nullptr, true);
  ObjNode* sub = Add("sub", folder, true);
  ObjNode* a = Add("a", folder);
  ObjNode* b = Add("b", sub);
  ObjNode* other = Add("other");
  PlayConst(a, 256);
  PlayConst(b, 256);
  Run(50);
  Post(folder, SOUND_OP_PAUSE, 1);
  Run(10);
  EXPECT_NE(Obj(a)->pause_time, 0u);
  EXPECT_NE(Obj(b)->pause_time, 0u);
  EXPECT_EQ(Obj(other)->pause_time, 0u);
  EXPECT_EQ(LevelOver(100), 0.0);
  // A child of a paused folder does not resume by itself.
  Post(b, SOUND_OP_PAUSE, 0);
  Run(10);
  EXPECT_NE(Obj(b)->pause_time, 0u);
  // Resuming the folder resumes the children that are not paused themselves.
  Post(a, SOUND_OP_PAUSE, 1);
  Post(folder, SOUND_OP_PAUSE, 0);
  Run(10);
  EXPECT_NE(Obj(a)->pause_time, 0u);
  EXPECT_EQ(Obj(b)->pause_time, 0u);
  EXPECT_EQ(Obj(b)->state, SOUND_PLAYING);
  EXPECT_NEAR(LevelOver(100), kLevel, 2.0);
  // An object that is switched off stays paused.
  Obj(a)->on = 0;
  Post(a, SOUND_OP_PAUSE, 0);
  Run(10);
  EXPECT_NE(Obj(a)->pause_time, 0u);
}

// A 300 ms WAV at 8000 Hz whose samples count up, so the position heard can be read back.
Bytes RampWav() {
  std::vector<i16> s(2400);
  for (size_t i = 0; i < s.size(); i++) s[i] = static_cast<i16>(1000 + i * 10);
  return PcmWav(1, 8000, 16, Le16(s));
}

TEST_F(SoundObjectTest, LoopCountsStopAfterTheirLapsAndLoopBack) {
  struct Row {
    i32 loops;
    i32 stop_ms;  // 0: never
    i32 laps_seen;
  };
  // 300 ms, then laps of 200 ms from the loop-back at 100 ms.
  const Row rows[] = {{1, 300, 0}, {3, 700, 2}, {0, 0, 9}};
  for (const Row& r : rows) {
    ObjNode* n = Add("loop");
    SoundObject* o = Obj(n);
    Load(n, RampWav(), SOUND_KIND_WAV);
    o->loop_count = r.loops;
    Post(n, SOUND_OP_SET_LOOP_COUNT, r.loops);
    Post(n, SOUND_OP_SET_LOOP_POINT, 100);
    Post(n, SOUND_OP_PLAY, 0);
    Pass();
    i32 stopped_at = 0;
    i32 max_laps = 0;
    std::vector<i16> out;
    for (i32 t = 10; t <= 2000 && !stopped_at; t += 10) {
      std::vector<i16> part = Run(10);
      out.insert(out.end(), part.begin(), part.end());
      max_laps = std::max(max_laps, o->loop_counter);
      if (o->state == SOUND_UNLOADED) stopped_at = t;
    }
    if (r.stop_ms) {
      EXPECT_GE(stopped_at, r.stop_ms) << r.loops;
      EXPECT_LE(stopped_at, r.stop_ms + 30) << r.loops;
      EXPECT_EQ(max_laps, r.laps_seen) << r.loops;
      EXPECT_EQ(o->loop_count, 0);
      EXPECT_EQ(o->stream.buffer, nullptr);
      // Played again without a loop count (the file read anew): the whole file once, then it stops.
      AddMemoryFile("ramp.wav", PACK_TYPE_WAV, RampWav());
      StrCopySjis(o->file_name, sizeof o->file_name, "ramp.wav");
      Post(n, SOUND_OP_PLAY, 0);
      Pass();
      i32 replay_stop = 0;
      for (i32 t = 10; t <= 2000 && !replay_stop; t += 10) {
        Run(10);
        EXPECT_EQ(o->loop_counter, 0) << r.loops;
        if (o->state == SOUND_UNLOADED) replay_stop = t;
      }
      EXPECT_GE(replay_stop, 300) << r.loops;
      EXPECT_LE(replay_stop, 330) << r.loops;
      PackMemoryListsFree();
    } else {
      EXPECT_EQ(stopped_at, 0);
      EXPECT_GE(max_laps, r.laps_seen);
      EXPECT_EQ(o->state, SOUND_PLAYING);
    }
    // After the first lap the output runs again from the loop-back: the sample of 100 ms.
    if (r.loops != 1) {
      // 100 output frames into the second lap: about 18 samples after the one at 100 ms.
      const size_t lap2 = 2400 * 44100 / 8000 + 100;
      ASSERT_GT(out.size(), 2 * lap2);
      EXPECT_NEAR(out[2 * lap2], 1000 + (800 + 18) * 10, 30) << r.loops;
    }
    ObjUnlinkNode(n);
    SoundObjectFree(o);
    ObjFreeNode(n);
  }
}

TEST_F(SoundObjectTest, NegativeStartPlaysSilenceFirst) {
  ObjNode* n = Add("late");
  Load(n, ConstWav(2000, kLevel), SOUND_KIND_WAV);
  Post(n, SOUND_OP_SET_START, -200);
  Post(n, SOUND_OP_PLAY, 0);
  Pass();
  EXPECT_LT(Obj(n)->bytes_played, 0);
  const std::vector<i16> out = Run(400);
  EXPECT_EQ(MeanLevel(out, 0, 0, 44100 * 195 / 1000), 0.0);
  EXPECT_NEAR(MeanLevel(out, 0, 44100 * 205 / 1000), kLevel, 2.0);
}

TEST_F(SoundObjectTest, RequestsByStateOfTheObject) {
  ObjNode* n = Add("x");
  SoundObject* o = Obj(n);
  // Unloaded: position and loop requests do nothing.
  struct Idle {
    u8 op;
    SoundRequestHandler fn;
  };
  const Idle idle[] = {{SOUND_OP_SET_LOOP_COUNT, SoundOpSetLoopCount},
                       {SOUND_OP_SET_END, SoundOpSetEnd},
                       {SOUND_OP_SET_START, SoundOpSetStart},
                       {SOUND_OP_SET_LOOP_POINT, SoundOpSetLoopPoint},
                       {SOUND_OP_SET_PAN, SoundOpSetPan},
                       {SOUND_OP_SET_SPEED, SoundOpSetSpeed},
                       {SOUND_OP_UNLOAD, SoundOpUnload}};
  for (const Idle& r : idle) {
    const i32 slot = Post(n, r.op, 77);
    EXPECT_EQ(r.fn(slot), 1) << int(r.op);
    Pass();
  }
  EXPECT_EQ(o->pan, 256);
  EXPECT_EQ(o->start, 0);
  // A slot without an object: 0.
  EXPECT_EQ(SoundOpSetPan(Post(nullptr, SOUND_OP_SET_PAN, 1)), 0);
  Pass();

  Load(n, ConstWav(1000, kLevel), SOUND_KIND_WAV);
  Post(n, SOUND_OP_SET_END, 5000);    // limited to the length
  Post(n, SOUND_OP_SET_START, 1000);  // at the length: 0
  Post(n, SOUND_OP_SET_LOOP_POINT, 400);
  Post(n, SOUND_OP_SET_PAN, 100);
  Post(n, SOUND_OP_SET_SPEED, 300);
  Post(n, SOUND_OP_FADE_OUT, 100);  // loaded, not playing: nothing
  Pass();
  EXPECT_EQ(o->stream.end, 1000);
  EXPECT_EQ(o->start, 0);
  EXPECT_EQ(o->stream.loop_back, 400);
  EXPECT_EQ(o->pan, 100);
  EXPECT_EQ(o->speed, 300);
  EXPECT_EQ(o->state, SOUND_LOADED);
  Post(n, SOUND_OP_SET_START, 900);
  Post(n, SOUND_OP_SET_END, 950);
  Pass();
  EXPECT_EQ(o->start, 900);
  EXPECT_EQ(o->stream.end, 950);
  // Play with the start at or past the end begins at 0.
  Post(n, SOUND_OP_SET_START, 960);
  Post(n, SOUND_OP_PLAY, 0);
  Pass();
  EXPECT_EQ(o->start, 0);
  EXPECT_EQ(o->state, SOUND_PLAYING);
  // Play during a fade-out cuts it short and unloads.
  Post(n, SOUND_OP_FADE_OUT, 1000);
  Run(100);
  ASSERT_EQ(o->state, SOUND_FADING_OUT);
  Post(n, SOUND_OP_PLAY, 0);
  Pass();
  EXPECT_EQ(o->state, SOUND_UNLOADED);
  EXPECT_EQ(o->stream.file_image, nullptr);
  EXPECT_STREQ(o->file_name, "test");  // kept: a later play reads the file again
  // Loading a loaded object unloads it; unload also forgets the file name.
  Load(n, ConstWav(1000, kLevel), SOUND_KIND_WAV);
  Post(n, SOUND_OP_LOAD, 0);
  Pass();
  EXPECT_EQ(o->state, SOUND_UNLOADED);
  EXPECT_EQ(o->stream.file_image, nullptr);
  Load(n, ConstWav(1000, kLevel), SOUND_KIND_WAV);
  Post(n, SOUND_OP_UNLOAD, 0);
  Pass();
  EXPECT_EQ(o->state, SOUND_UNLOADED);
  EXPECT_STREQ(o->file_name, "");
  // Play of an unloaded object without a file name does nothing.
  Post(n, SOUND_OP_PLAY, 0);
  Pass();
  EXPECT_EQ(o->state, SOUND_UNLOADED);
}

TEST_F(SoundObjectTest, ReplayWhilePlayingFadesToTheNewTarget) {
  ObjNode* n = Add("bgm");
  PlayConst(n, 256);
  Run(50);
  SoundObject* o = Obj(n);
  ASSERT_EQ(o->state, SOUND_PLAYING);
  Post(n, SOUND_OP_SET_NEXT_VOLUME, 64);
  Post(n, SOUND_OP_PLAY, 400);
  Run(10);
  EXPECT_EQ(o->state, SOUND_FADING_IN);
  Run(200);
  EXPECT_NEAR(o->volume, 160, 8);
  Run(200);
  EXPECT_EQ(o->state, SOUND_PLAYING);
  EXPECT_EQ(o->volume, 64);
  // Again while fading in, with the same target twice: the step is zero, the fade still ends.
  Post(n, SOUND_OP_SET_NEXT_VOLUME, 200);
  Post(n, SOUND_OP_PLAY, 300);
  Run(100);
  ASSERT_EQ(o->state, SOUND_FADING_IN);
  Post(n, SOUND_OP_SET_NEXT_VOLUME, 200);
  Post(n, SOUND_OP_PLAY, 300);
  Run(320);
  EXPECT_EQ(o->state, SOUND_PLAYING);
  EXPECT_EQ(o->volume, 200);
}

TEST_F(SoundObjectTest, FocusMuteFollowsTheFramesPauseAndTheWindow) {
  struct Row {
    u8 background;
    u8 inactive_paused;
    bool muted;
  };
  const Row rows[] = {{1, 0, false}, {1, 1, true}, {0, 1, true}, {0, 0, false}};
  ObjNode* n = Add("bgm");
  PlayConst(n, 256);
  const u8 saved_background = g_RunInBackground, saved_paused = g_InactivePaused;
  for (const Row& r : rows) {
    g_RunInBackground = r.background;
    g_InactivePaused = r.inactive_paused;
    const double level = LevelOver(100);
    EXPECT_EQ(g_SoundFocusMuted, r.muted ? 1 : 0) << int(r.background) << int(r.inactive_paused);
    EXPECT_EQ(Obj(n)->pause_time != 0, r.muted);
    if (r.muted) {
      EXPECT_EQ(level, 0.0);
    } else {
      EXPECT_NEAR(level, kLevel, 2.0);
    }
  }
  // A script pause survives the focus coming back.
  g_InactivePaused = 1;
  Run(10);
  Post(n, SOUND_OP_PAUSE, 1);
  Run(10);
  g_InactivePaused = 0;
  Run(10);
  EXPECT_EQ(g_SoundFocusMuted, 0);
  EXPECT_NE(Obj(n)->pause_time, 0u);
  g_RunInBackground = saved_background;
  g_InactivePaused = saved_paused;
}

TEST_F(SoundObjectTest, QuitStopsEveryObjectAndTheEndReleasesThem) {
  ObjNode* folder = Add("f", nullptr, true);
  ObjNode* a = Add("a", folder);
  ObjNode* b = Add("b");
  PlayConst(a, 256);
  Load(b, ConstWav(1000, kLevel), SOUND_KIND_WAV);
  g_QuitRequested = 1;
  EXPECT_EQ(SoundThreadPass(), 1);
  EXPECT_EQ(Obj(a)->state, SOUND_UNLOADED);
  EXPECT_EQ(Obj(b)->state, SOUND_UNLOADED);
  EXPECT_NEAR(LevelOver(100), ExpectedLevel(2), 1.0);  // nearly silent until released
  {
    EngineLockGuard lock;
    SoundReleaseTreeStreams();
  }
  EXPECT_EQ(Obj(a)->stream.file_image, nullptr);
  EXPECT_EQ(Obj(b)->stream.file_image, nullptr);
}

TEST_F(SoundObjectTest, RootObjectLoopsTheGeneratedSilenceAtVolumeTwo) {
  ASSERT_EQ(SoundRootCreate(), 0);
  ObjNode* root = ObjFindNode(g_SoundRoot, "ROOT", OBJ_FIND_ITEM);
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->order, 999999999);
  ObjNode* later = Add("bgm");  // script objects sort before it
  EXPECT_EQ(g_SoundRoot->first_child, later);
  Run(3000);
  SoundObject* o = Obj(root);
  EXPECT_EQ(o->state, SOUND_PLAYING);
  EXPECT_EQ(o->volume, 2);
  EXPECT_EQ(o->stream.length, 500);
  EXPECT_GE(o->loop_counter, 5);
  EXPECT_EQ(LevelOver(100), 0.0);
}

}  // namespace
