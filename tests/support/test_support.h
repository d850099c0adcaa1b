// Helpers shared by the unit and process tests: temporary directories, whole-file reads and
// writes, and running a program with a chosen argv[0].
#ifndef LOOMREG_TESTS_TEST_SUPPORT_H
#define LOOMREG_TESTS_TEST_SUPPORT_H

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace loomreg::testing {

// A fresh directory under the system's temporary directory, removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::filesystem::path& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// Changes the working directory for the life of the object.
class ScopedCwd {
 public:
  explicit ScopedCwd(const std::filesystem::path& dir);
  ~ScopedCwd();
  ScopedCwd(const ScopedCwd&) = delete;
  ScopedCwd& operator=(const ScopedCwd&) = delete;

 private:
  std::filesystem::path previous_;
};

void WriteFile(const std::filesystem::path& path, const std::string& bytes);
// The file's bytes; a missing file reads as "<missing>".
std::string ReadFile(const std::filesystem::path& path);
bool Exists(const std::filesystem::path& path);

// Every regular file and symbolic link below `root` (relative path -> content or link target),
// and every directory (relative path -> "<dir>"): a snapshot to compare before and after.
std::map<std::string, std::string> Snapshot(const std::filesystem::path& root);

struct ProcessResult {
  int exit_status = -1;  // -1 when the process did not exit normally
  std::string out;
  std::string err;
};

// Runs `program` in `cwd` with exactly the argument vector `argv` (argv[0] included) and the
// current environment plus `env` entries of the form NAME=VALUE.
ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& argv,
                         const std::filesystem::path& cwd,
                         const std::vector<std::string>& env = {});

}  // namespace loomreg::testing

#endif
