// Pack directory: every entry of every pack, sorted by name hash; a superseded duplicate keeps
// hash 0 or 1 (never its own) so lookups pass over it. Every record of an entry table is checked
// against the table size and the counted entries before it is read, at the scan and again at
// lookup time, so a damaged pack stops the start-up with its error instead of an overrun.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "common/hash.h"
#include "common/sjis.h"
#include "core/err.h"
#include "core/pack.h"
#include "core/state.h"
#include "platform/file.h"
#include "platform/platform.h"
#include "platform/resource.h"

const char kPackMagic[4] = {'Z', 'P', 'F', '\0'};
const char kPackAppendMarker[4] = {'Z', 'P', 'E', 'R'};

// Fixed once for this engine's packs; the kit's writer builds its table from the same pairs.
const u8 g_PackNameLengthPairs[12][2] = {
    {3, 197}, {8, 250},  {14, 121}, {22, 67},  {29, 140}, {37, 226},
    {45, 88}, {53, 171}, {61, 104}, {79, 233}, {96, 158}, {113, 186},
};

PackDirectory g_PackDirectory;
u8 g_DataInExe = 0;
u8 g_ScriptsPacked = 0;
u64 g_AppendedBase = 0;
u8 g_NameLengthTable[256];
u8 g_ScrambleKey[4];
std::string g_PackExeNative;

static u32 s_AppendedSize = 0;        // A of the last detection
static u32 s_AppendedPackOffset = 0;  // pack offset read behind the marker
static std::string s_AppendedFile;    // the file the last detection looked at

void PackNameLengthTableBuild(u8 table[256]) {
  for (int i = 0; i < 256; i++) table[i] = static_cast<u8>(i);
  for (const auto& pair : g_PackNameLengthPairs) std::swap(table[pair[0]], table[pair[1]]);
}

// ---- Pack file access ------------------------------------------------------------------------

static u32 Le32(const u8* p) {
  return static_cast<u32>(p[0]) | static_cast<u32>(p[1]) << 8 | static_cast<u32>(p[2]) << 16 |
         static_cast<u32>(p[3]) << 24;
}

// A of the running program's own resource, 0 when it has none.
static u32 OwnAppendedSize() {
  u8 v[PLAT_RESOURCE_VALUE_MAX] = {};
  return PlatResourceRead("ZP_RES", 201, v, sizeof v) < 4 ? 0 : Le32(v);
}

i32 PackSelfIsStandalone() {
  u32 a = OwnAppendedSize();
  return a != 4 && a != 0 ? 1 : 0;
}

// The file that may carry appended data: the running program when it is a standalone game
// itself; else the standalone game being run, when there is one; else the running program (a game
// folder's executable is only a name).
static std::string ExeNative() {
  if (OwnAppendedSize() != 4 || g_PackExeNative.empty() || PlatFileKindNative(g_PackExeNative) != PLAT_FILE_REGULAR)
    return PlatExecutablePath();
  return g_PackExeNative;
}

static std::string AppendedFile() { return s_AppendedFile.empty() ? ExeNative() : s_AppendedFile; }

i32 PackOpen(PackHandle* h, const char* path) {
  h->file = g_DataInExe ? PlatFileOpenReadNative(AppendedFile()) : PlatFileOpenRead(path);
  h->base = g_DataInExe ? g_AppendedBase : 0;
  if (!h->file) return -1;
  if (PlatFileSeek(h->file, h->base) != 0) {
    PackClose(h);
    return -1;
  }
  return 0;
}

// Pack paths are relative to the game folder, which is the working folder once the scripts are
// known to be packed.
static std::string PackFullPath(const char* path) {
  if (g_ScriptsPacked) return path;
  return std::string(g_ExeFolder) + path;
}

i32 PackOpenIndex(PackHandle* h, u32 p) {
  h->file = nullptr;
  if (p >= static_cast<u32>(g_PackDirectory.pack_count) || !g_PackDirectory.names[p]) return -1;
  return PackOpen(h, PackFullPath(g_PackDirectory.names[p]).c_str());
}

// The kept handles of PackKeptOpen, by pack index; the lock covers the table, not the reads. A
// pack removed (or replaced) since it was opened opens again by its name, as every read used to;
// its old handle may still be read by another thread, so it is closed with the directory only.
// Where changes are watched, a kept pack checked under the current change count is not checked
// again: its size is remembered.
static std::mutex s_KeptLock;
static PackHandle s_Kept[PACK_MAX_PACKS];
static u64 s_KeptChecked[PACK_MAX_PACKS];  // change count of the last check; 0: none
static i64 s_KeptBytes[PACK_MAX_PACKS];
static u64 s_KeptSerial[PACK_MAX_PACKS];  // names the kept handle while it is checked; 0: none
static u64 s_NextSerial = 1;
static u64 s_KeptOpenId[PACK_MAX_PACKS];  // changes whenever pack p is opened again
static u64 s_NextOpenId = 1;
static int s_KeptWatch[PACK_MAX_PACKS];     // the watch on the kept file, when checked under watch
static u64 s_KeptArmMoves[PACK_MAX_PACKS];  // its moves when the watch was armed
// A pack's entry table as the scan read it, after the kept handle came under watch: while that
// watch reports nothing, the records are read from here rather than from the file.
struct KeptTable {
  std::vector<u8> bytes;
  u64 open_id = 0;  // 0: none
  int watch = -1;
  u64 moves = 0;
  u64 current_at = 0;  // the change count under which it was last found current; 0: none
};
static KeptTable s_Tables[PACK_MAX_PACKS];
// Per pack, the entry records its file can hold (after the header), by its size when named.
static u64 s_PackRoom[PACK_MAX_PACKS];
static std::vector<PackHandle> s_Retired;

i32 PackKeptOpen(u32 p, PackHandle* h, u64* size, u64* serial, const std::vector<u8>** table) {
  h->file = nullptr;
  h->base = 0;
  *size = 0;
  if (serial) *serial = 0;
  if (table) *table = nullptr;
  if (p >= PACK_MAX_PACKS) return -1;
  std::lock_guard<std::mutex> g(s_KeptLock);
  const u64 count = PlatFileChangeCount();
  i64 bytes = -1;
  if (s_Kept[p].file && count != 0 && s_KeptChecked[p] == count) {
    bytes = s_KeptBytes[p];
  } else {
    s_KeptChecked[p] = 0;
    s_KeptSerial[p] = 0;
    bytes = s_Kept[p].file ? PlatFileSizeIfLinked(s_Kept[p].file) : -1;
    if (bytes < 0) {
      if (s_Kept[p].file) {
        s_Retired.push_back(s_Kept[p]);
        s_Kept[p].file = nullptr;
      }
      PackHandle opened;
      if (PackOpenIndex(&opened, p)) return -1;
      s_Kept[p] = opened;
      s_KeptOpenId[p] = s_NextOpenId++;
      bytes = PlatFileSize(opened.file);
    }
    // Under watch from here on; checked once more after the watch is armed.
    int watch = -1;
    const u64 watched = count != 0 && g_PackDirectory.names[p]
                            ? PlatFileWatchOpen(s_Kept[p].file, PackFullPath(g_PackDirectory.names[p]).c_str(), &watch)
                            : 0;
    if (watched != 0) {
      const u64 moves = PlatFileWatchMoves(watch);
      const i64 now = PlatFileSizeIfLinked(s_Kept[p].file);
      if (now >= 0) {
        s_KeptWatch[p] = watch;
        s_KeptArmMoves[p] = moves;
        bytes = now;
        s_KeptChecked[p] = watched;
        s_KeptBytes[p] = now;
        s_KeptSerial[p] = s_NextSerial++;
      }
    }
  }
  *h = s_Kept[p];
  *size = bytes > 0 && static_cast<u64>(bytes) > h->base ? static_cast<u64>(bytes) - h->base : 0;
  if (serial) *serial = s_KeptSerial[p];
  KeptTable& t = s_Tables[p];
  if (table && s_KeptSerial[p] != 0 && t.open_id == s_KeptOpenId[p] && t.watch == s_KeptWatch[p]) {
    // Under an unchanged count nothing at all was reported, so a table found current stays so.
    if (t.current_at != s_KeptChecked[p] && PlatFileWatchMoves(t.watch) == t.moves) t.current_at = s_KeptChecked[p];
    if (t.current_at == s_KeptChecked[p]) *table = &t.bytes;
  }
  return 0;
}

// Keeps the entry table the scan read from pack p (through a handle of its own, after the kept
// handle, which serial names, came under watch) when both are the same file.
static void KeepTable(u32 p, u64 serial, PlatFile* read_from, const std::vector<u8>& table) {
  std::lock_guard<std::mutex> g(s_KeptLock);
  if (p >= PACK_MAX_PACKS || serial == 0 || s_KeptSerial[p] != serial || !PlatFileSameFile(read_from, s_Kept[p].file))
    return;
  KeptTable& t = s_Tables[p];
  t.bytes = table;
  t.open_id = s_KeptOpenId[p];
  t.watch = s_KeptWatch[p];
  t.moves = s_KeptArmMoves[p];
}

i32 PackKeptAgain(u32 p, u64 serial, PackHandle* h, u64* size) {
  if (p >= PACK_MAX_PACKS || serial == 0) return -1;
  std::lock_guard<std::mutex> g(s_KeptLock);
  if (s_KeptSerial[p] != serial || !s_Kept[p].file) return -1;
  *h = s_Kept[p];
  const i64 bytes = s_KeptBytes[p];
  *size = bytes > 0 && static_cast<u64>(bytes) > h->base ? static_cast<u64>(bytes) - h->base : 0;
  return 0;
}

size_t PackReadAt(const PackHandle* h, u64 position, void* buf, size_t n) {
  if (position > UINT64_MAX - h->base) return 0;
  return PlatFileReadAt(h->file, h->base + position, buf, n);
}

// The directory's names change: the kept handles go with them.
static void CloseKept() {
  std::lock_guard<std::mutex> g(s_KeptLock);
  for (PackHandle& k : s_Kept)
    if (k.file) PackClose(&k);
  for (u64& c : s_KeptChecked) c = 0;
  for (u64& c : s_KeptSerial) c = 0;
  for (KeptTable& t : s_Tables)
    if (t.open_id || t.watch >= 0 || t.moves || t.current_at || !t.bytes.empty()) t = KeptTable();
  for (PackHandle& k : s_Retired) PackClose(&k);
  s_Retired.clear();
}

i32 PackRead(PackHandle* h, void* buf, size_t n) { return PlatFileRead(h->file, buf, n) == n ? 0 : -1; }

i32 PackReadU8(PackHandle* h, u8* v) { return PackRead(h, v, 1); }

i32 PackReadU32(PackHandle* h, u32* v) {
  u8 b[4];
  if (PackRead(h, b, 4)) return -1;
  *v = static_cast<u32>(b[0]) | static_cast<u32>(b[1]) << 8 | static_cast<u32>(b[2]) << 16 |
       static_cast<u32>(b[3]) << 24;
  return 0;
}

i32 PackReadU64(PackHandle* h, u64* v) {
  u32 lo = 0, hi = 0;
  if (PackReadU32(h, &lo) || PackReadU32(h, &hi)) return -1;
  *v = static_cast<u64>(hi) << 32 | lo;
  return 0;
}

i32 PackSeek(PackHandle* h, u64 position) {
  if (position > UINT64_MAX - h->base) return -1;
  return PlatFileSeek(h->file, h->base + position);
}

u64 PackTell(PackHandle* h) {
  u64 p = PlatFileTell(h->file);
  return p >= h->base ? p - h->base : 0;
}

u64 PackSizeFromBase(PackHandle* h) {
  i64 size = PlatFileSize(h->file);
  return size > 0 && static_cast<u64>(size) > h->base ? static_cast<u64>(size) - h->base : 0;
}

void PackClose(PackHandle* h) {
  PlatFileClose(h->file);
  h->file = nullptr;
}

// Case-insensitive comparison of a decoded name of len bytes with a terminated name.
static bool NameEquals(const std::string& decoded, const char* name) {
  return decoded.size() == std::strlen(name) && decoded.find('\0') == std::string::npos &&
         StrEqualNoCaseSjis(decoded.c_str(), name);
}

// ---- Appended data ---------------------------------------------------------------------------

// A from the running program's own resource, or, for a standalone game run by another zephra,
// from the marker block found in that file.
u32 PackAppendedBaseSize() {
  std::string exe = AppendedFile();
  if (exe == PlatExecutablePath()) return OwnAppendedSize();
  PlatFile* f = PlatFileOpenReadNative(exe);
  if (!f) return 0;
  // The block lies in the executable part, near the start: read chunk by chunk, overlapping so a
  // block across a chunk border is still found.
  enum { kChunk = 1 << 20, kOverlap = 64 };
  // Never more room than the file has left: a small file costs what it holds.
  const i64 file_size = PlatFileSize(f);
  u64 left = file_size >= 0 ? static_cast<u64>(file_size) : UINT64_MAX;
  std::vector<u8> buf;
  u32 result = 0;
  for (;;) {
    size_t keep = buf.size() > kOverlap ? size_t{kOverlap} : buf.size();
    const size_t chunk = left < kChunk ? static_cast<size_t>(left) : size_t{kChunk};
    std::vector<u8> next(buf.end() - static_cast<std::ptrdiff_t>(keep), buf.end());
    next.resize(keep + chunk);
    size_t got = PlatFileRead(f, next.data() + keep, chunk);
    left -= got;
    next.resize(keep + got);
    u32 size = 0;
    i64 off = PlatResourceFindInImage(next.data(), next.size(), "ZP_RES", 201, &size);
    if (off >= 0 && size >= 4 && static_cast<size_t>(off) + 4 <= next.size()) {
      result = Le32(next.data() + off);
      break;
    }
    if (got < chunk || left == 0) break;
    buf.swap(next);
  }
  PlatFileClose(f);
  return result;
}

u64 PackReadAppendedTrailer() {
  PlatFile* f = PlatFileOpenReadNative(AppendedFile());
  if (!f) return 0;
  u8 head[12];
  if (s_AppendedSize != 0 && PlatFileSeek(f, s_AppendedSize) == 0 && PlatFileRead(f, head, 12) == 12 &&
      std::memcmp(head, kPackAppendMarker, 4) == 0) {
    s_AppendedPackOffset = Le32(head + 4);
    if (Le32(head + 8) != 0) g_ScreenSaverBuild = 1;
  }
  i64 size = PlatFileSize(f);
  PlatFileClose(f);
  return size > 0 ? static_cast<u64>(size) : 0;
}

i32 PackCheckAppendedMarker() {
  PlatFile* f = PlatFileOpenReadNative(AppendedFile());
  if (!f) return 0;
  u8 head[4];
  bool ok = PlatFileSeek(f, s_AppendedSize) == 0 && PlatFileRead(f, head, 4) == 4 &&
            std::memcmp(head, kPackAppendMarker, 4) == 0;
  PlatFileClose(f);
  return ok ? 1 : 0;
}

u8* PackReadAppendedPreview(u32* size) {
  *size = 0;
  PlatFile* f = PlatFileOpenReadNative(AppendedFile());
  if (!f) return nullptr;
  u8 head[PACK_APPENDED_HEADER];
  u8* bmp = nullptr;
  i64 file_size = PlatFileSize(f);
  if (s_AppendedSize > 4 && PlatFileSeek(f, s_AppendedSize) == 0 && PlatFileRead(f, head, sizeof head) == sizeof head &&
      std::memcmp(head, kPackAppendMarker, 4) == 0) {
    u32 n = Le32(head + 8);
    // The size word is checked against the file before anything is allocated for it.
    u64 end = static_cast<u64>(s_AppendedSize) + PACK_APPENDED_HEADER + n;
    if (n != 0 && file_size > 0 && end <= static_cast<u64>(file_size)) {
      bmp = static_cast<u8*>(std::malloc(n));
      if (bmp && PlatFileRead(f, bmp, n) == n) {
        *size = n;
      } else {
        std::free(bmp);
        bmp = nullptr;
      }
    }
  }
  PlatFileClose(f);
  return bmp;
}

i32 PackDetectAppended() {
  s_AppendedFile = ExeNative();
  s_AppendedSize = PackAppendedBaseSize();
  s_AppendedPackOffset = 0;
  u64 size = PackReadAppendedTrailer();
  if (s_AppendedSize == 0) {
    ErrMessageBoxF(nullptr, "FS");
    return -1;
  }
  if (s_AppendedSize == 4 || size == 0 || size == s_AppendedSize) return 0;
  if (!PackCheckAppendedMarker()) return 0;
  g_AppendedBase = static_cast<u64>(s_AppendedSize) + s_AppendedPackOffset;
  g_ScriptsPacked = 1;
  g_DataInExe = 1;
  return 1;
}

// ---- Scrambling ------------------------------------------------------------------------------

i32 PackScrambleSetup() {
  PackNameLengthTableBuild(g_NameLengthTable);
  u32 crc = MemCrc32("Vorlik", 6);
  g_ScrambleKey[0] = static_cast<u8>(crc >> 24);
  g_ScrambleKey[1] = static_cast<u8>(crc >> 16);
  g_ScrambleKey[2] = static_cast<u8>(crc >> 8);
  g_ScrambleKey[3] = static_cast<u8>(crc);
  return 0;
}

// ---- Finding packs ---------------------------------------------------------------------------

i32 PackAddName(const char* path) {
  PackDirectory& d = g_PackDirectory;
  // The limit is checked before the slot is written: the list has room for 100 names only.
  if (d.pack_count >= PACK_MAX_PACKS) {
    ErrRaiseF(ERR_PACK_TOO_MANY_PACKS, 1, static_cast<i32>(PACK_MAX_PACKS));
    return -1;
  }
  char* copy = strdup(path);
  if (!copy) {
    ErrRaise(ERR_OUT_OF_MEMORY, 1);
    return -1;
  }
  auto drop = [&]() {
    std::free(copy);
    d.names[d.pack_count] = nullptr;
  };
  d.names[d.pack_count] = copy;
  PackHandle h;
  if (PackOpen(&h, PackFullPath(path).c_str())) {
    drop();
    ErrRaiseF(ERR_PACK_OPEN, 1, path);
    return -2;
  }
  u8 magic[4];
  u32 version = 0, count = 0;
  if (PackRead(&h, magic, 4) || std::memcmp(magic, kPackMagic, 4) != 0) {
    // Not a pack: not counted, and its slot goes to the next one.
    PackClose(&h);
    drop();
    return 0;
  }
  bool whole = PackReadU32(&h, &version) == 0 && PackReadU32(&h, &count) == 0;
  const u64 avail = PackSizeFromBase(&h);
  PackClose(&h);
  if (!whole || (version < PACK_VERSION_MIN && version != PACK_VERSION_CURRENT)) {
    drop();
    ErrRaiseF(ERR_PACK_VERSION, 1, path);
    return -1;
  }
  if (static_cast<u64>(d.entry_count) + count > PACK_MAX_ENTRIES) {
    drop();
    ErrRaiseF(ERR_PACK_TOO_MANY_ENTRIES, 1, static_cast<i32>(PACK_MAX_ENTRIES));
    return -1;
  }
  d.entry_count += static_cast<i32>(count);
  d.pack_entries[d.pack_count] = count;
  s_PackRoom[d.pack_count] = avail > PACK_HEADER_SIZE ? (avail - PACK_HEADER_SIZE) / PACK_RECORD_FIXED : 0;
  d.pack_count++;
  return 0;
}

// "update1.zpf" to "update9.zpf": the slot number, else 0.
static int UpdateSlot(const char* file_name) {
  for (int i = 1; i <= 9; i++) {
    char want[16];
    std::snprintf(want, sizeof want, "update%d.zpf", i);
    if (StrEqualNoCaseSjis(file_name, want)) return i;
  }
  return 0;
}

i32 PackFindFiles(i32 max_depth, const char* start) {
  struct Folder {
    std::string path;
    i32 depth;
  };
  std::vector<Folder> folders{{start, 1}};
  std::vector<PlatDirEntry> entries;
  for (size_t i = 0; i < folders.size(); i++) {
    Folder cur = folders[i];
    if (PlatFileList(cur.path.c_str(), &entries) != 0) continue;
    for (const PlatDirEntry& e : entries) {
      if (!e.folder && StrEndsWith(e.name.c_str(), ".zpf")) {
        std::string path = cur.path + "\\" + e.name;
        StrLowerSjis(path.data());
        if (int slot = UpdateSlot(e.name.c_str())) {
          std::free(g_PackDirectory.update_slots[slot]);
          g_PackDirectory.update_slots[slot] = strdup(path.c_str());
          if (!g_PackDirectory.update_slots[slot]) {
            ErrRaise(ERR_OUT_OF_MEMORY, 1);
            return -1;
          }
        } else if (PackAddName(path.c_str()) != 0) {
          return -1;
        }
      } else if (e.folder && StrEqualNoCaseSjis(e.name.c_str(), "pac") && cur.depth <= max_depth) {
        if (folders.size() >= PACK_FIND_MAX_FOLDERS) {
          ErrRaise(ERR_PACK_TOO_MANY_FOLDERS, 1);
          return -1;
        }
        if (cur.depth + 1 >= PACK_FIND_MAX_DEPTH) {
          ErrRaise(ERR_PACK_FOLDERS_TOO_DEEP, 1);
          return -1;
        }
        folders.push_back({cur.path + "\\" + e.name, cur.depth + 1});
      }
    }
  }
  return 0;
}

// ---- The scan --------------------------------------------------------------------------------

static i32 ScanFailed() {
  static const std::string text = PlatUtf8ToSjis("パックファイルの調査に失敗しました。");
  ErrMessageBoxF("", text.c_str());
  return -1;
}

static bool IsUpdatePack(u32 p) {
  char file[512];
  StrFileNamePartSjis(file, sizeof file, g_PackDirectory.names[p]);
  return UpdateSlot(file) != 0;
}

// State of one scan: the decoded names (for the error text), the hashes seen so far (for the
// duplicate flag) and the live entry of each name, folded as the name comparison folds it, so a
// duplicate is settled in constant time however many entries share a hash.
struct ScanState {
  std::vector<std::string> names;
  std::unordered_set<u32> hashes_seen;
  std::unordered_map<std::string, u32> by_name;
  u32 next = 0;
};

// An entry's hash and name as the case-insensitive comparison sees it (up to its first NUL, Latin
// letters lower-cased, double-byte characters as they are): two entries are duplicates when
// their keys are equal.
static std::string EntryKey(u32 hash, const std::string& name) {
  std::string key(name.c_str());
  StrLowerSjis(key.data());
  key.push_back('\0');
  key.append(reinterpret_cast<const char*>(&hash), sizeof hash);
  return key;
}

// Entry e was just read: an earlier entry of the same name is a duplicate, refused unless e comes
// from an update pack, which supersedes it. May throw std::bad_alloc (caught by the scan).
static i32 SettleDuplicates(ScanState& s, u32 e, u32 p) {
  PackDirectory& d = g_PackDirectory;
  const u32 h = d.hashes[e];
  if (!s.hashes_seen.insert(h).second) d.duplicates = 1;
  auto [it, fresh] = s.by_name.try_emplace(EntryKey(h, s.names[e]), e);
  if (fresh) return 0;
  const u32 j = it->second;
  if (!IsUpdatePack(p)) {
    ErrRaiseF(ERR_PACK_DUPLICATE, 0, s.names[e]);
    return -1;
  }
  // Superseded: its hash becomes one that its own name never has.
  const u32 replaced = h == 0 ? 1 : 0;
  d.hashes[j] = replaced;
  if (!s.hashes_seen.insert(replaced).second) d.duplicates = 1;
  it->second = e;
  return 0;
}

static i32 ScanPack(ScanState& s, u32 p) {
  PackDirectory& d = g_PackDirectory;
  // The kept handle comes under watch first, so that the table read below may be kept.
  PackHandle kept;
  u64 kept_size = 0, serial = 0;
  if (PackKeptOpen(p, &kept, &kept_size, &serial)) serial = 0;
  PackHandle h;
  if (PackOpenIndex(&h, p)) {
    ErrRaiseF(ERR_PACK_OPEN, 1, d.names[p]);
    return -1;
  }
  u64 avail = PackSizeFromBase(&h);
  u32 count = 0, table_size = 0;
  if (PackSeek(&h, 8) || PackReadU32(&h, &count) || PackReadU32(&h, &table_size) || count != d.pack_entries[p] ||
      avail < PACK_HEADER_SIZE || table_size > avail - PACK_HEADER_SIZE || count > d.hashes.size() - s.next) {
    PackClose(&h);
    return ScanFailed();
  }
  std::vector<u8> table;
  try {
    table.resize(table_size);
  } catch (const std::bad_alloc&) {
    PackClose(&h);
    ErrRaise(ERR_OUT_OF_MEMORY, 1);
    return -1;
  }
  bool read = PackSeek(&h, PACK_HEADER_SIZE) == 0 && PackRead(&h, table.data(), table_size) == 0;
  if (read && h.base == kept.base) KeepTable(p, serial, h.file, table);
  PackClose(&h);
  if (!read) return ScanFailed();
  d.pack_table_size[p] = table_size;

  size_t q = 0;
  for (u32 k = 0; k < count; k++) {
    if (q + 5 > table_size) return ScanFailed();
    u32 len = g_NameLengthTable[255 - table[q + 4]];
    if (q + PACK_RECORD_FIXED + len > table_size || PACK_HEADER_SIZE + q + 4 > UINT32_MAX) return ScanFailed();
    u32 e = s.next++;
    d.hashes[e] = Le32(&table[q]);
    d.packs[e] = p;
    d.positions[e] = static_cast<u32>(PACK_HEADER_SIZE + q + 4);
    std::string name(len, '\0');
    for (u32 i = 0; i < len; i++) name[i] = static_cast<char>(255 - table[q + 5 + i]);
    if (NameEquals(name, "chbin\\zpcfg.zbn")) g_ScriptsPacked = 1;
    s.names[e] = std::move(name);
    if (SettleDuplicates(s, e, p)) return -1;
    q += PACK_RECORD_FIXED + len;
  }
  return 0;
}

static void FreeNames() {
  CloseKept();
  PackDirectory& d = g_PackDirectory;
  for (char*& n : d.names) {
    std::free(n);
    n = nullptr;
  }
  for (char*& n : d.update_slots) {
    std::free(n);
    n = nullptr;
  }
}

i32 PackScanAll() {
  PackDirectory& d = g_PackDirectory;
  FreeNames();
  d.pack_count = 0;
  d.entry_count = 0;
  d.duplicates = 0;
  d.hashes.clear();
  d.packs.clear();
  d.positions.clear();
  if (!g_DataInExe) {
    if (PackFindFiles(1, ".") != 0) return -1;
  } else if (PackAddName(g_ExePath[0] ? g_ExePath : "zephra") != 0) {
    return -1;
  }
  for (int i = 1; i < PACK_UPDATE_SLOTS; i++)
    if (d.update_slots[i] && PackAddName(d.update_slots[i]) != 0) return -1;

  // Room for the entries each pack's file can hold at most: a count the file cannot hold fails
  // that pack's scan either way, without the room it claims being made first.
  size_t room = 0;
  for (i32 p = 0; p < d.pack_count; p++) room += std::min<u64>(d.pack_entries[p], s_PackRoom[p]);
  ScanState s;
  try {
    d.hashes.assign(room, 0);
    d.packs.assign(room, 0);
    d.positions.assign(room, 0);
    s.names.resize(room);
    s.by_name.reserve(room);
    s.hashes_seen.reserve(room);
    for (u32 p = 0; p < static_cast<u32>(d.pack_count); p++)
      if (ScanPack(s, p) != 0) return -1;
  } catch (const std::bad_alloc&) {
    ErrRaise(ERR_OUT_OF_MEMORY, 1);
    return -1;
  }
  if (d.entry_count > 0) PackSortByHash(0, d.entry_count - 1);
  return 0;
}

// A comparison sort that cannot degrade on crafted hashes (a plain quicksort would take 10^10
// steps on a hostile table); equal hashes keep their order of reading.
void PackSortByHash(i32 first, i32 last) {
  PackDirectory& d = g_PackDirectory;
  if (first < 0 || last >= d.entry_count || first >= last) return;
  std::vector<u32> order(static_cast<size_t>(last - first + 1));
  for (size_t i = 0; i < order.size(); i++) order[i] = static_cast<u32>(first) + static_cast<u32>(i);
  std::stable_sort(order.begin(), order.end(), [&](u32 a, u32 b) { return d.hashes[a] < d.hashes[b]; });
  std::vector<u32> hashes(order.size()), packs(order.size()), positions(order.size());
  for (size_t i = 0; i < order.size(); i++) {
    hashes[i] = d.hashes[order[i]];
    packs[i] = d.packs[order[i]];
    positions[i] = d.positions[order[i]];
  }
  std::copy(hashes.begin(), hashes.end(), d.hashes.begin() + first);
  std::copy(packs.begin(), packs.end(), d.packs.begin() + first);
  std::copy(positions.begin(), positions.end(), d.positions.begin() + first);
}

// ---- Lookup ----------------------------------------------------------------------------------

i32 PackFindInArchives(PackLookup* lookup, const char* name) {
  const PackDirectory& d = g_PackDirectory;
  // Entries are hashed by their lower-cased names; the name comparison below ignores case too.
  // The usual short name is lower-cased on the stack.
  const size_t name_len = std::strlen(name);
  char small[256];
  std::string big;
  char* lower = small;
  if (name_len < sizeof small) {
    std::memcpy(small, name, name_len + 1);
  } else {
    big = name;
    lower = big.data();
  }
  StrLowerSjis(lower);
  u32 h = HashMurmur2(lower, name_len, 0);
  // The directory is sorted by hash: the first match in directory order is the first of its run.
  // Name hashes spread evenly, so the search starts where h would lie in an even spread and
  // widens by doubling steps until it brackets h (a table of equal hashes costs only log n).
  size_t first = 0;
  if (const size_t n = d.hashes.size(); n > 0) {
    const u32* a = d.hashes.data();
    const size_t guess = static_cast<size_t>((static_cast<u64>(h) * n) >> 32);
    // The match is usually at the guess: its pack and position are fetched while its hash is.
    if (guess < d.packs.size() && guess < d.positions.size()) {
      __builtin_prefetch(d.packs.data() + guess);
      __builtin_prefetch(d.positions.data() + guess);
    }
    size_t lo = 0, hi = 0;  // the first hash >= h lies in [lo, hi]; hi == n or a[hi] >= h
    if (a[guess] < h) {
      lo = hi = guess + 1;
      for (size_t step = 1; hi < n && a[hi] < h; step *= 2) {
        lo = hi + 1;
        hi = n - lo > step ? lo + step : n;
      }
    } else {
      lo = hi = guess;
      for (size_t step = 1; lo > 0 && a[lo - 1] >= h; step *= 2) {
        hi = lo - 1;
        lo = hi > step ? hi - step : 0;
      }
    }
    first = static_cast<size_t>(std::lower_bound(a + lo, a + hi, h) - a);
  }
  for (size_t e = first; e < d.hashes.size() && d.hashes[e] == h; e++) {
    u32 p = d.packs[e];
    PackHandle hd;
    u64 avail = 0, serial = 0;
    const std::vector<u8>* table = nullptr;
    if (PackKeptOpen(p, &hd, &avail, &serial, &table)) return -2;
    // The record was checked by the scan; the file may have changed since, so check it again.
    // Its length code, name and type byte come in one read, with the tail that follows them (from
    // the kept table while the file is unchanged since the scan read it).
    u8 buffer[1 + 255 + 1 + PACK_RECORD_TAIL];
    const u8* record = buffer;
    size_t got = 0;
    const u64 at = static_cast<u64>(d.positions[e]) - PACK_HEADER_SIZE;
    if (table && d.positions[e] >= PACK_HEADER_SIZE && at < table->size()) {
      record = table->data() + at;
      got = std::min(sizeof buffer, static_cast<size_t>(table->size() - at));
    } else {
      got = PackReadAt(&hd, d.positions[e], buffer, sizeof buffer);
    }
    if (got < 1) return -2;
    u32 len = g_NameLengthTable[255 - record[0]];
    u64 record_end = static_cast<u64>(d.positions[e]) - 4 + PACK_RECORD_FIXED + len;
    if (record_end > PACK_HEADER_SIZE + static_cast<u64>(d.pack_table_size[p]) || got < 1 + static_cast<size_t>(len))
      return -2;
    // The stored name, decoded, must be the name whole (no NUL inside it).
    char stored[256];
    bool nul = false;
    for (u32 i = 0; i < len; i++) {
      stored[i] = static_cast<char>(255 - record[1 + i]);
      nul = nul || stored[i] == '\0';
    }
    stored[len] = '\0';
    if (nul || name_len != len || !StrEqualNoCaseSjis(stored, name)) continue;
    if (got < 2 + static_cast<size_t>(len)) return -2;
    lookup->type = record[1 + len];
    lookup->position = static_cast<u64>(d.positions[e]) + 2 + len;
    lookup->entry = static_cast<u32>(e);
    lookup->pack = p;
    lookup->source = PACK_SOURCE_ARCHIVE;
    lookup->kept = 0;
    if (serial != 0 && got >= 2 + static_cast<size_t>(len) + PACK_RECORD_TAIL) {
      std::memcpy(lookup->tail, record + 2 + len, PACK_RECORD_TAIL);
      lookup->kept = serial;
    }
    return PACK_SOURCE_ARCHIVE;
  }
  return 0;
}

// ---- Reset -----------------------------------------------------------------------------------

void PackReset() {
  PackDirectory& d = g_PackDirectory;
  FreeNames();
  d.pack_count = 0;
  d.entry_count = 0;
  d.duplicates = 0;
  d.hashes.clear();
  d.packs.clear();
  d.positions.clear();
  std::memset(d.pack_entries, 0, sizeof d.pack_entries);
  std::memset(d.pack_table_size, 0, sizeof d.pack_table_size);
  std::memset(s_PackRoom, 0, sizeof s_PackRoom);
  g_DataInExe = 0;
  g_ScriptsPacked = 0;
  g_AppendedBase = 0;
  std::memset(g_NameLengthTable, 0, sizeof g_NameLengthTable);
  std::memset(g_ScrambleKey, 0, sizeof g_ScrambleKey);
  g_PackExeNative.clear();
  s_AppendedSize = 0;
  s_AppendedPackOffset = 0;
  s_AppendedFile.clear();
  PackMemoryListsFree();
  std::free(g_PackLinkedFiles);
  std::free(g_PackLinkedBlock);
  g_PackLinkedFiles = nullptr;
  g_PackLinkedBlock = nullptr;
  g_PackLinkedCount = 0;
}
