// Texture tiles and layer drawing on the GPU (see gpu.h). A sprite layer's picture is cut into
// power-of-two tiles (at most 31 columns, 31 rows and 256 tiles in all), each uploaded through the
// one staging buffer that lives for the run; the parts of a tile past the picture's edges are
// transparent black. Drawing puts each tile on the current target as a quad with the layer's
// position, scale, rotation, opacity and blend mode, or through the cross-fade or mask pass.
#include "display/gpu.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "core/config.h"
#include "core/err.h"
#include "core/obj.h"
#include "display/emote.h"
#include "display/gpu_texts.h"
#include "layer/kernels.h"
#include "layer/layer.h"
#include "platform/gpu.h"

SpriteUploadParams g_SpriteUpload;
u8* g_SpriteStaging = nullptr;
size_t g_SpriteStagingSize = 0;

// 16-bit uploads: the converted tile and, behind it, two rows of diffusion errors.
static u8* s_Staging16 = nullptr;
static size_t s_Staging16Size = 0;

static bool IsCharacter(const LayerRecord* rec) { return g_EmoteAvailable && rec->draw_kind == LAYER_DRAW_CHARACTER; }

// ---- Tile sizes ------------------------------------------------------------------------------

// The widths (or heights) of the tiles along one side of size pixels under the three limits in
// their order (0 or less: none). The count, or -1 when a 32nd tile would be needed (rest then
// holds what was left).
static i32 TileSides(i32 size, const i32 limits[3], i32 out[LAYER_TILE_MAX], i32* rest_out) {
  static const i32 kSides[] = {16, 32, 64, 128, 256, 512, 1024, 2048, 4096, 8192};
  i32 rest = size, count = 0;
  while (rest > 0) {
    i32 w = 8192;
    for (i32 s : kSides)
      if (s >= rest) {
        w = s;
        break;
      }
    for (int i = 0; i < 3; i++)
      if (limits[i] > 0) w = std::min(w, limits[i]);
    out[count++] = w;
    rest -= w;
    if (count >= LAYER_TILE_MAX) {
      *rest_out = rest;
      return -1;
    }
  }
  *rest_out = 0;
  return count;
}

// ---- Staging ---------------------------------------------------------------------------------

static bool GrowBuffer(u8** buf, size_t* size, size_t need, size_t first) {
  if (*buf && *size >= need) return true;
  size_t want = std::max(need, *buf ? *size : first);
  u8* p = static_cast<u8*>(std::realloc(*buf, want));
  if (!p) return false;
  *buf = p;
  *size = want;
  return true;
}

// The tile at picture column x0, row y0 (tw x th) into the staging rows: what both the upload's
// picture and the source have, the rest transparent black.
static void StageTile(const SpriteUploadParams& u, i32 x0, i32 y0, i32 tw, i32 th) {
  const LayerRecord* src = u.src;
  const bool has = src && src->pixels && src->width > 0 && src->height > 0;
  const i32 width = has ? std::min(u.width, src->width) : 0;
  const i32 height = has ? std::min(u.height, src->height) : 0;
  const i32 cols = std::clamp(width - x0, 0, tw);
  const size_t pitch = static_cast<size_t>(tw) * 4;
  for (i32 r = 0; r < th; r++) {
    u8* d = g_SpriteStaging + pitch * static_cast<size_t>(r);
    const i32 y = y0 + r;
    i32 n = y < height ? cols : 0;
    if (n > 0) {
      const u8* s =
          src->pixels + (static_cast<size_t>(y) * static_cast<size_t>(src->width) + static_cast<size_t>(x0)) * 4;
      g_PixelKernels.copy(d, s, n * 4);
    }
    if (n < tw) g_PixelKernels.fill_colour(d + static_cast<size_t>(n) * 4, (tw - n) * 4, 0);
  }
}

static u16 Pack4444(i32 b, i32 g, i32 r, i32 a) {
  return static_cast<u16>((b & 15) | (g & 15) << 4 | (r & 15) << 8 | (a & 15) << 12);
}

static i32 To4(i32 v) { return (v * 15 + 127) / 255; }

// The staged tile as 4 bits a channel: rounded, or with the rounding errors diffused to the
// right and below (7, 3, 5, 1 sixteenths).
static bool ConvertTile16(i32 tw, i32 th, bool dither) {
  const size_t pixels = static_cast<size_t>(tw) * static_cast<size_t>(th);
  const size_t err_row = (static_cast<size_t>(tw) + 2) * 4;
  if (!GrowBuffer(&s_Staging16, &s_Staging16Size, pixels * 2 + err_row * 2 * sizeof(i32), 0)) return false;
  u16* out = reinterpret_cast<u16*>(s_Staging16);
  i32* cur = reinterpret_cast<i32*>(s_Staging16 + pixels * 2);
  i32* next = cur + (tw + 2) * 4;
  std::memset(cur, 0, err_row * 2 * sizeof(i32));
  for (i32 y = 0; y < th; y++) {
    const u8* s = g_SpriteStaging + static_cast<size_t>(y) * static_cast<size_t>(tw) * 4;
    for (i32 x = 0; x < tw; x++) {
      i32 q[4];
      for (int c = 0; c < 4; c++) {
        i32 v = s[x * 4 + c];
        if (dither) {
          v = std::clamp(v + cur[(x + 1) * 4 + c] / 16, 0, 255);
          q[c] = To4(v);
          const i32 e = v - q[c] * 17;
          cur[(x + 2) * 4 + c] += e * 7;
          next[x * 4 + c] += e * 3;
          next[(x + 1) * 4 + c] += e * 5;
          next[(x + 2) * 4 + c] += e;
        } else {
          q[c] = To4(v);
        }
      }
      out[static_cast<size_t>(y) * static_cast<size_t>(tw) + static_cast<size_t>(x)] = Pack4444(q[0], q[1], q[2], q[3]);
    }
    std::swap(cur, next);
    std::memset(next, 0, err_row * sizeof(i32));
  }
  return true;
}

// ---- Upload ----------------------------------------------------------------------------------

i32 D3dUploadSprite(i32 mode) {
  SpriteUploadParams u = g_SpriteUpload;
  g_SpriteUpload = SpriteUploadParams{};
  LayerRecord* dst = u.dst;
  if (!dst || !g_D3dReady || !PlatGpuBind()) return -1;
  if (mode == 0) D3dReleaseLayerTextures(dst);
  i32 widths[LAYER_TILE_MAX] = {}, heights[LAYER_TILE_MAX] = {};
  i32 cols, rows, rest = 0;
  const bool character = IsCharacter(dst);
  if (character) {
    cols = rows = 1;
    widths[0] = g_D3dBackBufferSize[0];
    heights[0] = g_D3dBackBufferSize[1];
  } else {
    if (u.width <= 0 || u.height <= 0 || u.width > 8192) return -1;
    const i32 wl[3] = {g_D3dMaxTextureSize[0], g_D3dTileMaxSize[0], u.max_w};
    const i32 hl[3] = {g_D3dMaxTextureSize[1], g_D3dTileMaxSize[1], u.max_h};
    cols = TileSides(u.width, wl, widths, &rest);
    if (cols < 0) {
      ErrMessageBoxF("", "TXNUM Overflow Error.");
      return -1;
    }
    rows = TileSides(u.height, hl, heights, &rest);
    if (rows < 0) {
      ErrMessageBoxF("", "TYNUM Overflow Error. SX = %d, SY = %d, mRest = %d", u.width, u.height, rest);
      return -1;
    }
    // The tile table holds 256: more tiles than that is an overflow like the per-side ones.
    if (cols * rows > LAYER_TEXTURE_MAX) {
      ErrMessageBoxF("", "TXNUM Overflow Error.");
      return -1;
    }
  }
  dst->tile_cols = static_cast<u8>(cols);
  dst->tile_rows = static_cast<u8>(rows);
  std::memcpy(dst->tile_widths, widths, sizeof widths);
  std::memcpy(dst->tile_heights, heights, sizeof heights);
  if (!GrowBuffer(&g_SpriteStaging, &g_SpriteStagingSize, 0, D3D_STAGING_FIRST)) {
    ErrMessageBoxF("", "%s", D3dText(D3D_T_NO_MEMORY));
    return -1;
  }
  const bool use16 = g_D3dTextureFormat == D3D_FMT_A4R4G4B4;
  i32 y0 = 0;
  for (i32 r = 0; r < rows; r++) {
    i32 x0 = 0;
    for (i32 c = 0; c < cols; c++) {
      const i32 tw = widths[c], th = heights[r], index = r * cols + c;
      if (!GrowBuffer(&g_SpriteStaging, &g_SpriteStagingSize, static_cast<size_t>(tw) * static_cast<size_t>(th) * 4,
                      D3D_STAGING_FIRST)) {
        ErrMessageBoxF("", "%s", D3dText(D3D_T_NO_MEMORY));
        return -1;
      }
      if (!character) StageTile(u, x0, y0, tw, th);
      PlatGpuTexture*& tile = reinterpret_cast<PlatGpuTexture*&>(dst->textures[index]);
      if (mode == 0) {
        tile = PlatGpuTextureCreate(tw, th, use16 ? PLAT_GPU_RGBA4 : PLAT_GPU_RGBA8);
        if (!tile) {
          ErrMessageBoxF("", "%s", D3dText(D3D_T_VRAM));
          return -1;
        }
      }
      if (!character) {
        i32 w = 0, h = 0;
        PlatGpuTextureSize(tile, &w, &h);
        if (!tile || w != tw || h != th) {
          // A paste into tiles of another cut: that tile keeps what it held.
          ErrTrace(D3dText(D3D_T_SURFACE_LEVEL), -1, index);
        } else if (use16) {
          if (!ConvertTile16(tw, th, g_D3dDitherTextures != 0)) {
            ErrMessageBoxF(D3dText(D3D_T_ERROR_TITLE), "%s", D3dText(D3D_T_TRANSFER_FAILED));
          } else if (PlatGpuTextureUpload(tile, s_Staging16, tw * 2, PLAT_GPU_DATA_ARGB4444) != 0) {
            ErrTrace("D3DXLoadSurfaceFromSurface Error.");
          }
        } else if (PlatGpuTextureUpload(tile, g_SpriteStaging, tw * 4, PLAT_GPU_DATA_BGRA8) != 0) {
          ErrTrace("UpdateSurface Error.");
        }
      }
      x0 += tw;
    }
    y0 += heights[r];
  }
  dst->gpu_transform[0] = static_cast<i64>(u.centre_x);
  dst->gpu_transform[1] = static_cast<i64>(u.centre_y);
  dst->width = u.width;
  dst->height = u.height;
  dst->tile_max_width = u.max_w;
  dst->tile_max_height = u.max_h;
  dst->tile_byte = 0;
  return 0;
}

i32 D3dBuildLayerTextures(LayerRecord* rec, i8, i32 max_w, i32 max_h) {
  if (!rec) return -1;
  SpriteUploadParams& u = g_SpriteUpload;
  u = SpriteUploadParams{};
  u.width = rec->width;
  u.height = rec->height;
  // The centre in hundredths of a pixel, the unit drawing reads, so a fresh sprite turns about
  // its own middle.
  u.centre_x = static_cast<float>(rec->width) * 50.0f;
  u.centre_y = static_cast<float>(rec->height) * 50.0f;
  u.max_w = max_w;
  u.max_h = max_h;
  u.src = u.dst = rec;
  if (D3dUploadSprite(0) != 0) {
    ErrTrace("ZP_PASTESPRITE Error.");
    return -1;
  }
  return 0;
}

i32 D3dPasteSprite(ObjNode* src_node, ObjNode* dst_node) {
  LayerRecord* src = LayerOf(src_node);
  LayerRecord* dst = LayerOf(dst_node);
  if (!src || !dst) return -1;
  SpriteUploadParams& u = g_SpriteUpload;
  u = SpriteUploadParams{};
  u.width = dst->width;
  u.height = dst->height;
  u.centre_x = static_cast<float>(dst->gpu_transform[0]);
  u.centre_y = static_cast<float>(dst->gpu_transform[1]);
  u.max_w = dst->tile_max_width;
  u.max_h = dst->tile_max_height;
  u.src = src;
  u.dst = dst;
  if (D3dUploadSprite(1) != 0) {
    ErrTrace("ZP_PASTESPRITE Error.");
    return -1;
  }
  return 0;
}

void D3dReleaseLayerTextures(LayerRecord* rec) {
  if (!rec) return;
  for (void*& t : rec->textures) {
    if (!t) continue;
    PlatGpuTextureRelease(static_cast<PlatGpuTexture*>(t));
    t = nullptr;
  }
}

// ---- Drawing ---------------------------------------------------------------------------------

// A named layer (mask or second layer) resolved against the layer base path: its record, or null
// when the name is empty or finds nothing. -1 on a resolution error.
static i32 ResolveNamed(const char* name, LayerRecord** out) {
  *out = nullptr;
  if (!name || !name[0]) return 0;
  char path[OBJ_PATH_MAX];
  i32 folder = ObjResolvePath(path, sizeof path, name, g_LayerBase, 0);
  if (folder < 0) return -1;
  *out = LayerOf(ObjFindNode(g_LayerRoot, path, folder == 1 ? OBJ_FIND_FOLDER : OBJ_FIND_ITEM));
  return 0;
}

i32 D3dRenderLayerTree(ObjNode* node) {
  const LayerRecord* r = LayerOf(node);
  if (!r || !r->pixels) return 0;
  for (ObjNode* c = node->first_child; c; c = c->next) {
    if (c->kind == OBJ_FOLDER && D3dRenderLayerTree(c) < 0) return -1;
    LayerRecord* rec = LayerOf(c);
    if (!rec || rec->draw_kind == LAYER_DRAW_CPU || !rec->visible || !rec->pixels) continue;
    if (IsCharacter(rec) && rec->textures[0]) {
      static u8 traced = 0;
      PlatGpuTexture* tile = static_cast<PlatGpuTexture*>(rec->textures[0]);
      if (PlatGpuSetTarget(tile) != 0 && !traced) {
        traced = 1;
        ErrTrace("SetRenderTarget Error.");
      }
      if (PlatGpuClear(0x00808080u) != 0) ErrTrace("Clear Error.");
      EmoteDrawPlayer(rec, tile);
      if (PlatGpuSetTarget(g_D3dBackBuffer) != 0) ErrTrace("SetRenderTarget Error.");
    }
    LayerRecord *mask, *second;
    if (ResolveNamed(rec->mask_name, &mask) < 0) return -1;
    if (ResolveNamed(rec->second_name, &second) < 0) return -1;
    D3dDrawLayer(rec, mask, second, 1, rec->blend_mode, 0);
  }
  return 0;
}

u32 D3dVertexColour(i32 mode, i32 o) {
  switch (mode) {
    case 0:
    case 1:
    case 2:
    case 3:
    case 5:
    case 6:
    case 7:
    case 9:
    case 98:
    case 100:
      return static_cast<u32>(o) << 24 | static_cast<u32>(o) << 16 | static_cast<u32>(o) << 8 | static_cast<u32>(o);
    default: return 0xFF000000u;
  }
}

// The blend set-up of a mode: the stage program, what the texture factor holds, the stage-1
// texture, and the blend triple. Modes without a set-up of their own draw as mode 0.
enum { TF_OPACITY, TF_WHITE, TF_NONE };
enum { S1_KEEP, S1_WHITE, S1_BLACK };
struct D3dBlendSetup {
  u8 stages, factor, stage1;
  u8 src, dst, op;
};
static const D3dBlendSetup kBlendSetups[10] = {
    {PLAT_GPU_STAGES_NORMAL, TF_OPACITY, S1_KEEP, PLAT_BLEND_SRCALPHA, PLAT_BLEND_INVSRCALPHA, PLAT_BLENDOP_ADD},
    {PLAT_GPU_STAGES_ADD, TF_NONE, S1_KEEP, PLAT_BLEND_SRCALPHA, PLAT_BLEND_ONE, PLAT_BLENDOP_ADD},
    {PLAT_GPU_STAGES_MODULATE, TF_NONE, S1_KEEP, PLAT_BLEND_SRCALPHA, PLAT_BLEND_ONE, PLAT_BLENDOP_REVSUBTRACT},
    {PLAT_GPU_STAGES_TOWARDS_TEXTURE1, TF_WHITE, S1_WHITE, PLAT_BLEND_ZERO, PLAT_BLEND_SRCCOLOR, PLAT_BLENDOP_ADD},
    {PLAT_GPU_STAGES_NORMAL, TF_OPACITY, S1_KEEP, PLAT_BLEND_SRCALPHA, PLAT_BLEND_INVSRCALPHA, PLAT_BLENDOP_ADD},
    {PLAT_GPU_STAGES_TOWARDS_TEXTURE1, TF_NONE, S1_BLACK, PLAT_BLEND_INVDESTCOLOR, PLAT_BLEND_ONE, PLAT_BLENDOP_ADD},
    {PLAT_GPU_STAGES_MODULATE, TF_NONE, S1_KEEP, PLAT_BLEND_ONE, PLAT_BLEND_ONE, PLAT_BLENDOP_MAX},
    {PLAT_GPU_STAGES_TOWARDS_FACTOR, TF_WHITE, S1_KEEP, PLAT_BLEND_ONE, PLAT_BLEND_ONE, PLAT_BLENDOP_MIN},
    {PLAT_GPU_STAGES_NORMAL, TF_OPACITY, S1_KEEP, PLAT_BLEND_SRCALPHA, PLAT_BLEND_INVSRCALPHA, PLAT_BLENDOP_ADD},
    {PLAT_GPU_STAGES_MODULATE, TF_NONE, S1_KEEP, PLAT_BLEND_INVDESTCOLOR, PLAT_BLEND_INVSRCCOLOR, PLAT_BLENDOP_ADD},
};

// The sub-pixel part of a corner coordinate in 16.16 fixed point, truncated.
static float SubPixel(float v) {
  const i32 fixed = static_cast<i32>(v * 65536.0f);
  return static_cast<float>(fixed & 0xFFFF) / 65536.0f;
}

// Rotation of a point about the origin as the yaw-pitch-roll matrix turns a row vector: roll
// about z, then pitch about x, then yaw about y.
static void Rotate(float* x, float* y, float yaw, float pitch, float roll) {
  float px = *x, py = *y, pz = 0.0f;
  float c = std::cos(roll), s = std::sin(roll);
  float nx = px * c - py * s, ny = px * s + py * c;
  px = nx;
  py = ny;
  c = std::cos(pitch);
  s = std::sin(pitch);
  ny = py * c - pz * s;
  float nz = py * s + pz * c;
  py = ny;
  pz = nz;
  c = std::cos(yaw);
  s = std::sin(yaw);
  nx = px * c + pz * s;
  px = nx;
  *x = px;
  *y = py;
}

i32 D3dDrawLayer(LayerRecord* rec, LayerRecord* mask, LayerRecord* second, i32 opacity_on, i32 mode, i32) {
  if (!rec || !rec->textures[0] || !g_D3dReady || !PlatGpuBind()) return 0;
  const bool character = IsCharacter(rec);
  float x = character ? 0.0f : static_cast<float>(rec->x100) / 100.0f;
  float y = character ? 0.0f : static_cast<float>(rec->y100) / 100.0f;
  const float sx = character ? 100.0f : static_cast<float>(rec->scale_x) / 100.0f;
  const float sy = character ? 100.0f : static_cast<float>(rec->scale_y) / 100.0f;
  const float k = 0.01745329238474369f / 100.0f;  // hundredths of a degree to radians
  const float yaw = character ? 0.0f : rec->rot_x * k;
  const float pitch = character ? 0.0f : rec->rot_y * k;
  const float roll = character ? 0.0f : rec->rot_z * k;
  const float cx = static_cast<float>(rec->gpu_transform[0]) / 100.0f;
  const float cy = static_cast<float>(rec->gpu_transform[1]) / 100.0f;
  const bool rotate = yaw != 0.0f || pitch != 0.0f || roll != 0.0f;

  const i32 o = opacity_on ? std::clamp<i32>(rec->opacity, 0, 255) : 0;
  const u32 colour = D3dVertexColour(mode, o);

  if (PlatGpuSetPixelShaderNone() != 0) ErrTrace("SetPixelShader Error.");
  const i32 pass = mask && rec->mask_softness > 0 ? 1 : (second ? 0 : -1);
  LayerRecord* other = pass == 1 ? mask : second;
  bool begun = false;
  if (pass >= 0) {
    if (g_lpEffect && PlatGpuEffectBeginPass(g_lpEffect, pass) == 0) begun = true;
    else ErrTrace("BeginPass Error.");
  }

  const D3dBlendSetup& b = kBlendSetups[mode >= 0 && mode < 10 ? mode : 0];
  const i32 cols = rec->tile_cols, rows = rec->tile_rows;
  x -= 0.5f;
  y -= 0.5f;
  float top = y;
  i32 result = 0;
  for (i32 r = 0; r < rows && result == 0; r++) {
    const float th = static_cast<float>(rec->tile_heights[r]);
    const float bottom = top + th * sy / 100.0f;
    float left = x;
    for (i32 c = 0; c < cols; c++) {
      const float tw = static_cast<float>(rec->tile_widths[c]);
      const float right = left + tw * sx / 100.0f;
      const i32 index = r * cols + c;
      PlatGpuTexture* tile = static_cast<PlatGpuTexture*>(rec->textures[index]);
      const float px[4] = {left, right, left, right}, py[4] = {bottom, bottom, top, top};
      const float pu[4] = {0, 1, 0, 1}, pv[4] = {1, 1, 0, 0};
      D3dQuadVertex v[4];
      for (int i = 0; i < 4; i++) {
        v[i] = D3dQuadVertex{};
        float vx = px[i], vy = py[i];
        const float u = pu[i] + SubPixel(vx) * 0.25f / tw;
        const float vv = pv[i] + SubPixel(vy) * 0.25f / th;
        if (rotate) {
          vx -= cx;
          vy -= cy;
          Rotate(&vx, &vy, yaw, pitch, roll);
          vx += cx;
          vy += cy;
        }
        v[i].x = vx;
        v[i].y = vy;
        v[i].z = 0.0f;
        v[i].rhw = 1.0f;
        v[i].colour = colour;
        for (auto& t : v[i].tex) {
          t[0] = u;
          t[1] = vv;
        }
      }
      left = right;
      if (!tile) continue;  // a tile the device refused
      PlatGpuTexture* tile2 = other ? static_cast<PlatGpuTexture*>(other->textures[index]) : nullptr;
      if (PlatGpuSetTexture(2, nullptr) != 0 || PlatGpuSetTexture(0, tile) != 0 || PlatGpuSetTexture(1, tile2) != 0) {
        ErrTrace("SetTexture Error.");
        result = -1;
        break;
      }
      u32 factor = b.factor == TF_OPACITY ? static_cast<u32>(o) << 24 : (b.factor == TF_WHITE ? 0xFFFFFFFFu : 0u);
      if (PlatGpuSetStages(b.stages, factor) != 0) ErrTrace("SetTextureStageState Error.");
      if (b.stage1 != S1_KEEP) PlatGpuSetTexture(1, b.stage1 == S1_WHITE ? g_D3dWhiteTexture : g_D3dBlackTexture);
      if (PlatGpuSetBlend(b.src, b.dst, b.op) != 0) {
        ErrTrace("SetRenderState Error.");
        result = -1;
        break;
      }
      if (begun) {
        PlatGpuEffectSetTexture(g_lpEffect, "ZP_Texture1", tile);
        PlatGpuEffectSetTexture(g_lpEffect, "ZP_Texture2", tile2);
        const float alpha = static_cast<float>(rec->opacity) / 256.0f;
        float fade;
        if (pass == 1) {
          fade = static_cast<float>(rec->mask_progress) * (256.0f / static_cast<float>(rec->mask_softness) + 128.0f) /
                 65536.0f;
          const float fade2 = static_cast<float>(rec->mask_softness);
          if (PlatGpuEffectSetFloats(g_lpEffect, "ZP_FadeVal2", &fade2, 1) != 0) ErrTrace("SetFloat Error.");
        } else {
          fade = static_cast<float>(rec->second_amount) / 256.0f;
        }
        if (PlatGpuEffectSetFloats(g_lpEffect, "ZP_AlphaVal", &alpha, 1) != 0 ||
            PlatGpuEffectSetFloats(g_lpEffect, "ZP_FadeVal", &fade, 1) != 0)
          ErrTrace("SetFloat Error.");
        if (PlatGpuEffectCommit(g_lpEffect) != 0) ErrTrace("CommitChanges Error.");
      }
      if (PlatGpuDrawQuad(v) != 0) {
        ErrTrace("DrawPrimitiveUP E2.");
        return -1;  // a begun pass stays open until the effect ends with the frame pass
      }
    }
    top = bottom;
  }
  if (begun) PlatGpuEffectEndPass(g_lpEffect);
  return result;
}
