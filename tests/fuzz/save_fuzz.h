// The save-data fuzz target's world, shared with its seed writer so that the seeds' blocks fit:
// variables of every type, scalar and whole (three of them in group class 2), and one picture
// layer "pic" below the layer root.
#pragma once
#include <cstdlib>
#include <cstring>

#include "core/hooks.h"
#include "core/obj.h"
#include "layer/cpu.h"
#include "layer/image.h"
#include "layer/layer.h"
#include "layer/layer_save.h"
#include "platform/platform.h"
#include "script/save.h"
#include "script/var.h"

enum { SAVE_FUZZ_VAR_COUNT = 1010 };

struct SaveFuzzVar {
  i64 id;
  i8 type;
  u8 var_class;
  i8 dims;
  u32 size[2];
};
// 1000 to 1002 scalars of class 1, 1003 to 1005 arrays of class 2.
inline const SaveFuzzVar kSaveFuzzVars[] = {
    {1000, VAR_TYPE_INT, 1, 0, {0, 0}}, {1001, VAR_TYPE_FLOAT, 1, 0, {0, 0}}, {1002, VAR_TYPE_STR, 1, 0, {0, 0}},
    {1003, VAR_TYPE_INT, 2, 1, {4, 0}}, {1004, VAR_TYPE_FLOAT, 2, 2, {2, 3}}, {1005, VAR_TYPE_STR, 2, 1, {3, 0}},
};

inline void SaveFuzzDeclare() {
  VarTableCreate(SAVE_FUZZ_VAR_COUNT);
  for (const SaveFuzzVar& d : kSaveFuzzVars) {
    VarRecord* v = VarRecordOf(d.id);
    v->var_class = d.var_class;
    v->dim_count = d.dims;
    for (int k = 0; k < d.dims; k++) v->dims[k] = d.size[k];
    if (d.type == VAR_TYPE_INT) VarTypeInt(d.id, 7);
    else if (d.type == VAR_TYPE_FLOAT) VarTypeFloat(d.id, 2.5);
    else VarTypeString(d.id, "text", 4);
  }
}

// The layer "pic" (made again when a load replaced or lost it): w x h, pixels from seed.
inline ObjNode* SaveFuzzPicture(i32 w, i32 h, u32 seed) {
  if (!g_LayerRoot) {
    g_LayerRoot = ObjNewRoot();
    BlendInitCpuKernels();
    LayerSaveInstallHooks();
  }
  ObjNode* node = ObjFindNode(g_LayerRoot, "pic", OBJ_FIND_ITEM);
  if (node) return node;
  node = LayerCreateNode("pic", 0, 1);
  LayerRecord* r = LayerRecordNew(node);
  r->pixels = ImageAllocPixels(nullptr, w, h, "");
  r->width = w;
  r->height = h;
  for (i32 k = 0; k < w * h * 4; k++) r->pixels[k] = static_cast<u8>(seed + k * 13);
  return node;
}
