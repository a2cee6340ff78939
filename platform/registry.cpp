// The registry store: a regedit export read line by line. The file is first made UTF-8 (a
// UTF-16LE file by its byte-order mark); each logical line is a section "[ROOT\key]", a value
// ("name"= or @= with a quoted string, dword:, hex: or hex(n): continued over lines ending in
// "\"), a comment or blank. Every read goes through an index checked against the text's size.
#include <cstdlib>
#include <cstring>

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

PlatRegValue* FindValue(PlatRegKey* key, const std::string& name) {
  for (PlatRegValue& v : key->values)
    if (StrEqualNoCaseSjis(v.name.c_str(), name.c_str())) return &v;
  return nullptr;
}

// The sub-key part of a stored path and its root, split at the first "\".
void SplitRoot(const std::string& path, std::string* root, std::string* rest) {
  const size_t bs = path.find('\\');
  *root = path.substr(0, bs);
  *rest = bs == std::string::npos ? std::string() : path.substr(bs + 1);
  while (!rest->empty() && rest->back() == '\\') rest->pop_back();
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
  out->keys.clear();
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
  bool in_deleted = false;
  while (lines.Next(&line)) {
    line = Trim(line);
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
      for (PlatRegKey& k : out->keys) {
        std::string kr, krest;
        SplitRoot(k.path, &kr, &krest);
        if (kr == root && StrEqualNoCaseSjis(krest.c_str(), rest.c_str())) key = &k;
      }
      if (!key) {
        out->keys.push_back(PlatRegKey{path, {}});
        key = &out->keys.back();
      }
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
    PlatRegValue* old = FindValue(key, v.name);
    if (remove) {
      if (old) key->values.erase(key->values.begin() + (old - key->values.data()));
    } else if (old) {
      *old = std::move(v);
    } else {
      key->values.push_back(std::move(v));
    }
  }
  return header ? 0 : -1;
}

const PlatRegValue* PlatRegistryFind(const PlatRegStore& store, const char* root, const char* subkey,
                                     const char* value) {
  std::string want = subkey ? subkey : "";
  while (!want.empty() && want.back() == '\\') want.pop_back();
  for (const PlatRegKey& k : store.keys) {
    std::string kr, krest;
    SplitRoot(k.path, &kr, &krest);
    if (kr != root || !StrEqualNoCaseSjis(krest.c_str(), want.c_str())) continue;
    for (const PlatRegValue& v : k.values)
      if (StrEqualNoCaseSjis(v.name.c_str(), value ? value : "")) return &v;
    return nullptr;
  }
  return nullptr;
}

std::string PlatRegistryPath() {
  std::string base = PlatGetEnv("XDG_CONFIG_HOME");
  if (base.empty() || base[0] != '/') {
    const std::string home = PlatGetEnv("HOME");
    if (home.empty()) return "";
    base = home + "/.config";
  }
  return base + "/zephra/registry.reg";
}

int PlatRegistryRead(const char* root, const char* subkey, const char* value, PlatRegValue* out) {
  const std::string path = PlatRegistryPath();
  if (path.empty()) return -1;
  PlatFile* f = PlatFileOpenReadNative(path);
  if (!f) return -1;
  const i64 size = PlatFileSize(f);
  PlatFileClose(f);
  if (size < 0 || size > PLAT_REG_FILE_MAX) return -1;
  std::vector<u8> bytes;
  if (PlatFileReadAllNative(path, &bytes) != 0) return -1;
  PlatRegStore store;
  if (PlatRegistryParse(bytes.data(), bytes.size(), &store) != 0) return -1;
  const PlatRegValue* v = PlatRegistryFind(store, root, subkey, value);
  if (!v) return -1;
  *out = *v;
  return 0;
}
