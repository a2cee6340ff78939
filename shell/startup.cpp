// Start-up and shutdown (see startup.h).
#include "shell/startup.h"

char g_ExePath[261];
char g_ExeFolder[SYS_PATH_MAX];
char g_WorkFolder[SYS_PATH_MAX];
char g_InstanceName[SYS_PATH_MAX];
char g_FolderInstanceName[SYS_PATH_MAX];
char g_AppDataFolder[SYS_PATH_MAX];
char g_DocumentsFolder[SYS_PATH_MAX];
char g_GameFolderNative[4096];
u8 g_ScreenSaverBuild = 0;
u8 g_FolderNotWritable = 0;
u8 g_RelaunchAtExit = 0;
u8 g_Running = 1;
i32 g_ExtraArgCount = 0;
char* g_ExtraArgs[9];
