#include "file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace loomreg {

Status Status::SystemError(std::string_view action, std::string_view path, int err) {
  std::string message(action);
  message += ' ';
  message += path;
  message += ": ";
  message += std::strerror(err);
  return Status(std::move(message), err);
}

Fd& Fd::operator=(Fd&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

Fd::~Fd() { Close(); }

int Fd::Close() {
  if (fd_ < 0) return 0;
  // On Linux the descriptor is gone even when close() fails, so it is never retried.
  int result = ::close(std::exchange(fd_, -1));
  return result == 0 ? 0 : errno;
}

namespace {

int OpenRetrying(const char* path, int flags) {
  int fd;
  do {
    fd = ::open(path, flags, 0666);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

}  // namespace

Fd OpenFile(const char* path, OpenMode mode, bool* created) {
  if (created) *created = false;
  // O_NONBLOCK keeps a FIFO planted in the store from hanging the run; it changes nothing for
  // regular files.
  int flags = O_CLOEXEC | O_NONBLOCK;
  bool may_create = false;
  switch (mode) {
    case OpenMode::kRead:
      flags |= O_RDONLY;
      break;
    case OpenMode::kReadAppend:
      flags |= O_RDWR | O_APPEND;
      break;
    case OpenMode::kAppend:
      flags |= O_WRONLY | O_APPEND;
      may_create = true;
      break;
    case OpenMode::kRewrite:
      flags |= O_WRONLY;
      may_create = true;
      break;
  }
  int fd = OpenRetrying(path, flags);
  if (fd < 0 && may_create && errno == ENOENT) {
    // Opening without O_CREAT first tells whether the directory gained an entry.
    fd = OpenRetrying(path, flags | O_CREAT);
    if (fd >= 0 && created) *created = true;
  }
  return Fd(fd);
}

bool WriteOnce(int fd, std::string_view data, off_t undo_size) {
  ssize_t written;
  do {
    written = ::write(fd, data.data(), data.size());
  } while (written < 0 && errno == EINTR);
  if (written == static_cast<ssize_t>(data.size())) return true;
  if (written >= 0) {
    if (undo_size >= 0 && written > 0) (void)::ftruncate(fd, undo_size);
    errno = ENOSPC;
  }
  return false;
}

Status SyncFd(int fd, const char* path) {
  if (::fsync(fd) == 0 || errno == EINVAL) return {};
  return Status::SystemError("cannot flush", path, errno);
}

Status SyncPath(const char* path) {
  Fd fd(OpenRetrying(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd.valid()) return Status::SystemError("cannot flush", path, errno);
  if (Status status = SyncFd(fd.get(), path); !status.ok()) return status;
  if (int err = fd.Close()) return Status::SystemError("cannot flush", path, err);
  return {};
}

Status SyncParentDirectory(std::string_view path) {
  std::size_t slash = path.rfind('/');
  std::string directory = slash == std::string_view::npos ? "."
                          : slash == 0                    ? "/"
                                                          : std::string(path.substr(0, slash));
  return SyncPath(directory.c_str());
}

namespace {

// Overwrites the file from its start and cuts off any longer old content. A stamp rewritten
// with text of the same length is thus never empty, not even for a moment.
bool Rewrite(int fd, std::string_view data) {
  ssize_t written;
  do {
    written = ::pwrite(fd, data.data(), data.size(), 0);
  } while (written < 0 && errno == EINTR);
  if (written != static_cast<ssize_t>(data.size())) {
    if (written >= 0) errno = ENOSPC;
    return false;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0) return false;
  if (S_ISREG(st.st_mode) && st.st_size > static_cast<off_t>(data.size())) {
    return ::ftruncate(fd, static_cast<off_t>(data.size())) == 0;
  }
  return true;
}

}  // namespace

Status WriteFile(const char* path, OpenMode mode, std::string_view data, Durability durability) {
  bool created = false;
  Fd fd = OpenFile(path, mode, &created);
  if (!fd.valid()) return Status::SystemError("cannot open", path, errno);
  bool written;
  if (mode == OpenMode::kRewrite) {
    written = Rewrite(fd.get(), data);
  } else {
    off_t undo_size = -1;
    struct stat st;
    if (::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode)) undo_size = st.st_size;
    written = WriteOnce(fd.get(), data, undo_size);
  }
  if (!written) {
    Status failed = Status::SystemError("cannot write", path, errno);
    // A file that this call created and could not fill is taken back, leaving no trace.
    if (created) (void)::unlink(path);
    return failed;
  }
  if (durability == Durability::kDurable) {
    if (Status status = SyncFd(fd.get(), path); !status.ok()) return status;
  }
  if (int err = fd.Close()) return Status::SystemError("cannot close", path, err);
  if (created && durability == Durability::kDurable) return SyncParentDirectory(path);
  return {};
}

}  // namespace loomreg
