// Command 103, the window command: opens the sub windows 1 to 3 and sets up any of the four
// windows, parameter by parameter in a fixed order. Also the drag maps it sets: a press on a
// non-black pixel of a window's drag-map layer drags the window. The hit test runs on the main
// thread, the layers belong to the thread that runs frames: it reads a copy of the layer's
// non-black pixels that the frame refreshes when the layer's picture or place changed (a picture
// operation always makes a new pixel buffer), and that copy is shared under g_EngineLock.
#pragma once
#include "common/types.h"
#include "script/cmdargs.h"

struct ObjNode;
struct WindowObject;

enum {
  ERR_ARG_RANGE_VALUE = 101000,
  ERR_WIN_LAYER_MISSING = 101250,
  ERR_WIN_BAD_VALUE = 101310,
  ERR_WIN_NO_TITLE = 101320,
  WIN_SUB_DEFAULT_SIDE = 128,
};

i32 CmdWindowSetBody(const CmdArgRecord* a);
// Command 103: decodes its line, then the body on the main thread.
i32 CmdWindowSet();
// The class name of a window the command opens: "%s_sub_%d" with g_InstanceName and the index.
void WinSubClassName(i32 index, char* out, size_t out_size);

// 1 when window w has a drag map and the game pixel x, y lies on one of its non-black pixels.
i32 WinDragMapHit(WindowObject* w, i32 x, i32 y);
// The thread that runs frames, once a frame: renews the copy of each drag map that changed.
void WinDragMapRefresh();
// A layer being released is no drag map any more.
void WinForgetDragLayer(ObjNode* node);

// Tests: no drag maps, no layered windows, no minimise of the script's own waiting.
void WinCmdReset();
