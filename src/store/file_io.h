// Thin RAII layer over the operating system's calls (the seam of os.h) that the catalogue
// operations need. Every failure carries what was being done, to which file, and the system's
// error text.
#ifndef LOOMREG_STORE_FILE_IO_H
#define LOOMREG_STORE_FILE_IO_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "os.h"

namespace loomreg {

struct Place;

// The outcome of an operation: success, or a failure with a one-line description.
class [[nodiscard]] Status {
 public:
  Status() = default;
  // A failure that is not the system's; `kind` says what it means, for callers that act on it.
  static Status Error(std::string message, os::Kind kind = os::Kind::kOther) {
    return Status(std::move(message), os::Error{kind, 0, {}});
  }
  // A failed C library call: "<action> <path>: <strerror(err)>", its kind mapped from errno.
  static Status SystemError(std::string_view action, std::string_view path, int err);
  // A failed call of the operating-system seam: "<action> <path>: <its text>", with kind() its
  // kind and error() the system's code.
  static Status SystemError(std::string_view action, std::string_view path,
                            const os::Error& failure);
  // A failed open of `place`: as SystemError, but a symbolic link that O_NOFOLLOW refused is
  // named as such rather than as a loop of links.
  static Status OpenError(const Place& place, int err);
  // The same for a failed os::OpenFile: a refused link is named as such, with its own text.
  static Status OpenError(const Place& place, const os::Error& failure);
  // A wait that ran out: `message` says for what.
  static Status TimedOut(std::string message) {
    return Status(std::move(message), os::Error{os::Kind::kTimedOut, 0, {}});
  }

  bool ok() const { return message_.empty(); }
  const std::string& message() const { return message_; }
  // What the failure means (os::Kind::kNone for success): callers act on this.
  os::Kind kind() const { return ok() ? os::Kind::kNone : failure_.kind; }
  // The system's code of a failed call (errno, or GetLastError() on Windows), or 0: for
  // messages only.
  int error() const { return failure_.code; }
  // The system's text for a failed call, empty for a failure that is not the system's.
  const std::string& reason() const { return failure_.text; }
  // The failure as the seam reported it: kind, code and text.
  const os::Error& failure() const { return failure_; }
  // Whether the failure is a wait that ran out, not an error of the system.
  bool timed_out() const { return kind() == os::Kind::kTimedOut; }
  // The same failure with `words` added to its message, to say where or what to do.
  Status With(std::string_view words) const {
    Status status = *this;
    status.message_ += words;
    return status;
  }

 private:
  Status(std::string message, os::Error failure)
      : message_(std::move(message)), failure_(std::move(failure)) {}
  std::string message_;
  os::Error failure_;
};

// A value, or the Status that says why there is none: the result of a fallible operation that
// yields something.
template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : value_(std::move(value)) {}  // NOLINT: a value converts implicitly
  // A failure: `failure` is never ok.
  Result(Status failure) : status_(std::move(failure)) {}  // NOLINT: so does a failure

  bool ok() const { return value_.has_value(); }
  const Status& status() const { return status_; }
  T& value() { return *value_; }
  const T& value() const { return *value_; }
  T& operator*() { return *value_; }
  const T& operator*() const { return *value_; }
  T* operator->() { return &*value_; }
  const T* operator->() const { return &*value_; }

 private:
  Status status_;
  std::optional<T> value_;
};

// A file or directory named relative to a directory held open (or to the working directory),
// with the path that messages show for it. Store files are named this way below the open data
// root, so a store path is never looked up from the working directory again. The directory is
// the caller's, and outlives the place.
struct Place {
  const os::Root* root = nullptr;  // none: the working directory
  std::string name;                // below `root`; "." is `root` itself
  std::string shown;               // the path in messages

  // A path from the working directory, shown as it is.
  static Place FromWorkingDirectory(std::string path) { return {nullptr, path, path}; }
  // The directory below which `name` is looked up.
  const os::Root& directory() const;
  // The directory holding this entry.
  Place Parent() const;
  // The entry `child` inside this directory, whose name ends in '/' or is ".".
  Place Child(std::string_view child) const;
};

// An open file (an os::Handle), closed on destruction. Close() reports a failed close.
class Fd {
 public:
  Fd() = default;
  explicit Fd(os::Handle handle) : handle_(std::move(handle)) {}

  const os::Handle& handle() const { return handle_; }
  bool valid() const { return handle_.valid(); }
  // Closes the file; a failed close fails as "<action> <path>: <error>".
  Status Close(std::string_view action, std::string_view path);
  // Closes the file, where a failed close changes nothing.
  void Reset() { (void)handle_.Close(); }
  // Gives the file up to the caller, who closes it (os::Handle::Release).
  std::intptr_t Release() { return handle_.Release(); }

 private:
  os::Handle handle_;
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

// An open file, and whether the open created it.
struct OpenedFile {
  Fd fd;
  bool created = false;
};

// Opens `place`; fails as Status::OpenError. A symbolic link (a reparse point on Windows) as the
// last component is never followed (kind() os::Kind::kLink), and a FIFO never blocks the open.
Result<OpenedFile> OpenFile(const Place& place, OpenMode mode);

// Writes `data` with a single write() call, so that no reader or concurrent appender ever sees a
// part of it. A short write is undone by cutting the file back to `undo_size` (pass -1 to skip
// that) and reported with its real cause: the rest is written once more only to learn the
// error (EFBIG, ENOSPC...) that cut the first write short.
Status WriteOnce(const os::Handle& file, std::string_view path, std::string_view data,
                 std::int64_t undo_size);

// The status of `place` itself (a link is not followed), or why there is none: "cannot look at
// PATH: <error>".
Result<os::Info> LinkStatus(const Place& place);
// The status of what `place` names, links followed.
Result<os::Info> FileStatus(const Place& place);

// What kind of file `type` is, for a message: "a symbolic link", "a directory", "a FIFO"...
std::string_view FileTypeText(os::Type type);

// The status of `place` itself (a link is not followed) from the attributes the kernel holds:
// for a file just opened or looked up, those its lookup brought, so that a network file system
// that revalidates every lookup (GlusterFS with attribute-timeout=0) is not asked a second time.
// On a local file system the same as LinkStatus. Fails as "<action> <path>: <error>".
Result<os::Info> StatAsFound(const Place& place, std::string_view action);

// Fails ("<action> <path>: not a regular file", with error() 0) unless the file open at `file`
// is a regular file; a failed os::Stat fails with its error. Fills `info`, when given, with the
// file's status as its open found it. The one test of "a regular file" for every open store
// file: only regular files are read, appended to or locked, as a device or FIFO planted in the
// store would be read without end or block.
Status RequireRegular(const os::Handle& file, std::string_view action, std::string_view path,
                      os::Info* info = nullptr);

// Reads from `file` until its end or until `out` holds `limit` bytes, retrying after a signal.
Result<std::string> ReadUpTo(const os::Handle& file, std::string_view path, std::size_t limit);

// Flushes an open file to stable storage. Special files, which have nothing to flush, pass.
Status SyncFd(const os::Handle& file, std::string_view path);
// Flushes the file or directory at `place`, never through a symbolic link.
Status SyncPlace(const Place& place);
// Flushes the directory holding `place`, making a new or renamed entry in it durable.
Status SyncParentDirectory(const Place& place);

// How WriteFile puts `data` into the file open at `file` (`path` names it in messages).
using FileWriter = Status (*)(const os::Handle& file, std::string_view path, std::string_view data);

// Opens `place` by `mode`, has `write` put `data` there, flushes and closes: the body of every
// "write this text to that file" operation. A file this call created and could not fill is
// removed again.
Status WriteFile(const Place& place, OpenMode mode, std::string_view data, FileWriter write,
                 Durability durability = Durability::kDurable);

// WriteFile with kRewrite: overwrites the regular file from its start and cuts off what lies
// beyond, so that a file rewritten with text of the same length is never seen empty.
Status RewriteFile(const Place& place, std::string_view data,
                   Durability durability = Durability::kDurable);

}  // namespace loomreg

#endif
