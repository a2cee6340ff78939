// The GPU frame pass and read-back (see gpu.h): window 0's layer tree drawn into the back buffer
// and copied into the read-back layer's picture, which the CPU compositor then shows; and the
// snapshot of one layer into another layer's picture.
#include "display/gpu.h"

#include <cstdlib>

#include "core/config.h"
#include "core/err.h"
#include "core/state.h"
#include "display/gpu_texts.h"
#include "layer/image.h"
#include "layer/kernels.h"
#include "layer/layer.h"
#include "platform/gpu.h"

void D3dSamplerSetup() {
  if (PlatGpuSetFilters(g_D3dMagFilter, g_D3dMinFilter, g_D3dMipFilter) != 0) ErrTrace("SetSamplerState Error.");
}

// Target set, cleared to transparent black, scene and effect begun, samplers set.
static void BeginPass() {
  D3dClearTarget();
  if (g_lpEffect && PlatGpuEffectBegin(g_lpEffect) != 0) ErrTrace("Effect Begin Error.");
  D3dSamplerSetup();
}

void D3dEndScene() {
  D3dEndEffect();
  // The scene ends with the last draw: nothing to submit on this device.
}

void D3dRenderFrame() {
  if (!g_GpuDrawing && !g_D3dReadbackNode) return;
  if (!g_D3dReady || !PlatGpuBind()) return;
  if (D3dDeviceLossTest() != 0) return;
  if (PlatGpuSetTarget(g_D3dBackBuffer) != 0) ErrTrace("SetRenderTarget Error.");
  BeginPass();
  const WindowObject* w = g_WindowObjects[0];
  D3dRenderLayerTree(w ? w->root_layer : nullptr);
  D3dEndScene();
  if (g_GpuDrawing) return;
  if (!g_D3dReadbackNode) {
    static u8 traced = 0;
    if (!traced) {
      traced = 1;
      ErrTrace("TransOffscreen Error.");
    }
    return;
  }
  LayerRecord* rec = LayerOf(g_D3dReadbackNode);
  const i32 sw = w ? w->width : 0, sh = w ? w->height : 0;
  if (!rec || !rec->pixels || rec->width != sw || rec->height != sh) {
    ErrMessageBoxF("", D3dText(D3D_T_SIZE_MISMATCH), rec ? rec->width : 0, rec ? rec->height : 0, sw, sh);
    return;
  }
  D3dReadBack(g_D3dBackBuffer, rec->pixels, sw, sh);
}

void D3dForgetLayer(ObjNode* node) {
  if (g_D3dReadbackNode == node) g_D3dReadbackNode = nullptr;
}

i32 D3dReadBack(PlatGpuTexture* surface, u8* pixels, i32 w, i32 h) {
  if (!g_D3dReady) {
    ErrTrace("ZP_D3DDevice Error.");
    return 0;
  }
  if (!surface) {
    ErrTrace("ZP_BACKBUFFER Error.");
    return 0;
  }
  if (!g_D3dReadbackSurface) {
    ErrTrace("ZP_OffSuf_LAYER Error.");
    return 0;
  }
  if (!pixels || PlatGpuBufferFill(g_D3dReadbackSurface, surface) != 0) {
    ErrTrace("GetRenderTargetData Error.");
    return 0;
  }
  i32 pitch = 0;
  const u8* bits = PlatGpuBufferLock(g_D3dReadbackSurface, &pitch);
  if (!bits) {
    ErrTrace("LockRect Error.");
    return 0;
  }
  // The read-back surface has the back buffer's size: never more rows or columns than it holds.
  const i32 rows = h < g_D3dBackBufferSize[1] ? h : g_D3dBackBufferSize[1];
  const i32 cols = w < g_D3dBackBufferSize[0] ? w : g_D3dBackBufferSize[0];
  for (i32 y = 0; y < rows; y++)
    g_PixelKernels.copy(pixels + static_cast<size_t>(y) * static_cast<size_t>(w) * 4,
                        bits + static_cast<size_t>(y) * static_cast<size_t>(pitch), cols * 4);
  if (PlatGpuBufferUnlock(g_D3dReadbackSurface) != 0) ErrTrace("UnlockRect Error.");
  return 0;
}

i32 D3dSnapshotLayer(ObjNode* src_node, ObjNode* dst_node) {
  if (!g_D3dReady || !g_D3dBackBuffer || !PlatGpuBind()) {
    ErrTrace("GETSS Device Error.");
    return 0;
  }
  LayerRecord* src = LayerOf(src_node);
  LayerRecord* dst = LayerOf(dst_node);
  if (!src || !dst) return 0;
  if (PlatGpuSetTarget(g_D3dSnapshotTexture) != 0) {
    ErrTrace("GETSS SetRenderTarget Error 1.");
    return 0;
  }
  BeginPass();
  D3dDrawLayer(src, nullptr, nullptr, 1, src->blend_mode, 0);
  D3dEndScene();
  const WindowObject* win = g_WindowObjects[0];
  const i32 w = win ? win->width : 0, h = win ? win->height : 0;
  if (w > 8192) {
    ErrMessageBoxF("", D3dText(D3D_T_CG_TOO_LARGE), w, h);
    ErrRaise(ERR_OUT_OF_MEMORY, 1);
    return 0;
  }
  u8* p = w > 0 && h > 0 ? static_cast<u8*>(std::calloc(ImagePixelBytes(w, h), 1)) : nullptr;
  if (!p) {
    ErrTrace(D3dText(D3D_T_ALLOC_ERROR), "", w, h);
    ErrRaiseF(ERR_FILE_READ_NOMEM, 1);
    return 0;
  }
  // The record owns its picture (shared records share it): the old one goes now, once.
  std::free(dst->pixels);
  dst->pixels = p;
  dst->width = w;
  dst->height = h;
  LayerMarkDirty(dst_node);
  D3dReadBack(g_D3dSnapshotTexture, dst->pixels, w, h);
  return 0;
}
