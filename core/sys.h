// Globals shared by every subsystem: the one process-wide lock and the quit flag.
#pragma once
#include <atomic>

#include "common/types.h"
#include "platform/platform.h"

// Guards the sound request ring, the thread state bytes and the dropped-file list.
extern PlatLock* g_EngineLock;
// Set to end the run; read by every thread.
extern std::atomic<u8> g_QuitRequested;

struct EngineLockGuard {
  EngineLockGuard() { PlatLockEnter(g_EngineLock); }
  ~EngineLockGuard() { PlatLockLeave(g_EngineLock); }
  EngineLockGuard(const EngineLockGuard&) = delete;
  EngineLockGuard& operator=(const EngineLockGuard&) = delete;
};
