// The four file sources, media-name probing and the readers. A lookup only says where a name
// was found; its reader fills size and data with a fresh heap block, or frees what it allocated
// and leaves data null when it fails, so no caller ever holds a half-read block.
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/hash.h"
#include "common/sjis.h"
#include "core/config.h"
#include "core/err.h"
#include "core/obj.h"
#include "core/pack.h"
#include "platform/file.h"

PackMemoryList g_PackMemoryLists[PACK_MEMLIST_COUNT];
i32 g_PackLinkedCount = 0;
PackLinkedFile* g_PackLinkedFiles = nullptr;
u8* g_PackLinkedBlock = nullptr;

// ---- Names -----------------------------------------------------------------------------------

struct TypeRow {
  const char* ext;
  u8 type;
};
// Compared in this order.
static const TypeRow kTypeRows[] = {
    {".bmp", PACK_TYPE_BMP}, {".png", PACK_TYPE_PNG}, {".jpg", PACK_TYPE_JPG},
    {".gif", PACK_TYPE_GIF}, {".psd", PACK_TYPE_PSD}, {".zcg", PACK_TYPE_ZCG},
    {".psb", PACK_TYPE_PSB}, {".wav", PACK_TYPE_WAV}, {".ogg", PACK_TYPE_OGG},
};

u8 PackTypeFromExtension(const char* name) {
  for (const TypeRow& r : kTypeRows)
    if (StrEndsWith(name, r.ext)) return r.type;
  return PACK_TYPE_UNKNOWN;
}

std::string PackNormaliseName(const char* name) {
  std::string s = name ? name : "";
  StrReplaceCharSjis(s.data(), '\\', '/');
  // Folded as an object path against an empty base ("." and ".." components); file names may
  // hold blanks. The folded path is never longer than the path itself.
  std::vector<char> folded(s.size() + 2);
  if (ObjResolvePath(folded.data(), folded.size(), s.c_str(), "", 1) < 0) folded[0] = '\0';
  s = folded.data();
  StrLowerSjis(s.data());
  StrReplaceCharSjis(s.data(), '/', '\\');
  return s;
}

// ---- Lookups ---------------------------------------------------------------------------------

i32 PackFindInMemoryLists(PackLookup* lookup, const char* name) {
  for (u32 l = 0; l < PACK_MEMLIST_COUNT; l++) {
    const PackMemoryList& list = g_PackMemoryLists[l];
    i32 count = list.count < PACK_MEMLIST_ITEMS ? list.count : PACK_MEMLIST_ITEMS;
    for (i32 i = 0; i < count; i++) {
      const PackMemoryItem& it = list.items[i];
      if (!it.name || !StrEqualNoCaseSjis(it.name, name)) continue;
      lookup->source = PACK_SOURCE_MEMORY;
      lookup->list = l;
      lookup->item = static_cast<u32>(i);
      lookup->type = it.type;
      return PACK_SOURCE_MEMORY;
    }
  }
  return 0;
}

i32 PackFindInLinkedFiles(PackLookup* lookup, const char* name) {
  for (i32 i = 0; i < g_PackLinkedCount; i++) {
    if (!g_PackLinkedFiles[i].name || !StrEqualNoCaseSjis(g_PackLinkedFiles[i].name, name)) continue;
    lookup->source = PACK_SOURCE_LINKED;
    lookup->handover = static_cast<u32>(i);
    return PACK_SOURCE_LINKED;
  }
  return 0;
}

i32 PackFindOnDisk(const char* name) { return PlatFileKind(name) == PLAT_FILE_REGULAR ? 1 : 0; }

i32 PackFindAnySource(PackLookup* lookup, const char* name, i32 set_type) {
  PlatFileChangesScope changes;  // the loose probe and the packs see one reading of the changes
  lookup->source = PACK_SOURCE_NONE;
  lookup->type = PACK_TYPE_UNKNOWN;
  i32 r = PackFindInMemoryLists(lookup, name);
  if (r) return r;
  r = PackFindInLinkedFiles(lookup, name);
  if (r) return r;
  auto loose = [&]() -> i32 {
    if (!PackFindOnDisk(name)) return 0;
    lookup->source = PACK_SOURCE_LOOSE;
    if (set_type == 1) lookup->type = PackTypeFromExtension(name);
    return PACK_SOURCE_LOOSE;
  };
  if (g_DataInExe) {
    r = PackFindInArchives(lookup, name);
    return r ? r : loose();
  }
  r = loose();
  return r ? r : PackFindInArchives(lookup, name);
}

// One probe of an extension: the name with ext appended, through the four sources.
static i32 Probe(PackLookup* lookup, const std::string& base, const char* ext, char* out, size_t out_size) {
  std::string name = base + ext;
  StrCopySjis(out, out_size, name.c_str());
  return PackFindAnySource(lookup, name.c_str(), 1);
}

i32 PackResolveMediaFile(PackLookup* lookup, i32 kind, const char* name, char* out, size_t out_size) {
  PlatFileChangesScope changes;  // every extension probed against one reading of the changes
  std::string base = PackNormaliseName(name);
  StrCopySjis(out, out_size, base.c_str());
  static const char* const kImageExt[] = {".bmp", ".png", ".jpg", ".gif", ".psb"};
  static const char* const kSoundExt[] = {".wav", ".ogg"};
  bool has_ext = kind == PACK_MEDIA_EMOTE;
  if (kind == PACK_MEDIA_IMAGE)
    for (const char* e : kImageExt) has_ext = has_ext || StrEndsWith(base.c_str(), e);
  if (kind == PACK_MEDIA_SOUND)
    for (const char* e : kSoundExt) has_ext = has_ext || StrEndsWith(base.c_str(), e);
  if (has_ext) {
    i32 r = PackFindAnySource(lookup, base.c_str(), 1);
    if (r < 0) return -1;
    return lookup->source > 0 ? 0 : 1;
  }
  if (kind == PACK_MEDIA_IMAGE) {
    static const char* const kByCode[] = {nullptr, ".png", ".bmp", ".jpg", ".gif", ".psb"};
    for (u32 i = 0; i < 5; i++) {
      u8 code = g_CfgImageOrder[i];
      if (code < 1 || code > 5) continue;
      i32 r = Probe(lookup, base, kByCode[code], out, out_size);
      if (r < 0) return -1;
      if (r > 0) return 0;
    }
    return 1;
  }
  if (kind == PACK_MEDIA_SOUND) {
    static const char* const kByCode[] = {nullptr, ".ogg", ".wav"};
    for (u32 i = 0; i < 2; i++) {
      u8 code = g_CfgSoundOrder[i];
      if (code < 1 || code > 2) continue;
      i32 r = Probe(lookup, base, kByCode[code], out, out_size);
      if (r < 0) return -1;
      if (r > 0) return 0;
    }
    return 1;
  }
  return -1;
}

// ---- Readers ---------------------------------------------------------------------------------

static void DropBlock(PackLookup* lookup) {
  std::free(lookup->data);
  lookup->data = nullptr;
  lookup->size = 0;
}

i32 PackReadLooseFile(PackLookup* lookup, const char* name) {
  lookup->data = nullptr;
  lookup->size = 0;
  PlatFile* f = PlatFileOpenRead(name);
  if (!f) {
    ErrRaiseF(ERR_FILE_READ, 1, name);
    return -3;
  }
  i64 len = PlatFileSize(f);
  if (len < 0 || len > static_cast<i64>(UINT32_MAX)) {
    PlatFileClose(f);
    ErrRaiseF(ERR_FILE_READ, 1, name);
    return -3;
  }
  u8* block = static_cast<u8*>(std::malloc(len > 0 ? static_cast<size_t>(len) : 1));
  if (!block) {
    PlatFileClose(f);
    ErrRaiseF(ERR_FILE_READ_NOMEM, 1, name);
    return -3;
  }
  size_t got = PlatFileRead(f, block, static_cast<size_t>(len));
  PlatFileClose(f);
  if (got != static_cast<size_t>(len)) {
    // The file shrank under us: report it rather than hand out a part.
    std::free(block);
    ErrRaiseF(ERR_FILE_READ, 1, name);
    return -3;
  }
  lookup->data = block;
  lookup->size = static_cast<u32>(len);
  return 0;
}

static i32 CopyStored(PackLookup* lookup, const char* name, const u8* data, u32 size) {
  u8* block = static_cast<u8*>(std::malloc(size > 0 ? size : 1));
  if (!block) {
    ErrRaiseF(ERR_FILE_READ_NOMEM, 1, name);
    return -3;
  }
  if (size) std::memcpy(block, data, size);
  lookup->data = block;
  lookup->size = size;
  return 0;
}

i32 PackReadFromLinkedFile(PackLookup* lookup, const char* name) {
  lookup->data = nullptr;
  lookup->size = 0;
  if (lookup->handover >= static_cast<u32>(g_PackLinkedCount < 0 ? 0 : g_PackLinkedCount)) {
    ErrRaiseF(ERR_FILE_READ, 1, name);
    return -3;
  }
  const PackLinkedFile& f = g_PackLinkedFiles[lookup->handover];
  return CopyStored(lookup, name, f.data, f.size);
}

i32 PackReadFromMemoryList(PackLookup* lookup, const char* name) {
  lookup->data = nullptr;
  lookup->size = 0;
  if (lookup->list >= PACK_MEMLIST_COUNT) {
    ErrRaiseF(ERR_FILE_READ, 1, name);
    return -3;
  }
  const PackMemoryList& list = g_PackMemoryLists[lookup->list];
  if (lookup->item >= static_cast<u32>(list.count < 0 ? 0 : list.count) || lookup->item >= PACK_MEMLIST_ITEMS) {
    ErrRaiseF(ERR_FILE_READ, 1, name);
    return -3;
  }
  const PackMemoryItem& it = list.items[lookup->item];
  return CopyStored(lookup, name, it.data, it.size);
}

i32 PackReadBySource(PackLookup* lookup, const char* name) {
  switch (lookup->source) {
    case PACK_SOURCE_LOOSE: return PackReadLooseFile(lookup, name);
    case PACK_SOURCE_ARCHIVE: return PackReadEntry(lookup, name);
    case PACK_SOURCE_LINKED: return PackReadFromLinkedFile(lookup, name);
    case PACK_SOURCE_MEMORY: return PackReadFromMemoryList(lookup, name);
  }
  lookup->data = nullptr;
  lookup->size = 0;
  return -3;
}

i32 PackReadWholeFile(const char* name, u8** data, u32* size) {
  *data = nullptr;
  *size = 0;
  PackLookup lookup{};
  if (PackFindAnySource(&lookup, name, 0) <= 0 || PackReadBySource(&lookup, name) != 0) return -1;
  *data = lookup.data;
  *size = lookup.size;
  return 0;
}

// ---- Pack entries ----------------------------------------------------------------------------

i32 PackVerifyRepair(PackHandle* h, u8* data, u32 n, u32 data_hash) {
  if (HashMurmur2(data, n, 0) == data_hash) return 0;
  // Only a recovery block that matches the data can repair it: the sizes are checked, not trusted.
  u32 parity_size = 0, blocks = 0;
  if (PackReadU32(h, &parity_size) || parity_size != PACK_PARITY_SIZE) return -1;
  if (PackReadU32(h, &blocks) || blocks != (static_cast<u64>(n) + PACK_PARITY_SIZE - 1) / PACK_PARITY_SIZE) return -1;
  if (blocks == 0) return -1;
  std::vector<u8> checks(static_cast<size_t>(blocks) * 2);
  u8 parity[PACK_PARITY_SIZE];
  if (PackRead(h, checks.data(), checks.size()) || PackRead(h, parity, sizeof parity)) return -1;

  u8 x0[PACK_PARITY_SIZE] = {};  // XOR of all blocks as read, zero padded past n
  for (u32 i = 0; i < n; i++) x0[i % PACK_PARITY_SIZE] ^= data[i];
  u8 xc[PACK_PARITY_SIZE];  // the same XOR as bytes get rewritten
  std::memcpy(xc, x0, sizeof xc);
  for (u32 b = 0; b < blocks; b++) {
    u8* block = data + static_cast<size_t>(b) * PACK_PARITY_SIZE;
    u32 len = n - b * PACK_PARITY_SIZE < PACK_PARITY_SIZE ? n - b * PACK_PARITY_SIZE : u32{PACK_PARITY_SIZE};
    u16 want = static_cast<u16>(checks[b * 2] | (checks[b * 2 + 1] << 8));
    if (static_cast<u16>(MemCrc32(block, len) & 0xFFFF) == want) continue;
    for (u32 k = 0; k < len; k++) {
      if (parity[k] == x0[k]) continue;
      u8 others = static_cast<u8>(xc[k] ^ block[k]);
      block[k] = static_cast<u8>(parity[k] ^ others);
      xc[k] = parity[k];
    }
  }
  if (HashMurmur2(data, n, 0) != data_hash) return -1;
  ErrTrace("pack entry repaired from its recovery block (%u bytes)", n);
  return 1;
}

namespace {
// An inflater per thread, set up on first use and reset for every stream.
struct KeptInflater {
  z_stream s{};
  bool ready = false;
  ~KeptInflater() {
    if (ready) inflateEnd(&s);
  }
};
thread_local KeptInflater t_Inflater;
}  // namespace

int PackUncompress(u8* dest, unsigned long* dest_len, const u8* source, unsigned long source_len) {
  KeptInflater& k = t_Inflater;
  if (!k.ready) {
    k.s = z_stream{};
    k.s.next_in = const_cast<u8*>(source);
    if (inflateInit(&k.s) != Z_OK) return uncompress(dest, dest_len, source, source_len);
    k.ready = true;
  } else if (inflateReset(&k.s) != Z_OK) {
    return uncompress(dest, dest_len, source, source_len);
  }
  // What uncompress does, step for step: a zero-sized destination is a one-byte scratch that
  // only tells an incomplete stream, and the sizes go in in pieces zlib's counters can hold.
  z_stream& z = k.s;
  const uInt max = static_cast<uInt>(-1);
  unsigned long len = source_len, left = 0;
  u8 buf[1];
  if (*dest_len) {
    left = *dest_len;
    *dest_len = 0;
  } else {
    left = 1;
    dest = buf;
  }
  z.next_in = const_cast<u8*>(source);
  z.avail_in = 0;
  z.next_out = dest;
  z.avail_out = 0;
  int err = Z_OK;
  do {
    if (z.avail_out == 0) {
      z.avail_out = left > max ? max : static_cast<uInt>(left);
      left -= z.avail_out;
    }
    if (z.avail_in == 0) {
      z.avail_in = len > max ? max : static_cast<uInt>(len);
      len -= z.avail_in;
    }
    err = inflate(&z, Z_NO_FLUSH);
  } while (err == Z_OK);
  if (dest != buf) *dest_len = z.total_out;
  else if (z.total_out && err == Z_BUF_ERROR) left = 1;
  return err == Z_STREAM_END                        ? Z_OK
         : err == Z_NEED_DICT                       ? Z_DATA_ERROR
         : err == Z_BUF_ERROR && left + z.avail_out ? Z_DATA_ERROR
                                                    : err;
}

// zlib never inflates more than about 1032 bytes per stored byte; a larger raw size is damage.
static bool RawSizePlausible(u32 raw, u32 stored) {
  return static_cast<u64>(raw) <= static_cast<u64>(stored) * 1032 + 64;
}

i32 PackReadEntry(PackLookup* lookup, const char* name) {
  lookup->data = nullptr;
  lookup->size = 0;
  const char* pack_name =
      lookup->pack < static_cast<u32>(g_PackDirectory.pack_count) && g_PackDirectory.names[lookup->pack]
          ? g_PackDirectory.names[lookup->pack]
          : "";
  PackHandle h;
  u64 avail = 0;
  // Right after its lookup, the pack is the one the lookup checked and read the record from.
  const bool again = lookup->pack < static_cast<u32>(g_PackDirectory.pack_count) && lookup->kept != 0 &&
                     PackKeptAgain(lookup->pack, lookup->kept, &h, &avail) == 0;
  if (!again &&
      (lookup->pack >= static_cast<u32>(g_PackDirectory.pack_count) || PackKeptOpen(lookup->pack, &h, &avail))) {
    ErrRaiseF(ERR_PACK_OPEN, 1, pack_name);
    return -3;
  }
  auto damaged = [&]() -> i32 {
    DropBlock(lookup);
    ErrRaiseF(ERR_PACK_DAMAGED, 1, pack_name, name);
    return -2;
  };
  // Kind, raw size, stored size, data offset, data hash.
  u8 rec[PACK_RECORD_TAIL];
  if (again) std::memcpy(rec, lookup->tail, sizeof rec);
  else if (PackReadAt(&h, lookup->position, rec, sizeof rec) != sizeof rec) return damaged();
  auto u32_at = [&rec](int i) {
    return static_cast<u32>(rec[i]) | static_cast<u32>(rec[i + 1]) << 8 | static_cast<u32>(rec[i + 2]) << 16 |
           static_cast<u32>(rec[i + 3]) << 24;
  };
  const u8 kind = rec[0];
  const u32 raw = u32_at(1), stored = u32_at(5), hash = u32_at(17);
  const u64 offset = static_cast<u64>(u32_at(13)) << 32 | u32_at(9);
  if (kind != PACK_KIND_STORED && kind != PACK_KIND_ZLIB) {
    ErrRaiseF(ERR_PACK_OPEN, 1, pack_name);
    return -3;
  }
  if (offset > avail || stored > avail - offset) return damaged();
  if (kind == PACK_KIND_STORED ? raw != stored : !RawSizePlausible(raw, stored)) return damaged();
  // The recovery block follows the stored bytes; it is read (through a handle of its own) only
  // when the data does not match its hash.
  auto verify_repair = [&](u8* data) -> i32 {
    if (HashMurmur2(data, stored, 0) == hash) return 0;
    PackHandle r;
    if (PackOpenIndex(&r, lookup->pack)) return -1;
    const i32 v = PackSeek(&r, offset + stored) ? -1 : PackVerifyRepair(&r, data, stored, hash);
    PackClose(&r);
    return v;
  };

  u8* block = static_cast<u8*>(std::malloc(raw > 0 ? raw : 1));
  if (!block) {
    ErrRaiseF(ERR_FILE_READ_NOMEM, 1, name);
    return -3;
  }
  lookup->data = block;
  lookup->size = raw;

  if (kind == PACK_KIND_STORED) {
    if (PackReadAt(&h, offset, block, raw) != raw || verify_repair(block) < 0) return damaged();
    return 0;
  }

  // Small entries inflate from the stack.
  u8 small[4096];
  u8* const src = stored <= sizeof small ? small : static_cast<u8*>(std::malloc(stored > 0 ? stored : 1));
  auto free_src = [&]() {
    if (src != small) std::free(src);
  };
  if (!src) {
    DropBlock(lookup);
    ErrRaiseF(ERR_FILE_READ_NOMEM, 1, name);
    return -3;
  }
  if (PackReadAt(&h, offset, src, stored) != stored) {
    free_src();
    return damaged();
  }
  bool repaired = false;
  for (;;) {
    uLongf dest_len = raw;
    int z = PackUncompress(block, &dest_len, src, stored);
    if (z == Z_OK) {
      if (dest_len == raw) break;
      free_src();
      return damaged();  // a short stream is damage, never garbage handed out
    }
    if (z == Z_DATA_ERROR && !repaired && verify_repair(src) > 0) {
      repaired = true;
      continue;
    }
    free_src();
    if (z == Z_DATA_ERROR) return damaged();
    DropBlock(lookup);
    ErrRaiseF(z == Z_BUF_ERROR ? ERR_INFLATE_BUFFER : ERR_INFLATE_NOMEM, 1, name);
    return -2;
  }
  free_src();
  return 0;
}

// ---- Reset -----------------------------------------------------------------------------------

void PackMemoryListsFree() {
  for (PackMemoryList& list : g_PackMemoryLists) {
    // The items past the count are always empty.
    const i32 n = list.count < 0 ? 0 : list.count > PACK_MEMLIST_ITEMS ? PACK_MEMLIST_ITEMS : list.count;
    for (i32 i = 0; i < n; i++) {
      PackMemoryItem& it = list.items[i];
      std::free(it.name);
      std::free(it.data);
      it = PackMemoryItem{};
    }
    list.count = 0;
    list.total = 0;
  }
}
