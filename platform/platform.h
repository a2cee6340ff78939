// The platform layer: the one place that talks to the operating system. Engine modules call
// these Plat... functions and never include SDL, FreeType, fontconfig, iconv or POSIX headers.
// Families: clock, threads and events, locks, instance locks, paths and folders, text
// conversion, processes, dialogs, CPU features, video (SDL) and the event pump. Input,
// presentation, fonts and audio live in their own headers beside this one.
#pragma once
#include <atomic>
#include <string>
#include <vector>

#include "common/types.h"

// ---- Clock -----------------------------------------------------------------------------------
// Milliseconds of a monotonic clock as unsigned 32 bits (wraps like timeGetTime).
u32 PlatTimeMs();
// Real sleep of the calling thread.
void PlatSleepMs(u32 ms);
// Sleep of the thread that paces frames. With the fixed clock this advances the clock by ms
// instead of sleeping, so a run advances exactly one frame period per frame.
void PlatFrameSleepMs(u32 ms);
// Fixed clock (ZEPHRA_FIXED_CLOCK=1, or tests): time only moves through PlatFrameSleepMs and
// PlatClockAdvance. Enabling it sets the time to start_ms.
void PlatClockSetFixed(bool fixed, u32 start_ms = 0);
bool PlatClockIsFixed();
void PlatClockAdvance(u32 ms);
// Local wall-clock time (for the script's date and time variables).
struct PlatLocalTime {
  int year, month, day, weekday, hour, minute, second, millisecond;
};
PlatLocalTime PlatGetLocalTime();

// ---- Threads, events, locks ------------------------------------------------------------------
struct PlatThread;
typedef void (*PlatThreadFn)(void* arg);
PlatThread* PlatThreadStart(PlatThreadFn fn, void* arg);
// Waits for the thread to end and frees the handle.
void PlatThreadJoin(PlatThread* t);
// Gives the processor to another runnable thread, if there is one.
void PlatThreadYield();
// A short pause for a loop that watches memory another processor writes.
void PlatCpuRelax();

struct PlatEvent;
PlatEvent* PlatEventCreate(bool manual_reset, bool initially_set);
void PlatEventDestroy(PlatEvent* e);
void PlatEventSet(PlatEvent* e);
void PlatEventReset(PlatEvent* e);
// Waits until the event is set (an auto-reset event is then cleared). timeout_ms < 0 waits
// forever; 0 only looks. Returns true when the event was set, false on time-out.
bool PlatEventWait(PlatEvent* e, i32 timeout_ms);

// A recursive lock, as a critical section is.
struct PlatLock;
PlatLock* PlatLockCreate();
void PlatLockDestroy(PlatLock* l);
void PlatLockEnter(PlatLock* l);
void PlatLockLeave(PlatLock* l);

unsigned PlatCpuCount();

// The text of the last failed system call's reason (errno), for messages.
std::string PlatLastErrorText();

// ---- Instance locks --------------------------------------------------------------------------
// A named lock held for the life of the process (flock on a file named by a hash of the name,
// in $XDG_RUNTIME_DIR or a folder of the user's own under the temp folder). Returns a handle > 0
// when acquired, 0 when another process holds it, -1 when the lock cannot be made (the reason
// is printed to stderr): that is never "already running".
i32 PlatInstanceLockAcquire(const char* name);
void PlatInstanceLockRelease(i32 handle);
// The running copy keeps its main window (and the window's class name) beside a lock it holds,
// for a second start to find (main thread).
struct PlatWindow;
void PlatInstanceLockSetWindow(i32 handle, PlatWindow* w, const char* class_name);
// A second start: brings the window kept beside the lock of that name to the front, restoring
// it when minimised, when its class name is class_name. False when no such window was found.
bool PlatInstanceActivate(const char* name, const char* class_name);

// ---- Paths and folders -----------------------------------------------------------------------
// Path of the running zephra executable (UTF-8, absolute).
std::string PlatExecutablePath();
std::string PlatCurrentFolder();
void PlatCurrentFolderInto(std::string* out);  // the same into out, reusing its buffer
// 0 nothing there, 1 a regular file, 2 a folder (links followed).
int PlatPathKind(const std::string& path);
// The absolute, normalised form of an existing path (links resolved); empty when it fails.
std::string PlatAbsolutePath(const std::string& path);
bool PlatSetCurrentFolder(const std::string& path);
// The user's home folder: $HOME, else the password database's entry for the user; empty when
// neither names one (never a shared folder in its place).
std::string PlatFolderHome();
// XDG data home ("application data") and documents folder; empty when unknown.
std::string PlatFolderAppData();
std::string PlatFolderDocuments();
std::string PlatFolderTemp();
// True when a temporary file can be created (and is removed again) in the folder.
bool PlatFolderWritable(const std::string& folder);

// ---- Text ------------------------------------------------------------------------------------
// CP932 (not SHIFT_JIS: they differ on 0x5C and 0x8160) to and from UTF-8. Undecodable bytes
// become U+FFFD / "?".
std::string PlatSjisToUtf8(const std::string& sjis);
std::string PlatUtf8ToSjis(const std::string& utf8);
// The same, but a character without a CP932 form keeps its UTF-8 bytes instead of becoming "?"
// (a path handed on as it is).
std::string PlatUtf8ToSjisKeepingOthers(const std::string& utf8);

// ---- Processes -------------------------------------------------------------------------------
// Starts a program with an argument vector (never through a shell); returns 0 when started.
int PlatSpawn(const std::vector<std::string>& argv);
// Starts a program and waits for it; returns its exit status, -1 when it could not start.
int PlatSpawnWait(const std::vector<std::string>& argv);
// Value of an environment variable, or the empty string.
std::string PlatGetEnv(const char* name);

// ---- Signals ---------------------------------------------------------------------------------
// SIGINT and SIGTERM end the run from wherever it waits or loops: the handler only stores 1 into
// *quit (the engine's quit request; a lock-free atomic store is safe in a handler) and into the
// flag PlatQuitSignalled reads. SDL is kept from installing handlers of its own.
void PlatQuitSignalsInstall(std::atomic<u8>* quit);
// True once SIGINT or SIGTERM arrived (any thread). Tests clear it.
bool PlatQuitSignalled();
void PlatQuitSignalledClear();

// ---- Watched child processes -----------------------------------------------------------------
// Starts program (a path, never looked up) with program and args as its argument vector and this
// process's environment with env ("NAME=value" each, replacing a variable of the same name).
// Returns the process id (> 0), or -1 when it could not start. The caller must reap it through
// PlatProcessPoll or PlatProcessTerminate.
i64 PlatProcessStart(const std::string& program, const std::vector<std::string>& args,
                     const std::vector<std::string>& env);
// 0 still running; 1 ended and reaped (*status = its exit status, -1 after a signal); -1 no such
// child (reaped already).
int PlatProcessPoll(i64 pid, int* status);
// Asks the child to end, kills it when it has not after a second, and reaps it.
void PlatProcessTerminate(i64 pid);
i64 PlatProcessId();
i64 PlatParentProcessId();
// A regular file that this process may execute.
bool PlatFileIsExecutable(const std::string& native);

// ---- Shared libraries ------------------------------------------------------------------------
// A shared library loaded from a path (never searched for); null when it is missing or does not
// load. Its symbols by name (null when absent). Close gives it up.
void* PlatLibraryOpen(const std::string& path);
void* PlatLibrarySymbol(void* lib, const char* name);
void PlatLibraryClose(void* lib);

// ---- Named shared memory ---------------------------------------------------------------------
// Objects named "/NAME", machine-wide, that outlive their users until unlinked.
struct PlatShared;
// A name nobody can guess: prefix ("/NAME"), "-", this process's number, "-" and 16 random hex
// digits, so another user cannot take it first.
std::string PlatSharedUniqueName(const char* prefix);
// A new object of size bytes, zero-filled, readable and writable by this user only, mapped. A name
// that is taken is never removed (it may be another user's): the creation fails. Null on failure
// (nothing is left behind).
PlatShared* PlatSharedCreate(const char* name, size_t size);
// The same under a new PlatSharedUniqueName of prefix (another one while a name is taken); the
// name into *name.
PlatShared* PlatSharedCreateUnique(const char* prefix, size_t size, std::string* name);
// An existing object, its whole size mapped; null on failure.
PlatShared* PlatSharedOpen(const char* name);
u8* PlatSharedData(PlatShared* s);
size_t PlatSharedSize(PlatShared* s);
// Unmaps (null does nothing); the name stays until PlatSharedUnlink.
void PlatSharedClose(PlatShared* s);
void PlatSharedUnlink(const char* name);

// ---- Dialogs ---------------------------------------------------------------------------------
// Message box styles and answers keep the engine's (Windows) numbers.
enum {
  PLAT_MB_OK = 0,
  PLAT_MB_OKCANCEL = 1,
  PLAT_MB_ABORTRETRYIGNORE = 2,
  PLAT_MB_YESNOCANCEL = 3,
  PLAT_MB_YESNO = 4,
  PLAT_MB_RETRYCANCEL = 5,
  PLAT_MB_ICONERROR = 0x10,
  PLAT_MB_ICONQUESTION = 0x20,
  PLAT_MB_ICONWARNING = 0x30,
  PLAT_MB_ICONINFO = 0x40,
  PLAT_MB_DEFBUTTON2 = 0x100,
  PLAT_MB_DEFBUTTON3 = 0x200,
  PLAT_MB_SYSTEMMODAL = 0x1000,
};
enum {
  PLAT_IDOK = 1,
  PLAT_IDCANCEL = 2,
  PLAT_IDABORT = 3,
  PLAT_IDRETRY = 4,
  PLAT_IDIGNORE = 5,
  PLAT_IDYES = 6,
  PLAT_IDNO = 7
};
// Title and text are Shift-JIS; a null title gives the system's default caption "エラー". The
// icon of the style is drawn left of the text. Returns the answer (PLAT_ID...). With the stderr
// sink the title and text are printed and the default button's answer is returned.
int PlatMessageBox(const char* title, const char* text, u32 style);
// Dialogs are drawn by the engine in windows of their own, on the main thread (any thread may
// call: the call then waits for the main thread). While the game's main window shows, they
// belong to it: transient for it and centred over it. A dialog is at least as wide as its title
// and no taller than the screen: a longer text scrolls.
// Boxes belong to w instead while it shows, until this is called with null (the close
// confirmation belongs to the window being closed).
void PlatDialogOwnerSet(PlatWindow* w);
// A small modal text-entry window with the title, the prompt and the initial text (Shift-JIS),
// ended only by Enter (it cannot be cancelled). The text goes into out (out_size bytes) in
// Shift-JIS, never more than out_size - 1, cut at a whole character; max_bytes above 0 limits
// what is typed (an initial text above it is kept). With the stderr sink the title and prompt
// are printed and the text is the initial one (as OK pressed at once gives it).
// 0, or -1 when no window can be shown.
int PlatInputDialog(const char* title, const char* prompt, const char* initial, int max_bytes, char* out,
                    size_t out_size);
// The engine's error dialog: caption and text (Shift-JIS), an end button and, when
// edit_enabled >= 0, an edit button (edit_enabled 0 shows it disabled). on_edit is called each
// time the edit button is pressed; the dialog stays open until the end button.
void PlatErrorDialog(const char* caption, const char* text, int edit_enabled, void (*on_edit)(void* ctx), void* ctx);
// Dialog sink: true when dialogs print to stderr (ZEPHRA_DIALOGS=stderr, or no display).
bool PlatDialogsToStderr();
void PlatDialogsSetStderr(bool on);
// Tests: the answer the stderr sink gives to the next message boxes (0 = the default button).
void PlatDialogsSetAnswer(int answer);

// ---- Processor -------------------------------------------------------------------------------
struct PlatCpuInfo {
  bool has_cpuid;
  char vendor[13];
  char brand[49];
  int family, model, stepping;
  bool mmx, sse, sse2, sse3, ssse3, sse41, sse42, avx, avx2, amd3dnow, amd3dnowext, mmxext;
  bool sse4a, ext_ecx11;      // leaf 0x80000001 ECX bits 6 and 11
  bool avx512bw, avx512vbmi;  // usable (processor and operating system)
};
const PlatCpuInfo& PlatCpuGetInfo();
// Total and available physical memory in bytes.
void PlatMemoryStatus(u64* total, u64* avail);
// Effective user 0.
bool PlatIsAdmin();

// ---- Program resources -----------------------------------------------------------------------
// Resources built into the program (what a Windows executable keeps as custom resources), found
// by type and id: marker blocks that a standalone game's builder patches (platform/resource.h).
// Size in bytes, -1 when the program has no such resource.
i32 PlatResourceSize(const char* type, i32 id);
// Their bytes (a copy taken at the call), null when missing.
const u8* PlatResourceData(const char* type, i32 id);

// ---- Sound devices (system report) -----------------------------------------------------------
struct PlatSoundDeviceInfo {
  std::string name;  // UTF-8
  i32 channels;      // 0 when unknown
  i32 frequency;     // Hz, 0 when unknown
  i32 bits;          // bits per sample, 0 when unknown
};
std::vector<PlatSoundDeviceInfo> PlatSoundDeviceList(bool capture);
