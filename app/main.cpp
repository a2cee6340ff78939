// zephra [GAME] [ARGS...]: runs the game in GAME (a game folder or a standalone game).
// Before the engine starts, a first run that finds no game is told in one plain line on stderr
// what was looked for and where (the engine's own dialog follows), and "--help" or "-h" with no
// game to take it as an argument prints the usage.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "core/pack.h"
#include "platform/platform.h"
#include "shell/startup.h"

namespace fs = std::filesystem;

static const char kUsage[] =
    "usage: zephra [GAME] [ARGS...]\n"
    "Runs GAME: a game folder (default: the current folder) or a standalone game made by zpkit bundle.\n"
    "A game folder holds the game's pack (*.zpf, made by zpkit build) or its compiled files under chbin/,\n"
    "or it is a source folder (project.txt and script/*.zs), which zpkit beside zephra compiles at start.\n"
    "ARGS are the game's own (\"/info\" shows the notices of the libraries). Without a display, set\n"
    "SDL_VIDEODRIVER=dummy and ZEPHRA_DIALOGS=stderr; README.md lists the other variables.\n";

static std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return s;
}

static bool EndsWith(const std::string& s, const char* tail) {
  size_t n = std::strlen(tail);
  return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

// Whether a folder holds what the engine starts a game from, its names compared without regard
// to case as the engine compares them: a pack in it or in its "pac" folder, the project
// configuration "chbin/zpcfg.zbn", or scripts for the compiler under "script/".
static bool HoldsGame(const fs::path& folder) {
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::string name = Lower(it->path().filename().string());
    if (it->is_regular_file(ec) && EndsWith(name, ".zpf")) return true;
    if (!it->is_directory(ec)) continue;
    std::error_code ec2;
    if (name == "pac" || name == "chbin") {
      for (fs::directory_iterator in(it->path(), ec2), e; !ec2 && in != e; in.increment(ec2)) {
        std::string inner = Lower(in->path().filename().string());
        if (name == "pac" ? EndsWith(inner, ".zpf") : inner == "zpcfg.zbn") return true;
      }
    } else if (name == "script") {
      for (fs::recursive_directory_iterator in(it->path(), ec2), e; !ec2 && in != e; in.increment(ec2))
        if (EndsWith(Lower(in->path().filename().string()), ".zs")) return true;
    }
  }
  return false;
}

// A file the engine would refuse as a game: it carries no marker block of the runtime.
static bool RefusedAsGame(const std::string& file) {
  g_PackExeNative = file;
  bool refused = PackAppendedBaseSize() == 0;
  g_PackExeNative.clear();
  return refused;
}

// Returns the status to end with, or -1 to start the engine.
static int FirstWords(int argc, char** argv) {
  if (PackSelfIsStandalone()) return -1;  // a standalone game: every argument is the game's
  std::string first = argc >= 2 ? argv[1] : "";
  int kind = first.empty() ? 0 : PlatPathKind(first);
  bool switch_like = !first.empty() && (first[0] == '/' || first[0] == '-') && first.find('/', 1) == std::string::npos;
  if (kind == 1) {
    if (RefusedAsGame(first))
      std::fprintf(stderr,
                   "zephra: %s is not a game: neither a game folder nor a standalone game made by zpkit bundle\n",
                   first.c_str());
    return -1;
  }
  if (!first.empty() && kind == 0 && !switch_like) {
    std::fprintf(stderr, "zephra: no game at %s: there is no such file or folder\n", first.c_str());
    return -1;
  }
  fs::path folder = kind == 2 ? fs::path(first) : fs::current_path();
  // The engine answers these two before it looks for a game.
  if (HoldsGame(folder) || Lower(first) == "/info" || Lower(first) == "/zpcfg") return -1;
  if (kind != 2 && (first == "--help" || first == "-h")) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  std::fprintf(stderr,
               "zephra: no game in %s: looked there for a pack (*.zpf, also in pac/) or chbin/zpcfg.zbn, and for a "
               "source folder's project.txt and script/*.zs (zephra --help says more)\n",
               fs::absolute(folder).lexically_normal().string().c_str());
  return -1;
}

int main(int argc, char** argv) {
  int status = FirstWords(argc, argv);
  return status >= 0 ? status : WinMain(argc, argv);
}
