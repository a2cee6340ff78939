// Window painting requests: a window whose contents must be drawn again gets its whole picture
// presented by the next frame. In threaded mode the main thread only leaves a request, which the
// frame thread takes up before it composes, so the main thread never touches layer records or
// posts drawing jobs while the frame thread composes.
#pragma once
#include "common/types.h"

struct WindowObject;

// Marks the root layer's whole area as this frame's update and asks presentation to show it.
void WinInvalidate(WindowObject* w);
// The frame's thread: carries out the requests the main thread left.
void WinInvalidateApplyPending();
// Tests: no request left.
void WinInvalidateReset();
