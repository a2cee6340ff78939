#include <gtest/gtest.h>

#include <zlib.h>

#include <functional>

#include "image_test_decode.h"
#include "image_test_files.h"
#include "kit/zcg_writer.h"

namespace {

struct ImageZcgTest : ::testing::Test {
  void SetUp() override { ImageReset(); }
  void TearDown() override { ImageReset(); }
};

void Put32(std::vector<u8>* f, size_t at, u32 v) {
  for (int i = 0; i < 4; i++) (*f)[at + i] = static_cast<u8>(v >> (8 * i));
}
u32 Get32(const std::vector<u8>& f, size_t at) { return f[at] | f[at + 1] << 8 | f[at + 2] << 16 | f[at + 3] << 24; }

std::vector<u8> Encode(const std::vector<u8>& px, i32 w, i32 h, u32 method, u64 split) {
  std::vector<u8> f;
  EXPECT_EQ(KitZcgEncode(px.data(), w, h, method, split, &f), 0);
  return f;
}

TEST_F(ImageZcgTest, BothMethodsAnySplitAndBothInflateHooksGiveThePixels) {
  const i32 w = 37, h = 11;
  const u64 bytes = w * h * 4;
  std::vector<u8> px = TestPattern(bytes, 9);
  struct Way {
    u32 method;
    u64 split;
  } ways[] = {{0, 0}, {1, 0}, {1, 1}, {1, bytes / 2}, {1, 777}, {1, bytes - 1}, {1, bytes}, {1, bytes * 3}};
  for (ImageInflatePairFn hook : {ImageInflatePairHere, ImageInflatePairThreaded}) {
    g_ImageInflatePair = hook;
    for (const Way& way : ways) {
      TestDecoded d = TestDecode(0, Encode(px, w, h, way.method, way.split), ImageDecodeZcg);
      ASSERT_EQ(d.result, 0) << way.method << "/" << way.split << d.shown;
      EXPECT_EQ(d.width, w);
      EXPECT_EQ(d.height, h);
      EXPECT_EQ(d.has_alpha, 1);
      EXPECT_EQ(d.pixels, px) << way.method << "/" << way.split;
      EXPECT_EQ(d.shown, "");
    }
  }
}

TEST_F(ImageZcgTest, WrongMagicIsReportedAndStillLoads) {
  std::vector<u8> px = TestPattern(8, 1);
  std::vector<u8> f = Encode(px, 2, 1, 1, 3);
  f[0] = 'P';
  TestDecoded d = TestDecode(0, f, ImageDecodeZcg);
  EXPECT_EQ(d.result, 0);
  EXPECT_EQ(d.pixels, px);
  EXPECT_NE(d.shown.find("File Check Error."), std::string::npos);
}

TEST_F(ImageZcgTest, DamagedFilesFailBeforeDecoding) {
  const i32 w = 6, h = 5;
  std::vector<u8> px = TestPattern(w * h * 4, 3);
  struct Case {
    const char* what;
    u32 method;
    std::function<void(std::vector<u8>*)> damage;
    const char* message;  // the message box, or null for a numbered error
    i32 error;
  } cases[] = {
      {"header cut", 0, [](auto* f) { f->resize(55); }, "File Check Error.", 0},
      {"width 0", 0, [](auto* f) { Put32(f, 4, 0); }, nullptr, IMAGE_ERR_TOO_LARGE},
      {"width 8193", 0, [](auto* f) { Put32(f, 4, 8193); }, nullptr, IMAGE_ERR_TOO_LARGE},
      {"height 8193", 1, [](auto* f) { Put32(f, 8, 8193); }, nullptr, IMAGE_ERR_TOO_LARGE},
      {"negative height", 1, [](auto* f) { Put32(f, 8, 0xFFFFFFFF); }, nullptr, IMAGE_ERR_TOO_LARGE},
      {"method 2", 0, [](auto* f) { Put32(f, 16, 2); }, "File Check Error.", 0},
      {"raw pixels cut", 0, [](auto* f) { f->pop_back(); }, "File Check Error.", 0},
      {"raw pixels of a larger picture", 0, [](auto* f) { Put32(f, 4, 7); }, "File Check Error.", 0},
      {"inflated size of part 2 too small", 1, [](auto* f) { Put32(f, 48, Get32(*f, 48) - 4); },
       "Uncompress Status Error 2.", 0},
      {"inflated sizes too large", 1, [](auto* f) { Put32(f, 32, Get32(*f, 32) + 4); }, "File Check Error.", 0},
      {"inflated sizes wrap", 1, [](auto* f) { Put32(f, 32, 0xFFFFFF00), Put32(f, 48, 0x100 + 6 * 5 * 4); },
       "File Check Error.", 0},
      {"stored parts past the end", 1, [](auto* f) { f->pop_back(); }, "File Check Error.", 0},
      {"stored size wraps", 1, [](auto* f) { Put32(f, 52, 0xFFFFFFFF); }, "File Check Error.", 0},
      {"part 1 damaged", 1, [](auto* f) { (*f)[58] ^= 0x55; }, "Uncompress Status Error 1.", 0},
      {"part 2 damaged", 1, [](auto* f) { f->back() ^= 0x55; }, "Uncompress Status Error 2.", 0},
      {"part 1 shorter than declared, part 2 then too large", 1,
       [](auto* f) { Put32(f, 32, Get32(*f, 32) + 4), Put32(f, 48, Get32(*f, 48) - 4); }, "Uncompress Status Error 2.",
       0},
      {"part 1 longer than declared", 1,
       [](auto* f) { Put32(f, 32, Get32(*f, 32) - 4), Put32(f, 48, Get32(*f, 48) + 4); }, "Uncompress Status Error 1.",
       0},
  };
  for (ImageInflatePairFn hook : {ImageInflatePairHere, ImageInflatePairThreaded}) {
    g_ImageInflatePair = hook;
    for (const Case& c : cases) {
      std::vector<u8> f = Encode(px, w, h, c.method, 50);
      c.damage(&f);
      TestDecoded d = TestDecode(0, f, ImageDecodeZcg);
      EXPECT_NE(d.result, 0) << c.what;
      EXPECT_EQ(d.error, c.error) << c.what << d.shown;
      if (c.message) {
        EXPECT_NE(d.shown.find(c.message), std::string::npos) << c.what << d.shown;
      }
      if (!c.message || std::string(c.message) == "File Check Error.") {
        EXPECT_TRUE(d.same_buffer && d.width == 2 && d.height == 3) << c.what;
      }
    }
  }
}

// A part that inflates to fewer bytes than its header declares loads: part 2's bytes follow right
// behind what part 1 gave, and what neither part fills is transparent black. The same on the
// calling thread and with part 2 on a thread of its own (declared at its header's place).
TEST_F(ImageZcgTest, PartsThatInflateShortLoadWithTheRestCleared) {
  const i32 w = 6, h = 5;
  const std::vector<u8> px = TestPattern(w * h * 4, 8);
  auto bytes = [&](size_t from, size_t to) { return std::vector<u8>(px.begin() + from, px.begin() + to); };
  struct Case {
    const char* what;
    std::vector<u8> part1;
    u32 declared1;
    std::vector<u8> part2;
    u32 declared2;
  } const cases[] = {
      {"part 1 short", bytes(0, 32), 40, bytes(40, 120), 80},
      {"part 2 short", bytes(0, 40), 40, bytes(40, 100), 80},
      {"both short", bytes(0, 10), 40, bytes(40, 60), 80},
      {"part 1 empty", {}, 40, bytes(40, 120), 80},
      {"sizes below the picture", bytes(0, 30), 30, bytes(30, 60), 30},
  };
  for (ImageInflatePairFn hook : {ImageInflatePairHere, ImageInflatePairThreaded}) {
    g_ImageInflatePair = hook;
    for (const Case& c : cases) {
      TestDecoded d = TestDecode(0, TestZcgTwoParts(w, h, c.part1, c.declared1, c.part2, c.declared2), ImageDecodeZcg);
      ASSERT_EQ(d.result, 0) << c.what << d.shown;
      std::vector<u8> want = c.part1;
      want.insert(want.end(), c.part2.begin(), c.part2.end());
      want.resize(px.size(), 0);
      EXPECT_EQ(d.pixels, want) << c.what;
      EXPECT_EQ(d.shown, "") << c.what;
    }
  }
  // Declared sizes above the picture stay refused.
  TestDecoded d = TestDecode(0, TestZcgTwoParts(w, h, bytes(0, 40), 44, bytes(40, 120), 80), ImageDecodeZcg);
  EXPECT_NE(d.result, 0);
  EXPECT_NE(d.shown.find("File Check Error."), std::string::npos);
}

TEST_F(ImageZcgTest, EveryTruncationFailsCleanly) {
  std::vector<u8> px = TestPattern(4 * 3 * 4, 4);
  for (u32 method : {0u, 1u}) {
    std::vector<u8> f = Encode(px, 4, 3, method, 20);
    for (size_t n = 0; n < f.size(); n++)
      ASSERT_NE(TestDecode(0, std::vector<u8>(f.begin(), f.begin() + n), ImageDecodeZcg).result, 0) << n;
  }
}

TEST_F(ImageZcgTest, WriterRefusesWhatNoReaderTakes) {
  std::vector<u8> px(16), out;
  EXPECT_EQ(KitZcgEncode(px.data(), 0, 1, 0, 0, &out), -1);
  EXPECT_EQ(KitZcgEncode(px.data(), 8193, 1, 0, 0, &out), -1);
  EXPECT_EQ(KitZcgEncode(px.data(), 2, 2, 2, 0, &out), -1);
  EXPECT_TRUE(out.empty());
  ASSERT_EQ(KitZcgEncode(px.data(), 2, 2, 1, 99, &out), 0);
  EXPECT_EQ(Get32(out, 32), 16u);  // the split is at most the whole picture
  EXPECT_EQ(Get32(out, 48), 0u);
  EXPECT_EQ(Get32(out, 36) + Get32(out, 52) + 56, out.size());
}

}  // namespace
