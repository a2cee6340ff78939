// Inside the platform layer only: what the presentation and the window list need from each other.
#pragma once
#include "common/types.h"

struct PlatWindow;

// Main thread: the window shows a picture now, so an expose no longer paints it black.
void PlatWindowMarkPicture(PlatWindow* w);
// Main thread: the window is being destroyed; its copy goes with it.
void PlatPresentForget(PlatWindow* w);
// Main thread: the whole copy onto the window again (after an expose). False when the window was
// never presented.
bool PlatPresentRepaint(PlatWindow* w);
