// Start-up and shutdown: the program's entry, the start-up sequence and the teardown, and the
// paths and flags that the rest of the engine reads. The game folder plays the role of the
// executable's folder; the "executable path" is the standalone bundle when one runs, else a
// virtual "zephra" file inside the game folder.
#pragma once
#include "common/types.h"

enum { SYS_PATH_MAX = 288 };

extern char g_ExePath[261];                  // lower-cased, Windows-style path of the game's executable
extern char g_ExeFolder[SYS_PATH_MAX];       // its folder, lower-cased, ending in "\"
extern char g_WorkFolder[SYS_PATH_MAX];      // working folder of the file sources
extern char g_InstanceName[SYS_PATH_MAX];    // g_ExePath with "\" turned into ":"
extern char g_FolderInstanceName[SYS_PATH_MAX];
extern char g_AppDataFolder[SYS_PATH_MAX];
extern char g_DocumentsFolder[SYS_PATH_MAX];
extern char g_GameFolderNative[4096];        // the game folder as the platform spells it (UTF-8)
extern u8 g_ScreenSaverBuild;
extern u8 g_FolderNotWritable;
extern u8 g_RelaunchAtExit;
extern u8 g_Running;

// Slot 0 the program path, slots 1 to 8 the first eight game arguments ("" when not given).
extern i32 g_ExtraArgCount;
extern char* g_ExtraArgs[9];
