// Compiler link: a game whose scripts are not packed starts the project's compiler at start-up,
// which compiles the scripts and hands the compiled files over in memory (file source 3). The
// exchange is two named shared-memory objects; its byte layout below is all that binds the
// runtime to a compiler, so another compiler can take the kit's place.
#pragma once
#include <string>

#include "common/types.h"

// The control block (little-endian). Each side writes only its own words; both poll every 10 ms.
enum {
  LINK_CONTROL_SIZE = 512,
  LINK_AT_READY = 0,      // u32, compiler: 1 once count and size are written
  LINK_AT_ACK = 4,        // u32, runtime: 1 once the second object exists
  LINK_AT_RESULT = 12,    // u8, compiler: 1 = success
  LINK_AT_COUNT = 16,     // i32, compiler: number of handed-over files
  LINK_AT_SIZE = 20,      // u32, compiler: size of the second object (0 means 16)
  LINK_AT_VERSION = 128,  // u32, runtime: LINK_VERSION
  LINK_AT_FOLDER = 132,   // runtime writes the game folder; the compiler may replace it
  LINK_FOLDER_BYTES = 380,
  LINK_VERSION = 493,
  LINK_POLL_MS = 10,
};
// The second object: per file {u32 name length n (counting the terminating zero), n name bytes,
// u32 data size m, m data bytes}, back to back.

// The objects' names are these prefixes with the runtime's process id and 16 random hex digits
// ("-1234-0123456789abcdef"): names are machine-wide here, so no other user may foresee them. The
// compiler finds them in these environment variables.
#define LINK_MAP_NAME "/ZEPHRACompilerFileMapObject"
#define LINK_MAP2_NAME "/ZEPHRACompilerFileMapObject2"
#define LINK_ENV_MAP "ZEPHRA_COMPILER_MAP"
#define LINK_ENV_MAP2 "ZEPHRA_COMPILER_MAP2"

// Second objects above this size are refused as out of memory: no block of that size fits beside
// the engine in the address space the format was made for.
constexpr u32 LINK_HANDOVER_MAX = 1u << 30;

// The compiler program; empty: "zpkit" beside the running zephra. Tests point it elsewhere.
extern std::string g_ScriptCompilerPath;

// 0 linked (start-up goes on); 1 or -1 start-up stops (the reason has been shown, or the compiler
// showed its own, or the system asked the program to end: then g_QuitRequested is set). Runs SysGlobalsInit while the compiler works. Whatever the result, no
// compiler process and no shared object outlives the call.
i32 ScriptCompilerLink();
