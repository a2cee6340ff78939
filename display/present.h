// Presentation: each window's composed root picture is put into its window, 1:1 when it fits the
// output, otherwise scaled on the CPU into g_ScaledFrameBuffer (nearest, or bilinear with
// sharpened weights spread over the drawing workers) or stretched by the platform. A window
// without a visible picture is blanked once. Runs on the thread that runs the frame; what the
// window shows is handed to the platform, which puts it on the screen from the main thread.
#pragma once
#include <atomic>
#include <string>

#include "common/types.h"
#include "core/state.h"

struct LayerRecord;
struct WindowObject;

// Size of the picture as shown in the main window (written by the screen modes on the main
// thread), its position in the client area (written here, read by the input on the main thread)
// and the buffer of that size (width * 4 * height + width * 4 + 4 bytes), replaced and used only
// under g_EngineLock.
extern u8* g_ScaledFrameBuffer;
extern u64 g_ScaledFrameBufferSize;

// What presentation hands to a window, as a stretch of a top-down BGRA picture: the source
// rectangle scaled by nearest neighbour onto the destination rectangle of the client area.
typedef void (*FrameBlitFn)(WindowObject* w, const u8* pixels, i32 width, i32 height, i32 dst_x, i32 dst_y, i32 dst_w,
                            i32 dst_h, i32 src_x, i32 src_y, i32 src_w, i32 src_h);
// The platform's presentation into the window (tests put a recorder here).
extern FrameBlitFn g_FrameBlit;
void FrameBlitToWindow(WindowObject* w, const u8* pixels, i32 width, i32 height, i32 dst_x, i32 dst_y, i32 dst_w,
                       i32 dst_h, i32 src_x, i32 src_y, i32 src_w, i32 src_h);

// Per window and frame: presents a recomposed picture or blanks a window that lost it. Returns
// g_QuitRequested.
i32 FramePaintWindow(WindowObject* w);
// Shows the update of root record r in window w.
void FramePresent(WindowObject* w, LayerRecord* r);
// Whatever else draws into a window (or replaces the scaled buffer) calls this first, so that
// the window's next presentation is whole again; null: every window.
void FramePresentForget(const WindowObject* w);

// ZEPHRA_FRAME_DUMP: the file the main window's last composed picture goes to at exit ("" none).
extern std::string g_FrameDumpPath;
// Writes the main window's root picture as an RGB PNG (through a temporary file renamed into
// place). 0, or -1 with the reason in *why when there is no picture or the file cannot be
// written.
i32 FrameDumpPng(const char* path, std::string* why);
// The PNG bytes of a width x height BGRA picture (alpha dropped, as the window shows it). 0 or -1.
i32 FrameEncodePng(const u8* bgra, i32 width, i32 height, std::string* out);

// Tests: sizes, offset, blit hook and dump path back to their start-up values (the buffer is
// freed).
void FramePresentReset();
