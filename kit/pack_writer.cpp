// Pack archive writer. Records are laid out in the order given; the runtime sorts its directory
// itself. Stored bytes are followed by their recovery block (parity size 1024, one CRC check per
// 1024-byte block, the XOR of all blocks) or by an empty one.
#include "kit/pack_writer.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <set>

#include "common/hash.h"
#include "common/sjis.h"
#include "core/pack.h"
#include "platform/file.h"
#include "platform/platform.h"

static void Put32(std::vector<u8>& out, u32 v) {
  for (int i = 0; i < 4; i++) out.push_back(static_cast<u8>(v >> (8 * i)));
}

static void Put64(std::vector<u8>& out, u64 v) {
  Put32(out, static_cast<u32>(v));
  Put32(out, static_cast<u32>(v >> 32));
}

std::vector<u8> KitPackRecoveryBlock(const u8* data, u32 n) {
  std::vector<u8> out;
  u32 blocks = (n + PACK_PARITY_SIZE - 1) / PACK_PARITY_SIZE;
  Put32(out, PACK_PARITY_SIZE);
  Put32(out, blocks);
  u8 parity[PACK_PARITY_SIZE] = {};
  for (u32 b = 0; b < blocks; b++) {
    u32 len = std::min<u32>(PACK_PARITY_SIZE, n - b * PACK_PARITY_SIZE);
    u32 crc = MemCrc32(data + static_cast<size_t>(b) * PACK_PARITY_SIZE, len);
    out.push_back(static_cast<u8>(crc));
    out.push_back(static_cast<u8>(crc >> 8));
  }
  for (u32 i = 0; i < n; i++) parity[i % PACK_PARITY_SIZE] ^= data[i];
  out.insert(out.end(), parity, parity + PACK_PARITY_SIZE);
  return out;
}

static u8 LengthCode(u32 len) {
  u8 table[256];
  PackNameLengthTableBuild(table);
  for (int i = 0; i < 256; i++)
    if (table[i] == len) return static_cast<u8>(255 - i);
  return 0;
}

int KitPackBuild(const std::vector<KitPackEntry>& entries, const KitPackOptions& opt, std::vector<u8>* out,
                 KitPackLayout* layout, std::string* err) {
  struct Prepared {
    std::string name;
    u32 hash;
    u8 type, kind;
    std::vector<u8> stored;
    u32 raw;
  };
  std::vector<Prepared> prep;
  prep.reserve(entries.size());
  std::set<std::string> seen;
  u64 table_size = 0;
  for (const KitPackEntry& e : entries) {
    Prepared p;
    p.name = e.name;
    StrReplaceCharSjis(p.name.data(), '/', '\\');
    std::string lower = p.name;
    StrLowerSjis(lower.data());
    if (p.name.empty() || p.name.size() > 255 || p.name.find('\0') != std::string::npos) {
      if (err) *err = "entry name empty or longer than 255 bytes: " + PlatSjisToUtf8(p.name);
      return -1;
    }
    if (!seen.insert(lower).second) {
      if (err) *err = "two entries named " + PlatSjisToUtf8(p.name);
      return -1;
    }
    p.hash = HashMurmur2(lower.data(), lower.size(), 0);
    p.type = static_cast<u8>(e.type == KIT_TYPE_FROM_NAME ? PackTypeFromExtension(lower.c_str()) : e.type);
    p.raw = static_cast<u32>(e.data.size());
    p.kind = PACK_KIND_STORED;
    p.stored = e.data;
    if (e.compress) {
      uLongf len = compressBound(static_cast<uLong>(e.data.size()));
      std::vector<u8> z(len);
      if (compress2(z.data(), &len, e.data.data(), static_cast<uLong>(e.data.size()), 9) != Z_OK) {
        if (err) *err = "zlib failed on " + PlatSjisToUtf8(p.name);
        return -1;
      }
      z.resize(len);
      if (opt.force_compress || z.size() < e.data.size()) {
        p.kind = PACK_KIND_ZLIB;
        p.stored.swap(z);
      }
    }
    table_size += PACK_RECORD_FIXED + p.name.size();
    prep.push_back(std::move(p));
  }
  if (table_size > UINT32_MAX) {
    if (err) *err = "entry table too large";
    return -1;
  }

  std::vector<u8>& o = *out;
  o.assign(PACK_HEADER_SIZE, 0);
  std::memcpy(o.data(), kPackMagic, 4);
  for (int i = 0; i < 4; i++) {
    o[4 + i] = static_cast<u8>(opt.version >> (8 * i));
    o[8 + i] = static_cast<u8>(prep.size() >> (8 * i));
    o[12 + i] = static_cast<u8>(table_size >> (8 * i));
  }

  if (layout) *layout = KitPackLayout{};
  u64 data_at = PACK_HEADER_SIZE + table_size;
  std::vector<std::vector<u8>> recovery(prep.size());
  for (size_t i = 0; i < prep.size(); i++) {
    const Prepared& p = prep[i];
    if (layout) {
      layout->record_offsets.push_back(o.size());
      layout->data_offsets.push_back(data_at);
      layout->stored_sizes.push_back(static_cast<u32>(p.stored.size()));
      layout->kinds.push_back(p.kind);
    }
    Put32(o, p.hash);
    o.push_back(LengthCode(static_cast<u32>(p.name.size())));
    for (char c : p.name) o.push_back(static_cast<u8>(255 - static_cast<u8>(c)));
    o.push_back(p.type);
    o.push_back(p.kind);
    Put32(o, p.raw);
    Put32(o, static_cast<u32>(p.stored.size()));
    Put64(o, data_at);
    Put32(o, HashMurmur2(p.stored.data(), p.stored.size(), 0));
    if (opt.recovery) {
      recovery[i] = KitPackRecoveryBlock(p.stored.data(), static_cast<u32>(p.stored.size()));
    } else {
      recovery[i].assign(8, 0);  // parity size 0, block count 0
    }
    data_at += p.stored.size() + recovery[i].size();
  }
  for (size_t i = 0; i < prep.size(); i++) {
    o.insert(o.end(), prep[i].stored.begin(), prep[i].stored.end());
    o.insert(o.end(), recovery[i].begin(), recovery[i].end());
  }
  return 0;
}

int KitPackEntryNames(const std::vector<u8>& image, std::vector<std::string>* names, std::string* err) {
  auto le32 = [&](size_t at) {
    return static_cast<u32>(image[at]) | static_cast<u32>(image[at + 1]) << 8 | static_cast<u32>(image[at + 2]) << 16 |
           static_cast<u32>(image[at + 3]) << 24;
  };
  names->clear();
  if (image.size() < PACK_HEADER_SIZE || std::memcmp(image.data(), kPackMagic, 4) != 0) {
    if (err) *err = "not a pack archive";
    return -1;
  }
  u8 table[256];
  PackNameLengthTableBuild(table);
  u32 count = le32(8);
  size_t at = PACK_HEADER_SIZE;
  for (u32 i = 0; i < count; i++) {
    if (image.size() - at < PACK_RECORD_FIXED) {
      if (err) *err = "the entry table runs past the end of the pack";
      return -1;
    }
    u32 len = table[255 - image[at + 4]];
    if (image.size() - at - PACK_RECORD_FIXED < len) {
      if (err) *err = "the entry table runs past the end of the pack";
      return -1;
    }
    std::string name;
    for (u32 k = 0; k < len; k++) name.push_back(static_cast<char>(255 - image[at + 5 + k]));
    names->push_back(std::move(name));
    at += PACK_RECORD_FIXED + len;
  }
  return 0;
}

int KitPackWrite(const std::string& out_native, const std::vector<KitPackEntry>& entries, const KitPackOptions& opt,
                 std::string* err) {
  std::vector<u8> image;
  if (KitPackBuild(entries, opt, &image, nullptr, err) != 0) return -1;
  if (PlatFileWriteAtomicNative(out_native, image.data(), image.size()) != 0) {
    if (err) *err = "cannot write " + out_native;
    return -1;
  }
  return 0;
}

int KitPackCollectFolder(const std::string& folder_native, std::vector<KitPackEntry>* entries, std::string* err) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (!fs::is_directory(folder_native, ec)) {
    if (err) *err = "not a folder: " + folder_native;
    return -1;
  }
  std::vector<fs::path> files;
  for (fs::recursive_directory_iterator it(folder_native, ec), end; !ec && it != end; it.increment(ec))
    if (it->is_regular_file(ec)) files.push_back(it->path());
  if (ec) {
    if (err) *err = "cannot list " + folder_native;
    return -1;
  }
  std::sort(files.begin(), files.end());
  for (const fs::path& f : files) {
    KitPackEntry e;
    std::string rel = fs::relative(f, folder_native, ec).generic_string();
    e.name = PlatUtf8ToSjis(rel);
    if (PlatFileReadAllNative(f.string(), &e.data) != 0) {
      if (err) *err = "cannot read " + f.string();
      return -1;
    }
    entries->push_back(std::move(e));
  }
  return 0;
}
