// Instance locks, paths and folders, CP932 conversion, the quit signals and process spawning.
#include <fcntl.h>
#include <iconv.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "common/hash.h"
#include "platform/platform.h"
#include "platform/video_internal.h"

extern char** environ;

std::string PlatLastErrorText() { return std::strerror(errno); }

// ---- Instance locks --------------------------------------------------------------------------

// A folder that belongs to this user alone: a real folder (not a link) owned by the user, which
// no one else may write into.
static bool OwnPrivateFolder(const std::string& d) {
  struct stat st;
  return lstat(d.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == getuid() && (st.st_mode & 022) == 0;
}

// The folder of the lock files: $XDG_RUNTIME_DIR (the user's own), else a folder of the user's
// own, mode 0700, under the temp folder (or /tmp when that is missing). Another user's files
// never share it, so a stale lock left by someone else cannot stop a run; a name someone else
// took first is passed over for the next. "" when there is none.
static std::string LockFolder() {
  std::string d = PlatGetEnv("XDG_RUNTIME_DIR");
  struct stat st;
  if (!d.empty() && stat(d.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && access(d.c_str(), W_OK | X_OK) == 0) return d;
  const std::string temps[] = {PlatFolderTemp(), "/tmp"};
  for (const std::string& temp : temps) {
    for (int i = 0; i < 8; i++) {
      std::string f = temp + "/zephra-" + std::to_string(getuid()) + (i ? "." + std::to_string(i) : std::string());
      mkdir(f.c_str(), 0700);  // fails harmlessly when it exists
      if (OwnPrivateFolder(f)) return f;
    }
  }
  return std::string();
}

// The lock file of a name; "" when there is no folder for it.
static std::string LockPath(const char* name) {
  // Two hashes of the name make collisions between different games practically impossible.
  size_t n = std::strlen(name);
  char file[64];
  std::snprintf(file, sizeof file, "/zephra-%08x%08x.lock", HashMurmur2(name, n, 0), MemCrc32(name, n));
  std::string folder = LockFolder();
  return folder.empty() ? folder : folder + file;
}

i32 PlatInstanceLockAcquire(const char* name) {
  std::string path = LockPath(name);
  if (path.empty()) {
    std::fprintf(stderr, "zephra: no folder for the instance lock (tried $XDG_RUNTIME_DIR, %s and /tmp)\n",
                 PlatFolderTemp().c_str());
    return -1;
  }
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    std::fprintf(stderr, "zephra: the instance lock %s could not be opened: %s\n", path.c_str(), std::strerror(errno));
    return -1;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int err = errno;
    close(fd);
    if (err == EWOULDBLOCK) return 0;
    std::fprintf(stderr, "zephra: the instance lock %s could not be taken: %s\n", path.c_str(), std::strerror(err));
    return -1;
  }
  // What a holder that died wrote there (its window) is no one's any more.
  if (ftruncate(fd, 0) != 0) {}
  return fd + 1;  // never 0
}

void PlatInstanceLockRelease(i32 handle) {
  if (handle <= 0) return;
  PlatInstanceLockForget(handle);
  if (ftruncate(handle - 1, 0) != 0) {}
  flock(handle - 1, LOCK_UN);
  close(handle - 1);
}

void PlatInstanceLockWrite(i32 handle, const std::string& text) {
  if (handle <= 0) return;
  if (ftruncate(handle - 1, 0) != 0) return;
  if (pwrite(handle - 1, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size())) {}
}

bool PlatInstanceLockRead(const char* name, std::string* out) {
  out->clear();
  std::string path = LockPath(name);
  if (path.empty()) return false;
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  char buf[4096];
  ssize_t n = read(fd, buf, sizeof buf);
  close(fd);
  if (n <= 0) return false;
  out->assign(buf, static_cast<size_t>(n));
  return true;
}

// ---- Paths and folders -----------------------------------------------------------------------

std::string PlatExecutablePath() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return std::string();
  return std::string(buf, static_cast<size_t>(n));
}

// The working folder changes only through PlatSetCurrentFolder, so it is asked for once per change.
static std::mutex s_CwdMutex;
static std::string s_Cwd;
static bool s_CwdKnown = false;

std::string PlatCurrentFolder() {
  std::string out;
  PlatCurrentFolderInto(&out);
  return out;
}

void PlatCurrentFolderInto(std::string* out) {
  std::lock_guard<std::mutex> g(s_CwdMutex);
  if (!s_CwdKnown) {
    std::error_code ec;
    std::filesystem::path p = std::filesystem::current_path(ec);
    if (ec) {
      out->clear();
      return;
    }
    s_Cwd = p.string();
    s_CwdKnown = true;
  }
  out->assign(s_Cwd);
}

bool PlatSetCurrentFolder(const std::string& path) {
  std::lock_guard<std::mutex> g(s_CwdMutex);
  s_CwdKnown = false;
  return chdir(path.c_str()) == 0;
}

int PlatPathKind(const std::string& path) {
  struct stat st;
  if (path.empty() || stat(path.c_str(), &st) != 0) return 0;
  if (S_ISDIR(st.st_mode)) return 2;
  return S_ISREG(st.st_mode) ? 1 : 0;
}

std::string PlatAbsolutePath(const std::string& path) {
  char* r = realpath(path.c_str(), nullptr);
  if (!r) return std::string();
  std::string out(r);
  std::free(r);
  return out;
}

std::string PlatGetEnv(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

std::string PlatFolderHome() {
  std::string h = PlatGetEnv("HOME");
  if (!h.empty()) return h;
  std::vector<char> buf(16384);
  passwd pw;
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &found) != 0 || !found || !found->pw_dir) return "";
  return found->pw_dir;
}

std::string PlatFolderAppData() {
  std::string d = PlatGetEnv("XDG_DATA_HOME");
  if (!d.empty()) return d;
  const std::string home = PlatFolderHome();
  return home.empty() ? home : home + "/.local/share";
}

std::string PlatFolderDocuments() {
  std::string d = PlatGetEnv("XDG_DOCUMENTS_DIR");
  if (!d.empty()) return d;
  const std::string home = PlatFolderHome();
  if (home.empty()) return home;
  std::string docs = home + "/Documents";
  struct stat st;
  return (stat(docs.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) ? docs : home;
}

std::string PlatFolderTemp() {
  std::string d = PlatGetEnv("TMPDIR");
  return d.empty() ? std::string("/tmp") : d;
}

bool PlatFolderWritable(const std::string& folder) {
  std::string tmpl = folder + "/.zephra-write-" + std::to_string(getpid()) + "-XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  int fd = mkstemp(buf.data());
  if (fd < 0) return false;
  close(fd);
  unlink(buf.data());
  return true;
}

// ---- Text ------------------------------------------------------------------------------------

// One converter per direction, opened once: opening and closing one per call makes glibc load
// and unload its CP932 module over and over (slow, and its tables are then lost to the leak
// checker). A descriptor keeps state, so each is used under its own lock.
struct Converter {
  std::mutex lock;
  bool opened = false;
  iconv_t cd = reinterpret_cast<iconv_t>(-1);
};
static Converter s_ToUtf8, s_ToSjis;

static bool AllAscii(const std::string& s) {
  for (char ch : s)
    if (static_cast<unsigned char>(ch) >= 0x80) return false;
  return true;
}

// The bytes of the character at p (at most left): a well-formed UTF-8 sequence whole, else one
// byte, so a character without a CP932 form becomes one replacement as on Windows.
static size_t Utf8CharBytes(const char* p, size_t left) {
  const u8 b = static_cast<u8>(p[0]);
  const size_t n = b >= 0xF0 && b <= 0xF4 ? 4 : b >= 0xE0 ? 3 : b >= 0xC2 && b < 0xE0 ? 2 : 1;
  if (n > left) return 1;
  for (size_t i = 1; i < n; i++)
    if ((static_cast<u8>(p[i]) & 0xC0) != 0x80) return 1;
  return n;
}

// glibc's iconv goes back over all the input it was given when a character fails, so the input
// is handed over in slices: a text full of unconvertible characters costs its length, not its
// length squared.
enum { kConvertSlice = 256 };

// bad replaces one undecodable character; with bad null, a character that has no form in the
// target keeps its source bytes (the whole UTF-8 sequence).
static std::string Convert(Converter& c, const char* to, const char* from, const std::string& in, const char* bad) {
  // Code page 932 and UTF-8 spell the 7-bit characters alike (a backslash stays a backslash).
  if (AllAscii(in)) return in;
  const bool from_utf8 = std::strcmp(from, "UTF-8") == 0;
  std::lock_guard<std::mutex> guard(c.lock);
  if (!c.opened) {
    c.cd = iconv_open(to, from);
    c.opened = true;
  }
  iconv_t cd = c.cd;
  if (cd == reinterpret_cast<iconv_t>(-1)) return in;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  std::string out;
  out.reserve(in.size() * 3 / 2 + 4);
  char* src = const_cast<char*>(in.data());
  size_t left = in.size();
  char buf[512];
  while (left > 0) {
    const size_t slice = std::min<size_t>(left, kConvertSlice);
    size_t slice_left = slice;
    char* dst = buf;
    size_t room = sizeof buf;
    size_t r = iconv(cd, &src, &slice_left, &dst, &room);
    left -= slice - slice_left;
    out.append(buf, static_cast<size_t>(dst - buf));
    if (r != static_cast<size_t>(-1) || errno == E2BIG) continue;
    // A character cut by the slice's end goes whole into the next slice.
    if (errno == EINVAL && slice_left < left) continue;
    // An undecodable, unconvertible or truncated character: one replacement, and on.
    const size_t skip = from_utf8 ? Utf8CharBytes(src, left) : 1;
    if (bad) out += bad;
    else out.append(src, skip);
    src += skip;
    left -= skip;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  char* dst = buf;
  size_t room = sizeof buf;
  iconv(cd, nullptr, nullptr, &dst, &room);
  out.append(buf, static_cast<size_t>(dst - buf));
  return out;
}

std::string PlatSjisToUtf8(const std::string& sjis) {
  return Convert(s_ToUtf8, "UTF-8", "CP932", sjis, "\xEF\xBF\xBD");
}
std::string PlatUtf8ToSjis(const std::string& utf8) { return Convert(s_ToSjis, "CP932", "UTF-8", utf8, "?"); }
std::string PlatUtf8ToSjisKeepingOthers(const std::string& utf8) {
  return Convert(s_ToSjis, "CP932", "UTF-8", utf8, nullptr);
}

// ---- Signals ---------------------------------------------------------------------------------

static_assert(std::atomic<u8>::is_always_lock_free, "the signal handler needs a lock-free store");
static std::atomic<std::atomic<u8>*> s_QuitFlag{nullptr};
static std::atomic<u8> s_Signalled{0};

static void OnQuitSignal(int) {
  s_Signalled.store(1);
  if (std::atomic<u8>* quit = s_QuitFlag.load()) quit->store(1);
}

void PlatQuitSignalsInstall(std::atomic<u8>* quit) {
  s_QuitFlag.store(quit);
  struct sigaction sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sa_handler = OnQuitSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
}

bool PlatQuitSignalled() { return s_Signalled.load() != 0; }
void PlatQuitSignalledClear() { s_Signalled.store(0); }

// ---- Processes -------------------------------------------------------------------------------

static int SpawnArgv(const std::vector<std::string>& argv, pid_t* pid) {
  if (argv.empty()) return -1;
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  return posix_spawnp(pid, args[0], nullptr, nullptr, args.data(), environ) == 0 ? 0 : -1;
}

int PlatSpawn(const std::vector<std::string>& argv) {
  pid_t pid;
  if (SpawnArgv(argv, &pid) != 0) return -1;
  // Reap the child in the background so it never lingers as a zombie.
  try {
    std::thread([pid] {
      int status;
      while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
    }).detach();
  } catch (...) {}
  return 0;
}

int PlatSpawnWait(const std::vector<std::string>& argv) {
  pid_t pid;
  if (SpawnArgv(argv, &pid) != 0) return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
