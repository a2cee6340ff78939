// Standalone-game writer. The pack is appended unchanged: its offsets are relative to its own
// start, which the runtime takes as the base of the appended pack.
#include "kit/bundle.h"

#include <libavcodec/version.h>
#include <libavformat/version.h>
#include <libavutil/version.h>
#include <libswresample/version.h>
#include <libswscale/version.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <vector>

#include "common/sjis.h"
#include "common/types.h"
#include "core/pack.h"
#include "emote/emote_api.h"
#include "kit/build.h"
#include "kit/pack_writer.h"
#include "platform/file.h"
#include "platform/platform.h"
#include "platform/resource.h"

namespace fs = std::filesystem;

static void Put32(std::vector<u8>& out, u32 v) {
  for (int i = 0; i < 4; i++) out.push_back(static_cast<u8>(v >> (8 * i)));
}

static u32 Le32(const u8* p) {
  return static_cast<u32>(p[0]) | static_cast<u32>(p[1]) << 8 | static_cast<u32>(p[2]) << 16 |
         static_cast<u32>(p[3]) << 24;
}

int KitSaverPreviewFromBmp(const std::vector<u8>& bmp, std::vector<u8>* out, std::string* err) {
  if (bmp.size() < 54 || bmp[0] != 'B' || bmp[1] != 'M') return *err = "the preview is not a BMP file", -1;
  i32 w = static_cast<i32>(Le32(&bmp[18])), h = static_cast<i32>(Le32(&bmp[22]));
  u32 bits = static_cast<u32>(bmp[28]) | static_cast<u32>(bmp[29]) << 8;
  u32 data = Le32(&bmp[10]);
  if (bits != 24 || Le32(&bmp[30]) != 0) return *err = "the preview must be a 24-bit uncompressed BMP", -1;
  bool top_down = h < 0;
  i64 rows = top_down ? -static_cast<i64>(h) : h;
  if (w <= 0 || rows <= 0 || w > 8192 || rows > 8192) return *err = "the preview's size is out of range", -1;
  u64 stride = (static_cast<u64>(w) * 3 + 3) & ~u64{3};
  if (data < 54 || data > bmp.size() || stride * static_cast<u64>(rows) > bmp.size() - data)
    return *err = "the preview's rows run past the end of the file", -1;
  size_t row = static_cast<size_t>(w) * 3;
  out->assign(54, 0);
  (*out)[0] = 'B';
  (*out)[1] = 'M';
  u32 total = static_cast<u32>(54 + row * static_cast<size_t>(rows));
  auto put = [&](size_t at, u32 v) {
    for (int i = 0; i < 4; i++) (*out)[at + i] = static_cast<u8>(v >> (8 * i));
  };
  put(2, total);
  put(10, 54);
  put(14, 40);
  put(18, static_cast<u32>(w));
  put(22, static_cast<u32>(rows));
  (*out)[26] = 1;
  (*out)[28] = 24;
  put(34, static_cast<u32>(row * static_cast<size_t>(rows)));
  for (i64 y = 0; y < rows; y++) {
    // Stored bottom-up: the first stored row is the picture's last.
    i64 src_row = top_down ? rows - 1 - y : y;
    const u8* r = &bmp[data + static_cast<size_t>(stride) * static_cast<size_t>(src_row)];
    out->insert(out->end(), r, r + row);
  }
  return 0;
}

int KitBundleWrite(const std::string& zephra_native, const std::string& pack_native, const std::string& out_native,
                   std::string* err, const std::string& preview_bmp_native) {
  auto fail = [&](const std::string& why) {
    if (err) *err = why;
    return -1;
  };
  std::vector<u8> exe, pack;
  if (PlatFileReadAllNative(zephra_native, &exe) != 0) return fail("cannot read " + zephra_native);
  if (PlatFileReadAllNative(pack_native, &pack) != 0) return fail("cannot read " + pack_native);
  if (pack.size() < PACK_HEADER_SIZE || std::memcmp(pack.data(), kPackMagic, 4) != 0)
    return fail(pack_native + " is not a pack archive");
  std::vector<u8> preview;
  if (!preview_bmp_native.empty()) {
    std::vector<u8> bmp;
    if (PlatFileReadAllNative(preview_bmp_native, &bmp) != 0) return fail("cannot read " + preview_bmp_native);
    std::string why;
    if (KitSaverPreviewFromBmp(bmp, &preview, &why) != 0) return fail(preview_bmp_native + ": " + why);
  }
  u32 size = 0;
  i64 at = PlatResourceFindInImage(exe.data(), exe.size(), "ZP_RES", 201, &size);
  if (at < 0 || size < 4) return fail(zephra_native + " carries no ZP_RES marker block");
  u32 old = static_cast<u32>(exe[at]) | static_cast<u32>(exe[at + 1]) << 8 | static_cast<u32>(exe[at + 2]) << 16 |
            static_cast<u32>(exe[at + 3]) << 24;
  if (old != 4) return fail(zephra_native + " is already a standalone game");
  if (exe.size() > UINT32_MAX) return fail(zephra_native + " is too large");
  u32 a = static_cast<u32>(exe.size());
  for (int i = 0; i < 4; i++) exe[static_cast<size_t>(at) + i] = static_cast<u8>(a >> (8 * i));
  exe.insert(exe.end(), kPackAppendMarker, kPackAppendMarker + 4);
  Put32(exe, static_cast<u32>(PACK_APPENDED_HEADER + preview.size()));  // pack offset from A
  Put32(exe, static_cast<u32>(preview.size()));                         // 0: not a screen saver
  Put32(exe, 0);
  exe.insert(exe.end(), preview.begin(), preview.end());
  exe.insert(exe.end(), pack.begin(), pack.end());
  if (PlatFileWriteAtomicNative(out_native, exe.data(), exe.size(), true) != 0)
    return fail("cannot write " + out_native);
  return 0;
}

// ---- A game folder's bundle ------------------------------------------------------------------

namespace {

std::string Lower(std::string s) {
  StrLowerSjis(s.data());
  return s;
}

bool Contains(const std::vector<u8>& bytes, const char* text) {
  size_t n = std::strlen(text);
  return std::search(bytes.begin(), bytes.end(), text, text + n) != bytes.end();
}

// A copy of a program or library without its debugging sections (binutils' strip); the file as it
// stands when strip is missing or fails.
bool StrippedCopy(const std::string& from, const std::string& to, const char* mode, KitBundleReport* report) {
  std::error_code ec;
  fs::remove(to, ec);
  if (PlatSpawnWait({"strip", mode, "-o", to, from}) == 0 && fs::exists(to, ec)) return true;
  report->warnings.push_back("strip (binutils) failed on " + from + ": copied it with its debugging sections");
  return fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
}

#define KIT_AV_PACKAGE(lib, major) "lib" #lib AV_STRINGIFY(major)

std::string ReadmeText(const std::string& program, const std::vector<std::string>& beside, bool characters) {
  std::string t;
  t += program + "\n\n";
  t += "To play, run ./" + program + " (from this folder or from any other). Keep the files of this folder\n";
  t += "together: the game reads them beside the program. Saves go where the game's settings say\n";
  t += "(by default savech/ in this folder).\n\n";
  t += "On Debian 12 the game needs these packages (other systems have the same libraries under their\n";
  t += "own names):\n\n";
  t += "  sudo apt install libsdl2-2.0-0 libfreetype6 libfontconfig1 libpng16-16 libjpeg62-turbo \\\n";
  t += "    libvorbisfile3 zlib1g libx11-6 libepoxy0 libegl1 libegl-mesa0 libgl1-mesa-dri \\\n";
  t += "    fonts-ipafont-gothic fonts-ipafont-mincho\n\n";
  t += "The IPA fonts draw the game's Japanese text. Movies also need FFmpeg's libraries, the tray\n";
  t += "icon GLib, and opening files or web pages xdg-utils:\n\n";
  t += "  sudo apt install " KIT_AV_PACKAGE(avformat, LIBAVFORMAT_VERSION_MAJOR) " " KIT_AV_PACKAGE(
      avcodec, LIBAVCODEC_VERSION_MAJOR) " " KIT_AV_PACKAGE(avutil, LIBAVUTIL_VERSION_MAJOR) " \\\n";
  t += "    " KIT_AV_PACKAGE(swscale, LIBSWSCALE_VERSION_MAJOR) " " KIT_AV_PACKAGE(
      swresample, LIBSWRESAMPLE_VERSION_MAJOR) " libglib2.0-0 xdg-utils\n\n";
  std::vector<std::pair<std::string, std::string>> files = {{program, "the game"}, {"README.txt", "this text"}};
  if (characters) files.push_back({ZEMOTE_LIBRARY_NAME, "the player of the game's animated characters"});
  for (const std::string& f : beside) files.push_back({f, "read by the game"});
  size_t width = 0;
  for (const auto& f : files) width = std::max(width, f.first.size());
  t += "The files:\n\n";
  for (const auto& [name, what] : files) t += "  " + name + std::string(width + 2 - name.size(), ' ') + what + "\n";
  return t;
}

}  // namespace

int KitBundleGameFolder(const std::string& runtime_native, const std::string& game_native,
                        const std::string& out_native, KitBundleReport* report, std::string* err) {
  auto fail = [&](const std::string& why) {
    *err = why;
    return -1;
  };
  std::error_code ec;
  fs::path game = game_native, out = fs::absolute(out_native, ec).lexically_normal();
  if (!out.has_filename()) out = out.parent_path();  // "dist/mygame/"
  if (!fs::is_directory(game, ec)) return fail("not a folder: " + game_native);
  if (fs::exists(out, ec) && (!fs::is_directory(out, ec) || !fs::is_empty(out, ec)))
    return fail(out_native + " exists and is not an empty folder: give a new one");
  std::string program = out.filename().string();
  if (program.empty() || program == "." || program == "..")
    return fail("the bundle needs a folder name: " + out_native);

  // What travels: the pack (appended to the program) and every other file but the saves.
  std::string saves = KitSaveFolderIn(game_native);
  std::vector<fs::path> packs, beside;
  for (fs::recursive_directory_iterator it(game, ec), end; !ec && it != end; it.increment(ec)) {
    if (!it->is_regular_file(ec)) continue;
    fs::path rel = fs::relative(it->path(), game, ec);
    std::string name = Lower(rel.generic_string());
    bool top = rel.parent_path().empty();
    if (!saves.empty() && name.rfind(saves + "/", 0) == 0) continue;
    bool pack = name.size() > 4 && name.compare(name.size() - 4, 4, ".zpf") == 0 &&
                (top || Lower(rel.parent_path().generic_string()) == "pac");
    (pack ? packs : beside).push_back(rel);
  }
  if (ec) return fail("cannot list " + game_native);
  std::sort(packs.begin(), packs.end());
  if (packs.size() != 1) {
    std::string listed;
    for (const fs::path& p : packs) listed += " " + p.generic_string();
    return fail(game_native + (packs.empty() ? " holds no pack (*.zpf): build it with zpkit build, without --loose"
                                             : " holds several packs (" + listed.substr(1) +
                                                   "); a standalone game carries one: build it with zpkit build"));
  }
  std::sort(beside.begin(), beside.end());
  std::vector<u8> pack;
  std::vector<std::string> names;
  std::string why;
  if (PlatFileReadAllNative((game / packs[0]).string(), &pack) != 0) return fail("cannot read " + packs[0].string());
  if (KitPackEntryNames(pack, &names, &why) != 0) return fail((game / packs[0]).string() + ": " + why);
  // The characters play only when the game ships the driver file, packed or loose.
  bool characters = false;
  for (const std::string& n : names) characters = characters || Lower(n) == "emotedriver.dll";
  for (const fs::path& p : beside) characters = characters || Lower(p.generic_string()) == "emotedriver.dll";
  fs::path library = fs::path(runtime_native).parent_path() / ZEMOTE_LIBRARY_NAME;
  if (characters && !fs::is_regular_file(library, ec))
    return fail("the game ships emotedriver.dll, but " + library.string() + " is missing");

  std::vector<u8> runtime;
  if (PlatFileReadAllNative(runtime_native, &runtime) != 0) return fail("cannot read " + runtime_native);
  if (Contains(runtime, "libasan.so") || Contains(runtime, "libtsan.so"))
    report->warnings.push_back(runtime_native +
                               " is a sanitizer build: a player's machine lacks its libraries. Bundle with the zpkit "
                               "of a release build (./run.sh builds build/release)");
  fs::create_directories(out, ec);
  fs::path stripped = out / ("." + program + ".stripped");
  auto written = [&](const std::string& rel) { report->written.push_back((out / rel).string()); };
  if (!StrippedCopy(runtime_native, stripped.string(), "--strip-all", report))
    return fail("cannot write " + stripped.string());
  int r = KitBundleWrite(stripped.string(), (game / packs[0]).string(), (out / program).string(), err);
  fs::remove(stripped, ec);
  if (r != 0) return -1;
  written(program);
  std::vector<std::string> beside_names;
  for (const fs::path& rel : beside) {
    fs::create_directories((out / rel).parent_path(), ec);
    if (!fs::copy_file(game / rel, out / rel, fs::copy_options::overwrite_existing, ec))
      return fail("cannot copy " + (game / rel).string());
    written(rel.generic_string());
    beside_names.push_back(rel.generic_string());
  }
  if (characters) {
    if (!StrippedCopy(library.string(), (out / ZEMOTE_LIBRARY_NAME).string(), "--strip-unneeded", report))
      return fail("cannot write " + (out / ZEMOTE_LIBRARY_NAME).string());
    written(ZEMOTE_LIBRARY_NAME);
  }
  std::string readme = ReadmeText(program, beside_names, characters);
  if (PlatFileWriteAtomicNative((out / "README.txt").string(), reinterpret_cast<const u8*>(readme.data()),
                                readme.size()) != 0)
    return fail("cannot write " + (out / "README.txt").string());
  written("README.txt");
  return 0;
}
