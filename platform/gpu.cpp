// The GPU device on OpenGL 3.3 core through EGL (see gpu.h). Every GL object made here is counted
// (s_Live) and freed exactly once by its release call; the device's own programs, samplers and
// vertex buffer go with the device. Positions arrive as Direct3D pre-transformed coordinates
// (pixel centres on whole numbers) and are moved half a pixel to GL's centres, with y not
// flipped: screen row 0 is framebuffer row 0, so read-back rows come out top-down.
#include "platform/gpu.h"

#include <epoxy/egl.h>
#include <epoxy/gl.h>

#include <dlfcn.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>

struct PlatGpuDisplay {
  EGLDisplay dpy;
  bool surfaceless;  // contexts can be current without a surface
  bool configless;   // contexts need no config
  bool robustness;   // EGL_EXT_create_context_robustness
};
struct PlatGpuTexture {
  GLuint tex, fbo;
  i32 w, h, format;
};
struct PlatGpuBuffer {
  GLuint pbo;
  i32 w, h;
  bool mapped;
};
struct PlatGpuLayout {
  GLuint vao, vbo;
};

enum { PARAM_ALPHA, PARAM_FADE, PARAM_FADE2, PARAM_TEXSIZE, PARAM_TEXDIFF, PARAM_SHARP, PARAM_FLOATS };
struct PlatGpuEffect {
  GLuint pass[4];
  PlatGpuTexture* textures[3];
  float values[PARAM_FLOATS][2];
  i32 technique;
  i32 begun;
  i32 active_pass;  // -1 none
};

static std::atomic<i32> s_Live{0};
static bool s_FailDisplay = false;
static i32 s_ForceStatus = PLAT_GPU_OK, s_ForceCount = 0;
static i32 s_ForceMajor = 0, s_ForceMinor = 0;
static i32 s_TextureBudget = -1;
static bool s_FailRobust = false, s_FailPlain = false;
static i32 s_Attempts = 0, s_RobustAttempts = 0;

// The device.
static PlatGpuDisplay* s_Display = nullptr;
static EGLContext s_Ctx = EGL_NO_CONTEXT;
static EGLSurface s_Surface = EGL_NO_SURFACE;
static bool s_Robust = false;
static GLuint s_StageProgram[PLAT_GPU_STAGES_COUNT];
static GLuint s_StageSampler = 0, s_EffectLinear = 0, s_EffectPoint = 0;
static i32 s_Stages = PLAT_GPU_STAGES_NORMAL;
static u32 s_TextureFactor = 0;
static PlatGpuTexture* s_StageTexture[2];
static PlatGpuLayout* s_Layout = nullptr;
static PlatGpuEffect* s_ActiveEffect = nullptr;
static i32 s_TargetW = 1, s_TargetH = 1;

// ---- Programs --------------------------------------------------------------------------------

static const char kVertexSource[] = R"(#version 330 core
layout(location = 0) in vec4 inPos;
layout(location = 1) in vec4 inColor;
layout(location = 2) in vec2 inTex0;
layout(location = 3) in vec2 inTex1;
layout(location = 4) in vec2 inTex2;
layout(location = 5) in vec2 inTex3;
layout(location = 6) in vec2 inTex4;
layout(location = 7) in vec2 inTex5;
layout(location = 8) in vec2 inTex6;
layout(location = 9) in vec2 inTex7;
uniform vec2 uTarget;
out vec4 vColor;
out vec2 vTex[8];
void main() {
  vec2 p = (inPos.xy + 0.5) / uTarget * 2.0 - 1.0;
  gl_Position = vec4(p, 0.0, 1.0);
  vColor = inColor;
  vTex[0] = inTex0; vTex[1] = inTex1; vTex[2] = inTex2; vTex[3] = inTex3;
  vTex[4] = inTex4; vTex[5] = inTex5; vTex[6] = inTex6; vTex[7] = inTex7;
}
)";

static const char kFragmentHead[] = R"(#version 330 core
in vec4 vColor;
in vec2 vTex[8];
out vec4 outColor;
)";

// One body per stage set-up, in PLAT_GPU_STAGES_... order.
static const char* const kStageBodies[PLAT_GPU_STAGES_COUNT] = {
    "uniform sampler2D uStage0; uniform vec4 uFactor;\n"
    "void main() { vec4 t = texture(uStage0, vTex[0]); outColor = vec4(t.rgb, t.a * uFactor.a); }\n",
    "uniform sampler2D uStage0;\n"
    "void main() { vec4 t = texture(uStage0, vTex[0]); outColor = vec4(t.rgb, t.a * vColor.a); }\n",
    "uniform sampler2D uStage0;\n"
    "void main() { outColor = texture(uStage0, vTex[0]) * vColor; }\n",
    "uniform sampler2D uStage0; uniform sampler2D uStage1;\n"
    "void main() { vec4 c = texture(uStage0, vTex[0]) * vColor; vec4 s = texture(uStage1, vTex[1]);\n"
    "  outColor = vec4(c.rgb * c.a + s.rgb * (1.0 - c.a), c.a); }\n",
    "uniform sampler2D uStage0; uniform vec4 uFactor;\n"
    "void main() { vec4 c = texture(uStage0, vTex[0]) * vColor;\n"
    "  outColor = vec4(c.rgb * c.a + uFactor.rgb * (1.0 - c.a), c.a); }\n",
};

static const char kEffectParams[] = R"(uniform sampler2D ZP_Texture1;
uniform sampler2D ZP_Texture2;
uniform sampler2D ZP_Texture3;
uniform float ZP_AlphaVal;
uniform float ZP_FadeVal;
uniform float ZP_FadeVal2;
uniform vec2 ZP_TexSize;
uniform vec2 ZP_TexDiffU;
uniform vec2 SharpN;
)";

static const char* const kPassBodies[4] = {
    // Pass0: cross-fade from the second texture.
    "void main() { vec4 a = texture(ZP_Texture1, vTex[0]); vec4 b = texture(ZP_Texture2, vTex[0]);\n"
    "  vec4 r = a * (1.0 - ZP_FadeVal) + b * ZP_FadeVal; outColor = vec4(r.rgb, r.a * ZP_AlphaVal); }\n",
    // Pass1: mask (rule) transition by the mask's red channel.
    "void main() { vec4 a = texture(ZP_Texture1, vTex[0]); vec4 m = texture(ZP_Texture2, vTex[0]);\n"
    "  float k = clamp((ZP_FadeVal - 0.5 * m.r) * ZP_FadeVal2, 0.0, 1.0);\n"
    "  outColor = vec4(a.rgb, a.a * k * ZP_AlphaVal); }\n",
    // Pass2: bilinear with sharpened fractions over four neighbouring texels.
    "void main() { vec4 s0 = texture(ZP_Texture3, vTex[0]); vec4 s1 = texture(ZP_Texture3, vTex[1]);\n"
    "  vec4 s2 = texture(ZP_Texture3, vTex[2]); vec4 s3 = texture(ZP_Texture3, vTex[3]);\n"
    "  vec2 f = clamp((fract(vTex[0] * ZP_TexSize) - 0.5) * SharpN + 0.5, 0.0, 1.0);\n"
    "  outColor = mix(mix(s0, s1, f.x), mix(s2, s3, f.x), f.y); }\n",
    // Pass3: bicubic over sixteen taps: row r reads coordinates 2r and 2r+1, each also one texel on.
    "vec4 W(float f) { float f2 = f * f, f3 = f2 * f;\n"
    "  return vec4(-f3 + 2.0 * f2 - f, f3 - 2.0 * f2 + 1.0, -f3 + f2 + f, f3 - f2); }\n"
    "void main() { vec2 f = fract(vTex[0] * ZP_TexSize); vec4 wx = W(f.x); vec4 wy = W(f.y); vec4 r = vec4(0.0);\n"
    "  for (int y = 0; y < 4; y++) {\n"
    "    vec4 row = texture(ZP_Texture3, vTex[2 * y]) * wx.x + texture(ZP_Texture3, vTex[2 * y] + ZP_TexDiffU) * wx.y\n"
    "      + texture(ZP_Texture3, vTex[2 * y + 1]) * wx.z + texture(ZP_Texture3, vTex[2 * y + 1] + ZP_TexDiffU) * "
    "wx.w;\n"
    "    r += row * wy[y]; }\n"
    "  outColor = r; }\n",
};

static GLuint Compile(GLenum kind, const std::string& src, char* log, size_t log_size) {
  GLuint sh = glCreateShader(kind);
  const char* p = src.c_str();
  glShaderSource(sh, 1, &p, nullptr);
  glCompileShader(sh);
  GLint ok = 0;
  glGetShaderiv(sh, GL_COMPILE_STATUS, &ok);
  if (!ok) {
    if (log && log_size) glGetShaderInfoLog(sh, static_cast<GLsizei>(log_size), nullptr, log);
    glDeleteShader(sh);
    return 0;
  }
  return sh;
}

static GLuint BuildProgram(const std::string& fragment, char* log, size_t log_size) {
  GLuint vs = Compile(GL_VERTEX_SHADER, kVertexSource, log, log_size);
  if (!vs) return 0;
  GLuint fs = Compile(GL_FRAGMENT_SHADER, fragment, log, log_size);
  if (!fs) {
    glDeleteShader(vs);
    return 0;
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
    if (log && log_size) glGetProgramInfoLog(prog, static_cast<GLsizei>(log_size), nullptr, log);
    glDeleteProgram(prog);
    return 0;
  }
  s_Live++;
  return prog;
}

static void DeleteProgram(GLuint* prog) {
  if (!*prog) return;
  glDeleteProgram(*prog);
  *prog = 0;
  s_Live--;
}

static GLuint MakeSampler(GLint mag, GLint min) {
  GLuint s = 0;
  glGenSamplers(1, &s);
  if (!s) return 0;
  s_Live++;
  glSamplerParameteri(s, GL_TEXTURE_MAG_FILTER, mag);
  glSamplerParameteri(s, GL_TEXTURE_MIN_FILTER, min);
  glSamplerParameteri(s, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
  glSamplerParameteri(s, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  return s;
}

static void DeleteSampler(GLuint* s) {
  if (!*s) return;
  glDeleteSamplers(1, s);
  *s = 0;
  s_Live--;
}

static void ClearErrors() {
  for (int i = 0; i < 16 && glGetError() != GL_NO_ERROR; i++) {}
}

// ---- Display and device ----------------------------------------------------------------------

static bool HasExt(const char* list, const char* name) {
  if (!list) return false;
  size_t n = strlen(name);
  for (const char* p = strstr(list, name); p; p = strstr(p + 1, name))
    if ((p == list || p[-1] == ' ') && (p[n] == ' ' || p[n] == 0)) return true;
  return false;
}

static EGLDisplay TryDisplay(EGLenum platform, void* native) {
  EGLDisplay d = eglGetPlatformDisplayEXT(platform, native, nullptr);
  if (d == EGL_NO_DISPLAY) return d;
  EGLint major = 0, minor = 0;
  if (!eglInitialize(d, &major, &minor)) return EGL_NO_DISPLAY;
  return d;
}

PlatGpuDisplay* PlatGpuDisplayOpen() {
  if (s_FailDisplay) return nullptr;
  // libepoxy ends the process when it cannot load EGL: a machine without it has no display.
  static void* const egl = dlopen("libEGL.so.1", RTLD_LAZY | RTLD_GLOBAL);
  if (!egl) return nullptr;
  const char* client = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
  EGLDisplay d = EGL_NO_DISPLAY;
  if (HasExt(client, "EGL_EXT_platform_base")) {
    if (HasExt(client, "EGL_MESA_platform_surfaceless"))
      d = TryDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY);
    if (d == EGL_NO_DISPLAY && HasExt(client, "EGL_EXT_platform_device") &&
        HasExt(client, "EGL_EXT_device_enumeration")) {
      EGLDeviceEXT devices[8];
      EGLint count = 0;
      if (eglQueryDevicesEXT(8, devices, &count) && count > 0) d = TryDisplay(EGL_PLATFORM_DEVICE_EXT, devices[0]);
    }
  }
  if (d == EGL_NO_DISPLAY) {
    d = eglGetDisplay(EGL_DEFAULT_DISPLAY);
    EGLint major = 0, minor = 0;
    if (d != EGL_NO_DISPLAY && !eglInitialize(d, &major, &minor)) d = EGL_NO_DISPLAY;
  }
  if (d == EGL_NO_DISPLAY) return nullptr;
  const char* ext = eglQueryString(d, EGL_EXTENSIONS);
  PlatGpuDisplay* out = new PlatGpuDisplay{};
  out->dpy = d;
  out->surfaceless = HasExt(ext, "EGL_KHR_surfaceless_context");
  out->configless = HasExt(ext, "EGL_KHR_no_config_context") || HasExt(ext, "EGL_MESA_configless_context");
  out->robustness = HasExt(ext, "EGL_EXT_create_context_robustness");
  return out;
}

void PlatGpuDisplayClose(PlatGpuDisplay* d) {
  if (!d) return;
  if (s_Display == d) PlatGpuDeviceRelease();
  // The EGL display is the process's one connection to the driver and opening it again gives the
  // same one: it stays initialised for the run (terminating and re-initialising it leaks inside
  // the driver on every device rebuild).
  delete d;
}

static void ReleaseFixed() {
  for (GLuint& p : s_StageProgram) DeleteProgram(&p);
  DeleteSampler(&s_StageSampler);
  DeleteSampler(&s_EffectLinear);
  DeleteSampler(&s_EffectPoint);
}

static void DestroyContext() {
  if (s_Ctx == EGL_NO_CONTEXT) return;
  EGLDisplay dpy = s_Display->dpy;
  eglMakeCurrent(dpy, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
  eglDestroyContext(dpy, s_Ctx);
  if (s_Surface != EGL_NO_SURFACE) eglDestroySurface(dpy, s_Surface);
  s_Ctx = EGL_NO_CONTEXT;
  s_Surface = EGL_NO_SURFACE;
  s_Display = nullptr;
}

i32 PlatGpuDeviceCreate(PlatGpuDisplay* d, i32 robust) {
  if (!d || s_Ctx != EGL_NO_CONTEXT) return -1;
  s_Attempts++;
  if (robust) s_RobustAttempts++;
  if (robust ? s_FailRobust : s_FailPlain) return -1;
  if (robust && !d->robustness) return -1;
  if (!eglBindAPI(EGL_OPENGL_API)) return -1;
  EGLConfig config = EGL_NO_CONFIG_KHR;
  if (!d->configless || !d->surfaceless) {
    const EGLint want[] = {EGL_SURFACE_TYPE,
                           EGL_PBUFFER_BIT,
                           EGL_RENDERABLE_TYPE,
                           EGL_OPENGL_BIT,
                           EGL_RED_SIZE,
                           8,
                           EGL_GREEN_SIZE,
                           8,
                           EGL_BLUE_SIZE,
                           8,
                           EGL_ALPHA_SIZE,
                           8,
                           EGL_NONE};
    EGLint n = 0;
    if (!eglChooseConfig(d->dpy, want, &config, 1, &n) || n < 1) return -1;
  }
  EGLint attrs[16];
  int n = 0;
  attrs[n++] = EGL_CONTEXT_MAJOR_VERSION;
  attrs[n++] = 3;
  attrs[n++] = EGL_CONTEXT_MINOR_VERSION;
  attrs[n++] = 3;
  attrs[n++] = EGL_CONTEXT_OPENGL_PROFILE_MASK;
  attrs[n++] = EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT;
  if (robust) {
    attrs[n++] = EGL_CONTEXT_OPENGL_RESET_NOTIFICATION_STRATEGY;
    attrs[n++] = EGL_LOSE_CONTEXT_ON_RESET;
    attrs[n++] = EGL_CONTEXT_OPENGL_ROBUST_ACCESS;
    attrs[n++] = EGL_TRUE;
  }
  attrs[n] = EGL_NONE;
  EGLContext ctx = eglCreateContext(d->dpy, config, EGL_NO_CONTEXT, attrs);
  if (ctx == EGL_NO_CONTEXT) return -1;
  EGLSurface surf = EGL_NO_SURFACE;
  if (!d->surfaceless) {
    const EGLint pb[] = {EGL_WIDTH, 1, EGL_HEIGHT, 1, EGL_NONE};
    surf = eglCreatePbufferSurface(d->dpy, config, pb);
    if (surf == EGL_NO_SURFACE) {
      eglDestroyContext(d->dpy, ctx);
      return -1;
    }
  }
  s_Display = d;
  s_Ctx = ctx;
  s_Surface = surf;
  s_Robust = robust != 0;
  if (!eglMakeCurrent(d->dpy, surf, surf, ctx) || epoxy_gl_version() < 33) {
    DestroyContext();
    return -1;
  }
  bool ok = true;
  for (int i = 0; i < PLAT_GPU_STAGES_COUNT && ok; i++) {
    s_StageProgram[i] = BuildProgram(std::string(kFragmentHead) + kStageBodies[i], nullptr, 0);
    ok = s_StageProgram[i] != 0;
  }
  s_StageSampler = MakeSampler(GL_LINEAR, GL_LINEAR);
  s_EffectLinear = MakeSampler(GL_LINEAR, GL_LINEAR);
  s_EffectPoint = MakeSampler(GL_NEAREST, GL_NEAREST);
  if (!ok || !s_StageSampler || !s_EffectLinear || !s_EffectPoint) {
    ReleaseFixed();
    DestroyContext();
    return -1;
  }
  glDisable(GL_DEPTH_TEST);
  glDisable(GL_CULL_FACE);
  glDisable(GL_DITHER);
  glEnable(GL_BLEND);
  s_Stages = PLAT_GPU_STAGES_NORMAL;
  s_TextureFactor = 0;
  s_StageTexture[0] = s_StageTexture[1] = nullptr;
  s_Layout = nullptr;
  s_ActiveEffect = nullptr;
  return 0;
}

void PlatGpuDeviceRelease() {
  if (s_Ctx == EGL_NO_CONTEXT) return;
  PlatGpuBind();
  ReleaseFixed();
  DestroyContext();
}

bool PlatGpuDeviceExists() { return s_Ctx != EGL_NO_CONTEXT; }

bool PlatGpuBind() {
  if (s_Ctx == EGL_NO_CONTEXT) return false;
  if (eglGetCurrentContext() == s_Ctx) return true;
  return eglMakeCurrent(s_Display->dpy, s_Surface, s_Surface, s_Ctx) == EGL_TRUE;
}

void PlatGpuUnbind() {
  if (s_Ctx == EGL_NO_CONTEXT || eglGetCurrentContext() != s_Ctx) return;
  eglMakeCurrent(s_Display->dpy, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
}

static void CopyText(char* dst, size_t size, const GLubyte* src) {
  snprintf(dst, size, "%s", src ? reinterpret_cast<const char*>(src) : "");
}

void PlatGpuQueryInfo(PlatGpuInfo* out) {
  *out = PlatGpuInfo{};
  if (!PlatGpuBind()) return;
  CopyText(out->vendor, sizeof out->vendor, glGetString(GL_VENDOR));
  CopyText(out->renderer, sizeof out->renderer, glGetString(GL_RENDERER));
  CopyText(out->version, sizeof out->version, glGetString(GL_VERSION));
  CopyText(out->glsl, sizeof out->glsl, glGetString(GL_SHADING_LANGUAGE_VERSION));
  GLint v = 0, vp[2] = {0, 0};
  glGetIntegerv(GL_MAJOR_VERSION, &v);
  out->major = v;
  glGetIntegerv(GL_MINOR_VERSION, &v);
  out->minor = v;
  if (s_ForceMajor) {
    out->major = s_ForceMajor;
    out->minor = s_ForceMinor;
  }
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &v);
  out->max_texture_width = out->max_texture_height = v;
  glGetIntegerv(GL_MAX_VIEWPORT_DIMS, vp);
  out->max_viewport_width = vp[0];
  out->max_viewport_height = vp[1];
  glGetIntegerv(GL_MAX_TEXTURE_IMAGE_UNITS, &v);
  out->texture_units = v;
  if (epoxy_has_gl_extension("GL_NVX_gpu_memory_info")) {
    glGetIntegerv(0x9049 /* GPU_MEMORY_INFO_CURRENT_AVAILABLE_VIDMEM_NVX, kB */, &v);
    out->texture_memory_mb = v >> 10;
  }
  ClearErrors();
  out->robust = s_Robust;
}

i32 PlatGpuDeviceStatus() {
  if (s_ForceCount > 0) {
    s_ForceCount--;
    return s_ForceStatus;
  }
  if (!s_Robust || !PlatGpuBind()) return PLAT_GPU_OK;
  GLenum r = GL_NO_ERROR;
  if (epoxy_gl_version() >= 45 || epoxy_has_gl_extension("GL_KHR_robustness")) r = glGetGraphicsResetStatus();
  else if (epoxy_has_gl_extension("GL_ARB_robustness")) r = glGetGraphicsResetStatusARB();
  // With lose-context-on-reset a reported reset means the context is gone: only a new one helps.
  return r == GL_NO_ERROR ? PLAT_GPU_OK : PLAT_GPU_NOT_RESET;
}

// ---- Resources -------------------------------------------------------------------------------

PlatGpuTexture* PlatGpuTextureCreate(i32 w, i32 h, i32 format) {
  if (w <= 0 || h <= 0 || !PlatGpuBind()) return nullptr;
  if (s_TextureBudget == 0) return nullptr;
  GLint max = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &max);
  if (w > max || h > max) return nullptr;
  ClearErrors();
  GLuint tex = 0;
  glGenTextures(1, &tex);
  if (!tex) return nullptr;
  glActiveTexture(GL_TEXTURE0);
  glBindTexture(GL_TEXTURE_2D, tex);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
  glTexImage2D(GL_TEXTURE_2D, 0, format == PLAT_GPU_RGBA4 ? GL_RGBA4 : GL_RGBA8, w, h, 0, GL_BGRA, GL_UNSIGNED_BYTE,
               nullptr);
  glBindTexture(GL_TEXTURE_2D, 0);
  if (glGetError() != GL_NO_ERROR) {
    glDeleteTextures(1, &tex);
    return nullptr;
  }
  if (s_TextureBudget > 0) s_TextureBudget--;
  s_Live++;
  return new PlatGpuTexture{tex, 0, w, h, format};
}

void PlatGpuTextureRelease(PlatGpuTexture* t) {
  if (!t) return;
  if (PlatGpuBind()) {
    if (t->fbo) {
      glDeleteFramebuffers(1, &t->fbo);
      s_Live--;
    }
    glDeleteTextures(1, &t->tex);
    s_Live--;
  }
  for (PlatGpuTexture*& s : s_StageTexture)
    if (s == t) s = nullptr;
  delete t;
}

void PlatGpuTextureSize(const PlatGpuTexture* t, i32* w, i32* h) {
  *w = t ? t->w : 0;
  *h = t ? t->h : 0;
}

i32 PlatGpuTextureUpload(PlatGpuTexture* t, const void* data, i32 pitch, i32 kind) {
  if (!t || !data || !PlatGpuBind()) return -1;
  const i32 bpp = kind == PLAT_GPU_DATA_ARGB4444 ? 2 : 4;
  if (pitch < t->w * bpp || pitch % bpp) return -1;
  ClearErrors();
  glBindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);
  glActiveTexture(GL_TEXTURE0);
  glBindTexture(GL_TEXTURE_2D, t->tex);
  glPixelStorei(GL_UNPACK_ALIGNMENT, bpp);
  glPixelStorei(GL_UNPACK_ROW_LENGTH, pitch / bpp);
  glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, t->w, t->h, GL_BGRA,
                  kind == PLAT_GPU_DATA_ARGB4444 ? GL_UNSIGNED_SHORT_4_4_4_4_REV : GL_UNSIGNED_BYTE, data);
  glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
  glBindTexture(GL_TEXTURE_2D, 0);
  return glGetError() == GL_NO_ERROR ? 0 : -1;
}

static bool EnsureFramebuffer(PlatGpuTexture* t) {
  if (t->fbo) return true;
  GLuint fbo = 0;
  glGenFramebuffers(1, &fbo);
  if (!fbo) return false;
  s_Live++;
  t->fbo = fbo;
  glBindFramebuffer(GL_FRAMEBUFFER, fbo);
  glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, t->tex, 0);
  return glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
}

PlatGpuBuffer* PlatGpuBufferCreate(i32 w, i32 h) {
  if (w <= 0 || h <= 0 || !PlatGpuBind()) return nullptr;
  const i64 size = i64{w} * h * 4;
  if (size > (i64{1} << 31) - 1) return nullptr;
  ClearErrors();
  GLuint pbo = 0;
  glGenBuffers(1, &pbo);
  if (!pbo) return nullptr;
  glBindBuffer(GL_PIXEL_PACK_BUFFER, pbo);
  glBufferData(GL_PIXEL_PACK_BUFFER, static_cast<GLsizeiptr>(size), nullptr, GL_STREAM_READ);
  glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
  if (glGetError() != GL_NO_ERROR) {
    glDeleteBuffers(1, &pbo);
    return nullptr;
  }
  s_Live++;
  return new PlatGpuBuffer{pbo, w, h, false};
}

void PlatGpuBufferRelease(PlatGpuBuffer* b) {
  if (!b) return;
  if (PlatGpuBind()) {
    if (b->mapped) PlatGpuBufferUnlock(b);
    glDeleteBuffers(1, &b->pbo);
    s_Live--;
  }
  delete b;
}

i32 PlatGpuBufferFill(PlatGpuBuffer* b, PlatGpuTexture* src) {
  if (!b || !src || b->mapped || src->w != b->w || src->h != b->h || !PlatGpuBind()) return -1;
  ClearErrors();
  if (!EnsureFramebuffer(src)) return -1;
  glBindFramebuffer(GL_READ_FRAMEBUFFER, src->fbo);
  glBindBuffer(GL_PIXEL_PACK_BUFFER, b->pbo);
  glPixelStorei(GL_PACK_ALIGNMENT, 4);
  glPixelStorei(GL_PACK_ROW_LENGTH, 0);
  glReadPixels(0, 0, b->w, b->h, GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
  glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
  return glGetError() == GL_NO_ERROR ? 0 : -1;
}

const u8* PlatGpuBufferLock(PlatGpuBuffer* b, i32* pitch) {
  if (!b || b->mapped || !PlatGpuBind()) return nullptr;
  glBindBuffer(GL_PIXEL_PACK_BUFFER, b->pbo);
  void* p = glMapBufferRange(GL_PIXEL_PACK_BUFFER, 0, static_cast<GLsizeiptr>(i64{b->w} * b->h * 4), GL_MAP_READ_BIT);
  glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
  if (!p) return nullptr;
  b->mapped = true;
  *pitch = b->w * 4;
  return static_cast<const u8*>(p);
}

i32 PlatGpuBufferUnlock(PlatGpuBuffer* b) {
  if (!b || !b->mapped || !PlatGpuBind()) return -1;
  glBindBuffer(GL_PIXEL_PACK_BUFFER, b->pbo);
  GLboolean ok = glUnmapBuffer(GL_PIXEL_PACK_BUFFER);
  glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
  b->mapped = false;
  return ok ? 0 : -1;
}

PlatGpuLayout* PlatGpuLayoutCreate() {
  if (!PlatGpuBind()) return nullptr;
  GLuint vao = 0, vbo = 0;
  glGenVertexArrays(1, &vao);
  glGenBuffers(1, &vbo);
  if (!vao || !vbo) {
    if (vao) glDeleteVertexArrays(1, &vao);
    if (vbo) glDeleteBuffers(1, &vbo);
    return nullptr;
  }
  s_Live += 2;
  glBindVertexArray(vao);
  glBindBuffer(GL_ARRAY_BUFFER, vbo);
  glBufferData(GL_ARRAY_BUFFER, 4 * PLAT_GPU_VERTEX_SIZE, nullptr, GL_STREAM_DRAW);
  glEnableVertexAttribArray(0);
  glVertexAttribPointer(0, 4, GL_FLOAT, GL_FALSE, PLAT_GPU_VERTEX_SIZE, reinterpret_cast<void*>(0));
  glEnableVertexAttribArray(1);  // D3DCOLOR: B, G, R, A bytes
  glVertexAttribPointer(1, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE, PLAT_GPU_VERTEX_SIZE, reinterpret_cast<void*>(16));
  for (GLuint i = 0; i < 8; i++) {
    glEnableVertexAttribArray(2 + i);
    glVertexAttribPointer(2 + i, 2, GL_FLOAT, GL_FALSE, PLAT_GPU_VERTEX_SIZE,
                          reinterpret_cast<void*>(static_cast<uintptr_t>(20 + 8 * i)));
  }
  glBindVertexArray(0);
  glBindBuffer(GL_ARRAY_BUFFER, 0);
  return new PlatGpuLayout{vao, vbo};
}

void PlatGpuLayoutRelease(PlatGpuLayout* l) {
  if (!l) return;
  if (PlatGpuBind()) {
    glDeleteVertexArrays(1, &l->vao);
    glDeleteBuffers(1, &l->vbo);
    s_Live -= 2;
  }
  if (s_Layout == l) s_Layout = nullptr;
  delete l;
}

i32 PlatGpuLayoutSet(PlatGpuLayout* l) {
  if (!l || !PlatGpuBind()) return -1;
  s_Layout = l;
  return 0;
}

// ---- Effect ----------------------------------------------------------------------------------

PlatGpuEffect* PlatGpuEffectCreate(char* log, size_t log_size) {
  if (!PlatGpuBind()) return nullptr;
  PlatGpuEffect* e = new PlatGpuEffect{};
  for (int i = 0; i < 4; i++) {
    e->pass[i] = BuildProgram(std::string(kFragmentHead) + kEffectParams + kPassBodies[i], log, log_size);
    if (!e->pass[i]) {
      PlatGpuEffectRelease(e);
      return nullptr;
    }
  }
  e->values[PARAM_SHARP][0] = e->values[PARAM_SHARP][1] = 1.25f;
  e->active_pass = -1;
  return e;
}

void PlatGpuEffectRelease(PlatGpuEffect* e) {
  if (!e) return;
  if (PlatGpuBind())
    for (GLuint& p : e->pass) DeleteProgram(&p);
  if (s_ActiveEffect == e) s_ActiveEffect = nullptr;
  delete e;
}

i32 PlatGpuEffectFindTechnique(PlatGpuEffect* e, const char* name) {
  return e && name && strcmp(name, "ZP_ShaderTest1") == 0 ? 1 : 0;
}

i32 PlatGpuEffectSetTechnique(PlatGpuEffect* e, i32 technique) {
  if (!e || technique != 1) return -1;
  e->technique = technique;
  return 0;
}

i32 PlatGpuEffectBegin(PlatGpuEffect* e) {
  if (!e || e->technique != 1) return -1;
  e->begun = 1;
  e->active_pass = -1;
  return 0;
}

i32 PlatGpuEffectEnd(PlatGpuEffect* e) {
  if (!e || !e->begun) return -1;
  e->begun = 0;
  e->active_pass = -1;
  if (s_ActiveEffect == e) s_ActiveEffect = nullptr;
  return 0;
}

static const char* const kFloatNames[PARAM_FLOATS] = {"ZP_AlphaVal", "ZP_FadeVal",  "ZP_FadeVal2",
                                                      "ZP_TexSize",  "ZP_TexDiffU", "SharpN"};
static const i32 kFloatCounts[PARAM_FLOATS] = {1, 1, 1, 2, 2, 2};
static const char* const kTextureNames[3] = {"ZP_Texture1", "ZP_Texture2", "ZP_Texture3"};

i32 PlatGpuEffectCommit(PlatGpuEffect* e) {
  if (!e || e->active_pass < 0 || !PlatGpuBind()) return -1;
  GLuint prog = e->pass[e->active_pass];
  glUseProgram(prog);
  for (int i = 0; i < PARAM_FLOATS; i++) {
    GLint loc = glGetUniformLocation(prog, kFloatNames[i]);
    if (loc < 0) continue;
    if (kFloatCounts[i] == 1) glUniform1f(loc, e->values[i][0]);
    else glUniform2f(loc, e->values[i][0], e->values[i][1]);
  }
  for (int i = 0; i < 3; i++) {
    GLint loc = glGetUniformLocation(prog, kTextureNames[i]);
    if (loc >= 0) glUniform1i(loc, i);
  }
  return 0;
}

i32 PlatGpuEffectBeginPass(PlatGpuEffect* e, i32 pass) {
  if (!e || !e->begun || pass < 0 || pass > 3 || e->active_pass >= 0) return -1;
  e->active_pass = pass;
  s_ActiveEffect = e;
  return PlatGpuEffectCommit(e);
}

i32 PlatGpuEffectEndPass(PlatGpuEffect* e) {
  if (!e || e->active_pass < 0) return -1;
  e->active_pass = -1;
  if (s_ActiveEffect == e) s_ActiveEffect = nullptr;
  return 0;
}

i32 PlatGpuEffectSetTexture(PlatGpuEffect* e, const char* name, PlatGpuTexture* t) {
  if (!e || !name) return -1;
  for (int i = 0; i < 3; i++)
    if (strcmp(name, kTextureNames[i]) == 0) {
      e->textures[i] = t;
      return 0;
    }
  return -1;
}

i32 PlatGpuEffectSetFloats(PlatGpuEffect* e, const char* name, const float* v, i32 count) {
  if (!e || !name || !v) return -1;
  for (int i = 0; i < PARAM_FLOATS; i++)
    if (strcmp(name, kFloatNames[i]) == 0) {
      if (count != kFloatCounts[i]) return -1;
      for (int k = 0; k < count; k++) e->values[i][k] = v[k];
      return 0;
    }
  return -1;
}

// ---- Drawing ---------------------------------------------------------------------------------

i32 PlatGpuSetTarget(PlatGpuTexture* t) {
  if (!t || !PlatGpuBind()) return -1;
  if (!EnsureFramebuffer(t)) return -1;
  glBindFramebuffer(GL_FRAMEBUFFER, t->fbo);
  glViewport(0, 0, t->w, t->h);
  s_TargetW = t->w;
  s_TargetH = t->h;
  return 0;
}

i32 PlatGpuClear(u32 argb) {
  if (!PlatGpuBind()) return -1;
  glClearColor(static_cast<float>((argb >> 16) & 255) / 255.0f, static_cast<float>((argb >> 8) & 255) / 255.0f,
               static_cast<float>(argb & 255) / 255.0f, static_cast<float>(argb >> 24) / 255.0f);
  glClear(GL_COLOR_BUFFER_BIT);
  return glGetError() == GL_NO_ERROR ? 0 : -1;
}

i32 PlatGpuSetFilters(i32 mag, i32 min, i32 mip) {
  if (!PlatGpuBind() || !s_StageSampler) return -1;
  // One level per texture: the mip filter only chooses among min-filter variants.
  const GLint mag_gl = mag == 0 ? GL_NEAREST : GL_LINEAR;
  GLint min_gl = min == 0 ? GL_NEAREST : GL_LINEAR;
  if (mip >= 0) {
    if (min == 0) min_gl = mip == 0 ? GL_NEAREST_MIPMAP_NEAREST : GL_NEAREST_MIPMAP_LINEAR;
    else min_gl = mip == 0 ? GL_LINEAR_MIPMAP_NEAREST : GL_LINEAR_MIPMAP_LINEAR;
  }
  glSamplerParameteri(s_StageSampler, GL_TEXTURE_MAG_FILTER, mag_gl);
  glSamplerParameteri(s_StageSampler, GL_TEXTURE_MIN_FILTER, min_gl);
  return 0;
}

i32 PlatGpuSetTexture(i32 stage, PlatGpuTexture* t) {
  if (stage < 0 || stage > 7) return -1;
  if (stage < 2) s_StageTexture[stage] = t;
  return 0;
}

i32 PlatGpuSetStages(i32 stages, u32 texture_factor) {
  if (stages < 0 || stages >= PLAT_GPU_STAGES_COUNT) return -1;
  s_Stages = stages;
  s_TextureFactor = texture_factor;
  return 0;
}

static GLenum BlendFactor(i32 f) {
  static const GLenum k[] = {GL_ZERO,
                             GL_ZERO,
                             GL_ONE,
                             GL_SRC_COLOR,
                             GL_ONE_MINUS_SRC_COLOR,
                             GL_SRC_ALPHA,
                             GL_ONE_MINUS_SRC_ALPHA,
                             GL_DST_ALPHA,
                             GL_ONE_MINUS_DST_ALPHA,
                             GL_DST_COLOR,
                             GL_ONE_MINUS_DST_COLOR};
  return f >= 1 && f <= 10 ? k[f] : GL_INVALID_ENUM;
}

i32 PlatGpuSetBlend(i32 src, i32 dst, i32 op) {
  static const GLenum kOps[] = {GL_INVALID_ENUM,          GL_FUNC_ADD, GL_FUNC_SUBTRACT,
                                GL_FUNC_REVERSE_SUBTRACT, GL_MIN,      GL_MAX};
  GLenum s = BlendFactor(src), d = BlendFactor(dst);
  if (s == GL_INVALID_ENUM || d == GL_INVALID_ENUM || op < 1 || op > 5 || !PlatGpuBind()) return -1;
  glEnable(GL_BLEND);
  glBlendFunc(s, d);
  glBlendEquation(kOps[op]);
  return 0;
}

i32 PlatGpuSetPixelShaderNone() {
  if (s_ActiveEffect) s_ActiveEffect->active_pass = -1;
  s_ActiveEffect = nullptr;
  return 0;
}

static void BindUnit(GLuint unit, PlatGpuTexture* t, GLuint sampler) {
  glActiveTexture(GL_TEXTURE0 + unit);
  glBindTexture(GL_TEXTURE_2D, t ? t->tex : 0);
  glBindSampler(unit, sampler);
}

i32 PlatGpuDrawQuad(const void* vertices) {
  if (!vertices || !s_Layout || !PlatGpuBind()) return -1;
  GLuint prog;
  PlatGpuEffect* e = s_ActiveEffect;
  if (e && e->active_pass >= 0) {
    prog = e->pass[e->active_pass];
    glUseProgram(prog);
    for (GLuint i = 0; i < 3; i++) BindUnit(i, e->textures[i], i == 2 ? s_EffectPoint : s_EffectLinear);
  } else {
    prog = s_StageProgram[s_Stages];
    glUseProgram(prog);
    BindUnit(0, s_StageTexture[0], s_StageSampler);
    BindUnit(1, s_StageTexture[1], s_StageSampler);
    glUniform1i(glGetUniformLocation(prog, "uStage0"), 0);
    GLint s1 = glGetUniformLocation(prog, "uStage1");
    if (s1 >= 0) glUniform1i(s1, 1);
    GLint f = glGetUniformLocation(prog, "uFactor");
    if (f >= 0)
      glUniform4f(f, static_cast<float>((s_TextureFactor >> 16) & 255) / 255.0f,
                  static_cast<float>((s_TextureFactor >> 8) & 255) / 255.0f,
                  static_cast<float>(s_TextureFactor & 255) / 255.0f,
                  static_cast<float>(s_TextureFactor >> 24) / 255.0f);
  }
  glUniform2f(glGetUniformLocation(prog, "uTarget"), static_cast<float>(s_TargetW), static_cast<float>(s_TargetH));
  ClearErrors();
  glBindVertexArray(s_Layout->vao);
  glBindBuffer(GL_ARRAY_BUFFER, s_Layout->vbo);
  glBufferSubData(GL_ARRAY_BUFFER, 0, 4 * PLAT_GPU_VERTEX_SIZE, vertices);
  glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
  glBindVertexArray(0);
  return glGetError() == GL_NO_ERROR ? 0 : -1;
}

// ---- Tests -----------------------------------------------------------------------------------

i32 PlatGpuLiveObjects() { return s_Live.load(); }
void PlatGpuTestFailDisplay(bool fail) { s_FailDisplay = fail; }
void PlatGpuTestForceStatus(i32 status, i32 count) {
  s_ForceStatus = status;
  s_ForceCount = count;
}
void PlatGpuTestForceVersion(i32 major, i32 minor) {
  s_ForceMajor = major;
  s_ForceMinor = minor;
}
void PlatGpuTestFailTexturesAfter(i32 count) { s_TextureBudget = count; }
void PlatGpuTestFailDevice(bool robust, bool plain) {
  s_FailRobust = robust;
  s_FailPlain = plain;
  s_Attempts = s_RobustAttempts = 0;
}
i32 PlatGpuTestDeviceAttempts(i32* robust_attempts) {
  if (robust_attempts) *robust_attempts = s_RobustAttempts;
  return s_Attempts;
}

u32 PlatGpuTextureName(const PlatGpuTexture* t) { return t ? t->tex : 0; }
