// Files and folders. Game-data names arrive as Shift-JIS with "\" (or "/") separators and are
// compared without regard to case, as on the file system the games were made for: the resolver
// matches each component against the real folder listing (cached per folder, refreshed when the
// folder changes) and yields the native UTF-8 path. A "\" that is the trail byte of a
// double-byte character never separates components. Files are written atomically.
#pragma once
#include <string>
#include <vector>

#include "common/types.h"

// ---- Name resolution -------------------------------------------------------------------------
// Names that start with a mapped Windows-style folder prefix (Shift-JIS, compared without regard
// to case, whole components) resolve below its native folder; names that start with a separator
// (or a drive "x:") resolve from the root; other names from the current folder. "." and ".."
// components and empty components fold away. A component found in no listing keeps its own
// spelling (converted to UTF-8), so the result also names a file that is about to be created.
std::string PlatFileResolve(const char* sjis_name);
// Maps a Windows-style folder (for example the game folder as the engine spells it) to a native
// folder. A later mapping of the same prefix replaces the earlier one. A relative prefix
// ("savech") maps the relative names that start with it; absolute ones map absolute names.
void PlatFileMapFolder(const char* sjis_prefix, const std::string& native_folder);
// Forgets the cached listings of one native folder (after writing into it).
void PlatFileForgetFolder(const std::string& native_folder);
// Tests: forget every mapping and cached listing.
void PlatFileReset();

// ---- Queries ---------------------------------------------------------------------------------
enum { PLAT_FILE_NONE = 0, PLAT_FILE_REGULAR = 1, PLAT_FILE_FOLDER = 2 };
// What a game-data name names: nothing, a file or a folder.
int PlatFileKind(const char* sjis_name);
int PlatFileKindNative(const std::string& native);

struct PlatDirEntry {
  std::string name;  // Shift-JIS
  bool folder;
};
// The entries of a folder without "." and "..", sorted without regard to case (as the folder
// listing of the original file system returns them). Returns 0, or -1 when the folder cannot be
// listed.
int PlatFileList(const char* sjis_folder, std::vector<PlatDirEntry>* out);

// ---- Reading ---------------------------------------------------------------------------------
struct PlatFile;
// Binary read-only handles; null when the file cannot be opened (or is a folder).
PlatFile* PlatFileOpenRead(const char* sjis_name);
PlatFile* PlatFileOpenReadNative(const std::string& native);
// Reads up to n bytes; returns the number read (short at the end of the file or on an error).
size_t PlatFileRead(PlatFile* f, void* buf, size_t n);
// Reads up to n bytes at an absolute position, leaving the handle's position alone, so several
// threads may read one handle this way at once (and only this way); returns the number read
// (short at the end of the file or on an error).
size_t PlatFileReadAt(PlatFile* f, u64 pos, void* buf, size_t n);
// Absolute position; 0 on success, -1 on failure.
int PlatFileSeek(PlatFile* f, u64 pos);
u64 PlatFileTell(PlatFile* f);
// Size of the open file, -1 when unknown.
i64 PlatFileSize(PlatFile* f);
// The open file's size, or -1 when unknown or when the file has been removed from its folder (its
// last name is gone, although the handle still reads it).
i64 PlatFileSizeIfLinked(PlatFile* f);
void PlatFileClose(PlatFile* f);

// ---- Change watch ----------------------------------------------------------------------------
// A count that moves whenever a watched file or folder may have changed since the last call (from
// the kernel's change notices, read without waiting); what was checked under one count stays as
// checked while the count is the same. 0 when changes cannot be watched: check every time.
u64 PlatFileChangeCount();
// One lookup made of several steps reads the change notices once: between PlatFileChangesBegin
// and PlatFileChangesEnd on one thread (nested pairs count once), the count stays the one read
// at the first step, unless this thread arms a watch meanwhile.
void PlatFileChangesBegin();
void PlatFileChangesEnd();
struct PlatFileChangesScope {
  PlatFileChangesScope() { PlatFileChangesBegin(); }
  ~PlatFileChangesScope() { PlatFileChangesEnd(); }
  PlatFileChangesScope(const PlatFileChangesScope&) = delete;
  PlatFileChangesScope& operator=(const PlatFileChangesScope&) = delete;
};
// Puts the file f has open under watch (its data, attributes, links and name), by its game-data
// name, then reads the notices afresh: returns the count to check the file under (check it after
// this call: a change since moves the count), or 0 when it cannot be watched or the name no longer
// names f's file. *watch (when given) gets the watch's number for PlatFileWatchMoves.
u64 PlatFileWatchOpen(PlatFile* f, const char* sjis_name, int* watch = nullptr);
// A count that moves with every notice read so far for one watch (and with every lost queue):
// while it stays the same, the watched file is as it was.
u64 PlatFileWatchMoves(int watch);
// Whether two open files are the same file.
bool PlatFileSameFile(PlatFile* a, PlatFile* b);

// A whole file into a new malloc'd block (at least 1 byte, so an empty file still gets one; the
// caller frees it). Returns 0, -1 when it cannot be opened, -2 when out of memory, -3 on a short
// read.
int PlatFileReadAll(const char* sjis_name, u8** data, size_t* size);
int PlatFileReadAllNative(const std::string& native, std::vector<u8>* out);

// ---- Writing ---------------------------------------------------------------------------------
// Writes a temporary file beside the target, flushes it to disk and renames it into place, so a
// reader sees the old file or the new one, never a part. An existing target keeps its permission
// bits; a new one gets 0666 less the umask, or 0777 less the umask when executable. Returns 0, or
// -1 with errno saying why.
int PlatFileWriteAtomic(const char* sjis_name, const void* data, size_t n);
int PlatFileWriteAtomicNative(const std::string& native, const void* data, size_t n, bool executable = false);
// The calling thread's last failed atomic write or folder creation: its error number as the
// Windows C runtime numbers it (0 to 34 agree with Linux; the rest are translated where the
// runtime has the error) and the system's own text for it, in Shift-JIS.
struct PlatFileError {
  int crt_number;
  std::string text;
};
PlatFileError PlatFileLastError();
// Tests: the following atomic writes fail with error number errno_value once `bytes` bytes of
// their data are written (the temporary file is then removed); bytes < 0 ends it.
void PlatFileFailWritesAfter(i64 bytes, int errno_value);
// Creates a native folder and its missing parents; 0, or -1 with PlatFileLastError saying why
// (an empty name: ENOENT).
int PlatFolderCreateNative(const std::string& native);

// ---- Script file operations ------------------------------------------------------------------
// Game-data names, resolved as above (existing components found whatever their case).
// One folder level (its parent must exist); 0, or -1 (also when it exists already).
int PlatFolderCreate(const char* sjis_name);
// Removes an empty folder; 0 or -1.
int PlatFolderRemove(const char* sjis_name);
// Deletes a file (never a folder); 0 or -1.
int PlatFileDelete(const char* sjis_name);
// Copies a file over the target: read whole, then written atomically, so a file copied onto
// itself stays whole and an interrupted copy leaves the old target. 0 or -1.
int PlatFileCopy(const char* sjis_from, const char* sjis_to);
// Removes what killed writers left in a folder: temporary files of atomic writes and of the
// folder write test, whose names carry their writer's process id. Only this user's files whose
// writer is gone are removed, never a file that another running game is writing.
void PlatFolderRemoveLeftovers(const std::string& folder);
