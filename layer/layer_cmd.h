// The layer commands of scripts: command 1 creates a layer (from a picture, as a second name of
// another layer's record, or as a folder of a given size) and applies the line's parameters to
// it; command 3 deletes a layer with everything below it; command 4 reads one property into a
// script variable. Each reads the decoded arguments (ArgSlots) and returns 0 to go on, -1 to stop.
#pragma once
#include "common/types.h"

struct ObjNode;

enum { LAYER_CMD_PATH_SIZE = 1024 };
enum {
  ERR_LAYER_NO_ORDER = 100240,
  ERR_LAYER_CANVAS_BOTH = 100243,
  ERR_LAYER_CANVAS_NO_FILE = 100244,
  ERR_LAYER_MISSING = 101230,
  ERR_LAYER_SHARE_MISSING = 101250,
  ERR_LAYER_FOLDER_PICTURE = 101280,
  ERR_LAYER_QUERY_XY = 101295,
};

i32 CmdLayerCreate();  // command 1
i32 CmdLayerDelete();  // command 3
i32 CmdLayerInfo();    // command 4
// Command 21 (cmd_file_op.cpp): preloads, a layer written as an image file, folders, copying,
// deleting save files and opening documents.
i32 CmdFileOp();
// The JPEG frame sets of layers (frameset_cmd.cpp): load and/or show a frame, release the set,
// one of its values into a variable.
i32 CmdFrameSetLoad();     // command 107
i32 CmdFrameSetRelease();  // command 108
i32 CmdFrameSetInfoGet();  // command 109

// Command 1's four path buffers: the layer, the alpha source, the share source and the name being
// built (kept for the error texts that name them).
extern char g_LayerCmdPath[LAYER_CMD_PATH_SIZE];
extern char g_LayerCmdAlphaPath[LAYER_CMD_PATH_SIZE];
extern char g_LayerCmdSharePath[LAYER_CMD_PATH_SIZE];
extern char g_LayerCmdName[LAYER_CMD_PATH_SIZE];

// Sum of the x and y of the node and its ancestors below the tree root.
void LayerAbsoluteOrigin(const ObjNode* node, i64* x, i64* y);

// Tests: clears the buffers.
void LayerCmdReset();
