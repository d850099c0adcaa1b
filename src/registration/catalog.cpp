#include "catalog.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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

// Scans an open list for `name`. Only regular files are lists: a device or FIFO planted in
// the store would otherwise be read without end or block.
Status ScanList(const Fd& fd, const char* path, std::string_view name, bool& found) {
  if (Status status = RequireRegular(fd.get(), "cannot read", path); !status.ok()) return status;
  WordScan scan = ScanForWord(fd.get(), path, name);
  found = scan.found;
  return scan.status;
}

int ToResult(const Status& status) { return status.ok() ? 0 : -1; }

}  // namespace

Status AppendLine(const char* path, std::string_view text) {
  return WriteFile(path, OpenMode::kAppend, Line(text));
}

Status AddIfAbsent(const char* path, std::string_view name) {
  Fd fd = OpenFile(path, OpenMode::kRead);
  if (fd.valid()) {
    bool found = false;
    if (Status status = ScanList(fd, path, name, found); !status.ok()) return status;
    if (found) return {};
    fd.Close();
  } else if (errno != ENOENT) {
    // Only a list that does not exist is empty: appending to one that cannot be read would
    // list the name again at every save.
    return Status::OpenError(path, errno);
  }
  return AppendLine(path, name);
}

Status AddToFileList(const char* path, std::string_view name) {
  // O_APPEND, not a seek to the end: on a shared file system another host's last append may
  // lie beyond the size this client saw, and only the server knows where the end is.
  Fd fd = OpenFile(path, OpenMode::kReadAppend);
  if (!fd.valid()) return Status::OpenError(path, errno);
  bool found = false;
  if (Status status = ScanList(fd, path, name, found); !status.ok() || found) return status;
  if (Status status = AppendLineTo(fd.get(), path, Line(name)); !status.ok()) return status;
  if (Status status = SyncFd(fd.get(), path); !status.ok()) return status;
  if (int err = fd.Close()) return Status::SystemError("cannot close", path, err);
  return {};
}

Status AppendHistory(const char* path, std::string_view file, std::string_view style,
                     std::string_view beam, std::string_view comment, std::string_view machine) {
  std::string line;
  for (std::string_view field : {file, style, beam, comment}) {
    line += field;
    line += ',';
  }
  line += machine;
  return AppendLine(path, line);
}

Status WriteStamp(const char* path, std::string_view machine, std::time_t when) {
  return WriteFile(path, OpenMode::kRewrite, MachineStampText(machine, when));
}

}  // namespace loomreg

using loomreg::ToResult;

extern "C" int AppendListLine(const char* path, const char* text) {
  return ToResult(loomreg::AppendLine(path, text));
}

extern "C" int AddNameIfAbsent(const char* path, const char* name) {
  return ToResult(loomreg::AddIfAbsent(path, name));
}

extern "C" int AddNameToFileList(const char* path, const char* name) {
  return ToResult(loomreg::AddToFileList(path, name));
}

extern "C" int WriteHistoryLine(const char* path, const char* file, const char* style,
                                const char* beam, const char* comment, const char* machine) {
  return ToResult(loomreg::AppendHistory(path, file, style, beam, comment, machine));
}

extern "C" int WriteMachineStamp(const char* path, const char* machine) {
  return ToResult(loomreg::WriteStamp(path, machine, std::time(nullptr)));
}
