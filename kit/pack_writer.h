// Pack archive writer: entries stored or zlib-compressed, names scrambled through the runtime's
// own name-length table, data hashes, and recovery blocks (optional). The layout is the one the
// runtime's reader checks, from the same definitions.
#pragma once
#include <string>
#include <vector>

#include "common/types.h"

enum { KIT_TYPE_FROM_NAME = 0xFFFF };

struct KitPackEntry {
  std::string name;  // Shift-JIS; "/" or "\" separators, stored with "\"
  std::vector<u8> data;
  u32 type = KIT_TYPE_FROM_NAME;  // any code 0-255, or the code of the name's extension
  bool compress = true;           // zlib; stored instead when compression does not make it smaller
};

struct KitPackOptions {
  bool recovery = true;  // recovery blocks behind each entry (parity size 0 without)
  u32 version = 493;
  bool force_compress = false;  // keep zlib even when it does not make an entry smaller
};

// Where each entry landed, for tests that damage a pack on purpose.
struct KitPackLayout {
  std::vector<u64> record_offsets;  // of each entry's record in the file
  std::vector<u64> data_offsets;    // of each entry's stored bytes
  std::vector<u32> stored_sizes;
  std::vector<u8> kinds;  // 0 stored, 1 zlib
};

// Builds the pack image in memory. Returns 0, or -1 with a message in err (a name longer than
// 255 bytes, two entries with the same name, too many entries).
int KitPackBuild(const std::vector<KitPackEntry>& entries, const KitPackOptions& opt, std::vector<u8>* out,
                 KitPackLayout* layout, std::string* err);
// Builds it and writes it atomically to a native path.
int KitPackWrite(const std::string& out_native, const std::vector<KitPackEntry>& entries, const KitPackOptions& opt,
                 std::string* err);
// Every file under a native folder (names relative to it, UTF-8 converted to Shift-JIS).
int KitPackCollectFolder(const std::string& folder_native, std::vector<KitPackEntry>* entries, std::string* err);
// The entry names of a pack image (Shift-JIS, as stored), read back through the runtime's
// name-length table; every size is checked against the image. Returns 0, or -1 with err.
int KitPackEntryNames(const std::vector<u8>& image, std::vector<std::string>* names, std::string* err);
// One entry's record and recovery block, exposed for tests of the reader.
std::vector<u8> KitPackRecoveryBlock(const u8* data, u32 n);
