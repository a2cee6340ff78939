// A game that shows GIF pictures (an animated one, an interlaced one, a transparent one) and the
// frames of two JPEG frame sets, queries a set, moves a layer by a set's header value and frees
// the set, run headless on the fixed clock. Its last frame must equal the picture worked out here:
// GIF pixels from their palettes, frame pixels from the engine's own JPEG decode, every alpha 0 or
// 255 over a black background (a clear pixel of any colour below 128 rounds away to black).
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <vector>

#include "kit/demo_art.h"
#include "kit/frameset_writer.h"
#include "kit/gif_writer.h"
#include "layer/image.h"
#include "support/zephra_run.h"

namespace fs = std::filesystem;

namespace {

using zephra_run::ZephraRun;

constexpr i32 W = 320, H = 240;

void WriteFile(const fs::path& p, const std::vector<u8>& bytes) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

struct Frame {
  std::vector<u8> bgr = std::vector<u8>(static_cast<size_t>(W) * H * 3, 0);
  // Draws a w x h B, G, R, A picture at (ox, oy); alpha 0 leaves the black below.
  void Put(const std::vector<u8>& bgra, i32 w, i32 h, i32 ox, i32 oy) {
    for (i32 y = 0; y < h; y++)
      for (i32 x = 0; x < w; x++) {
        const u8* s = bgra.data() + (static_cast<size_t>(y) * w + x) * 4;
        if (s[3] == 0) continue;
        u8* d = bgr.data() + (static_cast<size_t>(oy + y) * W + ox + x) * 3;
        d[0] = s[0];
        d[1] = s[1];
        d[2] = s[2];
      }
  }
};

// The palette of every GIF here: entry i = (R, G, B) = (i * 3, 250 - i * 5, 40 + i * 4).
std::vector<u8> GifPalette() {
  std::vector<u8> p;
  for (u32 i = 0; i < 32; i++)
    p.insert(p.end(), {static_cast<u8>(i * 3), static_cast<u8>(250 - i * 5), static_cast<u8>(40 + i * 4)});
  return p;
}

std::vector<u8> GifIndexes(i32 w, i32 h, u32 seed) {
  std::vector<u8> v;
  for (i32 y = 0; y < h; y++)
    for (i32 x = 0; x < w; x++) v.push_back(static_cast<u8>((x / 3 + y * seed + (x * y) % 7) % 32));
  return v;
}

// The picture a GIF image shows: palette colours, index `clear` transparent (none when > 255).
std::vector<u8> GifBgra(const std::vector<u8>& idx, u32 clear) {
  std::vector<u8> pal = GifPalette(), out;
  for (u8 i : idx)
    out.insert(out.end(), {pal[i * 3 + 2], pal[i * 3 + 1], pal[i * 3], static_cast<u8>(i == clear ? 0 : 255)});
  return out;
}

KitGif OneGif(i32 w, i32 h, const std::vector<u8>& idx) {
  KitGif g;
  g.width = static_cast<u16>(w);
  g.height = static_cast<u16>(h);
  g.palette = GifPalette();
  KitGifImage im;
  im.width = g.width;
  im.height = g.height;
  im.indexes = idx;
  im.code.min_code_size = 5;
  g.images.push_back(im);
  return g;
}

// A frame picture: colours below 128 (so a clear pixel rounds away), alpha 0 in 8 x 8 blocks of
// a checkerboard when `holes`, else 255.
std::vector<u8> FramePicture(i32 w, i32 h, u32 seed, bool holes) {
  std::vector<u8> p;
  for (i32 y = 0; y < h; y++)
    for (i32 x = 0; x < w; x++)
      p.insert(p.end(), {static_cast<u8>(20 + (x + seed * 9) % 64), static_cast<u8>(30 + y % 50),
                         static_cast<u8>(60 + seed * 10), static_cast<u8>(holes && (x / 8 + y / 8) % 2 ? 0 : 255)});
  return p;
}

// What the engine shows for a frame: its colour JPEG decoded, alpha from its grey JPEG.
std::vector<u8> ShownFrame(const KitFrame& f) {
  ImagePicture c{}, a{};
  EXPECT_EQ(ImageDecodeJpeg(f.colour.data(), static_cast<u32>(f.colour.size()), "c", &c), 0);
  std::vector<u8> out(c.pixels, c.pixels + static_cast<size_t>(c.width) * c.height * 4);
  if (!f.alpha.empty()) {
    EXPECT_EQ(ImageDecodeJpeg(f.alpha.data(), static_cast<u32>(f.alpha.size()), "a", &a), 0);
    for (size_t i = 0; i < out.size(); i += 4) {
      out[i + 3] = a.pixels[i];
      EXPECT_TRUE(out[i + 3] == 0 || out[i + 3] == 255) << "the golden frame needs clear or opaque pixels";
    }
  }
  for (size_t i = 0; i < out.size(); i += 4)
    if (out[i + 3] == 0) {
      EXPECT_LT(std::max({out[i], out[i + 1], out[i + 2]}), 128);
    }
  std::free(c.pixels);
  std::free(a.pixels);
  return out;
}

}  // namespace

TEST_F(ZephraRun, GifAndFrameSetGameMatchesItsGoldenFrame) {
  const fs::path src = root / "gif-src";
  std::vector<u8> black(static_cast<size_t>(W) * H * 4, 0);
  for (size_t i = 3; i < black.size(); i += 4) black[i] = 255;
  WriteFile(src / "cg" / "bg.bmp", KitBmpEncode(black.data(), W, H, false));

  // Animated: two images, the second smaller and transparent; only the first is shown.
  std::vector<u8> anim_idx = GifIndexes(40, 30, 3);
  KitGif anim = OneGif(40, 30, anim_idx);
  anim.loops = 0;
  anim.images[0].control = true;
  anim.images[0].delay = 8;
  KitGifImage second = anim.images[0];
  second.width = 10;
  second.height = 10;
  second.left = 5;
  second.indexes = GifIndexes(10, 10, 1);
  second.transparent = true;
  second.transparent_index = 2;
  anim.images.push_back(second);
  // Interlaced, with a comment before it; transparent, coded against a full table.
  std::vector<u8> inter_idx = GifIndexes(37, 23, 5), clear_idx = GifIndexes(30, 30, 2);
  KitGif inter = OneGif(37, 23, inter_idx);
  inter.images[0].interlaced = true;
  inter.images[0].before = KitGifComment("interlaced");
  KitGif clear = OneGif(30, 30, clear_idx);
  clear.images[0].control = true;
  clear.images[0].transparent = true;
  clear.images[0].transparent_index = 4;
  clear.images[0].code.keep_full = true;
  const std::pair<const char*, const KitGif*> gifs[] = {{"anim", &anim}, {"inter", &inter}, {"clear", &clear}};
  for (const auto& [name, gif] : gifs) {
    std::vector<u8> bytes;
    ASSERT_EQ(KitGifEncode(*gif, &bytes), 0);
    WriteFile(src / "cg" / (std::string(name) + ".gif"), bytes);
  }

  // Set 1: three frames of two sizes with holes in their alpha; set 2: one opaque frame whose
  // first header value is where the script puts its layer.
  std::vector<KitFrame> set1;
  const i32 sizes[3][2] = {{48, 32}, {64, 40}, {40, 24}};
  for (u32 k = 0; k < 3; k++) {
    std::vector<u8> p = FramePicture(sizes[k][0], sizes[k][1], k, true);
    set1.push_back({KitJpegEncode(p.data(), sizes[k][0], sizes[k][1], false, 100),
                    KitJpegEncode(p.data(), sizes[k][0], sizes[k][1], true, 100)});
  }
  const i32 values1[3] = {0, 0, 0};
  std::vector<u8> p2 = FramePicture(56, 40, 7, false);
  KitFrame set2{KitJpegEncode(p2.data(), 56, 40, false, 90), {}};
  WriteFile(src / "anim" / "set1.zfs", KitFrameSetEncode(set1, 1, values1));
  // Set 2 through the command line, as an author would write it.
  WriteFile(root / "set2.jpg", set2.colour);
  std::string fs_cmd = std::string("'") + ZPKIT_BIN + "' frameset '" + (src / "anim" / "set2.zfs").string() + "' '" +
                       (root / "set2.jpg").string() + "' --values 200,5,6";
  ASSERT_EQ(std::system(fs_cmd.c_str()), 0) << fs_cmd;

  fs::create_directories(src / "script");
  std::ofstream(src / "project.txt") << "width = 320\nheight = 240\ntitle = Gif\n";
  std::ofstream(src / "script" / "main.zs")
      << "global int n = 0\nglobal int v = 0\n"
         "*SYSTEM_START\n"
         "fps rate = 60\n"
         "layer name = 'W0/bg', file = 'cg/bg.bmp', order = 1\n"
         "layer name = 'W0/anim', file = 'cg/anim.gif', order = 2, x = 10, y = 10\n"
         "layer name = 'W0/inter', file = 'cg/inter', order = 3, x = 60, y = 10\n"
         "layer name = 'W0/clear', file = 'cg/clear.gif', order = 4, x = 110, y = 10\n"
         "layer name = 'W0/fs', file = '', order = 5, x = 10, y = 60\n"
         "frames_load layer = 'W0/fs', file = 'Anim/Set1.zfs', frame = 1\n"
         "wait frames = 1\n"
         "frames_info layer = 'W0/fs', count = 1, result = n\n"
         "frames_load layer = 'W0/fs', frame = n\n"
         "layer name = 'W0/fs2', file = '', order = 6, y = 120\n"
         "frames_load layer = 'W0/fs2', file = 'anim/set2.zfs', frame = 0\n"
         "frames_info layer = 'W0/fs2', head1 = 1, result = v\n"
         "layer name = 'W0/fs2', x = v\n"
         "frames_free layer = 'W0/fs2'\n"
         "frames_info layer = 'W0/fs2', count = 1, result = v\n"
         "layer name = 'W0/fs2', y += v\n"
         "wait frames = 100000\n";
  std::string cmd =
      std::string("'") + ZPKIT_BIN + "' build '" + src.string() + "' '" + (root / "gifgame").string() + "'";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;

  fs::path dump = root / "last.png";
  std::string err;
  ASSERT_EQ(
      RunToEnd({(root / "gifgame").string()},
               {"ZEPHRA_EXIT_AFTER_FRAMES=20", "ZEPHRA_FIXED_CLOCK=1", "ZEPHRA_FRAME_DUMP=" + dump.string()}, &err),
      0)
      << err;
  EXPECT_EQ(err.find("[error dialog]"), std::string::npos) << err;
  std::ifstream in(dump, std::ios::binary);
  std::vector<u8> png((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ImagePicture shot{};
  ASSERT_EQ(ImageDecodePng(png.data(), static_cast<u32>(png.size()), "last.png", &shot), 0) << err;
  ASSERT_EQ(shot.width, W);
  ASSERT_EQ(shot.height, H);

  Frame golden;
  golden.Put(GifBgra(anim_idx, 256), 40, 30, 10, 10);
  golden.Put(GifBgra(inter_idx, 256), 37, 23, 60, 10);
  golden.Put(GifBgra(clear_idx, 4), 30, 30, 110, 10);
  golden.Put(ShownFrame(set1[2]), 40, 24, 10, 60);  // frame 3 of 3 clamped to the last
  golden.Put(ShownFrame(set2), 56, 40, 200, 120);   // moved by the set's first value

  size_t diffs = 0;
  for (i32 y = 0; y < H; y++)
    for (i32 x = 0; x < W; x++)
      for (int c = 0; c < 3; c++) {
        u8 got = shot.pixels[(static_cast<size_t>(y) * W + x) * 4 + c];
        u8 want = golden.bgr[(static_cast<size_t>(y) * W + x) * 3 + c];
        if (got != want && diffs++ < 5)
          ADD_FAILURE() << "pixel " << x << "," << y << " channel " << c << ": " << int(got) << " != " << int(want);
      }
  EXPECT_EQ(diffs, 0u);
  std::free(shot.pixels);
}
