#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "core/config.h"
#include "platform/audio.h"
#include "platform/platform.h"

#include "core/err.h"
#include "core/obj.h"
#include "core/pack.h"
#include "core/sys.h"
#include "script/script_test_util.h"
#include "script/var.h"
#include "sound/sound_cmd.h"
#include "sound/sound_object.h"
#include "sound/sound_ring.h"
#include "sound/sound_thread.h"
#include "sound_fixtures.h"

using namespace sndtest;

namespace {

constexpr i64 kIntVar = 1000, kFloatVar = 1001, kStrVar = 1002;

// One command line's decoded arguments.
struct Line {
  CmdArgRecord a{};
  std::string texts[SOUND_PARAM_COUNT];
  explicit Line(const char* name) { Text(SOUND_PARAM_NAME, name); }
  Line& Text(i32 id, const char* s) {
    texts[id] = s;
    a.given[id] = 1;
    a.str[id] = texts[id].c_str();
    return *this;
  }
  Line& File(const char* s) { return Text(SOUND_PARAM_FILE, s); }
  Line& Num(i32 id, i64 v) {
    a.given[id] = 1;
    a.value[id] = v;
    return *this;
  }
  Line& Result(i64 var, i64 index = 0) {
    a.given[SOUND_PARAM_RESULT] = 1;
    a.var_id[SOUND_PARAM_RESULT] = static_cast<u32>(var);
    a.var_elem[SOUND_PARAM_RESULT] = index;
    return *this;
  }
  i32 Set() { return SoundCmdSet(&a); }
  i32 Delete() { return SoundCmdDelete(&a); }
  i32 Query() { return SoundCmdQuery(&a); }
};

struct SoundCmdTest : TreeFixture {
  void SetUp() override {
    TreeFixture::SetUp();
    PackMemoryListsFree();
    TestErrTexts(
        {ERR_SOUND_EMPTY_NAME, ERR_SOUND_FOLDER_FILE, ERR_SOUND_FILE_TYPE, ERR_OBJ_MISSING_FOLDER, ERR_VAR_WRONG_TYPE});
    ASSERT_EQ(VarTableCreate(1100), 0);
    ASSERT_EQ(TestDeclare(kIntVar, VAR_TYPE_INT, {4}), 0);
    ASSERT_EQ(TestDeclare(kFloatVar, VAR_TYPE_FLOAT, {}), 0);
    ASSERT_EQ(TestDeclare(kStrVar, VAR_TYPE_STR, {}), 0);
    AddMemoryFile("bgm\\theme.ogg", PACK_TYPE_OGG, EncodeOgg(Sine(44100, 44100, 440, 12000, 2, 440), 2, 44100, 1));
    AddMemoryFile("se\\hit.wav", PACK_TYPE_WAV, ConstWav(1000, 16000));
    AddMemoryFile("se\\odd.wav", PACK_TYPE_PNG, ConstWav(100, 1));
    g_SoundBase[0] = '\0';
  }
  void TearDown() override {
    PackMemoryListsFree();
    VarReset();
    UserErrReset();
    TreeFixture::TearDown();
  }
  SoundObject* Find(const char* path, i32 mode = OBJ_FIND_ITEM) {
    return SoundObjectOf(ObjFindNode(g_SoundRoot, path, mode));
  }
  i64 QueryInt(const char* name, i32 selector) {
    VarSetNumElement(kIntVar, 0, -12345);
    Line(name).Num(selector, 1).Result(kIntVar).Query();
    return VarGetIntElement(kIntVar, 0);
  }
};

TEST_F(SoundCmdTest, NamesCreateObjectsOnlyWithAFileAndFoldersNever) {
  EXPECT_EQ(Line("bgm").Num(SOUND_PARAM_VOLUME, 100).Set(), 0);
  EXPECT_EQ(g_SoundRoot->first_child, nullptr);  // a new name without a file: nothing
  EXPECT_EQ(Line("music/").Set(), 0);
  ObjNode* folder = ObjFindNode(g_SoundRoot, "music", OBJ_FIND_FOLDER);
  ASSERT_NE(folder, nullptr);
  EXPECT_EQ(folder->order, 1);
  ASSERT_NE(SoundObjectOf(folder), nullptr);
  EXPECT_EQ(Line("music/a").File("bgm/theme").Set(), 0);
  Pass();
  SoundObject* a = Find("music/a");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->state, SOUND_LOADED);
  EXPECT_STREQ(a->file_name, "bgm\\theme.ogg");
  EXPECT_EQ(a->kind, SOUND_KIND_OGG);

  struct Row {
    const char* name;
    const char* file;
    const char* error;
  };
  const Row rows[] = {
      {"nowhere/a", "se/hit", "E100230[nowhere]"},
      {"newdir/", "se/hit", "E101292[]"},  // a new folder takes no file
      {"", "se/hit", "E900020[]"},
      {"x", "se/odd", "E100030[]"},  // found, but neither WAV nor Ogg
  };
  for (const Row& r : rows) {
    TestErrTexts({ERR_SOUND_EMPTY_NAME, ERR_SOUND_FOLDER_FILE, ERR_SOUND_FILE_TYPE, ERR_OBJ_MISSING_FOLDER});
    EXPECT_EQ(Line(r.name).File(r.file).Set(), -1) << r.name;
    EXPECT_NE(g_ErrLastText.find(r.error), std::string::npos) << r.name << ": " << g_ErrLastText;
  }
  EXPECT_EQ(ObjFindNode(g_SoundRoot, "newdir", OBJ_FIND_FOLDER), nullptr);
  // An existing folder loads a file into its own record, and nothing ends the game.
  TestErrTexts({ERR_SOUND_FOLDER_FILE});
  EXPECT_EQ(Line("music/").File("se/hit").Set(), 0);
  Pass();
  EXPECT_EQ(g_ErrLastText, "");
  EXPECT_EQ(g_QuitRequested.load(), 0);
  EXPECT_EQ(Find("music", OBJ_FIND_FOLDER)->state, SOUND_LOADED);
  EXPECT_EQ(Find("music", OBJ_FIND_FOLDER)->kind, SOUND_KIND_WAV);
  // A file that is not found ends the command after the object was made.
  TestErrTexts({});
  EXPECT_EQ(Line("ghost").File("se/none").Num(SOUND_PARAM_PLAY, 1).Set(), 0);
  Pass();
  ASSERT_NE(Find("ghost"), nullptr);
  EXPECT_EQ(Find("ghost")->state, SOUND_UNLOADED);
}

TEST_F(SoundCmdTest, NewFileStopsThePlayingOneAndPlaysOnlyWhenAsked) {
  ASSERT_EQ(Line("bgm").File("bgm/theme").Num(SOUND_PARAM_PLAY, 1).Set(), 0);
  Run(100);
  SoundObject* o = Find("bgm");
  ASSERT_EQ(o->state, SOUND_PLAYING);
  ASSERT_EQ(Line("bgm").File("se/hit").Set(), 0);
  Run(50);
  EXPECT_EQ(o->state, SOUND_LOADED);
  EXPECT_EQ(o->kind, SOUND_KIND_WAV);
  EXPECT_STREQ(o->file_name, "se\\hit.wav");
  EXPECT_EQ(o->stream.length, 1000);
  EXPECT_EQ(MeanLevel(Run(100), 0), 0.0);
  ASSERT_EQ(Line("bgm").Num(SOUND_PARAM_PLAY, 1).Set(), 0);
  Run(100);
  EXPECT_EQ(o->state, SOUND_PLAYING);
}

TEST_F(SoundCmdTest, VolumeWithPlayIsTheFadeTargetWithoutItIsImmediate) {
  ASSERT_EQ(
      Line("v").File("se/hit").Num(SOUND_PARAM_VOLUME, 100).Num(SOUND_PARAM_PLAY, 1).Num(SOUND_PARAM_FADE, 1000).Set(),
      0);
  Pass();
  SoundObject* o = Find("v");
  EXPECT_EQ(o->target_volume, 100);
  EXPECT_EQ(o->state, SOUND_FADING_IN);
  Run(500);
  EXPECT_NEAR(o->volume, 50, 2);
  Run(500);
  EXPECT_EQ(o->volume, 100);
  EXPECT_EQ(o->state, SOUND_PLAYING);
  ASSERT_EQ(Line("v").Num(SOUND_PARAM_VOLUME, 30).Set(), 0);
  Pass();
  EXPECT_EQ(o->volume, 30);
  EXPECT_EQ(o->state, SOUND_PLAYING);
  // Play = 0 fades out over the fade time and unloads.
  ASSERT_EQ(Line("v").Num(SOUND_PARAM_PLAY, 0).Num(SOUND_PARAM_FADE, 1000).Set(), 0);
  Run(500);
  EXPECT_EQ(o->state, SOUND_FADING_OUT);
  EXPECT_NEAR(o->volume, 15, 2);
  Run(510);
  EXPECT_EQ(o->state, SOUND_UNLOADED);
  EXPECT_EQ(o->stream.file_image, nullptr);
}

TEST_F(SoundCmdTest, ParametersArePostedInTheirOrder) {
  ASSERT_EQ(Line("p").File("se/hit").Set(), 0);
  Pass();
  SoundRingReset();
  const i32 first = g_SoundRequestRing.write_index;
  ASSERT_EQ(Line("p")
                .Num(SOUND_PARAM_PAUSE, 0)
                .Num(SOUND_PARAM_PLAY, 1)
                .Num(SOUND_PARAM_FADE, 300)
                .Num(SOUND_PARAM_VOLUME, 99)
                .Num(SOUND_PARAM_SPEED, 200)
                .Num(SOUND_PARAM_PAN, 100)
                .Num(SOUND_PARAM_LOOP_COUNT, 2)
                .Num(SOUND_PARAM_END, 900)
                .Num(SOUND_PARAM_LOOP_BACK, 100)
                .Num(SOUND_PARAM_START, 50)
                .Num(SOUND_PARAM_ON, 1)
                .Set(),
            0);
  const u8 ops[] = {SOUND_OP_SET_VOLUME,     SOUND_OP_SET_START, SOUND_OP_SET_LOOP_POINT, SOUND_OP_SET_END,
                    SOUND_OP_SET_LOOP_COUNT, SOUND_OP_SET_PAN,   SOUND_OP_SET_SPEED,      SOUND_OP_SET_NEXT_VOLUME,
                    SOUND_OP_PLAY,           SOUND_OP_PAUSE};
  const i32 args[] = {256, 50, 100, 900, 2, 100, 200, 99, 300, 0};
  for (size_t i = 0; i < sizeof ops; i++) {
    EXPECT_EQ(g_SoundRequestRing.operation[first + i], ops[i]) << i;
    EXPECT_EQ(g_SoundRequestRing.argument[first + i], args[i]) << i;
  }
  EXPECT_EQ(g_SoundRequestRing.write_index, first + static_cast<i32>(sizeof ops));
  EXPECT_EQ(Find("p")->loop_count, 2);  // set directly as well
}

TEST_F(SoundCmdTest, QueryAnswersTheFirstGivenSelector) {
  ASSERT_EQ(Line("q")
                .File("se/hit")
                .Num(SOUND_PARAM_PAN, 300)
                .Num(SOUND_PARAM_SPEED, 128)
                .Num(SOUND_PARAM_START, 200)
                .Num(SOUND_PARAM_LOOP_BACK, 250)
                .Num(SOUND_PARAM_END, 800)
                .Num(SOUND_PARAM_LOOP_COUNT, 3)
                .Num(SOUND_PARAM_VOLUME, 180)
                .Set(),
            0);
  Pass();
  struct Row {
    i32 selector;
    i64 value;
  };
  const Row rows[] = {
      {SOUND_QUERY_HAS_FILE, 1},     {SOUND_QUERY_ON, 1},       {SOUND_QUERY_STATE, SOUND_LOADED},
      {SOUND_QUERY_PAUSED, 0},       {SOUND_QUERY_VOLUME, 180}, {SOUND_QUERY_PAN, 300},
      {SOUND_QUERY_SPEED, 128},      {SOUND_QUERY_KIND, 2},     {SOUND_QUERY_START, 200},
      {SOUND_QUERY_LOOP_BACK, 250},  {SOUND_QUERY_END, 800},    {SOUND_QUERY_LOOP_COUNT, 3},
      {SOUND_QUERY_LOOP_COUNTER, 0}, {SOUND_QUERY_POSITION, 0}, {SOUND_QUERY_LENGTH, 1000},
      {SOUND_QUERY_CHANNELS, 1},     {SOUND_QUERY_BITS, 16},    {SOUND_QUERY_RATE, 8000},
      {SOUND_QUERY_CONVERTED, 0},
  };
  for (const Row& r : rows) EXPECT_EQ(QueryInt("q", r.selector), r.value) << r.selector;
  // The order: 9 answers before 8, 1 before everything.
  Line("q").Num(SOUND_QUERY_FILE_NAME, 1).Num(SOUND_QUERY_KIND, 1).Result(kIntVar, 1).Query();
  EXPECT_EQ(VarGetIntElement(kIntVar, 1), 2);
  Line("q").Num(SOUND_QUERY_RATE, 1).Num(SOUND_QUERY_HAS_FILE, 1).Result(kIntVar, 2).Query();
  EXPECT_EQ(VarGetIntElement(kIntVar, 2), 1);
  EXPECT_EQ(Line("q").Num(SOUND_QUERY_FILE_NAME, 1).Result(kStrVar).Query(), 0);
  EXPECT_STREQ(VarGetStrElement(kStrVar, 0), "se\\hit.wav");
  Line("q").Num(SOUND_QUERY_VOLUME, 1).Result(kFloatVar).Query();
  EXPECT_EQ(VarGetFloatElement(kFloatVar, 0), 180.0);
  // Playing: the position moves on.
  ASSERT_EQ(Line("q").Num(SOUND_PARAM_PLAY, 1).Set(), 0);
  Run(300);
  EXPECT_NEAR(static_cast<double>(QueryInt("q", SOUND_QUERY_POSITION)), 200 + 300 * 0.75,
              25);  // speed 128: 3/4 of the rate
}

TEST_F(SoundCmdTest, QueryOfAMissingObjectGivesTheEmptyValueOfTheVariable) {
  VarSetNumElement(kIntVar, 3, 9);
  VarSetFloatElement(kFloatVar, 0, 9.5);
  VarSetStrElement(kStrVar, 0, "old");
  EXPECT_EQ(Line("none").Num(SOUND_QUERY_STATE, 1).Result(kIntVar, 3).Query(), 0);
  EXPECT_EQ(Line("none").Num(SOUND_QUERY_STATE, 1).Result(kFloatVar).Query(), 0);
  EXPECT_EQ(Line("none").Num(SOUND_QUERY_FILE_NAME, 1).Result(kStrVar).Query(), 0);
  EXPECT_EQ(VarGetIntElement(kIntVar, 3), 0);
  EXPECT_EQ(VarGetFloatElement(kFloatVar, 0), 0.0);
  EXPECT_STREQ(VarGetStrElement(kStrVar, 0), "");
  EXPECT_FALSE(g_ErrDialogShown);
  // An element outside the variable is left alone; a variable of the wrong type is an error.
  ASSERT_EQ(Line("q").File("se/hit").Set(), 0);
  Pass();
  EXPECT_EQ(Line("q").Num(SOUND_QUERY_STATE, 1).Result(kIntVar, 4).Query(), 0);
  EXPECT_FALSE(g_ErrDialogShown);
  EXPECT_EQ(Line("q").Num(SOUND_QUERY_STATE, 1).Result(kStrVar).Query(), -1);
  EXPECT_NE(g_ErrLastText.find("E101140"), std::string::npos);
  TestErrTexts({ERR_VAR_WRONG_TYPE});
  EXPECT_EQ(Line("q").Num(SOUND_QUERY_FILE_NAME, 1).Result(kIntVar).Query(), -1);
  EXPECT_NE(g_ErrLastText.find("E101140"), std::string::npos);
}

TEST_F(SoundCmdTest, LevelsAreTheSamplesAtThePlayCursor) {
  std::vector<i16> stereo(16000);
  for (size_t i = 0; i < stereo.size(); i += 2) {
    stereo[i] = 1000;
    stereo[i + 1] = -2000;
  }
  AddMemoryFile("st.wav", PACK_TYPE_WAV, PcmWav(2, 8000, 16, Le16(stereo)));
  AddMemoryFile("m8.wav", PACK_TYPE_WAV, PcmWav(1, 8000, 8, Bytes(8000, 200)));
  ASSERT_EQ(Line("st").File("st").Num(SOUND_PARAM_PLAY, 1).Set(), 0);
  ASSERT_EQ(Line("m8").File("m8").Num(SOUND_PARAM_PLAY, 1).Set(), 0);
  Run(100);
  EXPECT_EQ(QueryInt("st", SOUND_QUERY_LEVEL_FIRST), 1000);
  EXPECT_EQ(QueryInt("st", SOUND_QUERY_LEVEL_SECOND), 2000);
  EXPECT_EQ(QueryInt("m8", SOUND_QUERY_LEVEL_FIRST), 72);
  EXPECT_EQ(QueryInt("m8", SOUND_QUERY_LEVEL_SECOND), 72);
  // Without a voice: -1.
  ASSERT_EQ(Line("st").Num(SOUND_PARAM_PAUSE, 1).Set(), 0);
  Run(10);
  EXPECT_EQ(QueryInt("st", SOUND_QUERY_LEVEL_FIRST), -1);
}

TEST_F(SoundCmdTest, DeletingAFolderRemovesEverythingBelowIt) {
  ASSERT_EQ(Line("se/").Set(), 0);
  ASSERT_EQ(Line("se/deep/").Set(), 0);
  ASSERT_EQ(Line("se/a").File("se/hit").Num(SOUND_PARAM_PLAY, 1).Set(), 0);
  ASSERT_EQ(Line("se/deep/b").File("bgm/theme").Num(SOUND_PARAM_PLAY, 1).Set(), 0);
  ASSERT_EQ(Line("keep").File("se/hit").Set(), 0);
  Run(50);
  // Requests still waiting for the deleted objects are dropped with them.
  ASSERT_EQ(Line("se/a").Num(SOUND_PARAM_VOLUME, 10).Num(SOUND_PARAM_PAN, 0).Set(), 0);
  EXPECT_EQ(Line("se/deep").Delete(), 0);  // names an object, not the folder: nothing
  ASSERT_NE(ObjFindNode(g_SoundRoot, "se/deep", OBJ_FIND_FOLDER), nullptr);
  EXPECT_EQ(Line("se/").Delete(), 0);
  Run(50);
  EXPECT_EQ(ObjFindNode(g_SoundRoot, "se", OBJ_FIND_FOLDER), nullptr);
  ASSERT_NE(Find("keep"), nullptr);
  EXPECT_EQ(g_SoundRoot->child_count, 1u);
  EXPECT_EQ(MeanLevel(Run(100), 0), 0.0);
  EXPECT_EQ(Line("keep").Delete(), 0);
  EXPECT_EQ(g_SoundRoot->first_child, nullptr);
  EXPECT_EQ(Line("unknown").Delete(), 0);
}

TEST_F(SoundCmdTest, SoundOffMakesTheCommandsDoNothing) {
  g_SoundEnabled.store(0);
  EXPECT_EQ(Line("x").File("se/hit").Num(SOUND_PARAM_PLAY, 1).Set(), 0);
  EXPECT_EQ(g_SoundRoot->first_child, nullptr);
  VarSetNumElement(kIntVar, 0, 7);
  EXPECT_EQ(Line("x").Num(SOUND_QUERY_STATE, 1).Result(kIntVar).Query(), 0);
  EXPECT_EQ(VarGetIntElement(kIntVar, 0), 7);
  g_SoundEnabled.store(1);
}

// ---- With the sound thread running -------------------------------------------------------------------

struct SoundCmdThreadTest : SoundCmdTest {
  void SetUp() override {
    SoundCmdTest::SetUp();
    MixerFixture::TearDown();  // the thread opens the mixer on the dummy device itself
    PlatClockSetFixed(false);  // fades follow the real clock, as the device does
    g_SoundEnabled.store(1);
    ASSERT_EQ(SoundStartupWatchdog(), 0);
    ASSERT_EQ(g_SoundDevice.load(), 1);
  }
  void TearDown() override {
    g_QuitRequested = 1;
    while (g_SoundThreadState.load() == SOUND_THREAD_RUNNING) PlatSleepMs(1);
    SoundThreadJoin();
    SoundThreadReset();
    g_QuitRequested = 0;
    ASSERT_EQ(PlatAudioOpen(44100, false), 0);  // for the fixture's own tear-down
    g_SoundDevice.store(1);
    SoundCmdTest::TearDown();
  }
  u8 State(SoundObject* o) {
    EngineLockGuard lock;
    return o->state;
  }
};

TEST_F(SoundCmdThreadTest, SendersWaitForTheThreadAndDeleteWaitsForTheUnload) {
  ASSERT_EQ(Line("bgm").File("bgm/theme").Num(SOUND_PARAM_PLAY, 1).Num(SOUND_PARAM_FADE, 200).Set(), 0);
  SoundObject* o = Find("bgm");
  ASSERT_NE(o, nullptr);
  EXPECT_GE(State(o), SOUND_FADING_IN);  // the play request has run when the command returns
  ASSERT_EQ(Line("bgm").Num(SOUND_PARAM_PAUSE, 1).Set(), 0);
  {
    EngineLockGuard lock;
    EXPECT_NE(o->pause_time, 0u);
  }
  ASSERT_EQ(Line("bgm").File("se/hit").Set(), 0);  // waits for the unload, then for the load
  EXPECT_EQ(State(o), SOUND_LOADED);
  ASSERT_EQ(Line("bgm").Num(SOUND_PARAM_PLAY, 1).Set(), 0);
  EXPECT_EQ(Line("bgm").Delete(), 0);
  EXPECT_EQ(Find("bgm"), nullptr);
  EXPECT_NE(ObjFindNode(g_SoundRoot, "ROOT", OBJ_FIND_ITEM), nullptr);
}

// ---- End to end: music with a fade-in and an effect, heard through the device -------------------------

struct Capture {
  std::mutex mutex;
  std::vector<i16> frames;  // interleaved stereo
};

void CaptureFrames(void* ctx, const i16* frames, u32 count) {
  Capture* c = static_cast<Capture*>(ctx);
  std::lock_guard<std::mutex> g(c->mutex);
  c->frames.insert(c->frames.end(), frames, frames + 2 * static_cast<size_t>(count));
}

// Waits until at least `frames` frames were captured (the device pulls them in real time).
size_t WaitCaptured(Capture* c, size_t frames) {
  for (int i = 0; i < 30000; i++) {
    {
      std::lock_guard<std::mutex> g(c->mutex);
      if (c->frames.size() / 2 >= frames) return c->frames.size() / 2;
    }
    PlatSleepMs(1);
  }
  ADD_FAILURE() << "the device stopped pulling frames";
  return 0;
}

// First frame from `from` on where the channel's magnitude passes `threshold`.
size_t Onset(const std::vector<i16>& f, u32 channel, size_t from, i32 threshold = 300) {
  for (size_t i = from; i < f.size() / 2; i++) {
    if (std::abs(f[2 * i + channel]) > threshold) return i;
  }
  return f.size() / 2;
}

// Frequency (rising zero crossings per second) and RMS of a channel over frames [a, b).
void Measure(const std::vector<i16>& f, u32 channel, size_t a, size_t b, double* hz, double* rms) {
  u32 crossings = 0;
  double sum = 0;
  for (size_t i = a; i < b; i++) {
    const i16 s = f[2 * i + channel];
    sum += static_cast<double>(s) * s;
    if (i > a && f[2 * (i - 1) + channel] < 0 && s >= 0) crossings++;
  }
  *hz = crossings * 44100.0 / static_cast<double>(b - a);
  *rms = std::sqrt(sum / static_cast<double>(b - a));
}

// Tolerances: frequency within 1 % (the resampler and the encoder keep pitch exactly; the count
// of crossings over a window is off by at most one), level within 10 % (Vorbis is lossy).
TEST_F(SoundCmdThreadTest, MusicFadesInAndAnEffectPlaysOnTopOfIt) {
  AddMemoryFile("se\\beep.wav", PACK_TYPE_WAV, PcmWav(1, 22050, 16, Le16(Sine(11025, 22050, 1000, 8000))));
  Capture cap;
  PlatAudioSetCapture(CaptureFrames, &cap);
  ASSERT_EQ(Line("bgm")
                .File("bgm/theme")
                .Num(SOUND_PARAM_VOLUME, 256)
                .Num(SOUND_PARAM_PAN, 0)
                .Num(SOUND_PARAM_PLAY, 1)
                .Num(SOUND_PARAM_FADE, 500)
                .Set(),
            0);
  size_t have = WaitCaptured(&cap, 0);
  have = WaitCaptured(&cap, have + 44100 * 3 / 2);
  ASSERT_EQ(Line("se")
                .File("se/beep")
                .Num(SOUND_PARAM_PAN, 512)
                .Num(SOUND_PARAM_LOOP_COUNT, 1)
                .Num(SOUND_PARAM_PLAY, 1)
                .Set(),
            0);
  const size_t effect_posted = WaitCaptured(&cap, 0);
  WaitCaptured(&cap, effect_posted + 44100 * 3 / 2);
  PlatAudioSetCapture(nullptr, nullptr);
  std::vector<i16> f;
  {
    std::lock_guard<std::mutex> g(cap.mutex);
    f = cap.frames;
  }
  const size_t ms = 441 / 10;
  const size_t music = Onset(f, 0, 0);
  ASSERT_LT(music + 1400 * ms, effect_posted);
  double hz, rms, early_hz, early_rms;
  Measure(f, 0, music, music + 50 * ms, &early_hz, &early_rms);
  Measure(f, 0, music + 600 * ms, music + 1400 * ms, &hz, &rms);
  EXPECT_NEAR(hz, 440.0, 4.4);
  EXPECT_NEAR(rms, 12000 / std::sqrt(2.0), 850);
  EXPECT_LT(early_rms, rms * 0.2);  // the fade-in starts from silence
  double right_hz, right_rms;
  Measure(f, 1, music, music + 1400 * ms, &right_hz, &right_rms);
  EXPECT_LT(right_rms, 5.0);  // pan 0: the left channel only

  const size_t effect = Onset(f, 1, effect_posted);
  ASSERT_LT(effect + 700 * ms, f.size() / 2);
  Measure(f, 1, effect + 50 * ms, effect + 450 * ms, &hz, &rms);
  EXPECT_NEAR(hz, 1000.0, 10.0);
  EXPECT_NEAR(rms, 8000 / std::sqrt(2.0), 570);
  Measure(f, 0, effect + 50 * ms, effect + 450 * ms, &hz, &rms);
  EXPECT_NEAR(hz, 440.0, 4.4);  // the music goes on under it
  Measure(f, 1, effect + 600 * ms, effect + 700 * ms, &hz, &rms);
  EXPECT_LT(rms, 5.0);  // played once
}

}  // namespace
