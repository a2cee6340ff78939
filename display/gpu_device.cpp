// The GPU device and its shared resources (see gpu.h): start-up with its fall-backs, the capability
// check, the render, snapshot and helper textures, the vertex layout, the effect, release, and the
// rebuild after a lost device or a reset request. Every object pointer here is null when absent and
// set null when released, so each is released exactly once; a start-up that fails half-way
// releases what it made before it returns.
#include "display/gpu.h"

#include <cstdlib>
#include <cstring>

#include "core/config.h"
#include "core/err.h"
#include "core/obj.h"
#include "core/state.h"
#include "display/emote.h"
#include "display/gpu_texts.h"
#include "layer/image.h"
#include "layer/kernels.h"
#include "layer/layer.h"
#include "platform/gpu.h"

PlatGpuDisplay* g_D3d = nullptr;
u8 g_D3dDevice = 0;
std::atomic<u8> g_D3dReady{0};
D3dPresentParams g_D3dPresentParams;
i32 g_D3dBackBufferSize[2];
PlatGpuTexture* g_D3dBackBuffer = nullptr;
PlatGpuBuffer* g_D3dReadbackSurface = nullptr;
PlatGpuTexture* g_D3dRenderTexture = nullptr;
PlatGpuTexture* g_D3dSnapshotTexture = nullptr;
PlatGpuTexture* g_D3dWhiteTexture = nullptr;
PlatGpuTexture* g_D3dBlackTexture = nullptr;
PlatGpuLayout* g_D3dVertexDecl = nullptr;
PlatGpuEffect* g_lpEffect = nullptr;
i32 g_D3dTechnique = 0;
i32 g_D3dMaxTextureSize[2] = {256, 256};
u8 g_GpuPresentPath = 0;

static u8 s_AdapterModesListed = 0;
static u8 s_CapsPending = 1;  // the capability check runs once per run

static void ReleaseTexture(PlatGpuTexture** t) {
  PlatGpuTextureRelease(*t);
  *t = nullptr;
}

static i32 LayerTextureFormat() { return g_D3dTextureFormat == D3D_FMT_A4R4G4B4 ? PLAT_GPU_RGBA4 : PLAT_GPU_RGBA8; }

// ---- Start-up --------------------------------------------------------------------------------

i32 D3dStartup() {
  // Results: 1 falls back to CPU drawing, -1 (no render texture) stops the engine.
  i32 r = D3dCreateObjects() == 0 ? 0 : 1;
  if (r == 0) {
    ErrTrace("D3dStartup: objects");
    if (g_EmoteAvailable) {
      EmoteUpdateTransforms();
      EmoteDriverInit();
    }
    r = D3dCheckCaps() == 0 ? 0 : 1;
  }
  if (r == 0) {
    ErrTrace("D3dStartup: caps");
    r = D3dInitRenderStates() == 0 ? 0 : -1;
  }
  if (r == 0) {
    ErrTrace("D3dStartup: render states");
    D3dCreateVertexDecl();
    ErrTrace("D3dStartup: vertex layout");
    r = D3dInitEffect() == 0 ? 0 : 1;
  }
  if (r != 0) {
    // Nothing made on the way stays behind, whatever the caller does next.
    D3dReleaseAll();
    return r;
  }
  ErrTrace("D3dStartup: effect");
  g_D3dReady = 1;
  return 0;
}

i32 D3dCreateObjects() {
  if (g_HookWinGetMonitor) g_HookWinGetMonitor(0);
  g_D3d = PlatGpuDisplayOpen();
  if (!g_D3d) {
    ErrMessageBoxF("", "%s", D3dText(D3D_T_DX_OBJECT));
    return -1;
  }
  if (!s_AdapterModesListed) {
    s_AdapterModesListed = 1;
    if (g_HookListAdapterModes) g_HookListAdapterModes(0);
  }
  i32 r = D3dCreateDeviceWithFallback(0);
  if (r != 0) return r;
  g_D3dBackBuffer = PlatGpuTextureCreate(g_D3dBackBufferSize[0], g_D3dBackBufferSize[1], PLAT_GPU_RGBA8);
  if (!g_D3dBackBuffer) {
    ErrMessageBoxF(D3dText(D3D_T_ERROR_TITLE), "%s", D3dText(D3D_T_BACKBUFFER));
    return -1;
  }
  g_D3dReadbackSurface = PlatGpuBufferCreate(g_D3dBackBufferSize[0], g_D3dBackBufferSize[1]);
  if (!g_D3dReadbackSurface) {
    ErrMessageBoxF(D3dText(D3D_T_ERROR_TITLE), "%s", D3dText(D3D_T_OFFSCREEN));
    return -1;
  }
  return 0;
}

void D3dFillPresentParams() {
  const WindowObject* w = g_WindowObjects[0];
  D3dPresentParams& p = g_D3dPresentParams;
  p = D3dPresentParams{};
  p.width = w ? w->width : 0;
  p.height = w ? w->height : 0;
  p.format = D3D_FMT_A8R8G8B8;
  p.swap_effect = 3;
  p.windowed = 1;
  p.interval = 0x80000000u;
  g_D3dBackBufferSize[0] = p.width;
  g_D3dBackBufferSize[1] = p.height;
}

i32 D3dCreateDeviceWithFallback(i32) {
  D3dFillPresentParams();
  // The first attempt is the device that reports resets (as the hardware device does); the second
  // one does without.
  if (!g_D3dNoHardwareVp && PlatGpuDeviceCreate(g_D3d, 1) == 0) {
    g_D3dDevice = 1;
    return 0;
  }
  if (PlatGpuDeviceCreate(g_D3d, 0) == 0) {
    g_D3dDevice = 1;
    return 0;
  }
  ErrMessageBoxF("", "%s", D3dText(D3D_T_INIT_FAILED));
  PlatGpuDisplayClose(g_D3d);
  g_D3d = nullptr;
  return -1;
}

i32 D3dCheckCaps() {
  if (!s_CapsPending) return 0;
  s_CapsPending = 0;
  PlatGpuInfo info;
  PlatGpuQueryInfo(&info);
  ErrTrace("AvailableTextureMem = %d MB", info.texture_memory_mb);
  ErrTrace("Vendor = %s", info.vendor);
  ErrTrace("Renderer = %s", info.renderer);
  ErrTrace("Version = %s (GLSL %s)", info.version, info.glsl);
  ErrTrace("MaxTextureWidth = %d, MaxTextureHeight = %d", info.max_texture_width, info.max_texture_height);
  ErrTrace("MaxViewport = %d x %d", info.max_viewport_width, info.max_viewport_height);
  ErrTrace("TextureUnits = %d", info.texture_units);
  ErrTrace("ResetNotification = %d", info.robust);
  // The programs need OpenGL 3.3; 4.0 and later count as the next shader generation.
  const i32 v = info.major * 10 + info.minor;
  const i32 ps = v >= 40 ? 30 : (v >= 33 ? 20 : 0);
  ErrTrace("PixelShaderVersion = %d", ps);
  g_D3dMaxTextureSize[0] = info.max_texture_width;
  g_D3dMaxTextureSize[1] = info.max_texture_height;
  if (ps < 20) {
    ErrMessageBoxF(D3dText(D3D_T_CAPS_TITLE), "%s", D3dText(D3D_T_CAPS));
    return 1;
  }
  return 0;
}

u8* BmpMakeSolid(i32 w, i32 h, u32 colour, u32* out_size) {
  if (w <= 0 || h <= 0 || w > 8192 || h > 8192) return nullptr;
  const u32 pixels = static_cast<u32>(w) * static_cast<u32>(h) * 4;
  const u32 size = pixels + 54;
  u8* b = static_cast<u8*>(std::malloc(size));
  if (!b) return nullptr;
  std::memset(b, 0, 54);
  auto put32 = [b](int at, u32 v) {
    for (int i = 0; i < 4; i++) b[at + i] = static_cast<u8>(v >> (8 * i));
  };
  b[0] = 'B';
  b[1] = 'M';
  put32(2, size);
  put32(10, 54);
  put32(14, 40);
  put32(18, static_cast<u32>(w));
  put32(22, static_cast<u32>(h));
  b[26] = 1;
  b[28] = 32;
  // One row at a time: a kernel call takes a 32-bit byte count.
  const i32 row = w * 4;
  for (i32 y = 0; y < h; y++) {
    u8* p = b + 54 + static_cast<size_t>(y) * static_cast<size_t>(row);
    if (colour == 0) g_PixelKernels.zero(p, row);
    else g_PixelKernels.fill_colour(p, row, colour);
  }
  if (out_size) *out_size = size;
  return b;
}

// A helper texture of the game screen's size in one colour, through a BMP file and the engine's
// own BMP decoder.
static PlatGpuTexture* MakeHelperTexture(u32 colour) {
  const WindowObject* w = g_WindowObjects[0];
  if (!w) return nullptr;
  u32 size = 0;
  u8* bmp = BmpMakeSolid(w->width, w->height, colour, &size);
  if (!bmp) return nullptr;
  ImagePicture pic{};
  PlatGpuTexture* t = nullptr;
  if (ImageDecodeBmp(bmp, size, "", &pic) == 0 && pic.pixels) {
    t = PlatGpuTextureCreate(pic.width, pic.height, LayerTextureFormat());
    if (t && PlatGpuTextureUpload(t, pic.pixels, pic.width * 4, PLAT_GPU_DATA_BGRA8) != 0) ReleaseTexture(&t);
  }
  std::free(pic.pixels);
  std::free(bmp);
  return t;
}

i32 D3dInitRenderStates() {
  // The fixed render states (no culling, no depth, blending on, no dithering) and the clamped
  // addressing of stages 0 and 1 come with the device; the vertex layout replaces a vertex format.
  g_D3dRenderTexture = PlatGpuTextureCreate(g_D3dBackBufferSize[0], g_D3dBackBufferSize[1], LayerTextureFormat());
  if (!g_D3dRenderTexture) {
    ErrMessageBoxF("", "%s", D3dText(D3D_T_RENDER_TEXTURE));
    return -1;
  }
  g_D3dSnapshotTexture = PlatGpuTextureCreate(g_D3dBackBufferSize[0], g_D3dBackBufferSize[1], LayerTextureFormat());
  if (!g_D3dSnapshotTexture) {
    ErrMessageBoxF("", "%s", D3dText(D3D_T_GETSS_TEXTURE));
    return -1;
  }
  if (g_D3dInUse) {
    g_D3dWhiteTexture = MakeHelperTexture(0xFFFFFFFFu);
    if (!g_D3dWhiteTexture) ErrMessageBoxF("", "WHITETEXBUF ERROR.");
    g_D3dBlackTexture = MakeHelperTexture(0xFF000000u);
    if (!g_D3dBlackTexture) ErrMessageBoxF("", "BLACKTEXBUF ERROR.");
  }
  return 0;
}

i32 D3dCreateVertexDecl() {
  g_D3dVertexDecl = PlatGpuLayoutCreate();
  if (!g_D3dVertexDecl) {
    ErrMessageBoxF("", "CreateVertexDeclaration エラー.");
    return 1;
  }
  if (PlatGpuLayoutSet(g_D3dVertexDecl) != 0) ErrTrace("SetVertexDeclaration Error.");
  return 0;
}

i32 D3dInitEffect() {
  char log[1024] = "";
  g_lpEffect = PlatGpuEffectCreate(log, sizeof log);
  if (!g_lpEffect) {
    ErrTrace("%s", log);
    ErrMessageBoxF("", "%s", D3dText(D3D_T_SHADER_INIT));
    return -1;
  }
  g_D3dTechnique = PlatGpuEffectFindTechnique(g_lpEffect, "ZP_ShaderTest1");
  if (!g_D3dTechnique) {
    ErrMessageBoxF("", "%s", D3dText(D3D_T_TECHNIQUE_NOT_FOUND));
    return -1;
  }
  if (PlatGpuEffectSetTechnique(g_lpEffect, g_D3dTechnique) != 0) {
    ErrMessageBoxF("", "%s", D3dText(D3D_T_TECHNIQUE_NOT_SET));
    return -1;
  }
  return 0;
}

// ---- Release ---------------------------------------------------------------------------------

// Releases the tiles of every sprite layer below node (folders first).
static void ReleaseTreeTextures(ObjNode* node) {
  for (ObjNode* c = node ? node->first_child : nullptr; c; c = c->next) {
    if (c->kind == OBJ_FOLDER) ReleaseTreeTextures(c);
    LayerRecord* rec = LayerOf(c);
    if (rec && rec->draw_kind != LAYER_DRAW_CPU) D3dReleaseLayerTextures(rec);
  }
}

void D3dReleaseAll() {
  g_D3dReady = 0;
  if (g_D3dDevice) PlatGpuBind();
  ReleaseTexture(&g_D3dWhiteTexture);
  ReleaseTexture(&g_D3dBlackTexture);
  // Every layer's tiles, not only window 0's: no record may keep a texture of a released device.
  ReleaseTreeTextures(g_LayerRoot);
  PlatGpuEffectRelease(g_lpEffect);
  g_lpEffect = nullptr;
  g_D3dTechnique = 0;
  PlatGpuLayoutRelease(g_D3dVertexDecl);
  g_D3dVertexDecl = nullptr;
  ReleaseTexture(&g_D3dRenderTexture);
  ReleaseTexture(&g_D3dSnapshotTexture);
  ReleaseTexture(&g_D3dBackBuffer);
  PlatGpuBufferRelease(g_D3dReadbackSurface);
  g_D3dReadbackSurface = nullptr;
  if (g_D3dDevice) {
    PlatGpuDeviceRelease();
    g_D3dDevice = 0;
  }
  PlatGpuDisplayClose(g_D3d);
  g_D3d = nullptr;
}

void D3dClearTarget() {
  if (PlatGpuClear(0) != 0) ErrTrace("D3dClearTarget Error.");
}

void D3dEndEffect() {
  if (g_lpEffect) PlatGpuEffectEnd(g_lpEffect);
}

// ---- Rebuild ---------------------------------------------------------------------------------

// One sprite layer again on the new device: its picture reloaded when it came from a file, then
// its tiles built with the limits it was built with. Only the tiles can fail the step: a picture
// that cannot be read again (its loader has reported why) gives its tiles what the load left.
static i32 RebuildLayer(LayerRecord* rec) {
  if (rec->source_name && rec->source_name[0]) {
    char name[LAYER_NAME_SIZE];
    std::memcpy(name, rec->source_name, sizeof name);
    name[sizeof name - 1] = 0;
    rec->source_name[0] = 0;
    ImageLoad(rec, name);
    if (g_EmoteAvailable) EmoteRestorePlayer(rec);
  }
  return D3dBuildLayerTextures(rec, 0, rec->tile_max_width, rec->tile_max_height);
}

static bool WantsRebuild(ObjNode* c) {
  const LayerRecord* rec = LayerOf(c);
  return rec && rec->draw_kind != LAYER_DRAW_CPU && rec->pixels;
}

i32 D3dWalkLayerTextures(ObjNode* node, i32 mode) {
  const LayerRecord* r = LayerOf(node);
  if (!r || !r->pixels) return 0;
  for (ObjNode* c = node->first_child; c; c = c->next) {
    if (c->kind == OBJ_FOLDER) D3dWalkLayerTextures(c, mode);
    if (!WantsRebuild(c)) continue;
    if (mode == 1) {
      D3dReleaseLayerTextures(LayerOf(c));
    } else if (mode == 2 && RebuildLayer(LayerOf(c)) != 0) {
      ErrTrace(D3dText(D3D_T_LOAD_ERROR), c->name);
      return -1;
    }
  }
  return 0;
}

i32 D3dResetDevice() {
  D3dReleaseAll();
  if (D3dStartup() != 0) {
    D3dReleaseAll();
    g_PresentFilterMode = 0;
    g_CpuScaleFilter = 1;
    g_D3dInUse = 0;
    g_GpuDrawing = 0;
    ErrMessageBoxF("", "%s", D3dText(D3D_T_FALLBACK));
    return -1;
  }
  const WindowObject* w = g_WindowObjects[0];
  ObjNode* root = w ? w->root_layer : nullptr;
  const LayerRecord* r = LayerOf(root);
  if (r && r->pixels) {
    for (ObjNode* c = root->first_child; c; c = c->next) {
      if (c->kind == OBJ_FOLDER) D3dWalkLayerTextures(c, 2);
      if (!WantsRebuild(c)) continue;
      if (RebuildLayer(LayerOf(c)) != 0) {
        ErrTrace(D3dText(D3D_T_LOAD_ERROR), c->name);
        break;
      }
    }
  }
  return 0;
}

i32 D3dDeviceLossTest() {
  const i32 status = PlatGpuDeviceStatus();
  bool due = status == PLAT_GPU_NOT_RESET;
  if (!g_GpuDrawing && g_D3dResetRequest) {
    g_D3dResetRequest = 0;
    due = true;
  }
  if (!due) return 0;  // ready, or lost and not yet back: the pass goes on and its calls fail
  if (g_GpuDrawing || g_D3dInUse != 1) return 1;
  if (g_EmoteAvailable) EmoteSaveAndReleasePlayers();
  if (D3dResetDevice() != 0) return 1;
  if (g_EmoteAvailable) {
    EmoteUpdateTransforms();
    g_D3dRedraw = 1;
  }
  D3dClearTarget();
  return 0;
}

// ---- Threads, tests -------------------------------------------------------------------

void D3dThreadLeave() { PlatGpuUnbind(); }

void D3dResetForTests() {
  D3dReleaseAll();
  std::free(g_SpriteStaging);
  g_SpriteStaging = nullptr;
  g_SpriteStagingSize = 0;
  g_SpriteUpload = SpriteUploadParams{};
  g_D3dMaxTextureSize[0] = g_D3dMaxTextureSize[1] = 256;
  s_AdapterModesListed = 0;
  s_CapsPending = 1;
  g_D3dRedraw = 0;
  g_D3dReadbackNode = nullptr;
}
