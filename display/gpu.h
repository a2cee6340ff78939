// The GPU path (the engine's Direct3D back end, here on the platform's OpenGL device): the device
// and its shared resources (gpu_device.cpp), layers cut into texture tiles and drawn as quads
// (gpu_draw.cpp), and the frame pass that draws window 0's layer tree and reads it back into the
// read-back layer (gpu_frame.cpp). The device never presents; frames reach the windows through
// the CPU picture. Everything runs on the thread that runs the frame, which holds the device
// between start-up and shutdown (start-up and shutdown bind it to the main thread).
#pragma once
#include <atomic>
#include <cstddef>

#include "common/types.h"
#include "core/hooks.h"     // g_D3dRedraw, g_D3dReadbackNode, g_EmoteAvailable
#include "display/emote.h"  // the animated-character bridge

struct LayerRecord;
struct ObjNode;
struct PlatGpuDisplay;
struct PlatGpuTexture;
struct PlatGpuBuffer;
struct PlatGpuEffect;
struct PlatGpuLayout;

// ---- Device and resources --------------------------------------------------------------------

struct D3dPresentParams {
  i32 width, height;      // window 0's game screen
  u32 format;             // 21, A8R8G8B8
  i32 back_buffer_count;  // 0
  i32 multisample, multisample_quality;
  i32 swap_effect;         // 3, copy
  void* window;            // none
  i32 windowed;            // 1
  i32 auto_depth_stencil;  // 0
  u32 flags;
  i32 refresh_rate;
  u32 interval;  // 0x80000000, immediate
};

// One vertex of a layer quad: pre-transformed position, colour (A, R, G, B), eight texture
// coordinate sets.
struct D3dQuadVertex {
  float x, y, z, rhw;
  u32 colour;
  float tex[8][2];
};
static_assert(sizeof(D3dQuadVertex) == 84, "84-byte vertex");
static_assert(offsetof(D3dQuadVertex, colour) == 16 && offsetof(D3dQuadVertex, tex) == 20, "vertex layout");

extern PlatGpuDisplay* g_D3d;
extern u8 g_D3dDevice;  // 1 while the device exists
// 1 from a finished start-up to the release: the frame thread, which may run frames while the
// main thread is still starting the device, draws nothing before.
extern std::atomic<u8> g_D3dReady;
extern D3dPresentParams g_D3dPresentParams;
extern i32 g_D3dBackBufferSize[2];
extern PlatGpuTexture* g_D3dBackBuffer;
extern PlatGpuBuffer* g_D3dReadbackSurface;
extern PlatGpuTexture* g_D3dRenderTexture;
extern PlatGpuTexture* g_D3dSnapshotTexture;
extern PlatGpuTexture* g_D3dWhiteTexture;
extern PlatGpuTexture* g_D3dBlackTexture;
extern PlatGpuLayout* g_D3dVertexDecl;
extern PlatGpuEffect* g_lpEffect;
extern i32 g_D3dTechnique;          // 0 = none
extern i32 g_D3dMaxTextureSize[2];  // 256 x 256 until the capability check has run
extern u8 g_GpuPresentPath;         // always 0: the pass draws into the back buffer

enum { D3D_FMT_A8R8G8B8 = 21, D3D_FMT_A4R4G4B4 = 26 };

// 0 ready, 1 fall back to CPU drawing, -1 stop the engine.
i32 D3dStartup();
i32 D3dCreateObjects();
void D3dFillPresentParams();
i32 D3dCreateDeviceWithFallback(i32 adapter);
i32 D3dCheckCaps();
i32 D3dInitRenderStates();
// A complete 32-bit bottom-up BMP file of w x h pixels of one colour (0xAARRGGBB) in one malloc
// block; its size in out_size. Null when the size is unusable or memory runs out.
u8* BmpMakeSolid(i32 w, i32 h, u32 colour, u32* out_size);
i32 D3dCreateVertexDecl();
i32 D3dInitEffect();
void D3dReleaseAll();
void D3dClearTarget();
void D3dEndEffect();
i32 D3dResetDevice();
// mode 1 releases the tiles of a folder's sprite layers, mode 2 rebuilds them. 0 or -1.
i32 D3dWalkLayerTextures(ObjNode* node, i32 mode);
// The device-loss test at the head of a frame pass: 0 go on drawing, 1 end the pass.
i32 D3dDeviceLossTest();
// The calling thread gives up the device (the frame thread at its end, start-up before the frame
// thread takes over).
void D3dThreadLeave();
// Tests: every device object released and the settings of this module back to their start.
void D3dResetForTests();

// ---- Texture tiles and layer drawing ---------------------------------------------------------

struct SpriteUploadParams {
  i32 width, height;  // picture to upload
  float centre_x, centre_y;
  i32 max_w, max_h;  // the caller's largest tile (0 or less: no limit)
  LayerRecord* src;  // pixels are read from it
  LayerRecord* dst;  // its tiles are written
};
extern SpriteUploadParams g_SpriteUpload;
extern u8* g_SpriteStaging;
extern size_t g_SpriteStagingSize;

enum { D3D_STAGING_FIRST = 4194304 };

i32 D3dBuildLayerTextures(LayerRecord* rec, i8 tile, i32 max_w, i32 max_h);
i32 D3dPasteSprite(ObjNode* src, ObjNode* dst);
// mode 0 builds new tiles, mode 1 writes the destination's existing tiles. 0 or -1.
i32 D3dUploadSprite(i32 mode);
void D3dReleaseLayerTextures(LayerRecord* rec);
i32 D3dRenderLayerTree(ObjNode* node);
i32 D3dDrawLayer(LayerRecord* rec, LayerRecord* mask, LayerRecord* second, i32 opacity_on, i32 mode, i32 unused);
// The vertex colour of a mode at an opacity (already clamped to 0..255).
u32 D3dVertexColour(i32 mode, i32 o);

// ---- Frame pass and read-back ----------------------------------------------------------------

void D3dRenderFrame();
// The read-back layer, when it is released.
void D3dForgetLayer(ObjNode* node);
i32 D3dReadBack(PlatGpuTexture* surface, u8* pixels, i32 w, i32 h);
i32 D3dSnapshotLayer(ObjNode* src, ObjNode* dst);
void D3dEndScene();
void D3dSamplerSetup();
