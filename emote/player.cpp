// The player's time: variables, motions, timelines and the sway, and the part poses.
#include "emote/player.h"

#include <cmath>
#include <cstring>

static const float kPi = 3.14159265358979f;

void EmotePlayerInit(EmotePlayerState* p) {
  const size_t n = p->model.var_defaults.size();
  p->base = p->model.var_defaults;
  p->target = p->base;
  p->step.assign(n, 0.0f);
  p->value = p->base;
  p->motions.clear();
  p->timelines.clear();
  p->sway_time = 0.0f;
}

void EmotePlayerBegin(EmotePlayerState* p) {
  for (const EmoteClip& c : p->model.clips)
    if (c.flags & EMOTE_CLIP_AUTOSTART) EmotePlayerStart(p, c.name.c_str(), c.kind);
  EmotePlayerEvaluate(p);
}

int EmoteFindVar(const EmotePlayerState& p, const char* name) {
  if (!name) return -1;
  for (size_t i = 0; i < p.model.var_names.size(); i++)
    if (p.model.var_names[i] == name) return static_cast<int>(i);
  return -1;
}

void EmotePlayerSetVar(EmotePlayerState* p, int var, float value, float frames) {
  if (var < 0 || static_cast<size_t>(var) >= p->base.size() || !std::isfinite(value)) return;
  if (!(frames > 0.0f)) {
    p->base[var] = p->target[var] = value;
    p->step[var] = 0.0f;
    // A motion or timeline holding the variable hides this until it lets go; a variable that no
    // clip holds shows it at once.
  } else {
    p->target[var] = value;
    p->step[var] = std::fabs(value - p->base[var]) / frames;
  }
  EmotePlayerEvaluate(p);
}

static int FindClip(const EmotePlayerState& p, const char* name, std::uint32_t kind) {
  if (!name) return -1;
  for (size_t i = 0; i < p.model.clips.size(); i++)
    if (p.model.clips[i].kind == kind && p.model.clips[i].name == name) return static_cast<int>(i);
  return -1;
}

static std::vector<EmoteActiveClip>::iterator FindActive(std::vector<EmoteActiveClip>& list, int clip) {
  for (auto it = list.begin(); it != list.end(); ++it)
    if (static_cast<int>(it->clip) == clip) return it;
  return list.end();
}

int EmotePlayerStart(EmotePlayerState* p, const char* name, std::uint32_t kind) {
  const int c = FindClip(*p, name, kind);
  if (c < 0) return -1;
  std::vector<EmoteActiveClip>& list = kind == EMOTE_CLIP_MOTION ? p->motions : p->timelines;
  auto it = FindActive(list, c);
  if (it != list.end()) list.erase(it);
  list.push_back({static_cast<std::uint32_t>(c), 0.0f, 1.0f, 1.0f, 0.0f, false});
  EmotePlayerEvaluate(p);
  return 0;
}

// A motion that lets go leaves its variables where it put them.
static void Release(EmotePlayerState* p, const EmoteActiveClip& a) {
  const EmoteClip& clip = p->model.clips[a.clip];
  for (const EmoteTrack& t : clip.tracks) {
    float v = EmoteCurveAt(p->model, t.curve, a.time);
    p->base[t.var] = p->target[t.var] = v;
    p->step[t.var] = 0.0f;
  }
}

void EmotePlayerStopMotion(EmotePlayerState* p, const char* name) {
  auto it = FindActive(p->motions, FindClip(*p, name, EMOTE_CLIP_MOTION));
  if (it == p->motions.end()) return;
  Release(p, *it);
  p->motions.erase(it);
  EmotePlayerEvaluate(p);
}

static void SetWeight(EmoteActiveClip* a, float weight, float frames) {
  if (!std::isfinite(weight)) return;
  weight = weight < 0.0f ? 0.0f : (weight > 1.0f ? 1.0f : weight);
  a->weight_target = weight;
  if (!(frames > 0.0f)) {
    a->weight = weight;
    a->weight_step = 0.0f;
  } else {
    a->weight_step = std::fabs(weight - a->weight) / frames;
  }
}

void EmotePlayerFadeTimeline(EmotePlayerState* p, const char* name, float weight, float frames) {
  auto it = FindActive(p->timelines, FindClip(*p, name, EMOTE_CLIP_TIMELINE));
  if (it == p->timelines.end()) return;
  it->stopping = false;
  SetWeight(&*it, weight, frames);
  EmotePlayerEvaluate(p);
}

void EmotePlayerStopTimeline(EmotePlayerState* p, const char* name, float frames) {
  auto it = FindActive(p->timelines, FindClip(*p, name, EMOTE_CLIP_TIMELINE));
  if (it == p->timelines.end()) return;
  if (!(frames > 0.0f)) {
    p->timelines.erase(it);
  } else {
    it->stopping = true;
    SetWeight(&*it, 0.0f, frames);
  }
  EmotePlayerEvaluate(p);
}

bool EmotePlayerMotionPlaying(const EmotePlayerState& p, const char* name) {
  if (!name) return !p.motions.empty();
  const int c = FindClip(p, name, EMOTE_CLIP_MOTION);
  for (const EmoteActiveClip& a : p.motions)
    if (static_cast<int>(a.clip) == c) return true;
  return false;
}

bool EmotePlayerTimelinePlaying(const EmotePlayerState& p, const char* name) {
  if (!name || !name[0]) return !p.timelines.empty();
  const int c = FindClip(p, name, EMOTE_CLIP_TIMELINE);
  for (const EmoteActiveClip& a : p.timelines)
    if (static_cast<int>(a.clip) == c) return true;
  return false;
}

bool EmotePlayerBusy(const EmotePlayerState& p) {
  if (!p.motions.empty() || !p.timelines.empty() || p.sway_on) return true;
  for (size_t i = 0; i < p.base.size(); i++)
    if (p.base[i] != p.target[i]) return true;
  return false;
}

static float Towards(float v, float target, float step) {
  if (v < target) return v + step >= target ? target : v + step;
  return v - step <= target ? target : v - step;
}

// A clip's time moves on; false when a clip that does not loop has come to its end.
static bool Run(const EmoteClip& clip, EmoteActiveClip* a, float frames) {
  a->time += frames;
  if (a->time < clip.length) return true;
  if (clip.flags & EMOTE_CLIP_LOOP) {
    a->time = std::fmod(a->time, clip.length);
    return true;
  }
  a->time = clip.length;
  return false;
}

void EmotePlayerAdvance(EmotePlayerState* p, float frames) {
  if (!p->runs || !(frames > 0.0f) || !std::isfinite(frames)) return;
  frames *= p->speed;
  if (frames <= 0.0f) return;
  for (size_t i = 0; i < p->base.size(); i++)
    if (p->base[i] != p->target[i]) p->base[i] = Towards(p->base[i], p->target[i], p->step[i] * frames);
  for (size_t i = 0; i < p->motions.size();) {
    EmoteActiveClip& a = p->motions[i];
    if (Run(p->model.clips[a.clip], &a, frames)) {
      i++;
    } else {
      Release(p, a);
      p->motions.erase(p->motions.begin() + static_cast<std::ptrdiff_t>(i));
    }
  }
  for (size_t i = 0; i < p->timelines.size();) {
    EmoteActiveClip& a = p->timelines[i];
    const bool on = Run(p->model.clips[a.clip], &a, frames);
    if (a.weight != a.weight_target) a.weight = Towards(a.weight, a.weight_target, a.weight_step * frames);
    if (!on || (a.stopping && a.weight <= 0.0f))
      p->timelines.erase(p->timelines.begin() + static_cast<std::ptrdiff_t>(i));
    else i++;
  }
  if (p->sway_on) p->sway_time += frames;
  EmotePlayerEvaluate(p);
}

void EmotePlayerEvaluate(EmotePlayerState* p) {
  p->value = p->base;
  for (const EmoteActiveClip& a : p->motions)
    for (const EmoteTrack& t : p->model.clips[a.clip].tracks) p->value[t.var] = EmoteCurveAt(p->model, t.curve, a.time);
  for (const EmoteActiveClip& a : p->timelines)
    for (const EmoteTrack& t : p->model.clips[a.clip].tracks) {
      float v = EmoteCurveAt(p->model, t.curve, a.time);
      p->value[t.var] += (v - p->value[t.var]) * a.weight;
    }
}

void EmotePlayerPoses(const EmotePlayerState& p, std::vector<EmotePose>* out) {
  const EmoteModel& m = p.model;
  const size_t n = m.parts.size();
  std::vector<float> dx(n, 0), dy(n, 0), scale(n, 1), rot(n, 0), opacity(n, 1);
  std::vector<bool> shown(n, true);
  for (const EmoteBinding& b : m.bindings) {
    const float v = EmoteCurveAt(m, b.curve, p.value[b.var]);
    switch (b.prop) {
      case EMOTE_PROP_X: dx[b.part] += v; break;
      case EMOTE_PROP_Y: dy[b.part] += v; break;
      case EMOTE_PROP_SCALE: scale[b.part] *= v; break;
      case EMOTE_PROP_ROTATION: rot[b.part] += v; break;
      case EMOTE_PROP_OPACITY: opacity[b.part] *= v; break;
      default:
        if (v < 0.5f) shown[b.part] = false;
        break;
    }
  }
  // The sway turns and moves the whole character about its origin.
  float sway_rot = 0, sway_x = 0, sway_y = 0;
  if (p.sway_on) {
    const float t = 2 * kPi * (p.sway_time * p.sway[1] + p.sway[0]) / 240.0f;
    sway_rot = 2.0f * p.sway[2] * std::sin(t);
    sway_x = 3.0f * p.sway[3] * std::sin(t);
    sway_y = 2.0f * p.sway[4] * std::sin(2 * t);
  }
  out->resize(n);
  for (size_t i = 0; i < n; i++) {
    const EmotePart& part = m.parts[i];
    const float r = rot[i] * kPi / 180.0f, s = scale[i];
    const float cs = std::cos(r) * s, sn = std::sin(r) * s;
    // Local map: picture pixel q -> R S (q - pivot) + (x + dx, y + dy), y down (clockwise turn).
    EmotePose l;
    l.a = cs;
    l.b = sn;
    l.c = -sn;
    l.d = cs;
    l.tx = part.x + dx[i] - (cs * part.pivot_x - sn * part.pivot_y);
    l.ty = part.y + dy[i] - (sn * part.pivot_x + cs * part.pivot_y);
    l.opacity = opacity[i];
    l.visible = shown[i];
    EmotePose parent;
    if (part.parent >= 0) {
      // The parent's space is its picture's pixels less its pivot: its origin.
      const EmotePose& q = (*out)[part.parent];
      const EmotePart& pp = m.parts[part.parent];
      parent = q;
      parent.tx = q.a * pp.pivot_x + q.c * pp.pivot_y + q.tx;
      parent.ty = q.b * pp.pivot_x + q.d * pp.pivot_y + q.ty;
    } else {
      const float sr = sway_rot * kPi / 180.0f;
      parent = {std::cos(sr), std::sin(sr), -std::sin(sr), std::cos(sr), sway_x, sway_y, 1.0f, true};
    }
    EmotePose& o = (*out)[i];
    o.a = parent.a * l.a + parent.c * l.b;
    o.b = parent.b * l.a + parent.d * l.b;
    o.c = parent.a * l.c + parent.c * l.d;
    o.d = parent.b * l.c + parent.d * l.d;
    o.tx = parent.a * l.tx + parent.c * l.ty + parent.tx;
    o.ty = parent.b * l.tx + parent.d * l.ty + parent.ty;
    o.opacity = parent.opacity * l.opacity;
    o.visible = parent.visible && l.visible;
  }
}
