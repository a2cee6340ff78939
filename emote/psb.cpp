// The ".psb" reader: nothing is used before it is checked against the bytes given.
#include "emote/psb.h"

#include <cmath>
#include <cstring>

namespace {

struct Reader {
  const std::uint8_t* p;
  size_t size;
  size_t at;
  bool ok = true;
  std::uint32_t U32() {
    if (size - at < 4 || at > size) {
      ok = false;
      return 0;
    }
    std::uint32_t v = static_cast<std::uint32_t>(p[at]) | static_cast<std::uint32_t>(p[at + 1]) << 8 |
                      static_cast<std::uint32_t>(p[at + 2]) << 16 | static_cast<std::uint32_t>(p[at + 3]) << 24;
    at += 4;
    return v;
  }
  std::int32_t I32() { return static_cast<std::int32_t>(U32()); }
  float F32() {
    std::uint32_t u = U32();
    float f;
    std::memcpy(&f, &u, 4);
    if (!std::isfinite(f)) ok = false;
    return f;
  }
};

// A name at offset ofs of the string table: it must end inside the table.
bool Name(const std::uint8_t* strings, std::uint32_t bytes, std::uint32_t ofs, std::string* out) {
  if (ofs >= bytes) return false;
  const void* end = std::memchr(strings + ofs, 0, bytes - ofs);
  if (!end) return false;
  out->assign(reinterpret_cast<const char*>(strings + ofs), static_cast<const std::uint8_t*>(end) - (strings + ofs));
  return true;
}

bool CurveOk(const EmoteModel& m, std::uint32_t first, std::uint32_t count) {
  if (first > m.keys.size() || count > m.keys.size() - first) return false;
  for (std::uint32_t i = 1; i < count; i++)
    if (m.keys[first + i].in < m.keys[first + i - 1].in) return false;
  return true;
}

}  // namespace

float EmoteCurveAt(const EmoteModel& m, const EmoteCurve& c, float x) {
  if (c.count == 0) return 0.0f;
  const EmoteKey* k = &m.keys[c.first];
  if (x <= k[0].in) return k[0].out;
  for (std::uint32_t i = 1; i < c.count; i++) {
    if (x < k[i].in) {
      float span = k[i].in - k[i - 1].in;
      float t = span > 0 ? (x - k[i - 1].in) / span : 1.0f;
      return k[i - 1].out + (k[i].out - k[i - 1].out) * t;
    }
  }
  return k[c.count - 1].out;
}

int EmotePsbRead(const std::uint8_t* data, size_t size, EmoteModel* m) {
  if (!data || size < EMOTE_PSB_HEADER || std::memcmp(data, "ZPSB", 4) != 0) return -1;
  Reader r{data, size, 4};
  if (r.U32() != 1) return -1;
  m->canvas_w = r.I32();
  m->canvas_h = r.I32();
  const std::uint32_t nvars = r.U32(), nparts = r.U32(), nbinds = r.U32(), nclips = r.U32(), ntracks = r.U32(),
                      nkeys = r.U32(), nstrings = r.U32(), npixels = r.U32();
  if (nvars > EMOTE_MAX_VARS || nparts > EMOTE_MAX_PARTS || nbinds > EMOTE_MAX_BINDS || nclips > EMOTE_MAX_CLIPS ||
      ntracks > EMOTE_MAX_TRACKS || nkeys > EMOTE_MAX_KEYS || nstrings > EMOTE_MAX_STRINGS)
    return -1;
  // Every section's place, in 64 bits so that no sum can wrap; the file is exactly their total.
  const std::uint64_t var_at = EMOTE_PSB_HEADER;
  const std::uint64_t part_at = var_at + std::uint64_t{nvars} * EMOTE_PSB_VAR;
  const std::uint64_t bind_at = part_at + std::uint64_t{nparts} * EMOTE_PSB_PART;
  const std::uint64_t clip_at = bind_at + std::uint64_t{nbinds} * EMOTE_PSB_BIND;
  const std::uint64_t track_at = clip_at + std::uint64_t{nclips} * EMOTE_PSB_CLIP;
  const std::uint64_t key_at = track_at + std::uint64_t{ntracks} * EMOTE_PSB_TRACK;
  const std::uint64_t string_at = key_at + std::uint64_t{nkeys} * EMOTE_PSB_KEY;
  const std::uint64_t pixel_at = string_at + nstrings;
  if (pixel_at + npixels != size) return -1;
  const std::uint8_t* strings = data + string_at;
  const std::uint8_t* pixels = data + pixel_at;

  r.at = static_cast<size_t>(key_at);
  m->keys.resize(nkeys);
  for (EmoteKey& k : m->keys) {
    k.in = r.F32();
    k.out = r.F32();
  }
  r.at = static_cast<size_t>(var_at);
  m->var_names.resize(nvars);
  m->var_defaults.resize(nvars);
  for (std::uint32_t i = 0; i < nvars; i++) {
    if (!Name(strings, nstrings, r.U32(), &m->var_names[i]) || m->var_names[i].empty()) return -1;
    m->var_defaults[i] = r.F32();
    for (std::uint32_t j = 0; j < i; j++)
      if (m->var_names[j] == m->var_names[i]) return -1;
  }
  m->parts.resize(nparts);
  for (std::uint32_t i = 0; i < nparts; i++) {
    EmotePart& p = m->parts[i];
    if (!Name(strings, nstrings, r.U32(), &p.name)) return -1;
    p.parent = r.I32();
    p.x = r.F32();
    p.y = r.F32();
    p.pivot_x = r.F32();
    p.pivot_y = r.F32();
    p.width = r.U32();
    p.height = r.U32();
    const std::uint32_t ofs = r.U32();
    r.U32();
    if (p.parent < -1 || p.parent >= static_cast<std::int32_t>(i)) return -1;
    if (p.width < 1 || p.height < 1 || p.width > EMOTE_MAX_SIDE || p.height > EMOTE_MAX_SIDE) return -1;
    const std::uint64_t bytes = std::uint64_t{p.width} * p.height * 4;
    if (ofs > npixels || bytes > npixels - ofs) return -1;
    p.pixels.resize(static_cast<size_t>(bytes / 4));
    std::memcpy(p.pixels.data(), pixels + ofs, static_cast<size_t>(bytes));
  }
  m->bindings.resize(nbinds);
  for (EmoteBinding& b : m->bindings) {
    b.part = r.U32();
    b.prop = r.U32();
    b.var = r.U32();
    b.curve.first = r.U32();
    b.curve.count = r.U32();
    if (b.part >= nparts || b.prop >= EMOTE_PROP_COUNT || b.var >= nvars || !CurveOk(*m, b.curve.first, b.curve.count))
      return -1;
  }
  struct ClipRange {
    std::uint32_t first, count;
  };
  std::vector<ClipRange> ranges(nclips);
  m->clips.resize(nclips);
  for (std::uint32_t i = 0; i < nclips; i++) {
    EmoteClip& c = m->clips[i];
    if (!Name(strings, nstrings, r.U32(), &c.name) || c.name.empty()) return -1;
    c.kind = r.U32();
    c.flags = r.U32();
    c.length = r.F32();
    ranges[i].first = r.U32();
    ranges[i].count = r.U32();
    if ((c.kind != EMOTE_CLIP_MOTION && c.kind != EMOTE_CLIP_TIMELINE) || c.flags > 3 || !(c.length > 0.0f)) return -1;
    if (ranges[i].first > ntracks || ranges[i].count > ntracks - ranges[i].first) return -1;
    for (std::uint32_t j = 0; j < i; j++)
      if (m->clips[j].name == c.name && m->clips[j].kind == c.kind) return -1;
  }
  std::vector<EmoteTrack> tracks(ntracks);
  for (EmoteTrack& t : tracks) {
    t.var = r.U32();
    t.curve.first = r.U32();
    t.curve.count = r.U32();
    if (t.var >= nvars || !CurveOk(*m, t.curve.first, t.curve.count)) return -1;
  }
  for (std::uint32_t i = 0; i < nclips; i++)
    m->clips[i].tracks.assign(tracks.begin() + ranges[i].first, tracks.begin() + ranges[i].first + ranges[i].count);
  if (!r.ok) return -1;
  if (nstrings > 0 && strings[nstrings - 1] != 0) return -1;
  return 0;
}
