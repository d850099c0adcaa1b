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
  return Status(std::move(message));
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

Fd OpenFile(const char* path, OpenMode mode) {
  // O_NONBLOCK keeps a FIFO planted in the store from hanging the run; it changes nothing for
  // regular files.
  int flags = O_CLOEXEC | O_NONBLOCK;
  switch (mode) {
    case OpenMode::kRead:
      flags |= O_RDONLY;
      break;
    case OpenMode::kReadWrite:
      flags |= O_RDWR;
      break;
    case OpenMode::kAppend:
      flags |= O_WRONLY | O_APPEND | O_CREAT;
      break;
    case OpenMode::kTruncate:
      flags |= O_WRONLY | O_TRUNC | O_CREAT;
      break;
  }
  int fd;
  do {
    fd = ::open(path, flags, 0666);
  } while (fd < 0 && errno == EINTR);
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

Status WriteFile(const char* path, OpenMode mode, std::string_view data) {
  Fd fd = OpenFile(path, mode);
  if (!fd.valid()) return Status::SystemError("cannot open", path, errno);
  off_t undo_size = -1;
  if (mode == OpenMode::kAppend) {
    struct stat st;
    if (::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode)) undo_size = st.st_size;
  } else if (mode == OpenMode::kTruncate) {
    undo_size = 0;
  }
  if (!WriteOnce(fd.get(), data, undo_size))
    return Status::SystemError("cannot write", path, errno);
  if (int err = fd.Close()) return Status::SystemError("cannot close", path, err);
  return {};
}

}  // namespace loomreg
