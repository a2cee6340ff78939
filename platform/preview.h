// The screen saver's preview: a child window inside a window of another program (the screen
// saver chooser), given by its X11 id. Its "window procedure" is a function of the engine that
// receives create, paint and destroy messages. Without X11 there is no preview.
#pragma once
#include "common/types.h"

enum PlatPreviewMsg : u32 { PLAT_PREVIEW_CREATE = 1, PLAT_PREVIEW_PAINT, PLAT_PREVIEW_DESTROY };
typedef void (*PlatPreviewProc)(u32 msg);

// Creates the child window at 0, 0 with the parent's size and sends it PLAT_PREVIEW_CREATE.
// 0 created; 1 no display, or the id names no window (said by nobody: the run just ends).
int PlatPreviewCreate(u64 parent_id, PlatPreviewProc proc);
// Delivers the window's messages until it is gone (its parent closed), then lets go of the
// display.
void PlatPreviewRun();
// During PLAT_PREVIEW_PAINT: a top-down BGRA picture at the window's origin, 1:1.
void PlatPreviewDraw(const u8* bgra, i32 width, i32 height);
