// Files and folders over POSIX and std::filesystem. The resolver's cache maps a native folder to
// its listing keyed by the lower-cased Shift-JIS spelling of each entry; a listing is trusted
// while the folder's modification time is unchanged and re-read on a miss when it may be stale.
// Where the kernel reports changes (inotify), a listing read after its folder came under watch is
// trusted without a look at the folder for as long as no change has been reported since: a name
// missing from it is missing.
#include "platform/file.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

#include "common/sjis.h"
#include "platform/platform.h"

namespace {

struct Listing {
  timespec mtime;
  time_t listed_at;
  std::unordered_map<std::string, std::string> by_lower;  // lower-cased Shift-JIS -> native name
  std::unordered_set<std::string> natives;                // the native names as listed
  u64 trusted = 0;  // the change count under which the listing was read under watch; 0: none
};

struct Mapping {
  bool absolute = true;
  std::string drive;                    // lower-cased "x:" or empty
  std::vector<std::string> components;  // lower-cased Shift-JIS
  std::string native;
};

// A Windows-style name split into its root and its components (".", ".." and empty ones folded).
struct SplitName {
  bool absolute = false;
  std::string drive;  // lower-cased "x:" when given
  std::vector<std::string> components;
};

std::mutex s_Mutex;
std::unordered_map<std::string, Listing> s_Listings;
std::vector<Mapping> s_Mappings;

std::string LowerSjis(std::string s) {
  StrLowerSjis(s.data());
  return s;
}

// Into out, whose buffers are reused.
void SplitInto(const char* name, SplitName* out_ptr) {
  SplitName& out = *out_ptr;
  out.absolute = false;
  out.drive.clear();
  out.components.clear();
  out.components.reserve(8);
  const char* p = name;
  if (((p[0] >= 'a' && p[0] <= 'z') || (p[0] >= 'A' && p[0] <= 'Z')) && p[1] == ':') {
    out.drive = LowerSjis(std::string(p, 2));
    out.absolute = true;
    p += 2;
  }
  if (*p == '\\' || *p == '/') out.absolute = true;
  // Each component is taken whole, from its first byte up to the next separator (a separator
  // byte inside a double-byte character is none).
  auto flush = [&](const char* start, size_t len) {
    if (len == 0 || (len == 1 && start[0] == '.')) {
    } else if (len == 2 && start[0] == '.' && start[1] == '.') {
      if (!out.components.empty() && out.components.back() != "..") out.components.pop_back();
      else if (!out.absolute) out.components.emplace_back(start, len);
    } else {
      out.components.emplace_back(start, len);
    }
  };
  const char* start = p;
  while (*p) {
    size_t n = SjisCharLen(p);
    if (n == 1 && (*p == '\\' || *p == '/')) {
      flush(start, static_cast<size_t>(p - start));
      start = p + 1;
    }
    p += n;
  }
  flush(start, static_cast<size_t>(p - start));
}

SplitName Split(const char* name) {
  SplitName out;
  SplitInto(name, &out);
  return out;
}

std::string Join(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

bool StatMtime(const std::string& folder, timespec* t) {
  struct stat st;
  if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  *t = st.st_mtim;
  return true;
}

bool ReadListing(const std::string& folder, const timespec& mtime, Listing* out) {
  DIR* d = opendir(folder.c_str());
  if (!d) return false;
  out->mtime = mtime;
  out->listed_at = std::time(nullptr);
  out->by_lower.clear();
  std::vector<std::pair<std::string, std::string>> names;
  while (dirent* e = readdir(d)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    names.emplace_back(LowerSjis(PlatUtf8ToSjis(e->d_name)), e->d_name);
  }
  closedir(d);
  // Sorted, so that of two names differing only in case the same one always wins.
  std::sort(names.begin(), names.end(), [](const auto& a, const auto& b) { return a.second < b.second; });
  for (auto& n : names) {
    out->natives.insert(n.second);
    out->by_lower.emplace(std::move(n.first), std::move(n.second));
  }
  return true;
}

// ---- Change watch ----------------------------------------------------------------------------
// One inotify descriptor for the process, read without waiting. Any notice at all moves the
// count, and so does a lost queue: whoever trusted what they saw under an older count looks again.

std::mutex s_WatchMutex;
int s_WatchFd = -2;                         // -2: not yet opened; -1: unavailable
std::unordered_map<int, u64> s_WatchMoves;  // notices per live watch descriptor; under s_WatchMutex
u64 s_WatchLost = 0;                        // queue overflows; under s_WatchMutex
// Grows by a gone watch's notices and one more when the kernel drops it (its file removed), so the
// map keeps only live watches and every watch's count still only grows.
u64 s_WatchGone = 0;                        // under s_WatchMutex
u64 s_ChangeCount = 2;                      // under s_WatchMutex; 0 and 1 are never counts

constexpr u32 kFolderMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF;
constexpr u32 kFileMask = IN_MODIFY | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF;

// s_WatchMutex is held.
int WatchFd() {
  if (s_WatchFd == -2) {
    s_WatchFd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (s_WatchFd < 0) s_WatchFd = -1;
  }
  return s_WatchFd;
}

thread_local int t_ChangesDepth = 0;   // PlatFileChangesBegin nesting on this thread
thread_local u64 t_ChangesPinned = 0;  // the count read within it; 0: not yet read

u64 ReadChanges();

// The count as a lookup sees it: read once per lookup.
u64 DrainChanges() {
  if (t_ChangesDepth > 0 && t_ChangesPinned != 0) return t_ChangesPinned;
  const u64 count = ReadChanges();
  if (t_ChangesDepth > 0) t_ChangesPinned = count;
  return count;
}

// Reads every pending notice now (after a watch is armed, this must be a fresh read).
u64 ReadChanges() {
  std::lock_guard<std::mutex> g(s_WatchMutex);
  const int fd = WatchFd();
  if (fd < 0) return 0;
  // Nothing queued, the usual answer, costs the kernel less to tell than an empty read; anything
  // else (or a descriptor that cannot tell) goes on to the reads.
  int queued = 0;
  if (ioctl(fd, FIONREAD, &queued) == 0 && queued == 0) return s_ChangeCount;
  alignas(inotify_event) char buf[4096];
  bool moved = false;
  for (;;) {
    const ssize_t r = read(fd, buf, sizeof buf);
    if (r > 0) {
      moved = true;
      for (size_t at = 0; at + sizeof(inotify_event) <= static_cast<size_t>(r);) {
        inotify_event ev;
        std::memcpy(&ev, buf + at, sizeof ev);
        if (ev.mask & IN_Q_OVERFLOW) {
          s_WatchLost++;
        } else if (ev.mask & IN_IGNORED) {
          const auto it = s_WatchMoves.find(ev.wd);
          s_WatchGone += (it == s_WatchMoves.end() ? 0 : it->second) + 1;
          if (it != s_WatchMoves.end()) s_WatchMoves.erase(it);
        } else {
          s_WatchMoves[ev.wd]++;
        }
        at += sizeof(inotify_event) + ev.len;
      }
      continue;
    }
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 && errno == EAGAIN) break;
    // Anything else: the descriptor is of no further use; nothing is trusted from now on.
    close(fd);
    s_WatchFd = -1;
    return 0;
  }
  if (moved) s_ChangeCount++;
  return s_ChangeCount;
}

// After arming a watch: a fresh read, which the rest of the lookup then sees.
u64 DrainChangesAfterWatch() {
  const u64 count = ReadChanges();
  if (t_ChangesDepth > 0) t_ChangesPinned = count;
  return count;
}

// A folder's path also changes when one of the folders above it is moved or removed: for a
// folder, they are watched for that (added to whatever else they are watched for).
bool AddWatch(const std::string& native, u32 mask, int* watch = nullptr) {
  std::lock_guard<std::mutex> g(s_WatchMutex);
  const int fd = WatchFd();
  const int wd = fd < 0 ? -1 : inotify_add_watch(fd, native.c_str(), mask);
  if (wd < 0) return false;
  if (watch) *watch = wd;
  if (mask != kFolderMask) return true;
  if (native.empty() || native[0] != '/') return false;  // a relative path moves with the working folder
  for (size_t slash = native.find_last_of('/'); slash != std::string::npos && slash > 0;
       slash = native.find_last_of('/', slash - 1)) {
    const std::string above = native.substr(0, slash);
    if (inotify_add_watch(fd, above.c_str(), IN_MASK_ADD | IN_MOVE_SELF | IN_DELETE_SELF) < 0) return false;
  }
  return true;
}

// The real name in folder whose lower-cased Shift-JIS spelling is lower; s_Mutex is held.
bool FindInListing(const std::string& folder, const std::string& lower, std::string* real) {
  timespec mtime;
  if (!StatMtime(folder, &mtime)) return false;
  auto it = s_Listings.find(folder);
  const u64 now = DrainChanges();
  if (now != 0 && (it == s_Listings.end() || it->second.trusted != now) && AddWatch(folder, kFolderMask)) {
    // Under watch from here on: the listing read after the count is taken is exact until the next
    // reported change, whatever the timestamps' granularity.
    const u64 count = DrainChangesAfterWatch();
    Listing l;
    if (count == 0 || !ReadListing(folder, mtime, &l)) return false;
    l.trusted = count;
    auto hit = l.by_lower.find(lower);
    bool found = hit != l.by_lower.end();
    if (found) *real = hit->second;
    s_Listings[folder] = std::move(l);
    return found;
  }
  if (it != s_Listings.end() && it->second.mtime.tv_sec == mtime.tv_sec && it->second.mtime.tv_nsec == mtime.tv_nsec) {
    auto hit = it->second.by_lower.find(lower);
    if (hit != it->second.by_lower.end()) {
      *real = hit->second;
      return true;
    }
    // A change within the file system's timestamp granularity keeps the old mtime: a listing
    // taken soon after the last change may miss a newer entry.
    if (it->second.listed_at - mtime.tv_sec >= 2) return false;
  }
  Listing l;
  if (!ReadListing(folder, mtime, &l)) return false;
  auto hit = l.by_lower.find(lower);
  bool found = hit != l.by_lower.end();
  if (found) *real = hit->second;
  s_Listings[folder] = std::move(l);
  return found;
}

// The mapping whose prefix starts the name, longest first; s_Mutex is held.
const Mapping* FindMapping(const SplitName& s) {
  const Mapping* best = nullptr;
  for (const Mapping& m : s_Mappings) {
    if (m.absolute != s.absolute || m.drive != s.drive || m.components.size() > s.components.size()) continue;
    bool match = true;
    for (size_t i = 0; i < m.components.size() && match; i++)
      match = StrEqualNoCaseSjis(m.components[i].c_str(), s.components[i].c_str());
    if (match && (!best || m.components.size() > best->components.size())) best = &m;
  }
  return best;
}

// Only folders and regular files count: a FIFO, socket or device in place of a game file is
// missing (opening one could block the reader for ever).
int KindOfNative(const std::string& native) {
  struct stat st;
  if (stat(native.c_str(), &st) != 0) return PLAT_FILE_NONE;
  if (S_ISDIR(st.st_mode)) return PLAT_FILE_FOLDER;
  return S_ISREG(st.st_mode) ? PLAT_FILE_REGULAR : PLAT_FILE_NONE;
}

}  // namespace

// ---- Name resolution -------------------------------------------------------------------------

// The resolution; *missing is set when a component was found neither by its exact name nor in
// its folder's listing and nothing after it climbs back: nothing can exist at the result then.
// With stop_at_missing, a missing component ends the resolution at once (for callers that only
// ask whether something exists there).
// The result goes to *out, whose buffer is reused.
static void ResolveInto(const char* sjis_name, bool* missing, bool stop_at_missing, std::string* out) {
  *missing = false;
  thread_local SplitName t_Split;  // this thread's scratch, its buffers kept from call to call
  SplitName& s = t_Split;
  SplitInto(sjis_name ? sjis_name : "", &s);
  std::lock_guard<std::mutex> g(s_Mutex);
  std::string& path = *out;
  path.clear();
  size_t first = 0;
  if (const Mapping* m = FindMapping(s)) {
    path = m->native;
    first = m->components.size();
  } else if (s.absolute) {
    path.assign(1, '/');
  } else {
    PlatCurrentFolderInto(&path);
  }
  bool exists = true;
  u64 change_count = 1;  // 1: not yet drained for this resolution; 0: no watch
  for (size_t i = first; i < s.components.size(); i++) {
    const std::string& comp = s.components[i];
    std::string utf8 = PlatSjisToUtf8(comp);
    if (comp == "..") {
      // Only a relative name may climb above its start; it does so lexically, as Windows does.
      std::filesystem::path p(path);
      path = p.has_parent_path() ? p.parent_path().string() : path;
      *missing = false;
      continue;
    }
    if (exists && change_count != 0) {
      // A listing read under watch with no change reported since: a name it lacks is missing,
      // with no look at the disk.
      if (change_count == 1) change_count = DrainChanges();
      auto it = s_Listings.find(path);
      if (change_count != 0 && it != s_Listings.end() && it->second.trusted == change_count &&
          !it->second.natives.count(utf8) && !it->second.by_lower.count(LowerSjis(comp))) {
        exists = false;
        *missing = true;
      }
    }
    if (exists) {
      std::string exact = Join(path, utf8);
      if (KindOfNative(exact) != PLAT_FILE_NONE) {
        path = exact;
        continue;
      }
      std::string real;
      if (FindInListing(path, LowerSjis(comp), &real)) {
        path = Join(path, real);
        continue;
      }
      exists = false;
      *missing = true;
    }
    if (*missing && stop_at_missing) return;
    path = Join(path, utf8);
  }
}

static std::string Resolve(const char* sjis_name, bool* missing, bool stop_at_missing = false) {
  std::string path;
  ResolveInto(sjis_name, missing, stop_at_missing, &path);
  return path;
}

std::string PlatFileResolve(const char* sjis_name) {
  bool missing;
  return Resolve(sjis_name, &missing);
}

void PlatFileMapFolder(const char* sjis_prefix, const std::string& native_folder) {
  SplitName s = Split(sjis_prefix ? sjis_prefix : "");
  Mapping m;
  m.absolute = s.absolute;
  m.drive = s.drive;
  for (const std::string& c : s.components) m.components.push_back(LowerSjis(c));
  m.native = native_folder;
  while (m.native.size() > 1 && m.native.back() == '/') m.native.pop_back();
  std::lock_guard<std::mutex> g(s_Mutex);
  for (Mapping& old : s_Mappings) {
    if (old.absolute == m.absolute && old.drive == m.drive && old.components == m.components) {
      old.native = m.native;
      return;
    }
  }
  if (s.absolute || !m.components.empty()) s_Mappings.push_back(std::move(m));
}

void PlatFileForgetFolder(const std::string& native_folder) {
  std::lock_guard<std::mutex> g(s_Mutex);
  s_Listings.erase(native_folder);
}

void PlatFileReset() {
  std::lock_guard<std::mutex> g(s_Mutex);
  s_Listings.clear();
  s_Mappings.clear();
}

// ---- Queries ---------------------------------------------------------------------------------

int PlatFileKind(const char* sjis_name) {
  // A name with a missing folder (the usual answer when packed data is looked for loose first)
  // costs no further look.
  bool missing;
  thread_local std::string t_Native;  // its buffer kept from call to call
  ResolveInto(sjis_name, &missing, true, &t_Native);
  return missing ? PLAT_FILE_NONE : KindOfNative(t_Native);
}
int PlatFileKindNative(const std::string& native) { return KindOfNative(native); }

int PlatFileList(const char* sjis_folder, std::vector<PlatDirEntry>* out) {
  out->clear();
  std::string folder = PlatFileResolve(sjis_folder);
  DIR* d = opendir(folder.c_str());
  if (!d) return -1;
  std::vector<std::pair<std::string, PlatDirEntry>> items;
  while (dirent* e = readdir(d)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    PlatDirEntry de;
    de.name = PlatUtf8ToSjis(e->d_name);
    de.folder = KindOfNative(Join(folder, e->d_name)) == PLAT_FILE_FOLDER;
    items.emplace_back(LowerSjis(de.name), std::move(de));
  }
  closedir(d);
  std::sort(items.begin(), items.end(), [](const auto& a, const auto& b) {
    return a.first != b.first ? a.first < b.first : a.second.name < b.second.name;
  });
  for (auto& it : items) out->push_back(std::move(it.second));
  return 0;
}

// ---- Reading ---------------------------------------------------------------------------------

struct PlatFile {
  FILE* fp;
};

PlatFile* PlatFileOpenReadNative(const std::string& native) {
  // Opened without waiting, then checked on the open file itself: a name swapped for a FIFO or
  // a device after any earlier look never blocks the reader.
  int fd = open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return nullptr;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || fcntl(fd, F_SETFL, 0) != 0) {
    close(fd);
    return nullptr;
  }
  FILE* fp = fdopen(fd, "rb");
  if (!fp) {
    close(fd);
    return nullptr;
  }
  PlatFile* f = new PlatFile;
  f->fp = fp;
  return f;
}

PlatFile* PlatFileOpenRead(const char* sjis_name) { return PlatFileOpenReadNative(PlatFileResolve(sjis_name)); }

size_t PlatFileRead(PlatFile* f, void* buf, size_t n) {
  if (!f || n == 0) return 0;
  return std::fread(buf, 1, n, f->fp);
}

size_t PlatFileReadAt(PlatFile* f, u64 pos, void* buf, size_t n) {
  if (!f || n == 0 || pos > static_cast<u64>(INT64_MAX)) return 0;
  const int fd = fileno(f->fp);
  size_t done = 0;
  while (done < n) {
    const u64 at = pos + done;
    if (at > static_cast<u64>(INT64_MAX)) break;
    const ssize_t r = pread(fd, static_cast<u8*>(buf) + done, n - done, static_cast<off_t>(at));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    done += static_cast<size_t>(r);
  }
  return done;
}

int PlatFileSeek(PlatFile* f, u64 pos) {
  if (!f || pos > static_cast<u64>(INT64_MAX)) return -1;
  return fseeko(f->fp, static_cast<off_t>(pos), SEEK_SET) == 0 ? 0 : -1;
}

u64 PlatFileTell(PlatFile* f) {
  if (!f) return 0;
  off_t p = ftello(f->fp);
  return p < 0 ? 0 : static_cast<u64>(p);
}

i64 PlatFileSize(PlatFile* f) {
  if (!f) return -1;
  struct stat st;
  if (fstat(fileno(f->fp), &st) != 0) return -1;
  return static_cast<i64>(st.st_size);
}

i64 PlatFileSizeIfLinked(PlatFile* f) {
  if (!f) return -1;
  struct stat st;
  if (fstat(fileno(f->fp), &st) != 0 || st.st_nlink == 0) return -1;
  return static_cast<i64>(st.st_size);
}

void PlatFileClose(PlatFile* f) {
  if (!f) return;
  std::fclose(f->fp);
  delete f;
}

u64 PlatFileChangeCount() { return DrainChanges(); }

u64 PlatFileWatchMoves(int watch) {
  std::lock_guard<std::mutex> g(s_WatchMutex);
  auto it = s_WatchMoves.find(watch);
  return s_WatchLost + s_WatchGone + (it == s_WatchMoves.end() ? 0 : it->second);
}

bool PlatFileSameFile(PlatFile* a, PlatFile* b) {
  struct stat sa, sb;
  return a && b && fstat(fileno(a->fp), &sa) == 0 && fstat(fileno(b->fp), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

void PlatFileChangesBegin() {
  if (t_ChangesDepth++ == 0) t_ChangesPinned = 0;
}

void PlatFileChangesEnd() {
  if (t_ChangesDepth > 0 && --t_ChangesDepth == 0) t_ChangesPinned = 0;
}

u64 PlatFileWatchOpen(PlatFile* f, const char* sjis_name, int* watch) {
  const std::string native = PlatFileResolve(sjis_name);
  if (!f || !AddWatch(native, kFileMask, watch)) return 0;
  struct stat a, b;
  if (fstat(fileno(f->fp), &a) != 0 || stat(native.c_str(), &b) != 0 || a.st_dev != b.st_dev || a.st_ino != b.st_ino)
    return 0;
  return DrainChangesAfterWatch();
}

int PlatFileReadAll(const char* sjis_name, u8** data, size_t* size) {
  *data = nullptr;
  *size = 0;
  PlatFile* f = PlatFileOpenRead(sjis_name);
  if (!f) return -1;
  i64 len = PlatFileSize(f);
  if (len < 0) {
    PlatFileClose(f);
    return -3;
  }
  u8* block = static_cast<u8*>(std::malloc(len > 0 ? static_cast<size_t>(len) : 1));
  if (!block) {
    PlatFileClose(f);
    return -2;
  }
  size_t got = PlatFileRead(f, block, static_cast<size_t>(len));
  PlatFileClose(f);
  if (got != static_cast<size_t>(len)) {
    std::free(block);
    return -3;
  }
  *data = block;
  *size = got;
  return 0;
}

int PlatFileReadAllNative(const std::string& native, std::vector<u8>* out) {
  out->clear();
  PlatFile* f = PlatFileOpenReadNative(native);
  if (!f) return -1;
  i64 len = PlatFileSize(f);
  if (len < 0) {
    PlatFileClose(f);
    return -3;
  }
  out->resize(static_cast<size_t>(len));
  size_t got = PlatFileRead(f, out->data(), out->size());
  PlatFileClose(f);
  if (got != out->size()) {
    out->clear();
    return -3;
  }
  return 0;
}

// ---- Writing ---------------------------------------------------------------------------------

static thread_local int s_LastWriteErrno = 0;
static std::atomic<i64> s_FailAfterBytes{-1};
static std::atomic<int> s_FailErrno{0};

static bool WriteAll(int fd, const u8* p, size_t n) {
  i64 fail_after = s_FailAfterBytes.load();
  if (fail_after >= 0 && static_cast<u64>(fail_after) < n) {
    // The test hook: a disk that fills up part-way.
    for (size_t done = 0; done < static_cast<size_t>(fail_after);) {
      ssize_t w = write(fd, p + done, static_cast<size_t>(fail_after) - done);
      if (w < 0) return false;
      done += static_cast<size_t>(w);
    }
    errno = s_FailErrno.load();
    return false;
  }
  while (n > 0) {
    ssize_t w = write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

// The folder part of a path ("." for a bare name).
static std::string FolderOf(const std::string& native) {
  size_t slash = native.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : native.substr(0, slash);
}

// Makes a completed rename survive a power cut: the folder's entry is written out too.
static void SyncFolder(const std::string& folder) {
  int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

// The process's file-creation mask. /proc tells it without changing it; umask() can only be read
// by setting it, which another thread creating a file at that instant would see.
static mode_t ProcessUmask() {
  if (FILE* f = std::fopen("/proc/self/status", "re")) {
    char line[256];
    unsigned mask = 0;
    bool found = false;
    while (!found && std::fgets(line, sizeof line, f)) found = std::sscanf(line, "Umask: %o", &mask) == 1;
    std::fclose(f);
    if (found) return static_cast<mode_t>(mask & 0777);
  }
  const mode_t m = umask(022);
  umask(m);
  return m;
}

int PlatFileWriteAtomicNative(const std::string& native, const void* data, size_t n, bool executable) {
  // The writer's process id is in the temporary name, so a later start can tell a leftover of a
  // killed writer from a file that a running game is writing right now.
  std::string tmpl = native + ".tmp-" + std::to_string(getpid()) + "-XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  int fd = mkostemp(buf.data(), O_CLOEXEC);
  if (fd < 0) {
    s_LastWriteErrno = errno;
    return -1;
  }
  // A new file gets what the umask leaves of rw for all (and x with executable), as any program's.
  mode_t mode = (executable ? 0777 : 0666) & ~ProcessUmask();
  struct stat st;
  if (stat(native.c_str(), &st) == 0) mode = st.st_mode & 07777;
  bool ok = WriteAll(fd, static_cast<const u8*>(data), n) && fchmod(fd, mode) == 0 && fsync(fd) == 0;
  int err = ok ? 0 : errno;
  if (close(fd) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (ok && rename(buf.data(), native.c_str()) != 0) {
    ok = false;
    err = errno;
  }
  if (!ok) {
    unlink(buf.data());
    s_LastWriteErrno = err;
    errno = err;  // the reason of the failure, not of the clean-up
    return -1;
  }
  SyncFolder(FolderOf(native));
  std::error_code ec;
  std::filesystem::path p = std::filesystem::absolute(native, ec);
  if (!ec) PlatFileForgetFolder(p.parent_path().string());
  return 0;
}

int PlatFileWriteAtomic(const char* sjis_name, const void* data, size_t n) {
  return PlatFileWriteAtomicNative(PlatFileResolve(sjis_name), data, n);
}

void PlatFileFailWritesAfter(i64 bytes, int errno_value) {
  s_FailErrno.store(errno_value);
  s_FailAfterBytes.store(bytes);
}

// Linux numbers 1 to 34 are the C runtime's; of the rest, those the runtime knows by another number.
static int CrtErrorNumber(int e) {
  static const struct {
    int linux_number, crt_number;
  } kMoved[] = {{EDEADLK, 36}, {ENAMETOOLONG, 38}, {ENOLCK, 39}, {ENOSYS, 40}, {ENOTEMPTY, 41}, {EILSEQ, 42}};
  for (const auto& m : kMoved)
    if (m.linux_number == e) return m.crt_number;
  return e;
}

PlatFileError PlatFileLastError() {
  int e = s_LastWriteErrno;
  char buf[256];
  const char* text = strerror_r(e, buf, sizeof buf);  // GNU: the text, in buf or static
  return {CrtErrorNumber(e), PlatUtf8ToSjis(text ? text : "")};
}

// "<anything><marker><pid>-<six characters>": the pid, or 0 when the name is not of that form.
static long LeftoverPid(const std::string& name, const std::string& marker, bool at_start) {
  size_t at = at_start ? (name.rfind(marker, 0) == 0 ? 0 : std::string::npos) : name.rfind(marker);
  if (at == std::string::npos || name.size() < at + marker.size() + 8) return 0;
  const std::string rest = name.substr(at + marker.size());
  size_t dash = rest.find('-');
  if (dash == 0 || dash == std::string::npos || rest.size() - dash - 1 != 6 || dash > 9) return 0;
  long pid = 0;
  for (size_t i = 0; i < dash; i++) {
    if (rest[i] < '0' || rest[i] > '9') return 0;
    pid = pid * 10 + (rest[i] - '0');
  }
  return pid;
}

void PlatFolderRemoveLeftovers(const std::string& folder) {
  DIR* d = opendir(folder.c_str());
  if (!d) return;
  const uid_t me = getuid();
  while (dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    long pid = LeftoverPid(name, ".tmp-", false);
    if (!pid) pid = LeftoverPid(name, ".zephra-write-", true);
    if (pid <= 0 || pid == getpid()) continue;
    // Only our own files, and only when their writer is gone: never another running game's.
    std::string path = Join(folder, name);
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != me) continue;
    if (kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
    unlink(path.c_str());
  }
  closedir(d);
}

int PlatFolderCreateNative(const std::string& native) {
  if (native.empty()) {
    s_LastWriteErrno = ENOENT;
    return -1;
  }
  std::error_code ec;
  std::filesystem::create_directories(native, ec);
  if (KindOfNative(native) == PLAT_FILE_FOLDER) return 0;
  // The error of the level that could not be made (a read-only file system, a missing right).
  s_LastWriteErrno = ec ? ec.value() : ENOTDIR;
  return -1;
}

// ---- Script file operations ------------------------------------------------------------------

// The folder that holds a native path, for the resolver's cache.
static void ForgetParent(const std::string& native) {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::absolute(native, ec);
  if (!ec) PlatFileForgetFolder(p.parent_path().string());
}

int PlatFolderCreate(const char* sjis_name) {
  const std::string native = PlatFileResolve(sjis_name);
  if (mkdir(native.c_str(), 0777) != 0) return -1;  // the umask takes off what it takes off
  ForgetParent(native);
  return 0;
}

int PlatFolderRemove(const char* sjis_name) {
  const std::string native = PlatFileResolve(sjis_name);
  if (KindOfNative(native) != PLAT_FILE_FOLDER || rmdir(native.c_str()) != 0) return -1;
  ForgetParent(native);
  return 0;
}

int PlatFileDelete(const char* sjis_name) {
  const std::string native = PlatFileResolve(sjis_name);
  if (KindOfNative(native) != PLAT_FILE_REGULAR || unlink(native.c_str()) != 0) return -1;
  ForgetParent(native);
  return 0;
}

int PlatFileCopy(const char* sjis_from, const char* sjis_to) {
  const std::string from = PlatFileResolve(sjis_from);
  std::vector<u8> data;
  if (PlatFileReadAllNative(from, &data) != 0) return -1;
  struct stat st;
  const bool executable = stat(from.c_str(), &st) == 0 && (st.st_mode & S_IXUSR);
  return PlatFileWriteAtomicNative(PlatFileResolve(sjis_to), data.data(), data.size(), executable);
}
