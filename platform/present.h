// Showing composed pictures in windows (what StretchDIBits does for the engine). A presentation
// draws, on any thread and under a short lock, into the window's own copy of what it shows; the
// main thread puts the changed part of that copy on the window surface: at once when it is the
// presenter, else at its next event pump. No thread ever waits for the main thread, so a frame
// thread can always finish its frame and the quit path can never hang on a presentation.
#pragma once
#include <vector>

#include "common/types.h"

struct PlatWindow;

// The src_w x src_h rectangle at (src_x, src_y) of a width x height picture (B, G, R, A bytes,
// rows top-down; alpha is not shown) onto the dst_w x dst_h rectangle at (dst_x, dst_y) of the
// client area: copied when the sizes agree, else scaled by nearest neighbour. Source pixels
// outside the picture show black.
void PlatPresent(PlatWindow* w, const u8* pixels, i32 width, i32 height, i32 dst_x, i32 dst_y, i32 dst_w, i32 dst_h,
                 i32 src_x, i32 src_y, i32 src_w, i32 src_h);
// Main thread: puts on the screen what other threads presented (the event pump calls it).
void PlatPresentFlush();
// Tests: the window's copy (B, G, R, A as presented) and its size; false when nothing was
// presented to the window.
bool PlatPresentSnapshot(PlatWindow* w, std::vector<u8>* out, i32* width, i32* height);
