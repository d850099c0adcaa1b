// The seam on Windows. Names arrive as bytes in the ANSI code page and go to the system's wide
// calls through MultiByteToWideChar(CP_ACP), so a name typed in that code page is stored under
// that name; full paths that reach the 260-character limit get the \\?\ prefix.
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0A00
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

#include "os.h"

namespace loomreg::os {

struct RootAccess {
  static const std::wstring& Path(const Root& root) { return root.path_; }
  static void Set(Root& root, HANDLE dir, std::wstring path) {
    root.dir_ = Handle(reinterpret_cast<std::intptr_t>(dir));
    root.path_ = std::move(path);
  }
};

namespace {

HANDLE HandleOf(const Handle& handle) { return reinterpret_cast<HANDLE>(handle.get()); }

Handle Own(HANDLE handle) {
  return handle == INVALID_HANDLE_VALUE ? Handle()
                                        : Handle(reinterpret_cast<std::intptr_t>(handle));
}

std::string MessageText(DWORD code) {
  char text[512];
  DWORD size = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                code, 0, text, sizeof text, nullptr);
  std::string_view message(text, size);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == ' ' || message.back() == '.')) {
    message.remove_suffix(1);
  }
  if (message.empty()) return "system error " + std::to_string(code);
  return std::string(message);
}

Error Fail(DWORD code) {
  Kind kind = Kind::kOther;
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_NETPATH:
    case ERROR_DIRECTORY:
      kind = Kind::kNotFound;
      break;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      kind = Kind::kExists;
      break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_WRITE_PROTECT:
      kind = Kind::kAccess;
      break;
    default:
      break;
  }
  return {kind, static_cast<int>(code), MessageText(code)};
}

Error LastError() { return Fail(::GetLastError()); }

Error Fail(Kind kind, std::string text) { return {kind, 0, std::move(text)}; }

std::wstring Widen(std::string_view bytes) {
  if (bytes.empty()) return {};
  const int size = static_cast<int>(bytes.size());
  std::wstring wide(
      static_cast<std::size_t>(::MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, nullptr, 0)),
      L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, wide.data(), static_cast<int>(wide.size()));
  return wide;
}

std::string Narrow(std::wstring_view wide) {
  if (wide.empty()) return {};
  const int size = static_cast<int>(wide.size());
  std::string bytes(static_cast<std::size_t>(::WideCharToMultiByte(CP_ACP, 0, wide.data(), size,
                                                                   nullptr, 0, nullptr, nullptr)),
                    '\0');
  ::WideCharToMultiByte(CP_ACP, 0, wide.data(), size, bytes.data(), static_cast<int>(bytes.size()),
                        nullptr, nullptr);
  return bytes;
}

// The full path of `name` below `root`: '/' made '\', "." and ".." steps resolved, and \\?\ put
// before it when it reaches the length at which the plain form stops working.
std::wstring FullPath(const Root& root, std::string_view name) {
  // An absolute name ("C:/...", "/...", "\\server\...") stands for itself, as openat() takes
  // one on POSIX whatever the directory.
  const bool absolute =
      (name.size() >= 2 && name[1] == ':') || name.starts_with('/') || name.starts_with('\\');
  std::wstring path = absolute ? std::wstring() : RootAccess::Path(root);
  if (!path.empty() && !name.empty() && name != ".") path += L'\\';
  if (path.empty() || name != ".") path += Widen(name);
  if (path.empty()) path = L".";
  if (path.starts_with(L"\\\\?\\")) return path;
  std::wstring full(MAX_PATH, L'\0');
  for (;;) {
    DWORD size =
        ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (size == 0) return path;  // left to the call that uses it to fail
    if (size < full.size()) {
      full.resize(size);
      break;
    }
    full.resize(size);
  }
  // 248 rather than 260: a directory's path must leave room for an 8.3 name below it.
  if (full.size() < MAX_PATH - 12) return full;
  if (full.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

Type TypeOf(DWORD attributes) {
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return Type::kLink;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return Type::kDirectory;
  return Type::kRegular;
}

// Deletion is shared too, so that a file held open can still be renamed over or moved, as on
// POSIX.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

}  // namespace

Error Handle::Close() {
  if (!valid()) return {};
  if (!::CloseHandle(reinterpret_cast<HANDLE>(std::exchange(value_, kNone)))) return LastError();
  return {};
}

Error Root::OpenBelow(const Root& parent, std::string_view name, Links links, Hold, Root& out) {
  std::wstring full = FullPath(parent, name.empty() ? "." : name);
  DWORD flags = FILE_FLAG_BACKUP_SEMANTICS;
  if (links == Links::kRefuse) flags |= FILE_FLAG_OPEN_REPARSE_POINT;
  HANDLE dir =
      ::CreateFileW(full.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, flags, nullptr);
  if (dir == INVALID_HANDLE_VALUE) return LastError();
  Handle opened = Own(dir);
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(dir, &info)) return LastError();
  if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    return Fail(Kind::kLink, "a reparse point, never followed");
  }
  if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return Fail(Kind::kNotFound, MessageText(ERROR_DIRECTORY));
  }
  RootAccess::Set(out, reinterpret_cast<HANDLE>(opened.Release()), std::move(full));
  return {};
}

Error Root::Flush() const { return {}; }

Error Root::Open(std::string_view path, Root& out) {
  std::wstring full = FullPath(Root(), path.empty() ? "." : path);
  // Without FILE_SHARE_DELETE: while this handle is open, the directory cannot be renamed or
  // removed, so every name below it stays below the same directory.
  HANDLE dir = ::CreateFileW(full.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (dir == INVALID_HANDLE_VALUE) return LastError();
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(dir, &info)) {
    Error failed = LastError();
    ::CloseHandle(dir);
    return failed;
  }
  if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    ::CloseHandle(dir);
    return Fail(ERROR_DIRECTORY);
  }
  if (full.ends_with(L'\\')) full.pop_back();  // a drive's root: "C:\"
  RootAccess::Set(out, dir, std::move(full));
  return {};
}

Error OpenFile(const Root& root, std::string_view name, OpenOptions options, Handle& out,
               bool* created) {
  DWORD access =
      options.access == Access::kWrite ? GENERIC_WRITE | FILE_READ_ATTRIBUTES : GENERIC_READ;
  if (options.access == Access::kReadWrite) access |= GENERIC_WRITE;
  // FILE_APPEND_DATA without FILE_WRITE_DATA: the system puts every write at the end of the
  // file, whatever else appends to it. FILE_WRITE_ATTRIBUTES lets the handle flush.
  if (options.access == Access::kAppend) access |= FILE_APPEND_DATA | FILE_WRITE_ATTRIBUTES;
  const DWORD disposition = options.create == Create::kNo          ? OPEN_EXISTING
                            : options.create == Create::kIfMissing ? OPEN_ALWAYS
                                                                   : CREATE_NEW;
  DWORD flags = FILE_ATTRIBUTE_NORMAL;
  if (options.links == Links::kRefuse) flags |= FILE_FLAG_OPEN_REPARSE_POINT;
  const std::wstring path = FullPath(root, name);
  HANDLE file =
      ::CreateFileW(path.c_str(), access, kShareAll, nullptr, disposition, flags, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD code = ::GetLastError();
    // A directory is refused with "access denied": said as what it is.
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (code == ERROR_ACCESS_DENIED && !options.any_type && attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      return Fail(Kind::kNotRegular, "not a regular file");
    }
    return Fail(code);
  }
  const bool made = options.create == Create::kNew || (options.create == Create::kIfMissing &&
                                                       ::GetLastError() != ERROR_ALREADY_EXISTS);
  Handle opened = Own(file);
  const bool disk = ::GetFileType(file) == FILE_TYPE_DISK;
  if (!disk && !options.any_type) return Fail(Kind::kNotRegular, "not a regular file");
  BY_HANDLE_FILE_INFORMATION info;
  if (!disk) {
    info = {};
  } else if (!::GetFileInformationByHandle(file, &info)) {
    return LastError();
  }
  if (options.links == Links::kRefuse && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    return Fail(Kind::kLink, "a symbolic link or junction, never followed");
  }
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !options.any_type) {
    return Fail(Kind::kNotRegular, "not a regular file");
  }
  out = std::move(opened);
  if (created != nullptr) *created = made;
  return {};
}

namespace {

constexpr DWORD kMaxChunk = 1u << 30;

DWORD Chunk(std::size_t size) { return static_cast<DWORD>(std::min<std::size_t>(size, kMaxChunk)); }

OVERLAPPED At(std::uint64_t offset) {
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return at;
}

Error ReadWith(const Handle& file, OVERLAPPED* at, char* data, std::size_t size, std::size_t& got) {
  DWORD n = 0;
  got = 0;
  if (!::ReadFile(HandleOf(file), data, Chunk(size), &n, at)) {
    const DWORD code = ::GetLastError();
    if (code == ERROR_HANDLE_EOF || code == ERROR_BROKEN_PIPE) return {};
    return Fail(code);
  }
  got = n;
  return {};
}

Error WriteWith(const Handle& file, OVERLAPPED* at, std::string_view data, std::size_t& written) {
  DWORD n = 0;
  written = 0;
  if (data.size() > kMaxChunk) return Fail(ERROR_INVALID_PARAMETER);
  if (!::WriteFile(HandleOf(file), data.data(), static_cast<DWORD>(data.size()), &n, at)) {
    return LastError();
  }
  written = n;
  if (written != data.size()) {
    return Fail(Kind::kShortWrite, "the write was cut short after " + std::to_string(written) +
                                       " of " + std::to_string(data.size()) + " bytes");
  }
  return {};
}

}  // namespace

Error SetBlocking(const Handle&) { return {}; }

Error GiveDescriptor(Handle file, int& out) {
  out = ::_open_osfhandle(file.get(), _O_RDONLY | _O_BINARY);
  if (out < 0) return {Kind::kOther, errno, std::strerror(errno)};
  (void)file.Release();  // now the descriptor's, closed with it
  return {};
}

Error Read(const Handle& file, char* data, std::size_t size, std::size_t& got) {
  return ReadWith(file, nullptr, data, size, got);
}

Error ReadAt(const Handle& file, std::uint64_t offset, char* data, std::size_t size,
             std::size_t& got) {
  OVERLAPPED at = At(offset);
  return ReadWith(file, &at, data, size, got);
}

Error Write(const Handle& file, std::string_view data, std::size_t& written) {
  return WriteWith(file, nullptr, data, written);
}

Error WriteAt(const Handle& file, std::uint64_t offset, std::string_view data,
              std::size_t& written) {
  OVERLAPPED at = At(offset);
  return WriteWith(file, &at, data, written);
}

Error Truncate(const Handle& file, std::uint64_t size) {
  FILE_END_OF_FILE_INFO end = {};
  end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
  if (!::SetFileInformationByHandle(HandleOf(file), FileEndOfFileInfo, &end, sizeof end)) {
    return LastError();
  }
  return {};
}

Error Flush(const Handle& file) {
  if (::FlushFileBuffers(HandleOf(file))) return {};
  const DWORD code = ::GetLastError();
  if (code == ERROR_INVALID_HANDLE || code == ERROR_INVALID_FUNCTION) return {};
  return Fail(code);
}

Error FlushDirectory(const Root& root, std::string_view name) {
  const DWORD attributes = ::GetFileAttributesW(FullPath(root, name).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return LastError();
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return Fail(ERROR_DIRECTORY);
  return {};
}

Error FlushFile(const Root& root, std::string_view name) {
  // FlushFileBuffers needs a handle open for writing.
  const std::wstring path = FullPath(root, name);
  HANDLE file =
      ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING,
                    FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD code = ::GetLastError();
    // A directory's entries are durable already, and a read-only file cannot be opened for
    // writing: its data is the system's to write back, as every handle's is.
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (code == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY))) {
      return {};
    }
    return Fail(code);
  }
  Handle opened = Own(file);
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(file, &info)) return LastError();
  // A directory's entries are durable already; a reparse point is never followed.
  if (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) {
    return opened.Close();
  }
  if (Error flushed = Flush(opened); !flushed.ok()) return flushed;
  return opened.Close();
}

Error Remove(const Root& root, std::string_view name) {
  if (!::DeleteFileW(FullPath(root, name).c_str())) return LastError();
  return {};
}

Error MakeDirectory(const Root& root, std::string_view name) {
  if (!::CreateDirectoryW(FullPath(root, name).c_str(), nullptr)) return LastError();
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
  if (error.ok() && !::MoveFileExW(FullPath(root, temporary).c_str(), FullPath(root, name).c_str(),
                                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    error = LastError();
  }
  if (!error.ok()) (void)Remove(root, temporary);
  return error;
}

Error Move(const Root& from_root, std::string_view from, const Root& to_root, std::string_view to,
           MoveBy, bool* old_name_kept) {
  if (old_name_kept != nullptr) *old_name_kept = false;
  // Without MOVEFILE_REPLACE_EXISTING an existing target fails the move, and without
  // MOVEFILE_COPY_ALLOWED it stays a rename on one volume. A reparse point is moved itself.
  if (!::MoveFileExW(FullPath(from_root, from).c_str(), FullPath(to_root, to).c_str(),
                     MOVEFILE_WRITE_THROUGH)) {
    return LastError();
  }
  return {};
}

bool PrefersLinkFirst(const Root&, std::uint64_t) { return false; }

namespace {

Info InfoOf(const BY_HANDLE_FILE_INFORMATION& info) {
  ULARGE_INTEGER written;
  written.LowPart = info.ftLastWriteTime.dwLowDateTime;
  written.HighPart = info.ftLastWriteTime.dwHighDateTime;
  // FILETIME counts 100 ns steps from 1601.
  constexpr std::uint64_t kFrom1601 = 116444736000000000ull;
  const std::int64_t since_1970 = static_cast<std::int64_t>(written.QuadPart - kFrom1601);
  Info out;
  out.type = TypeOf(info.dwFileAttributes);
  out.size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  out.volume = info.dwVolumeSerialNumber;
  out.id = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  out.modified = since_1970 / 10000000;
  out.modified_ns = static_cast<std::int32_t>(since_1970 % 10000000 * 100);
  out.links = info.nNumberOfLinks;
  return out;
}

}  // namespace

Error Stat(const Handle& file, Info& out, Attributes) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(HandleOf(file), &info)) return LastError();
  out = InfoOf(info);
  switch (::GetFileType(HandleOf(file))) {
    case FILE_TYPE_DISK:
      break;
    case FILE_TYPE_PIPE:
      out.type = Type::kFifo;
      break;
    case FILE_TYPE_CHAR:
      out.type = Type::kDevice;
      break;
    default:
      out.type = Type::kOther;
      break;
  }
  return {};
}

Error StatAt(const Root& root, std::string_view name, Info& out, Links links, Attributes) {
  DWORD flags = FILE_FLAG_BACKUP_SEMANTICS;
  if (links == Links::kRefuse) flags |= FILE_FLAG_OPEN_REPARSE_POINT;
  HANDLE file = ::CreateFileW(FullPath(root, name).c_str(), FILE_READ_ATTRIBUTES, kShareAll,
                              nullptr, OPEN_EXISTING, flags, nullptr);
  if (file == INVALID_HANDLE_VALUE) return LastError();
  Handle opened = Own(file);
  return Stat(opened, out);
}

// Owners and permission bits do not apply: a file takes the access its directory's ACL gives.
Error SetMode(const Handle&, std::uint32_t) { return {}; }

Error SetOwner(const Handle&, Id, Id) { return {}; }

Id EffectiveUser() { return kNoId; }

Id EffectiveGroup() { return kNoId; }

bool MayOpenForWriting(Id, const Info&) { return true; }

std::string UserName(Id user) { return std::to_string(user); }

std::string GroupName(Id group) { return std::to_string(group); }

std::uint32_t CurrentUmask() { return 0; }

std::string ErrorText(int code) { return MessageText(static_cast<DWORD>(code)); }

Error Lock(const Handle& file, LockMode mode, std::chrono::steady_clock::time_point deadline) {
  const DWORD flags =
      LOCKFILE_FAIL_IMMEDIATELY | (mode == LockMode::kExclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
  auto pause = std::chrono::microseconds(200);
  for (;;) {
    OVERLAPPED whole = {};  // from offset 0, for the largest length: the whole file
    if (::LockFileEx(HandleOf(file), flags, 0, MAXDWORD, MAXDWORD, &whole)) return {};
    const DWORD code = ::GetLastError();
    if (code != ERROR_LOCK_VIOLATION && code != ERROR_IO_PENDING) return Fail(code);
    auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return Fail(Kind::kTimedOut, "the wait for the lock ran out");
    std::this_thread::sleep_for(
        std::min<std::chrono::steady_clock::duration>(pause, deadline - now));
    pause = std::min(pause * 2, std::chrono::microseconds(20000));
  }
}

Error WriteStream(Stream stream, std::string_view data, std::size_t& written) {
  HANDLE out = ::GetStdHandle(stream == Stream::kOutput ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
  DWORD n = 0;
  const DWORD size = static_cast<DWORD>(std::min<std::size_t>(data.size(), 1u << 30));
  const bool ok = ::WriteFile(out, data.data(), size, &n, nullptr);
  written = n;
  return ok ? Error{} : LastError();
}

Error BinaryStandardStreams() {
  for (int fd = 0; fd <= 2; ++fd) {
    // A stream that is not open (a program started without one) has nothing to change.
    if (::_setmode(fd, _O_BINARY) == -1 && errno != EBADF) {
      return {Kind::kOther, errno, std::strerror(errno)};
    }
  }
  return {};
}

Error WorkingDirectory(std::string& out) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD size = ::GetCurrentDirectoryW(static_cast<DWORD>(path.size()), path.data());
    if (size == 0) return LastError();
    if (size < path.size()) {
      path.resize(size);
      break;
    }
    path.resize(size);
  }
  out = Narrow(path);
  // A path of more than MAX_PATH characters may come back with the \\?\ prefix.
  if (out.starts_with("\\\\?\\")) out.erase(0, 4);
  std::replace(out.begin(), out.end(), '\\', '/');
  return {};
}

std::size_t RootLength(std::string_view path) {
  auto separator = [&](std::size_t i) {
    return i < path.size() && (path[i] == '/' || path[i] == '\\');
  };
  const bool drive = path.size() >= 2 && path[1] == ':' &&
                     ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
  if (drive) return separator(2) ? 3 : 0;  // "C:name" is relative to C:'s own directory
  if (!separator(0)) return 0;
  if (!separator(1)) return 1;
  // "//server/share/": the server's and the share's names are the root.
  std::size_t end = 2, parts = 0;
  while (end < path.size() && parts < 2) {
    if (separator(end)) ++parts;
    ++end;
  }
  return end;
}

std::int64_t ProcessId() { return ::GetCurrentProcessId(); }

void IgnoreFileSizeSignal() {}

std::tm LocalTime(std::time_t when) {
  ::_tzset();
  std::tm local{};
  ::localtime_s(&local, &when);
  return local;
}

namespace {

// One word of a command line as the C runtime's argument parser splits it again: quoted when
// it is empty or holds a space, tab or quote; a quote and the backslashes before it escaped.
void AppendWord(std::wstring& line, std::wstring_view word) {
  if (!line.empty()) line += L' ';
  if (!word.empty() && word.find_first_of(L" \t\"") == std::wstring_view::npos) {
    line += word;
    return;
  }
  line += L'"';
  std::size_t backslashes = 0;
  for (wchar_t c : word) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"') backslashes = 2 * backslashes + 1;
    line.append(backslashes, L'\\');
    backslashes = 0;
    line += c;
  }
  line.append(2 * backslashes, L'\\');
  line += L'"';
}

}  // namespace

Error Start(std::span<const std::string> command, Process& out) {
  if (command.empty()) return Fail(ERROR_FILE_NOT_FOUND);
  std::wstring line;
  for (const std::string& word : command) AppendWord(line, Widen(word));
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION started = {};
  if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &started)) {
    return LastError();
  }
  ::CloseHandle(started.hThread);
  out.handle = Own(started.hProcess);
  out.id = started.dwProcessId;
  return {};
}

Error Wait(Process& process, int& status) {
  HANDLE handle = HandleOf(process.handle);
  if (::WaitForSingleObject(handle, INFINITE) != WAIT_OBJECT_0) return LastError();
  DWORD code = 0;
  if (!::GetExitCodeProcess(handle, &code)) return LastError();
  status = static_cast<int>(code);
  process.id = 0;
  return process.handle.Close();
}

}  // namespace loomreg::os

// ---- The checker's calls (loomreg-check). ----

namespace loomreg::os {

Error VisitDirectory(const Root& root, std::string_view name, const EntryVisitor& visit) {
  const std::wstring dir = FullPath(root, name.empty() ? "." : name);
  std::wstring pattern = dir;
  if (!pattern.ends_with(L'\\')) pattern += L'\\';
  pattern += L'*';
  WIN32_FIND_DATAW found;
  HANDLE search = ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found,
                                     FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (search == INVALID_HANDLE_VALUE) {
    const DWORD code = ::GetLastError();
    if (code == ERROR_FILE_NOT_FOUND) return {};  // no entry at all
    // A file in the directory's place fails as "invalid name" or the like: said as what it is.
    const DWORD attributes = ::GetFileAttributesW(dir.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      return Fail(ERROR_DIRECTORY);
    }
    return Fail(code);
  }
  Error error;
  std::string bytes;
  do {
    const std::wstring_view entry = found.cFileName;
    if (entry == L"." || entry == L"..") continue;
    bytes = Narrow(entry);
    visit(bytes, TypeOf(found.dwFileAttributes));
  } while (::FindNextFileW(search, &found));
  if (const DWORD code = ::GetLastError(); code != ERROR_NO_MORE_FILES) error = Fail(code);
  ::FindClose(search);
  return error;
}

Error RenameOver(const Root& root, std::string_view from, std::string_view to) {
  if (!::MoveFileExW(FullPath(root, from).c_str(), FullPath(root, to).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return LastError();
  }
  return {};
}

Error OpenUnnamedFile(Handle& out) {
  wchar_t dir[MAX_PATH + 1];
  const DWORD size = ::GetTempPathW(MAX_PATH + 1, dir);
  if (size == 0 || size > MAX_PATH) return LastError();
  wchar_t name[MAX_PATH + 1];
  // Creates the file under a name of its own, then opens it to be deleted with its last handle.
  if (::GetTempFileNameW(dir, L"lrc", 0, name) == 0) return LastError();
  HANDLE file = ::CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                              TRUNCATE_EXISTING,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    Error failed = LastError();
    ::DeleteFileW(name);
    return failed;
  }
  out = Own(file);
  return {};
}

bool IsTerminal(Stream stream, std::size_t& columns) {
  HANDLE console = ::GetStdHandle(stream == Stream::kOutput ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
  DWORD mode = 0;
  if (console == nullptr || console == INVALID_HANDLE_VALUE || !::GetConsoleMode(console, &mode)) {
    return false;
  }
  if (!(mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) &&
      !::SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING)) {
    return false;
  }
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (::GetConsoleScreenBufferInfo(console, &info) && info.srWindow.Right > info.srWindow.Left) {
    columns = static_cast<std::size_t>(info.srWindow.Right - info.srWindow.Left + 1);
  }
  return true;
}

namespace {

// Ctrl+C and Ctrl+Break reach every program of the console: the held one deals with them, and
// this process, which holds the lock, waits for its end. A handler routine, unlike the ignore
// flag, is not inherited by the program.
BOOL WINAPI KeepRunning(DWORD event) {
  return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? TRUE : FALSE;
}

class IgnoredBreaks {
 public:
  IgnoredBreaks() : set_(::SetConsoleCtrlHandler(KeepRunning, TRUE) != FALSE) {}
  ~IgnoredBreaks() {
    if (set_) ::SetConsoleCtrlHandler(KeepRunning, FALSE);
  }
  IgnoredBreaks(const IgnoredBreaks&) = delete;
  IgnoredBreaks& operator=(const IgnoredBreaks&) = delete;

 private:
  bool set_;
};

}  // namespace

Error RunHolding(std::span<const std::string> command, const Handle&, int& status,
                 RunStep& failed) {
  failed = RunStep::kPass;
  status = 125;
  IgnoredBreaks ignored;
  Process program;
  if (Error started = Start(command, program); !started.ok()) {
    failed = RunStep::kStart;
    const bool missing = started.code == ERROR_FILE_NOT_FOUND ||
                         started.code == ERROR_PATH_NOT_FOUND || started.code == ERROR_INVALID_NAME;
    status = missing ? 127 : 126;
    return started;
  }
  if (Error waited = Wait(program, status); !waited.ok()) {
    failed = RunStep::kWait;
    status = 125;
    return waited;
  }
  return {};
}

}  // namespace loomreg::os
