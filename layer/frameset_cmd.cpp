// Commands 107 to 109: a layer's JPEG frame set loaded and shown, released, and queried. Each
// names its layer by parameter 0 (with "." and parameter 1 appended when that is given).
#include <cstdio>

#include "common/sjis.h"
#include "layer/image_frameset.h"
#include "layer/layer.h"
#include "layer/layer_cmd.h"
#include "script/arg.h"
#include "core/obj.h"
#include "script/var.h"
#include "core/err.h"

enum { SLOT_FRAMES_LOAD = 107, SLOT_FRAMES_FREE = 108, SLOT_FRAMES_INFO = 109 };
enum { P_LAYER = 0, P_NUM = 1, P_FILE = 2, P_FRAME = 3, P_RESULT = 2, P_COUNT = 3 };

static char g_FrameCmdPath[LAYER_CMD_PATH_SIZE];

// The layer the line names into *node. -1 after the resolver's error or 101250 for a missing
// layer, else 0.
static i32 FindFrameLayer(u8 slot, ObjNode** node) {
  char name[LAYER_CMD_PATH_SIZE];
  if (ArgGiven(P_NUM))
    std::snprintf(name, sizeof name, "%s.%lld", ArgStr(P_LAYER), static_cast<long long>(ArgInt(P_NUM)));
  else
    StrCopySjis(name, sizeof name, ArgStr(P_LAYER));
  i32 r = ObjResolvePath(g_FrameCmdPath, sizeof g_FrameCmdPath, name, g_LayerBase, 0);
  if (r < 0) return -1;
  bool folder = r == 1 && !ArgGiven(P_NUM);
  *node = ObjFindNode(g_LayerRoot, g_FrameCmdPath, folder ? OBJ_FIND_FOLDER : OBJ_FIND_ITEM);
  if (!*node) {
    ErrRaiseAtScriptF(ERR_LAYER_SHARE_MISSING, 1, ArgCommandName(slot), g_FrameCmdPath);
    return -1;
  }
  return 0;
}

i32 CmdFrameSetLoad() {
  if (ArgDecode(SLOT_FRAMES_LOAD) != 0) return -1;
  ObjNode* node = nullptr;
  if (FindFrameLayer(SLOT_FRAMES_LOAD, &node) != 0) return -1;
  // Both may be given: the set is loaded first. Their failures are reported where they happen.
  if (ArgGiven(P_FILE)) {
    char file[ARG_STR_BUF];
    StrCopySjis(file, sizeof file, ArgStr(P_FILE));
    StrLowerSjis(file);
    StrReplaceCharSjis(file, '/', '\\');
    ImageFrameSetLoad(node, file);
  }
  if (ArgGiven(P_FRAME)) ImageFrameSetShow(node, ArgInt(P_FRAME));
  return 0;
}

i32 CmdFrameSetRelease() {
  if (ArgDecode(SLOT_FRAMES_FREE) != 0) return -1;
  if (!ArgGiven(P_LAYER)) return 0;
  ObjNode* node = nullptr;
  if (FindFrameLayer(SLOT_FRAMES_FREE, &node) != 0) return -1;
  LayerFreeFrameSet(LayerOf(node));
  return 0;
}

i32 CmdFrameSetInfoGet() {
  if (ArgDecode(SLOT_FRAMES_INFO) != 0) return -1;
  ObjNode* node = nullptr;
  if (FindFrameLayer(SLOT_FRAMES_INFO, &node) != 0) return -1;
  if (!ArgGiven(P_RESULT)) return 0;
  const i64 id = g_ArgVarId[ArgPos(P_RESULT)];
  const i64 index = g_ArgVarElem[ArgPos(P_RESULT)];
  const LayerRecord* rec = LayerOf(node);
  const ImageFrameSet* set = rec ? rec->frame_set : nullptr;
  if (!set) {
    VarSetNumElement(id, index, 0);
    return 0;
  }
  // The frame count, then the three header values, the first given one.
  const i64 values[4] = {set->frame_count, set->values[0], set->values[1], set->values[2]};
  for (u8 i = 0; i < 4; i++) {
    if (!ArgGiven(static_cast<u8>(P_COUNT + i))) continue;
    VarSetNumElement(id, index, values[i]);
    break;
  }
  return 0;
}
