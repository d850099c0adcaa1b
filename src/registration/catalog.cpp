#include "catalog.h"

#include <optional>
#include <string>

#include "list_format.h"
#include "machine_stamp.h"
#include "registration.h"

namespace loomreg {
namespace {

std::string Line(std::string_view text) {
  std::string line;
  line.reserve(text.size() + 2);
  line += text;
  line += "\r\n";
  return line;
}

// What a scan of a list found, and how the list ends when the scan read it to its end.
struct Scanned {
  bool found = false;
  bool read_whole = false;  // `size` and `last` known
  std::uint64_t size = 0;
  std::optional<char> last;  // the last byte, none for an empty list
};

// Scans an open list for `name`. Only regular files are lists: a device or FIFO planted in
// the store would otherwise be read without end or block. A list of up to one scan block, as
// most are, is read with one read of its size, which on a shared file system saves the request
// that would only find its end; a longer one is streamed, in bounded memory. Under the store
// lock the list does not grow between the fstat and the read.
Result<Scanned> ScanList(const Fd& fd, const std::string& path, std::string_view name) {
  os::Info info;
  if (Status status = RequireRegular(fd.handle(), "cannot read", path, &info); !status.ok()) {
    return status;
  }
  Scanned scanned;
  if (info.size > kScanBlock) {
    WordScan scan = ScanForWord(fd.handle(), path, name);
    if (!scan.status.ok()) return scan.status;
    scanned.found = scan.found;
    return scanned;
  }
  Result<std::string> text = ReadUpTo(fd.handle(), path, static_cast<std::size_t>(info.size));
  if (!text.ok()) return text.status();
  scanned.found = TextHasWord(text.value(), name);
  // A list cut short meanwhile leaves its end unknown: the append asks for it again.
  scanned.read_whole = text->size() == info.size;
  scanned.size = info.size;
  if (!text->empty()) scanned.last = text->back();
  return scanned;
}

int ToResult(const Status& status) { return status.ok() ? 0 : -1; }

}  // namespace

Status AppendLine(const Place& list, std::string_view text) {
  return AppendLineToFile(list, Line(text));
}

Status AddIfAbsent(const Place& list, std::string_view name) {
  Result<OpenedFile> opened = OpenFile(list, OpenMode::kRead);
  if (opened.ok()) {
    Result<Scanned> scanned = ScanList(opened->fd, list.shown, name);
    if (!scanned.ok()) return scanned.status();
    if (scanned->found) return {};
    opened->fd.Reset();
  } else if (opened.status().kind() != os::Kind::kNotFound) {
    // Only a list that does not exist is empty: appending to one that cannot be read would
    // list the name again at every save.
    return opened.status();
  }
  return AppendLine(list, name);
}

Status AddToFileList(const Place& list, std::string_view name) {
  // O_APPEND, not a seek to the end: on a shared file system another host's last append may
  // lie beyond the size this client saw, and only the server knows where the end is.
  Result<OpenedFile> opened = OpenFile(list, OpenMode::kReadAppend);
  if (!opened.ok()) return opened.status();
  const os::Handle& fd = opened->fd.handle();
  const std::string& path = list.shown;
  Result<Scanned> scanned = ScanList(opened->fd, path, name);
  if (!scanned.ok()) return scanned.status();
  if (scanned->found) return {};
  Status appended = scanned->read_whole
                        ? AppendLineAfter(fd, path, Line(name), scanned->size, scanned->last)
                        : AppendLineTo(fd, path, Line(name));
  if (!appended.ok()) return appended;
  if (Status status = SyncFd(fd, path); !status.ok()) return status;
  return opened->fd.Close("cannot close", path);
}

Status AppendHistory(const Place& history, std::string_view file, std::string_view style,
                     std::string_view beam, std::string_view comment, std::string_view machine) {
  std::string line;
  for (std::string_view field : {file, style, beam, comment}) {
    line += field;
    line += ',';
  }
  line += machine;
  return AppendLine(history, line);
}

Status WriteStamp(const Place& stamp, std::string_view machine, std::time_t when) {
  return RewriteFile(stamp, MachineStampText(machine, when));
}

}  // namespace loomreg

using loomreg::ToResult;

namespace {

// The C interface's paths are the caller's, from the working directory.
loomreg::Place Here(const char* path) { return loomreg::Place::FromWorkingDirectory(path); }

}  // namespace

extern "C" int AppendListLine(const char* path, const char* text) {
  return ToResult(loomreg::AppendLine(Here(path), text));
}

extern "C" int AddNameIfAbsent(const char* path, const char* name) {
  return ToResult(loomreg::AddIfAbsent(Here(path), name));
}

extern "C" int AddNameToFileList(const char* path, const char* name) {
  return ToResult(loomreg::AddToFileList(Here(path), name));
}

extern "C" int WriteHistoryLine(const char* path, const char* file, const char* style,
                                const char* beam, const char* comment, const char* machine) {
  return ToResult(loomreg::AppendHistory(Here(path), file, style, beam, comment, machine));
}

extern "C" int WriteMachineStamp(const char* path, const char* machine) {
  return ToResult(loomreg::WriteStamp(Here(path), machine, std::time(nullptr)));
}
