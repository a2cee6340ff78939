// zpkit psb: a description with PNG parts becomes a character the runtime's reader takes whole,
// and a faulty description is refused with its line.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "emote/psb.h"
#include "kit/psb_writer.h"
#include "layer/image_write.h"

namespace fs = std::filesystem;

namespace {

void WritePng(const fs::path& p, i32 w, i32 h, u32 bgra) {
  std::vector<u32> px(static_cast<size_t>(w) * h, bgra);
  ImagePngFormat fmt{-1, 1, 0, 0};
  ImageOutBuffer out{};
  ASSERT_EQ(ImagePngEncode(reinterpret_cast<const u8*>(px.data()), w, h, &fmt, &out), 0);
  std::ofstream(p, std::ios::binary)
      .write(reinterpret_cast<const char*>(out.data), static_cast<std::streamsize>(out.size));
  ImageOutFree(&out);
}

struct PsbWriterTest : ::testing::Test {
  fs::path dir;
  void SetUp() override {
    dir =
        fs::temp_directory_path() / ("zephra-psb-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                                     "-" + std::to_string(reinterpret_cast<uintptr_t>(this)));
    fs::create_directories(dir);
    WritePng(dir / "body.png", 6, 4, 0xFF2040C0u);
    WritePng(dir / "eyes.png", 3, 2, 0x80102030u);
  }
  void TearDown() override { fs::remove_all(dir); }
  int Write(const std::string& text, std::string* err) {
    std::ofstream(dir / "c.txt") << text;
    return KitPsbWriteFile((dir / "c.txt").string(), (dir / "c.psb").string(), err);
  }
};

TEST_F(PsbWriterTest, DescriptionBecomesACharacterTheReaderTakes) {
  std::string err;
  ASSERT_EQ(Write("canvas 100 200\nvar breath 0\nvar blink 0.25  # default\n"
                  "part body body.png - 0 0 3 4\npart eyes eyes.png body 0 -3 1.5 1\n"
                  "bind body scale breath 0:1 1:1.03\nbind eyes visible blink 0.49:1 0.5:0\n"
                  "clip motion idle 150 loop auto\ntrack breath 0:0 75:1 150:0\n"
                  "clip timeline look 40\ntrack blink 0:0 40:1\n",
                  &err),
            0)
      << err;
  std::ifstream in(dir / "c.psb", std::ios::binary);
  std::vector<u8> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EmoteModel m;
  ASSERT_EQ(EmotePsbRead(bytes.data(), bytes.size(), &m), 0);
  EXPECT_EQ(m.canvas_h, 200);
  ASSERT_EQ(m.var_names.size(), 2u);
  EXPECT_FLOAT_EQ(m.var_defaults[1], 0.25f);
  ASSERT_EQ(m.parts.size(), 2u);
  EXPECT_EQ(m.parts[1].parent, 0);
  EXPECT_FLOAT_EQ(m.parts[1].pivot_x, 1.5f);
  EXPECT_EQ(m.parts[1].width, 3u);
  EXPECT_EQ(m.parts[1].pixels[5], 0x80102030u) << "the picture's own pixels, alpha kept";
  ASSERT_EQ(m.bindings.size(), 2u);
  EXPECT_EQ(m.bindings[1].prop, static_cast<u32>(EMOTE_PROP_VISIBLE));
  EXPECT_FLOAT_EQ(EmoteCurveAt(m, m.bindings[0].curve, 0.5f), 1.015f);
  ASSERT_EQ(m.clips.size(), 2u);
  EXPECT_EQ(m.clips[0].flags, static_cast<u32>(EMOTE_CLIP_LOOP | EMOTE_CLIP_AUTOSTART));
  EXPECT_EQ(m.clips[1].kind, static_cast<u32>(EMOTE_CLIP_TIMELINE));
  ASSERT_EQ(m.clips[1].tracks.size(), 1u);
  EXPECT_EQ(m.clips[1].tracks[0].var, 1u);
}

TEST_F(PsbWriterTest, FaultsNameTheirLine) {
  struct Case {
    const char* text;
    const char* want;
  } cases[] = {
      {"var a 0\npart p body.png nobody 0 0 0 0\n", "line 2"},
      {"part p missing.png - 0 0 0 0\n", "cannot read missing.png"},
      {"var a 0\npart p body.png - 0 0 0 0\nbind p wobble a 0:1\n", "line 3"},
      {"var a 0\ntrack a 0:1\n", "line 2"},
      {"var a 0\nclip motion m 10\ntrack a 5:1 2:0\n", "rule of the format"},  // keys out of order
      {"spin 3\n", "unknown statement"},
  };
  for (const Case& c : cases) {
    std::string err;
    EXPECT_EQ(Write(c.text, &err), -1) << c.text;
    EXPECT_NE(err.find(c.want), std::string::npos) << c.text << ": " << err;
  }
}

}  // namespace
