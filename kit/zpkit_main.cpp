// zpkit: the kit's command line. Each subcommand writes one of the formats the runtime reads.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "core/pack.h"
#include "core/usererr.h"
#include "kit/build.h"
#include "kit/bundle.h"
#include "kit/cmddefs.h"
#include "kit/config_writer.h"
#include "kit/demo_art.h"
#include "kit/demo_chara.h"
#include "kit/errtexts.h"
#include "kit/frameset_writer.h"
#include "kit/movie_writer.h"
#include "kit/ogg_writer.h"
#include "kit/pack_writer.h"
#include "kit/psb_writer.h"
#include "kit/script_compiler.h"
#include "kit/zcg_writer.h"
#include "kit/zp.h"
#include "platform/file.h"
#include "platform/platform.h"
#include "script/script.h"

static int Fail(const std::string& why) {
  std::fprintf(stderr, "zpkit: %s\n", why.c_str());
  return 1;
}

static bool ParseU32(const char* s, u32* v) {
  char* end = nullptr;
  unsigned long long x = std::strtoull(s, &end, 0);
  if (!*s || *end || x > 0xFFFFFFFFull) return false;
  *v = static_cast<u32>(x);
  return true;
}

// zpkit pack FOLDER OUT.zpf [--no-recovery] [--store] [--zcg]
// --zcg stores every BMP, PNG and JPEG picture converted to the engine's own format (type 8)
// under its original name.
static int CmdPack(int argc, char** argv) {
  if (argc < 2) return -1;
  KitPackOptions opt;
  bool store = false, zcg = false;
  for (int i = 2; i < argc; i++) {
    if (std::strcmp(argv[i], "--no-recovery") == 0) opt.recovery = false;
    else if (std::strcmp(argv[i], "--store") == 0) store = true;
    else if (std::strcmp(argv[i], "--zcg") == 0) zcg = true;
    else return -1;
  }
  std::vector<KitPackEntry> entries;
  std::string err;
  if (KitPackCollectFolder(argv[0], &entries, &err) != 0) return Fail(err);
  // A picture that fails to decode reports on the terminal with the engine's own text.
  static std::vector<KitErrText> texts;
  if (zcg) {
    PlatDialogsSetStderr(true);
    texts = KitDefaultErrorTexts();
    g_UserErrCount = 0;
    for (const KitErrText& t : texts) {
      if (g_UserErrCount >= USER_ERR_MAX) break;
      g_UserErrCodes[g_UserErrCount] = t.code;
      g_UserErrTexts[g_UserErrCount++] = t.text.c_str();
    }
  }
  for (KitPackEntry& e : entries) {
    e.compress = !store;
    if (!zcg) continue;
    std::vector<u8> converted;
    int r = KitZcgFromPictureFile(e.name, e.data, &converted, &err);
    if (r < 0) return Fail(err);
    if (r == 0) {
      e.data = std::move(converted);
      e.type = PACK_TYPE_ZCG;
    }
  }
  if (KitPackWrite(argv[1], entries, opt, &err) != 0) return Fail(err);
  return 0;
}

// zpkit demo-art FOLDER [WIDTH HEIGHT]: the demo game's pictures as BMP files under FOLDER.
static int CmdDemoArt(int argc, char** argv) {
  if (argc != 1 && argc != 3) return -1;
  u32 w = 640, h = 480;
  if (argc == 3 && (!ParseU32(argv[1], &w) || !ParseU32(argv[2], &h))) return -1;
  std::string err;
  if (KitDemoArtWrite(argv[0], static_cast<i32>(w), static_cast<i32>(h), &err) != 0) return Fail(err);
  return 0;
}

// zpkit bundle OUT GAME: a folder a player can run, from a built game folder (see bundle.h).
// zpkit bundle OUT PACK.zpf [--saver PREVIEW.bmp]: one standalone program with the pack appended;
// with --saver a screen saver whose preview is the given 24-bit BMP. Both take the zephra beside
// zpkit, so a release build's zpkit bundles its release runtime.
static int CmdBundle(int argc, char** argv) {
  if (argc != 2 && !(argc == 4 && std::strcmp(argv[2], "--saver") == 0)) return -1;
  std::filesystem::path zephra = std::filesystem::path(PlatExecutablePath()).parent_path() / "zephra";
  std::string err;
  if (argc == 2 && PlatFileKindNative(argv[1]) == PLAT_FILE_FOLDER) {
    KitBundleReport report;
    int r = KitBundleGameFolder(zephra.string(), argv[1], argv[0], &report, &err);
    for (const std::string& w : report.warnings) std::fprintf(stderr, "zpkit bundle: warning: %s\n", w.c_str());
    if (r != 0) return Fail(err);
    for (const std::string& w : report.written) std::printf("wrote %s\n", w.c_str());
    return 0;
  }
  if (KitBundleWrite(zephra.string(), argv[1], argv[0], &err, argc == 4 ? argv[3] : "") != 0) return Fail(err);
  return 0;
}

// zpkit settings OUT.dat [INDEX=VALUE ...]: the engine settings, defaults unless given.
static int CmdSettings(int argc, char** argv) {
  if (argc < 1) return -1;
  std::vector<u32> v = KitEngineSettingsDefaults();
  for (int i = 1; i < argc; i++) {
    const char* eq = std::strchr(argv[i], '=');
    u32 index = 0, value = 0;
    if (!eq || !ParseU32(std::string(argv[i], static_cast<size_t>(eq - argv[i])).c_str(), &index) ||
        index >= v.size() || !ParseU32(eq + 1, &value))
      return -1;
    v[index] = value;
  }
  return KitSettingsValuesWrite(argv[0], v) == 0 ? 0 : Fail(std::string("cannot write ") + argv[0]);
}

// zpkit savefolder OUT.dat MODE
static int CmdSaveFolder(int argc, char** argv) {
  u32 mode = 0;
  if (argc != 2 || !ParseU32(argv[1], &mode)) return -1;
  return KitSaveFolderSettingsWrite(argv[0], mode) == 0 ? 0 : Fail(std::string("cannot write ") + argv[0]);
}

// zpkit project OUT.zbn [key=value ...]: width height show threaded debug sound resizable framed
// (numbers), images=1,2,3,4,5 sounds=1,2 (extension orders), title=TEXT (UTF-8).
static int CmdProject(int argc, char** argv) {
  if (argc < 1) return -1;
  KitProjectConfig cfg;
  for (int i = 1; i < argc; i++) {
    const char* eq = std::strchr(argv[i], '=');
    if (!eq) return -1;
    std::string key(argv[i], static_cast<size_t>(eq - argv[i]));
    const char* val = eq + 1;
    u32 n = 0;
    if (key == "title") {
      cfg.title = PlatUtf8ToSjis(val);
    } else if (key == "images" || key == "sounds") {
      u8* order = key == "images" ? cfg.image_order : cfg.sound_order;
      size_t cap = key == "images" ? 8 : 4;
      std::memset(order, 0, cap);
      std::string list = val;
      size_t k = 0, start = 0;
      while (start <= list.size() && k < cap) {
        size_t comma = list.find(',', start);
        std::string item = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (!ParseU32(item.c_str(), &n) || n > 255) return -1;
        order[k++] = static_cast<u8>(n);
        if (comma == std::string::npos) break;
        start = comma + 1;
      }
    } else if (ParseU32(val, &n)) {
      if (key == "width") cfg.width = static_cast<i32>(n);
      else if (key == "height") cfg.height = static_cast<i32>(n);
      else if (key == "show") cfg.show_after_first_frame = n;
      else if (key == "threaded") cfg.threaded = n;
      else if (key == "debug") cfg.debug = n;
      else if (key == "sound") cfg.sound = n;
      else if (key == "resizable") cfg.resizable = n;
      else if (key == "framed") cfg.framed = n;
      else return -1;
    } else {
      return -1;
    }
  }
  return KitProjectConfigWrite(argv[0], cfg) == 0 ? 0 : Fail(std::string("cannot write ") + argv[0]);
}

// zpkit demosounds FOLDER: the demo game's tune (bgm/demo.ogg) and chime (se/chime.wav).
static int CmdDemoSounds(int argc, char** argv) {
  if (argc != 1) return -1;
  return KitDemoSoundsWrite(argv[0]) == 0 ? 0 : Fail(std::string("cannot write the sounds under ") + argv[0]);
}

// zpkit movie OUT.mpg [WxH] [SECONDS] [TONE_HZ] [RRGGBB,RRGGBB,...]: a test movie, one solid colour a
// second and a sine tone (0 for none).
static int CmdMovie(int argc, char** argv) {
  if (argc < 1 || argc > 5) return -1;
  KitMovieSpec spec;
  if (argc > 1 && std::sscanf(argv[1], "%dx%d", &spec.width, &spec.height) != 2) return -1;
  if (argc > 2) spec.seconds = std::atoi(argv[2]);
  if (argc > 3) spec.tone_hz = std::atoi(argv[3]);
  if (argc > 4) {
    spec.colours.clear();
    for (const char* p = argv[4]; *p;) {
      char* end = nullptr;
      spec.colours.push_back(static_cast<u32>(std::strtoul(p, &end, 16)));
      if (end == p) return -1;
      p = *end == ',' ? end + 1 : end;
    }
  }
  std::string err;
  return KitWriteTestMovie(argv[0], spec, &err) == 0 ? 0 : Fail(err);
}

// zpkit compile SRC OUT: the scripts of a source folder compiled into OUT/chbin as loose files.
static int CmdCompile(int argc, char** argv) {
  if (argc != 2) return -1;
  KitGameSource src;
  std::vector<KitCompiledFile> files;
  std::string err;
  if (KitReadSourceFolder(argv[0], &src, &err) != 0) return Fail(err);
  if (KitCompileScripts(src.scripts, &files, &err) != 0) return Fail(err);
  if (KitWriteFilesLoose(argv[1], files, &err) != 0) return Fail(err);
  return 0;
}

// The name of p split into a prefix and a trailing number (-1 when it has none).
static int Numbered(const std::string& name, std::string* prefix) {
  size_t d = name.find_last_not_of("0123456789");
  if (d == std::string::npos || d + 1 == name.size()) return -1;
  *prefix = name.substr(0, d + 1);
  return std::stoi(name.substr(d + 1));
}

static std::string ParamText(const KitParamDef& p) {
  static const char* const kKinds[] = {"number", "string", "raw"};
  std::string t;
  if (p.kind != ARG_KIND_NUMBER) t += std::string(" ") + (p.raw_text ? "text" : kKinds[p.kind]);
  if (p.cls) t += " /" + std::to_string(p.cls);
  return t;
}

static bool ReadWhole(const std::string& path, std::vector<u8>* out) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  out->clear();
  u8 buf[65536];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) out->insert(out->end(), buf, buf + n);
  bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

// zpkit frameset OUT COLOUR.jpg[:ALPHA.jpg]... [--alpha-flag N] [--values A,B,C]
// The alpha flag defaults to 1 when any frame has an alpha picture, else 0.
static int CmdFrameSet(int argc, char** argv) {
  if (argc < 1) return -1;
  std::vector<KitFrame> frames;
  i32 values[3] = {0, 0, 0};
  long flag = -1;
  bool any_alpha = false;
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    if ((a == "--alpha-flag" || a == "--values") && i + 1 < argc) {
      std::string v = argv[++i];
      char* end = nullptr;
      if (a == "--alpha-flag") {
        flag = std::strtol(v.c_str(), &end, 0);
        if (v.empty() || *end) return -1;
        continue;
      }
      const char* p = v.c_str();
      for (int k = 0; k < 3; k++) {
        values[k] = static_cast<i32>(std::strtol(p, &end, 0));
        if (end == p || (k < 2 && *end != ',') || (k == 2 && *end)) return -1;
        p = end + 1;
      }
      continue;
    }
    if (a.rfind("--", 0) == 0) return -1;
    KitFrame f;
    size_t colon = a.find(':');
    std::string colour = a.substr(0, colon);
    if (!ReadWhole(colour, &f.colour)) return Fail("cannot read " + colour);
    if (colon != std::string::npos) {
      std::string alpha = a.substr(colon + 1);
      if (!ReadWhole(alpha, &f.alpha)) return Fail("cannot read " + alpha);
      any_alpha = true;
    }
    frames.push_back(std::move(f));
  }
  std::vector<u8> bytes = KitFrameSetEncode(frames, static_cast<i32>(flag >= 0 ? flag : any_alpha ? 1 : 0), values);
  return KitWriteFileAtomic(argv[0], bytes) == 0 ? 0 : Fail(std::string("cannot write ") + argv[0]);
}

// zpkit build SRC OUT [--loose]: a runnable game folder from a source folder, packed into
// OUT/data.zpf (or written as loose files).
static int CmdBuild(int argc, char** argv) {
  if (argc < 2 || argc > 3 || (argc == 3 && std::strcmp(argv[2], "--loose") != 0)) return -1;
  KitGameSource src;
  std::string err;
  if (KitReadSourceFolder(argv[0], &src, &err) != 0) return Fail(err);
  KitBuildReport report;
  int r = KitBuildGame(src, argv[1], argc == 2, &err, &report);
  for (const std::string& w : report.warnings) std::fprintf(stderr, "zpkit build: warning: %s\n", w.c_str());
  if (r != 0) return Fail(err);
  for (const std::string& n : report.notes) std::printf("zpkit build: %s\n", n.c_str());
  return 0;
}

// zpkit commands: the command reference (names and parameters by id) as Markdown. Runs of
// numbered parameters of one kind (flag1 ... flag119) are written as one range.
static int CmdCommands(int argc, char**) {
  if (argc != 0) return -1;
  std::printf("| slot | command | parameters: id `name` (kind, /range class) |\n|---|---|---|\n");
  for (const KitCmdDef& c : KitCommandTable()) {
    if (c.name.rfind("undefined", 0) == 0) continue;
    std::string params;
    const std::vector<KitParamDef>& ps = c.params;
    for (size_t i = 0; i < ps.size(); i++) {
      if (ps[i].name.empty()) continue;
      std::string prefix, next_prefix;
      int n = Numbered(ps[i].name, &prefix);
      size_t j = i;
      while (n >= 0 && j + 1 < ps.size() && Numbered(ps[j + 1].name, &next_prefix) == n + static_cast<int>(j + 1 - i) &&
             next_prefix == prefix && ParamText(ps[j + 1]) == ParamText(ps[i]))
        j++;
      if (!params.empty()) params += ", ";
      if (j >= i + 2) {
        params +=
            std::to_string(ps[i].id) + "-" + std::to_string(ps[j].id) + " `" + ps[i].name + "`...`" + ps[j].name + "`";
        params += ParamText(ps[i]);
        i = j;
        continue;
      }
      params += std::to_string(ps[i].id) + " `" + ps[i].name + "`" + ParamText(ps[i]);
    }
    std::printf("| %u | `%s` | %s |\n", c.slot, c.name.c_str(), params.empty() ? "-" : params.c_str());
  }
  return 0;
}

// zpkit demo-chara FOLDER: the demo's animated character as FOLDER/cg/girl.psb.
static int CmdDemoChara(int argc, char** argv) {
  if (argc != 1) return -1;
  std::string err;
  if (KitDemoCharacterWrite(argv[0], &err) != 0) return Fail(err);
  return 0;
}

// zpkit psb SRC OUT.psb: an animated character from its description and PNG parts.
static int CmdPsb(int argc, char** argv) {
  if (argc != 2) return -1;
  std::string err;
  if (KitPsbWriteFile(argv[0], argv[1], &err) != 0) return Fail(err);
  return 0;
}

// zpkit zp: the compiler the runtime starts for a game run from its source folder.
static int CmdZp(int argc, char**) {
  if (argc != 0) return -1;
  return KitZpRun();
}

struct Command {
  const char* name;
  int (*run)(int argc, char** argv);
  const char* usage;
};

static const Command kCommands[] = {
    {"build", CmdBuild, "build SRC OUT [--loose]"},
    {"compile", CmdCompile, "compile SRC OUT"},
    {"zp", CmdZp, "zp (started by zephra in a source folder)"},
    {"commands", CmdCommands, "commands"},
    {"demo-art", CmdDemoArt, "demo-art FOLDER [WIDTH HEIGHT]"},
    {"psb", CmdPsb, "psb SRC OUT.psb"},
    {"demo-chara", CmdDemoChara, "demo-chara FOLDER"},
    {"pack", CmdPack, "pack FOLDER OUT.zpf [--no-recovery] [--store] [--zcg]"},
    {"bundle", CmdBundle, "bundle OUT GAME   (or: zpkit bundle OUT PACK.zpf [--saver PREVIEW.bmp])"},
    {"frameset", CmdFrameSet, "frameset OUT COLOUR.jpg[:ALPHA.jpg]... [--alpha-flag N] [--values A,B,C]"},
    {"settings", CmdSettings, "settings OUT.dat [INDEX=VALUE ...]"},
    {"savefolder", CmdSaveFolder, "savefolder OUT.dat MODE"},
    {"demosounds", CmdDemoSounds, "demosounds FOLDER"},
    {"movie", CmdMovie, "movie OUT.mpg [WxH] [SECONDS] [TONE_HZ] [RRGGBB,...]"},
    {"project", CmdProject,
     "project OUT.zbn [width=W height=H title=T threaded=0|1 debug= sound= resizable= framed= show= images=1,2,3,4,5 "
     "sounds=1,2]"},
};

// Asked for (--help, -h, help): on stdout, status 0; after a mistake: on stderr, status 2.
static int Usage(std::FILE* to, int status) {
  std::fprintf(to, "usage: zpkit <command> [arguments]\n");
  for (const Command& c : kCommands) std::fprintf(to, "  zpkit %s\n", c.usage);
  std::fprintf(to, "The commands and the script text are described in kit/README.md.\n");
  return status;
}

int main(int argc, char** argv) {
  if (argc < 2) return Usage(stderr, 2);
  if (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h") || !std::strcmp(argv[1], "help"))
    return Usage(stdout, 0);
  for (const Command& c : kCommands) {
    if (std::strcmp(argv[1], c.name) != 0) continue;
    int r = c.run(argc - 2, argv + 2);
    if (r < 0) {
      std::fprintf(stderr, "usage: zpkit %s\n", c.usage);
      return 2;
    }
    return r;
  }
  std::fprintf(stderr, "zpkit: unknown command '%s'\n", argv[1]);
  return Usage(stderr, 2);
}
