// The library's entry points by number (see emote_api.h) and the drawing of a player with the
// caller's GL context: each visible part is one textured quad, blended over the target (colour by
// the part's alpha, alpha added over). Every GL setting the drawing changes is put back after it,
// so the caller's own state is what it was.
#include <epoxy/egl.h>
#include <epoxy/gl.h>

#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "emote/emote_api.h"
#include "emote/player.h"

namespace {

struct Driver {
  EmoteDevice* device;
  GLuint program = 0, vao = 0, vbo = 0, fbo = 0;
  GLuint target = 0;  // the render target texture of ordinal 121
};

struct Player {
  EmotePlayerState state;
  std::vector<GLuint> textures;  // one per part, made at the first draw
  Driver* driver;
  std::uint8_t smooth = 1;
  float opacity = 1, brightness = 1;
  float pos_x = 0, pos_y = 0, scale = 1, angle = 0;
  float colour[3] = {1, 1, 1};
};

// The filter that ordinal 3 set for the bytes it was given.
const std::uint8_t* s_FilterBytes = nullptr;
std::uint32_t s_FilterSize = 0;
EmotePixelFilter s_Filter = nullptr;

bool HaveContext() { return eglGetCurrentContext() != EGL_NO_CONTEXT; }

const char* kVertex =
    "#version 330 core\n"
    "layout(location = 0) in vec2 aPos;\n"
    "layout(location = 1) in vec2 aUv;\n"
    "out vec2 vUv;\n"
    "void main() { vUv = aUv; gl_Position = vec4(aPos, 0.0, 1.0); }\n";
const char* kFragment =
    "#version 330 core\n"
    "in vec2 vUv;\n"
    "uniform sampler2D uTex;\n"
    "uniform vec4 uMul;\n"
    "out vec4 oColour;\n"
    "void main() { vec4 t = texture(uTex, vUv); oColour = vec4(min(t.rgb * uMul.rgb, vec3(1.0)), t.a * uMul.a); }\n";

GLuint Shader(GLenum kind, const char* src) {
  GLuint s = glCreateShader(kind);
  glShaderSource(s, 1, &src, nullptr);
  glCompileShader(s);
  GLint ok = 0;
  glGetShaderiv(s, GL_COMPILE_STATUS, &ok);
  if (!ok) {
    glDeleteShader(s);
    return 0;
  }
  return s;
}

bool DriverReady(Driver* d) {
  if (d->program) return true;
  GLuint vs = Shader(GL_VERTEX_SHADER, kVertex), fs = Shader(GL_FRAGMENT_SHADER, kFragment);
  if (!vs || !fs) {
    if (vs) glDeleteShader(vs);
    if (fs) glDeleteShader(fs);
    return false;
  }
  GLuint prog = glCreateProgram();
  glAttachShader(prog, vs);
  glAttachShader(prog, fs);
  glLinkProgram(prog);
  glDeleteShader(vs);
  glDeleteShader(fs);
  GLint ok = 0;
  glGetProgramiv(prog, GL_LINK_STATUS, &ok);
  if (!ok) {
    glDeleteProgram(prog);
    return false;
  }
  d->program = prog;
  glGenVertexArrays(1, &d->vao);
  glGenBuffers(1, &d->vbo);
  glGenFramebuffers(1, &d->fbo);
  GLint old_vao = 0, old_buf = 0;
  glGetIntegerv(GL_VERTEX_ARRAY_BINDING, &old_vao);
  glGetIntegerv(GL_ARRAY_BUFFER_BINDING, &old_buf);
  glBindVertexArray(d->vao);
  glBindBuffer(GL_ARRAY_BUFFER, d->vbo);
  glBufferData(GL_ARRAY_BUFFER, 16 * sizeof(float), nullptr, GL_STREAM_DRAW);
  glEnableVertexAttribArray(0);
  glVertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, 4 * sizeof(float), nullptr);
  glEnableVertexAttribArray(1);
  glVertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, 4 * sizeof(float), reinterpret_cast<void*>(2 * sizeof(float)));
  glBindVertexArray(static_cast<GLuint>(old_vao));
  glBindBuffer(GL_ARRAY_BUFFER, static_cast<GLuint>(old_buf));
  return true;
}

void DriverFreeGl(Driver* d) {
  if (!d->program || !HaveContext()) return;
  glDeleteProgram(d->program);
  glDeleteVertexArrays(1, &d->vao);
  glDeleteBuffers(1, &d->vbo);
  glDeleteFramebuffers(1, &d->fbo);
  d->program = d->vao = d->vbo = d->fbo = 0;
}

void PlayerFreeGl(Player* p) {
  if (!p->textures.empty() && HaveContext())
    glDeleteTextures(static_cast<GLsizei>(p->textures.size()), p->textures.data());
  p->textures.clear();
}

void MakeTextures(Player* p) {
  if (!p->textures.empty()) return;
  const std::vector<EmotePart>& parts = p->state.model.parts;
  p->textures.assign(parts.size(), 0);
  if (parts.empty()) return;
  glGenTextures(static_cast<GLsizei>(parts.size()), p->textures.data());
  GLint old = 0;
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &old);
  for (size_t i = 0; i < parts.size(); i++) {
    glBindTexture(GL_TEXTURE_2D, p->textures[i]);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, static_cast<GLsizei>(parts[i].width),
                 static_cast<GLsizei>(parts[i].height), 0, GL_BGRA, GL_UNSIGNED_BYTE, parts[i].pixels.data());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  }
  glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(old));
}

// m = a * b (column-major 4 x 4).
void Mul(const float* a, const float* b, float* m) {
  for (int c = 0; c < 4; c++)
    for (int r = 0; r < 4; r++) {
      float s = 0;
      for (int k = 0; k < 4; k++) s += a[k * 4 + r] * b[c * 4 + k];
      m[c * 4 + r] = s;
    }
}

// The GL state the drawing touches, kept and put back.
struct SavedState {
  GLint fbo, viewport[4], program, vao, buffer, active, texture, sampler, src_rgb, dst_rgb, src_a, dst_a, eq_rgb, eq_a;
  GLboolean blend, scissor, depth, cull;
  void Save() {
    glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &fbo);
    glGetIntegerv(GL_VIEWPORT, viewport);
    glGetIntegerv(GL_CURRENT_PROGRAM, &program);
    glGetIntegerv(GL_VERTEX_ARRAY_BINDING, &vao);
    glGetIntegerv(GL_ARRAY_BUFFER_BINDING, &buffer);
    glGetIntegerv(GL_ACTIVE_TEXTURE, &active);
    glActiveTexture(GL_TEXTURE0);
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &texture);
    glGetIntegerv(GL_SAMPLER_BINDING, &sampler);
    glGetIntegerv(GL_BLEND_SRC_RGB, &src_rgb);
    glGetIntegerv(GL_BLEND_DST_RGB, &dst_rgb);
    glGetIntegerv(GL_BLEND_SRC_ALPHA, &src_a);
    glGetIntegerv(GL_BLEND_DST_ALPHA, &dst_a);
    glGetIntegerv(GL_BLEND_EQUATION_RGB, &eq_rgb);
    glGetIntegerv(GL_BLEND_EQUATION_ALPHA, &eq_a);
    blend = glIsEnabled(GL_BLEND);
    scissor = glIsEnabled(GL_SCISSOR_TEST);
    depth = glIsEnabled(GL_DEPTH_TEST);
    cull = glIsEnabled(GL_CULL_FACE);
  }
  static void Enable(GLenum cap, GLboolean on) { on ? glEnable(cap) : glDisable(cap); }
  void Restore() const {
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, static_cast<GLuint>(fbo));
    glViewport(viewport[0], viewport[1], viewport[2], viewport[3]);
    glUseProgram(static_cast<GLuint>(program));
    glBindVertexArray(static_cast<GLuint>(vao));
    glBindBuffer(GL_ARRAY_BUFFER, static_cast<GLuint>(buffer));
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(texture));
    glBindSampler(0, static_cast<GLuint>(sampler));
    glActiveTexture(static_cast<GLenum>(active));
    glBlendFuncSeparate(static_cast<GLenum>(src_rgb), static_cast<GLenum>(dst_rgb), static_cast<GLenum>(src_a),
                        static_cast<GLenum>(dst_a));
    glBlendEquationSeparate(static_cast<GLenum>(eq_rgb), static_cast<GLenum>(eq_a));
    Enable(GL_BLEND, blend);
    Enable(GL_SCISSOR_TEST, scissor);
    Enable(GL_DEPTH_TEST, depth);
    Enable(GL_CULL_FACE, cull);
  }
};

void Draw(Player* p) {
  Driver* d = p->driver;
  if (!d || !d->target || !HaveContext()) return;
  SavedState saved;
  saved.Save();
  if (!DriverReady(d)) {
    saved.Restore();
    return;
  }
  GLint tw = 0, th = 0;
  glBindTexture(GL_TEXTURE_2D, d->target);
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &tw);
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &th);
  glBindFramebuffer(GL_DRAW_FRAMEBUFFER, d->fbo);
  glFramebufferTexture2D(GL_DRAW_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, d->target, 0);
  if (tw <= 0 || th <= 0 || glCheckFramebufferStatus(GL_DRAW_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
    saved.Restore();
    return;
  }
  MakeTextures(p);
  glViewport(0, 0, tw, th);
  glUseProgram(d->program);
  glBindVertexArray(d->vao);
  glBindBuffer(GL_ARRAY_BUFFER, d->vbo);
  glBindSampler(0, 0);
  glEnable(GL_BLEND);
  glDisable(GL_SCISSOR_TEST);
  glDisable(GL_DEPTH_TEST);
  glDisable(GL_CULL_FACE);
  glBlendEquationSeparate(GL_FUNC_ADD, GL_FUNC_ADD);
  glBlendFuncSeparate(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA, GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
  glUniform1i(glGetUniformLocation(d->program, "uTex"), 0);
  const GLint mul = glGetUniformLocation(d->program, "uMul");

  // Character pixels -> the player's placement (y up in its position) -> the device transforms.
  float pvw[16], vw[16];
  Mul(d->device->view, d->device->world, vw);
  Mul(d->device->projection, vw, pvw);
  const float cs = std::cos(p->angle) * p->scale, sn = std::sin(p->angle) * p->scale;
  std::vector<EmotePose> poses;
  EmotePlayerPoses(p->state, &poses);
  const std::vector<EmotePart>& parts = p->state.model.parts;
  for (size_t i = 0; i < parts.size(); i++) {
    const EmotePose& q = poses[i];
    const float alpha = q.opacity * p->opacity;
    if (!q.visible || !(alpha > 0.0f)) continue;
    const float w = static_cast<float>(parts[i].width), h = static_cast<float>(parts[i].height);
    const float corner[4][4] = {{0, 0, 0, 0}, {w, 0, 1, 0}, {0, h, 0, 1}, {w, h, 1, 1}};
    float v[16];
    for (int k = 0; k < 4; k++) {
      const float x = q.a * corner[k][0] + q.c * corner[k][1] + q.tx;
      const float y = q.b * corner[k][0] + q.d * corner[k][1] + q.ty;
      // Counter-clockwise on the screen (y down), then the position (y up).
      const float px = cs * x + sn * y + p->pos_x, py = -sn * x + cs * y - p->pos_y;
      const float cx = pvw[0] * px + pvw[4] * py + pvw[12], cy = pvw[1] * px + pvw[5] * py + pvw[13];
      const float cw = pvw[3] * px + pvw[7] * py + pvw[15];
      v[k * 4 + 0] = cw != 0 ? cx / cw : cx;
      v[k * 4 + 1] = cw != 0 ? cy / cw : cy;
      v[k * 4 + 2] = corner[k][2];
      v[k * 4 + 3] = corner[k][3];
    }
    glBufferSubData(GL_ARRAY_BUFFER, 0, sizeof v, v);
    glBindTexture(GL_TEXTURE_2D, p->textures[i]);
    const GLint filter = p->smooth ? GL_LINEAR : GL_NEAREST;
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
    glUniform4f(mul, p->colour[0] * p->brightness, p->colour[1] * p->brightness, p->colour[2] * p->brightness, alpha);
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
  }
  glFramebufferTexture2D(GL_DRAW_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, 0, 0);
  saved.Restore();
}

float Clamp01(float v) { return std::isfinite(v) ? (v < 0 ? 0 : (v > 1 ? 1 : v)) : 0; }
float Finite(float v, float fallback) { return std::isfinite(v) ? v : fallback; }
Player* P(void* h) { return static_cast<Player*>(h); }

// ---- The entry points --------------------------------------------------------------------------

void* Ord2(void** block) {
  Driver* d = new (std::nothrow) Driver;
  if (!d) return nullptr;
  d->device = block ? static_cast<EmoteDevice*>(block[0]) : nullptr;
  if (!d->device) {
    delete d;
    return nullptr;
  }
  return d;
}
void Ord3(const std::uint8_t* bytes, std::uint32_t size, EmotePixelFilter filter) {
  s_FilterBytes = bytes;
  s_FilterSize = size;
  s_Filter = filter;
}
void Ord102(void* dv) {
  Driver* d = static_cast<Driver*>(dv);
  if (!d) return;
  DriverFreeGl(d);
  delete d;
}
void Ord119(void* dv, const std::uint8_t* bytes, std::uint32_t size, void** out) {
  if (!out) return;
  *out = nullptr;
  const bool filtered = s_Filter && bytes == s_FilterBytes && size == s_FilterSize;
  const EmotePixelFilter filter = s_Filter;
  s_Filter = nullptr;
  s_FilterBytes = nullptr;
  if (!dv || !bytes) return;
  Player* p = new (std::nothrow) Player;
  if (!p) return;
  if (EmotePsbRead(bytes, size, &p->state.model) != 0) {
    delete p;
    return;
  }
  if (filtered)
    for (EmotePart& part : p->state.model.parts)
      filter(part.pixels.data(), static_cast<std::uint32_t>(part.pixels.size() * 4));
  p->driver = static_cast<Driver*>(dv);
  EmotePlayerInit(&p->state);
  *out = p;
}
void Ord121(void* dv, std::uint32_t texture) {
  if (dv) static_cast<Driver*>(dv)->target = texture;
}
void Ord202(void* h) {
  if (!h) return;
  PlayerFreeGl(P(h));
  delete P(h);
}
void Ord205(void* h) {
  if (h) EmotePlayerBegin(&P(h)->state);
}
void Ord208(void* h, std::uint8_t v) {
  if (h) P(h)->smooth = v ? 1 : 0;
}
void Ord212(void* h, std::int32_t v) {
  if (h) P(h)->state.runs = v != 0;
}
void Ord214(void* h, float v) {
  if (h) P(h)->opacity = Clamp01(v);
}
void Ord218(void* h, float v) {
  if (h) P(h)->brightness = Clamp01(v);
}
void Ord216(void* h, float v) {
  if (h) P(h)->state.speed = Clamp01(v);
}
void Ord220(void* h, float x, float y, float, float) {
  if (!h) return;
  P(h)->pos_x = Finite(x, 0);
  P(h)->pos_y = Finite(y, 0);
}
void Ord222(void* h, float s, float, float) {
  if (h) P(h)->scale = Finite(s, 1);
}
void Ord224(void* h, float r, float, float) {
  if (h) P(h)->angle = Finite(r, 0);
}
void Ord226(void* h, std::uint32_t rgba, float, float) {
  if (!h) return;
  for (int c = 0; c < 3; c++) P(h)->colour[c] = static_cast<float>((rgba >> (24 - 8 * c)) & 255) / 128.0f;
}
std::uint32_t Ord228(void* h) { return h ? static_cast<std::uint32_t>(P(h)->state.model.var_names.size()) : 0; }
const char* Ord229(void* h, std::uint32_t i) {
  if (!h || i >= P(h)->state.model.var_names.size()) return nullptr;
  return P(h)->state.model.var_names[i].c_str();
}
float Ord234(void* h, const char* name) {
  if (!h) return 0;
  const int v = EmoteFindVar(P(h)->state, name);
  return v < 0 ? 0.0f : P(h)->state.value[static_cast<size_t>(v)];
}
void Ord233(void* h, const char* name, float value, float frames, float) {
  if (h) EmotePlayerSetVar(&P(h)->state, EmoteFindVar(P(h)->state, name), value, frames);
}
void Ord235(void* h, float a, float b, float c, float d, float e) {
  if (!h) return;
  EmotePlayerState& s = P(h)->state;
  const float v[5] = {a, b, c, d, e};
  for (int i = 0; i < 5; i++) s.sway[i] = Finite(v[i], 0);
  s.sway_on = true;
}
void Ord236(void* h) {
  if (h) P(h)->state.sway_on = false;
}
std::uint8_t Ord244(void* h, const char* name) {
  return h && name && EmotePlayerMotionPlaying(P(h)->state, name) ? 1 : 0;
}
void Ord245(void* h, const char* name, std::int32_t kind) {
  if (h && (kind == EMOTE_CLIP_MOTION || kind == EMOTE_CLIP_TIMELINE))
    EmotePlayerStart(&P(h)->state, name, static_cast<std::uint32_t>(kind));
}
std::uint8_t Ord246(void* h, const char* name) { return h && EmotePlayerTimelinePlaying(P(h)->state, name) ? 1 : 0; }
void Ord247(void* h, const char* name) {
  if (h) EmotePlayerStopMotion(&P(h)->state, name);
}
void Ord248(void* h, const char* name, float value, float frames, float, std::uint8_t) {
  if (h) EmotePlayerFadeTimeline(&P(h)->state, name, value, frames);
}
void Ord251(void* h, const char* name, float frames, float) {
  if (h) EmotePlayerStopTimeline(&P(h)->state, name, frames);
}
std::uint8_t Ord252(void* h) { return h && EmotePlayerMotionPlaying(P(h)->state, nullptr) ? 1 : 0; }
void Ord253(void* h) {
  if (!h) return;
  EmotePlayerInit(&P(h)->state);
  P(h)->state.sway_on = false;
  EmotePlayerBegin(&P(h)->state);
}
void Ord254(void* h, float frames) {
  if (h) EmotePlayerAdvance(&P(h)->state, frames);
}
std::uint8_t Ord255(void* h) { return h && EmotePlayerBusy(P(h)->state) ? 1 : 0; }
void Ord256(void* h) {
  if (h) Draw(P(h));
}

template <class F>
void* Fn(F f) {
  return reinterpret_cast<void*>(f);
}

}  // namespace

extern "C" __attribute__((visibility("default"))) void* ZephraEmoteProc(unsigned ordinal) {
  switch (ordinal) {
    case 2: return Fn(&Ord2);
    case 3: return Fn(&Ord3);
    case 102: return Fn(&Ord102);
    case 119: return Fn(&Ord119);
    case 121: return Fn(&Ord121);
    case 202: return Fn(&Ord202);
    case 205: return Fn(&Ord205);
    case 208: return Fn(&Ord208);
    case 212: return Fn(&Ord212);
    case 214: return Fn(&Ord214);
    case 216: return Fn(&Ord216);
    case 218: return Fn(&Ord218);
    case 220: return Fn(&Ord220);
    case 222: return Fn(&Ord222);
    case 224: return Fn(&Ord224);
    case 226: return Fn(&Ord226);
    case 228: return Fn(&Ord228);
    case 229: return Fn(&Ord229);
    case 233: return Fn(&Ord233);
    case 234: return Fn(&Ord234);
    case 235: return Fn(&Ord235);
    case 236: return Fn(&Ord236);
    case 244: return Fn(&Ord244);
    case 245: return Fn(&Ord245);
    case 246: return Fn(&Ord246);
    case 247: return Fn(&Ord247);
    case 248: return Fn(&Ord248);
    case 251: return Fn(&Ord251);
    case 252: return Fn(&Ord252);
    case 253: return Fn(&Ord253);
    case 254: return Fn(&Ord254);
    case 255: return Fn(&Ord255);
    case 256: return Fn(&Ord256);
    default: return nullptr;
  }
}
