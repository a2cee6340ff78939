// What stands in for movie playback and the Flash host until they are built: no movie ever
// plays and no Flash host is open.
#include "sound/movie.h"

// stand-in: the movie playing and MCI-open flags of movie playback
u8 g_MoviePlaying = 0, g_MovieMciOpen = 0;
// stand-in: releasing the movie graph
void MovieGraphRelease() {}
// stand-in: closing the MCI movie
void MovieMciClose() {}
// stand-in: the movie graph's events
void MovieGraphDrainEvents() {}
// stand-in: the Flash host's rectangle
i32 FlashHostRect(WinRect*) { return -1; }
// stand-in: moving the Flash host
void FlashHostMove(const WinRect*) {}
// stand-in: the movie graph's video window layout
void MovieGraphLayout() {}
// stand-in: the MCI movie's rectangle
i32 MovieMciRect(WinRect*) { return -1; }
// stand-in: placing the MCI movie
void MovieMciPut(const WinRect*) {}
