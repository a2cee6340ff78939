// Movie playback and the Flash host, as the frame loop and the window procedure call them.
#pragma once
#include "common/types.h"

struct WinRect;

extern u8 g_MoviePlaying, g_MovieMciOpen;
void MovieGraphRelease();
void MovieMciClose();
// The movie graph's waiting events: a finished or aborted movie releases the graph and clears
// g_MoviePlaying.
void MovieGraphDrainEvents();
// The movie and Flash windows after a size change of the main window: the Flash host's
// rectangle in game pixels (0, or -1 when no Flash host is open) and its new place in the client
// area; the movie graph's video window; the MCI movie's rectangle (0, or -1 when none) and its
// new place.
i32 FlashHostRect(WinRect* out);
void FlashHostMove(const WinRect* r);
void MovieGraphLayout();
i32 MovieMciRect(WinRect* out);
void MovieMciPut(const WinRect* r);
