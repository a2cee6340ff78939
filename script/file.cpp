// File helpers of the script commands. The CSV walk and the clipboard cut are bounded by the
// bytes they are given, never by a terminator, and copy into their fixed buffers only whole
// characters that fit.
#include "script/file.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/sjis.h"
#include "core/err.h"
#include "core/sys.h"
#include "platform/desktop.h"
#include "platform/file.h"

void FileNormaliseName(char* name) {
  StrLowerSjis(name);
  StrReplaceCharSjis(name, '/', '\\');
}

// ---- Preload lists ---------------------------------------------------------------------------

PackMemoryItem FileMemListRemove(i32 list, i32 item) {
  PackMemoryList& l = g_PackMemoryLists[list];
  if (item < 0 || item >= l.count) return PackMemoryItem{};
  PackMemoryItem it = l.items[item];
  std::memmove(&l.items[item], &l.items[item + 1], sizeof(PackMemoryItem) * static_cast<size_t>(l.count - item - 1));
  l.count--;
  l.items[l.count] = PackMemoryItem{};
  l.total -= it.size;
  return it;
}

i32 FileMemListPreload(i32 list, const char* name, i32 kind) {
  if (list < 0 || list >= PACK_MEMLIST_COUNT || !name) return -1;
  PackLookup lookup{};
  // The resolved name with any extension tried: never cut, so it cannot name another file.
  std::vector<char> resolved(std::strlen(name) + 16);
  const i32 r = PackResolveMediaFile(&lookup, kind, name, resolved.data(), resolved.size());
  if (r < 0) return -1;
  if (r > 0) return 0;
  PackMemoryList& l = g_PackMemoryLists[list];
  if (lookup.source == PACK_SOURCE_MEMORY && lookup.list == static_cast<u32>(list)) {
    EngineLockGuard lock;
    PackMemoryItem it = FileMemListRemove(list, static_cast<i32>(lookup.item));
    l.items[l.count++] = it;
    l.total += it.size;
    return 0;
  }
  // Read before the lock is taken: the sound thread must not wait for a file.
  if (PackReadBySource(&lookup, resolved.data()) != 0) return -1;
  char* copy = static_cast<char*>(std::malloc(std::strlen(resolved.data()) + 1));
  if (!copy) {
    std::free(lookup.data);
    ErrRaise(ERR_OUT_OF_MEMORY, 1);
    return -1;
  }
  std::strcpy(copy, resolved.data());
  const u8 type = lookup.type ? lookup.type : PackTypeFromExtension(copy);
  PackMemoryItem dropped{};
  {
    EngineLockGuard lock;
    if (l.count >= PACK_MEMLIST_ITEMS) dropped = FileMemListRemove(list, 0);
    l.items[l.count++] = PackMemoryItem{copy, type, lookup.size, lookup.data};
    l.total += lookup.size;
  }
  std::free(dropped.name);
  std::free(dropped.data);
  return 0;
}

// ---- Folders and existence -------------------------------------------------------------------

void FileMakeFolders(const char* path) {
  std::string prefix;
  for (const char* p = path; *p;) {
    const size_t n = SjisCharLen(p);
    if (n == 1 && *p == '\\' && !prefix.empty()) PlatFolderCreate(prefix.c_str());
    prefix.append(p, n);
    p += n;
  }
}

i32 FileExistsAnySource(const char* name, bool folder) {
  if (!name || !name[0]) return 0;
  if (folder) return PlatFileKind(name) == PLAT_FILE_FOLDER ? 1 : 0;
  PackLookup lookup{};
  return PackFindAnySource(&lookup, name, 0) > 0 ? 1 : 0;
}

// ---- CSV -------------------------------------------------------------------------------------

i64 FileCsvSplit(const u8* text, size_t size, FileCsvStoreFn store, void* ctx) {
  char field[FILE_CSV_FIELD_MAX + 1];
  size_t len = 0;
  bool started = false, dq = false, sq = false, line_comma = false, line_content = false, stop = false;
  bool full = false;  // the field's buffer is full: the rest of the field is skipped
  i64 stored = 0;
  auto emit = [&]() {
    if (!stop && store) stop = !store(ctx, stored, field, len);
    stored++;
    len = 0;
    started = full = false;
  };
  size_t i = 0;
  while (i < size) {
    const u8 c = text[i];
    if (c == '\r' || c == '\n') {
      i += c == '\r' && i + 1 < size && text[i + 1] == '\n' ? 2 : 1;
      if (!line_comma && !line_content) len = 0;  // blanks and quotes alone: one empty string
      if (line_comma || !line_content) emit();
      len = 0;
      started = full = dq = sq = line_comma = line_content = false;
      continue;
    }
    if (c == ',' && !dq && !sq) {
      emit();
      line_comma = true;
      i++;
      continue;
    }
    // A lead byte with its trail byte is one character (a trail byte is never a delimiter).
    const size_t n = SjisIsLead(c) && i + 1 < size && text[i + 1] >= 0x40 && text[i + 1] != 0x7F ? 2 : 1;
    if ((c == ' ' || c == '\t') && !started) {
      i++;
      continue;
    }
    started = true;
    if (c == '"') dq = !dq;
    else if (c == '\'') sq = !sq;
    else if (c != ' ' && c != '\t') line_content = true;
    if (!full && len + n <= FILE_CSV_FIELD_MAX) {
      std::memcpy(field + len, text + i, n);
      len += n;
    } else {
      full = true;
    }
    i += n;
  }
  return stored;
}

// ---- Clipboard -------------------------------------------------------------------------------

size_t FileClipboardTextCut(const char* text, size_t len, char* out) {
  size_t o = 0;
  const size_t limit = len < size_t{FILE_CLIP_TEXT_MAX} ? len : size_t{FILE_CLIP_TEXT_MAX};
  for (size_t i = 0; i < limit;) {
    const u8 c = static_cast<u8>(text[i]);
    if (SjisIsLead(c)) {
      if (i + 1 >= limit) break;  // its trail byte lies past the limit or the text
      out[o++] = text[i];
      out[o++] = text[i + 1];
      i += 2;
      continue;
    }
    if (c >= 0x20) out[o++] = text[i];
    i++;
  }
  out[o] = '\0';
  return o;
}

// ---- Registry --------------------------------------------------------------------------------

i32 RegReadString(const char* root, const char* subkey, const char* value, char* buf) {
  buf[0] = '\0';
  PlatRegValue v;
  if (PlatRegistryRead(root, subkey, value, &v) != 0) return -1;
  // RegQueryValueExA refuses data larger than the buffer.
  if (v.data.size() > FILE_REG_BUF) return -1;
  size_t n = 0;
  while (n < v.data.size() && v.data[n] != 0) n++;
  n = StrCutSjis(reinterpret_cast<const char*>(v.data.data()), n, FILE_REG_BUF - 1);
  std::memcpy(buf, v.data.data(), n);
  buf[n] = '\0';
  return 0;
}
