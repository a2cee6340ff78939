// File helpers of the script commands: the preload lists (the memory-list file source), folder
// creation, existence through the file sources, the CSV splitter, the clipboard text cut and the
// registry read. The preload lists change only under g_EngineLock (the sound thread looks them
// up while it loads sounds); only the thread that runs scripts changes them, so it may read them
// without the lock.
#pragma once
#include <cstddef>

#include "common/types.h"
#include "core/pack.h"

enum {
  FILE_CSV_FIELD_MAX = 4095,  // bytes a CSV field keeps (the 4096-byte field buffer)
  FILE_CLIP_TEXT_MAX = 1024,  // bytes of clipboard text taken
  FILE_REG_BUF = 1024,        // the registry value buffer
  FILE_ASSOC_BUF = 264,       // the associated-program buffer
};

// Normalises a script's file name in place: lower-cased, every "/" turned into "\" (double-byte
// characters stepped over).
void FileNormaliseName(char* name);

// Adds the file a script names, resolved as an image or a sound (PACK_MEDIA_IMAGE or
// PACK_MEDIA_SOUND), to preload list `list` (0 to 3). A file the list holds already moves to its
// end without being read again; a full list (512 items) drops its first item. 0 (also when
// there is nothing to load), or -1 when the name cannot be resolved or read (the reader reports).
i32 FileMemListPreload(i32 list, const char* name, i32 kind);
// Takes item `item` out of list `list`, closing the gap, and hands it back (name and data now
// belong to the caller); its size leaves the list's total. g_EngineLock must be held.
PackMemoryItem FileMemListRemove(i32 list, i32 item);

// Creates every level of a folder path: the part before each "\" that is not the trail byte of a
// double-byte character. Failures are ignored.
void FileMakeFolders(const char* path);
// 1 when the name is found through the four file sources (or, with folder, names a folder).
i32 FileExistsAnySource(const char* name, bool folder);

// Splits CSV text (size bytes, read in full; the command appends CR LF first) into the strings
// it stores, calling store(ctx, index, text, len) for each in order; a store that returns false
// ends the walk early. A field keeps at most FILE_CSV_FIELD_MAX bytes, cut at a whole character;
// the rest of that field is skipped. Returns the number of strings (the count query's value is
// that number + 1). store may be null to count only.
typedef bool (*FileCsvStoreFn)(void* ctx, i64 index, const char* text, size_t len);
i64 FileCsvSplit(const u8* text, size_t size, FileCsvStoreFn store, void* ctx);

// The clipboard text as command 6 takes it: at most FILE_CLIP_TEXT_MAX bytes of the text, bytes
// below 0x20 dropped, a double-byte pair taken whole or (when it would pass the limit, or lacks
// its trail byte) not at all. out holds FILE_CLIP_TEXT_MAX + 1 bytes. Returns the length.
size_t FileClipboardTextCut(const char* text, size_t len, char* out);

// Reads one registry value (value null: the key's default) as text into buf (FILE_REG_BUF
// bytes): the data up to its first zero byte, ending inside the buffer. root is a predefined key
// name such as "HKEY_CURRENT_USER". 0, or -1 when the key or value is missing or its data does
// not fit the buffer.
i32 RegReadString(const char* root, const char* subkey, const char* value, char* buf);
