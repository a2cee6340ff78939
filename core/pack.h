// File sources and pack archives. Every file the engine loads by name is found through four
// sources (memory lists, compiler hand-over, loose files, pack archives; packs before loose files
// when the data is appended to the executable) into a PackLookup, and read by the reader of its
// source into one heap block. The pack formats below are shared with the kit's writers, so the
// reader and the writer cannot drift.
#pragma once
#include <string>
#include <vector>

#include "common/types.h"

struct PlatFile;

// ---- Formats ---------------------------------------------------------------------------------

// Pack file: "ZPF\0", version, entry count, entry-table size, 16 bytes not read, the table at 32,
// then each entry's stored bytes followed by its recovery block. Little-endian throughout.
enum {
  PACK_HEADER_SIZE = 32,
  PACK_VERSION_MIN = 234,
  PACK_VERSION_CURRENT = 493,
  PACK_MAX_PACKS = 100,
  PACK_MAX_ENTRIES = 100000,
  PACK_UPDATE_SLOTS = 10,   // slots 1 to 9 are used
  PACK_RECORD_FIXED = 27,   // an entry record is 27 + L bytes
  PACK_RECORD_TAIL = 21,    // kind, raw size, stored size, data offset, data hash
  PACK_PARITY_SIZE = 1024,  // recovery block: the only parity size a repair accepts
  PACK_KIND_STORED = 0,
  PACK_KIND_ZLIB = 1,
  PACK_FIND_MAX_FOLDERS = 1000,
  PACK_FIND_MAX_DEPTH = 32,
  PACK_APPENDED_HEADER = 16,  // "ZPER", pack offset, preview size, 4 bytes not read
};
extern const char kPackMagic[4];         // "ZPF\0"
extern const char kPackAppendMarker[4];  // "ZPER"

// The twelve exchanged pairs of the name-length permutation; the runtime and the kit build the
// table from this one definition.
extern const u8 g_PackNameLengthPairs[12][2];
// Identity with the twelve pairs exchanged (an involution: applying it twice gives the identity).
void PackNameLengthTableBuild(u8 table[256]);

// Type codes of the file sources.
enum {
  PACK_TYPE_UNKNOWN = 0,
  PACK_TYPE_BMP = 1,
  PACK_TYPE_PNG = 2,
  PACK_TYPE_JPG = 3,
  PACK_TYPE_GIF = 4,
  PACK_TYPE_WAV = 5,
  PACK_TYPE_OGG = 6,
  PACK_TYPE_PSD = 7,
  PACK_TYPE_ZCG = 8,
  PACK_TYPE_PSB = 9,
};

// ---- File sources ----------------------------------------------------------------------------

enum {
  PACK_SOURCE_NONE = 0,
  PACK_SOURCE_LOOSE = 1,
  PACK_SOURCE_ARCHIVE = 2,
  PACK_SOURCE_LINKED = 3,
  PACK_SOURCE_MEMORY = 4
};
// Media kinds of PackResolveMediaFile.
enum { PACK_MEDIA_IMAGE = 0, PACK_MEDIA_SOUND = 1, PACK_MEDIA_EMOTE = 9 };

// Filled by a lookup, completed by a reader. data is a malloc'd block the caller frees.
struct PackLookup {
  u32 size;
  u8* data;
  u8 source;
  u8 type;
  u32 entry;
  u32 pack;
  u64 position;  // relative to the pack's base: the byte after the entry's type byte
  u32 handover;
  u32 list, item;
  // Archive lookups under watch: the entry's record tail as the lookup read it, and the kept
  // handle it read it from (0: none, the reader reads the record again).
  u64 kept;
  u8 tail[PACK_RECORD_TAIL];
};

// Preload lists, filled by the script's preload commands.
enum { PACK_MEMLIST_COUNT = 4, PACK_MEMLIST_ITEMS = 512 };
struct PackMemoryItem {
  char* name;  // heap copy
  u8 type;
  u32 size;
  u8* data;  // heap block
};
struct PackMemoryList {
  i32 count;
  u64 total;  // bytes held by the list's items
  PackMemoryItem items[PACK_MEMLIST_ITEMS];
};
extern PackMemoryList g_PackMemoryLists[PACK_MEMLIST_COUNT];

// Files handed over by the script compiler: one heap block, records pointing into it. Empty
// until the compiler link fills it.
struct PackLinkedFile {
  const char* name;
  u32 size;
  const u8* data;
};
extern i32 g_PackLinkedCount;
extern PackLinkedFile* g_PackLinkedFiles;
extern u8* g_PackLinkedBlock;

u8 PackTypeFromExtension(const char* name);
i32 PackFindInMemoryLists(PackLookup* lookup, const char* name);  // 4 or 0
i32 PackFindInLinkedFiles(PackLookup* lookup, const char* name);  // 3 or 0
i32 PackFindOnDisk(const char* name);                             // 1 or 0
i32 PackFindInArchives(PackLookup* lookup, const char* name);     // 2, 0, or -2: a pack would not open
// The first hit of the sources in order: 4, 3, 1 or 2, 0, or -2. A loose file gets the type of
// its name when set_type is 1.
i32 PackFindAnySource(PackLookup* lookup, const char* name, i32 set_type);
// Normalises a script's media name into out (lower-cased, "\" separators, "." and ".." folded)
// and finds it, probing the project's extension order when it carries none. 0 found, 1 not
// found, -1 failure. out holds the last name tried.
i32 PackResolveMediaFile(PackLookup* lookup, i32 kind, const char* name, char* out, size_t out_size);
// The name folding of PackResolveMediaFile: "\" to "/", object-path folding of "." and ".."
// against an empty base, lower-cased, "/" back to "\". Blanks are kept.
std::string PackNormaliseName(const char* name);

// Readers: 0, -3 when nothing could be read, -2 when the data is damaged. Each raises its error.
// A failed reader frees its block and leaves data null and size 0.
i32 PackReadLooseFile(PackLookup* lookup, const char* name);
i32 PackReadEntry(PackLookup* lookup, const char* name);
i32 PackReadFromLinkedFile(PackLookup* lookup, const char* name);
i32 PackReadFromMemoryList(PackLookup* lookup, const char* name);
// The reader for lookup->source; -3 for a lookup that found nothing.
i32 PackReadBySource(PackLookup* lookup, const char* name);
// Finds a name through the four sources and reads it whole into a malloc'd block the caller
// frees: 0, or -1 when it is found nowhere (nothing reported) or its reader failed (reported).
i32 PackReadWholeFile(const char* name, u8** data, u32* size);

// ---- Pack archives ---------------------------------------------------------------------------

// The pack directory: every entry of every pack, sorted by name hash. A superseded duplicate
// holds 0 or 1 instead of its hash (never its own), so lookups pass over it.
struct PackDirectory {
  char* names[PACK_MAX_PACKS];  // heap copies, lower-cased, relative to the game folder
  i32 pack_count;
  i32 entry_count;
  std::vector<u32> hashes;
  std::vector<u32> packs;
  std::vector<u32> positions;  // from the pack's base, of the entry's length code
  u8 duplicates;
  char* update_slots[PACK_UPDATE_SLOTS];
  u32 pack_entries[PACK_MAX_PACKS];     // entry count of each pack as counted by PackAddName
  u32 pack_table_size[PACK_MAX_PACKS];  // its entry-table size, as the scan checked it
};
extern PackDirectory g_PackDirectory;

extern u8 g_DataInExe;
extern u8 g_ScriptsPacked;
extern u64 g_AppendedBase;
extern u8 g_NameLengthTable[256];
extern u8 g_ScrambleKey[4];
// Native path of the file that may carry appended data: the standalone game being run. Empty:
// the running executable.
extern std::string g_PackExeNative;

i32 PackDetectAppended();       // -1 (the run ends), 0 nothing appended, 1 appended
i32 PackSelfIsStandalone();     // 1 when the running program carries appended data itself
u32 PackAppendedBaseSize();     // A, or 0 when the resource is missing
u64 PackReadAppendedTrailer();  // the executable's file size (0 when it will not open)
i32 PackCheckAppendedMarker();  // 1 when "ZPER" stands at A
// The screen saver's preview bitmap stored behind the appended-data header: a heap copy (the
// caller frees it) and its size, or null when there is none or it does not fit in the file.
u8* PackReadAppendedPreview(u32* size);
i32 PackScrambleSetup();
i32 PackScanAll();
i32 PackFindFiles(i32 max_depth, const char* start);
i32 PackAddName(const char* path);  // 0, -1 or -2
void PackSortByHash(i32 first, i32 last);

// Pack file access relative to a base: the appended pack inside the executable, or 0.
struct PackHandle {
  PlatFile* file;
  u64 base;
};
i32 PackOpen(PackHandle* h, const char* path);  // 0, or -1 when it will not open
// Opens pack p of the directory by its name and the folder rule; 0 or -1.
i32 PackOpenIndex(PackHandle* h, u32 p);
// Whole reads: 0, or -1 on a short read.
i32 PackRead(PackHandle* h, void* buf, size_t n);
i32 PackReadU8(PackHandle* h, u8* v);
i32 PackReadU32(PackHandle* h, u32* v);
i32 PackReadU64(PackHandle* h, u64* v);
i32 PackSeek(PackHandle* h, u64 position);
u64 PackTell(PackHandle* h);
// Size of the pack's data from its base (what is readable), 0 when unknown.
u64 PackSizeFromBase(PackHandle* h);
void PackClose(PackHandle* h);

// Pack p of the directory for reading entries: opened on first use and kept open until the
// directory is rebuilt or reset, so a lookup or a read costs no open. *h gets the shared handle
// (read it only with PackReadAt, never close it) and *size what is readable from its base, as
// found when it was opened. 0, or -1 when the pack will not open.
// *serial (when given) names the handle while it stays checked under the current change count,
// 0 when it is checked at every use.
// *table (when given) gets the pack's entry table as the scan read it (offsets from the end of
// the header) while the file is known unchanged since, else null.
i32 PackKeptOpen(u32 p, PackHandle* h, u64* size, u64* serial = nullptr, const std::vector<u8>** table = nullptr);
// The same handle and size again, with no look at the file, while pack p's kept handle is still
// the one serial names; 0, or -1 when it is not (open it again then).
i32 PackKeptAgain(u32 p, u64 serial, PackHandle* h, u64* size);
// Up to n bytes at a position from the handle's base, safe from several threads on one handle;
// returns the number read.
size_t PackReadAt(const PackHandle* h, u64 position, void* buf, size_t n);

// zlib's uncompress, result for result (return code, *dest_len and the bytes written), over an
// inflater this thread keeps, so a read sets none up.
int PackUncompress(u8* dest, unsigned long* dest_len, const u8* source, unsigned long source_len);

// Checks the n stored bytes against the data hash and repairs one damaged 1024-byte block from
// the recovery block at the handle's position. 0 intact, 1 repaired, -1 not repairable.
i32 PackVerifyRepair(PackHandle* h, u8* data, u32 n, u32 data_hash);

// Tests and shutdown: free the directory, the lists and the hand-over records; reset the flags.
void PackReset();
void PackMemoryListsFree();
