// A preloadable library that makes chosen system calls fail, for tests that need a write or a
// flush to fail at one exact place. LOOMREG_FAULTS holds rules separated by ';', each
// "call:path-suffix:nth:errno", e.g. "fsync:Machine/M1:1:EIO": the first fsync() of a file
// whose path ends in "Machine/M1" fails with EIO. nth 0 fails every matching call. Calls:
// open (open, open64, openat), write (write, pwrite), fsync (fsync, fdatasync), mkdir (mkdir,
// mkdirat), and
// rename (renameat2, matched by the path moved). A descriptor is matched by the path it was
// opened with. The errno SIGKILL kills the process at that call instead, as a crash or an
// administrator's kill would end it part-way.
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

struct Rule {
  std::string call;
  std::string suffix;
  long nth = 0;
  int error = EIO;
  long seen = 0;
};

constexpr int kKill = -1;

int ErrnoByName(std::string_view name) {
  if (name == "SIGKILL") return kKill;
  static const std::pair<std::string_view, int> kNames[] = {
      {"EIO", EIO},     {"ENOSPC", ENOSPC}, {"EACCES", EACCES},
      {"EROFS", EROFS}, {"ENOENT", ENOENT}, {"EDQUOT", EDQUOT},
      {"EPERM", EPERM}, {"EXDEV", EXDEV},   {"EINVAL", EINVAL},
  };
  for (const auto& [text, value] : kNames) {
    if (text == name) return value;
  }
  return EIO;
}

std::vector<Rule>& Rules() {
  static std::vector<Rule> rules = [] {
    std::vector<Rule> parsed;
    const char* rules_text = std::getenv("LOOMREG_FAULTS");
    std::string_view text = rules_text ? rules_text : "";
    while (!text.empty()) {
      std::string_view item = text.substr(0, text.find(';'));
      text.remove_prefix(std::min(text.size(), item.size() + 1));
      std::vector<std::string> fields;
      while (true) {
        std::size_t colon = item.find(':');
        fields.emplace_back(item.substr(0, colon));
        if (colon == std::string_view::npos) break;
        item.remove_prefix(colon + 1);
      }
      if (fields.size() != 4) continue;
      parsed.push_back(
          {fields[0], fields[1], std::atol(fields[2].c_str()), ErrnoByName(fields[3]), 0});
    }
    return parsed;
  }();
  return rules;
}

constexpr int kMaxFds = 4096;
std::string& FdPath(int fd) {
  static std::string paths[kMaxFds];
  static std::string none;
  return fd >= 0 && fd < kMaxFds ? paths[fd] : none;
}

// True when the call on `path` must fail; errno is then set.
bool ShouldFail(std::string_view call, std::string_view path) {
  for (Rule& rule : Rules()) {
    if (rule.call != call || !path.ends_with(rule.suffix)) continue;
    ++rule.seen;
    if (rule.nth == 0 || rule.seen == rule.nth) {
      if (rule.error == kKill) ::kill(::getpid(), SIGKILL);
      errno = rule.error;
      return true;
    }
  }
  return false;
}

template <typename Fn>
Fn Next(const char* name) {
  return reinterpret_cast<Fn>(::dlsym(RTLD_NEXT, name));
}

int Opened(int fd, const char* path) {
  if (fd >= 0) FdPath(fd) = path;
  return fd;
}

mode_t ModeArg(int flags, va_list args) {
  return (flags & (O_CREAT | O_TMPFILE)) ? static_cast<mode_t>(va_arg(args, int)) : 0;
}

}  // namespace

// A name relative to an open directory is matched as the directory's path and the name.
static std::string Full(int dir, const char* path) {
  if (dir == AT_FDCWD || path[0] == '/' || FdPath(dir).empty()) return path;
  std::string full = FdPath(dir);
  if (!full.ends_with('/')) full += '/';
  return full + path;
}

extern "C" {

int open(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  mode_t mode = ModeArg(flags, args);
  va_end(args);
  if (ShouldFail("open", path)) return -1;
  static auto real = Next<int (*)(const char*, int, ...)>("open");
  return Opened(real(path, flags, mode), path);
}

int open64(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  mode_t mode = ModeArg(flags, args);
  va_end(args);
  if (ShouldFail("open", path)) return -1;
  static auto real = Next<int (*)(const char*, int, ...)>("open64");
  return Opened(real(path, flags, mode), path);
}

int openat(int dir, const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  mode_t mode = ModeArg(flags, args);
  va_end(args);
  std::string full = Full(dir, path);
  if (ShouldFail("open", full)) return -1;
  static auto real = Next<int (*)(int, const char*, int, ...)>("openat");
  return Opened(real(dir, path, flags, mode), full.c_str());
}

ssize_t write(int fd, const void* data, size_t size) {
  if (ShouldFail("write", FdPath(fd))) return -1;
  static auto real = Next<ssize_t (*)(int, const void*, size_t)>("write");
  return real(fd, data, size);
}

ssize_t pwrite(int fd, const void* data, size_t size, off_t offset) {
  if (ShouldFail("write", FdPath(fd))) return -1;
  static auto real = Next<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite");
  return real(fd, data, size, offset);
}

ssize_t pwrite64(int fd, const void* data, size_t size, off_t offset) {
  if (ShouldFail("write", FdPath(fd))) return -1;
  static auto real = Next<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite64");
  return real(fd, data, size, offset);
}

int fsync(int fd) {
  if (ShouldFail("fsync", FdPath(fd))) return -1;
  static auto real = Next<int (*)(int)>("fsync");
  return real(fd);
}

int mkdir(const char* path, mode_t mode) {
  if (ShouldFail("mkdir", path)) return -1;
  static auto real = Next<int (*)(const char*, mode_t)>("mkdir");
  return real(path, mode);
}

int mkdirat(int dir, const char* path, mode_t mode) {
  if (ShouldFail("mkdir", Full(dir, path))) return -1;
  static auto real = Next<int (*)(int, const char*, mode_t)>("mkdirat");
  return real(dir, path, mode);
}

int renameat2(int from_dir, const char* from, int to_dir, const char* to, unsigned flags) {
  if (ShouldFail("rename", Full(from_dir, from))) return -1;
  static auto real = Next<int (*)(int, const char*, int, const char*, unsigned)>("renameat2");
  return real(from_dir, from, to_dir, to, flags);
}

int fdatasync(int fd) {
  if (ShouldFail("fsync", FdPath(fd))) return -1;
  static auto real = Next<int (*)(int)>("fdatasync");
  return real(fd);
}

}  // extern "C"
