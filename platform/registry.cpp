// The registry store: a regedit export read line by line. The file is first made UTF-8 (a
// UTF-16LE file by its byte-order mark); each logical line is a section "[ROOT\key]", a value
// ("name"= or @= with a quoted string, dword:, hex: or hex(n): continued over lines ending in
// "\"), a comment or blank. Every read goes through an index checked against the text's size.
// Keys and values are found through an index by their folded names, so a store parses in time
// linear in its size; the parsed store is kept with the file's identity and used while that stays.
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>

#include "common/sjis.h"
#include "platform/desktop.h"
#include "platform/file.h"
#include "platform/platform.h"

namespace {

void PutUtf8(std::string* out, u32 cp) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// UTF-16LE units to UTF-8; a lone surrogate becomes U+FFFD, an odd last byte is dropped.
std::string Utf16ToUtf8(const u8* p, size_t bytes) {
  std::string out;
  const size_t units = bytes / 2;
  for (size_t i = 0; i < units; i++) {
    u32 u = static_cast<u32>(p[i * 2] | p[i * 2 + 1] << 8);
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
      const u32 lo = static_cast<u32>(p[i * 2 + 2] | p[i * 2 + 3] << 8);
      if (lo >= 0xDC00 && lo <= 0xDFFF) {
        PutUtf8(&out, 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00));
        i++;
        continue;
      }
    }
    PutUtf8(&out, u >= 0xD800 && u <= 0xDFFF ? 0xFFFD : u);
  }
  return out;
}

// UTF-8 text (zero characters kept) to CP932, piece by piece around the zeros.
std::string ToSjisKeepZeros(const std::string& utf8) {
  std::string out;
  size_t start = 0;
  for (;;) {
    const size_t z = utf8.find('\0', start);
    out += PlatUtf8ToSjis(utf8.substr(start, z == std::string::npos ? std::string::npos : z - start));
    if (z == std::string::npos) return out;
    out.push_back('\0');
    start = z + 1;
  }
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string Trim(const std::string& s) {
  size_t a = 0, b = s.size();
  while (a < b && IsBlank(s[a])) a++;
  while (b > a && IsBlank(s[b - 1])) b--;
  return s.substr(a, b - a);
}

void TrimInPlace(std::string* s) {
  size_t b = s->size();
  while (b > 0 && IsBlank((*s)[b - 1])) b--;
  s->resize(b);
  size_t a = 0;
  while (a < b && IsBlank((*s)[a])) a++;
  s->erase(0, a);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

struct Lines {
  const std::string& text;
  size_t pos = 0;
  // The next physical line without its line end; false at the end of the text.
  bool Next(std::string* line) {
    if (pos >= text.size()) return false;
    size_t end = pos;
    while (end < text.size() && text[end] != '\n' && text[end] != '\r') end++;
    line->assign(text, pos, end - pos);
    if (end < text.size() && text[end] == '\r') {
      end++;
      if (end < text.size() && text[end] == '\n') end++;
    } else if (end < text.size()) {
      end++;
    }
    pos = end;
    return true;
  }
};

// A quoted string at s[*i] (the opening quote) with the escapes \\ and \"; *i ends past the
// closing quote. False when the line ends first.
bool ReadQuoted(const std::string& s, size_t* i, std::string* out) {
  out->clear();
  size_t k = *i + 1;
  while (k < s.size()) {
    const char c = s[k];
    if (c == '"') {
      *i = k + 1;
      return true;
    }
    if (c == '\\' && k + 1 < s.size() && (s[k + 1] == '\\' || s[k + 1] == '"')) {
      out->push_back(s[k + 1]);
      k += 2;
      continue;
    }
    out->push_back(c);
    k++;
  }
  return false;
}

// "aa,bb,..." into bytes, the line already joined over its continuations.
bool ReadHexBytes(const std::string& s, std::vector<u8>* out) {
  out->clear();
  size_t k = 0;
  while (k < s.size()) {
    while (k < s.size() && (IsBlank(s[k]) || s[k] == ',')) k++;
    if (k >= s.size()) break;
    if (k + 1 >= s.size()) return false;
    const int hi = HexDigit(s[k]), lo = HexDigit(s[k + 1]);
    if (hi < 0 || lo < 0) return false;
    if (out->size() >= PLAT_REG_VALUE_MAX) return false;
    out->push_back(static_cast<u8>(hi << 4 | lo));
    k += 2;
    if (k < s.size() && s[k] != ',' && !IsBlank(s[k])) return false;
  }
  return true;
}

// The data of a value line starts with "hex" (so a trailing "\" continues it).
bool IsHexValue(const std::string& line) {
  size_t i = 0;
  std::string name;
  if (line[0] == '@') i = 1;
  else if (!ReadQuoted(line, &i, &name)) return false;
  while (i < line.size() && IsBlank(line[i])) i++;
  if (i >= line.size() || line[i] != '=') return false;
  i++;
  while (i < line.size() && IsBlank(line[i])) i++;
  return line.compare(i, 3, "hex") == 0;
}

// A name as the index compares it: A-Z lower-cased, double-byte characters as they are, so two
// names fold alike exactly when StrEqualNoCaseSjis calls them equal.
std::string Fold(const std::string& name) {
  std::string f = name;
  StrLowerSjis(f.data());
  return f;
}

// The sub-key part of a stored path and its root, split at the first "\".
void SplitRoot(const std::string& path, std::string* root, std::string* rest) {
  const size_t bs = path.find('\\');
  *root = path.substr(0, bs);
  *rest = bs == std::string::npos ? std::string() : path.substr(bs + 1);
}

// What the key index compares: the root as it is (it compares exactly), then the folded sub-key
// without trailing "\".
std::string PathKey(const std::string& root, std::string rest) {
  while (!rest.empty() && rest.back() == '\\') rest.pop_back();
  return root + '\\' + Fold(rest);
}

std::string PathKeyOf(const PlatRegKey& k) {
  std::string root, rest;
  SplitRoot(k.path, &root, &rest);
  return PathKey(root, rest);
}

// FNV-1a, never 0 (0 marks an empty slot).
u64 HashBytes(const std::string& s, u64 seed) {
  u64 h = 14695981039346656037ull ^ seed;
  for (char c : s) h = (h ^ static_cast<u8>(c)) * 1099511628211ull;
  return h ? h : 1;
}

u64 ValueHash(u32 key, const std::string& folded) { return HashBytes(folded, (key + 1ull) * 0x9E3779B97F4A7C15ull); }

// The slot holding what match accepts among the entries of hash, else the empty slot where it
// would go. The table is never full.
template <class Match>
size_t Probe(const std::vector<PlatRegSlot>& t, u64 hash, Match match) {
  const size_t mask = t.size() - 1;
  for (size_t i = hash & mask;; i = (i + 1) & mask) {
    if (t[i].hash == 0 || (t[i].hash == hash && match(t[i]))) return i;
  }
}

// Room for one more entry: a table at most half full, so probes stay short.
void MakeRoom(std::vector<PlatRegSlot>* t, size_t count) {
  if ((count + 1) * 2 <= t->size()) return;
  std::vector<PlatRegSlot> old;
  old.swap(*t);
  t->assign(std::max<size_t>(16, old.size() * 2), PlatRegSlot{0, 0, 0});
  const size_t mask = t->size() - 1;
  for (const PlatRegSlot& e : old) {
    if (!e.hash) continue;
    size_t i = e.hash & mask;
    while ((*t)[i].hash) i = (i + 1) & mask;
    (*t)[i] = e;
  }
}

// Empties slot i, moving back the entries after it that probed past it, so every probe still
// finds them.
void EraseSlot(std::vector<PlatRegSlot>* t, size_t i) {
  const size_t mask = t->size() - 1;
  for (size_t j = (i + 1) & mask; (*t)[j].hash; j = (j + 1) & mask) {
    const size_t home = (*t)[j].hash & mask;
    if (((j - home) & mask) >= ((j - i) & mask)) {
      (*t)[i] = (*t)[j];
      i = j;
    }
  }
  (*t)[i] = PlatRegSlot{0, 0, 0};
}

// The slot of a key path (root and folded sub-key), or an empty one.
size_t FindKeySlot(const PlatRegStore& store, const std::string& path_key) {
  return Probe(store.key_index, HashBytes(path_key, 0),
               [&](const PlatRegSlot& e) { return PathKeyOf(store.keys[e.key]) == path_key; });
}

// The slot of a value of key k by its folded name, or an empty one.
size_t FindValueSlot(const PlatRegStore& store, u32 k, const std::string& folded) {
  return Probe(store.value_index, ValueHash(k, folded), [&](const PlatRegSlot& e) {
    return e.key == k && Fold(store.keys[k].values[e.value].name) == folded;
  });
}

// One value line (data already joined): name and data into v. False when malformed.
bool ParseValue(const std::string& line, bool unicode, PlatRegValue* v, bool* remove) {
  *remove = false;
  size_t i = 0;
  std::string name;
  if (line[0] == '@') {
    i = 1;
  } else if (!ReadQuoted(line, &i, &name)) {
    return false;
  }
  while (i < line.size() && IsBlank(line[i])) i++;
  if (i >= line.size() || line[i] != '=') return false;
  i++;
  while (i < line.size() && IsBlank(line[i])) i++;
  v->name = PlatUtf8ToSjis(name);
  const std::string data = line.substr(i);
  if (data == "-") {
    *remove = true;
    return true;
  }
  if (!data.empty() && data[0] == '"') {
    size_t k = 0;
    std::string text;
    if (!ReadQuoted(data, &k, &text) || !Trim(data.substr(k)).empty()) return false;
    const std::string sjis = PlatUtf8ToSjis(text);
    if (sjis.size() >= PLAT_REG_VALUE_MAX) return false;
    v->type = PLAT_REG_SZ;
    v->data.assign(sjis.begin(), sjis.end());
    v->data.push_back(0);
    return true;
  }
  if (data.compare(0, 6, "dword:") == 0) {
    const std::string digits = Trim(data.substr(6));
    if (digits.empty() || digits.size() > 8) return false;
    u32 value = 0;
    for (char c : digits) {
      const int d = HexDigit(c);
      if (d < 0) return false;
      value = value << 4 | static_cast<u32>(d);
    }
    v->type = PLAT_REG_DWORD;
    v->data = {static_cast<u8>(value), static_cast<u8>(value >> 8), static_cast<u8>(value >> 16),
               static_cast<u8>(value >> 24)};
    return true;
  }
  if (data.compare(0, 3, "hex") != 0) return false;
  size_t k = 3;
  u32 type = PLAT_REG_BINARY;
  if (k < data.size() && data[k] == '(') {
    type = 0;
    k++;
    size_t digits = 0;
    while (k < data.size() && HexDigit(data[k]) >= 0 && digits < 8)
      type = type << 4 | static_cast<u32>(HexDigit(data[k++])), digits++;
    if (digits == 0 || k >= data.size() || data[k] != ')') return false;
    k++;
  }
  if (k >= data.size() || data[k] != ':') return false;
  std::vector<u8> bytes;
  if (!ReadHexBytes(data.substr(k + 1), &bytes)) return false;
  v->type = type;
  const bool text = type == PLAT_REG_SZ || type == PLAT_REG_EXPAND_SZ || type == PLAT_REG_MULTI_SZ;
  if (text && unicode) {
    const std::string sjis = ToSjisKeepZeros(Utf16ToUtf8(bytes.data(), bytes.size()));
    v->data.assign(sjis.begin(), sjis.end());
  } else {
    v->data = std::move(bytes);
  }
  return true;
}

}  // namespace

int PlatRegistryParse(const u8* data, size_t size, PlatRegStore* out) {
  *out = PlatRegStore{};
  if (size > PLAT_REG_FILE_MAX) return -1;
  std::string text;
  if (size >= 2 && data[0] == 0xFF && data[1] == 0xFE) text = Utf16ToUtf8(data + 2, size - 2);
  else if (size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF)
    text.assign(reinterpret_cast<const char*>(data) + 3, size - 3);
  else text.assign(reinterpret_cast<const char*>(data), size);
  // A text file holds no zero character: key and value names could not be looked up by it.
  if (text.find('\0') != std::string::npos) return -1;

  Lines lines{text};
  std::string line;
  bool header = false, unicode = false;
  PlatRegKey* key = nullptr;
  u32 key_index = 0;
  bool in_deleted = false;
  while (lines.Next(&line)) {
    TrimInPlace(&line);
    if (line.empty() || line[0] == ';') continue;
    if (!header) {
      if (line == "Windows Registry Editor Version 5.00") unicode = true;
      else if (line != "REGEDIT4") return -1;
      header = true;
      continue;
    }
    if (line[0] == '[') {
      if (line.back() != ']' || line.size() < 3) return -1;
      in_deleted = line[1] == '-';
      key = nullptr;
      if (in_deleted) continue;
      std::string path = PlatUtf8ToSjis(line.substr(1, line.size() - 2));
      while (!path.empty() && path.back() == '\\') path.pop_back();
      std::string root, rest;
      SplitRoot(path, &root, &rest);
      const std::string path_key = PathKey(root, rest);
      MakeRoom(&out->key_index, out->keys.size());
      const size_t slot = FindKeySlot(*out, path_key);
      if (!out->key_index[slot].hash) {
        if (out->keys.size() >= UINT32_MAX) return -1;
        out->key_index[slot] = PlatRegSlot{HashBytes(path_key, 0), static_cast<u32>(out->keys.size()), 0};
        out->keys.push_back(PlatRegKey{std::move(path), {}});
      }
      key_index = out->key_index[slot].key;
      key = &out->keys[key_index];
      continue;
    }
    if (line[0] != '"' && line[0] != '@') return -1;
    // A hex run continues over lines that end in "\".
    while (!line.empty() && line.back() == '\\' && IsHexValue(line)) {
      line.pop_back();
      std::string more;
      if (!lines.Next(&more)) return -1;  // the file ends inside the run
      line += Trim(more);
      if (line.size() > static_cast<size_t>(PLAT_REG_VALUE_MAX) * 4) return -1;
    }
    PlatRegValue v{};
    bool remove = false;
    if (!ParseValue(line, unicode, &v, &remove)) return -1;
    if (in_deleted) continue;
    if (!key) return -1;  // a value before any section
    const std::string folded = Fold(v.name);
    MakeRoom(&out->value_index, out->value_count);
    const size_t slot = FindValueSlot(*out, key_index, folded);
    if (remove) {
      if (!out->value_index[slot].hash) continue;
      // The last value takes the removed one's place, so a removal costs no shift.
      const u32 i = out->value_index[slot].value;
      EraseSlot(&out->value_index, slot);
      out->value_count--;
      const u32 last = static_cast<u32>(key->values.size() - 1);
      if (i != last) {
        out->value_index[FindValueSlot(*out, key_index, Fold(key->values[last].name))].value = i;
        key->values[i] = std::move(key->values[last]);
      }
      key->values.pop_back();
    } else if (out->value_index[slot].hash) {
      key->values[out->value_index[slot].value] = std::move(v);
    } else {
      if (key->values.size() >= UINT32_MAX) return -1;
      out->value_index[slot] =
          PlatRegSlot{ValueHash(key_index, folded), key_index, static_cast<u32>(key->values.size())};
      out->value_count++;
      key->values.push_back(std::move(v));
    }
  }
  return header ? 0 : -1;
}

const PlatRegValue* PlatRegistryFind(const PlatRegStore& store, const char* root, const char* subkey,
                                     const char* value) {
  if (store.key_index.empty() || store.value_index.empty()) return nullptr;
  const PlatRegSlot& k = store.key_index[FindKeySlot(store, PathKey(root ? root : "", subkey ? subkey : ""))];
  if (!k.hash) return nullptr;
  const PlatRegSlot& v = store.value_index[FindValueSlot(store, k.key, Fold(value ? value : ""))];
  return v.hash ? &store.keys[k.key].values[v.value] : nullptr;
}

std::string PlatRegistryPath() {
  std::string base = PlatGetEnv("XDG_CONFIG_HOME");
  if (base.empty() || base[0] != '/') {
    const std::string home = PlatFolderHome();
    if (home.empty()) return "";
    base = home + "/.config";
  }
  return base + "/zephra/registry.reg";
}

namespace {

// What tells one version of the store file from another.
struct FileIdentity {
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = -1;
  timespec mtime{}, ctime{};
  bool operator==(const FileIdentity& o) const {
    return dev == o.dev && ino == o.ino && size == o.size && mtime.tv_sec == o.mtime.tv_sec &&
           mtime.tv_nsec == o.mtime.tv_nsec && ctime.tv_sec == o.ctime.tv_sec && ctime.tv_nsec == o.ctime.tv_nsec;
  }
};

// The last store read. A file changed within the clock's granularity of its previous change may
// keep its identity, so a store read less than two seconds after its last change is compared
// byte for byte at the next read rather than trusted.
struct StoreCache {
  std::mutex lock;
  bool valid = false;
  std::string path;
  FileIdentity id;
  bool recent = false;
  std::vector<u8> bytes;  // kept only while recent
  int parsed = -1;        // PlatRegistryParse's result
  PlatRegStore store;
};

StoreCache s_Cache;

// Whatever writes the file's contents sets its modification time to the clock of that moment.
bool ChangedLately(const struct stat& st) {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return now.tv_sec - st.st_mtim.tv_sec < 2;
}

}  // namespace

int PlatRegistryRead(const char* root, const char* subkey, const char* value, PlatRegValue* out) {
  const std::string path = PlatRegistryPath();
  if (path.empty()) return -1;
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > PLAT_REG_FILE_MAX) return -1;
  FileIdentity id;
  id.dev = st.st_dev;
  id.ino = st.st_ino;
  id.size = st.st_size;
  id.mtime = st.st_mtim;
  id.ctime = st.st_ctim;
  std::lock_guard<std::mutex> g(s_Cache.lock);
  StoreCache& c = s_Cache;
  const bool same_file = c.valid && c.path == path && c.id == id;
  if (!same_file || c.recent) {
    std::vector<u8> bytes;
    if (PlatFileReadAllNative(path, &bytes) != 0 || bytes.size() > PLAT_REG_FILE_MAX) return -1;
    if (!same_file || bytes != c.bytes) {
      c.valid = false;
      c.parsed = PlatRegistryParse(bytes.data(), bytes.size(), &c.store);
      c.path = path;
      c.id = id;
      c.valid = true;
    }
    c.recent = ChangedLately(st);
    c.bytes = c.recent ? std::move(bytes) : std::vector<u8>();
  }
  if (c.parsed != 0) return -1;
  const PlatRegValue* v = PlatRegistryFind(c.store, root, subkey, value);
  if (!v) return -1;
  *out = *v;
  return 0;
}
