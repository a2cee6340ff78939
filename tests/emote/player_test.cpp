// The player library through its entry points: curves, motions that loop and end, timelines with
// their fades, variables moved over time, the reader's refusal of damaged files, and a known part
// layout drawn on the GL device (llvmpipe) against a CPU reference.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "../support/emote_model.h"
#include "emote/emote_api.h"
#include "emote/player.h"
#include "platform/gpu.h"

namespace {

template <class F>
F Fn(unsigned n) {
  void* p = ZephraEmoteProc(n);
  EXPECT_NE(p, nullptr) << "ordinal " << n;
  return reinterpret_cast<F>(p);
}

struct PlayerTest : ::testing::Test {
  EmoteDevice device{};
  void* driver = nullptr;
  void* h = nullptr;

  void SetUp() override {
    void* block[3] = {&device, nullptr, nullptr};
    driver = Fn<EmoteFn2>(2)(block);
    ASSERT_NE(driver, nullptr);
  }
  void TearDown() override {
    if (h) Fn<EmoteFnH>(202)(h);
    Fn<EmoteFnD>(102)(driver);
  }
  void Create(const std::vector<u8>& bytes) {
    Fn<EmoteFn119>(119)(driver, bytes.data(), static_cast<u32>(bytes.size()), &h);
    ASSERT_NE(h, nullptr);
    Fn<EmoteFnH>(205)(h);
  }
  float Get(const char* name) { return Fn<EmoteFnHGet>(234)(h, name); }
  void Advance(float frames) { Fn<EmoteFnHFloat>(254)(h, frames); }
};

TEST(EmoteCurve, LinearBetweenKeysAndHeldOutside) {
  EmoteModel m;
  m.keys = {{0, 10}, {10, 20}, {10, 50}, {20, 0}};
  EmoteCurve c{0, 4};
  struct Case {
    float x, want;
  } cases[] = {{-5, 10}, {0, 10}, {5, 15}, {9.5f, 19.5f}, {10, 50}, {15, 25}, {20, 0}, {99, 0}};
  for (const Case& k : cases) EXPECT_FLOAT_EQ(EmoteCurveAt(m, c, k.x), k.want) << k.x;
  EXPECT_EQ(EmoteCurveAt(m, EmoteCurve{0, 0}, 3), 0.0f);
}

TEST_F(PlayerTest, MotionsLoopOrEndHoldingTheirLastValue) {
  TestChara c;
  c.Var("once", 0).Var("loop", 0).Part("p", -1, 0, 0, 1, 1, 0xFF000000u);
  c.Clip("m1", EMOTE_CLIP_MOTION, 10, 0).Track(0, {{0, 0}, {10, 1}});
  c.Clip("m2", EMOTE_CLIP_MOTION, 10, EMOTE_CLIP_LOOP).Track(1, {{0, 0}, {10, 1}});
  Create(c.Bytes());
  Fn<EmoteFnHStart>(245)(h, "m1", 1);
  Fn<EmoteFnHStart>(245)(h, "m2", 1);
  Advance(5);
  EXPECT_FLOAT_EQ(Get("once"), 0.5f);
  EXPECT_FLOAT_EQ(Get("loop"), 0.5f);
  EXPECT_EQ(Fn<EmoteFnHAskName>(244)(h, "m1"), 1);
  Advance(10);  // m1 has ended at 10, m2 is at 15 = 5
  EXPECT_EQ(Fn<EmoteFnHAskName>(244)(h, "m1"), 0);
  EXPECT_FLOAT_EQ(Get("once"), 1.0f) << "an ended motion leaves its last value";
  EXPECT_FLOAT_EQ(Get("loop"), 0.5f);
  EXPECT_EQ(Fn<EmoteFnHAsk>(252)(h), 1) << "the looping motion still plays";
  Fn<EmoteFnHName0>(247)(h, "m2");
  EXPECT_EQ(Fn<EmoteFnHAsk>(252)(h), 0);
  EXPECT_EQ(Fn<EmoteFnHAsk>(255)(h), 0) << "nothing moves any more";
  // Time stands still while the switch is off, and runs at the speed value.
  Fn<EmoteFnHStart>(245)(h, "m2", 1);
  Fn<EmoteFnHInt>(212)(h, 0);
  Advance(4);
  EXPECT_FLOAT_EQ(Get("loop"), 0.0f);
  Fn<EmoteFnHInt>(212)(h, 1);
  Fn<EmoteFnHFloat>(216)(h, 0.5f);
  Advance(4);
  EXPECT_FLOAT_EQ(Get("loop"), 0.2f);
}

TEST_F(PlayerTest, TimelinesBlendByTheirWeightAndFadeOut) {
  Create(TestCharaBasic().Bytes());
  EXPECT_EQ(Fn<EmoteFnHAskName>(246)(h, ""), 0);
  Fn<EmoteFnHStart>(245)(h, "tl", 3);
  EXPECT_FLOAT_EQ(Get("t"), 1.0f) << "a started timeline shows whole";
  Fn<EmoteFnHFade>(248)(h, "tl", 0.5f, 10, 0, 0);
  Advance(5);
  EXPECT_FLOAT_EQ(Get("t"), 0.75f) << "half-way through the fade";
  Advance(5);
  EXPECT_FLOAT_EQ(Get("t"), 0.5f);
  EXPECT_EQ(Fn<EmoteFnHAskName>(246)(h, "tl"), 1);
  EXPECT_EQ(Fn<EmoteFnHAskName>(246)(h, ""), 1);
  EXPECT_EQ(Fn<EmoteFnHAsk>(252)(h), 0) << "a timeline is no motion";
  Fn<EmoteFnHStopTl>(251)(h, "tl", 4, 0);
  Advance(2);
  EXPECT_FLOAT_EQ(Get("t"), 0.25f);
  EXPECT_EQ(Fn<EmoteFnHAskName>(246)(h, "tl"), 1) << "still fading out";
  Advance(2);
  EXPECT_EQ(Fn<EmoteFnHAskName>(246)(h, "tl"), 0);
  EXPECT_FLOAT_EQ(Get("t"), 0.0f);
}

TEST_F(PlayerTest, VariablesMoveOverTimeAndResetRestoresDefaults) {
  Create(TestCharaBasic().Bytes());
  ASSERT_EQ(Fn<EmoteFnHCount>(228)(h), 4u);
  EXPECT_STREQ(Fn<EmoteFnHName>(229)(h, 1), "b");
  EXPECT_EQ(Fn<EmoteFnHName>(229)(h, 4), nullptr);
  Fn<EmoteFnHSet>(233)(h, "a", 1.5f, 10, 0);
  EXPECT_EQ(Fn<EmoteFnHAsk>(255)(h), 1);
  Advance(4);
  EXPECT_FLOAT_EQ(Get("a"), 0.9f);
  Advance(100);
  EXPECT_FLOAT_EQ(Get("a"), 1.5f);
  Fn<EmoteFnHSet>(233)(h, "b", -2, 0, 0);
  EXPECT_FLOAT_EQ(Get("b"), -2.0f);
  Fn<EmoteFnHSet>(233)(h, "nope", 3, 0, 0);
  EXPECT_FLOAT_EQ(Get("nope"), 0.0f);
  Fn<EmoteFnH>(253)(h);
  EXPECT_FLOAT_EQ(Get("a"), 0.5f);
  EXPECT_FLOAT_EQ(Get("b"), 1.0f);
}

TEST(EmotePsb, DamagedFilesAreRefused) {
  TestChara c = TestCharaBasic();
  c.Part("child", 0, 1, 1, 2, 2, 0x80FFFFFFu).Bind(1, EMOTE_PROP_SCALE, 0, {{0, 1}, {1, 2}});
  const std::vector<u8> good = c.Bytes();
  EmoteModel m;
  ASSERT_EQ(EmotePsbRead(good.data(), good.size(), &m), 0);
  EXPECT_EQ(m.parts[1].parent, 0);
  auto put = [](std::vector<u8> b, size_t at, u32 v) {
    std::memcpy(&b[at], &v, 4);
    return b;
  };
  const size_t parts = EMOTE_PSB_HEADER + 4 * EMOTE_PSB_VAR;
  const size_t part1 = parts + EMOTE_PSB_PART;
  const size_t binds = parts + 2 * EMOTE_PSB_PART;
  const size_t keys = binds + EMOTE_PSB_BIND + 2 * EMOTE_PSB_CLIP + 2 * EMOTE_PSB_TRACK;
  struct Case {
    const char* what;
    std::vector<u8> bytes;
  } cases[] = {
      {"version", put(good, 4, 2)},
      {"variable count", put(good, 16, 5)},
      {"huge part count", put(good, 20, 0xFFFFFFFFu)},
      {"pixel area", put(good, 44, 0)},
      {"parent after child", put(good, part1 + 4, 1)},
      {"parent below -1", put(good, part1 + 4, 0xFFFFFFFEu)},
      {"part too wide", put(good, part1 + 24, 5000)},
      {"pixels past the area", put(good, part1 + 32, 0xFFFFFFF0u)},
      {"name past the strings", put(good, parts, 0x7FFFFFFF)},
      {"binding property", put(good, binds + 4, EMOTE_PROP_COUNT)},
      {"binding keys past the pool", put(good, binds + 16, 0x40000000u)},
      {"keys out of order", put(good, keys, 0x42C80000u)},  // 100.0 before 60.0
      {"not a number", put(good, keys + 8, 0x7FC00000u)},
      {"one byte more",
       [&] {
         auto b = good;
         b.push_back(0);
         return b;
       }()},
  };
  for (const Case& k : cases) EXPECT_EQ(EmotePsbRead(k.bytes.data(), k.bytes.size(), &m), -1) << k.what;
  for (size_t n = 0; n < good.size(); n += 7) EXPECT_EQ(EmotePsbRead(good.data(), n, &m), -1) << n;
}

// ---- Drawing --------------------------------------------------------------------------------------

struct DrawCase {
  const char* what;
  float scale, pos_x, pos_y, opacity;
  u32 colour;  // ordinal 226
};

struct EmoteDrawTest : PlayerTest {
  PlatGpuDisplay* display = nullptr;
  PlatGpuTexture* target = nullptr;
  static constexpr i32 W = 64, H = 48;

  void SetUp() override {
    display = PlatGpuDisplayOpen();
    if (!display) GTEST_SKIP() << "no EGL display";
    ASSERT_EQ(PlatGpuDeviceCreate(display, 0), 0);
    target = PlatGpuTextureCreate(W, H, PLAT_GPU_RGBA8);
    ASSERT_NE(target, nullptr);
    PlayerTest::SetUp();
    // The character's origin at the target's top-left pixel corner; y down on the screen.
    auto identity = [](float* m) {
      std::memset(m, 0, 16 * sizeof(float));
      m[0] = m[5] = m[10] = m[15] = 1;
    };
    identity(device.world);
    identity(device.view);
    identity(device.projection);
    device.world[12] = -W / 2.0f;
    device.world[13] = -H / 2.0f;
    device.view[5] = -1;
    device.projection[0] = 2.0f / W;
    device.projection[5] = -2.0f / H;
  }
  void TearDown() override {
    if (!display) return;
    PlayerTest::TearDown();
    PlatGpuTextureRelease(target);
    PlatGpuDeviceRelease();
    PlatGpuDisplayClose(display);
  }
  std::vector<u8> Draw() {
    EXPECT_EQ(PlatGpuSetTarget(target), 0);
    EXPECT_EQ(PlatGpuClear(0x00808080u), 0);
    Fn<EmoteFn121>(121)(driver, PlatGpuTextureName(target));
    Fn<EmoteFnH>(256)(h);
    PlatGpuBuffer* b = PlatGpuBufferCreate(W, H);
    EXPECT_EQ(PlatGpuBufferFill(b, target), 0);
    i32 pitch = 0;
    const u8* rows = PlatGpuBufferLock(b, &pitch);
    std::vector<u8> out(static_cast<size_t>(W) * H * 4);
    for (i32 y = 0; y < H && rows; y++) std::memcpy(&out[static_cast<size_t>(y) * W * 4], rows + y * pitch, W * 4);
    PlatGpuBufferUnlock(b);
    PlatGpuBufferRelease(b);
    return out;
  }
};

// Parts: A 10 x 6 opaque at (4, 4); B its child, 4 x 4 half-transparent at (2, 1) from A's
// origin; C hidden by its visibility curve.
struct RefPart {
  i32 x, y, w, h;
  u8 b, g, r, a;
};
const RefPart kParts[] = {{4, 4, 10, 6, 0x20, 0x40, 0xC0, 255}, {6, 5, 4, 4, 0xF0, 0x10, 0x10, 0x80}};

TEST_F(EmoteDrawTest, KnownLayoutMatchesTheCpuReference) {
  TestChara c;
  c.Var("hide", 1);
  c.Part("A", -1, 4, 4, 10, 6, 0xFFC04020u)
      .Part("B", 0, 2, 1, 4, 4, 0x801010F0u)
      .Part("C", -1, 20, 20, 3, 3, 0xFFFFFFFFu);
  c.Bind(2, EMOTE_PROP_VISIBLE, 0, {{0, 1}, {1, 0}});
  Create(c.Bytes());
  Fn<EmoteFnHByte>(208)(h, 0);  // nearest: edges fall on whole pixels
  const DrawCase cases[] = {
      {"plain", 1, 0, 0, 1, 0x808080FFu},
      {"moved (y up) and doubled", 2, 5, -3, 1, 0x808080FFu},
      {"half opacity, red halved", 1, 0, 0, 0.5f, 0x408080FFu},
  };
  for (const DrawCase& k : cases) {
    SCOPED_TRACE(k.what);
    Fn<EmoteFnHFloat3>(222)(h, k.scale, 0, 0);
    Fn<EmoteFnHFloat4>(220)(h, k.pos_x, k.pos_y, 0, 0);
    Fn<EmoteFnHFloat>(214)(h, k.opacity);
    Fn<EmoteFnHColour>(226)(h, k.colour, 0, 0);
    const std::vector<u8> got = Draw();
    const float mul[3] = {static_cast<float>((k.colour >> 8) & 255) / 128.0f,
                          static_cast<float>((k.colour >> 16) & 255) / 128.0f,
                          static_cast<float>((k.colour >> 24) & 255) / 128.0f};  // B, G, R
    int bad = 0;
    for (i32 y = 0; y < H; y++)
      for (i32 x = 0; x < W; x++) {
        float px[4] = {128, 128, 128, 0};
        const float qx = (static_cast<float>(x) + 0.5f - k.pos_x) / k.scale;
        const float qy = (static_cast<float>(y) + 0.5f + k.pos_y) / k.scale;
        for (const RefPart& p : kParts) {
          if (qx < static_cast<float>(p.x) || qx >= static_cast<float>(p.x + p.w) || qy < static_cast<float>(p.y) ||
              qy >= static_cast<float>(p.y + p.h))
            continue;
          const float a = static_cast<float>(p.a) / 255.0f * k.opacity;
          const u8 src[3] = {p.b, p.g, p.r};
          for (int ch = 0; ch < 3; ch++) {
            const float s = std::fmin(static_cast<float>(src[ch]) * mul[ch], 255.0f);
            px[ch] = s * a + px[ch] * (1 - a);
          }
          px[3] = a * 255 + px[3] * (1 - a);
        }
        for (int ch = 0; ch < 4; ch++) {
          const int g = got[(static_cast<size_t>(y) * W + x) * 4 + ch];
          if (std::abs(g - static_cast<int>(std::lround(px[ch]))) > 2 && bad++ < 5)
            ADD_FAILURE() << "pixel " << x << "," << y << " channel " << ch << ": " << g << " vs " << px[ch];
        }
      }
    EXPECT_EQ(bad, 0);
  }
}

}  // namespace
