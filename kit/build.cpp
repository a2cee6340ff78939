// Game source folders (see build.h).
#include "kit/build.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/sjis.h"
#include "core/config.h"
#include "kit/build_check.h"
#include "kit/config_writer.h"
#include "kit/pack_writer.h"
#include "platform/file.h"
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

static std::string Lower(std::string s) {
  StrLowerSjis(s.data());
  return s;
}

// A name compared as the engine compares file names: without regard to ASCII case.
static bool IsNamed(const std::string& name, const char* want) { return Lower(name) == want; }

// Whether a game name ("savech\\save01.sd") lies in the top folder given.
static bool InFolder(const std::string& name, const std::string& folder) {
  return Lower(name).rfind(folder + "\\", 0) == 0;
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
  out->root = src_native;
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
  // What the engine refuses when it reads the project configuration at start-up.
  bool size_ok =
      (cfg->width == 0 && cfg->height == 0) || (cfg->width >= CFG_WIDTH_MIN && cfg->width <= CFG_SIDE_MAX &&
                                                cfg->height >= CFG_HEIGHT_MIN && cfg->height <= CFG_SIDE_MAX);
  if (!size_ok) {
    *err = "project.txt: the engine does not start a game of " + std::to_string(cfg->width) + " x " +
           std::to_string(cfg->height) + ": width " + std::to_string(CFG_WIDTH_MIN) + " to " +
           std::to_string(CFG_SIDE_MAX) + ", height " + std::to_string(CFG_HEIGHT_MIN) + " to " +
           std::to_string(CFG_SIDE_MAX) + " (or both 0 for the size of the screen)";
    return -1;
  }
  if (cfg->title.size() > CFG_TITLE_MAX) {
    *err = "project.txt: the title is " + std::to_string(cfg->title.size()) + " bytes in Shift-JIS; the engine takes " +
           std::to_string(CFG_TITLE_MAX) + " at most";
    return -1;
  }
  if (cfg->threaded > 1) {
    *err = "project.txt: threaded takes 0 or 1";
    return -1;
  }
  return 0;
}

int KitCompileGame(const KitGameSource& src, std::vector<KitCompiledFile>* files, std::string* err,
                   KitScriptFacts* facts) {
  files->clear();
  if (KitCompileScripts(src.scripts, files, err, facts) != 0) return -1;
  KitProjectConfig cfg;
  if (KitProjectFromSettings(src.project, &cfg, err) != 0) return -1;
  files->push_back({"chbin\\zpcfg.zbn", KitProjectConfigBuild(cfg)});
  return 0;
}

std::string KitSaveFolderIn(const std::string& folder_native) {
  u32 mode = 0;
  std::error_code ec;
  for (fs::directory_iterator it(folder_native, ec), end; !ec && it != end; it.increment(ec)) {
    if (!IsNamed(it->path().filename().string(), "zpsfs.dat")) continue;
    std::vector<u8> v;
    // A short file reads as zeros for the values it lacks; other modes keep the default.
    if (PlatFileReadAllNative(it->path().string(), &v) == 0 && v.size() >= 4 * (CFG_SAVE_MODE_INDEX + 1)) {
      const u8* p = &v[4 * CFG_SAVE_MODE_INDEX];
      u32 m = static_cast<u32>(p[0]) | static_cast<u32>(p[1]) << 8 | static_cast<u32>(p[2]) << 16 |
              static_cast<u32>(p[3]) << 24;
      if (m <= 3) mode = m;
    }
    break;
  }
  return mode == 0 ? "savech" : "";
}

int KitBuildGame(const KitGameSource& src, const std::string& out_native, bool packed, std::string* err,
                 KitBuildReport* report) {
  std::vector<KitCompiledFile> files;
  KitScriptFacts facts;
  if (KitCompileGame(src, &files, err, &facts) != 0) return -1;
  KitBuildReport own;
  if (!report) report = &own;
  if (KitCheckGame(src, facts, &report->warnings, err) != 0) return -1;
  // The saves of a run from the source folder are the author's, not a new player's.
  std::string saves = src.root.empty() ? std::string() : KitSaveFolderIn(src.root);
  std::vector<std::pair<std::string, std::string>> assets;
  size_t saves_left_out = 0;
  for (const auto& asset : src.assets) {
    if (!saves.empty() && InFolder(asset.second, saves)) {
      saves_left_out++;
      continue;
    }
    assets.push_back(asset);
  }
  if (saves_left_out)
    report->notes.push_back("left out " + saves + "/ (" + std::to_string(saves_left_out) +
                            (saves_left_out == 1 ? " file" : " files") +
                            "): the saves of runs from the source folder; a player starts without them");
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
    for (const auto& [native, name] : assets)
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
  std::string kept_loose;
  for (const auto& [native, name] : assets) {
    // The engine opens the settings files beside the game as files, never through a pack.
    bool settings = IsNamed(name, "zpcfg.dat") || IsNamed(name, "zpsfs.dat");
    if (is_movie(name) || settings) {
      if (!copy_loose(native, name)) return -1;
      if (settings) kept_loose += (kept_loose.empty() ? "" : " and ") + PlatSjisToUtf8(name);
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
  if (!kept_loose.empty())
    report->notes.push_back(
        "copied " + kept_loose +
        " beside data.zpf, not into it: the engine opens such a file beside the game, never in a pack");
  return KitPackWrite((fs::path(out_native) / "data.zpf").string(), entries, KitPackOptions{}, err);
}
