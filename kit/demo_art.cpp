// The demo pictures: every pixel is computed from the picture's size alone, so the same build
// always draws the same scene. Soft edges come from the distance to the shape's outline.
#include "kit/demo_art.h"
#include "kit/movie_writer.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "platform/file.h"

static u8 Mix(int a, int b, double t) { return static_cast<u8>(std::lround(a + (b - a) * std::clamp(t, 0.0, 1.0))); }

static void SetPixel(KitDemoPicture* p, i32 x, i32 y, u8 b, u8 g, u8 r, u8 a) {
  u8* d = p->bgra.data() + (static_cast<size_t>(y) * p->width + x) * 4;
  d[0] = b;
  d[1] = g;
  d[2] = r;
  d[3] = a;
}

// Evening sky over a dark hill line.
static KitDemoPicture Background(i32 w, i32 h) {
  KitDemoPicture p{"cg/bg.bmp", w, h, false, std::vector<u8>(static_cast<size_t>(w) * h * 4)};
  for (i32 y = 0; y < h; y++) {
    double t = static_cast<double>(y) / (h > 1 ? h - 1 : 1);
    for (i32 x = 0; x < w; x++) {
      double hill = h * (0.72 + 0.06 * std::sin(x * 6.2831853 / w * 1.5));
      if (y >= hill) SetPixel(&p, x, y, Mix(60, 30, t), Mix(50, 30, t), Mix(40, 25, t), 255);
      else SetPixel(&p, x, y, Mix(110, 70, t), Mix(40, 120, t), Mix(30, 240, t), 255);
    }
  }
  return p;
}

// Coverage of a point by a soft-edged shape from its signed distance (negative inside).
static double Cover(double dist) { return std::clamp(0.5 - dist, 0.0, 1.0); }

// A figure: a round head over a rounded body, dark blue-grey, soft at its outline.
static KitDemoPicture Character(i32 w, i32 h) {
  KitDemoPicture p{"cg/chara.bmp", w, h, true, std::vector<u8>(static_cast<size_t>(w) * h * 4)};
  const double cx = w / 2.0, head_r = w * 0.18, head_y = h * 0.16;
  const double body_top = h * 0.30, body_w = w * 0.42;
  for (i32 y = 0; y < h; y++) {
    for (i32 x = 0; x < w; x++) {
      double px = x + 0.5, py = y + 0.5;
      double head = std::hypot(px - cx, py - head_y) - head_r;
      // The body widens downward like a coat and is rounded at its shoulders.
      double half = body_w * (0.6 + 0.4 * std::clamp((py - body_top) / (h - body_top), 0.0, 1.0));
      double body = std::max(std::fabs(px - cx) - half, body_top - py);
      if (py < body_top + half * 0.5)
        body = std::max(body, std::hypot(px - cx, (py - body_top - half * 0.5) * 1.6) - half);
      double a = std::max(Cover(head), Cover(body));
      u8 alpha = static_cast<u8>(std::lround(a * 255));
      SetPixel(&p, x, y, alpha ? 90 : 0, alpha ? 60 : 0, alpha ? 50 : 0, alpha);
    }
  }
  return p;
}

// The message window: translucent navy with a light rounded border.
static KitDemoPicture MessageWindow(i32 w, i32 h) {
  KitDemoPicture p{"cg/window.bmp", w, h, true, std::vector<u8>(static_cast<size_t>(w) * h * 4)};
  const double r = 14;
  for (i32 y = 0; y < h; y++) {
    for (i32 x = 0; x < w; x++) {
      double px = x + 0.5, py = y + 0.5;
      double qx = std::max(std::fabs(px - w / 2.0) - (w / 2.0 - r), 0.0);
      double qy = std::max(std::fabs(py - h / 2.0) - (h / 2.0 - r), 0.0);
      double dist = std::hypot(qx, qy) - r;  // negative inside the rounded rectangle
      double inside = Cover(dist);
      bool border = dist > -3;
      u8 a = static_cast<u8>(std::lround(inside * (border ? 240 : 170)));
      if (border) SetPixel(&p, x, y, 240, 230, 220, a);
      else SetPixel(&p, x, y, 70, 30, 20, a);
    }
  }
  return p;
}

std::vector<KitDemoPicture> KitDemoPictures(i32 game_width, i32 game_height) {
  return {Background(game_width, game_height), Character(game_width * 5 / 16, game_height * 3 / 4),
          MessageWindow(game_width - 40, game_height / 4)};
}

int KitDemoArtWrite(const std::string& folder_native, i32 game_width, i32 game_height, std::string* err) {
  if (game_width < 64 || game_height < 64 || game_width > 8192 || game_height > 8192) {
    *err = "demo pictures: size out of range";
    return -1;
  }
  for (const KitDemoPicture& p : KitDemoPictures(game_width, game_height)) {
    std::filesystem::path path = std::filesystem::path(folder_native) / p.name;
    std::error_code ec;
    std::filesystem::create_directories(path.parent_path(), ec);
    std::vector<u8> bmp = KitBmpEncode(p.bgra.data(), p.width, p.height, p.alpha);
    if (PlatFileWriteAtomicNative(path.string(), bmp.data(), bmp.size()) != 0) {
      *err = "cannot write " + path.string();
      return -1;
    }
  }
  // The intro movie: dusk colours, a second each, and a low tone.
  KitMovieSpec intro;
  intro.width = game_width & ~1;
  intro.height = game_height & ~1;
  intro.seconds = 2;
  intro.colours = {0x1A1030, 0x503060};
  intro.tone_hz = 220;
  std::filesystem::path movie = std::filesystem::path(folder_native) / "mv" / "intro.mpg";
  std::error_code ec;
  std::filesystem::create_directories(movie.parent_path(), ec);
  return KitWriteTestMovie(movie.string(), intro, err);
}
