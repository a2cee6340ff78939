#include <gtest/gtest.h>

#include <cstdlib>

#include <cstring>
#include <string>
#include <vector>

#include "core/err.h"
#include "core/sys.h"
#include "core/usererr.h"
#include "layer/font.h"
#include "platform/platform.h"
#include "script/script.h"

namespace {

std::string Sjis(const char* utf8) { return PlatUtf8ToSjis(utf8); }

struct FakeFace {
  const char* name;    // UTF-8
  const char* script;  // UTF-8
  u8 pitch_and_family;
};

std::vector<FakeFace> g_Fake;
int g_FakePasses = 0;
int g_FakeExtraOnSecondPass = 0;  // faces "installed" between the two passes (negative: removed)

int FakeEnum(PlatFontEnumProc proc, void* ctx) {
  int pass = g_FakePasses++;
  int n = static_cast<int>(g_Fake.size()) + (pass > 0 ? g_FakeExtraOnSecondPass : 0);
  for (int i = 0; i < n; i++) {
    std::string name = i < static_cast<int>(g_Fake.size()) ? Sjis(g_Fake[i].name) : "Extra" + std::to_string(i);
    std::string script = Sjis(i < static_cast<int>(g_Fake.size()) ? g_Fake[i].script : "欧文");
    u8 pitch = i < static_cast<int>(g_Fake.size()) ? g_Fake[i].pitch_and_family : 2;
    if (!proc(name.c_str(), script.c_str(), pitch, ctx)) break;
  }
  return n;
}

int g_FailedCreates = 0;
PlatFont* FailingCreate(const char*, i32, i32) {
  g_FailedCreates++;
  return nullptr;
}

// The error texts print their arguments, so a test sees which error was raised and with what.
const char* const kErrTexts[][2] = {
    {"101000", "E101000 %s %s %lld %lld %lld"},
    {"101010", "E101010 %s %s %lld %lld"},
    {"101240", "E101240 %s %s %lld %lld"},
    {"102040", "E102040"},
};

struct FontTest : ::testing::Test {
  void SetUp() override {
    FontReset();
    ErrReset();
    UserErrReset();
    for (size_t i = 0; i < ZP_COUNTOF(kErrTexts); i++) {
      g_UserErrCodes[i] = static_cast<u32>(std::stoul(kErrTexts[i][0]));
      g_UserErrTexts[i] = kErrTexts[i][1];
    }
    g_UserErrCount = static_cast<i32>(ZP_COUNTOF(kErrTexts));
    g_QuitRequested = 0;
    g_Fake.clear();
    g_FakePasses = 0;
    g_FakeExtraOnSecondPass = 0;
    g_FailedCreates = 0;
  }
  void TearDown() override {
    FontReset();
    UserErrReset();
    ErrReset();
    g_QuitRequested = 0;
  }
  void UseFakeFaces(std::vector<FakeFace> faces) {
    g_Fake = std::move(faces);
    g_FontEnumFaces = FakeEnum;
    ASSERT_EQ(FontEnumInstalled(), 0);
  }
  // The font command's names as a game's command definitions give them, for the error texts.
  static CmdArgRecord Args() {
    static const char* kNames[FONT_CMD_PARAM_COUNT] = {"slot", "face", "facename", "smooth", "color", "color2", "grad",
                                                       "rot",  "ink",  "w",        "h",      "bold",  "p12",    "p13",
                                                       "p14",  "p15",  "p16",      "text",   "var",   "p19"};
    g_CmdNames[27] = "font";
    if (!g_CmdArgNames[27]) {  // freed with the definitions, like a loaded list
      g_CmdArgNames[27] = static_cast<const char**>(std::malloc(sizeof kNames));
      std::memcpy(g_CmdArgNames[27], kNames, sizeof kNames);
    }
    g_CmdArgCounts[27] = FONT_CMD_PARAM_COUNT;
    CmdArgRecord a;
    std::memset(&a, 0, sizeof a);
    a.slot = 27;
    return a;
  }
  static void Give(CmdArgRecord* a, int id, i64 v, u8 op = 0) {
    a->given[id] = 1;
    a->value[id] = v;
    a->op[id] = op;
  }
};

const std::vector<FakeFace> kFiveFaces = {
    {"Arial", "欧文", 2},           {"ＭＳ 明朝", "日本語", 1},   {"ＭＳ 明朝", "欧文", 1},
    {"ＭＳ ゴシック", "日本語", 1}, {"ＭＳ ゴシック", "欧文", 1},
};

}  // namespace

// ---- Tables ------------------------------------------------------------------------------------

TEST_F(FontTest, CoverageCountsInkPerHalfByte) {
  FontInitSlots();
  for (u32 v = 0; v < 256; v++) {
    u32 left = 0, right = 0;
    for (int bit = 0; bit < 8; bit++) {
      bool ink = !(v & (0x80u >> bit));  // bit 7 is the leftmost pixel, 0 is ink
      (bit < 4 ? left : right) += ink ? 1 : 0;
    }
    EXPECT_EQ(g_GlyphCoverage[v], (left << 8) + right) << "byte " << v;
  }
  EXPECT_EQ(g_GlyphCoverage[0x00], 0x404u);
  EXPECT_EQ(g_GlyphCoverage[0xFF], 0u);
  EXPECT_EQ(g_GlyphCoverage[0x0F], 0x400u);
  EXPECT_EQ(g_GlyphCoverage[0x7E], 0x101u);
}

TEST_F(FontTest, GreyLevelsAndCellSizes) {
  FontInitSlots();
  const u8 kGrey[32] = {0,   18,  36,  54,  72,  90,  108, 126, 144, 162, 180, 198, 216, 234, 252, 255,
                        255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255};
  for (int i = 0; i < 32; i++) EXPECT_EQ(g_GlyphGreyLevels[i], kGrey[i]) << i;

  struct {
    i32 from, to, side;
  } kCells[] = {
      {0, 7, 64}, {8, 15, 96}, {16, 23, 128}, {20, 20, 128}, {32, 39, 192}, {248, 255, 1056}, {256, 256, 1088},
  };
  for (auto c : kCells)
    for (i32 size = c.from; size <= c.to; size++) EXPECT_EQ(g_GlyphCellSize[size], c.side) << size;
  // Every cell holds a smooth glyph (4 w pixels) with room to spare and whole bytes per row.
  for (i32 size = 0; size <= FONT_GLYPH_MAX; size++) {
    EXPECT_EQ(g_GlyphCellSize[size] % 32, 0);
    EXPECT_GT(g_GlyphCellSize[size], 4 * size + 4);
  }
}

TEST_F(FontTest, SlotDefaults) {
  UseFakeFaces(kFiveFaces);
  for (int i = 0; i < FONT_SLOT_COUNT; i++) {
    const FontSlot& s = g_FontSlots[i];
    EXPECT_EQ(s.face, 3) << "Gothic is preferred over the Mincho face listed before it";
    EXPECT_EQ(s.glyph_width, 20);
    EXPECT_EQ(s.glyph_height, 20);
    EXPECT_EQ(s.colour, 0xFFFFFFu);
    EXPECT_EQ(s.second_colour, 0xFFFFFFu);
    EXPECT_EQ(s.bold, 0u);
    EXPECT_EQ(s.gradient_mode, 1);
    EXPECT_EQ(s.orientation, 0);
    EXPECT_EQ(s.smooth, 1);
    EXPECT_EQ(s.ink_only, 0);
    EXPECT_EQ(s.font_weight, 400);
  }
  EXPECT_EQ(g_FontCurrentSlot, 0);
}

// ---- Face list ---------------------------------------------------------------------------------

TEST_F(FontTest, FaceListFlagsFromScriptAndPitch) {
  UseFakeFaces({{"A", "日本語", 0},
                {"B", "欧文", 1},
                {"C", "欧文", 2},
                {"D", "Cyrillic", 3},
                {"E", "日本語", 0x31},
                {"F", "日本語", 0x22}});
  ASSERT_EQ(FontFaceCount(), 6);
  const u8 kScript[] = {0, 1, 1, 1, 0, 0};
  const u8 kPitch[] = {1, 0, 1, 255, 0, 1};
  for (int i = 0; i < 6; i++) {
    EXPECT_EQ(std::string(FontFaceName(i)), std::string(1, static_cast<char>('A' + i)));
    EXPECT_EQ(FontFaceScriptFlag(i), kScript[i]) << i;
    EXPECT_EQ(g_FontFaceList.pitch_flags[i], kPitch[i]) << i;
  }
  EXPECT_EQ(FontFaceName(-1), nullptr);
  EXPECT_EQ(FontFaceName(6), nullptr);
  EXPECT_EQ(FontFaceScriptFlag(6), -1);
  // None of the preferred faces is installed: every slot keeps the first face.
  EXPECT_EQ(g_FontSlots[7].face, 0);
}

TEST_F(FontTest, SecondPassNeverFillsMoreThanCounted) {
  struct {
    int extra;
    int expect;
  } kCases[] = {{+40, 5}, {0, 5}, {-2, 3}};
  for (auto c : kCases) {
    FontReset();
    g_FakePasses = 0;
    g_FakeExtraOnSecondPass = c.extra;
    UseFakeFaces(kFiveFaces);
    EXPECT_EQ(FontFaceCount(), c.expect) << c.extra;
    for (int i = 0; i < FontFaceCount(); i++) EXPECT_NE(FontFaceName(i), nullptr);
  }
}

TEST_F(FontTest, SlotAndFaceSelectionRefusesBadIndexes) {
  UseFakeFaces(kFiveFaces);
  EXPECT_EQ(FontSetCurrentSlot(8), -1);
  EXPECT_EQ(FontSetCurrentSlot(-1), -1);
  EXPECT_EQ(g_FontCurrentSlot, 0);
  ASSERT_EQ(FontSetCurrentSlot(5), 0);
  EXPECT_EQ(FontSelectFaceByIndex(5), 0);
  EXPECT_EQ(FontSelectFaceByIndex(-1), 0);
  EXPECT_EQ(FontCurrentFace(), 3);
  EXPECT_EQ(FontSelectFaceByIndex(4), 1);
  EXPECT_EQ(FontCurrentFace(), 4);
  EXPECT_EQ(g_FontSlots[0].face, 3) << "only the current slot changes";
  // Exact, case-sensitive, first match: the Japanese entry of a face listed twice.
  EXPECT_EQ(FontSelectFaceByName(Sjis("ＭＳ 明朝").c_str()), 1);
  EXPECT_EQ(FontCurrentFace(), 1);
  EXPECT_EQ(FontSelectFaceByName("arial"), 0);
  EXPECT_EQ(FontCurrentFace(), 1);
  EXPECT_EQ(FontSelectFaceByName("Arial"), 1);
  EXPECT_EQ(FontCurrentFace(), 0);
  EXPECT_EQ(FontCurrentPitch(), 1);
}

// Start-up's listing on first use: each first use below gives what the listing made at once
// gives, keeps the slots' other fields and the current slot, and lists the faces only then.
TEST_F(FontTest, ListingOnFirstUseGivesWhatTheListingAtOnceGives) {
  struct Outcome {
    std::vector<i32> faces;
    std::vector<u32> colours;
    i32 current_slot, first_face, count, pitch;
    std::string error;
  };
  std::string mincho = Sjis("ＭＳ 明朝");
  // first_use 0: the face number with an operator on another slot; 1: a face name; 2: the count
  // query; 3: the current face of a slot chosen outside the command.
  auto run = [&](bool later, int first_use) {
    FontReset();
    ErrReset();
    g_QuitRequested = 0;
    g_Fake = kFiveFaces;
    g_FakePasses = 0;
    g_FontEnumFaces = FakeEnum;
    if (later) FontEnumInstalledLater();
    else EXPECT_EQ(FontEnumInstalled(), 0);
    CmdArgRecord colour = Args();
    Give(&colour, 0, 6);
    Give(&colour, 4, 0x123456);
    EXPECT_EQ(FontSetApply(&colour, nullptr), 0);
    EXPECT_EQ(g_FakePasses, later ? 0 : 2) << "a colour alone needs no face";
    Outcome o{};
    o.first_face = -1;
    CmdArgRecord a = Args();
    if (first_use == 0) {
      Give(&a, 0, 6);
      Give(&a, 1, 1, 1);  // the preferred face's number + 1
      EXPECT_EQ(FontSetApply(&a, nullptr), 0);
    } else if (first_use == 1) {
      Give(&a, 0, 2);
      a.given[2] = 1;
      a.str[2] = mincho.c_str();
      EXPECT_EQ(FontSetApply(&a, nullptr), 0);
    } else if (first_use == 2) {
      Give(&a, 11, 1);
      FontInfoValue v{};
      EXPECT_EQ(FontInfoQuery(&a, nullptr, &v), 0);
      o.count = static_cast<i32>(v.number);
    } else {
      FontSetCurrentSlot(4);
      o.first_face = FontCurrentFace();
      o.pitch = FontCurrentPitch();
    }
    EXPECT_EQ(g_FakePasses, 2);
    o.current_slot = g_FontCurrentSlot;
    FontSetCurrentSlot(0);
    for (const FontSlot& s : g_FontSlots) {
      o.faces.push_back(s.face);
      o.colours.push_back(s.colour);
    }
    o.error = g_ErrLastText;
    return o;
  };
  for (int use = 0; use < 4; use++) {
    const Outcome at_once = run(false, use), later = run(true, use);
    EXPECT_EQ(later.faces, at_once.faces) << use;
    EXPECT_EQ(later.colours, at_once.colours) << use;
    EXPECT_EQ(later.current_slot, at_once.current_slot) << use;
    EXPECT_EQ(later.first_face, at_once.first_face) << use;
    EXPECT_EQ(later.count, at_once.count) << use;
    EXPECT_EQ(later.pitch, at_once.pitch) << use;
    EXPECT_EQ(later.error, at_once.error) << use;
    EXPECT_EQ(later.colours[6], 0x123456u) << use;
  }
  EXPECT_EQ(run(true, 0).faces[6], 4) << "Gothic (3) is chosen before the operator adds one";
  EXPECT_EQ(run(true, 1).faces[2], 1);
  EXPECT_EQ(run(true, 3).current_slot, 4);
}

// ---- Command bodies ----------------------------------------------------------------------------

TEST_F(FontTest, SetAppliesOperatorsAndClamps) {
  UseFakeFaces(kFiveFaces);
  struct Case {
    int param;
    u8 op;
    i64 value;
    i64 expect;
  } kCases[] = {
      {4, 0, 0x1000000, 0xFFFFFF},
      {4, 0, 0x123456, 0x123456},
      {4, 2, 0x1000000, 0},
      {4, 0, -5, 0},
      {5, 1, 1, 0xFFFFFF},
      {5, 4, 0, 0xFFFFFF},
      {5, 4, 2, 0x7FFFFF},
      {9, 0, 300, 256},
      {9, 1, 4, 24},
      {9, 3, 3, 60},
      {9, 2, 50, 0},
      {10, 3, INT64_MAX, 256},
      {10, 1, INT64_MAX, 256},
      {10, 2, INT64_MAX, 0},
      {6, 0, 9, 8},
      {6, 1, 2, 3},
      {7, 0, 3, 3},
      {7, 0, 12, 8},
      {8, 0, 5, 1},
      {11, 0, 2, 1},
      {11, 0, -1, 0},
      {3, 0, 300, 255},
      {3, 0, 0, 0},
  };
  for (const Case& c : kCases) {
    FontInitSlots();
    CmdArgRecord a = Args();
    Give(&a, c.param, c.value, c.op);
    FontMessageFont msg = {};
    ASSERT_EQ(FontSetApply(&a, &msg), 0);
    const FontSlot& s = g_FontSlots[0];
    i64 got = 0, through = 0;
    switch (c.param) {
      case 3: got = s.smooth, through = msg.smooth; break;
      case 4: got = s.colour, through = msg.colour; break;
      case 5: got = s.second_colour, through = msg.second_colour; break;
      case 6: got = s.gradient_mode, through = msg.gradient_mode; break;
      case 7: got = s.orientation, through = msg.orientation; break;
      case 8: got = s.ink_only, through = msg.ink_only; break;
      case 9: got = s.glyph_width, through = msg.glyph_width; break;
      case 10: got = s.glyph_height, through = msg.glyph_height; break;
      case 11: got = s.bold, through = msg.bold; break;
    }
    EXPECT_EQ(got, c.expect) << "param " << c.param << " op " << int(c.op) << " value " << c.value;
    EXPECT_EQ(through, c.expect) << "slot 0 writes through, param " << c.param;
  }
  EXPECT_EQ(g_QuitRequested.load(), 0);
}

TEST_F(FontTest, SetOnOtherSlotLeavesMessageAndReturnsToSlotZero) {
  UseFakeFaces(kFiveFaces);
  CmdArgRecord a = Args();
  Give(&a, 0, 3);
  Give(&a, 4, 0x112233);
  Give(&a, 9, 32);
  FontMessageFont msg = {20, 20, 0xFFFFFF, 0xFFFFFFFF, 1, 0, 0, 0, 1};
  ASSERT_EQ(FontSetApply(&a, &msg), 0);
  EXPECT_EQ(g_FontSlots[3].colour, 0x112233u);
  EXPECT_EQ(g_FontSlots[3].glyph_width, 32);
  EXPECT_EQ(g_FontSlots[0].colour, 0xFFFFFFu);
  EXPECT_EQ(msg.colour, 0xFFFFFFu);
  EXPECT_EQ(msg.glyph_width, 20);
  EXPECT_EQ(msg.second_colour, 0xFFFFFFFFu);
  EXPECT_EQ(g_FontCurrentSlot, 0);

  for (i64 bad : {8LL, -1LL, 1LL << 32}) {
    ErrReset();
    CmdArgRecord b = Args();
    Give(&b, 0, bad);
    Give(&b, 4, 0x445566);
    EXPECT_EQ(FontSetApply(&b, &msg), -1);
    EXPECT_EQ(g_ErrLastText, "E101000 font slot " + std::to_string(bad) + " 0 7");
    EXPECT_EQ(g_FontCurrentSlot, 0);
    EXPECT_EQ(msg.colour, 0xFFFFFFu);
    for (const FontSlot& s : g_FontSlots) EXPECT_NE(s.colour, 0x445566u);
  }
}

TEST_F(FontTest, SetFaceByNumberAndName) {
  UseFakeFaces(kFiveFaces);
  struct {
    u8 op;
    i64 value;
    i32 face;
    const char* error;
  } kCases[] = {
      {0, 1, 0, nullptr},
      {0, 5, 4, nullptr},
      {1, 1, 4, nullptr},  // current face 3 is number 4; + 1
      {2, 3, 0, nullptr},
      {0, 0, 3, "E101010 font face 0 1"},
      {0, -7, 3, "E101010 font face -7 1"},
      {0, 6, 3, "E101240 font face 6 5"},
      {1, 2, 3, "E101240 font face 6 5"},
  };
  for (auto c : kCases) {
    FontInitSlots();
    g_FontSlots[0].face = 3;
    ErrReset();
    g_QuitRequested = 0;
    CmdArgRecord a = Args();
    Give(&a, 1, c.value, c.op);
    Give(&a, 9, 40);
    i32 r = FontSetApply(&a, nullptr);
    EXPECT_EQ(g_FontSlots[0].face, c.face) << c.value;
    if (c.error) {
      EXPECT_EQ(r, -1);
      EXPECT_EQ(g_ErrLastText, c.error);
      EXPECT_EQ(g_QuitRequested.load(), 1) << "fatal";
      EXPECT_EQ(g_FontSlots[0].glyph_width, 20) << "the line stops at the error";
    } else {
      EXPECT_EQ(r, 0);
      EXPECT_EQ(g_FontSlots[0].glyph_width, 40);
    }
  }
  CmdArgRecord a = Args();
  std::string mincho = Sjis("ＭＳ 明朝");
  a.given[2] = 1;
  a.str[2] = mincho.c_str();
  ASSERT_EQ(FontSetApply(&a, nullptr), 0);
  EXPECT_EQ(g_FontSlots[0].face, 1);
  a.str[2] = "Nothing Like It";
  ASSERT_EQ(FontSetApply(&a, nullptr), 0);
  EXPECT_EQ(g_FontSlots[0].face, 1);
}

TEST_F(FontTest, InfoAnswersTheFirstGivenParameter) {
  UseFakeFaces(kFiveFaces);
  FontMessageFont msg = {24, 28, 0x102030, 0xFFFFFFFF, 5, 2, 1, 1, 0};
  struct {
    std::vector<int> params;
    i64 expect;
  } kCases[] = {
      {{2}, 0},  {{3}, 0x102030}, {{4}, 0xFFFFFFFF}, {{5}, 5}, {{6}, 2},    {{7}, 1},      {{8}, 24},
      {{9}, 28}, {{10}, 1},       {{12}, 0},         {{}, 0},  {{3, 2}, 0}, {{10, 8}, 24}, {{13, 12}, 0},
  };
  for (auto& c : kCases) {
    CmdArgRecord a = Args();
    for (int p : c.params) Give(&a, p, 1);
    FontInfoValue v;
    ASSERT_EQ(FontInfoQuery(&a, &msg, &v), 0);
    EXPECT_EQ(v.is_text, 0);
    EXPECT_EQ(v.number, c.expect) << c.params.size();
  }
  // Face count only for 11 = 1.
  CmdArgRecord a = Args();
  Give(&a, 11, 1);
  FontInfoValue v;
  ASSERT_EQ(FontInfoQuery(&a, &msg, &v), 0);
  EXPECT_EQ(v.number, 5);
  a.value[11] = 0;
  ASSERT_EQ(FontInfoQuery(&a, &msg, &v), 0);
  EXPECT_EQ(v.number, 0);
}

TEST_F(FontTest, InfoFaceNameAndScriptFlag) {
  UseFakeFaces(kFiveFaces);
  FontMessageFont msg = {};
  CmdArgRecord a = Args();
  Give(&a, 1, 1);
  FontInfoValue v;
  ASSERT_EQ(FontInfoQuery(&a, &msg, &v), 0);
  ASSERT_EQ(v.is_text, 1) << "without p0: the current face";
  EXPECT_EQ(std::string(v.text), Sjis("ＭＳ ゴシック"));
  Give(&a, 0, 1);
  ASSERT_EQ(FontInfoQuery(&a, &msg, &v), 0);
  EXPECT_EQ(std::string(v.text), "Arial");

  CmdArgRecord b = Args();
  Give(&b, 13, 1);
  for (auto c : {std::pair<i64, i64>{1, 1}, {2, 0}, {3, 1}}) {
    Give(&b, 0, c.first);
    ASSERT_EQ(FontInfoQuery(&b, &msg, &v), 0);
    EXPECT_EQ(v.is_text, 0);
    EXPECT_EQ(v.number, c.second) << c.first;
  }
  for (auto c : {std::pair<i64, const char*>{0, "E101010 font slot 0 1"}, {6, "E101240 font slot 6 5"}}) {
    ErrReset();
    Give(&b, 0, c.first);
    EXPECT_EQ(FontInfoQuery(&b, &msg, &v), -1);
    EXPECT_EQ(g_ErrLastText, c.second);
  }
}

TEST_F(FontTest, FailedFontRaisesOnceAndMeasuresNothing) {
  UseFakeFaces(kFiveFaces);
  g_FontCreate = FailingCreate;
  i32 w = -1, h = -1;
  FontMeasureText("A", 20, 20, 0, 1, &w, &h);
  EXPECT_EQ(w, 0);
  EXPECT_EQ(h, 0);
  EXPECT_EQ(g_ErrLastText, "E102040");
  EXPECT_EQ(g_FontSlots[0].glyph_bits, nullptr);
  EXPECT_EQ(g_FontSlots[0].font, nullptr);
  // Same request again: the slot is unchanged, so no second attempt and no second error.
  FontMeasureText("B", 20, 20, 0, 1, &w, &h);
  EXPECT_EQ(w, 0);
  EXPECT_EQ(g_FailedCreates, 1);
}

// ---- Measuring with the installed IPA fonts ----------------------------------------------------

struct FontMeasureTest : FontTest {
  void SetUp() override {
    FontTest::SetUp();
    ASSERT_EQ(FontEnumInstalled(), 0);
  }
  void Select(const char* face) { ASSERT_EQ(FontSelectFaceByName(face), 1) << face; }
};

TEST_F(FontMeasureTest, CellAndFontHeightFollowSizeAndSmoothing) {
  Select("IPAGothic");
  i32 w, h;
  FontMeasureText(Sjis("あ").c_str(), 20, 20, 0, 1, &w, &h);
  EXPECT_EQ(g_FontSlots[0].cell_side, 128);
  EXPECT_EQ(g_FontSlots[0].font_height, 80);
  EXPECT_EQ(FontPrepareSlot(20, 20, 0, 80, 128), 0);
  EXPECT_EQ(FontPrepareSlot(20, 20, 1, 80, 128), 1);
  EXPECT_EQ(g_FontSlots[0].font_weight, 700);
  FontMeasureText(Sjis("あ").c_str(), 12, 20, 0, 0, &w, &h);
  EXPECT_EQ(g_FontSlots[0].cell_side, 96);
  EXPECT_EQ(g_FontSlots[0].font_height, 12);
  EXPECT_EQ(g_FontSlots[0].font_weight, 400);
}

TEST_F(FontMeasureTest, FixedPitchFaceGivesWholeAndHalfCells) {
  Select("IPAGothic");
  EXPECT_EQ(FontCurrentPitch(), 0);
  struct {
    const char* ch;
    i32 w, h, ew, eh;
  } kCases[] = {
      {"あ", 20, 20, 20, 20}, {"A", 20, 20, 10, 20},    {"A", 21, 30, 10, 30},
      {"漢", 32, 16, 32, 16}, {"\xB1", 24, 24, 12, 24},  // half-width katakana: one byte
  };
  for (auto c : kCases) {
    i32 w, h;
    std::string ch = c.ch[0] & 0x80 && c.ch[1] ? Sjis(c.ch) : std::string(c.ch);
    FontMeasureText(ch.c_str(), c.w, c.h, 0, 1, &w, &h);
    EXPECT_EQ(w, c.ew) << c.ch;
    EXPECT_EQ(h, c.eh) << c.ch;
    EXPECT_EQ(g_FontSlots[0].measured_width, c.ew);
  }
}

// Cells come back from the glyph cache exactly as rendered, whatever was drawn between, and a
// size, weight, face or character that differs never takes another's cell. The first round
// renders, the second mostly reuses; each cell is checked against a fresh render of its own.
TEST_F(FontMeasureTest, CachedCellsAreTheCellsRendered) {
  struct Case {
    const char* face;
    const char* ch;
    i32 size;
    u32 bold;
    u8 smooth;
  } const cases[] = {
      {"IPAGothic", "あ", 20, 0, 1}, {"IPAGothic", "あ", 20, 1, 1}, {"IPAGothic", "あ", 21, 0, 1},
      {"IPAGothic", "あ", 20, 0, 0}, {"IPAGothic", "い", 20, 0, 1}, {"IPAPGothic", "あ", 20, 0, 1},
      {"IPAPGothic", "W", 32, 0, 1}, {"IPAGothic", "漢", 16, 1, 0},
  };
  for (int round = 0; round < 2; round++) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.face) + " " + c.ch + " " + std::to_string(c.size) + (c.bold ? " bold" : "") +
                   (c.smooth ? " smooth" : " hard") + (round ? " again" : ""));
      Select(c.face);
      const std::string ch = Sjis(c.ch);
      i32 w, h;
      FontMeasureText(ch.c_str(), c.size, c.size, c.bold, c.smooth, &w, &h);
      const FontSlot& s = g_FontSlots[0];
      ASSERT_NE(s.glyph_bits, nullptr);
      std::vector<u8> fresh(static_cast<size_t>(s.glyph_bytes), 0xFF);
      PlatFontDrawChar(s.font, ch.c_str(), static_cast<i32>(ch.size()), fresh.data(), s.cell_side, s.cell_side,
                       s.cell_side / 8);
      EXPECT_EQ(std::memcmp(fresh.data(), s.glyph_bits, fresh.size()), 0);
    }
  }
}

// IPAPGothic 003.03: the expected advances come from the outlines' extents (units of 2048 em,
// cell 80 = 2203 units, so 74 pixels an em) as x_max / 4 + 4; hinting may move an edge by one.
TEST_F(FontMeasureTest, ProportionalFaceMeasuresInkWithinOnePixel) {
  Select("IPAPGothic");
  EXPECT_EQ(FontCurrentPitch(), 1);
  struct {
    const char* ch;
    u8 smooth;
    i32 ew, eh;
  } kCases[] = {
      {"i", 1, 7, 20},    // xMax 377 -> 13.6 px
      {"A", 1, 15, 20},   // xMax 1298 -> 46.9 px
      {".", 1, 7, 20},    // xMax 379 -> 13.7 px
      {"_", 1, 13, 18},   // xMax 1024 -> 37 px; top -138 -> row 70, 128 - 70 = 58
      {"あ", 1, 19, 20},  // xMax 1743 -> 63 px
      {"。", 1, 9, 20},   // xMax 643 -> 23.2 px
      {"W", 1, 20, 20},   // xMax 1884 -> 68 px, capped by the glyph width
      {"あ", 0, 8, 20},   // hard: 19 px an em, xMax -> 16 px, still divided by 4
  };
  for (auto c : kCases) {
    i32 w, h;
    FontMeasureText(Sjis(c.ch).c_str(), 20, 20, 0, c.smooth, &w, &h);
    EXPECT_NEAR(w, c.ew, 1) << c.ch << " smooth " << int(c.smooth);
    EXPECT_NEAR(h, c.eh, 1) << c.ch << " smooth " << int(c.smooth);
  }
}

TEST_F(FontMeasureTest, SizesOutsideTheCellsMeasureNothing) {
  Select("IPAPGothic");
  struct {
    i32 w, h;
  } kCases[] = {{-1, 20}, {257, 20}, {20, -1}, {20, 257}};
  for (auto c : kCases) {
    i32 w = -1, h = -1;
    FontMeasureText("A", c.w, c.h, 0, 1, &w, &h);
    EXPECT_EQ(w, 0);
    EXPECT_EQ(h, 0);
  }
  i32 w = -1, h = -1;
  FontMeasureText("A", 0, 0, 0, 1, &w, &h);
  EXPECT_EQ(w, 0);
  EXPECT_EQ(h, 0);
  EXPECT_EQ(g_FontSlots[0].cell_side, 64);
}

TEST_F(FontMeasureTest, InfoMeasuresWithTheMessageFont) {
  Select("IPAGothic");
  FontMessageFont msg = {24, 26, 0, 0, 0, 0, 0, 0, 1};
  std::string text = Sjis("Aあ");
  CmdArgRecord a = Args();
  Give(&a, 14, 1);
  a.given[17] = 1;
  a.str[17] = text.c_str();
  FontInfoValue v;
  ASSERT_EQ(FontInfoQuery(&a, &msg, &v), 0);
  EXPECT_EQ(v.number, 12) << "first character only, half a fixed-pitch cell";
  a.given[14] = 0;
  Give(&a, 15, 1);
  ASSERT_EQ(FontInfoQuery(&a, &msg, &v), 0);
  EXPECT_EQ(v.number, 26);
  a.str[17] = "";
  ASSERT_EQ(FontInfoQuery(&a, &msg, &v), 0);
  EXPECT_EQ(v.number, 0);
}

TEST_F(FontMeasureTest, WindowsFaceNamesSelectTheIpaFaces) {
  struct {
    const char* ask;
    const char* get;
  } kCases[] = {
      {"ＭＳ ゴシック", "IPAGothic"}, {"MS Gothic", "IPAGothic"},     {"ＭＳ Ｐゴシック", "IPAPGothic"},
      {"MS PGothic", "IPAPGothic"},   {"MS UI Gothic", "IPAPGothic"}, {"ＭＳ 明朝", "IPAMincho"},
      {"MS Mincho", "IPAMincho"},     {"ＭＳ Ｐ明朝", "IPAPMincho"},  {"MS PMincho", "IPAPMincho"},
      {"メイリオ", "IPAPGothic"},     {"Meiryo", "IPAPGothic"},
  };
  for (auto c : kCases) {
    ASSERT_EQ(FontSelectFaceByName(Sjis(c.ask).c_str()), 1) << c.ask;
    EXPECT_STREQ(FontFaceName(FontCurrentFace()), c.get) << c.ask;
  }
  // The default face of every slot is the first preferred one: Gothic.
  EXPECT_STREQ(FontFaceName(g_FontSlots[4].face), "IPAGothic");
}
