// "zpkit zp" (see zp.h). The handshake: count and size, then ready; the runtime creates the
// second object and acknowledges; the files and the result follow, and the program ends. Each
// wait polls every 10 ms and gives up when the runtime that started this program is gone.
#include "kit/zp.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "kit/build.h"
#include "platform/platform.h"
#include "shell/complink.h"

static void Put32(u8* p, u32 v) {
  for (int i = 0; i < 4; i++) p[i] = static_cast<u8>(v >> (8 * i));
}

static u32 Get32(const u8* p) {
  return static_cast<u32>(p[0]) | static_cast<u32>(p[1]) << 8 | static_cast<u32>(p[2]) << 16 |
         static_cast<u32>(p[3]) << 24;
}

static std::atomic_ref<u32> Word(u8* ctl, size_t at) { return std::atomic_ref<u32>(*reinterpret_cast<u32*>(ctl + at)); }

std::vector<u8> KitHandoverBuild(const std::vector<KitCompiledFile>& files) {
  std::vector<u8> out;
  for (const KitCompiledFile& f : files) {
    size_t at = out.size();
    u32 n = static_cast<u32>(f.name.size() + 1);
    out.resize(at + 4 + n + 4 + f.data.size());
    Put32(&out[at], n);
    std::memcpy(&out[at + 4], f.name.c_str(), n);
    Put32(&out[at + 4 + n], static_cast<u32>(f.data.size()));
    if (!f.data.empty()) std::memcpy(&out[at + 8 + n], f.data.data(), f.data.size());
  }
  return out;
}

static int Quit(const char* why) {
  std::fprintf(stderr, "zpkit zp: %s\n", why);
  return 1;
}

int KitZpRun() {
  i64 runtime = PlatParentProcessId();
  std::string name = PlatGetEnv(LINK_ENV_MAP), name2 = PlatGetEnv(LINK_ENV_MAP2);
  if (name.empty() || name2.empty()) return Quit("only the runtime starts the compiler (" LINK_ENV_MAP " is not set)");
  PlatShared* control = PlatSharedOpen(name.c_str());
  if (!control || PlatSharedSize(control) < LINK_CONTROL_SIZE) {
    PlatSharedClose(control);
    return Quit("cannot open the runtime's control object");
  }
  u8* ctl = PlatSharedData(control);
  if (Get32(ctl + LINK_AT_VERSION) != LINK_VERSION) {
    PlatSharedClose(control);
    return Quit("the runtime speaks another version of the exchange");
  }
  // A folder without scripts (a game built with loose compiled files) hands over nothing.
  KitGameSource src;
  std::vector<KitCompiledFile> files;
  std::string err;
  bool ok = KitReadSourceFolder(PlatCurrentFolder(), &src, &err, true) == 0;
  if (!ok) err = PlatUtf8ToSjis(err);  // native paths; the compiler's own messages are Shift-JIS
  if (ok && !src.scripts.empty()) ok = KitCompileGame(src, &files, &err) == 0;
  if (!ok) {
    PlatMessageBox(PlatUtf8ToSjis("ZEPHRAコンパイラ").c_str(), err.c_str(), PLAT_MB_OK | PLAT_MB_ICONERROR);
    PlatSharedClose(control);
    return 1;
  }
  std::vector<u8> block = KitHandoverBuild(files);
  if (block.size() > LINK_HANDOVER_MAX) {
    PlatSharedClose(control);
    return Quit("the compiled files are too large to hand over");
  }
  Put32(ctl + LINK_AT_COUNT, static_cast<u32>(files.size()));
  Put32(ctl + LINK_AT_SIZE, static_cast<u32>(block.size()));
  Word(ctl, LINK_AT_READY).store(1, std::memory_order_release);
  while (Word(ctl, LINK_AT_ACK).load(std::memory_order_acquire) != 1) {
    if (PlatParentProcessId() != runtime) {
      PlatSharedClose(control);
      return Quit("the runtime is gone");
    }
    PlatSleepMs(LINK_POLL_MS);
  }
  PlatShared* second = PlatSharedOpen(name2.c_str());
  if (!second || PlatSharedSize(second) < block.size()) {
    PlatSharedClose(second);
    PlatSharedClose(control);
    return Quit("cannot open the runtime's file object");
  }
  if (!block.empty()) std::memcpy(PlatSharedData(second), block.data(), block.size());
  ctl[LINK_AT_RESULT] = 1;
  PlatSharedClose(second);
  PlatSharedClose(control);
  return 0;
}
