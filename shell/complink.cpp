// Compiler link (see complink.h). Everything the compiler wrote is checked where it is read: the
// hand-over is walked inside the copied block, the folder must end inside its field and fit the
// work folder. Every path out after the control object exists goes through LinkEnd, which ends a
// compiler still running and unlinks both names.
#include "shell/complink.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "common/sjis.h"
#include "core/err.h"
#include "core/pack.h"
#include "core/sys.h"
#include "platform/file.h"
#include "platform/platform.h"
#include "platform/video.h"
#include "shell/startup.h"

std::string g_ScriptCompilerPath;

namespace {

struct LinkRun {
  std::string name, name2;  // name: empty until the control object exists
  bool made2 = false;       // the second object exists (its name was chosen before)
  PlatShared* control = nullptr;
  PlatShared* files = nullptr;
  i64 pid = -1;  // the compiler while it may still run
};

}  // namespace

static std::string Sjis(const char* utf8) { return PlatUtf8ToSjis(utf8); }

static u32 Get32(const u8* p) {
  return static_cast<u32>(p[0]) | static_cast<u32>(p[1]) << 8 | static_cast<u32>(p[2]) << 16 |
         static_cast<u32>(p[3]) << 24;
}

static void Put32(u8* p, u32 v) {
  for (int i = 0; i < 4; i++) p[i] = static_cast<u8>(v >> (8 * i));
}

// The two handshake words are shared with another process while it runs (little-endian hosts).
static u32 LoadWord(PlatShared* s, size_t at) {
  return std::atomic_ref<u32>(*reinterpret_cast<u32*>(PlatSharedData(s) + at)).load(std::memory_order_acquire);
}

static void StoreWord(PlatShared* s, size_t at, u32 v) {
  std::atomic_ref<u32>(*reinterpret_cast<u32*>(PlatSharedData(s) + at)).store(v, std::memory_order_release);
}

static void LinkEnd(LinkRun* r) {
  if (r->pid > 0) PlatProcessTerminate(r->pid);
  r->pid = -1;
  PlatSharedClose(r->files);
  PlatSharedClose(r->control);
  r->files = r->control = nullptr;
  // Only the names this run made: a name that was taken may be someone else's object.
  if (!r->name.empty()) PlatSharedUnlink(r->name.c_str());
  if (r->made2) PlatSharedUnlink(r->name2.c_str());
}

static i32 CommunicationFailed(LinkRun* r) {
  LinkEnd(r);
  ErrMessageBoxF("", "%s", Sjis("ZEPHRAコンパイラとデータ通信が出来ませんでした。"));
  return -1;
}

static std::string CompilerPath() {
  if (!g_ScriptCompilerPath.empty()) return g_ScriptCompilerPath;
  std::string exe = PlatExecutablePath();
  return exe.substr(0, exe.find_last_of('/') + 1) + "zpkit";
}

// Polls until the compiler has set the ready word (want_ready) or has ended. 1 reached, 0 the
// compiler ended first, -1 the system asked the program to end.
static i32 WaitCompiler(LinkRun* r, bool want_ready) {
  if (r->pid <= 0) return want_ready ? 0 : 1;  // ended and reaped already
  for (;;) {
    if (want_ready && LoadWord(r->control, LINK_AT_READY) == 1) return 1;
    int status = 0;
    if (PlatProcessPoll(r->pid, &status) != 0) {
      r->pid = -1;
      if (want_ready && LoadWord(r->control, LINK_AT_READY) == 1) return 1;
      return want_ready ? 0 : 1;
    }
    if (PlatSystemQuitPending()) return -1;
    PlatSleepMs(LINK_POLL_MS);
  }
}

// Builds count records {name, size, data} pointing into block (size bytes). Every length is
// checked against what is left of the block; a name must end in its terminating zero.
// 0, -1 damaged, -2 out of memory.
static i32 WalkHandover(const u8* block, u32 size, i32 count, PackLinkedFile** out) {
  *out = nullptr;
  // The smallest record: two length words and a name that is only its terminator.
  if (count < 0 || static_cast<u32>(count) > size / 9) return -1;
  if (count == 0) return 0;
  PackLinkedFile* files = static_cast<PackLinkedFile*>(std::calloc(static_cast<size_t>(count), sizeof *files));
  if (!files) return -2;
  u32 at = 0;
  for (i32 i = 0; i < count; i++) {
    if (size - at < 4) break;
    u32 n = Get32(block + at);
    at += 4;
    if (n == 0 || n > size - at || block[at + n - 1] != 0) break;
    files[i].name = reinterpret_cast<const char*>(block + at);
    at += n;
    if (size - at < 4) break;
    u32 m = Get32(block + at);
    at += 4;
    if (m > size - at) break;
    files[i].size = m;
    files[i].data = block + at;
    at += m;
    if (i + 1 == count) {
      *out = files;
      return 0;
    }
  }
  std::free(files);
  return -1;
}

static void InstallHandover(u8* block, PackLinkedFile* files, i32 count) {
  std::free(g_PackLinkedFiles);
  std::free(g_PackLinkedBlock);
  g_PackLinkedBlock = block;
  g_PackLinkedFiles = files;
  g_PackLinkedCount = files ? count : 0;
}

i32 ScriptCompilerLink() {
  // 1. The compiler is the kit beside the runtime; a game neither packed nor beside its compiler
  // shows the notices and ends.
  std::string compiler = CompilerPath();
  if (!PlatFileIsExecutable(compiler)) {
    g_ErrDialogCaption = "License Information";
    ErrRaise(ERR_NOTICES, 1);
    return 1;
  }
  // 2, 3. The control object. Both names are ones nobody can foresee, so no one can take them
  // first; the second object is made later, under the name the compiler is given now.
  LinkRun run;
  run.control = PlatSharedCreateUnique(LINK_MAP_NAME, LINK_CONTROL_SIZE, &run.name);
  if (!run.control) return CommunicationFailed(&run);
  run.name2 = PlatSharedUniqueName(LINK_MAP2_NAME);
  u8* ctl = PlatSharedData(run.control);
  Put32(ctl + LINK_AT_VERSION, LINK_VERSION);
  StrCopySjis(reinterpret_cast<char*>(ctl + LINK_AT_FOLDER), LINK_FOLDER_BYTES, g_ExeFolder);
  // 4. The compiler, in the working folder (the game folder), told where the objects are.
  run.pid = PlatProcessStart(compiler, {"zp"},
                             {std::string(LINK_ENV_MAP "=") + run.name, std::string(LINK_ENV_MAP2 "=") + run.name2});
  if (run.pid <= 0) {
    run.pid = -1;
    LinkEnd(&run);
    ErrMessageBoxF("", "%s", Sjis("ZEPHRAコンパイラを起動できませんでした。"));
    return 1;
  }
  // 5. The engine's globals while the compiler works.
  PlatSleepMs(LINK_POLL_MS);
  if (SysGlobalsInit() != 0) {
    LinkEnd(&run);
    return -1;
  }
  // 6. Ready, or the compiler ended having shown its own errors.
  i32 w = WaitCompiler(&run, true);
  if (w <= 0) {
    LinkEnd(&run);
    if (w < 0) g_QuitRequested = 1;
    return w == 0 ? 1 : -1;
  }
  // 7. The second object, of the announced size.
  i32 count = static_cast<i32>(Get32(ctl + LINK_AT_COUNT));
  u32 size = Get32(ctl + LINK_AT_SIZE);
  if (size == 0) size = 16;
  if (size > LINK_HANDOVER_MAX) {
    LinkEnd(&run);
    ErrRaiseF(ERR_FILE_READ_NOMEM, 1, LINK_MAP2_NAME + 1);
    return -1;
  }
  run.files = PlatSharedCreate(run.name2.c_str(), size);
  if (!run.files) return CommunicationFailed(&run);
  run.made2 = true;
  StoreWord(run.control, LINK_AT_ACK, 1);
  // 8. The compiler writes the files and ends.
  if (WaitCompiler(&run, false) < 0) {
    LinkEnd(&run);
    g_QuitRequested = 1;
    return -1;
  }
  // 9. One heap copy of the files, walked into the hand-over records.
  u8* block = nullptr;
  PackLinkedFile* records = nullptr;
  if (count != 0) {
    block = static_cast<u8*>(std::malloc(size));
    if (!block) {
      LinkEnd(&run);
      ErrRaiseF(ERR_FILE_READ_NOMEM, 1, LINK_MAP2_NAME + 1);
      return -1;
    }
    std::memcpy(block, PlatSharedData(run.files), size);
    i32 walk = WalkHandover(block, size, count, &records);
    if (walk != 0) {
      std::free(block);
      if (walk == -2) {
        LinkEnd(&run);
        ErrRaiseF(ERR_FILE_READ_NOMEM, 1, LINK_MAP2_NAME + 1);
        return -1;
      }
      return CommunicationFailed(&run);
    }
  }
  // 10. The result and the folder: refused, never cut, when it does not end inside its field or
  // would not fit the work folder.
  u8 result = ctl[LINK_AT_RESULT];
  const char* folder = reinterpret_cast<const char*>(ctl + LINK_AT_FOLDER);
  const void* end = std::memchr(folder, 0, LINK_FOLDER_BYTES);
  if (!end || static_cast<const char*>(end) - folder >= static_cast<std::ptrdiff_t>(sizeof g_WorkFolder)) {
    std::free(records);
    std::free(block);
    return CommunicationFailed(&run);
  }
  StrCopySjis(g_WorkFolder, sizeof g_WorkFolder, folder);
  LinkEnd(&run);
  InstallHandover(block, records, count);
  if (result != 1) return 1;
  // 11. Into the work folder; one that cannot be entered stops here rather than run elsewhere.
  std::string native = PlatFileResolve(g_WorkFolder);
  if (PlatPathKind(native) != 2 || !PlatSetCurrentFolder(native)) {
    ErrMessageBoxF("", "%s", Sjis("ZEPHRAコンパイラとデータ通信が出来ませんでした。"));
    return -1;
  }
  return 0;
}
