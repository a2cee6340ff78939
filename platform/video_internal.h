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
// The window of another program that the main window becomes (the screen saver's), as the
// screen: its position on the display and its size. False when there is none.
bool PlatForeignScreen(i32* x, i32* y, i32* width, i32* height);
// Any window's position on the display and its size, asked of the X server; false when it names
// no window or there is no X server.
bool PlatForeignWindowRect(u64 id, i32* x, i32* y, i32* width, i32* height);
