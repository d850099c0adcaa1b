// The list scan beside a word-at-a-time reader doing the same job, on lists of growing size.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>

#include "list_format.h"

namespace {

namespace fs = std::filesystem;

// A list of `names` generated names of 10 to 24 bytes with CR LF line ends, in a temporary file.
const fs::path& ListFile(long names) {
  static std::map<long, fs::path> files;
  auto& path = files[names];
  if (path.empty()) {
    path = fs::temp_directory_path() / "loomreg-bench-list-";
    path += std::to_string(names);
    std::mt19937 random(7);
    std::string text;
    for (long i = 0; i < names; ++i) {
      std::string name = "F";
      name += std::to_string(1000000000L + i).substr(1);
      std::size_t length = 10 + random() % 15;
      while (name.size() < length) name += static_cast<char>('a' + random() % 26);
      text += name + "\r\n";
    }
    std::ofstream(path, std::ios::binary) << text;
  }
  return path;
}

void BM_ScanForWord(benchmark::State& state) {
  const fs::path& path = ListFile(state.range(0));
  for (auto _ : state) {
    loomreg::os::Handle file(::open(path.c_str(), O_RDONLY));
    benchmark::DoNotOptimize(loomreg::ScanForWord(file, path.c_str(), "NEW-NAME-0001").found);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(fs::file_size(path)));
}
BENCHMARK(BM_ScanForWord)->RangeMultiplier(10)->Range(1000, 1000000)->Unit(benchmark::kMicrosecond);

// What a list reader built on fscanf("%255s") does: one word at a time through stdio.
void BM_ScanWordByWord(benchmark::State& state) {
  const fs::path& path = ListFile(state.range(0));
  for (auto _ : state) {
    std::FILE* f = std::fopen(path.c_str(), "r");
    char word[256];
    bool found = false;
    while (!found && std::fscanf(f, "%255s", word) == 1)
      found = std::strcmp(word, "NEW-NAME-0001") == 0;
    std::fclose(f);
    benchmark::DoNotOptimize(found);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(fs::file_size(path)));
}
BENCHMARK(BM_ScanWordByWord)
    ->RangeMultiplier(10)
    ->Range(1000, 1000000)
    ->Unit(benchmark::kMicrosecond);

}  // namespace
