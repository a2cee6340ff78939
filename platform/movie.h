// Movie playback on FFmpeg's libraries: a player demuxes and decodes on a thread of its own,
// converts video to B, G, R, A pictures at the movie's size and sends its sound through the
// engine's mixer as one more voice. Video follows the sound's clock (late pictures are dropped,
// never sound); without sound, or on a fixed clock, it follows a clock that the engine advances.
// The newest picture is taken by whoever shows it; nobody waits for anybody. A file that cannot
// be opened, demuxed or decoded, or that breaks off, ends as a finished movie.
#pragma once
#include <vector>

#include "common/types.h"

struct PlatMovie;

// Opens a movie from a native path, or from memory (kept by the caller while the player lives).
// Nothing plays until PlatMoviePlay. Null when the file is no movie FFmpeg can play.
PlatMovie* PlatMovieOpen(const char* native_path);
PlatMovie* PlatMovieOpenMemory(const u8* data, size_t size);
// Stops the thread, removes the mixer voice and frees everything.
void PlatMovieClose(PlatMovie* m);

// paced_by_engine: the clock moves only by PlatMovieAdvance, which also decodes on the caller's
// thread (fixed-clock runs repeat exactly); else the player's thread follows the sound played, or
// the monotonic clock for a movie without sound.
void PlatMoviePlay(PlatMovie* m, bool paced_by_engine);
void PlatMoviePause(PlatMovie* m);
void PlatMovieAdvance(PlatMovie* m, u32 ms);
// The sound's attenuation in hundredths of a decibel (-10000 .. 0).
void PlatMovieSetVolume(PlatMovie* m, i32 mb);
// Posts PlatPostMessage(code, a, 0) once when the movie has ended (its last picture and sound
// done, or a failure); 0 posts nothing.
void PlatMovieSetEndMessage(PlatMovie* m, u32 code, i64 a);
bool PlatMovieEnded(PlatMovie* m);
// The newest picture when it is newer than *serial: copied into out with its size, *serial
// updated, true.
bool PlatMovieTakeFrame(PlatMovie* m, std::vector<u8>* out, i32* width, i32* height, u64* serial);
// Decodes on the calling thread until count pictures were made or the movie ended (benchmarks,
// fuzzing): the number of pictures made.
i32 PlatMovieDecodeFrames(PlatMovie* m, i32 count);
