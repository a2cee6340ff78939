// The demo character's parts, each drawn from a shape test with a one-pixel soft edge.
#include "kit/demo_chara.h"

#include <cmath>
#include <filesystem>
#include <functional>

#include "kit/psb_writer.h"
#include "platform/file.h"

namespace {

// A w x h part of one colour whose coverage at a pixel centre is inside(x, y) as a signed
// distance (pixels, positive inside), clamped to one pixel of soft edge.
EmotePart Shape(const char* name, int parent, float x, float y, u32 w, u32 h, float px, float py, u32 rgb,
                const std::function<float(float, float)>& inside) {
  EmotePart p;
  p.name = name;
  p.parent = parent;
  p.x = x;
  p.y = y;
  p.pivot_x = px;
  p.pivot_y = py;
  p.width = w;
  p.height = h;
  p.pixels.resize(static_cast<size_t>(w) * h);
  for (u32 j = 0; j < h; j++)
    for (u32 i = 0; i < w; i++) {
      float d = inside(static_cast<float>(i) + 0.5f, static_cast<float>(j) + 0.5f) + 0.5f;
      d = d < 0 ? 0 : (d > 1 ? 1 : d);
      const u32 a = static_cast<u32>(std::lround(d * 255));
      p.pixels[static_cast<size_t>(j) * w + i] = a ? (a << 24 | rgb) : 0;
    }
  return p;
}

// Signed distance to an ellipse (approximate, good near its edge).
float Ellipse(float x, float y, float cx, float cy, float rx, float ry) {
  const float dx = (x - cx) / rx, dy = (y - cy) / ry;
  return (1.0f - std::sqrt(dx * dx + dy * dy)) * std::fmin(rx, ry);
}

void Keys(EmoteModel* m, EmoteCurve* c, std::initializer_list<EmoteKey> keys) {
  c->first = static_cast<u32>(m->keys.size());
  c->count = static_cast<u32>(keys.size());
  m->keys.insert(m->keys.end(), keys);
}

}  // namespace

EmoteModel KitDemoCharacterModel() {
  EmoteModel m;
  m.canvas_w = 100;
  m.canvas_h = 200;
  m.var_names = {"breath", "blink", "head_turn"};
  m.var_defaults = {0, 0, 0};
  enum { BODY, HEAD, HAIR, EYES_OPEN, EYES_SHUT, MOUTH };
  // The dress: wider towards the hem, its origin at the middle of the hem.
  m.parts.push_back(Shape("body", -1, 0, 0, 90, 112, 45, 112, 0x5078C0u, [](float x, float y) {
    const float half = 14 + y * 0.28f;
    return std::fmin(std::fmin(half - std::fabs(x - 45), y - 1), 111 - y);
  }));
  // The head, its origin at the chin, which sits on the neckline.
  m.parts.push_back(Shape("head", BODY, 0, -108, 56, 62, 28, 60, 0xF5D2BEu,
                          [](float x, float y) { return Ellipse(x, y, 28, 31, 27, 30); }));
  m.parts.push_back(Shape("hair", HEAD, 0, -61, 64, 34, 32, 1, 0x5A3228u, [](float x, float y) {
    return std::fmin(Ellipse(x, y, 32, 30, 31, 29), 22 - y + std::fabs(x - 32) * 0.4f);
  }));
  m.parts.push_back(Shape("eyes_open", HEAD, 0, -30, 36, 10, 18, 5, 0x3C2830u, [](float x, float y) {
    return std::fmax(Ellipse(x, y, 8, 5, 3, 4.5f), Ellipse(x, y, 28, 5, 3, 4.5f));
  }));
  m.parts.push_back(Shape("eyes_shut", HEAD, 0, -30, 36, 10, 18, 5, 0x3C2830u, [](float x, float y) {
    return std::fmin(1.2f - std::fabs(y - 6), std::fmax(4 - std::fabs(x - 8), 4 - std::fabs(x - 28)));
  }));
  m.parts.push_back(Shape("mouth", HEAD, 0, -13, 12, 4, 6, 2, 0xD06A6Au,
                          [](float x, float y) { return std::fmin(1.0f - std::fabs(y - 2), 5 - std::fabs(x - 6)); }));
  auto bind = [&](u32 part, u32 prop, u32 var, std::initializer_list<EmoteKey> keys) {
    EmoteBinding b{part, prop, var, {}};
    Keys(&m, &b.curve, keys);
    m.bindings.push_back(b);
  };
  bind(BODY, EMOTE_PROP_SCALE, 0, {{0, 1.0f}, {1, 1.025f}});
  bind(HEAD, EMOTE_PROP_Y, 0, {{0, 0}, {1, -1.5f}});
  bind(HEAD, EMOTE_PROP_ROTATION, 2, {{-1, -10}, {1, 10}});
  bind(EYES_OPEN, EMOTE_PROP_X, 2, {{-1, -3}, {1, 3}});
  bind(EYES_SHUT, EMOTE_PROP_X, 2, {{-1, -3}, {1, 3}});
  bind(MOUTH, EMOTE_PROP_X, 2, {{-1, -3}, {1, 3}});
  bind(EYES_OPEN, EMOTE_PROP_VISIBLE, 1, {{0.49f, 1}, {0.5f, 0}});
  bind(EYES_SHUT, EMOTE_PROP_VISIBLE, 1, {{0.49f, 0}, {0.5f, 1}});
  auto clip = [&](const char* name, u32 kind, float length, u32 flags, u32 var, std::initializer_list<EmoteKey> keys) {
    EmoteClip c;
    c.name = name;
    c.kind = kind;
    c.flags = flags;
    c.length = length;
    EmoteTrack t{var, {}};
    Keys(&m, &t.curve, keys);
    c.tracks.push_back(t);
    m.clips.push_back(std::move(c));
  };
  clip("idle", EMOTE_CLIP_MOTION, 150, EMOTE_CLIP_LOOP | EMOTE_CLIP_AUTOSTART, 0, {{0, 0}, {75, 1}, {150, 0}});
  clip("blink", EMOTE_CLIP_MOTION, 200, EMOTE_CLIP_LOOP | EMOTE_CLIP_AUTOSTART, 1,
       {{0, 0}, {180, 0}, {183, 1}, {189, 1}, {192, 0}, {200, 0}});
  clip("turn", EMOTE_CLIP_MOTION, 90, 0, 2, {{0, 0}, {20, 1}, {70, 1}, {90, 0}});
  clip("look", EMOTE_CLIP_TIMELINE, 240, EMOTE_CLIP_LOOP, 2, {{0, 0}, {60, -1}, {180, 1}, {240, 0}});
  return m;
}

int KitDemoCharacterWrite(const std::string& folder_native, std::string* err) {
  std::vector<u8> bytes;
  if (KitPsbEncode(KitDemoCharacterModel(), &bytes, err) != 0) return -1;
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(folder_native) / "cg", ec);
  const std::string path = (std::filesystem::path(folder_native) / "cg" / "girl.psb").string();
  if (PlatFileWriteAtomicNative(path, bytes.data(), bytes.size()) != 0) {
    *err = "cannot write " + path;
    return -1;
  }
  return 0;
}
