// Command 2, the layer edit command: one script line performs one operation on the picture of a
// layer (the source, layer 0) and usually writes the result into another layer. The command
// resolves up to four layers (creating missing further layers at once as picture layers), reads a
// rectangle, a new size and two values, and runs the first operation parameter that the line
// gives, in a fixed order. Resizing and rotation are built here (layer_resize.h); the other
// operations go through LayerEditOperation.
#pragma once
#include "common/types.h"

struct ObjNode;
struct LayerRecord;

enum { LAYER_EDIT_PATH_SIZE = 1024, LAYER_EDIT_LAYERS = 4 };
enum {
  ERR_EDIT_SWAP_RECT = 101281,
  ERR_EDIT_ROTATE_RECT = 101282,
  ERR_EDIT_MOSAIC_RECT = 101283,
  ERR_EDIT_SCATTER_RECT = 101284,
  ERR_EDIT_FOLDER = 101291,
  ERR_EDIT_COPY_NO_LAYER = 101296,
  ERR_EDIT_SWAP_NO_LAYER = 101297,
  ERR_EDIT_NO_LAYER = 101298,
};

// Command 2's parameter ids (those the dispatcher reads itself).
enum {
  EDIT_P_SRC = 0,      // layer 0; layers 1 to 3 are ids 1 to 3
  EDIT_P_SRC_NUM = 4,  // number appended to layer 0; layers 1 to 3 use 5 to 7
  EDIT_P_VALUE = 9,    // evaluated by the command
  EDIT_P_VALUE2 = 10,
  EDIT_P_TEXT = 11,
  EDIT_P_X1 = 12,  // rectangle x1, y1, x2, y2: 12 to 15
  EDIT_P_NEW_W = 16,
  EDIT_P_NEW_H = 17,
  EDIT_P_X1_100 = 18,  // the rectangle in hundredths: 18 to 21
  EDIT_P_NEW_W100 = 22,
  EDIT_P_NEW_H100 = 23,
  EDIT_P_NEAREST = 24,  // resize filters: 24 to 28
  EDIT_P_ROTATE = 29,
  EDIT_P_FONT = 62,
  EDIT_P_DRAW_TEXT = 63,
};

// The current line as the dispatcher read it. A further layer that the line does not name (also
// one left out between named ones) has a null node.
struct LayerEditLine {
  ObjNode* nodes[LAYER_EDIT_LAYERS];
  LayerRecord* recs[LAYER_EDIT_LAYERS];
  i32 extra;           // 1, 2 or 3 for the highest further layer named; 0 for none
  i64 x1, y1, x2, y2;  // inclusive pixels in layer 0's picture
  i64 x1_100, y1_100, x2_100, y2_100;
  i64 new_w100, new_h100;  // the new size in hundredths
  i64 value, value2;       // parameters 9 and 10, evaluated (0 when not given)
};
extern LayerEditLine g_LayerEdit;

// The resolved paths and built names of layers 0 to 3 (kept for the error texts).
extern char g_LayerEditPaths[LAYER_EDIT_LAYERS][LAYER_EDIT_PATH_SIZE];
extern char g_LayerEditNames[LAYER_EDIT_LAYERS][LAYER_EDIT_PATH_SIZE];

i32 CmdLayerEdit();  // command 2: 0 to go on, -1 after an error

// Every operation of command 2 other than resizing (24 to 28), rotation (29) and the font slot
// (62): param is the operation's parameter id, line the line as read and checked (range, layers
// and rectangle). 0, or -1 after an error.
i32 LayerEditOperation(u8 param, LayerEditLine* line);

// Tests: clears the paths and the line.
void LayerEditReset();
