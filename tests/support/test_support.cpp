#include "test_support.h"

#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace loomreg::testing {

namespace fs = std::filesystem;

TempDir::TempDir() {
  // As mkdtemp() makes it, with the standard library alone, so that Windows builds have it too.
  static constexpr char kLetters[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device seed;
  std::mt19937 random(seed());
  std::uniform_int_distribution<std::size_t> pick(0, sizeof kLetters - 2);
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = "loomreg-test-";
    for (int i = 0; i < 6; ++i) name += kLetters[pick(random)];
    fs::path path = fs::temp_directory_path() / name;
    if (fs::create_directory(path)) {
      fs::permissions(path, fs::perms::owner_all);
      path_ = path;
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary directory");
}

TempDir::~TempDir() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

ScopedCwd::ScopedCwd(const fs::path& dir) : previous_(fs::current_path()) { fs::current_path(dir); }

ScopedCwd::~ScopedCwd() {
  std::error_code ignored;
  fs::current_path(previous_, ignored);
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "<missing>";
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

bool Exists(const fs::path& path) {
  std::error_code ignored;
  return fs::exists(fs::symlink_status(path, ignored));
}

std::map<std::string, std::string> Snapshot(const fs::path& root) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    std::string name = entry.path().lexically_relative(root).string();
    if (entry.is_symlink()) {
      files[name] = "<link " + fs::read_symlink(entry.path()).string() + ">";
    } else if (entry.is_directory()) {
      files[name] = "<dir>";
    } else {
      files[name] = ReadFile(entry.path());
    }
  }
  return files;
}

}  // namespace loomreg::testing
