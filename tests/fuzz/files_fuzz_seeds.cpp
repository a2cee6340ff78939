// Writes the seed corpora of csv_fuzz and registry_fuzz from the file tests' inputs.
// Usage: files_fuzz_seeds OUT_DIR (seeds go to OUT_DIR/csv and OUT_DIR/registry)
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "script/file_test_data.h"

namespace fs = std::filesystem;

static void WriteAll(const fs::path& dir, const std::vector<std::string>& seeds) {
  fs::create_directories(dir);
  for (size_t i = 0; i < seeds.size(); i++)
    std::ofstream(dir / ("seed" + std::to_string(i)), std::ios::binary) << seeds[i];
}

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: files_fuzz_seeds OUT_DIR\n");
    return 2;
  }
  WriteAll(fs::path(argv[1]) / "csv", TestCsvTexts());
  WriteAll(fs::path(argv[1]) / "registry", TestRegistryStores());
  return 0;
}
