// Thin RAII layer over the POSIX calls the catalogue operations need. Every failure carries
// what was being done, to which file, and the system's error text.
#ifndef LOOMREG_STORE_FILE_IO_H
#define LOOMREG_STORE_FILE_IO_H

#include <sys/stat.h>
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
  // A failed open of `path`: as SystemError, but a symbolic link that O_NOFOLLOW refused is
  // named as such rather than as a loop of links.
  static Status OpenError(std::string_view path, int err);

  bool ok() const { return message_.empty(); }
  const std::string& message() const { return message_; }
  // The errno of a failed system call, or 0: lets a caller explain the common causes.
  int error() const { return error_; }

 private:
  explicit Status(std::string message, int error = 0)
      : message_(std::move(message)), error_(error) {}
  std::string message_;
  int error_ = 0;
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
  kRead,        // existing file, read only
  kReadAppend,  // existing file, read, and append at the end: never created
  kAppend,      // read, and append at the end; created when absent
  kRewrite,     // replace the content, created when absent
};

// Whether WriteFile makes what it wrote durable before it returns: the file's data, and the
// directory entry of a file it created.
enum class Durability { kDurable, kVolatile };

// open(path, flags, 0666), retried after a signal: the one open() of every store file.
int OpenRetrying(const char* path, int flags);

// Opens `path`; on failure returns an invalid Fd with errno set. `created` (if given) tells
// whether this call may have created the file. A symbolic link as the last component is never
// followed (ELOOP), and a FIFO never blocks the open.
Fd OpenFile(const char* path, OpenMode mode, bool* created = nullptr);

// Writes `data` with a single write() call, so that no reader or concurrent appender ever sees a
// part of it. A short write is undone by cutting the file back to `undo_size` (pass -1 to skip
// that) and reported with its real cause: the rest is written once more only to learn the
// error (EFBIG, ENOSPC...) that cut the first write short.
Status WriteOnce(int fd, const char* path, std::string_view data, off_t undo_size);

// What kind of file `mode` is, for a message: "a symbolic link", "a directory", "a FIFO"...
std::string_view FileTypeText(mode_t mode);

// Fails ("<action> <path>: not a regular file", with error() 0) unless the file open at `fd` is
// a regular file; a failed fstat fails with its errno. Fills `st`, when given, with the file's
// status. The one test of "a regular file" for every open store file: only regular files are
// read, appended to or locked, as a device or FIFO planted in the store would be read without
// end or block.
Status RequireRegular(int fd, std::string_view action, const char* path, struct stat* st = nullptr);

// Reads from `fd` until its end or until `out` holds `limit` bytes, retrying after a signal.
Status ReadUpTo(int fd, const char* path, std::size_t limit, std::string& out);

// Flushes an open file to stable storage. Special files, which have nothing to flush, pass.
Status SyncFd(int fd, const char* path);
// Flushes the file or directory at `path`.
Status SyncPath(const char* path);
// Flushes the directory holding `path`, making a new or renamed entry in it durable.
Status SyncParentDirectory(std::string_view path);

// Opens, writes, flushes and closes: the body of every "write this text to that file" operation.
// kAppend adds `data` at the end as AppendLineTo does; kRewrite overwrites the file from its start
// and cuts off what lies beyond, so that a file rewritten with text of the same length is never
// seen empty.
Status WriteFile(const char* path, OpenMode mode, std::string_view data,
                 Durability durability = Durability::kDurable);

}  // namespace loomreg

#endif
