// Helpers shared by the unit and process tests: temporary directories, whole-file reads and
// writes, and running a program with a chosen argv[0].
#ifndef LOOMREG_TESTS_TEST_SUPPORT_H
#define LOOMREG_TESTS_TEST_SUPPORT_H

#include <filesystem>
#include <map>
#include <optional>
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

// Sets environment variable `name` to `value`, or removes it for std::nullopt.
void SetEnv(const std::string& name, const std::optional<std::string>& value);

// What a test that plants hostile files in a store can make on this system. Each returns false
// where the system (Windows, or Wine) cannot make it, and the caller skips that case, saying so.
// A FIFO: POSIX only.
bool MakeFifo(const std::filesystem::path& path);
// A symbolic link to `target`: Wine reports success and makes nothing, so the link is looked at.
bool MakeSymlink(const std::filesystem::path& target, const std::filesystem::path& link);

// Reads a C runtime file descriptor to its end (up to 1 MiB) and closes it.
std::string ReadAndClose(int fd);
// What is wrong with a descriptor handed out for reading: "" when it blocks on reads and is not
// inherited by started programs (POSIX: no O_NONBLOCK, FD_CLOEXEC; Windows: the handle is not
// inheritable), else what is amiss.
std::string DescriptorFaults(int fd);

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
