// Movie playback and the Flash host: commands 71 to 74 (movies) and 23 to 25 (Flash), the
// movie's two modes (the graph mode, the engine's default, and the MCI mode), each with its own
// rectangle rule and life cycle, and what the frame loop and the window procedure call. One
// player serves both modes. The movie state changes under g_EngineLock: commands run on the
// thread that runs scripts, completions arrive as messages on the main thread.
#pragma once
#include <atomic>
#include <vector>

#include "common/types.h"

struct WinRect;

enum {
  CMD_SLOT_FLASH_OPEN = 23,
  CMD_SLOT_FLASH_CLOSE = 24,
  CMD_SLOT_FLASH_QUERY = 25,
  CMD_SLOT_MOVIE_PLAY = 71,
  CMD_SLOT_MOVIE_STOP = 72,
  CMD_SLOT_MOVIE_QUERY = 73,
  CMD_SLOT_MOVIE_NOOP = 74,
  ERR_MOVIE_NO_NAME = 101510,
  ERR_MOVIE_OPEN = 101520,
  MOVIE_NAME_SIZE = 1043,  // Shift-JIS bytes of a name (521 characters of two bytes, and the end)
  MOVIE_NAME_CHARS = 521,  // the longest name the player takes
  FLASH_NAME_CHARS = 261,
};

struct MovieRect {
  i32 x, y, w, h;
};

extern std::atomic<u8> g_MoviePlaying;
extern std::atomic<u32> g_MovieMciOpen;
extern MovieRect g_MovieRect;
extern i32 g_MovieVolume;  // 0..256
extern char g_MovieFileName[MOVIE_NAME_SIZE];
extern MovieRect g_FlashRect;

// ---- Commands ------------------------------------------------------------------------------------
i32 CmdMoviePlay();
i32 CmdMovieStop();
i32 CmdMovieQuery();
i32 CmdMovieNoOp();
i32 CmdFlashOpen();
i32 CmdFlashClose();
i32 CmdFlashQuery();

// ---- The graph mode --------------------------------------------------------------------------------
// Hundredths of a decibel for a volume of 0..256: 4000 x log10(v / 256), 0 giving -10000, limited
// to -10000..0.
i32 MovieGraphVolumeMb(i32 volume);
void MovieGraphRelease();
// The movie's completion message: a finished (or failed) movie releases the graph and clears
// g_MoviePlaying.
void MovieGraphDrainEvents();
// The video window laid out again from g_MovieRect (after a size change of the main window).
void MovieGraphLayout();

// ---- The MCI mode ----------------------------------------------------------------------------------
// The MCI volume value of a volume of 0..256: v x 1000 / 256.
i32 MovieMciVolumeValue(i32 volume);
void MovieMciClose();
// The open MCI movie's rectangle in game pixels (0), or -1 when none is open; and its new place
// in the client area.
i32 MovieMciRect(WinRect* out);
void MovieMciPut(const WinRect* r);

// The client-area rectangle (x, y, w, h) of a movie rectangle in game pixels: scaled by the
// output size over the game size (integer division, only for a game size that is not 0) and
// moved by the output offset; in the MCI mode with fit mode 2 the game is fitted into the
// display instead.
MovieRect MovieScreenRect(const MovieRect& r, bool mci, i32 fit_mode, SizeI32 game, SizeI32 display, SizeI32 output,
                          PointI32 offset);
// The MPEG type of a file's first bytes (command 73 selector 6): 1 MPEG-1, 2 MPEG-2, 255 other.
i32 MovieMpegType(const u8* head, size_t size);

// ---- Frames ----------------------------------------------------------------------------------------
// Called by the frame loop in place of composing and presenting while a movie covers the picture:
// the player's clock moves by elapsed_ms on a fixed clock, and a new picture is shown over a black
// client area. The main window's presented copy then holds the movie.
void MovieShowFrame(u32 elapsed_ms);
// What the main window shows of a movie: its client area black, the last picture at its place
// (scaled as the presentation scales). False before the first picture.
bool MovieShownPicture(std::vector<u8>* out, i32* width, i32* height);
// Shutdown: the graph released and the MCI movie closed; the Flash host too.
void MovieShutdown();

// ---- Flash host --------------------------------------------------------------------------------------
// The Flash host's rectangle in game pixels (0, or -1 when no Flash host is open) and its new
// place in the client area.
i32 FlashHostRect(WinRect* out);
void FlashHostMove(const WinRect* r);
void FlashReleaseControl();

// Tests: every movie and Flash global back to its start, players closed.
void MovieReset();
