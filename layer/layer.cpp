// Layer records and the layer tree (see layer.h). Marking walks from a node up through every
// ancestor that has a record; the compositor clamps what marking leaves unclipped. Positions are
// used with their full 64-bit range everywhere, so marking and composition always agree on where
// a layer lies.
#include "layer/layer.h"

#include <algorithm>
#include <cassert>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/sjis.h"
#include "core/err.h"
#include "core/hooks.h"
#include "core/state.h"
#include "layer/image.h"
#include "layer/image_frameset.h"
#include "layer/image_gif.h"
#include "layer/kernels.h"
#include "layer/message.h"
#include "platform/platform.h"

void LayerRecordFree(LayerRecord* rec) {
  if (!rec) return;
  // The textures and the player belong to their own modules, which release them before the
  // last reference goes.
  LayerFreeFrameSet(rec);
  free(rec->mask_name);
  free(rec->second_name);
  free(rec->source_name);
  free(rec->pixels);
  ImageGifFreeFrames(rec->gif_frames);
  free(rec->player_vars);
  free(rec->player_motion);
  free(rec->player_timeline);
  free(rec);
}

// ---- Rectangles ------------------------------------------------------------------------------

struct Rect64 {
  i64 left, top, right, bottom;
};

static void SetDirty(LayerRecord* r, const Rect64& a) {
  r->dirty_left = a.left;
  r->dirty_top = a.top;
  r->dirty_right = a.right;
  r->dirty_bottom = a.bottom;
}

static void GrowDirty(LayerRecord* r, const Rect64& a) {
  r->dirty_left = std::min(r->dirty_left, a.left);
  r->dirty_top = std::min(r->dirty_top, a.top);
  r->dirty_right = std::max(r->dirty_right, a.right);
  r->dirty_bottom = std::max(r->dirty_bottom, a.bottom);
}

static Rect64 RectInParent(const LayerRecord* c) {
  i64 x = LayerClampPos(c->x), y = LayerClampPos(c->y);
  return {x, y, x + c->width - 1, y + c->height - 1};
}

static Rect64 WholeRect(const LayerRecord* r) { return {0, 0, i64{r->width} - 1, i64{r->height} - 1}; }

// ---- Creation --------------------------------------------------------------------------------

ObjNode* LayerCreateNode(const char* path, u8 folder, i64 order) {
  if (!path) {
    ErrRaiseAtScript(ERR_LAYER_NULL_PATH, 1);
    return nullptr;
  }
  return ObjCreateNode(g_LayerRoot, path, folder ? OBJ_FOLDER : OBJ_ITEM, order);
}

static const std::string& Sjis(const char* utf8, std::string* cache) {
  if (cache->empty()) *cache = PlatUtf8ToSjis(utf8);
  return *cache;
}

// The picture of a new layer: width * height * 4 pixel bytes, a spare row and a spare pixel
// (zeroed, for the bilinear readers), the pixels cleared. Null after the message and the raise.
static u8* AllocClearedPicture(u8* old, i32 width, i32 height) {
  static std::string too_large, no_memory;
  if (width > IMAGE_MAX_SIZE) {
    ErrMessageBoxF("", Sjis("ＣＧサイズが大きすぎます。X=%d, Y=%d", &too_large).c_str(), width, height);
    ErrRaise(ERR_OUT_OF_MEMORY, 1);
    return nullptr;
  }
  // A negative size is a request that cannot be met, reported as the original reports one.
  u8* p = nullptr;
  if (width >= 0 && height >= 0) p = static_cast<u8*>(std::realloc(old, ImagePixelBytes(width, height)));
  if (!p) {
    ErrMessageBoxF("", Sjis("メモリ確保エラーです。[%s](%d, %d)", &no_memory).c_str(), "", width, height);
    ErrRaise(ERR_FILE_READ_NOMEM, 1);
    return nullptr;
  }
  size_t row = static_cast<size_t>(width) * 4;
  for (i32 y = 0; y < height; y++) g_PixelKernels.zero(p + row * static_cast<size_t>(y), static_cast<i32>(row));
  std::memset(p + row * static_cast<size_t>(height), 0, row + 4);
  return p;
}

static ObjNode* CreateFolderLayer(const char* path, i32 width, i32 height, i64 order) {
  ObjNode* node = LayerCreateNode(path, 1, order);
  if (!node) return nullptr;
  LayerRecord* rec = LayerRecordNew(node);
  if (!rec) {
    ObjUnlinkNode(node);
    ObjFreeNode(node);
    return nullptr;
  }
  u8* pixels = AllocClearedPicture(rec->pixels, width, height);
  if (!pixels) {
    LayerRelease(node);
    return nullptr;
  }
  rec->pixels = pixels;
  rec->width = width;
  rec->height = height;
  rec->changed = 1;
  rec->dirty_valid = 1;
  SetDirty(rec, WholeRect(rec));
  LayerMarkDirtyWhole(node);
  return node;
}

LayerRecord* LayerCreate(const char* path, i32 width, i32 height, i64 order) {
  return LayerOf(CreateFolderLayer(path, width, height, order));
}

i32 LayerCreateWindowRoot(i32 window) {
  if (window < 0 || window >= WIN_COUNT) return -1;
  WindowObject* w = g_WindowObjects[window];
  if (!w) return 0;  // no window object (a tree made without windows): nothing to show it in
  char name[8] = {'W', static_cast<char>('0' + window), 0};
  ObjNode* node = CreateFolderLayer(name, w->width, w->height, window);
  if (!node) return -1;
  LayerOf(node)->is_window_root = 1;
  w->root_layer = node;
  return 0;
}

i32 LayerLoadPicture(LayerRecord* rec, const char* name) {
  if (!rec) return -1;
  if (rec->source_name) rec->source_name[0] = '\0';
  if (name && name[0]) return ImageLoad(rec, name);
  ImagePicture pic = {rec->pixels, rec->width, rec->height, rec->has_alpha};
  int r = ImageMakeEmpty(&pic, name);
  // The allocator keeps the old buffer when it fails, so the record stays consistent either way.
  rec->pixels = pic.pixels;
  rec->width = pic.width;
  rec->height = pic.height;
  rec->has_alpha = pic.has_alpha;
  return r;
}

// ---- Dirty marking ---------------------------------------------------------------------------

void LayerMarkDirty(ObjNode* node) {
  if (LayerRecord* own = LayerOf(node)) own->content_changed = 1;
  for (ObjNode* c = node; c && c->parent; c = c->parent) {
    LayerRecord* cr = LayerOf(c);
    LayerRecord* pr = LayerOf(c->parent);
    if (!cr || !pr) return;
    Rect64 a = RectInParent(cr);
    if (a.left >= pr->width || a.top >= pr->height || a.right < 0 || a.bottom < 0) continue;
    pr->needs_compose = 1;
    pr->content_changed = 1;
    if (pr->mark_count == 0 || !pr->dirty_valid) {
      SetDirty(pr, a);
      pr->dirty_valid = 1;
      pr->mark_count++;
    } else {
      GrowDirty(pr, a);
    }
  }
}

void LayerMarkDirtyWhole(ObjNode* node) {
  for (ObjNode* c = node; c; c = c->parent) {
    LayerRecord* r = LayerOf(c);
    if (!r) return;
    // The layer's own rectangle, whatever its position: a layer left of or above its parent's
    // origin is still recomposed whole.
    r->needs_compose = 1;
    r->content_changed = 1;
    if (r->mark_count == 0 || !r->dirty_valid) SetDirty(r, WholeRect(r));
    else GrowDirty(r, WholeRect(r));
    r->dirty_valid = 1;
    r->mark_count++;
  }
}

void LayerMergeDirty(ObjNode* node, i32) {
  LayerRecord* r = LayerOf(node);
  if (!r) return;
  // An empty dirty rectangle (a layer without pixels) adds nothing to what is shown.
  if (r->dirty_left <= r->dirty_right && r->dirty_top <= r->dirty_bottom) {
    r->update_left = std::min(r->update_left, r->dirty_left);
    r->update_top = std::min(r->update_top, r->dirty_top);
    r->update_right = std::max(r->update_right, r->dirty_right);
    r->update_bottom = std::max(r->update_bottom, r->dirty_bottom);
  }
  if (r->changed) {
    r->changed = 0;
    r->update_left = 0;
    r->update_top = 0;
    r->update_right = i64{r->width} - 1;
    r->update_bottom = i64{r->height} - 1;
  }
}

// ---- Mask users ------------------------------------------------------------------------------

// Masks are looked up by name when their users are composed, so a mask's own marks reach only
// its own area. These maps remember, from each user's last composition, which layer its mask
// name resolved to (names change meaning with the layer base path and with exchanges, so the
// compositor notes them afresh every time), so that a change of the mask's pixels also marks
// the layers drawn through it.
static std::unordered_map<ObjNode*, ObjNode*> s_MaskOfUser;
static std::unordered_map<ObjNode*, std::vector<ObjNode*>> s_UsersOfMask;

static void DropMaskUser(ObjNode* user) {
  auto it = s_MaskOfUser.find(user);
  if (it == s_MaskOfUser.end()) return;
  auto m = s_UsersOfMask.find(it->second);
  if (m != s_UsersOfMask.end()) {
    std::vector<ObjNode*>& users = m->second;
    users.erase(std::remove(users.begin(), users.end(), user), users.end());
    if (users.empty()) s_UsersOfMask.erase(m);
  }
  s_MaskOfUser.erase(it);
}

void LayerNoteMaskUser(ObjNode* user, ObjNode* mask) {
  auto it = s_MaskOfUser.find(user);
  if (it != s_MaskOfUser.end() && it->second == mask) return;
  DropMaskUser(user);
  if (mask == user) return;
  // A mask name that finds nothing is noted too (as null): after the names move it may find one.
  const LayerRecord* r = LayerOf(user);
  if (!mask && !(r && r->mask_name && r->mask_name[0])) return;
  // Out of memory only loses the note: the user then misses a mask's change until it is marked
  // for another reason.
  try {
    s_MaskOfUser.emplace(user, mask);
    if (mask) s_UsersOfMask[mask].push_back(user);
  } catch (...) {
    DropMaskUser(user);
  }
}

static bool s_MaskNamesMoved = false;

void LayerMaskNamesMoved() { s_MaskNamesMoved = true; }

void LayerForgetMaskUsers() {
  s_MaskNamesMoved = false;
  // Their memory goes too, not only their entries.
  std::unordered_map<ObjNode*, ObjNode*>().swap(s_MaskOfUser);
  std::unordered_map<ObjNode*, std::vector<ObjNode*>>().swap(s_UsersOfMask);
}

// A released node is no one's mask and uses none; its users show the change of losing it.
static void ForgetMaskNode(ObjNode* node) {
  DropMaskUser(node);
  auto m = s_UsersOfMask.find(node);
  if (m == s_UsersOfMask.end()) return;
  std::vector<ObjNode*> users = std::move(m->second);
  s_UsersOfMask.erase(m);
  for (ObjNode* u : users) {
    s_MaskOfUser.erase(u);
    LayerMarkDirty(u);
  }
}

// Marks the users of every mask marked since the last commit. Marking a user marks its folders,
// which may be masks in turn: a few rounds follow such chains (and end even if names form a
// cycle).
static void MarkMaskUsers() {
  if (s_MaskNamesMoved) {
    s_MaskNamesMoved = false;
    for (auto& [user, mask] : s_MaskOfUser) LayerMarkDirty(user);
  }
  for (i32 round = 0; round < 4; round++) {
    bool marked = false;
    for (auto& [mask, users] : s_UsersOfMask) {
      LayerRecord* m = LayerOf(mask);
      if (!m || !m->content_changed) continue;
      m->content_changed = 0;
      for (ObjNode* u : users) LayerMarkDirty(u);
      marked = true;
    }
    if (!marked) return;
  }
}

// ---- Once a frame ----------------------------------------------------------------------------

static void CommitWalk(ObjNode* node);

void LayerCommitChanges(ObjNode* node) {
  CommitWalk(node);
  MarkMaskUsers();
}

static void CommitWalk(ObjNode* node) {
  for (ObjNode* n = node; n; n = n->next) {
    if (LayerRecord* r = LayerOf(n)) {
      bool changed = false, shown_changed = false;
      if (r->pending_visible_set) {
        r->pending_visible_set = 0;
        if (r->pending_visible != r->visible) {
          r->visible = r->pending_visible;
          changed = shown_changed = true;
        }
      }
      if (r->pending_opacity_set) {
        r->pending_opacity_set = 0;
        if (r->pending_opacity != r->opacity) {
          r->opacity = r->pending_opacity;
          changed = true;
        }
      }
      if (changed) {
        g_D3dRedraw = 1;
        LayerMarkDirty(n);
        // A window root has no parent picture to mark: shown again, it is presented whole.
        if (shown_changed && r->is_window_root) {
          r->changed = 1;
          LayerMarkDirtyWhole(n);
        }
      }
    }
    if (n->kind == OBJ_FOLDER) CommitWalk(n->first_child);
  }
}

void LayerResetUpdateRects(ObjNode* node) {
  for (ObjNode* n = node; n; n = n->next) {
    if (LayerRecord* r = LayerOf(n)) {
      // A folder the compositor did not reach this frame keeps its pending change for the
      // frame that does; everything else starts the next frame unmarked.
      bool pending = n->kind == OBJ_FOLDER && r->dirty_valid && LayerHasPixels(r);
      if (!pending) {
        r->mark_count = 0;
        r->needs_compose = 0;
        r->dirty_valid = 0;
      }
      r->update_left = r->update_top = LAYER_RECT_EMPTY_MIN;
      r->update_right = r->update_bottom = LAYER_RECT_EMPTY_MAX;
    }
    if (n->kind == OBJ_FOLDER) LayerResetUpdateRects(n->first_child);
  }
}

// ---- Order and exchange ----------------------------------------------------------------------

i32 LayerSwap(ObjNode* a, ObjNode* b, i32 what) {
  if (!a || !b || a == b) return 0;
  LayerMarkDirty(a);
  LayerMarkDirty(b);
  i64 order_a = a->order, order_b = b->order;
  ObjSetOrder(a, order_b);
  ObjSetOrder(b, order_a);
  // Each name keeps its own buffer, so it always fits; each key goes with its name, folder bit
  // and all, so every name a script used finds the other layer, mask names included.
  ObjSwapNames(a, b);
  LayerMaskNamesMoved();
  LayerRecord* ra = LayerOf(a);
  LayerRecord* rb = LayerOf(b);
  if (ra && rb && ra != rb && what >= LAYER_SWAP_POSITION) {
    std::swap(ra->x, rb->x);
    std::swap(ra->y, rb->y);
    if (what >= LAYER_SWAP_APPEARANCE) {
      std::swap(ra->visible, rb->visible);
      std::swap(ra->opacity, rb->opacity);
      std::swap(ra->mask_progress, rb->mask_progress);
      std::swap(ra->mask_softness, rb->mask_softness);
      std::swap(ra->blend_mode, rb->blend_mode);
    }
  }
  // Under different parents each layer now shows in the other's former place.
  LayerMarkDirty(a);
  LayerMarkDirty(b);
  return 0;
}

// ---- Release ---------------------------------------------------------------------------------

void LayerFreeFrameSet(LayerRecord* rec) {
  if (!rec || !rec->frame_set) return;
  ImageFrameSetFree(rec->frame_set);
  rec->frame_set = nullptr;
}

// Every global that points at a node, so none is left pointing at freed memory.
static void ForgetNode(ObjNode* node) {
  for (WindowObject* w : g_WindowObjects)
    if (w && w->root_layer == node) w->root_layer = nullptr;
  TextMessageForgetLayer(node);
  HookCall(g_HookForgetDragLayer, node);
  HookCall(g_HookGpuForgetLayer, node);
  ForgetMaskNode(node);
}

void LayerRelease(ObjNode* node) {
  if (!node) return;
  // A folder released on its own would leave its children pointing at it.
  if (node->first_child) LayerReleaseChildren(node);
  LayerRecord* rec = LayerOf(node);
  if (rec) {
    rec->is_window_root = 0;
    rec->is_message_layer = 0;
  }
  ForgetNode(node);
  ObjUnlinkNode(node);
  if (rec && rec->ref_count > 0 && --rec->ref_count == 0) {
    HookCall(g_HookGpuFreeTiles, rec);
    LayerFreeFrameSet(rec);
    if (g_EmoteAvailable && rec->player) {
      HookCall(g_HookEmoteReleasePlayer, rec);
      g_D3dRedraw = 1;
    }
    rec->draw_kind = LAYER_DRAW_CPU;
    LayerRecordFree(rec);
  }
  node->payload = nullptr;
  ObjFreeNode(node);
}

void LayerReleaseChildren(ObjNode* node) {
  if (!node) return;
  ObjNode* c = node->first_child;
  while (c) {
    ObjNode* next = c->next;
    LayerRelease(c);
    c = next;
  }
}

void LayerDeleteTree(ObjNode* node) {
  LayerReleaseChildren(node);
  LayerRelease(node);
}

i32 LayerRecordAlloc(ObjNode* node) {
  if (!node) return 1;
  LayerRecord* rec = static_cast<LayerRecord*>(ObjAllocPayload(sizeof(LayerRecord)));
  if (!rec) return 1;
  rec->mask_name = static_cast<char*>(MemAllocZeroed(LAYER_NAME_SIZE));
  rec->second_name = static_cast<char*>(MemAllocZeroed(LAYER_NAME_SIZE));
  rec->source_name = static_cast<char*>(MemAllocZeroed(LAYER_NAME_SIZE));
  if (!rec->mask_name || !rec->second_name || !rec->source_name) {
    LayerRecordFree(rec);
    ErrRaiseAtScript(ERR_OUT_OF_MEMORY, 1);
    return 1;
  }
  rec->ref_count = 1;
  rec->width = 1;
  rec->height = 1;
  rec->opacity = 256;
  rec->mask_progress = 256;
  rec->visible = 1;
  rec->scale_x = 10000;
  rec->scale_y = 10000;
  rec->saturation = 128;
  rec->tone = 0x808080;
  rec->player_value1 = 1.0f;
  rec->player_value2 = 1.0f;
  rec->player_value3 = 1.0f;
  rec->player_flag = 1;
  node->payload = rec;
  return 0;
}

LayerRecord* LayerRecordNew(ObjNode* node) {
  if (!node || LayerRecordAlloc(node) != 0) return nullptr;
  return static_cast<LayerRecord*>(node->payload);
}

i32 LayerRecordAttach(ObjNode* node, LayerRecord* rec) {
  if (!node || !rec) return 0;
  assert(rec->ref_count > 0);  // a shared record is alive: its first owner still holds it
  node->payload = rec;
  rec->ref_count++;
  return 0;
}

LayerRecord* LayerRecordShare(ObjNode* node, LayerRecord* rec) {
  if (!node) return nullptr;
  LayerRecordAttach(node, rec);
  return rec;
}
