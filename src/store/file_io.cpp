#include "file_io.h"

namespace loomreg {

Status Status::SystemError(std::string_view action, std::string_view path, int err) {
  return SystemError(action, path, os::FromErrno(err));
}

Status Status::SystemError(std::string_view action, std::string_view path,
                           const os::Error& failure) {
  std::string message(action);
  message += ' ';
  message += path;
  message += ": ";
  message += failure.text;
  return Status(std::move(message), failure);
}

const os::Root& Place::directory() const {
  static const os::Root working_directory;
  return root != nullptr ? *root : working_directory;
}

Place Place::Parent() const {
  std::size_t slash = name.rfind('/');
  std::size_t shown_slash = shown.rfind('/');
  std::string shown_dir = shown_slash == std::string::npos ? "."
                          : shown_slash == 0               ? "/"
                                                           : shown.substr(0, shown_slash);
  if (slash == std::string::npos) return {root, ".", shown_dir};
  return {root, slash == 0 ? "/" : name.substr(0, slash), shown_dir};
}

Place Place::Child(std::string_view child) const {
  if (name == ".") return {root, std::string(child), shown + std::string(child)};
  return {root, name + std::string(child), shown + std::string(child)};
}

Status Status::OpenError(const Place& place, int err) {
  os::Error failure = os::FromErrno(err);
  os::Info info;
  if (failure.kind == os::Kind::kLink && os::StatAt(place.directory(), place.name, info).ok() &&
      info.type == os::Type::kLink) {
    failure.text = "a symbolic link, never followed";
  }
  return OpenError(place, failure);
}

Status Status::OpenError(const Place& place, const os::Error& failure) {
  if (failure.kind == os::Kind::kLink) {
    return Status("cannot open " + place.shown + ": " + failure.text, failure);
  }
  return SystemError("cannot open", place.shown, failure);
}

Status Fd::Close(std::string_view action, std::string_view path) {
  if (os::Error closed = handle_.Close(); !closed.ok()) {
    return Status::SystemError(action, path, closed);
  }
  return {};
}

Result<OpenedFile> OpenFile(const Place& place, OpenMode mode) {
  // A FIFO never blocks the open, and a link planted in place of a file, which would take the
  // write outside, is never followed. The caller judges the type of what was opened.
  os::OpenOptions options;
  options.any_type = true;
  switch (mode) {
    case OpenMode::kRead:
      break;
    case OpenMode::kReadAppend:
      options.access = os::Access::kAppend;
      break;
    case OpenMode::kAppend:
      // Read too: the append reads the last byte, to end an unterminated last line first.
      options.access = os::Access::kAppend;
      options.create = os::Create::kIfMissing;
      break;
    case OpenMode::kRewrite:
      options.access = os::Access::kWrite;
      options.create = os::Create::kIfMissing;
      break;
  }
  os::Handle file;
  bool created = false;
  if (os::Error error = os::OpenFile(place.directory(), place.name, options, file, &created);
      !error.ok()) {
    return Status::OpenError(place, error);
  }
  return OpenedFile{Fd(std::move(file)), created};
}

namespace {

// Why a write of `data` stopped after `written` bytes. The rest is written once more (at
// `offset` + `written`, or at the end for -1) only to learn the error the system gives then;
// a second short write leaves no error to report, so the message gives the byte counts.
Status ShortWrite(const os::Handle& file, std::string_view path, std::string_view data,
                  std::size_t written, std::int64_t offset) {
  std::string_view rest = data.substr(written);
  std::size_t again = 0;
  os::Error error =
      offset < 0 ? os::Write(file, rest, again)
                 : os::WriteAt(file, static_cast<std::uint64_t>(offset) + written, rest, again);
  if (!error.ok() && error.kind != os::Kind::kShortWrite) {
    return Status::SystemError("cannot write", path, error);
  }
  return Status::Error("cannot write " + std::string(path) + ": the write was cut short after " +
                       std::to_string(written) + " of " + std::to_string(data.size()) + " bytes");
}

}  // namespace

Status WriteOnce(const os::Handle& file, std::string_view path, std::string_view data,
                 std::int64_t undo_size) {
  std::size_t written = 0;
  os::Error error = os::Write(file, data, written);
  if (error.ok()) return {};
  if (error.kind != os::Kind::kShortWrite) return Status::SystemError("cannot write", path, error);
  Status failed = ShortWrite(file, path, data, written, -1);
  if (undo_size >= 0) (void)os::Truncate(file, static_cast<std::uint64_t>(undo_size));
  return failed;
}

namespace {

Result<os::Info> StatusOf(const Place& place, std::string_view action, os::Links links,
                          os::Attributes attributes) {
  os::Info info;
  if (os::Error error = os::StatAt(place.directory(), place.name, info, links, attributes);
      !error.ok()) {
    return Status::SystemError(action, place.shown, error);
  }
  return info;
}

}  // namespace

Result<os::Info> LinkStatus(const Place& place) {
  return StatusOf(place, "cannot look at", os::Links::kRefuse, os::Attributes::kFresh);
}

Result<os::Info> FileStatus(const Place& place) {
  return StatusOf(place, "cannot look at", os::Links::kFollow, os::Attributes::kFresh);
}

std::string_view FileTypeText(os::Type type) {
  switch (type) {
    case os::Type::kRegular:
      return "a regular file";
    case os::Type::kLink:
      return "a symbolic link";
    case os::Type::kDirectory:
      return "a directory";
    case os::Type::kFifo:
      return "a FIFO";
    case os::Type::kDevice:
      return "a device";
    case os::Type::kSocket:
      return "a socket";
    case os::Type::kOther:
      break;
  }
  return "of an unknown type";
}

Result<os::Info> StatAsFound(const Place& place, std::string_view action) {
  return StatusOf(place, action, os::Links::kRefuse, os::Attributes::kAsFound);
}

Status RequireRegular(const os::Handle& file, std::string_view action, std::string_view path,
                      os::Info* info) {
  os::Info found;
  if (os::Error error = os::Stat(file, found); !error.ok()) {
    return Status::SystemError(action, path, error);
  }
  if (info != nullptr) *info = found;
  if (found.type != os::Type::kRegular) {
    return Status::Error(std::string(action) + " " + std::string(path) + ": not a regular file",
                         os::Kind::kNotRegular);
  }
  return {};
}

Result<std::string> ReadUpTo(const os::Handle& file, std::string_view path, std::size_t limit) {
  std::string out;
  if (os::Error error = os::ReadAll(file, limit, out); !error.ok()) {
    return Status::SystemError("cannot read", path, error);
  }
  return out;
}

Status SyncFd(const os::Handle& file, std::string_view path) {
  if (os::Error error = os::Flush(file); !error.ok()) {
    return Status::SystemError("cannot flush", path, error);
  }
  return {};
}

Status SyncPlace(const Place& place) {
  if (os::Error error = os::FlushFile(place.directory(), place.name); !error.ok()) {
    return Status::SystemError("cannot flush", place.shown, error);
  }
  return {};
}

Status SyncParentDirectory(const Place& place) {
  // The directories of the path table may be symbolic links, which are followed as the path
  // to a file follows them.
  Place parent = place.Parent();
  if (os::Error error = os::FlushDirectory(parent.directory(), parent.name); !error.ok()) {
    return Status::SystemError("cannot flush", parent.shown, error);
  }
  return {};
}

namespace {

// Overwrites the file from its start and cuts off any longer old content. A stamp rewritten
// with text of the same length is thus never empty, not even for a moment.
Status Rewrite(const os::Handle& file, std::string_view path, std::string_view data) {
  // The size before the write tells whether anything lies beyond the new text: no second stat.
  os::Info info;
  if (Status regular = RequireRegular(file, "cannot write", path, &info); !regular.ok()) {
    return regular;
  }
  std::size_t written = 0;
  os::Error error = os::WriteAt(file, 0, data, written);
  if (error.kind == os::Kind::kShortWrite) return ShortWrite(file, path, data, written, 0);
  if (!error.ok()) return Status::SystemError("cannot write", path, error);
  if (info.size > data.size()) {
    if (os::Error cut = os::Truncate(file, data.size()); !cut.ok()) {
      return Status::SystemError("cannot write", path, cut);
    }
  }
  return {};
}

}  // namespace

Status RewriteFile(const Place& place, std::string_view data, Durability durability) {
  return WriteFile(place, OpenMode::kRewrite, data, Rewrite, durability);
}

Status WriteFile(const Place& place, OpenMode mode, std::string_view data, FileWriter write,
                 Durability durability) {
  Result<OpenedFile> opened = OpenFile(place, mode);
  if (!opened.ok()) return opened.status();
  const Fd& fd = opened->fd;
  const bool created = opened->created;
  const std::string& path = place.shown;
  Status written = write(fd.handle(), path, data);
  if (!written.ok()) {
    // A file that this call created and could not fill is taken back, leaving no trace.
    if (created) (void)os::Remove(place.directory(), place.name);
    return written;
  }
  if (durability == Durability::kDurable) {
    if (Status status = SyncFd(fd.handle(), path); !status.ok()) return status;
  }
  if (Status closed = opened->fd.Close("cannot close", path); !closed.ok()) return closed;
  if (created && durability == Durability::kDurable) return SyncParentDirectory(place);
  return {};
}

}  // namespace loomreg
