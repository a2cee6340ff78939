// Small characters for the player and bridge tests, built as models and written by the kit's
// writer: solid-colour parts, variables, and clips whose tracks are given as (frame, value) keys.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "emote/psb.h"
#include "kit/psb_writer.h"

struct TestChara {
  EmoteModel m;

  TestChara& Var(const std::string& name, float def) {
    m.var_names.push_back(name);
    m.var_defaults.push_back(def);
    return *this;
  }
  // A w x h part of one colour (B, G, R, A as a little-endian word) with its origin at pivot.
  TestChara& Part(const std::string& name, int parent, float x, float y, u32 w, u32 h, u32 bgra, float px = 0,
                  float py = 0) {
    EmotePart p;
    p.name = name;
    p.parent = parent;
    p.x = x;
    p.y = y;
    p.pivot_x = px;
    p.pivot_y = py;
    p.width = w;
    p.height = h;
    p.pixels.assign(static_cast<size_t>(w) * h, bgra);
    m.parts.push_back(std::move(p));
    return *this;
  }
  EmoteCurve Curve(const std::vector<std::pair<float, float>>& keys) {
    EmoteCurve c{static_cast<u32>(m.keys.size()), static_cast<u32>(keys.size())};
    for (auto& k : keys) m.keys.push_back({k.first, k.second});
    return c;
  }
  TestChara& Bind(u32 part, u32 prop, u32 var, const std::vector<std::pair<float, float>>& keys) {
    m.bindings.push_back({part, prop, var, Curve(keys)});
    return *this;
  }
  TestChara& Clip(const std::string& name, u32 kind, float length, u32 flags) {
    EmoteClip c;
    c.name = name;
    c.kind = kind;
    c.flags = flags;
    c.length = length;
    m.clips.push_back(std::move(c));
    return *this;
  }
  TestChara& Track(u32 var, const std::vector<std::pair<float, float>>& keys) {
    m.clips.back().tracks.push_back({var, Curve(keys)});
    return *this;
  }
  std::vector<u8> Bytes() const {
    std::vector<u8> out;
    std::string err;
    EXPECT_EQ(KitPsbEncode(m, &out, &err), 0) << err;
    return out;
  }
};

// The character most tests use: variables a = 0.5, b = 1 and v; an 8 x 8 red part; a motion
// "walk" moving v from 0 to 60 over 60 frames; a looping timeline "tl" holding t at 1.
inline TestChara TestCharaBasic() {
  TestChara c;
  c.Var("a", 0.5f).Var("b", 1.0f).Var("v", 0.0f).Var("t", 0.0f);
  c.Part("body", -1, 0, 0, 8, 8, 0xFFFF0000u);
  c.Clip("walk", EMOTE_CLIP_MOTION, 60, 0).Track(2, {{0, 0}, {60, 60}});
  c.Clip("tl", EMOTE_CLIP_TIMELINE, 100, EMOTE_CLIP_LOOP).Track(3, {{0, 1}, {100, 1}});
  return c;
}
