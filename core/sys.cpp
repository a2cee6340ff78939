#include "core/sys.h"

PlatLock* g_EngineLock = PlatLockCreate();
std::atomic<u8> g_QuitRequested{0};
