// The animated-character bridge with the project's player library on the GL device: loading and
// refusing the library, the slot table and its limit, the colour filter, the variable dump and
// its parser, commands 12 and 13 from compiled lines, time handed over in frames, the players
// carried over a device rebuild, and a character drawn into the read-back layer.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "../script/script_fixture.h"
#include "../support/emote_model.h"
#include "core/pack.h"
#include "display/emote.h"
#include "emote/emote_api.h"
#include "gpu_fixture.h"
#include "script/var.h"

namespace {

const char kSep[] = "\x81\x92";

void AddFile(const char* name, u8 type, const std::vector<u8>& data) { TestAddMemoryFile(name, type, data); }

struct EmoteTest : GpuTest {
  ScriptWorld w;

  void SetUp() override {
    GpuTest::SetUp();
    if (IsSkipped()) return;
    std::memset(g_CmdFlags, 1, sizeof g_CmdFlags);
    AddFile("emotedriver.dll", 0, {0});
    g_EmoteLibraryPath = ZEPHRA_EMOTE_LIB;
    EmoteBridgeLoad();
    ASSERT_EQ(g_EmoteAvailable, 1);
    ASSERT_EQ(EmoteDriverInit(), 0);
    EmoteUpdateTransforms();
  }
  void TearDown() override {
    EmoteBridgeRelease();
    g_EmoteLibraryPath.clear();
    w.Close();
    PackMemoryListsFree();
    GpuTest::TearDown();
  }
  void Load(const std::string& text) {
    w.LoadCompiled(text);
    TestErrTextsWithArgs({100010, 100030, 100230, 100240, 101010});
  }
  i32 Run(u32 line) {
    i32 r = w.Run(line);
    if (r != 0) ADD_FAILURE() << "line " << line << ": " << g_ErrLastText;
    return r;
  }
  static LayerRecord* Rec(const char* path) { return LayerOf(ObjFindNode(g_LayerRoot, path, OBJ_FIND_ITEM)); }
  static float Get(LayerRecord* r, const char* name) {
    return reinterpret_cast<EmoteFnHGet>(g_EmoteBridge.fn[234])(r->player, name);
  }
  static std::string Dump(LayerRecord* r) {
    char buf[EMOTE_DUMP_SIZE];
    EmoteDumpVariables(r, buf, sizeof buf);
    return buf;
  }
};

TEST(EmoteBridgeLoad, WithoutDriverOrUsableLibraryTheFeatureStaysOffSilently) {
  struct Case {
    const char* what;
    bool driver;
    const char* lib;
  } cases[] = {
      {"no driver file among the game's files", false, ZEPHRA_EMOTE_LIB},
      {"no library", true, "/nonexistent/libzephra_emote.so"},
      {"not a library", true, ZEPHRA_SOURCE_DIR "/README.md"},
      {"an entry point missing", true, EMOTE_PARTIAL_LIB},
  };
  for (const Case& c : cases) {
    if (c.driver) AddFile("emotedriver.dll", 0, {0});
    g_EmoteLibraryPath = c.lib;
    testing::internal::CaptureStderr();
    EmoteBridgeLoad();
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(g_EmoteAvailable, 0) << c.what;
    EXPECT_EQ(g_EmoteModule, nullptr) << c.what;
    EXPECT_EQ(g_EmoteBridge.fn[2], nullptr) << c.what;
    EXPECT_EQ(err.find("message box"), std::string::npos) << c.what << ": " << err;
    PackMemoryListsFree();
  }
  g_EmoteLibraryPath.clear();
}

TEST(EmoteSaturation, NeutralGreyAndStretchedWithoutClipping) {
  struct Case {
    i32 s;
    u8 in[4], want[4];
  } cases[] = {
      {128, {200, 100, 60, 7}, {200, 100, 60, 7}},
      {0, {200, 100, 60, 7}, {120, 120, 120, 7}},
      {64, {200, 100, 60, 7}, {160, 110, 90, 7}},
      {255, {200, 100, 60, 7}, {255, 86, 18, 7}},     // the stretch stops where the first byte meets 255
      {255, {100, 100, 100, 9}, {100, 100, 100, 9}},  // every byte at the mean: nothing to divide
      {255, {10, 20, 30, 0}, {0, 20, 39, 0}},
  };
  for (const Case& c : cases) {
    u32 px;
    std::memcpy(&px, c.in, 4);
    g_EmoteSaturation = c.s;
    EmoteSaturationFilter(&px, 4);
    u8 got[4];
    std::memcpy(got, &px, 4);
    for (int k = 0; k < 4; k++) EXPECT_EQ(got[k], c.want[k]) << "saturation " << c.s << " byte " << k;
  }
  g_EmoteSaturation = 128;
}

TEST(EmoteDumpText, ParserTakesWholePairsOnly) {
  struct Case {
    const char* what;
    std::string text;
    std::vector<std::pair<std::string, float>> want;
  } cases[] = {
      {"two pairs", std::string("a") + kSep + "500" + kSep + "b" + kSep + "1000" + kSep, {{"a", 0.5f}, {"b", 1.0f}}},
      {"a half pair at the end", std::string("a") + kSep + "-250" + kSep + "b" + kSep + "7", {{"a", -0.25f}}},
      {"a name alone", std::string("a") + kSep, {}},
      {"not a number", std::string("a") + kSep + "x1" + kSep + "c" + kSep + "3" + kSep, {{"c", 0.003f}}},
      // 0x89 0x81 is one character: its second byte and the next 0x92 are no separator.
      {"double-byte name", std::string("\x89\x81\x92\x40") + kSep + "250" + kSep, {{"\x89\x81\x92\x40", 0.25f}}},
  };
  for (const Case& c : cases) {
    std::vector<std::pair<std::string, float>> got;
    i32 n = EmoteParseVariables(
        c.text.c_str(),
        [](void* ctx, const char* name, float v) {
          static_cast<std::vector<std::pair<std::string, float>>*>(ctx)->push_back({name, v});
        },
        &got);
    EXPECT_EQ(n, static_cast<i32>(c.want.size())) << c.what;
    ASSERT_EQ(got.size(), c.want.size()) << c.what;
    for (size_t i = 0; i < got.size(); i++) {
      EXPECT_EQ(got[i].first, c.want[i].first) << c.what;
      EXPECT_FLOAT_EQ(got[i].second, c.want[i].second) << c.what;
    }
  }
}

TEST_F(EmoteTest, DumpTruncatesAndIsBoundedAtWholePairs) {
  TestChara two;
  two.Var("a", 0.5f).Var("b", 1.0f).Var("c", 0.7f).Var("d", -0.7f).Part("p", -1, 0, 0, 2, 2, 0xFF000000u);
  TestChara many;
  for (int i = 0; i < 200; i++) many.Var("variable_with_a_long_name_" + std::to_string(1000 + i), 0.001f * i);
  many.Part("p", -1, 0, 0, 2, 2, 0xFF000000u);
  AddFile("two.psb", IMAGE_TYPE_PSB, two.Bytes());
  AddFile("many.psb", IMAGE_TYPE_PSB, many.Bytes());
  Load(
      "*SYSTEM_START\nlayer name='W0/two', file='two.psb', gpu=1, order=1\nlayer name='W0/many', file='many.psb', "
      "gpu=1, order=2\n");
  ASSERT_EQ(Run(0), 0);
  ASSERT_EQ(Run(1), 0);
  // Each value times 1000 truncated toward zero (0.7 is 0.699999988 as a float).
  EXPECT_EQ(Dump(Rec("W0/two")), std::string("a") + kSep + "500" + kSep + "b" + kSep + "1000" + kSep + "c" + kSep +
                                     "699" + kSep + "d" + kSep + "-699" + kSep);

  const std::string d = Dump(Rec("W0/many"));
  EXPECT_LT(d.size(), static_cast<size_t>(EMOTE_DUMP_SIZE));
  EXPECT_GT(d.size(), static_cast<size_t>(EMOTE_DUMP_SIZE) - 40) << "filled up to the last whole pair";
  ASSERT_GE(d.size(), 2u);
  EXPECT_EQ(d.substr(d.size() - 2), kSep);
  std::vector<std::string> names;
  i32 n = EmoteParseVariables(
      d.c_str(),
      [](void* ctx, const char* name, float) { static_cast<std::vector<std::string>*>(ctx)->push_back(name); }, &names);
  ASSERT_GT(n, 50);
  for (i32 i = 0; i < n; i++) EXPECT_EQ(names[i], "variable_with_a_long_name_" + std::to_string(1000 + i));
}

TEST_F(EmoteTest, TheHundredAndTwentyNinthPlayerHasNoSlot) {
  const std::vector<u8> bytes = TestCharaBasic().Bytes();
  std::vector<ObjNode*> nodes;
  for (int i = 0; i < 129; i++) {
    ObjNode* n = TestPicture(("W0/p" + std::to_string(i)).c_str(), 2, 2, 0, 0, i);
    ASSERT_NE(n, nullptr);
    nodes.push_back(n);
  }
  for (int i = 0; i < 128; i++)
    ASSERT_EQ(EmotePlayerCreate(LayerOf(nodes[i]), bytes.data(), static_cast<u32>(bytes.size())), 0);
  testing::internal::CaptureStderr();
  LayerRecord* last = LayerOf(nodes[128]);
  EXPECT_EQ(EmotePlayerCreate(last, bytes.data(), static_cast<u32>(bytes.size())), 1);
  EXPECT_EQ(EmotePlayerCreate(LayerOf(nodes[0]), bytes.data(), static_cast<u32>(bytes.size())), 1);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("EmotePlayer最大読込数をオーバーしました."), std::string::npos) << err;
  EXPECT_NE(err.find("EmotePlayerがすでに読み込まれています."), std::string::npos) << err;
  EXPECT_NE(last->player, nullptr) << "the player stays with its layer";
  for (LayerRecord* s : g_EmoteSlots) EXPECT_NE(s, last);
  // A released layer leaves its slot, and the pacing never reaches it again.
  LayerRecord* first = LayerOf(nodes[0]);
  LayerRelease(nodes[0]);
  for (LayerRecord* s : g_EmoteSlots) EXPECT_NE(s, first);
  EmoteAdvanceAll(16);
  EmoteAdvanceAll(33);
  EmoteAdvanceAll(50);
  EXPECT_EQ(EmotePlayerCreate(last, bytes.data(), static_cast<u32>(bytes.size())), 1) << "it still has its player";
  // A device rebuild lets every player go, the one without a slot too (it would outlive its
  // driver otherwise).
  g_D3dResetRequest = 1;
  UseReadback();
  D3dRenderFrame();
  EXPECT_EQ(last->player, nullptr);
  EXPECT_EQ(LayerOf(nodes[1])->player, nullptr);
}

TEST_F(EmoteTest, DamagedDataGivesTheLoadFailureBoxes) {
  std::vector<u8> bad = TestCharaBasic().Bytes();
  bad.resize(bad.size() - 3);
  AddFile("bad.psb", IMAGE_TYPE_PSB, bad);
  Load("*SYSTEM_START\nlayer name='W0/x', file='bad.psb', order=1\n");
  testing::internal::CaptureStderr();
  EXPECT_NE(w.Run(0), 0);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("EmotePlayer読み込みに失敗しました."), std::string::npos) << err;
  EXPECT_NE(err.find("E-mote 読込に失敗しました. = bad.psb"), std::string::npos) << err;
  LayerRecord* r = Rec("W0/x");
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->player, nullptr);
  EXPECT_EQ(r->width, 2) << "the placeholder stays";
  for (LayerRecord* s : g_EmoteSlots) EXPECT_EQ(s, nullptr);
}

TEST_F(EmoteTest, CommandsOnANamedLayerAndOnEveryPlayer) {
  AddFile("c.psb", IMAGE_TYPE_PSB, TestCharaBasic().Bytes());
  Load(
      "global int r\nglobal str d\nglobal str nm[2]\nglobal int vl[2]\n*SYSTEM_START\n"
      "layer name='W0/c', num=1, file='c.psb', gpu=1\n"                             // 0
      "layer name='W0/c', num=2, file='c.psb', gpu=1\n"                             // 1
      "emote name='W0/c', num=1, motion='walk', start=1\n"                          // 2
      "emote_info name='W0/c', num=1, result=r, motion='walk', motion_playing=1\n"  // 3
      "emote_info name='W0/c', num=2, result=r, busy=1\n"                           // 4
      "emote name='W0/c', value1=128, flag=0\n"                                     // 5
      "emote name='W0/c', num=1, motion='tl', start=2\n"                            // 6
      "emote_info name='W0/c', num=1, result=r, playing=1\n"                        // 7
      "emote name='W0/c', num=1, names=nm, values=vl, count=2, time=0\n"            // 8
      "emote_info name='W0/c', num=1, result=d, dump=1\n"                           // 9
      "emote name='W0/c', num=2, list=d\n"                                          // 10
      "emote name='W0/c', num=1, motion='walk', stop=1\n"                           // 11
      "emote_info name='W0/c', num=1, result=r, busy=1\n"                           // 12
      "emote name='W0/nothing', num=1, motion='walk', start=1\n");                  // 13
  VarSetStrElement(1002, 0, "a");
  VarSetStrElement(1002, 1, "b");
  VarSetNumElement(1003, 0, 2);
  VarSetNumElement(1003, 1, 3);
  LayerRecord *c1 = nullptr, *c2 = nullptr;
  ASSERT_EQ(Run(0), 0);
  ASSERT_EQ(Run(1), 0);
  c1 = Rec("W0/c.1");
  c2 = Rec("W0/c.2");
  ASSERT_TRUE(c1 && c2 && c1->player && c2->player);
  EXPECT_EQ(c1->draw_kind, LAYER_DRAW_CHARACTER);
  struct Step {
    u32 line;
    i64 r;
  } steps[] = {{2, -1}, {3, 1}, {4, 0}, {5, -1}, {6, -1}, {7, 1}};
  VarSetNumElement(1000, 0, -7);
  for (const Step& s : steps) {
    ASSERT_EQ(Run(s.line), 0) << s.line;
    if (s.r >= 0) {
      EXPECT_EQ(VarGetIntElement(1000, 0), s.r) << "line " << s.line;
    }
  }
  EXPECT_STREQ(c1->player_motion, "walk");
  EXPECT_FLOAT_EQ(c1->player_value1, 0.5f) << "without a number every player gets the value";
  EXPECT_FLOAT_EQ(c2->player_value1, 0.5f);
  EXPECT_EQ(c2->player_flag, 0);
  EXPECT_FLOAT_EQ(Get(c1, "t"), 1.0f) << "a timeline without a fade value fades to 100 %";
  ASSERT_EQ(Run(8), 0);
  EXPECT_FLOAT_EQ(Get(c1, "a"), 2.0f);
  EXPECT_FLOAT_EQ(Get(c1, "b"), 3.0f);
  ASSERT_EQ(Run(9), 0);
  ASSERT_EQ(Run(10), 0);
  EXPECT_EQ(Dump(c2), VarGetStrElement(1001, 0)) << "a dump listed back restores every variable";
  EXPECT_EQ(std::string(VarGetStrElement(1001, 0)), std::string("a") + kSep + "2000" + kSep + "b" + kSep + "3000" +
                                                        kSep + "v" + kSep + "0" + kSep + "t" + kSep + "1000" + kSep);
  ASSERT_EQ(Run(11), 0);
  EXPECT_STREQ(c1->player_motion, "");
  ASSERT_EQ(Run(12), 0);
  EXPECT_EQ(VarGetIntElement(1000, 0), 0);
  EXPECT_EQ(Run(13), 0) << "a layer that does not resolve: nothing happens";
}

TEST_F(EmoteTest, NamesThatCannotGoToThePlayerFailTheCall) {
  AddFile("c.psb", IMAGE_TYPE_PSB, TestCharaBasic().Bytes());
  Load("*SYSTEM_START\nlayer name='W0/c', file='c.psb', gpu=1, order=1\n");
  ASSERT_EQ(Run(0), 0);
  LayerRecord* c = Rec("W0/c");
  ASSERT_TRUE(c && c->player);
  ASSERT_EQ(EmoteMotionStart(c, "walk"), 0);
  const std::string long_name(EMOTE_NAME_SIZE, 'w');
  const char* bad[] = {"\x81\x20", "wa\x82", long_name.c_str()};  // a bad second byte, a cut character, too long
  for (const char* name : bad) {
    EXPECT_EQ(EmoteMotionStart(c, name), -1);
    EXPECT_EQ(EmoteTimelineStart(c, name, 1, 0), -1);
    EXPECT_EQ(EmoteMotionStop(c, name), -1);
    EXPECT_EQ(EmoteAskMotionPlaying(c, name), 0);
  }
  EXPECT_STREQ(c->player_motion, "walk") << "the stored motion is untouched";
  EXPECT_EQ(EmoteAskMotionPlaying(c, "walk"), 1);
}

TEST_F(EmoteTest, TimeIsHandedOverInFrames) {
  AddFile("c.psb", IMAGE_TYPE_PSB, TestCharaBasic().Bytes());
  Load("*SYSTEM_START\nlayer name='W0/c', file='c.psb', gpu=1, order=1\n");
  ASSERT_EQ(Run(0), 0);
  LayerRecord* c = Rec("W0/c");
  ASSERT_TRUE(c && c->player);
  ASSERT_EQ(EmoteMotionStart(c, "walk"), 0);
  EmoteAdvanceAll(1000);  // the first hand-over: nothing yet
  EmoteAdvanceAll(1100);  // pending: 100 ms
  EXPECT_FLOAT_EQ(Get(c, "v"), 0.0f);
  EmoteAdvanceAll(1150);  // 100 ms = 6 frames given, 50 pending
  EXPECT_NEAR(Get(c, "v"), 6.0f, 1e-4);
  UseReadback();
  D3dRenderFrame();  // the drawing gives the pending 50 ms = 3 frames
  EXPECT_NEAR(Get(c, "v"), 9.0f, 1e-4);
  EXPECT_EQ(g_EmotePendingMs[0], 0.0f);
  EmoteAdvanceAll(40000);  // a stall counts as one frame
  EmoteAdvanceAll(40000);
  EXPECT_NEAR(Get(c, "v"), 9.0f + 16.666f * 0.06f, 1e-3);
  EXPECT_EQ(EmoteAnyBusy(), 1);
  EmoteMotionStop(c, "walk");
  EXPECT_EQ(EmoteAnyBusy(), 0);
}

TEST_F(EmoteTest, DeviceRebuildCarriesVariablesMotionAndTimeline) {
  AddFile("c.psb", IMAGE_TYPE_PSB, TestCharaBasic().Bytes());
  Load("*SYSTEM_START\nlayer name='W0/c', file='c.psb', gpu=1, order=1\n");
  ASSERT_EQ(Run(0), 0);
  LayerRecord* c = Rec("W0/c");
  ASSERT_TRUE(c && c->player);
  ASSERT_EQ(EmoteTimelineStart(c, "tl", 0.4f, 0), 0);
  ASSERT_EQ(EmoteMotionStart(c, "walk"), 0);
  ASSERT_EQ(EmoteSetVariable(c, "a", 0.25f, 0), 0);
  EmoteAdvance(c, 100);
  ASSERT_FLOAT_EQ(Get(c, "t"), 0.4f);
  g_D3dResetRequest = 1;
  D3dRenderFrame();
  ASSERT_NE(c->player, nullptr) << "a new player on the new device";
  EXPECT_EQ(c->draw_kind, LAYER_DRAW_CHARACTER);
  EXPECT_EQ(c->player_vars, nullptr) << "the saved text is used up";
  EXPECT_FLOAT_EQ(Get(c, "a"), 0.25f);
  EXPECT_FLOAT_EQ(Get(c, "t"), 0.4f) << "the timeline with its fade value";
  EXPECT_EQ(EmoteAskMotionPlaying(c, "walk"), 1);
  EXPECT_EQ(EmoteAskTimelinePlaying(c, "tl"), 1);
  EXPECT_NE(g_EmoteDriver, nullptr);
  bool slotted = false;
  for (LayerRecord* s : g_EmoteSlots) slotted |= s == c;
  EXPECT_TRUE(slotted);
}

TEST_F(EmoteTest, CharacterIsDrawnWhereItsLayerStands) {
  TestChara ch;
  ch.Var("v", 0).Part("body", -1, 0, 0, 8, 6, 0xFFFF0000u);
  AddFile("c.psb", IMAGE_TYPE_PSB, ch.Bytes());
  Load("*SYSTEM_START\nlayer name='W0/c', file='c.psb', gpu=1, x=10, y=5, order=3\n");
  ASSERT_EQ(Run(0), 0);
  UseReadback();
  D3dRenderFrame();
  EXPECT_TRUE(Near(Px(10, 5), 0xFFFF0000u, 2)) << std::hex << Px(10, 5);
  // The last column and row are shared with what lies beyond, by the sprite drawing's filter.
  EXPECT_TRUE(Near(Px(16, 9), 0xFFFF0000u, 2)) << std::hex << Px(16, 9);
  EXPECT_FALSE(Near(Px(18, 10), 0xFFFF0000u, 2)) << "right of the body";
  EXPECT_FALSE(Near(Px(10, 11), 0xFFFF0000u, 2)) << "below the body";
  EXPECT_FALSE(Near(Px(9, 5), 0xFFFF0000u, 2)) << "left of the body";
}

}  // namespace
