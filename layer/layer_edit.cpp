// Command 2's dispatcher (see layer_edit.h): layers, rectangle, new size and values, then the
// first operation the line gives, each refused by its own checks before it runs.
#include "layer/layer_edit.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "common/sjis.h"
#include "core/err.h"
#include "core/obj.h"
#include "layer/compose.h"
#include "layer/font.h"
#include "layer/layer.h"
#include "layer/layer_resize.h"
#include "script/arg.h"
#include "script/cmd_var.h"
#include "script/expr.h"

LayerEditLine g_LayerEdit;
char g_LayerEditPaths[LAYER_EDIT_LAYERS][LAYER_EDIT_PATH_SIZE];
char g_LayerEditNames[LAYER_EDIT_LAYERS][LAYER_EDIT_PATH_SIZE];

enum { SLOT_EDIT = 2 };
enum : u64 { NO_RANGE = ~u64{0} };

// One operation: its parameter, the upper bound of its value (compared unsigned, so negative
// values fail too), the error when a rectangle is given, and the further layers it needs.
struct EditOp {
  u8 param;
  u64 max;
  i32 rect_error;  // 0: a rectangle is allowed
  u8 needs;        // layers 1 .. needs must be named
  i32 needs_error;
};

// In the order the first given one is taken: resizing and rotation, the pixel effects, then
// (after the font slot and the text, which do not end the command) the layer-to-layer
// operations.
static const EditOp kOpsFirst[] = {
    {24, NO_RANGE, 0, 0, 0},
    {25, NO_RANGE, 0, 0, 0},
    {26, NO_RANGE, 0, 0, 0},
    {27, NO_RANGE, 0, 0, 0},
    {28, NO_RANGE, 0, 0, 0},
    {29, NO_RANGE, ERR_EDIT_ROTATE_RECT, 0, 0},
    {31, 256, 0, 0, 0},
    {32, 16777215, 0, 0, 0},
    {33, 16777215, 0, 0, 0},
    {42, 256, 0, 0, 0},
    {43, 256, 0, 0, 0},
    {44, 1, 0, 0, 0},
    {45, 1, 0, 0, 0},
    {46, 256, ERR_EDIT_MOSAIC_RECT, 0, 0},
    {47, 256, 0, 0, 0},
    {48, 256, 0, 0, 0},
    {49, 256, 0, 0, 0},
    {51, 256, 0, 0, 0},
    {52, 256, 0, 0, 0},
    {50, 256, 0, 0, 0},
    {53, 256, ERR_EDIT_SCATTER_RECT, 0, 0},
    {54, NO_RANGE, 0, 0, 0},
    {55, NO_RANGE, 0, 0, 0},
    {56, NO_RANGE, 0, 0, 0},
    {61, NO_RANGE, 0, 0, 0},
    {57, 1, 0, 0, 0},
    {58, 0xFFFFFFFFu, 0, 0, 0},
    {59, 0xFFFFFFFFu, 0, 0, 0},
    {60, 0xFFFFFFFFu, 0, 0, 0},
};
static const EditOp kOpDrawText = {EDIT_P_DRAW_TEXT, NO_RANGE, 0, 0, 0};
static const EditOp kOpsLast[] = {
    {34, NO_RANGE, 0, 1, ERR_EDIT_NO_LAYER},
    {35, NO_RANGE, 0, 1, ERR_EDIT_NO_LAYER},
    {36, NO_RANGE, 0, 2, ERR_EDIT_NO_LAYER},
    {37, NO_RANGE, 0, 3, ERR_EDIT_NO_LAYER},
    {38, NO_RANGE, 0, 1, ERR_EDIT_NO_LAYER},
    {39, NO_RANGE, 0, 1, ERR_EDIT_NO_LAYER},
    {40, 15, 0, 0, 0},
    {41, NO_RANGE, 0, 0, 0},
    {64, NO_RANGE, 0, 1, ERR_EDIT_COPY_NO_LAYER},
    {65, NO_RANGE, 0, 1, ERR_EDIT_COPY_NO_LAYER},
    {66, NO_RANGE, ERR_EDIT_SWAP_RECT, 1, ERR_EDIT_SWAP_NO_LAYER},
    {67, NO_RANGE, ERR_EDIT_SWAP_RECT, 1, ERR_EDIT_SWAP_NO_LAYER},
    {68, NO_RANGE, 0, 0, 0},
    {69, NO_RANGE, 0, 0, 0},
};

static const char* Cmd() { return ArgCommandName(SLOT_EDIT); }

// A 64-bit script value times 100 that cannot overflow (far beyond any picture either way).
static i64 Hundredths(i64 v) {
  const i64 lim = i64{1} << 40;
  return std::clamp(v, -lim, lim) * 100;
}

// Layer k's name (with its number appended when given) resolved into its path buffer. 1 when the
// path names a folder, 0 when not, -1 after the resolver's error.
static i32 ResolveLayer(i32 k) {
  char* name = g_LayerEditNames[k];
  const u8 num = static_cast<u8>(EDIT_P_SRC_NUM + k);
  if (ArgGiven(num))
    std::snprintf(name, LAYER_EDIT_PATH_SIZE, "%s.%lld", ArgStr(static_cast<u8>(k)),
                  static_cast<long long>(ArgInt(num)));
  else StrCopySjis(name, LAYER_EDIT_PATH_SIZE, ArgStr(static_cast<u8>(k)));
  i32 r = ObjResolvePath(g_LayerEditPaths[k], LAYER_EDIT_PATH_SIZE, name, g_LayerBase, 0);
  if (r < 0) return -1;
  return r == 1 && !ArgGiven(num) ? 1 : 0;
}

// Layers 1 to 3 as far as the extra-layer count reaches; a layer the line leaves out is skipped.
// A missing one is made at once as a picture layer of order 1 with a fresh record.
static i32 ResolveFurtherLayers(LayerEditLine* line) {
  for (i32 k = 3; k >= 1 && !line->extra; k--)
    if (ArgGiven(static_cast<u8>(k))) line->extra = k;
  for (i32 k = 1; k <= line->extra; k++) {
    if (!ArgGiven(static_cast<u8>(k))) continue;
    i32 folder = ResolveLayer(k);
    if (folder < 0) return -1;
    if (folder) {
      ErrRaiseAtScriptF(ERR_EDIT_FOLDER, 1, Cmd(), g_LayerEditPaths[k]);
      return -1;
    }
    ObjNode* node = ObjFindNode(g_LayerRoot, g_LayerEditPaths[k], OBJ_FIND_ITEM);
    if (!node) {
      node = LayerCreateNode(g_LayerEditPaths[k], OBJ_ITEM, 1);
      if (!node) return -1;
      if (!LayerRecordNew(node)) {
        LayerRelease(node);
        return -1;
      }
    }
    if (!LayerOf(node)) continue;  // a node without a record (the tree root) names no layer
    line->nodes[k] = node;
    line->recs[k] = LayerOf(node);
    LayerMarkDirty(node);
  }
  return 0;
}

static bool AnyGiven(u8 first, u8 last) {
  for (u8 p = first; p <= last; p++)
    if (ArgGiven(p)) return true;
  return false;
}

// The rectangle in pixels and in hundredths, with the clamps the operations other than resizing,
// the blits, the difference masks and the canvas take.
static void ReadRectangle(LayerEditLine* line) {
  const LayerRecord* r = line->recs[0];
  const i64 w = r->width, h = r->height;
  const bool clamp = !AnyGiven(24, 28) && !AnyGiven(34, 39) && !ArgGiven(41);
  auto pick = [](u8 p, i64 def) { return ArgGiven(p) ? ArgInt(p) : def; };
  auto lim = [clamp](i64 v, i64 hi) { return clamp ? std::clamp<i64>(v, 0, std::max<i64>(hi, 0)) : v; };
  line->x1 = lim(pick(12, 0), w - 1);
  line->y1 = lim(pick(13, 0), h - 1);
  line->x2 = lim(pick(14, w - 1), w - 1);
  line->y2 = lim(pick(15, h - 1), h - 1);
  line->x1_100 = lim(pick(18, Hundredths(line->x1)), w * 100 - 100);
  line->y1_100 = lim(pick(19, Hundredths(line->y1)), h * 100 - 100);
  line->x2_100 = lim(pick(20, Hundredths(line->x2)), w * 100 - 100);
  line->y2_100 = lim(pick(21, Hundredths(line->y2)), h * 100 - 100);
  line->new_w100 = ArgGiven(EDIT_P_NEW_W100) ? ArgInt(EDIT_P_NEW_W100) : Hundredths(ArgInt(EDIT_P_NEW_W));
  line->new_h100 = ArgGiven(EDIT_P_NEW_H100) ? ArgInt(EDIT_P_NEW_H100) : Hundredths(ArgInt(EDIT_P_NEW_H));
}

// Parameters 9 and 10 are evaluated here from their byte code. 0, or -1 after the evaluator's
// error.
static i32 EvalValue(u8 param, i64* out) {
  *out = 0;
  const u8 p = ArgPos(param);
  if (!p) return 0;
  return ExprEvalByTypeInt(static_cast<u8>(g_ArgValueType[p]), CmdArgCode(p), g_ArgSize[p], out) != 0 ? -1 : 0;
}

// Layer 0 as a folder: its picture made current before anything reads it.
static i32 RecomposeFolder(ObjNode* node, LayerRecord* r) {
  r->dirty_valid = 1;
  r->changed = 1;
  r->dirty_left = r->dirty_top = 0;
  r->dirty_right = r->width - 1;
  r->dirty_bottom = r->height - 1;
  LayerCommitChanges(g_LayerRoot);
  return LayerComposeTree(node, 0, 0) != 0 ? -1 : 0;
}

// The new size in whole pixels must lie in 1..8192. The error names the pixel parameter (16 or
// 17) even when the size came in hundredths.
static i32 CheckNewSize(const LayerEditLine* line) {
  const struct {
    i64 v;
    u8 named;
  } sides[] = {{line->new_w100 / 100, EDIT_P_NEW_W}, {line->new_h100 / 100, EDIT_P_NEW_H}};
  for (const auto& s : sides) {
    if (s.v >= 1 && s.v <= RESIZE_MAX_SIZE) continue;
    ErrRaiseAtScriptF(ERR_ARG_RANGE, 1, Cmd(), ArgName(SLOT_EDIT, s.named), s.v, 1, i32{RESIZE_MAX_SIZE});
    return -1;
  }
  return 0;
}

// The checks of an operation's row: rectangle, layers, value. 0, or -1 after the error.
static i32 CheckOp(const EditOp& op, const LayerEditLine* line) {
  if (op.rect_error && AnyGiven(12, 15)) {
    ErrRaiseAtScriptF(op.rect_error, 1, Cmd());
    return -1;
  }
  for (i32 k = 1; k <= op.needs; k++) {
    if (line->nodes[k]) continue;
    ErrRaiseAtScriptF(op.needs_error, 1, Cmd());
    return -1;
  }
  if (op.max != NO_RANGE && static_cast<u64>(line->value) > op.max) {
    ErrRaiseAtScriptF(ERR_ARG_RANGE, 1, Cmd(), ArgName(SLOT_EDIT, EDIT_P_VALUE), line->value, 0, op.max);
    return -1;
  }
  return 0;
}

static i32 RunOp(const EditOp& op, LayerEditLine* line) {
  if (CheckOp(op, line) != 0) return -1;
  const bool has_output = line->nodes[1] != nullptr;
  const char* out_name = g_LayerEditPaths[has_output ? 1 : 0];
  switch (op.param) {
    case 24:
    case 25:
    case 26:
    case 27:
    case 28: {
      if (CheckNewSize(line) != 0) return -1;
      // 24 is nearest; 25 to 28 are filters 21, 31, 41 and 51 (any own value counts as 1).
      static const i32 kFilters[] = {RESIZE_NEAREST, RESIZE_BILINEAR, RESIZE_BICUBIC, RESIZE_BILINEAR_THREADED,
                                     RESIZE_SINC};
      return LayerResize(line->nodes[0], line->nodes[1], line->x1_100, line->y1_100, line->x2_100, line->y2_100,
                         line->new_w100, line->new_h100, has_output, kFilters[op.param - 24], out_name);
    }
    case EDIT_P_ROTATE: {
      const i32 variant = ArgInt(EDIT_P_ROTATE) == 2 ? ROTATE_CLAMPED : ROTATE_TESTED;
      return LayerRotate(line->nodes[0], line->nodes[1], line->value, has_output, variant, out_name);
    }
    default: return LayerEditOperation(op.param, line);
  }
}

static i32 Finish(i32 result) {
  FontSetCurrentSlot(0);
  return result;
}

i32 CmdLayerEdit() {
  if (ArgDecode(SLOT_EDIT) != 0) return -1;
  LayerEditReset();
  LayerEditLine* line = &g_LayerEdit;

  i32 folder = ResolveLayer(0);
  if (folder < 0) return -1;
  ObjNode* src = ObjFindNode(g_LayerRoot, g_LayerEditPaths[0], folder ? OBJ_FIND_FOLDER : OBJ_FIND_ITEM);
  LayerRecord* rec = LayerOf(src);
  if (!rec) return 0;
  line->nodes[0] = src;
  line->recs[0] = rec;
  if (src->kind == OBJ_FOLDER && RecomposeFolder(src, rec) != 0) return -1;

  if (ResolveFurtherLayers(line) != 0) return -1;
  ReadRectangle(line);
  if (EvalValue(EDIT_P_VALUE, &line->value) != 0 || EvalValue(EDIT_P_VALUE2, &line->value2) != 0) return -1;

  for (const EditOp& op : kOpsFirst)
    if (ArgGiven(op.param)) return Finish(RunOp(op, line));
  if (ArgGiven(EDIT_P_FONT)) {
    const i64 slot = ArgInt(EDIT_P_FONT);
    if (slot < 0 || slot >= FONT_SLOT_COUNT) {
      ErrRaiseAtScriptF(ERR_ARG_RANGE, 1, Cmd(), ArgName(SLOT_EDIT, EDIT_P_FONT), slot, 0, FONT_SLOT_COUNT - 1);
      return Finish(-1);
    }
    FontSetCurrentSlot(static_cast<i32>(slot));
  }
  if (ArgGiven(EDIT_P_DRAW_TEXT) && RunOp(kOpDrawText, line) != 0) return Finish(-1);
  for (const EditOp& op : kOpsLast)
    if (ArgGiven(op.param)) return Finish(RunOp(op, line));
  return Finish(0);
}

void LayerEditReset() {
  g_LayerEdit = LayerEditLine{};
  for (i32 k = 0; k < LAYER_EDIT_LAYERS; k++) g_LayerEditPaths[k][0] = g_LayerEditNames[k][0] = '\0';
}
