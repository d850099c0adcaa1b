// The seam on POSIX systems (Linux first: renameat2 and open-file-description locks).
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <linux/magic.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <thread>

#include "os.h"

extern char** environ;

namespace loomreg::os {

struct RootAccess {
  static int Dir(const Root& root) { return root.dir_.valid() ? Fd(root.dir_) : AT_FDCWD; }
  static int Fd(const Handle& handle) { return static_cast<int>(handle.get()); }
  static void Set(Root& root, int fd) { root.dir_ = Handle(fd); }
};

namespace {

int FdOf(const Handle& handle) { return RootAccess::Fd(handle); }

Error Fail(int err) { return FromErrno(err); }

Error Fail(Kind kind, std::string text) { return {kind, 0, std::move(text)}; }

Type TypeOf(mode_t mode) {
  if (S_ISREG(mode)) return Type::kRegular;
  if (S_ISDIR(mode)) return Type::kDirectory;
  if (S_ISLNK(mode)) return Type::kLink;
  if (S_ISFIFO(mode)) return Type::kFifo;
  if (S_ISCHR(mode) || S_ISBLK(mode)) return Type::kDevice;
  if (S_ISSOCK(mode)) return Type::kSocket;
  return Type::kOther;
}

Info InfoOf(const struct stat& st) {
  Info info;
  info.type = TypeOf(st.st_mode);
  info.size = static_cast<std::uint64_t>(st.st_size);
  info.volume = static_cast<std::uint64_t>(st.st_dev);
  info.id = static_cast<std::uint64_t>(st.st_ino);
  info.modified = static_cast<std::int64_t>(st.st_mtim.tv_sec);
  info.modified_ns = static_cast<std::int32_t>(st.st_mtim.tv_nsec);
  info.mode = static_cast<std::uint32_t>(st.st_mode & 07777);
  info.links = static_cast<std::uint64_t>(st.st_nlink);
  info.owner = static_cast<Id>(st.st_uid);
  info.group = static_cast<Id>(st.st_gid);
  return info;
}

Info InfoOf(const struct statx& found) {
  Info info;
  info.type = TypeOf(found.stx_mode);
  info.size = found.stx_size;
  info.volume = static_cast<std::uint64_t>(makedev(found.stx_dev_major, found.stx_dev_minor));
  info.id = found.stx_ino;
  info.modified = static_cast<std::int64_t>(found.stx_mtime.tv_sec);
  info.modified_ns = static_cast<std::int32_t>(found.stx_mtime.tv_nsec);
  info.mode = static_cast<std::uint32_t>(found.stx_mode & 07777);
  info.links = found.stx_nlink;
  info.owner = static_cast<Id>(found.stx_uid);
  info.group = static_cast<Id>(found.stx_gid);
  return info;
}

int OpenRetrying(int dir, const std::string& name, int flags, mode_t mode = 0666) {
  int fd;
  do {
    fd = ::openat(dir, name.c_str(), flags, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

}  // namespace

Error Handle::Close() {
  if (!valid()) return {};
  // On Linux the descriptor is gone even when close() fails, so it is never retried.
  if (::close(static_cast<int>(std::exchange(value_, kNone))) != 0) return Fail(errno);
  return {};
}

Error Root::Open(std::string_view path, Root& out) {
  const std::string name = path.empty() ? "." : std::string(path);
  int fd = OpenRetrying(AT_FDCWD, name, O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return Fail(errno);
  RootAccess::Set(out, fd);
  return {};
}

Error Root::OpenBelow(const Root& parent, std::string_view name, Links links, Hold hold,
                      Root& out) {
  int flags = O_DIRECTORY | O_CLOEXEC;
  flags |= hold == Hold::kFlushable ? O_RDONLY | O_NONBLOCK : O_PATH;
  if (links == Links::kRefuse) flags |= O_NOFOLLOW;
  int fd = OpenRetrying(RootAccess::Dir(parent), std::string(name.empty() ? "." : name), flags);
  if (fd < 0) return Fail(errno);
  RootAccess::Set(out, fd);
  return {};
}

Error Root::Flush() const { return os::Flush(dir_); }

int Root::descriptor() const { return RootAccess::Dir(*this); }

Error OpenFile(const Root& root, std::string_view name, OpenOptions options, Handle& out,
               bool* created) {
  // O_NONBLOCK keeps the open of a FIFO from waiting for its writer; it changes nothing for
  // regular files.
  int flags = O_CLOEXEC | O_NONBLOCK;
  if (options.links == Links::kRefuse) flags |= O_NOFOLLOW;
  switch (options.access) {
    case Access::kRead:
      flags |= O_RDONLY;
      break;
    case Access::kReadWrite:
      flags |= O_RDWR;
      break;
    case Access::kWrite:
      flags |= O_WRONLY;
      break;
    case Access::kAppend:
      flags |= O_RDWR | O_APPEND;
      break;
  }
  const int dir = RootAccess::Dir(root);
  const std::string path(name);
  bool made = false;
  int fd = -1;
  const mode_t new_mode = options.owner_only ? 0600 : 0666;
  if (options.create == Create::kNew) {
    fd = OpenRetrying(dir, path, flags | O_CREAT | O_EXCL, new_mode);
    made = fd >= 0;
  } else {
    // Without O_CREAT first, then O_CREAT | O_EXCL, so that `created` is exact even when
    // another process creates the file in between.
    for (;;) {
      fd = OpenRetrying(dir, path, flags);
      if (fd >= 0 || errno != ENOENT || options.create == Create::kNo) break;
      fd = OpenRetrying(dir, path, flags | O_CREAT | O_EXCL, new_mode);
      if (fd >= 0 || errno != EEXIST) {
        made = fd >= 0;
        break;
      }
    }
  }
  if (fd < 0) {
    const int err = errno;
    struct stat st;
    if (err == ELOOP && options.links == Links::kRefuse &&
        ::fstatat(dir, path.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) {
      return {Kind::kLink, err, "a symbolic link, never followed"};
    }
    if (err == EISDIR && !options.any_type) return Fail(Kind::kNotRegular, "not a regular file");
    return Fail(err);
  }
  Handle file(fd);
  if (options.any_type) {
    out = std::move(file);
    if (created != nullptr) *created = made;
    return {};
  }
  struct stat st;
  if (::fstat(fd, &st) != 0) return Fail(errno);
  if (!S_ISREG(st.st_mode)) return Fail(Kind::kNotRegular, "not a regular file");
  out = std::move(file);
  if (created != nullptr) *created = made;
  return {};
}

Error SetBlocking(const Handle& file) {
  const int flags = ::fcntl(FdOf(file), F_GETFL);
  if (flags < 0) return Fail(errno);
  if (::fcntl(FdOf(file), F_SETFL, flags & ~O_NONBLOCK) != 0) return Fail(errno);
  return {};
}

Error GiveDescriptor(Handle file, int& out) {
  out = ::fcntl(FdOf(file), F_DUPFD_CLOEXEC, 0);
  if (out < 0) return Fail(errno);
  return {};
}

Error Read(const Handle& file, char* data, std::size_t size, std::size_t& got) {
  ssize_t n;
  do {
    n = ::read(FdOf(file), data, size);
  } while (n < 0 && errno == EINTR);
  got = n > 0 ? static_cast<std::size_t>(n) : 0;
  return n < 0 ? Fail(errno) : Error{};
}

Error ReadAt(const Handle& file, std::uint64_t offset, char* data, std::size_t size,
             std::size_t& got) {
  ssize_t n;
  do {
    n = ::pread(FdOf(file), data, size, static_cast<off_t>(offset));
  } while (n < 0 && errno == EINTR);
  got = n > 0 ? static_cast<std::size_t>(n) : 0;
  return n < 0 ? Fail(errno) : Error{};
}

namespace {

Error Written(ssize_t n, std::size_t size, std::size_t& written) {
  written = n > 0 ? static_cast<std::size_t>(n) : 0;
  if (n < 0) return Fail(errno);
  if (written != size) {
    return Fail(Kind::kShortWrite, "the write was cut short after " + std::to_string(written) +
                                       " of " + std::to_string(size) + " bytes");
  }
  return {};
}

}  // namespace

Error Write(const Handle& file, std::string_view data, std::size_t& written) {
  ssize_t n;
  do {
    n = ::write(FdOf(file), data.data(), data.size());
  } while (n < 0 && errno == EINTR);
  return Written(n, data.size(), written);
}

Error WriteAt(const Handle& file, std::uint64_t offset, std::string_view data,
              std::size_t& written) {
  ssize_t n;
  do {
    n = ::pwrite(FdOf(file), data.data(), data.size(), static_cast<off_t>(offset));
  } while (n < 0 && errno == EINTR);
  return Written(n, data.size(), written);
}

Error Truncate(const Handle& file, std::uint64_t size) {
  if (::ftruncate(FdOf(file), static_cast<off_t>(size)) != 0) return Fail(errno);
  return {};
}

Error Flush(const Handle& file) {
  if (::fsync(FdOf(file)) == 0 || errno == EINVAL) return {};
  return Fail(errno);
}

Error FlushDirectory(const Root& root, std::string_view name) {
  Handle dir(OpenRetrying(RootAccess::Dir(root), std::string(name),
                          O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_DIRECTORY));
  if (!dir.valid()) return Fail(errno);
  if (Error flushed = Flush(dir); !flushed.ok()) return flushed;
  return dir.Close();
}

Error FlushFile(const Root& root, std::string_view name) {
  Handle file(OpenRetrying(RootAccess::Dir(root), std::string(name),
                           O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW));
  if (!file.valid()) return Fail(errno);
  if (Error flushed = Flush(file); !flushed.ok()) return flushed;
  return file.Close();
}

Error Remove(const Root& root, std::string_view name) {
  if (::unlinkat(RootAccess::Dir(root), std::string(name).c_str(), 0) != 0) return Fail(errno);
  return {};
}

Error MakeDirectory(const Root& root, std::string_view name) {
  if (::mkdirat(RootAccess::Dir(root), std::string(name).c_str(), 0777) != 0) {
    return Fail(errno);
  }
  return {};
}

Error Rewrite(const Root& root, std::string_view name, std::string_view temporary,
              std::string_view data) {
  Handle file;
  Error error = OpenFile(root, temporary, {Access::kReadWrite, Create::kNew}, file);
  if (!error.ok()) return error;
  std::size_t written = 0;
  error = Write(file, data, written);
  if (error.ok()) error = Flush(file);
  if (error.ok()) error = file.Close();
  const int dir = RootAccess::Dir(root);
  if (error.ok() &&
      ::renameat(dir, std::string(temporary).c_str(), dir, std::string(name).c_str()) != 0) {
    error = Fail(errno);
  }
  if (!error.ok()) (void)Remove(root, temporary);
  return error;
}

Error Move(const Root& from_root, std::string_view from, const Root& to_root, std::string_view to,
           MoveBy how, bool* old_name_kept) {
  if (old_name_kept != nullptr) *old_name_kept = false;
  const int from_dir = RootAccess::Dir(from_root), to_dir = RootAccess::Dir(to_root);
  const std::string source(from), target(to);
  auto rename = [&] {
    return ::renameat2(from_dir, source.c_str(), to_dir, target.c_str(), RENAME_NOREPLACE) == 0;
  };
  // A hard link fails as safely as the no-replace rename when the target exists; once it
  // stands, the old name is dropped. linkat() without AT_SYMLINK_FOLLOW links a symbolic link
  // itself, never what it points to.
  auto link = [&] { return ::linkat(from_dir, source.c_str(), to_dir, target.c_str(), 0) == 0; };
  auto unlink = [&]() -> Error {
    if (::unlinkat(from_dir, source.c_str(), 0) == 0) return {};
    if (old_name_kept != nullptr) *old_name_kept = true;
    return Fail(errno);
  };
  switch (how) {
    case MoveBy::kRenameFirst:
      if (rename()) return {};
      // Some file systems refuse the flag itself.
      if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return Fail(errno);
      [[fallthrough]];
    case MoveBy::kLink:
      if (!link()) return Fail(errno);
      return unlink();
    case MoveBy::kLinkFirst:
      break;
  }
  if (link()) return unlink();
  // Without hard links and without the no-replace rename, the link's error is the one
  // reported, as when the rename goes first.
  const int link_error = errno;
  // EMLINK: the file has as many links as its file system allows.
  if (link_error != EPERM && link_error != ENOSYS && link_error != EOPNOTSUPP &&
      link_error != EMLINK) {
    return Fail(link_error);
  }
  if (rename()) return {};
  return Fail(errno == EINVAL ? link_error : errno);
}

bool PrefersLinkFirst(const Root& dir, std::uint64_t volume) {
  // FUSE file systems get a device number of their own, of major 0 like tmpfs, NFS or btrfs;
  // disks have a real major, and there this costs nothing. For the few others, fstatfs() tells.
  if (major(static_cast<dev_t>(volume)) != 0) return false;
  struct statfs fs;
  return ::fstatfs(RootAccess::Dir(dir), &fs) == 0 && fs.f_type == FUSE_SUPER_MAGIC;
}

Error Stat(const Handle& file, Info& out, Attributes attributes) {
  struct statx found;
  const int sync = attributes == Attributes::kAsFound ? AT_STATX_DONT_SYNC : AT_STATX_SYNC_AS_STAT;
  if (::statx(FdOf(file), "", AT_EMPTY_PATH | sync, STATX_BASIC_STATS, &found) == 0) {
    out = InfoOf(found);
    return {};
  }
  if (errno != ENOSYS) return Fail(errno);
  struct stat st;
  if (::fstat(FdOf(file), &st) != 0) return Fail(errno);
  out = InfoOf(st);
  return {};
}

Error StatAt(const Root& root, std::string_view name, Info& out, Links links,
             Attributes attributes) {
  const int dir = RootAccess::Dir(root);
  const std::string path(name);
  const int flags = links == Links::kRefuse ? AT_SYMLINK_NOFOLLOW : 0;
  if (attributes == Attributes::kAsFound) {
    struct statx found;
    if (::statx(dir, path.c_str(), flags | AT_STATX_DONT_SYNC, STATX_BASIC_STATS, &found) == 0) {
      out = InfoOf(found);
      return {};
    }
    if (errno != ENOSYS) return Fail(errno);
  }
  struct stat st;
  if (::fstatat(dir, path.c_str(), &st, flags) != 0) return Fail(errno);
  out = InfoOf(st);
  return {};
}

Error SetMode(const Handle& file, std::uint32_t mode) {
  if (::fchmod(FdOf(file), static_cast<mode_t>(mode & 07777)) != 0) return Fail(errno);
  return {};
}

Error SetOwner(const Handle& file, Id owner, Id group) {
  if (::fchown(FdOf(file), owner == kNoId ? static_cast<uid_t>(-1) : static_cast<uid_t>(owner),
               group == kNoId ? static_cast<gid_t>(-1) : static_cast<gid_t>(group)) != 0) {
    return Fail(errno);
  }
  return {};
}

Id EffectiveUser() { return ::geteuid(); }

Id EffectiveGroup() { return ::getegid(); }

bool MayOpenForWriting(Id user, const Info& file) {
  if (user == 0) return true;
  constexpr std::uint32_t kOwner = S_IRUSR | S_IWUSR, kGroup = S_IRGRP | S_IWGRP,
                          kOthers = S_IROTH | S_IWOTH;
  if (file.owner == user) return (file.mode & kOwner) == kOwner;
  bool member = false;
  if (const struct passwd* pw = ::getpwuid(static_cast<uid_t>(user))) {
    const std::string name = pw->pw_name;
    const gid_t primary = pw->pw_gid;
    member = primary == file.group;
    int count = 64;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    while (!member && ::getgrouplist(name.c_str(), primary, groups.data(), &count) < 0) {
      groups.resize(static_cast<std::size_t>(count));
    }
    for (int i = 0; !member && i < count; ++i) {
      member = groups[static_cast<std::size_t>(i)] == file.group;
    }
  }
  if (member) return (file.mode & kGroup) == kGroup;
  return (file.mode & kOthers) == kOthers;
}

std::string UserName(Id user) {
  if (const struct passwd* pw = ::getpwuid(static_cast<uid_t>(user))) return pw->pw_name;
  return std::to_string(user);
}

std::string GroupName(Id group) {
  if (const struct group* gr = ::getgrgid(static_cast<gid_t>(group))) return gr->gr_name;
  return std::to_string(group);
}

std::uint32_t CurrentUmask() {
  const mode_t mask = ::umask(022);
  ::umask(mask);
  return static_cast<std::uint32_t>(mask);
}

std::string ErrorText(int code) { return std::strerror(code); }

Error Lock(const Handle& file, LockMode mode, std::chrono::steady_clock::time_point deadline) {
  struct flock request = {};
  request.l_type = mode == LockMode::kShared ? F_RDLCK : F_WRLCK;
  request.l_whence = SEEK_SET;  // l_start 0 and l_len 0: the whole file
  // Poll rather than block, so that the wait ends at the deadline without signals.
  auto pause = std::chrono::microseconds(200);
  for (;;) {
    if (::fcntl(FdOf(file), F_OFD_SETLK, &request) == 0) return {};
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EACCES) return Fail(errno);
    auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return Fail(Kind::kTimedOut, "the wait for the lock ran out");
    std::this_thread::sleep_for(
        std::min<std::chrono::steady_clock::duration>(pause, deadline - now));
    pause = std::min(pause * 2, std::chrono::microseconds(20000));
  }
}

Error WriteStream(Stream stream, std::string_view data, std::size_t& written) {
  const int fd = stream == Stream::kOutput ? STDOUT_FILENO : STDERR_FILENO;
  ssize_t n;
  do {
    n = ::write(fd, data.data(), data.size());
  } while (n < 0 && errno == EINTR);
  written = n > 0 ? static_cast<std::size_t>(n) : 0;
  return n < 0 ? Fail(errno) : Error{};
}

Error BinaryStandardStreams() { return {}; }

std::size_t RootLength(std::string_view path) { return path.starts_with('/') ? 1 : 0; }

Error WorkingDirectory(std::string& out) {
  std::vector<char> buffer(256);
  while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) return Fail(errno);
    buffer.resize(buffer.size() * 2);
  }
  out = buffer.data();
  return {};
}

std::int64_t ProcessId() { return ::getpid(); }

void IgnoreFileSizeSignal() { std::signal(SIGXFSZ, SIG_IGN); }

std::tm LocalTime(std::time_t when) {
  ::tzset();
  std::tm local{};
  ::localtime_r(&when, &local);
  return local;
}

Error Start(std::span<const std::string> command, Process& out) {
  if (command.empty()) return Fail(ENOENT);
  std::vector<char*> argv;
  for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  pid_t pid;
  // posix_spawnp does not change the argument strings; its signature predates const.
  if (int err = ::posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ)) {
    return Fail(err);
  }
  out.id = pid;
  return {};
}

Error Wait(Process& process, int& status) {
  int raw;
  while (::waitpid(static_cast<pid_t>(process.id), &raw, 0) < 0) {
    if (errno != EINTR) return Fail(errno);
  }
  status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  process.id = 0;
  return {};
}

}  // namespace loomreg::os

// ---- The checker's calls (loomreg-check). ----

#include <sys/ioctl.h>

#include <cstdlib>
#include <iterator>

namespace loomreg::os {

Error VisitDirectory(const Root& root, std::string_view name, const EntryVisitor& visit) {
  const std::string path(name.empty() ? "." : name);
  int fd = OpenRetrying(RootAccess::Dir(root), path, O_RDONLY | O_CLOEXEC | O_DIRECTORY);
  if (fd < 0) return Fail(errno);
  DIR* stream = ::fdopendir(fd);
  if (stream == nullptr) {
    Error failed = Fail(errno);
    ::close(fd);
    return failed;
  }
  Error error;
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(stream);
    if (entry == nullptr) {
      if (errno != 0) error = Fail(errno);
      break;
    }
    const std::string_view entry_name = entry->d_name;
    if (entry_name == "." || entry_name == "..") continue;
    Type type = Type::kOther;
    switch (entry->d_type) {
      case DT_REG:
        type = Type::kRegular;
        break;
      case DT_DIR:
        type = Type::kDirectory;
        break;
      case DT_LNK:
        type = Type::kLink;
        break;
      case DT_FIFO:
        type = Type::kFifo;
        break;
      case DT_CHR:
      case DT_BLK:
        type = Type::kDevice;
        break;
      case DT_SOCK:
        type = Type::kSocket;
        break;
      case DT_UNKNOWN: {
        // Some file systems give no type at all.
        struct stat st;
        if (::fstatat(::dirfd(stream), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
          type = TypeOf(st.st_mode);
        }
        break;
      }
      default:
        break;
    }
    visit(entry_name, type);
  }
  ::closedir(stream);
  return error;
}

Error RenameOver(const Root& root, std::string_view from, std::string_view to) {
  const int dir = RootAccess::Dir(root);
  if (::renameat(dir, std::string(from).c_str(), dir, std::string(to).c_str()) != 0) {
    return Fail(errno);
  }
  return {};
}

Error OpenUnnamedFile(Handle& out) {
  const char* dir = std::getenv("TMPDIR");
  if (dir == nullptr || *dir == '\0') dir = "/tmp";
  int fd = ::open(dir, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0) {
    // A file system without O_TMPFILE: a named file, unnamed at once.
    std::string path = std::string(dir) + "/loomreg-check-XXXXXX";
    fd = ::mkostemp(path.data(), O_CLOEXEC);
    if (fd < 0) return Fail(errno);
    ::unlink(path.c_str());
  }
  out = Handle(fd);
  return {};
}

bool IsTerminal(Stream stream, std::size_t& columns) {
  const int fd = stream == Stream::kOutput ? STDOUT_FILENO : STDERR_FILENO;
  if (::isatty(fd) != 1) return false;
  winsize size = {};
  if (::ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) columns = size.ws_col;
  return true;
}

namespace {

// The program RunHolding runs, for the signal handler; 0 while there is none.
volatile std::sig_atomic_t g_held_program = 0;

// Passes a signal on to the program. One the terminal sent (SIGINT from Ctrl-C, SIGHUP on a
// hangup) went to the whole foreground process group, the program included, and is not sent
// twice.
extern "C" void ForwardSignal(int signal, siginfo_t* info, void*) {
  if (info != nullptr && info->si_code == SI_KERNEL) return;
  const pid_t program = g_held_program;
  if (program > 0) ::kill(program, signal);
}

constexpr int kForwarded[] = {SIGTERM, SIGHUP, SIGINT, SIGQUIT};

// While it lives, the signals of kForwarded are passed on to the program rather than ending
// this process, whose end would leave the program running. One this process ignores (under
// nohup, say) stays ignored by both.
class ForwardedSignals {
 public:
  ForwardedSignals() {
    struct sigaction forward = {};
    forward.sa_sigaction = ForwardSignal;
    forward.sa_flags = SA_SIGINFO | SA_RESTART;
    ::sigemptyset(&forward.sa_mask);
    for (std::size_t i = 0; i < std::size(kForwarded); ++i) {
      ::sigaction(kForwarded[i], nullptr, &old_[i]);
      if (old_[i].sa_handler != SIG_IGN) ::sigaction(kForwarded[i], &forward, nullptr);
    }
  }
  ~ForwardedSignals() {
    for (std::size_t i = 0; i < std::size(kForwarded); ++i) {
      ::sigaction(kForwarded[i], &old_[i], nullptr);
    }
  }
  ForwardedSignals(const ForwardedSignals&) = delete;
  ForwardedSignals& operator=(const ForwardedSignals&) = delete;

 private:
  struct sigaction old_[std::size(kForwarded)] = {};
};

// Blocks the forwarded signals for its lifetime: between the program's start and the moment its
// process ID is known, or once it has ended and its ID may be reused.
class BlockedSignals {
 public:
  BlockedSignals() {
    sigset_t set;
    ::sigemptyset(&set);
    for (int signal : kForwarded) ::sigaddset(&set, signal);
    ::sigprocmask(SIG_BLOCK, &set, &old_);
  }
  ~BlockedSignals() { ::sigprocmask(SIG_SETMASK, &old_, nullptr); }
  BlockedSignals(const BlockedSignals&) = delete;
  BlockedSignals& operator=(const BlockedSignals&) = delete;

 private:
  sigset_t old_;
};

// Starts `argv`, searched on PATH, with no signal blocked and SIGINT and SIGQUIT at their
// defaults. Returns 0 or the error.
int SpawnHeld(pid_t* pid, char* const* argv) {
  posix_spawnattr_t attr;
  if (int err = ::posix_spawnattr_init(&attr)) return err;
  sigset_t defaults, none;
  ::sigemptyset(&defaults);
  ::sigaddset(&defaults, SIGINT);
  ::sigaddset(&defaults, SIGQUIT);
  ::sigemptyset(&none);
  int err = ::posix_spawnattr_setsigdefault(&attr, &defaults);
  if (err == 0) err = ::posix_spawnattr_setsigmask(&attr, &none);
  if (err == 0) {
    err = ::posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  }
  if (err == 0) err = ::posix_spawnp(pid, argv[0], nullptr, &attr, argv, environ);
  ::posix_spawnattr_destroy(&attr);
  return err;
}

}  // namespace

Error RunHolding(std::span<const std::string> command, const Handle& lock, int& status,
                 RunStep& failed) {
  failed = RunStep::kPass;
  status = 125;
  // A duplicate without close-on-exec: the program's copy of the lock.
  Handle inherited(::fcntl(FdOf(lock), F_DUPFD, 3));
  if (!inherited.valid()) return Fail(errno);
  std::vector<char*> argv;
  // posix_spawnp does not change the argument strings; its signature predates const.
  for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  ForwardedSignals forwarded;
  pid_t pid;
  {
    BlockedSignals blocked;
    if (int err = command.empty() ? ENOENT : SpawnHeld(&pid, argv.data())) {
      failed = RunStep::kStart;
      status = err == ENOENT ? 127 : 126;
      return Fail(err);
    }
    g_held_program = pid;
  }
  (void)inherited.Close();
  // Wait for the end without reaping, so that no signal is passed on to a reused ID.
  siginfo_t info;
  while (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) != 0) {
    if (errno != EINTR) {
      failed = RunStep::kWait;
      return Fail(errno);
    }
  }
  int raw = 0;
  {
    BlockedSignals blocked;
    g_held_program = 0;
    while (::waitpid(pid, &raw, 0) < 0 && errno == EINTR) {
    }
  }
  status = WIFSIGNALED(raw) ? 128 + WTERMSIG(raw) : WEXITSTATUS(raw);
  return {};
}

}  // namespace loomreg::os
