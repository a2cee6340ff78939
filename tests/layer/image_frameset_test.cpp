// JPEG frame sets through commands 107 to 109 (frames_load, frames_free, frames_info) on sets
// written by the kit: clamped frame numbers, frames of two sizes, the three alpha flags, alpha
// pictures of another size, damaged frames, and tables that do not fit their file.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "kit/frameset_writer.h"
#include "layer/image.h"
#include "layer/image_frameset.h"
#include "layer/layer.h"
#include "layer_cmd_fixture.h"
#include "platform/platform.h"

namespace {

struct Pic {
  i32 w, h;
  std::vector<u8> bgra;
};

// Colour gradients with an alpha that is 0 in a band on the left and 255 elsewhere.
Pic MakePic(i32 w, i32 h, u32 seed) {
  Pic p{w, h, std::vector<u8>(static_cast<size_t>(w) * h * 4)};
  for (i32 y = 0; y < h; y++)
    for (i32 x = 0; x < w; x++) {
      u8* d = p.bgra.data() + (static_cast<size_t>(y) * w + x) * 4;
      d[0] = static_cast<u8>(x * 5 + seed * 40);
      d[1] = static_cast<u8>(y * 9 + seed * 10);
      d[2] = static_cast<u8>(200 - x - y + seed);
      d[3] = x < w / 3 ? 0 : static_cast<u8>(255 - seed);
    }
  return p;
}

KitFrame Frame(const Pic& p, bool alpha, const Pic* alpha_pic = nullptr) {
  KitFrame f;
  f.colour = KitJpegEncode(p.bgra.data(), p.w, p.h, false, 90);
  if (alpha) {
    const Pic& a = alpha_pic ? *alpha_pic : p;
    f.alpha = KitJpegEncode(a.bgra.data(), a.w, a.h, true, 90);
  }
  return f;
}

// What the engine's own JPEG decoder gives for a stream (B, G, R, 255).
std::vector<u8> Decoded(const std::vector<u8>& jpeg, i32* w = nullptr, i32* h = nullptr) {
  ImagePicture pic{};
  EXPECT_EQ(ImageDecodeJpeg(jpeg.data(), static_cast<u32>(jpeg.size()), "ref", &pic), 0);
  std::vector<u8> out(pic.pixels, pic.pixels + static_cast<size_t>(pic.width) * pic.height * 4);
  if (w) *w = pic.width;
  if (h) *h = pic.height;
  std::free(pic.pixels);
  return out;
}

// The frame as the layer must show it: the colour picture, its alpha bytes from the grey
// picture where both have pixels (when decode_alpha), 255 elsewhere.
std::vector<u8> Expected(const KitFrame& f, bool decode_alpha) {
  i32 w = 0, h = 0, aw = 0, ah = 0;
  std::vector<u8> px = Decoded(f.colour, &w, &h);
  if (!decode_alpha || f.alpha.empty()) return px;
  std::vector<u8> a = Decoded(f.alpha, &aw, &ah);
  for (i32 y = 0; y < std::min(h, ah); y++)
    for (i32 x = 0; x < std::min(w, aw); x++)
      px[(static_cast<size_t>(y) * w + x) * 4 + 3] = a[(static_cast<size_t>(y) * aw + x) * 4];
  return px;
}

std::string Sjis(const char* utf8) { return PlatUtf8ToSjis(utf8); }

struct FrameSetTest : LayerCmdTest {
  void Use(const std::string& script) {
    Load(script);
    TestErrTextsWithArgs({100010, 101250});
  }
  LayerRecord* Rec() { return LayerOf(Node("W0/f")); }
  std::vector<u8> Shown() {
    LayerRecord* r = Rec();
    return std::vector<u8>(r->pixels, r->pixels + static_cast<size_t>(r->width) * r->height * 4);
  }
};

}  // namespace

TEST_F(FrameSetTest, FramesOfTwoSizesClampedNumbersInfoAndRelease) {
  const Pic a = MakePic(24, 16, 0), b = MakePic(40, 9, 1), c = MakePic(24, 16, 2);
  std::vector<KitFrame> frames = {Frame(a, true), Frame(b, true), Frame(c, true)};
  const i32 values[3] = {-7, 123, 1 << 30};
  AddFile("anim\\set.zfs", 0, KitFrameSetEncode(frames, 1, values));
  const i32 other_values[3] = {5, 6, 7};
  AddFile("other.zfs", 0, KitFrameSetEncode({Frame(a, false)}, 0, other_values));
  Use("global int r\nglobal float fl\n*SYSTEM_START\n"
      "layer name='W0/f', file='', order=1\n"
      "frames_load layer='W0/f', file='Anim/Set.zfs', frame=-3\n"
      "frames_load layer='W0/f', frame=8\n"
      "frames_load layer='W0/f', frame=1\n"
      "frames_info layer='W0/f', count=1, result=r\nframes_info layer='W0/f', head1=1, result=r\n"
      "frames_info layer='W0/f', head2=1, result=r\nframes_info layer='W0/f', head3=1, head1=1, result=fl\n"
      "frames_free layer='W0/f'\nframes_info layer='W0/f', count=1, result=r\n"
      "frames_load layer='W0/f', file='anim/set.zfs'\nframes_load layer='W0/f', file='other.zfs', frame=0\n"
      "frames_info layer='W0/f', head3=1, result=r\nframes_info layer='W0/none', count=1, result=r\n");
  RunAll(0, 1);
  EXPECT_EQ(Rec()->width, 24);
  EXPECT_EQ(Shown(), Expected(frames[0], true)) << "frame -3 shows frame 0";
  EXPECT_EQ(Rec()->has_alpha, 1);
  RunAll(2, 2);
  EXPECT_EQ(Shown(), Expected(frames[2], true)) << "frame 8 shows the last frame";
  Root()->dirty_valid = 0;
  RunAll(3, 3);
  EXPECT_EQ(Rec()->width, 40);
  EXPECT_EQ(Rec()->height, 9);
  EXPECT_EQ(Shown(), Expected(frames[1], true));
  EXPECT_TRUE(Root()->dirty_valid && Root()->dirty_right >= 39 && Root()->dirty_bottom >= 15)
      << "the old and the new area are recomposed";

  const i64 want[] = {3, -7, 123};
  for (u32 i = 0; i < 3; i++) {
    VarSetNumElement(1000, 0, 99);
    RunAll(4 + i, 4 + i);
    EXPECT_EQ(VarGetIntElement(1000, 0), want[i]);
  }
  RunAll(7, 7);
  EXPECT_EQ(VarGetFloatElement(1001, 0), -7.0) << "the first given of count, head1, head2, head3";
  RunAll(8, 9);
  EXPECT_EQ(Rec()->frame_set, nullptr);
  EXPECT_EQ(VarGetIntElement(1000, 0), 0);
  EXPECT_EQ(Rec()->width, 40) << "releasing the set leaves the picture";
  RunAll(10, 12);
  EXPECT_EQ(VarGetIntElement(1000, 0), 7) << "the second load replaced the first";
  EXPECT_EQ(Shown(), Expected(frames[0], false));
  EXPECT_EQ(Rec()->has_alpha, 0);
  EXPECT_EQ(w.Run(13), -1);
  EXPECT_TRUE(TestRaised(101250));
  EXPECT_NE(g_ErrLastText.find("W0/none"), std::string::npos);
}

TEST_F(FrameSetTest, AlphaFlagsAndAlphaPicturesOfAnotherSize) {
  const Pic p = MakePic(20, 12, 3), wide = MakePic(33, 5, 4), small = MakePic(7, 20, 5);
  const i32 values[3] = {0, 0, 0};
  struct Case {
    i32 flag;
    const Pic* alpha;
    u8 has_alpha;
    bool alpha_decoded;
  } cases[] = {{0, &p, 0, false}, {1, &p, 1, true}, {2, &p, 0, true}, {1, &wide, 1, true}, {1, &small, 1, true}};
  std::string script = "*SYSTEM_START\n";
  std::vector<KitFrame> frames;
  for (size_t i = 0; i < std::size(cases); i++) {
    const std::string n = std::to_string(i);
    frames.push_back(Frame(p, true, cases[i].alpha));
    AddFile(("s" + n).c_str(), 0, KitFrameSetEncode({frames.back()}, cases[i].flag, values));
    script +=
        "layer name='W0/f" + n + "', file='', order=1\nframes_load layer='W0/f" + n + "', file='s" + n + "', frame=0\n";
  }
  Use(script);
  RunAll(0, static_cast<u32>(2 * std::size(cases) - 1));
  for (size_t i = 0; i < std::size(cases); i++) {
    const Case& c = cases[i];
    SCOPED_TRACE("flag " + std::to_string(c.flag) + " alpha width " + std::to_string(c.alpha->w));
    LayerRecord* r = LayerOf(Node(("W0/f" + std::to_string(i)).c_str()));
    EXPECT_EQ(r->has_alpha, c.has_alpha);
    std::vector<u8> want = Expected(frames[i], c.alpha_decoded);
    EXPECT_EQ(std::vector<u8>(r->pixels, r->pixels + want.size()), want);
    if (!c.alpha_decoded) {
      for (size_t k = 3; k < want.size(); k += 4) ASSERT_EQ(want[k], 255);
    }
  }
}

TEST_F(FrameSetTest, ADamagedFrameIsNotShownAndTheNextOneIs) {
  const Pic a = MakePic(16, 16, 0), b = MakePic(16, 16, 1), c = MakePic(12, 8, 2);
  std::vector<KitFrame> frames = {Frame(a, true), Frame(b, true), Frame(c, true), Frame(a, true)};
  // Frame 1: its scan data cut short; frame 3: its alpha picture damaged the same way.
  frames[1].colour.resize(frames[1].colour.size() / 2);
  frames[3].alpha.resize(frames[3].alpha.size() / 2);
  const i32 values[3] = {0, 0, 0};
  AddFile("s", 0, KitFrameSetEncode(frames, 1, values));
  Use("*SYSTEM_START\nlayer name='W0/f', file='', order=1\nframes_load layer='W0/f', file='s', frame=0\n");
  RunAll(0, 1);
  ObjNode* node = Node("W0/f");
  std::vector<u8> first = Shown();
  const u8* buffer = Rec()->pixels;
  EXPECT_EQ(ImageFrameSetShow(node, 1), -2);
  EXPECT_EQ(Shown(), first) << "the layer keeps its picture whole";
  EXPECT_EQ(Rec()->pixels, buffer);
  EXPECT_EQ(ImageFrameSetShow(node, 2), 0);
  EXPECT_EQ(Rec()->width, 12);
  EXPECT_EQ(Shown(), Expected(frames[2], true));
  EXPECT_EQ(ImageFrameSetShow(node, 3), -2);
  EXPECT_EQ(Shown(), Expected(frames[2], true));
  EXPECT_EQ(ImageFrameSetShow(node, 0), 0) << "the decoder is usable after the errors";
  EXPECT_EQ(Shown(), first);
  EXPECT_FALSE(g_ErrDialogShown) << "a damaged frame is not reported";

  // A frame taller than 8192 is refused with the size message, the picture left as it was.
  std::vector<u8> tall(8193 * 4, 0x40);
  ImageFrameSet* set = Rec()->frame_set;
  std::vector<u8> stream = KitJpegEncode(tall.data(), 1, 8193, false, 50);
  EXPECT_EQ(ImageFrameDecodeColour(stream.data(), static_cast<u32>(stream.size()), set), -1);
  EXPECT_NE(g_ErrLastText.find(Sjis("メモリ不足です")), std::string::npos) << "error 100010";
  EXPECT_EQ(Shown(), first);
  EXPECT_EQ(ImageFrameSetShow(node, 2), 0) << "and the decoder goes on";
}

TEST_F(FrameSetTest, TablesThatDoNotFitTheFileAreRefusedBeforeAnythingIsUnscrambled) {
  const Pic a = MakePic(8, 8, 0);
  const i32 values[3] = {1, 2, 3};
  const std::vector<u8> good = KitFrameSetEncode({Frame(a, true), Frame(a, false)}, 1, values);
  auto put = [](std::vector<u8> f, size_t at, i32 v) {
    std::memcpy(f.data() + at, &v, 4);
    return f;
  };
  const i32 size = static_cast<i32>(good.size());
  const i32 colour0 = static_cast<i32>(Frame(a, true).colour.size());
  struct Case {
    const char* name;
    std::vector<u8> file;
  } cases[] = {
      {"shorter than the header", std::vector<u8>(good.begin(), good.begin() + 31)},
      {"negative count", put(good, 8, -1)},
      {"tables past the end", put(good, 8, (size - 32) / 12 + 1)},
      {"negative offset", put(good, 32, -4)},
      {"stream past the end", put(good, 32 + 4, size - colour0 + 1)},
      {"negative colour size", put(good, 40, -1)},
      {"alpha past the end", put(good, 48, size)},
      {"stream over the tables", put(good, 32, 8)},
      {"sizes adding past 2^31", put(put(good, 40, 0x7FFFFFF0), 48, 0x7FFFFFF0)},
  };
  std::string script = "*SYSTEM_START\n";
  AddFile("ok", 0, good);
  for (size_t i = 0; i < std::size(cases); i++) {
    const std::string n = std::to_string(i);
    AddFile(("bad" + n).c_str(), 0, cases[i].file);
    script += "layer name='W0/f" + n + "', file='', order=1\nframes_load layer='W0/f" + n +
              "', file='ok'\n"
              "frames_load layer='W0/f" +
              n + "', file='bad" + n + "'\n";
  }
  Use(script);
  for (size_t i = 0; i < std::size(cases); i++) {
    SCOPED_TRACE(cases[i].name);
    const u32 line = static_cast<u32>(3 * i);
    RunAll(line, line + 1);
    LayerRecord* r = LayerOf(Node(("W0/f" + std::to_string(i)).c_str()));
    ImageFrameSet* before = r->frame_set;
    ASSERT_NE(before, nullptr);
    g_QuitRequested = 0;
    EXPECT_EQ(w.Run(line + 2), 0);
    EXPECT_NE(g_ErrLastText.find(Sjis(("[bad" + std::to_string(i) + "]ファイルを").c_str())), std::string::npos)
        << g_ErrLastText;
    EXPECT_TRUE(g_QuitRequested);
    EXPECT_EQ(r->frame_set, before) << "the set loaded before stays";
    EXPECT_EQ(r->frame_set->values[2], 3);
  }
}

TEST_F(FrameSetTest, EmptySetsAndMissingFiles) {
  const i32 values[3] = {4, 5, 6};
  AddFile("empty", 0, KitFrameSetEncode({}, 1, values));
  Use("global int r = 9\n*SYSTEM_START\nlayer name='W0/f', file='', order=1\n"
      "frames_load layer='W0/f', file='empty', frame=0\nframes_info layer='W0/f', count=1, result=r\n"
      "frames_load layer='W0/f', file='nowhere.zfs', frame=0\n");
  RunAll(0, 2);
  EXPECT_EQ(VarGetIntElement(1000, 0), 0);
  EXPECT_EQ(Rec()->width, 1) << "a set without frames shows nothing";
  EXPECT_FALSE(g_ErrDialogShown);
  EXPECT_EQ(w.Run(3), 0);
  EXPECT_TRUE(g_QuitRequested);
  EXPECT_NE(g_ErrLastText.find(Sjis("[nowhere.zfs]ファイルを")), std::string::npos) << g_ErrLastText;
  EXPECT_NE(Rec()->frame_set, nullptr) << "a failed load keeps the set";
}
