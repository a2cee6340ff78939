// The Flash player, where the engine hosts the Flash control: a library loaded at run time that
// offers one table of calls. No such library exists on this platform, so the load fails and the
// engine takes its own failure path; a player dropped in as "libzephra-flash.so" (exporting
// zephra_flash_api) would be used.
#pragma once
#include "common/types.h"

struct PlatFlashApi {
  // A player in the host area (client pixels); null when it cannot be made.
  void* (*create)(i32 x, i32 y, i32 w, i32 h);
  i32 (*load_movie)(void* player, const char* utf8_path);  // 0 when loaded
  i32 (*total_frames)(void* player);
  i32 (*play)(void* player);  // 0 when started
  i32 (*is_playing)(void* player);
  i32 (*current_frame)(void* player);
  // A root variable holding an integer: 0 with *value, -1 when missing or not an integer.
  i32 (*get_variable)(void* player, const char* utf8_name, i64* value);
  void (*move)(void* player, i32 x, i32 y, i32 w, i32 h);
  void (*release)(void* player);
};

// The player library's table: looked for once per run; null when there is none or it lacks a
// call.
const PlatFlashApi* PlatFlashLoad();
// Tests: the table to use instead of the library (null: look for the library again).
void PlatFlashSetForTests(const PlatFlashApi* api);
