// Reading every entry of a pack of 10000 small entries through the file sources (lookup, open,
// verify, inflate), reported as entries per second; beside it the same files read as loose files.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "kit/pack_writer.h"
#include "platform/file.h"
#include "core/pack.h"

namespace fs = std::filesystem;

namespace {

constexpr int kEntries = 10000;

struct Game {
  fs::path folder;
  std::vector<std::string> names;
  Game() {
    std::string name = "zephra-bench-";
    name += std::to_string(std::rand());
    folder = fs::temp_directory_path() / name;
    fs::create_directories(folder / "loose");
    std::vector<KitPackEntry> entries;
    for (int i = 0; i < kEntries; i++) {
      KitPackEntry e;
      e.name = "data\\e" + std::to_string(i) + ".bin";
      size_t n = 64 + static_cast<size_t>(i % 8) * 64;
      for (size_t k = 0; k < n; k++) e.data.push_back(static_cast<u8>((i * 31 + k * (i % 2 ? 7 : 1)) & 0xFF));
      e.compress = i % 2 == 0;
      names.push_back(e.name);
      fs::create_directories(folder / "loose" / "data");
      std::string file = std::to_string(i);
      file.insert(0, 1, 'e');
      file += ".bin";
      std::ofstream(folder / "loose" / "data" / file, std::ios::binary)
          .write(reinterpret_cast<const char*>(e.data.data()), static_cast<std::streamsize>(e.data.size()));
      entries.push_back(std::move(e));
    }
    std::string err;
    if (KitPackWrite((folder / "data.zpf").string(), entries, KitPackOptions(), &err) != 0) std::abort();
  }
  ~Game() {
    std::error_code ec;
    fs::remove_all(folder, ec);
  }
};

Game& TheGame() {
  static Game g;
  return g;
}

void ReadAll(benchmark::State& state, const std::vector<std::string>& names) {
  u64 bytes = 0;
  for (auto _ : state) {
    for (const std::string& n : names) {
      PackLookup lookup{};
      if (PackFindAnySource(&lookup, n.c_str(), 1) <= 0 || PackReadBySource(&lookup, n.c_str()) != 0) {
        state.SkipWithError("read failed");
        return;
      }
      bytes += lookup.size;
      std::free(lookup.data);
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<i64>(names.size()));
  state.SetBytesProcessed(static_cast<i64>(bytes));
  state.counters["entries/s"] = benchmark::Counter(static_cast<double>(state.iterations() * names.size()),
                                                   benchmark::Counter::kIsRate);
}

void BM_PackReadEveryEntry(benchmark::State& state) {
  Game& g = TheGame();
  PackReset();
  PlatFileReset();
  fs::current_path(g.folder);
  PackScrambleSetup();
  if (PackScanAll() != 0) {
    state.SkipWithError("scan failed");
    return;
  }
  ReadAll(state, g.names);
  PackReset();
}
BENCHMARK(BM_PackReadEveryEntry)->Unit(benchmark::kMillisecond);

// Reference: the same files, loose in a folder, found through the case-insensitive resolver.
void BM_LooseReadEveryFile(benchmark::State& state) {
  Game& g = TheGame();
  PackReset();
  PlatFileReset();
  fs::current_path(g.folder / "loose");
  ReadAll(state, g.names);
}
BENCHMARK(BM_LooseReadEveryFile)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
