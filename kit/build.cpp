// Game source folders (see build.h).
#include "kit/build.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "kit/config_writer.h"
#include "kit/pack_writer.h"
#include "platform/platform.h"

namespace fs = std::filesystem;

static bool ReadAll(const fs::path& p, std::string* out) {
  std::ifstream f(p, std::ios::binary);
  if (!f) return false;
  std::ostringstream ss;
  ss << f.rdbuf();
  *out = ss.str();
  return true;
}

// The game's name of a path relative to the source folder: Shift-JIS with "\" separators.
static std::string GameName(const fs::path& rel) {
  std::string s = PlatUtf8ToSjis(rel.generic_string());
  std::replace(s.begin(), s.end(), '/', '\\');
  return s;
}

static std::string Trim(const std::string& s) {
  size_t a = s.find_first_not_of(" \t\r");
  size_t b = s.find_last_not_of(" \t\r");
  return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

int KitReadSourceFolder(const std::string& src_native, KitGameSource* out, std::string* err, bool scripts_optional) {
  std::error_code ec;
  fs::path root = src_native;
  if (!fs::is_directory(root, ec)) {
    *err = "not a folder: " + src_native;
    return -1;
  }
  std::vector<fs::path> files;
  for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec))
    if (it->is_regular_file(ec)) files.push_back(fs::relative(it->path(), root, ec));
  if (ec) {
    *err = "cannot list " + src_native;
    return -1;
  }
  std::sort(files.begin(), files.end());
  *out = KitGameSource{};
  for (const fs::path& rel : files) {
    std::string generic = rel.generic_string();
    if (generic == "project.txt") {
      std::string text;
      if (!ReadAll(root / rel, &text)) {
        *err = "cannot read " + (root / rel).string();
        return -1;
      }
      std::istringstream lines(text);
      std::string line;
      int n = 0;
      while (std::getline(lines, line)) {
        n++;
        std::string t = Trim(line);
        if (t.empty() || t[0] == '#' || t[0] == ';') continue;
        size_t eq = t.find('=');
        if (eq == std::string::npos) {
          *err = "project.txt:" + std::to_string(n) + ": key=value expected";
          return -1;
        }
        out->project.push_back({Trim(t.substr(0, eq)), Trim(t.substr(eq + 1))});
      }
    } else if (generic.rfind("script/", 0) == 0 && rel.extension() == ".zs") {
      KitScriptSource s;
      if (!ReadAll(root / rel, &s.text)) {
        *err = "cannot read " + (root / rel).string();
        return -1;
      }
      s.text = PlatUtf8ToSjis(s.text);
      s.name = GameName(rel);
      out->scripts.push_back(s);
    } else if (generic.rfind("chbin/", 0) != 0) {
      out->assets.push_back({(root / rel).string(), GameName(rel)});
    }
  }
  if (out->scripts.empty() && !scripts_optional) {
    *err = "no scripts under " + (root / "script").string();
    return -1;
  }
  return 0;
}

int KitWriteFilesLoose(const std::string& out_native, const std::vector<KitCompiledFile>& files, std::string* err) {
  std::error_code ec;
  for (const KitCompiledFile& f : files) {
    std::string rel = PlatSjisToUtf8(f.name);
    std::replace(rel.begin(), rel.end(), '\\', '/');
    fs::path path = fs::path(out_native) / rel;
    fs::create_directories(path.parent_path(), ec);
    fs::path tmp = path;
    tmp += ".tmp";
    {
      std::ofstream o(tmp, std::ios::binary | std::ios::trunc);
      o.write(reinterpret_cast<const char*>(f.data.data()), static_cast<std::streamsize>(f.data.size()));
      if (!o) {
        *err = "cannot write " + path.string();
        return -1;
      }
    }
    fs::rename(tmp, path, ec);
    if (ec) {
      *err = "cannot write " + path.string();
      return -1;
    }
  }
  return 0;
}

int KitProjectFromSettings(const std::vector<std::pair<std::string, std::string>>& settings, KitProjectConfig* cfg,
                           std::string* err) {
  for (const auto& [key, value] : settings) {
    if (key == "title") {
      cfg->title = PlatUtf8ToSjis(value);
      continue;
    }
    if (key == "images" || key == "sounds") {
      u8* order = key == "images" ? cfg->image_order : cfg->sound_order;
      size_t cap = key == "images" ? 8 : 4;
      std::fill(order, order + cap, 0);
      std::istringstream items(value);
      std::string item;
      size_t k = 0;
      while (std::getline(items, item, ',') && k < cap) order[k++] = static_cast<u8>(std::stoul(Trim(item)));
      continue;
    }
    char* end = nullptr;
    long long n = std::strtoll(value.c_str(), &end, 0);
    if (value.empty() || *end) {
      *err = "project.txt: " + key + " takes a number";
      return -1;
    }
    if (key == "width") cfg->width = static_cast<i32>(n);
    else if (key == "height") cfg->height = static_cast<i32>(n);
    else if (key == "show") cfg->show_after_first_frame = static_cast<u32>(n);
    else if (key == "threaded") cfg->threaded = static_cast<u32>(n);
    else if (key == "debug") cfg->debug = static_cast<u32>(n);
    else if (key == "sound") cfg->sound = static_cast<u32>(n);
    else if (key == "resizable") cfg->resizable = static_cast<u32>(n);
    else if (key == "framed") cfg->framed = static_cast<u32>(n);
    else {
      *err = "project.txt: unknown setting " + key;
      return -1;
    }
  }
  return 0;
}

int KitCompileGame(const KitGameSource& src, std::vector<KitCompiledFile>* files, std::string* err) {
  files->clear();
  if (KitCompileScripts(src.scripts, files, err) != 0) return -1;
  KitProjectConfig cfg;
  if (KitProjectFromSettings(src.project, &cfg, err) != 0) return -1;
  files->push_back({"chbin\\zpcfg.zbn", KitProjectConfigBuild(cfg)});
  return 0;
}

int KitBuildGame(const KitGameSource& src, const std::string& out_native, bool packed, std::string* err) {
  std::vector<KitCompiledFile> files;
  if (KitCompileGame(src, &files, err) != 0) return -1;
  std::error_code ec;
  fs::create_directories(out_native, ec);
  // Loose data files; movies stay loose in a packed game too, since players open them as files.
  auto copy_loose = [&](const std::string& native, const std::string& name) {
    std::string rel = PlatSjisToUtf8(name);
    std::replace(rel.begin(), rel.end(), '\\', '/');
    fs::path to = fs::path(out_native) / rel;
    fs::create_directories(to.parent_path(), ec);
    if (fs::copy_file(native, to, fs::copy_options::overwrite_existing, ec)) return true;
    *err = "cannot copy " + native;
    return false;
  };
  auto is_movie = [](const std::string& name) {
    std::string ext = fs::path(name).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext == ".mpg" || ext == ".mpeg" || ext == ".avi" || ext == ".wmv" || ext == ".mp4" || ext == ".swf";
  };
  if (!packed) {
    if (KitWriteFilesLoose(out_native, files, err) != 0) return -1;
    for (const auto& [native, name] : src.assets)
      if (!copy_loose(native, name)) return -1;
    return 0;
  }
  std::vector<KitPackEntry> entries;
  for (const KitCompiledFile& f : files) {
    KitPackEntry e;
    e.name = f.name;
    e.data = f.data;
    entries.push_back(std::move(e));
  }
  for (const auto& [native, name] : src.assets) {
    if (is_movie(name)) {
      if (!copy_loose(native, name)) return -1;
      continue;
    }
    KitPackEntry e;
    e.name = name;
    std::string bytes;
    if (!ReadAll(native, &bytes)) {
      *err = "cannot read " + native;
      return -1;
    }
    e.data.assign(bytes.begin(), bytes.end());
    entries.push_back(std::move(e));
  }
  return KitPackWrite((fs::path(out_native) / "data.zpf").string(), entries, KitPackOptions{}, err);
}
