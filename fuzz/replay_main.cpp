// Runs a fuzz target once over each input file, without libFuzzer: every file named on the
// command line, and every file (names beginning with '.' aside) of every folder named there.
// This is how the seed corpus and the kept crash inputs run as tests in builds that do not
// fuzz. Each input is handed over in a heap block of exactly its size, as libFuzzer does, so
// that a sanitizer sees any read past its end.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace fs = std::filesystem;

namespace {

bool ListInputs(const fs::path& path, std::vector<fs::path>& inputs) {
  std::error_code error;
  if (!fs::is_directory(path, error)) {
    if (!fs::is_regular_file(path, error)) return false;
    inputs.push_back(path);
    return true;
  }
  std::vector<fs::path> found;
  for (const auto& entry : fs::directory_iterator(path, error)) {
    if (entry.is_regular_file() && !entry.path().filename().string().starts_with(".")) {
      found.push_back(entry.path());
    }
  }
  if (error) return false;
  std::sort(found.begin(), found.end());
  inputs.insert(inputs.end(), found.begin(), found.end());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (LLVMFuzzerInitialize != nullptr) LLVMFuzzerInitialize(&argc, &argv);
  std::vector<fs::path> inputs;
  for (int i = 1; i < argc; ++i) {
    if (!ListInputs(argv[i], inputs)) {
      std::fprintf(stderr, "%s: cannot read %s\n", argv[0], argv[i]);
      return 2;
    }
  }
  if (inputs.empty()) {
    std::fprintf(stderr, "%s: no inputs to run\n", argv[0]);
    return 2;
  }
  for (const fs::path& input : inputs) {
    std::ifstream file(input, std::ios::binary);
    if (!file) {
      std::fprintf(stderr, "%s: cannot open %s\n", argv[0], input.c_str());
      return 2;
    }
    std::vector<char> bytes((std::istreambuf_iterator<char>(file)),
                            std::istreambuf_iterator<char>());
    std::unique_ptr<std::uint8_t[]> data(new std::uint8_t[bytes.size()]);
    if (!bytes.empty()) std::memcpy(data.get(), bytes.data(), bytes.size());
    std::fprintf(stderr, "running %s\n", input.c_str());
    LLVMFuzzerTestOneInput(data.get(), bytes.size());
  }
  std::fprintf(stderr, "%s: %zu inputs passed\n", argv[0], inputs.size());
  return 0;
}
