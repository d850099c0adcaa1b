// Thin RAII layer over the POSIX calls the catalogue operations need. Every failure carries
// what was being done, to which file, and the system's error text.
#ifndef LOOMREG_REGISTRATION_FILE_IO_H
#define LOOMREG_REGISTRATION_FILE_IO_H

#include <sys/types.h>

#include <string>
#include <string_view>
#include <utility>

namespace loomreg {

// The outcome of an operation: success, or a failure with a one-line description.
class [[nodiscard]] Status {
 public:
  Status() = default;
  static Status Error(std::string message) { return Status(std::move(message)); }
  // A failed system call: "<action> <path>: <strerror(err)>".
  static Status SystemError(std::string_view action, std::string_view path, int err);

  bool ok() const { return message_.empty(); }
  const std::string& message() const { return message_; }

 private:
  explicit Status(std::string message) : message_(std::move(message)) {}
  std::string message_;
};

// An owned file descriptor, closed on destruction. Close() reports a failed close.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd& operator=(Fd&& other) noexcept;
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd();

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Closes the descriptor; returns the errno of a failed close, or 0.
  int Close();

 private:
  int fd_ = -1;
};

// How a file is opened. Files are created with mode 0666 less the umask, as fopen creates them.
enum class OpenMode {
  kRead,       // existing file, read only
  kReadWrite,  // existing file, read and write, never created
  kAppend,     // append, created when absent
  kTruncate,   // write from scratch, created when absent
};

// Opens `path`; on failure returns an invalid Fd with errno set.
Fd OpenFile(const char* path, OpenMode mode);

// Writes `data` with a single write() call, so that no reader or concurrent appender ever sees a
// part of it. A short write is undone by cutting the file back to `undo_size` (pass -1 to skip
// that) and reported as a failure with errno ENOSPC.
bool WriteOnce(int fd, std::string_view data, off_t undo_size);

// Opens, writes and closes: the body of every "write this text to that file" operation.
Status WriteFile(const char* path, OpenMode mode, std::string_view data);

}  // namespace loomreg

#endif
