#include "test_support.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cstdlib>
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

void SetEnv(const std::string& name, const std::optional<std::string>& value) {
#ifdef _WIN32
  // An empty value removes the variable there.
  ::_putenv_s(name.c_str(), value ? value->c_str() : "");
#else
  if (value) {
    ::setenv(name.c_str(), value->c_str(), 1);
  } else {
    ::unsetenv(name.c_str());
  }
#endif
}

bool MakeFifo(const fs::path& path) {
#ifdef _WIN32
  (void)path;
  return false;
#else
  return ::mkfifo(path.c_str(), 0666) == 0;
#endif
}

bool MakeSymlink(const fs::path& target, const fs::path& link) {
  std::error_code failed;
  fs::create_symlink(target, link, failed);
  return !failed && fs::is_symlink(fs::symlink_status(link, failed));
}

std::string ReadAndClose(int fd) {
  std::string content(1 << 20, '\0');
  std::size_t have = 0;
  for (;;) {
#ifdef _WIN32
    const int got =
        ::_read(fd, content.data() + have, static_cast<unsigned>(content.size() - have));
#else
    const ssize_t got = ::read(fd, content.data() + have, content.size() - have);
#endif
    if (got <= 0) break;
    have += static_cast<std::size_t>(got);
  }
#ifdef _WIN32
  ::_close(fd);
#else
  ::close(fd);
#endif
  content.resize(have);
  return content;
}

std::string DescriptorFaults(int fd) {
  std::string faults;
#ifdef _WIN32
  DWORD flags = 0;
  HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
  if (handle == INVALID_HANDLE_VALUE || !::GetHandleInformation(handle, &flags)) {
    return "not an open descriptor";
  }
  if (flags & HANDLE_FLAG_INHERIT) faults += "inherited by started programs; ";
#else
  const int status = ::fcntl(fd, F_GETFL), descriptor = ::fcntl(fd, F_GETFD);
  if (status < 0 || descriptor < 0) return "not an open descriptor";
  if (status & O_NONBLOCK) faults += "O_NONBLOCK set; ";
  if (!(descriptor & FD_CLOEXEC)) faults += "FD_CLOEXEC missing; ";
#endif
  return faults;
}

}  // namespace loomreg::testing
