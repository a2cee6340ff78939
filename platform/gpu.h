// The GPU device (what Direct3D 9 is to the engine): OpenGL 3.3 core through EGL, headless, with
// libepoxy loading the functions. There is one display and at most one device at a time; every
// call below works on that device and must come from the thread it is bound to (PlatGpuBind).
// The device never presents: it renders into textures that the engine reads back.
// Conventions the engine relies on: rows are stored top-down everywhere (texture row 0 is the top
// of a picture, render-target row 0 the top of the screen), pixels are B, G, R, A bytes, positions
// are pre-transformed screen coordinates whose pixel centres lie on whole numbers, and blend and
// sampler settings keep the engine's (Direct3D) numbers.
#pragma once
#include "common/types.h"

struct PlatGpuDisplay;
struct PlatGpuTexture;  // a texture that can also be rendered into
struct PlatGpuBuffer;   // a read-back buffer (pixel-pack buffer)
struct PlatGpuEffect;   // the four effect passes and their parameters
struct PlatGpuLayout;   // the vertex layout of the 84-byte layer-quad vertex

enum { PLAT_GPU_RGBA8 = 0, PLAT_GPU_RGBA4 = 1 };               // texture formats
enum { PLAT_GPU_DATA_BGRA8 = 0, PLAT_GPU_DATA_ARGB4444 = 1 };  // upload data kinds
// Device status, as the device-loss test reads it.
enum { PLAT_GPU_OK = 0, PLAT_GPU_LOST = 1, PLAT_GPU_NOT_RESET = 2 };
// Blend factors and operations (Direct3D numbering).
enum {
  PLAT_BLEND_ZERO = 1,
  PLAT_BLEND_ONE = 2,
  PLAT_BLEND_SRCCOLOR = 3,
  PLAT_BLEND_INVSRCCOLOR = 4,
  PLAT_BLEND_SRCALPHA = 5,
  PLAT_BLEND_INVSRCALPHA = 6,
  PLAT_BLEND_DESTALPHA = 7,
  PLAT_BLEND_INVDESTALPHA = 8,
  PLAT_BLEND_DESTCOLOR = 9,
  PLAT_BLEND_INVDESTCOLOR = 10,
};
enum {
  PLAT_BLENDOP_ADD = 1,
  PLAT_BLENDOP_SUBTRACT = 2,
  PLAT_BLENDOP_REVSUBTRACT = 3,
  PLAT_BLENDOP_MIN = 4,
  PLAT_BLENDOP_MAX = 5
};
// Texture-stage set-ups: the fixed stage states of the blend modes that have one, each computed by
// one fragment program (T = stage-0 texture, D = vertex colour, F = texture factor, S1 = stage-1
// texture): 0 colour T, alpha T.a F.a; 1 colour T, alpha T.a D.a; 2 T D; 3 and 5 c = T D, colour
// S1 blended towards c by c.a, alpha c.a; 7 the same towards F.
enum {
  PLAT_GPU_STAGES_NORMAL,
  PLAT_GPU_STAGES_ADD,
  PLAT_GPU_STAGES_MODULATE,
  PLAT_GPU_STAGES_TOWARDS_TEXTURE1,
  PLAT_GPU_STAGES_TOWARDS_FACTOR,
  PLAT_GPU_STAGES_COUNT
};
enum { PLAT_GPU_VERTEX_SIZE = 84 };

struct PlatGpuInfo {
  char vendor[128], renderer[128], version[128], glsl[64];
  i32 major, minor;  // OpenGL version of the context
  i32 max_texture_width, max_texture_height;
  i32 max_viewport_width, max_viewport_height;
  i32 texture_units;
  i32 texture_memory_mb;  // 0 when the driver does not say
  u8 robust;              // the device reports resets
};

// ---- Display and device ----------------------------------------------------------------------
// Opens the EGL display: Mesa's surfaceless platform, else the first EGL device, else the default
// display. Null when none can be opened.
PlatGpuDisplay* PlatGpuDisplayOpen();
void PlatGpuDisplayClose(PlatGpuDisplay* d);
// Creates the device, current on the calling thread: an OpenGL 3.3 core context (robust = 1 asks
// for reset notification), with its fixed programs. 0, or -1 when the context cannot be made.
i32 PlatGpuDeviceCreate(PlatGpuDisplay* d, i32 robust);
// Releases the device (every object made on it must be released first).
void PlatGpuDeviceRelease();
bool PlatGpuDeviceExists();
void PlatGpuQueryInfo(PlatGpuInfo* out);
i32 PlatGpuDeviceStatus();
// The device current on the calling thread (false without a device or when another thread holds
// it), and given up by the calling thread.
bool PlatGpuBind();
void PlatGpuUnbind();

// ---- Resources -------------------------------------------------------------------------------
// A w x h texture with one level; null when the device refuses it (size or memory).
PlatGpuTexture* PlatGpuTextureCreate(i32 w, i32 h, i32 format);
void PlatGpuTextureRelease(PlatGpuTexture* t);
void PlatGpuTextureSize(const PlatGpuTexture* t, i32* w, i32* h);
// The GL texture name (0 for none), for a library that draws into the texture with this device.
u32 PlatGpuTextureName(const PlatGpuTexture* t);
// The whole texture from rows of pitch bytes (data kind PLAT_GPU_DATA_...). 0 or -1.
i32 PlatGpuTextureUpload(PlatGpuTexture* t, const void* data, i32 pitch, i32 kind);
PlatGpuBuffer* PlatGpuBufferCreate(i32 w, i32 h);
void PlatGpuBufferRelease(PlatGpuBuffer* b);
// Copies the texture's pixels into the buffer (the texture and buffer sizes must agree). 0 or -1.
i32 PlatGpuBufferFill(PlatGpuBuffer* b, PlatGpuTexture* src);
// The buffer's B, G, R, A rows, top-down, pitch bytes apart; null on failure. Unlock after use.
const u8* PlatGpuBufferLock(PlatGpuBuffer* b, i32* pitch);
i32 PlatGpuBufferUnlock(PlatGpuBuffer* b);
PlatGpuLayout* PlatGpuLayoutCreate();
void PlatGpuLayoutRelease(PlatGpuLayout* l);
i32 PlatGpuLayoutSet(PlatGpuLayout* l);
// The four effect passes (cross-fade, mask, sharpened bilinear, bicubic) of technique
// "ZP_ShaderTest1"; null with the compiler's log in log when a program does not build.
PlatGpuEffect* PlatGpuEffectCreate(char* log, size_t log_size);
void PlatGpuEffectRelease(PlatGpuEffect* e);
// 1 for the technique's name, 0 for any other.
i32 PlatGpuEffectFindTechnique(PlatGpuEffect* e, const char* name);
i32 PlatGpuEffectSetTechnique(PlatGpuEffect* e, i32 technique);
i32 PlatGpuEffectBegin(PlatGpuEffect* e);
i32 PlatGpuEffectEnd(PlatGpuEffect* e);
i32 PlatGpuEffectBeginPass(PlatGpuEffect* e, i32 pass);
i32 PlatGpuEffectEndPass(PlatGpuEffect* e);
// Parameters by name (ZP_Texture1..3, ZP_AlphaVal, ZP_FadeVal, ZP_FadeVal2, ZP_TexSize,
// ZP_TexDiffU, SharpN). -1 for an unknown name.
i32 PlatGpuEffectSetTexture(PlatGpuEffect* e, const char* name, PlatGpuTexture* t);
i32 PlatGpuEffectSetFloats(PlatGpuEffect* e, const char* name, const float* v, i32 count);
i32 PlatGpuEffectCommit(PlatGpuEffect* e);

// ---- Drawing ---------------------------------------------------------------------------------
// Render into the texture (its whole area). 0 or -1.
i32 PlatGpuSetTarget(PlatGpuTexture* t);
// The current target cleared to a colour (A, R, G, B as 0xAARRGGBB).
i32 PlatGpuClear(u32 argb);
// Sampler filters of texture stages 0 and 1: mag and min 0 point, 1 linear, 2 anisotropic; mip
// -1 none, 0 point, 1 linear, 2 anisotropic.
i32 PlatGpuSetFilters(i32 mag, i32 min, i32 mip);
i32 PlatGpuSetTexture(i32 stage, PlatGpuTexture* t);
i32 PlatGpuSetStages(i32 stages, u32 texture_factor);
i32 PlatGpuSetBlend(i32 src, i32 dst, i32 op);
// No pass program: the stage set-up draws.
i32 PlatGpuSetPixelShaderNone();
// One quad: four 84-byte vertices as a triangle strip, drawn by the begun effect pass, else by
// the stage set-up. 0 or -1.
i32 PlatGpuDrawQuad(const void* vertices);

// ---- Tests -----------------------------------------------------------------------------------
// GL objects alive (textures, framebuffers, buffers, programs, vertex arrays, samplers).
i32 PlatGpuLiveObjects();
// No display can be opened (true), as on a machine without EGL.
void PlatGpuTestFailDisplay(bool fail);
// The next device-status reads give this status (count times; 0 ends it).
void PlatGpuTestForceStatus(i32 status, i32 count);
// The context reports this OpenGL version (major 0: the real one).
void PlatGpuTestForceVersion(i32 major, i32 minor);
// Texture creation fails after this many more textures (-1: never).
void PlatGpuTestFailTexturesAfter(i32 count);
// Device creation fails for robust (1) or plain (0) attempts; counts the attempts made.
void PlatGpuTestFailDevice(bool robust, bool plain);
i32 PlatGpuTestDeviceAttempts(i32* robust_attempts);
