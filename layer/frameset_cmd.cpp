// Commands 107 to 109: a layer's JPEG frame set loaded and shown, released, and queried. Each
// names its layer by parameter 0 (with "." and parameter 1 appended when that is given).
#include <cstdio>

#include "common/sjis.h"
#include "core/err.h"
#include "core/obj.h"
#include "layer/image_frameset.h"
#include "layer/layer.h"
#include "layer/layer_cmd.h"
#include "script/arg.h"
#include "script/cmdargs.h"
#include "script/var.h"

enum { SLOT_FRAMES_LOAD = 107, SLOT_FRAMES_FREE = 108, SLOT_FRAMES_INFO = 109 };
enum { P_LAYER = 0, P_NUM = 1, P_FILE = 2, P_FRAME = 3, P_RESULT = 2, P_COUNT = 3 };

static char g_FrameCmdPath[LAYER_CMD_PATH_SIZE];

// The layer the line names into *node. -1 after the resolver's error or 101250 for a missing
// layer, else 0.
static i32 FindFrameLayer(const CmdArgRecord* a, ObjNode** node) {
  char name[LAYER_CMD_PATH_SIZE];
  if (CmdArgGiven(a, P_NUM))
    std::snprintf(name, sizeof name, "%s.%lld", CmdArgStr(a, P_LAYER), static_cast<long long>(CmdArgInt(a, P_NUM)));
  else StrCopySjis(name, sizeof name, CmdArgStr(a, P_LAYER));
  i32 r = ObjResolvePath(g_FrameCmdPath, sizeof g_FrameCmdPath, name, g_LayerBase, 0);
  if (r < 0) return -1;
  bool folder = r == 1 && !CmdArgGiven(a, P_NUM);
  *node = ObjFindNode(g_LayerRoot, g_FrameCmdPath, folder ? OBJ_FIND_FOLDER : OBJ_FIND_ITEM);
  if (!*node) {
    ErrRaiseAtScriptF(ERR_LAYER_SHARE_MISSING, 1, CmdArgCommandName(a), g_FrameCmdPath);
    return -1;
  }
  return 0;
}

i32 CmdFrameSetLoad() {
  CmdArgRecord a;
  if (ArgDecodeRecord(SLOT_FRAMES_LOAD, &a) != 0) return -1;
  ObjNode* node = nullptr;
  if (FindFrameLayer(&a, &node) != 0) return -1;
  // Both may be given: the set is loaded first. Their failures are reported where they happen.
  if (CmdArgGiven(&a, P_FILE)) {
    char file[ARG_STR_BUF];
    StrCopySjis(file, sizeof file, CmdArgStr(&a, P_FILE));
    StrLowerSjis(file);
    StrReplaceCharSjis(file, '/', '\\');
    ImageFrameSetLoad(node, file);
  }
  if (CmdArgGiven(&a, P_FRAME)) ImageFrameSetShow(node, CmdArgInt(&a, P_FRAME));
  return 0;
}

i32 CmdFrameSetRelease() {
  CmdArgRecord a;
  if (ArgDecodeRecord(SLOT_FRAMES_FREE, &a) != 0) return -1;
  if (!CmdArgGiven(&a, P_LAYER)) return 0;
  ObjNode* node = nullptr;
  if (FindFrameLayer(&a, &node) != 0) return -1;
  LayerFreeFrameSet(LayerOf(node));
  return 0;
}

i32 CmdFrameSetInfoGet() {
  CmdArgRecord a;
  if (ArgDecodeRecord(SLOT_FRAMES_INFO, &a) != 0) return -1;
  ObjNode* node = nullptr;
  if (FindFrameLayer(&a, &node) != 0) return -1;
  if (!CmdArgGiven(&a, P_RESULT)) return 0;
  const LayerRecord* rec = LayerOf(node);
  const ImageFrameSet* set = rec ? rec->frame_set : nullptr;
  if (!set) {
    VarSetNumElement(a.var_id[P_RESULT], a.var_elem[P_RESULT], 0);
    return 0;
  }
  // The frame count, then the three header values: the first given one.
  const i64 values[4] = {set->frame_count, set->values[0], set->values[1], set->values[2]};
  for (i32 i = 0; i < 4; i++) {
    if (!CmdArgGiven(&a, P_COUNT + i)) continue;
    VarSetNumElement(a.var_id[P_RESULT], a.var_elem[P_RESULT], values[i]);
    break;
  }
  return 0;
}
