// Seeds of the pack, appended-data, configuration, error-text, Ogg, WAV, thread-state and name
// targets, written with the kit under <folder>/<target>/ (usage: more_fuzz_seeds FOLDER).
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/obj.h"
#include "core/pack.h"
#include "kit/bundle.h"
#include "kit/cmddefs.h"
#include "kit/config_writer.h"
#include "kit/ogg_writer.h"
#include "kit/pack_writer.h"
#include "kit/script_files.h"
#include "platform/platform.h"
#include "platform/resource.h"
#include "script/script.h"
#include "script/task.h"
#include "script/var.h"

namespace fs = std::filesystem;

namespace {

fs::path g_Out;

void Put(const std::string& target, const std::string& name, const std::vector<u8>& bytes) {
  fs::create_directories(g_Out / target);
  std::ofstream(g_Out / target / name, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}
void PutText(const std::string& target, const std::string& name, const std::string& text) {
  Put(target, name, std::vector<u8>(text.begin(), text.end()));
}
std::vector<u8> ReadFile(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return std::vector<u8>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}
std::vector<u8> Prefixed(u8 first, std::vector<u8> rest) {
  rest.insert(rest.begin(), first);
  return rest;
}

KitPackEntry Entry(const std::string& name, size_t n, bool compress) {
  KitPackEntry e;
  e.name = name;
  for (size_t i = 0; i < n; i++) e.data.push_back(static_cast<u8>(i * 7 % 251));
  e.compress = compress;
  return e;
}

std::vector<u8> Pack(const std::vector<KitPackEntry>& entries, bool recovery) {
  KitPackOptions opt;
  opt.recovery = recovery;
  std::vector<u8> image;
  std::string err;
  if (KitPackBuild(entries, opt, &image, nullptr, &err) != 0) std::fprintf(stderr, "pack: %s\n", err.c_str());
  return image;
}

std::vector<i16> Tone(size_t frames, int channels) {
  std::vector<i16> s(frames * static_cast<size_t>(channels));
  for (size_t i = 0; i < s.size(); i++) s[i] = static_cast<i16>(8000 * std::sin(static_cast<double>(i) * 0.05));
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  g_Out = argv[1];
  PackScrambleSetup();

  // Packs: stored and zlib entries, with and without recovery blocks, a duplicate-free table.
  const std::vector<KitPackEntry> entries = {Entry("chbin\\zpcfg.zbn", 40, false), Entry("a.bin", 3000, true),
                                             Entry("bg\\sky.png", 1500, false), Entry("se\\click.wav", 64, true)};
  const std::vector<u8> pack = Pack(entries, true);
  Put("pack", "recovery", pack);
  Put("pack", "plain", Pack(entries, false));
  Put("pack", "one", Pack({Entry("a.bin", 5, false)}, false));

  // Appended data: a scrap of an executable that holds the resource block, bundled with a pack.
  {
    std::vector<u8> self = ReadFile("/proc/self/exe");
    u32 size = 0;
    i64 at = PlatResourceFindInImage(self.data(), self.size(), "ZP_RES", 201, &size);
    if (at >= 0) {
      const size_t from = at > 4096 ? static_cast<size_t>(at) - 4096 : 0;
      const size_t to = std::min(self.size(), static_cast<size_t>(at) + 4096);
      fs::path tmp = fs::temp_directory_path() / ("zephra-seeds-" + std::to_string(::getpid()));
      fs::create_directories(tmp);
      std::ofstream(tmp / "exe", std::ios::binary)
          .write(reinterpret_cast<const char*>(self.data() + from), static_cast<std::streamsize>(to - from));
      std::ofstream(tmp / "data.zpf", std::ios::binary)
          .write(reinterpret_cast<const char*>(pack.data()), static_cast<std::streamsize>(pack.size()));
      std::string err;
      if (KitBundleWrite((tmp / "exe").string(), (tmp / "data.zpf").string(), (tmp / "game").string(), &err) == 0)
        Put("appended", "bundled", ReadFile(tmp / "game"));
      else std::fprintf(stderr, "bundle: %s\n", err.c_str());
      Put("appended", "plain",
          std::vector<u8>(self.begin() + static_cast<std::ptrdiff_t>(from),
                          self.begin() + static_cast<std::ptrdiff_t>(to)));
      fs::remove_all(tmp);
    }
  }

  // Settings, save-folder settings, project configuration and the variable-slot file.
  {
    fs::path tmp = fs::temp_directory_path() / ("zephra-seeds-cfg-" + std::to_string(::getpid()));
    fs::create_directories(tmp);
    KitSettingsValuesWrite((tmp / "s").string(), KitEngineSettingsDefaults());
    Put("config", "settings", Prefixed(0, ReadFile(tmp / "s")));
    for (u32 mode = 0; mode < 4; mode++) {
      KitSaveFolderSettingsWrite((tmp / "f").string(), mode);
      Put("config", "savefolder" + std::to_string(mode), Prefixed(1, ReadFile(tmp / "f")));
    }
    fs::remove_all(tmp);
    KitProjectConfig cfg;
    Put("config", "project", Prefixed(2, KitProjectConfigBuild(cfg)));
    cfg.width = 1280;
    cfg.height = 720;
    cfg.debug = 1;
    Put("config", "project-hd", Prefixed(2, KitProjectConfigBuild(cfg)));
    Put("config", "varslots", Prefixed(3, KitVarSlotsBuild(1100, 7)));
  }

  // Error texts as games write them, each followed by a NUL and argument bytes.
  const char* texts[] = {"[%s]ファイルを\n読み込めませんでした。",
                         "%d 個までです。",
                         "%-10s|%5d|%05.2f|%x",
                         "%*s%.*s",
                         "100%% %c %u %lld %I64d",
                         "%--5s % -5s %+d"};
  int k = 0;
  for (const char* t : texts) {
    std::string s = PlatUtf8ToSjis(t);
    s.push_back('\0');
    s += std::string("\x05\x01\x02\x03\x04\x05\x06\x07", 8);
    PutText("errtext", "text" + std::to_string(k++), s);
  }

  // Ogg Vorbis (three control bytes first) and WAV files.
  for (int ch = 1; ch <= 2; ch++) {
    std::vector<i16> tone = Tone(4410, ch);
    std::vector<u8> ogg;
    if (KitOggEncode(tone.data(), 4410, ch, 22050, 7, 0.1f, &ogg) == 0) {
      ogg.insert(ogg.begin(), {3, 16, 1});
      Put("ogg", "tone" + std::to_string(ch), ogg);
    }
    for (u16 bits : {8, 16}) {
      std::vector<u8> wav, samples;
      if (bits == 8) {
        for (i16 v : tone) samples.push_back(static_cast<u8>((v >> 8) + 128));
      } else {
        samples.assign(reinterpret_cast<const u8*>(tone.data()),
                       reinterpret_cast<const u8*>(tone.data() + tone.size()));
      }
      if (KitWavEncode(samples.data(), 4410, static_cast<u16>(ch), 22050, bits, &wav) == 0)
        Put("wav", "pcm" + std::to_string(bits) + "-" + std::to_string(ch), wav);
    }
  }

  // Thread states of a two-file game, as the thread-state target builds it.
  {
    VarTableCreate(1100);
    std::vector<u8> defs = KitCmdDefsBuild();
    u8* d = static_cast<u8*>(std::malloc(defs.size()));
    std::memcpy(d, defs.data(), defs.size());
    ScriptParseCommandDefs(d, static_cast<u32>(defs.size()));
    std::vector<u8> list = KitFileListBuild({{0, "script\\main.zs", 10}, {1, "script\\sub.zs", 11}});
    u8* l = static_cast<u8*>(std::malloc(list.size()));
    std::memcpy(l, list.data(), list.size());
    ScriptParseFileList(l, static_cast<u32>(list.size()));
    std::vector<KitLine> lines(40);
    for (KitLine& line : lines) line.opcode = 102;
    for (u32 f = 0; f < 2; f++) {
      std::vector<u8> body = KitBodyBuild(lines);
      u8* b = static_cast<u8*>(std::malloc(body.size()));
      std::memcpy(b, body.data(), body.size());
      ScriptBindFile(f, b, static_cast<u32>(body.size()));
    }
    ObjNode* node = ObjNewRoot();
    for (u32 f = 0; f < 2; f++) {
      TaskContext* ctx = TaskNewContext(node);
      ScriptBindTask(ctx, static_cast<u16>(f));
      ctx->next_line = 3 + f;
      char buf[8192];
      if (TaskStateEncode(buf, sizeof buf, ctx) > 0) PutText("taskstate", "file" + std::to_string(f), buf);
      TaskFreeContext(ctx);
    }
    node->payload = nullptr;
    ObjFreeNode(node);
  }

  // Names: object paths with a base, media names and game-data names.
  const char* names[] = {"a/b/c/item",
                         "../a/b/",
                         ":/a/./b",
                         "テスト/x",
                         "DATA\\BG\\sky.png",
                         "c:\\zephra-fuzz\\game\\データ\\背景.bmp",
                         "..\\..\\readme.txt",
                         "a b/c"};
  k = 0;
  for (const char* n : names) {
    std::string s = PlatUtf8ToSjis(n);
    s.push_back('\0');
    s += k % 2 ? "a/b" : "";
    PutText("names", "name" + std::to_string(k++), s);
  }
  return 0;
}
