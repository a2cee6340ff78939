// The ".psb" writer and its description reader (see psb_writer.h).
#include "kit/psb_writer.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "layer/image.h"
#include "platform/file.h"

static void Put32(std::vector<u8>* o, u32 v) {
  for (int i = 0; i < 4; i++) o->push_back(static_cast<u8>(v >> (8 * i)));
}
static void PutF(std::vector<u8>* o, float f) {
  u32 v;
  std::memcpy(&v, &f, 4);
  Put32(o, v);
}

int KitPsbEncode(const EmoteModel& m, std::vector<u8>* out, std::string* err) {
  std::vector<u8> strings, pixels;
  auto str = [&](const std::string& s) {
    u32 at = static_cast<u32>(strings.size());
    strings.insert(strings.end(), s.begin(), s.end());
    strings.push_back(0);
    return at;
  };
  std::vector<EmoteTrack> tracks;
  for (const EmoteClip& c : m.clips) tracks.insert(tracks.end(), c.tracks.begin(), c.tracks.end());
  std::vector<u8> body;
  for (size_t i = 0; i < m.var_names.size(); i++) {
    Put32(&body, str(m.var_names[i]));
    PutF(&body, i < m.var_defaults.size() ? m.var_defaults[i] : 0.0f);
  }
  for (const EmotePart& p : m.parts) {
    if (p.pixels.size() != static_cast<size_t>(p.width) * p.height) {
      *err = "part " + p.name + ": pixel count does not match its size";
      return -1;
    }
    Put32(&body, str(p.name));
    Put32(&body, static_cast<u32>(p.parent));
    PutF(&body, p.x);
    PutF(&body, p.y);
    PutF(&body, p.pivot_x);
    PutF(&body, p.pivot_y);
    Put32(&body, p.width);
    Put32(&body, p.height);
    Put32(&body, static_cast<u32>(pixels.size()));
    Put32(&body, 0);
    const u8* px = reinterpret_cast<const u8*>(p.pixels.data());
    pixels.insert(pixels.end(), px, px + p.pixels.size() * 4);
  }
  for (const EmoteBinding& b : m.bindings) {
    Put32(&body, b.part);
    Put32(&body, b.prop);
    Put32(&body, b.var);
    Put32(&body, b.curve.first);
    Put32(&body, b.curve.count);
  }
  u32 first_track = 0;
  for (const EmoteClip& c : m.clips) {
    Put32(&body, str(c.name));
    Put32(&body, c.kind);
    Put32(&body, c.flags);
    PutF(&body, c.length);
    Put32(&body, first_track);
    Put32(&body, static_cast<u32>(c.tracks.size()));
    first_track += static_cast<u32>(c.tracks.size());
  }
  for (const EmoteTrack& t : tracks) {
    Put32(&body, t.var);
    Put32(&body, t.curve.first);
    Put32(&body, t.curve.count);
  }
  for (const EmoteKey& k : m.keys) {
    PutF(&body, k.in);
    PutF(&body, k.out);
  }
  out->clear();
  out->insert(out->end(), {'Z', 'P', 'S', 'B'});
  Put32(out, 1);
  Put32(out, static_cast<u32>(m.canvas_w));
  Put32(out, static_cast<u32>(m.canvas_h));
  const size_t counts[] = {m.var_names.size(), m.parts.size(), m.bindings.size(), m.clips.size(),
                           tracks.size(),      m.keys.size(),  strings.size(),    pixels.size()};
  for (size_t n : counts) Put32(out, static_cast<u32>(n));
  out->insert(out->end(), body.begin(), body.end());
  out->insert(out->end(), strings.begin(), strings.end());
  out->insert(out->end(), pixels.begin(), pixels.end());
  EmoteModel check;
  if (EmotePsbRead(out->data(), out->size(), &check) != 0) {
    *err = "the character breaks a rule of the format (an index, a curve order, a size or a name)";
    return -1;
  }
  return 0;
}

static bool ReadFile(const std::string& path, std::vector<u8>* out) {
  std::ifstream f(path, std::ios::binary);
  if (!f) return false;
  out->assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  return true;
}

static int Index(const std::vector<std::string>& names, const std::string& n) {
  for (size_t i = 0; i < names.size(); i++)
    if (names[i] == n) return static_cast<int>(i);
  return -1;
}

// "IN:OUT" pairs into the key pool.
static bool Keys(std::istringstream& in, EmoteModel* m, EmoteCurve* c) {
  c->first = static_cast<u32>(m->keys.size());
  std::string pair;
  while (in >> pair) {
    size_t colon = pair.find(':');
    if (colon == std::string::npos) return false;
    try {
      m->keys.push_back({std::stof(pair.substr(0, colon)), std::stof(pair.substr(colon + 1))});
    } catch (...) {
      return false;
    }
  }
  c->count = static_cast<u32>(m->keys.size()) - c->first;
  return c->count > 0;
}

int KitPsbParse(const std::string& text, const std::string& folder, EmoteModel* m, std::string* err) {
  static const char* const kProps[] = {"x", "y", "scale", "rotation", "opacity", "visible"};
  std::vector<std::string> part_names;
  std::istringstream lines(text);
  std::string line;
  int no = 0;
  auto fail = [&](const std::string& why) {
    *err = "line " + std::to_string(no) + ": " + why;
    return -1;
  };
  while (std::getline(lines, line)) {
    no++;
    size_t hash = line.find('#');
    if (hash != std::string::npos) line.resize(hash);
    std::istringstream in(line);
    std::string word;
    if (!(in >> word)) continue;
    if (word == "canvas") {
      if (!(in >> m->canvas_w >> m->canvas_h)) return fail("canvas W H");
    } else if (word == "var") {
      std::string name;
      float def = 0;
      if (!(in >> name >> def)) return fail("var NAME DEFAULT");
      m->var_names.push_back(name);
      m->var_defaults.push_back(def);
    } else if (word == "part") {
      EmotePart p;
      std::string file, parent;
      if (!(in >> p.name >> file >> parent >> p.x >> p.y >> p.pivot_x >> p.pivot_y))
        return fail("part NAME PICTURE PARENT X Y PIVOTX PIVOTY");
      p.parent = parent == "-" ? -1 : Index(part_names, parent);
      if (parent != "-" && p.parent < 0) return fail("unknown parent " + parent);
      std::vector<u8> png;
      if (!ReadFile(folder + "/" + file, &png)) return fail("cannot read " + file);
      ImagePicture pic = {nullptr, 0, 0, 0};
      const int r = ImageDecodePng(png.data(), static_cast<u32>(png.size()), file.c_str(), &pic);
      if (r != 0 || !pic.pixels || pic.width < 1 || pic.height < 1) {
        std::free(pic.pixels);
        return fail("not a PNG picture: " + file);
      }
      p.width = static_cast<u32>(pic.width);
      p.height = static_cast<u32>(pic.height);
      p.pixels.resize(static_cast<size_t>(p.width) * p.height);
      std::memcpy(p.pixels.data(), pic.pixels, p.pixels.size() * 4);
      std::free(pic.pixels);
      part_names.push_back(p.name);
      m->parts.push_back(std::move(p));
    } else if (word == "bind") {
      std::string part, prop, var;
      if (!(in >> part >> prop >> var)) return fail("bind PART PROPERTY VAR IN:OUT ...");
      EmoteBinding b{};
      int pi = Index(part_names, part), vi = Index(m->var_names, var), ki = -1;
      for (int i = 0; i < EMOTE_PROP_COUNT; i++)
        if (prop == kProps[i]) ki = i;
      if (pi < 0 || vi < 0 || ki < 0) return fail("unknown part, property or variable");
      b.part = static_cast<u32>(pi);
      b.prop = static_cast<u32>(ki);
      b.var = static_cast<u32>(vi);
      if (!Keys(in, m, &b.curve)) return fail("keys IN:OUT");
      m->bindings.push_back(b);
    } else if (word == "clip") {
      EmoteClip c;
      std::string kind, flag;
      if (!(in >> kind >> c.name >> c.length) || (kind != "motion" && kind != "timeline"))
        return fail("clip motion|timeline NAME LENGTH [loop] [auto]");
      c.kind = kind == "motion" ? EMOTE_CLIP_MOTION : EMOTE_CLIP_TIMELINE;
      c.flags = 0;
      while (in >> flag) {
        if (flag == "loop") c.flags |= EMOTE_CLIP_LOOP;
        else if (flag == "auto") c.flags |= EMOTE_CLIP_AUTOSTART;
        else return fail("unknown clip flag " + flag);
      }
      m->clips.push_back(std::move(c));
    } else if (word == "track") {
      std::string var;
      if (m->clips.empty() || !(in >> var)) return fail("track VAR FRAME:VALUE ... after a clip");
      EmoteTrack t{};
      int vi = Index(m->var_names, var);
      if (vi < 0) return fail("unknown variable " + var);
      t.var = static_cast<u32>(vi);
      if (!Keys(in, m, &t.curve)) return fail("keys FRAME:VALUE");
      m->clips.back().tracks.push_back(t);
    } else {
      return fail("unknown statement " + word);
    }
  }
  return 0;
}

int KitPsbWriteFile(const std::string& src, const std::string& out, std::string* err) {
  std::vector<u8> text;
  if (!ReadFile(src, &text)) {
    *err = "cannot read " + src;
    return -1;
  }
  size_t slash = src.rfind('/');
  std::string folder = slash == std::string::npos ? "." : src.substr(0, slash);
  EmoteModel m;
  if (KitPsbParse(std::string(text.begin(), text.end()), folder, &m, err) != 0) return -1;
  std::vector<u8> bytes;
  if (KitPsbEncode(m, &bytes, err) != 0) return -1;
  if (PlatFileWriteAtomicNative(out.c_str(), bytes.data(), bytes.size()) != 0) {
    *err = "cannot write " + out;
    return -1;
  }
  return 0;
}
