// Commands 1, 3 and 4: creating and updating layers, deleting them and reading their properties.
// Command 1 applies its parameters in one fixed order, so a line that changes several things
// always does them the same way; steps applied before an error stay applied. Stored values keep
// what the operators gave (the query returns them); composition clamps where it uses them.
#include "layer/layer_cmd.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/sjis.h"
#include "core/config.h"
#include "core/err.h"
#include "core/hooks.h"
#include "core/obj.h"
#include "core/state.h"
#include "core/sys.h"
#include "layer/compose.h"
#include "layer/image.h"
#include "layer/layer.h"
#include "platform/platform.h"
#include "script/arg.h"
#include "script/cmd.h"
#include "script/var.h"

char g_LayerCmdPath[LAYER_CMD_PATH_SIZE];
char g_LayerCmdAlphaPath[LAYER_CMD_PATH_SIZE];
char g_LayerCmdSharePath[LAYER_CMD_PATH_SIZE];
char g_LayerCmdName[LAYER_CMD_PATH_SIZE];

enum { SLOT_CREATE = 1, SLOT_DELETE = 3, SLOT_INFO = 4 };

// Command 1's parameter ids.
enum {
  P_NAME = 0,
  P_NUM = 1,
  P_VISIBLE = 2,
  P_OPACITY = 3,
  P_X = 4,
  P_Y = 5,
  P_ORDER = 6,
  P_WIDTH = 7,
  P_HEIGHT = 8,
  P_TILE = 11,
  P_GPU = 12,
  P_READBACK = 13,
  P_GPU_REDRAW = 14,
  P_X100 = 15,
  P_Y100 = 16,
  P_SCALE_X = 17,
  P_SCALE_Y = 18,
  P_ROT_X = 19,
  P_GPU1 = 22,
  P_SATURATION = 27,
  P_TONE = 28,
  P_SECOND_MODE = 29,
  P_SECOND_NAME = 30,
  P_SECOND_AMOUNT = 31,
  P_KEEP_BUFFER = 32,
  P_FILE = 33,
  P_SHARE = 34,
  P_ALPHA_FROM = 35,
  P_MASK_PROGRESS = 37,
  P_MASK = 38,
  P_MASK_NUM = 39,
  P_MASK_SOFT = 40,
  P_BLEND = 41,
  P_USER1 = 43,
  P_USER2 = 44,
};

static const char kMaskSizeUtf8[] = "レイヤ画像とマスクレイヤ画像のサイズが異なります。";
static const char kSizeTooLargeUtf8[] = "ＣＧサイズが大きすぎます。X=%d, Y=%d";

static std::string Sjis(const char* utf8) { return PlatUtf8ToSjis(utf8); }

// ---- Shared steps ----------------------------------------------------------------------------

// Parameter 0, with ".<number>" when parameter 1 is given, into buf.
static void BuildName(char* buf) {
  if (ArgGiven(P_NUM))
    std::snprintf(buf, LAYER_CMD_PATH_SIZE, "%s.%lld", ArgStr(P_NAME), static_cast<long long>(ArgInt(P_NUM)));
  else StrCopySjis(buf, LAYER_CMD_PATH_SIZE, ArgStr(P_NAME));
}

// Resolves the built name into path and finds its node. -1 after the resolver's error, else 0
// with *folder set (never a folder with a number) and *node the node or null.
static i32 FindNamedLayer(char* name_buf, char* path, bool* folder, ObjNode** node) {
  BuildName(name_buf);
  i32 r = ObjResolvePath(path, LAYER_CMD_PATH_SIZE, name_buf, g_LayerBase, 0);
  if (r < 0) return -1;
  *folder = r == 1 && !ArgGiven(P_NUM);
  *node = ObjFindNode(g_LayerRoot, path, *folder ? OBJ_FIND_FOLDER : OBJ_FIND_ITEM);
  return 0;
}

static ObjNode* FindExact(const char* name, char* path) {
  if (ObjResolvePath(path, LAYER_CMD_PATH_SIZE, name, g_LayerBase, 0) < 0) return nullptr;
  return ObjFindNode(g_LayerRoot, path, OBJ_FIND_ITEM);
}

void LayerAbsoluteOrigin(const ObjNode* node, i64* x, i64* y) {
  i64 ax = 0, ay = 0;
  for (const ObjNode* n = node; n && n->parent && n != g_LayerRoot; n = n->parent) {
    const LayerRecord* r = LayerOf(n);
    if (!r) continue;
    ax = LayerClampPos(ax + LayerClampPos(r->x));
    ay = LayerClampPos(ay + LayerClampPos(r->y));
  }
  *x = ax;
  *y = ay;
}

static i16 SatI16(i64 v) { return static_cast<i16>(std::clamp<i64>(v, INT16_MIN, INT16_MAX)); }
static i32 SatI32(i64 v) { return static_cast<i32>(std::clamp<i64>(v, INT32_MIN, INT32_MAX)); }

// A new pixel buffer for a size change: the size message and 100010 above 8192 wide, 104030
// when memory runs out. Null after raising.
static u8* AllocCanvas(i32 width, i32 height) {
  if (width > IMAGE_MAX_SIZE) {
    ErrMessageBoxF("", Sjis(kSizeTooLargeUtf8).c_str(), width, height);
    ErrRaiseAtScript(ERR_OUT_OF_MEMORY, 1);
    return nullptr;
  }
  u8* p = static_cast<u8*>(std::malloc(ImagePixelBytes(width, height)));
  if (!p) ErrRaiseAtScriptF(ERR_FILE_READ_NOMEM, 1, g_LayerCmdPath);
  return p;
}

// ---- Command 1 -------------------------------------------------------------------------------

struct CreateState {
  ObjNode* node;
  LayerRecord* rec;
  bool folder;
  bool changed;
};

static void MarkArea(const CreateState& s) {
  if (s.folder) LayerMarkDirtyWhole(s.node);
  else LayerMarkDirty(s.node);
}

// Step 5: a missing layer is made when the line says how. 1 = made, 0 = the line ends quietly
// (return 0), -1 = stop.
static i32 CreateMissing(CreateState* s, i64 order) {
  const char* cmd = ArgCommandName(SLOT_CREATE);
  if (s->folder) {
    if (ArgGiven(P_FILE) || ArgGiven(P_SHARE)) {
      ErrRaiseAtScriptF(ERR_LAYER_FOLDER_PICTURE, 1, cmd);
      return -1;
    }
    if (!ArgGiven(P_WIDTH) || !ArgGiven(P_HEIGHT) || order == -1) return 0;
    if (!LayerCreate(g_LayerCmdPath, SatI32(ArgInt(P_WIDTH)), SatI32(ArgInt(P_HEIGHT)), order)) return -1;
    s->node = ObjFindNode(g_LayerRoot, g_LayerCmdPath, OBJ_FIND_FOLDER);
    s->rec = LayerOf(s->node);
    return s->rec ? 1 : -1;
  }
  if (!ArgGiven(P_FILE) && !ArgGiven(P_SHARE)) {
    if (g_CmdFlags[SLOT_CREATE] == 0) return 0;
    ErrRaiseAtScriptF(ERR_LAYER_MISSING, 1, cmd, g_LayerCmdPath);
    return -1;
  }
  if (order == -1) {
    ErrRaiseAtScriptF(ERR_LAYER_NO_ORDER, 1, cmd);
    return -1;
  }
  // The share source is checked before the node exists, so a missing one leaves no empty node.
  LayerRecord* shared = nullptr;
  if (!ArgGiven(P_FILE) && ArgStr(P_SHARE)[0]) {
    shared = LayerOf(FindExact(ArgStr(P_SHARE), g_LayerCmdSharePath));
    if (!shared) {
      ErrRaiseAtScriptF(ERR_LAYER_SHARE_MISSING, 1, cmd, g_LayerCmdSharePath);
      return -1;
    }
  }
  s->node = LayerCreateNode(g_LayerCmdPath, OBJ_ITEM, order);
  if (!s->node) return -1;
  if (ArgGiven(P_FILE)) s->rec = LayerRecordNew(s->node);
  else if (shared) s->rec = LayerRecordShare(s->node, shared);
  if (!s->rec) {
    // Nothing to put in it: the bare node would otherwise stay in the tree.
    LayerRelease(s->node);
    s->node = nullptr;
    return -1;
  }
  return 1;
}

// Step 8: the alpha bytes from another layer's blue channel. -1 stops.
static i32 AlphaFromLayer(CreateState* s) {
  const char* src_name = ArgStr(P_ALPHA_FROM);
  if (!src_name[0]) return 0;
  LayerRecord* src = LayerOf(FindExact(src_name, g_LayerCmdAlphaPath));
  if (!src) return 0;
  LayerRecord* r = s->rec;
  if (src->width != r->width || src->height != r->height) {
    ErrMessageBoxF("", "%s", Sjis(kMaskSizeUtf8).c_str());
    ErrQuitOnFailure();
    return -1;
  }
  if (!LayerHasPixels(r) || !LayerHasPixels(src)) return 0;
  size_t n = static_cast<size_t>(r->width) * static_cast<size_t>(r->height);
  for (size_t i = 0; i < n; i++) r->pixels[i * 4 + 3] = src->pixels[i * 4];
  r->has_alpha = 1;
  return 0;
}

static void ApplyPositionStep(CreateState* s, u8 pixel_param, u8 hundredth_param, i64* pos, i64* pos100, bool narrow) {
  if (ArgGiven(pixel_param)) {
    i64 v = ArgApplyOpInt64(ArgOp(pixel_param), *pos, ArgInt(pixel_param));
    if (narrow) v = static_cast<i32>(v);
    if (v != *pos) {
      MarkArea(*s);
      *pos = v;
      *pos100 = static_cast<i64>(static_cast<u64>(v) * 100u);
      s->changed = true;
    }
  }
  if (ArgGiven(hundredth_param)) {
    i64 v = ArgApplyOpInt64(ArgOp(hundredth_param), *pos100, ArgInt(hundredth_param));
    if (v != *pos100) {
      MarkArea(*s);
      *pos100 = v;
      *pos = v / 100;
      s->changed = true;
    }
  }
}

// Step 13: a folder's new size, its picture cleared and recomposed from its children at once.
static i32 ResizeFolder(CreateState* s) {
  LayerRecord* r = s->rec;
  const i32 old_w = r->width, old_h = r->height;
  for (u8 p : {P_WIDTH, P_HEIGHT}) {
    if (!ArgGiven(p)) continue;
    LayerMarkDirtyWhole(s->node);
    (p == P_WIDTH ? r->width : r->height) = SatI32(ArgInt(p));
    if (r->width < 1 || r->height < 1) continue;
    r->dirty_valid = 1;
    r->changed = 1;
    r->dirty_left = r->dirty_top = 0;
    r->dirty_right = r->width - 1;
    r->dirty_bottom = r->height - 1;
    u8* np = AllocCanvas(r->width, r->height);
    if (!np) {
      // The record keeps a size its buffer can hold.
      r->width = old_w;
      r->height = old_h;
      return -1;
    }
    std::free(r->pixels);
    r->pixels = np;
    std::memset(np, 0, ImagePixelBytes(r->width, r->height));
    LayerMarkDirtyWhole(s->node);
    LayerCommitChanges(g_LayerRoot);
    if (LayerComposeTree(s->node, 0, 0) != 0) return -1;
  }
  return 0;
}

// Step 14: the picture cropped or extended to the right and bottom, new area opaque black.
static i32 ChangeCanvas(CreateState* s) {
  const char* cmd = ArgCommandName(SLOT_CREATE);
  if (!ArgGiven(P_FILE)) {
    ErrRaiseAtScriptF(ERR_LAYER_CANVAS_NO_FILE, 1, cmd);
    return -1;
  }
  if (!ArgGiven(P_WIDTH) || !ArgGiven(P_HEIGHT)) {
    ErrRaiseAtScriptF(ERR_LAYER_CANVAS_BOTH, 1, cmd);
    return -1;
  }
  for (u8 p : {P_WIDTH, P_HEIGHT}) {
    if (ArgInt(p) < 1) {
      ErrRaiseAtScriptF(ERR_ARG_MINIMUM, 1, cmd, ArgName(SLOT_CREATE, p), ArgInt(p), 1);
      return -1;
    }
  }
  LayerRecord* r = s->rec;
  const i32 nw = SatI32(ArgInt(P_WIDTH)), nh = SatI32(ArgInt(P_HEIGHT));
  LayerMarkDirty(s->node);
  u8* np = AllocCanvas(nw, nh);
  if (!np) return -1;
  u32* rows = reinterpret_cast<u32*>(np);
  std::fill(rows, rows + static_cast<size_t>(nw) * static_cast<size_t>(nh), 0xFF000000u);
  std::memset(np + static_cast<size_t>(nw) * nh * 4, 0, static_cast<size_t>(nw) * 4 + 4);
  if (LayerHasPixels(r)) {
    const i32 cw = std::min(nw, r->width), ch = std::min(nh, r->height);
    for (i32 y = 0; y < ch; y++)
      std::memcpy(np + static_cast<size_t>(y) * nw * 4, r->pixels + static_cast<size_t>(y) * r->width * 4,
                  static_cast<size_t>(cw) * 4);
  }
  std::free(r->pixels);
  r->pixels = np;
  r->width = nw;
  r->height = nh;
  LayerMarkDirty(s->node);
  return 0;
}

static void ApplyClamped16(u8 param, i16* field, i64 low, i64 high, bool* changed) {
  if (!ArgGiven(param)) return;
  i16 v = SatI16(ArgApplyOpClamped(ArgOp(param), *field, ArgInt(param), low, high));
  if (v != *field) *changed = true;
  *field = v;
}

static void ApplyInt64(u8 param, i64* field, bool* changed) {
  if (!ArgGiven(param)) return;
  i64 v = ArgApplyOpInt64(ArgOp(param), *field, ArgInt(param));
  if (v != *field) *changed = true;
  *field = v;
}

static void ApplyRotation(u8 param, float* field, bool* changed) {
  if (!ArgGiven(param)) return;
  // Clamped before the conversion: a float beyond the 64-bit range has no integer value.
  double f = std::clamp<double>(*field, -9.2e18, 9.2e18);
  i64 cur = std::isnan(f) ? 0 : static_cast<i64>(f);
  float v = static_cast<float>(ArgApplyOpInt64(ArgOp(param), cur, ArgInt(param)));
  if (v != *field) *changed = true;
  *field = v;
}

static void CopyName(char* dst, const char* src) {
  if (dst) StrCopySjis(dst, LAYER_NAME_SIZE, src);
}

i32 CmdLayerCreate() {
  if (ArgDecode(SLOT_CREATE) != 0) return -1;
  LayerCmdReset();
  CreateState s{};
  if (FindNamedLayer(g_LayerCmdName, g_LayerCmdPath, &s.folder, &s.node) < 0) return -1;
  s.rec = LayerOf(s.node);

  i64 order = ArgGiven(P_NUM) ? ArgInt(P_NUM) : -1;
  if (ArgGiven(P_ORDER)) {
    order = ArgApplyOpMin(ArgOp(P_ORDER), s.node ? s.node->order : 1, ArgInt(P_ORDER), 1);
    s.changed = ObjSetOrder(s.node, order) == 1;
  }

  if (!s.node) {
    i32 r = CreateMissing(&s, order);
    if (r <= 0) return r;
  }
  if (!s.rec) return -1;
  LayerRecord* rec = s.rec;

  if (ArgGiven(P_SATURATION)) {
    i64 v = ArgApplyOpClamped(ArgOp(P_SATURATION), rec->saturation, ArgInt(P_SATURATION), 0, 256);
    if (v != rec->saturation) s.changed = true;
    rec->saturation = SatI32(v);
  }
  if (ArgGiven(P_FILE)) {
    if (s.folder) {
      ErrRaiseAtScriptF(ERR_LAYER_FOLDER_PICTURE, 1, ArgCommandName(SLOT_CREATE));
      return -1;
    }
    LayerMarkDirty(s.node);
    if (LayerLoadPicture(rec, ArgStr(P_FILE)) != 0) {
      ErrQuitOnFailure();
      return -1;
    }
    s.changed = true;
  }
  if (ArgGiven(P_ALPHA_FROM) && AlphaFromLayer(&s) != 0) return -1;
  if (ArgGiven(P_MASK) || ArgGiven(P_MASK_NUM)) {
    char mask[LAYER_CMD_PATH_SIZE];
    if (ArgGiven(P_MASK_NUM))
      std::snprintf(mask, sizeof mask, "%s.%lld", ArgStr(P_MASK), static_cast<long long>(ArgInt(P_MASK_NUM)));
    else StrCopySjis(mask, sizeof mask, ArgStr(P_MASK));
    CopyName(rec->mask_name, mask);
    s.changed = true;
  }
  if (ArgGiven(P_VISIBLE)) {
    rec->pending_visible = static_cast<u8>(ArgInt(P_VISIBLE));
    rec->pending_visible_set = 1;
  }
  if (ArgGiven(P_OPACITY)) {
    rec->pending_opacity = SatI16(ArgApplyOpClamped(ArgOp(P_OPACITY), rec->opacity, ArgInt(P_OPACITY), 0, 256));
    rec->pending_opacity_set = 1;
  }
  ApplyPositionStep(&s, P_X, P_X100, &rec->x, &rec->x100, false);
  ApplyPositionStep(&s, P_Y, P_Y100, &rec->y, &rec->y100, true);

  if (ArgGiven(P_WIDTH) || ArgGiven(P_HEIGHT)) {
    if (s.folder) {
      if (ResizeFolder(&s) != 0) return -1;
    } else if (ChangeCanvas(&s) != 0) {
      return -1;
    }
  }

  ApplyClamped16(P_MASK_PROGRESS, &rec->mask_progress, 0, 256, &s.changed);
  if (ArgGiven(P_MASK_SOFT)) {
    i16 v = static_cast<i16>(static_cast<u16>(ArgInt(P_MASK_SOFT)));
    if (v != rec->mask_softness) s.changed = true;
    rec->mask_softness = v;
  }
  if (ArgGiven(P_BLEND)) {
    u8 v = static_cast<u8>(ArgInt(P_BLEND));
    if (v != rec->blend_mode) s.changed = true;
    rec->blend_mode = v;
  }
  if (ArgGiven(P_GPU) && ArgInt(P_GPU) == 1 && g_D3dInUse) {
    if (rec->draw_kind == LAYER_DRAW_CPU) rec->draw_kind = LAYER_DRAW_SPRITE;
    i8 tile = ArgGiven(P_TILE) ? static_cast<i8>(ArgInt(P_TILE) - 1) : 0;
    if (HookCall(g_HookGpuBuildTiles, rec, tile, 512, 256) != 0) return -1;
    s.changed = true;
  }
  if (ArgGiven(P_READBACK)) {
    if (ArgInt(P_READBACK) == 1) g_D3dReadbackNode = s.node;
    else if (ArgInt(P_READBACK) == 0) g_D3dReadbackNode = nullptr;
  }
  ApplyInt64(P_SCALE_X, &rec->scale_x, &s.changed);
  ApplyInt64(P_SCALE_Y, &rec->scale_y, &s.changed);
  ApplyRotation(P_ROT_X, &rec->rot_x, &s.changed);
  ApplyRotation(P_ROT_X + 1, &rec->rot_y, &s.changed);
  ApplyRotation(P_ROT_X + 2, &rec->rot_z, &s.changed);
  for (u8 i = 0; i < 5; i++) ApplyInt64(static_cast<u8>(P_GPU1 + i), &rec->gpu_transform[i], &s.changed);
  if (ArgGiven(P_TONE)) {
    i64 v = ArgApplyOpClamped(ArgOp(P_TONE), rec->tone, ArgInt(P_TONE), 0, 16777216);
    if (v != static_cast<i64>(rec->tone)) s.changed = true;
    rec->tone = static_cast<u32>(v);
  }
  if (ArgGiven(P_SECOND_MODE)) {
    u8 v = static_cast<u8>(ArgInt(P_SECOND_MODE));
    if (v != rec->second_mode) s.changed = true;
    rec->second_mode = v;
  }
  if (ArgGiven(P_SECOND_NAME)) {
    CopyName(rec->second_name, ArgStr(P_SECOND_NAME));
    s.changed = true;
  }
  if (ArgGiven(P_SECOND_AMOUNT)) {
    i64 v = ArgApplyOpClamped(ArgOp(P_SECOND_AMOUNT), rec->second_amount, ArgInt(P_SECOND_AMOUNT), 0, 256);
    if (v != rec->second_amount) s.changed = true;
    rec->second_amount = static_cast<u16>(v);
  }
  if (ArgGiven(P_KEEP_BUFFER)) {
    i64 v = ArgApplyOpClamped(ArgOp(P_KEEP_BUFFER), rec->keep_buffer, ArgInt(P_KEEP_BUFFER), 0, 1);
    if (v != rec->keep_buffer) s.changed = true;
    rec->keep_buffer = static_cast<u8>(v);
  }
  if (ArgGiven(P_GPU_REDRAW) && g_D3dInUse) {
    LayerCommitChanges(g_LayerRoot);
    HookCall(g_HookGpuFramePass);
    s.changed = true;
  }
  bool ignored = false;
  ApplyInt64(P_USER1, &rec->user_value1, &ignored);
  ApplyInt64(P_USER2, &rec->user_value2, &ignored);

  if (s.changed) {
    g_D3dRedraw = 1;
    LayerMarkDirty(s.node);
  }
  return 0;
}

// ---- Command 3 -------------------------------------------------------------------------------

static char g_DeletePath[LAYER_CMD_PATH_SIZE];
static char g_DeleteName[LAYER_CMD_PATH_SIZE];

i32 CmdLayerDelete() {
  if (ArgDecode(SLOT_DELETE) != 0) return -1;
  g_DeletePath[0] = g_DeleteName[0] = '\0';
  bool folder = false;
  ObjNode* node = nullptr;
  if (FindNamedLayer(g_DeleteName, g_DeletePath, &folder, &node) < 0) return -1;
  if (!node || !LayerOf(node)) return 0;
  LayerMarkDirty(node);
  // Depth first: LayerRelease takes a folder's children (and theirs) before the folder.
  LayerRelease(node);
  return 0;
}

// ---- Command 4 -------------------------------------------------------------------------------

static char g_InfoPath[LAYER_CMD_PATH_SIZE];
static char g_InfoName[LAYER_CMD_PATH_SIZE];

enum { Q_RESULT = 30, Q_X = 31, Q_Y = 32 };

// The layer's pixel under window point of the line (properties 23 to 25): 0 with *px, or -1.
static i32 PixelAtWindowPoint(ObjNode* node, const LayerRecord* r, i64 window, u32* px) {
  WindowObject* w = g_WindowObjects[std::clamp<i64>(window, 0, WIN_COUNT - 1)];
  if (!w) return -1;
  i64 x = ArgGiven(Q_X) ? ArgInt(Q_X) : w->cursor_x.load();
  i64 y = ArgGiven(Q_Y) ? ArgInt(Q_Y) : w->cursor_y.load();
  if (x < 0 || y < 0 || x >= w->width || y >= w->height) return -1;
  i64 ox, oy;
  LayerAbsoluteOrigin(node, &ox, &oy);
  x -= ox;
  y -= oy;
  if (!LayerHasPixels(r) || x < 0 || y < 0 || x >= r->width || y >= r->height) return -1;
  std::memcpy(px, r->pixels + (static_cast<size_t>(y) * r->width + static_cast<size_t>(x)) * 4, 4);
  return 0;
}

static i64 AlphaBounds(const LayerRecord* r, i64 edge) {
  if (edge < 1 || edge > 4) return 0;
  if (!LayerHasPixels(r)) return -1;
  i64 top = -1, bottom = -1, left = -1, right = -1;
  for (i32 y = 0; y < r->height; y++) {
    const u8* row = r->pixels + static_cast<size_t>(y) * r->width * 4;
    for (i32 x = 0; x < r->width; x++) {
      if (row[x * 4 + 3] == 0) continue;
      if (top < 0) top = y;
      bottom = y;
      if (left < 0 || x < left) left = x;
      if (x > right) right = x;
    }
  }
  const i64 edges[4] = {top, bottom, left, right};
  return edges[edge - 1];
}

static i32 StoreResult(i64 id, i64 index, i64 number, const char* text) {
  if (text) return VarSetStrElement(id, index, text) < 0 ? -1 : 0;
  VarRecord* v = VarRecordOf(id);
  if (v && v->type == VAR_TYPE_STR) return VarSetStrElement(id, index, "") < 0 ? -1 : 0;
  VarSetNumElement(id, index, number);
  return 0;
}

// ---- The properties, one reader each --------------------------------------------------------
// Each reader gives the property's number (or its text) for the query's line: 0, or -1 after an
// error.
typedef i32 (*QueryFn)(ObjNode* node, const LayerRecord* r, i32 prop, i64* number, const char** text);

static i32 QExists(ObjNode*, const LayerRecord*, i32, i64* n, const char**) {
  *n = 1;
  return 0;
}
static i32 QVisible(ObjNode*, const LayerRecord* r, i32, i64* n, const char**) {
  *n = r->visible;
  return 0;
}
static i32 QOpacity(ObjNode*, const LayerRecord* r, i32, i64* n, const char**) {
  *n = r->opacity;
  return 0;
}
static i32 QMaskProgress(ObjNode*, const LayerRecord* r, i32, i64* n, const char**) {
  *n = r->mask_progress;
  return 0;
}
static i32 QMaskName(ObjNode*, const LayerRecord* r, i32, i64*, const char** t) {
  *t = r->mask_name ? r->mask_name : "";
  return 0;
}
static i32 QMaskSoftness(ObjNode*, const LayerRecord* r, i32, i64* n, const char**) {
  *n = r->mask_softness;
  return 0;
}
static i32 QX(ObjNode*, const LayerRecord* r, i32, i64* n, const char**) {
  *n = r->x;
  return 0;
}
static i32 QY(ObjNode*, const LayerRecord* r, i32, i64* n, const char**) {
  *n = r->y;
  return 0;
}
static i32 QOrder(ObjNode* node, const LayerRecord*, i32, i64* n, const char**) {
  *n = node->order;
  return 0;
}
static i32 QBlendMode(ObjNode*, const LayerRecord* r, i32, i64* n, const char**) {
  *n = r->blend_mode;
  return 0;
}
static i32 QWidth(ObjNode*, const LayerRecord* r, i32, i64* n, const char**) {
  *n = r->width;
  return 0;
}
static i32 QHeight(ObjNode*, const LayerRecord* r, i32, i64* n, const char**) {
  *n = r->height;
  return 0;
}
static i32 QX100(ObjNode*, const LayerRecord* r, i32, i64* n, const char**) {
  *n = r->x100;
  return 0;
}
static i32 QY100(ObjNode*, const LayerRecord* r, i32, i64* n, const char**) {
  *n = r->y100;
  return 0;
}
static i32 QScaleX(ObjNode*, const LayerRecord* r, i32, i64* n, const char**) {
  *n = r->scale_x;
  return 0;
}
static i32 QScaleY(ObjNode*, const LayerRecord* r, i32, i64* n, const char**) {
  *n = r->scale_y;
  return 0;
}
// The values command 1 sets with its parameters 24 to 26.
static i32 QGpuTransform(ObjNode*, const LayerRecord* r, i32 prop, i64* n, const char**) {
  *n = r->gpu_transform[prop - 17];
  return 0;
}
static i32 QDrawKind(ObjNode*, const LayerRecord* r, i32, i64* n, const char**) {
  *n = r->draw_kind;
  return 0;
}
// 23 colour, 24 alpha, 25 the whole pixel as a signed 32-bit number.
static i32 QPixelAtWindowPoint(ObjNode* node, const LayerRecord* r, i32 prop, i64* n, const char**) {
  u32 px = 0;
  if (PixelAtWindowPoint(node, r, ArgInt(static_cast<u8>(prop)), &px) != 0) *n = -1;
  else if (prop == 23) *n = px & 0xFFFFFF;
  else if (prop == 24) *n = px >> 24;
  else *n = static_cast<i32>(px);
  return 0;
}
static i32 QPixelColour(ObjNode*, const LayerRecord* r, i32, i64* n, const char**) {
  if (!ArgGiven(Q_X) || !ArgGiven(Q_Y)) {
    ErrRaiseAtScriptF(ERR_LAYER_QUERY_XY, 1, ArgCommandName(SLOT_INFO), ArgName(SLOT_INFO, 26));
    return -1;
  }
  i64 x = ArgInt(Q_X), y = ArgInt(Q_Y);
  if (!LayerHasPixels(r) || x < 0 || y < 0 || x >= r->width || y >= r->height) {
    *n = -1;
    return 0;
  }
  u32 px = 0;
  std::memcpy(&px, r->pixels + (static_cast<size_t>(y) * r->width + static_cast<size_t>(x)) * 4, 4);
  *n = px & 0xFFFFFF;
  return 0;
}
static i32 QAlphaBounds(ObjNode*, const LayerRecord* r, i32, i64* n, const char**) {
  *n = AlphaBounds(r, ArgInt(Q_X));
  return 0;
}
static i32 QUserValue1(ObjNode*, const LayerRecord* r, i32, i64* n, const char**) {
  *n = r->user_value1;
  return 0;
}
static i32 QUserValue2(ObjNode*, const LayerRecord* r, i32, i64* n, const char**) {
  *n = r->user_value2;
  return 0;
}

// The properties in the order the first given one is looked for.
struct QueryRow {
  u8 param;
  QueryFn read;
};
static const QueryRow kQueryRows[] = {
    {2, QExists},
    {3, QVisible},
    {4, QOpacity},
    {9, QMaskProgress},
    {10, QMaskName},
    {11, QMaskSoftness},
    {5, QX},
    {6, QY},
    {7, QOrder},
    {12, QBlendMode},
    {13, QWidth},
    {14, QHeight},
    {15, QX100},
    {16, QY100},
    {17, QScaleX},
    {18, QScaleY},
    {19, QGpuTransform},
    {20, QGpuTransform},
    {21, QGpuTransform},
    {22, QDrawKind},
    {23, QPixelAtWindowPoint},
    {24, QPixelAtWindowPoint},
    {25, QPixelAtWindowPoint},
    {26, QPixelColour},
    {27, QAlphaBounds},
    {28, QUserValue1},
    {29, QUserValue2},
};

// The first given property's value (0 with none given): 0, or -1 after an error.
static i32 QueryValue(ObjNode* node, const LayerRecord* r, i64* number, const char** text) {
  for (const QueryRow& row : kQueryRows)
    if (ArgGiven(row.param)) return row.read(node, r, row.param, number, text);
  *number = 0;
  return 0;
}

i32 CmdLayerInfo() {
  if (ArgDecode(SLOT_INFO) != 0) return -1;
  g_InfoPath[0] = g_InfoName[0] = '\0';
  bool folder = false;
  ObjNode* node = nullptr;
  if (FindNamedLayer(g_InfoName, g_InfoPath, &folder, &node) < 0) return -1;
  const bool has_result = ArgGiven(Q_RESULT);
  const i64 id = has_result ? g_ArgVarId[ArgPos(Q_RESULT)] : 0;
  const i64 index = has_result ? g_ArgVarElem[ArgPos(Q_RESULT)] : 0;
  const LayerRecord* r = LayerOf(node);
  if (!r) {
    VarRecord* v = has_result ? VarRecordOf(id) : nullptr;
    if (v && index >= 0 && index < v->count) StoreResult(id, index, 0, nullptr);
    return 0;
  }
  i64 number = 0;
  const char* text = nullptr;
  if (QueryValue(node, r, &number, &text) != 0) return -1;
  if (!has_result) return 0;
  return StoreResult(id, index, number, text);
}

void LayerCmdReset() { g_LayerCmdPath[0] = g_LayerCmdAlphaPath[0] = g_LayerCmdSharePath[0] = g_LayerCmdName[0] = '\0'; }
