// The operating system's calls that the site configuration and the store need, behind one
// interface with a POSIX and a Windows implementation (os_posix.cpp, os_windows.cpp). Nothing
// else includes a platform header. Names are bytes, '/'-separated, in the system's code page;
// every file is read and written as bytes, so CR LF is two bytes on both systems.
#ifndef LOOMREG_OS_OS_H
#define LOOMREG_OS_OS_H

#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace loomreg::os {

// What a failure means, for callers that act on it; `code` keeps the system's own value.
enum class Kind {
  kNone,        // success
  kNotFound,    // no such file or directory, or a missing directory on the way
  kExists,      // the name is taken
  kAccess,      // permission denied, read-only file system, file in use
  kLink,        // a symbolic link or reparse point where a file was wanted: never followed
  kNotRegular,  // a directory, device, FIFO... where a regular file was wanted
  kTimedOut,    // the wait for a lock ran out
  kShortWrite,  // a write wrote less than all of its bytes
  kOther,
};

// The outcome of a call: success, or a failure with the system's error code (errno, or
// GetLastError() on Windows; 0 when the failure is not the system's) and its text.
struct [[nodiscard]] Error {
  Kind kind = Kind::kNone;
  int code = 0;
  std::string text;

  bool ok() const { return kind == Kind::kNone; }
};

// A file or directory the system opened (an int descriptor, or a HANDLE), or a Windows process
// handle; closed on destruction.
class Handle {
 public:
  Handle() = default;
  explicit Handle(std::intptr_t value) : value_(value) {}
  Handle(Handle&& other) noexcept : value_(std::exchange(other.value_, kNone)) {}
  Handle& operator=(Handle&& other) noexcept {
    if (this != &other) {
      (void)Close();
      value_ = std::exchange(other.value_, kNone);
    }
    return *this;
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() { (void)Close(); }

  bool valid() const { return value_ != kNone; }
  std::intptr_t get() const { return value_; }
  // Closes the handle now; a failed close is reported, and the handle is gone either way.
  Error Close();
  // Gives the handle up to the caller, who closes it.
  std::intptr_t Release() { return std::exchange(value_, kNone); }

 private:
  // -1 is both an invalid descriptor and INVALID_HANDLE_VALUE.
  static constexpr std::intptr_t kNone = -1;
  std::intptr_t value_ = kNone;
};

enum class Links {
  kRefuse,  // a link or reparse point as the last component fails with kLink
  kFollow,  // followed, as for the site's settings files
};

// A directory held open, below which files are named. On POSIX every name is opened relative to
// the open directory (openat); Windows opens the directory's full path with the name appended,
// while the open directory handle, which does not share deletion, keeps it from being renamed
// or removed meanwhile.
class Root {
 public:
  // The working directory, as it is when each name is opened.
  Root() = default;
  // Opens directory `path` (following links in it: the path table's directories may be links)
  // for naming files below it. On Linux it is held with O_PATH: that needs only search
  // permission on it, as a path through it would.
  static Error Open(std::string_view path, Root& out);

  // How OpenBelow holds a directory: for naming files below it only, or read too, so that
  // Flush can make the entries created or renamed in it durable.
  enum class Hold { kNames, kFlushable };
  // Opens directory `name` below `parent`; with Links::kRefuse, a link in its place fails with
  // kLink or, on POSIX, as the system refuses it (ELOOP, ENOTDIR).
  static Error OpenBelow(const Root& parent, std::string_view name, Links links, Hold hold,
                         Root& out);
  // Flushes the directory, held kFlushable, to stable storage. Windows keeps directory entries
  // durable itself: it passes there.
  Error Flush() const;

  bool is_working_directory() const { return !dir_.valid(); }
#ifndef _WIN32
  // The directory's descriptor, or AT_FDCWD for the working directory: for the POSIX code that
  // names files below it itself.
  int descriptor() const;
#endif

 private:
  friend struct RootAccess;
  Handle dir_;
  std::wstring path_;  // Windows: the directory's full path, without a last separator
};

enum class Access {
  kRead,
  kReadWrite,  // read and write at any offset
  kWrite,      // write only, at any offset
  kAppend,     // read, and write at the end only: every write appends, whatever else appends
};
enum class Create {
  kNo,         // the file must exist
  kIfMissing,  // created when absent
  kNew,        // created, failing with kExists when the name is taken
};

struct OpenOptions {
  Access access = Access::kRead;
  Create create = Create::kNo;
  Links links = Links::kRefuse;
  // Opens a file of any type (but never a link refused), for a caller that judges the type
  // itself with Stat and names the action in its message.
  bool any_type = false;
  // A file this open creates gets mode 0600 on POSIX, so that nobody else opens it before its
  // creator gives it its mode and owner (SetMode, SetOwner). Windows: no effect.
  bool owner_only = false;
};

// Opens the regular file `name` below `root`. Anything else fails with kNotRegular, unless
// `any_type`, so a FIFO
// or device planted in its place is never read without end or waited on. `created`, when
// given, tells whether this call created the file.
Error OpenFile(const Root& root, std::string_view name, OpenOptions options, Handle& out,
               bool* created = nullptr);

// Lets reads of the open file wait for data again: OpenFile opens with O_NONBLOCK, so that the
// open of a FIFO never waits for its writer; a regular file is handed on without it. Windows
// opens without any such flag: it passes there.
Error SetBlocking(const Handle& file);
// Hands the open file over as a C runtime file descriptor, which the receiver closes with
// close(): on POSIX a duplicate, close-on-exec, and the handle is closed; on Windows
// _open_osfhandle takes the handle over.
Error GiveDescriptor(Handle file, int& out);

// Reads up to `size` bytes at the file's position; `got` is 0 at its end.
Error Read(const Handle& file, char* data, std::size_t size, std::size_t& got);
// Reads up to `size` bytes at `offset`, leaving the file's position alone where it can.
Error ReadAt(const Handle& file, std::uint64_t offset, char* data, std::size_t size,
             std::size_t& got);
// Reads from the position to the end, or until `out` holds `limit` bytes.
Error ReadAll(const Handle& file, std::size_t limit, std::string& out);
// Writes `data` with one system call: at the end for a file opened with Access::kAppend, so
// that no reader or other appender sees part of it; otherwise at the position. Fails with
// kShortWrite when fewer bytes were written, `written` saying how many.
Error Write(const Handle& file, std::string_view data, std::size_t& written);
// Writes `data` with one system call at `offset`.
Error WriteAt(const Handle& file, std::uint64_t offset, std::string_view data,
              std::size_t& written);
// Cuts the file to `size` bytes. Windows needs Access::kReadWrite for it.
Error Truncate(const Handle& file, std::uint64_t size);
// Flushes the file's data to stable storage. A file with nothing to flush passes.
Error Flush(const Handle& file);
// Flushes directory `name` below `root`, making entries created or renamed in it durable.
// Windows keeps directory entries durable itself and has no such call: it passes there.
Error FlushDirectory(const Root& root, std::string_view name);
// Flushes file `name` below `root` (of any type, a link never followed) to stable storage.
Error FlushFile(const Root& root, std::string_view name);

// Writes `data` to `temporary` below `root`, flushes it and renames it over `name`: a reader
// sees the old content or the new, never a mixture. `temporary` is removed when that fails.
Error Rewrite(const Root& root, std::string_view name, std::string_view temporary,
              std::string_view data);
// How Move goes about it on POSIX, where some file systems refuse the no-replace rename and
// others have no hard links. Windows has one move that never replaces, used for each.
enum class MoveBy {
  kRenameFirst,  // the no-replace rename, or link and unlink where the system refuses the flag
  kLink,         // link and unlink only
  kLinkFirst,    // link and unlink, or the rename where the system has no hard links (FUSE)
};
// Moves `from` to `to` (on one file system or volume), failing with kExists, and leaving both
// alone, when `to` exists: an existing file is never replaced. `old_name_kept`, when given, is
// set when the file stands at `to` but its old name could not be removed: the error says why.
Error Move(const Root& from_root, std::string_view from, const Root& to_root, std::string_view to,
           MoveBy how = MoveBy::kRenameFirst, bool* old_name_kept = nullptr);
// Whether files in directory `dir`, on volume `volume` (Info::volume), are better moved
// MoveBy::kLinkFirst: on FUSE, where the no-replace rename is mostly refused, and only after the
// look-ups of both names.
bool PrefersLinkFirst(const Root& dir, std::uint64_t volume);
// Removes file `name` (a link itself, never what it points to).
Error Remove(const Root& root, std::string_view name);
// Creates directory `name`.
Error MakeDirectory(const Root& root, std::string_view name);

// kDevice: a character or block device; kOther: a type the system has and these do not name.
enum class Type { kRegular, kDirectory, kLink, kFifo, kDevice, kSocket, kOther };

// A user or group ID; kNoId where the system has none (Windows: owners and modes do not apply).
using Id = std::int64_t;
inline constexpr Id kNoId = -1;

// What a file is and which file it is: two names with equal `volume` and `id` are one file.
struct Info {
  Type type = Type::kOther;
  std::uint64_t size = 0;
  std::uint64_t volume = 0;         // st_dev, or the volume's serial number
  std::uint64_t id = 0;             // st_ino, or the file index
  std::int64_t modified = 0;        // seconds since 1970
  std::int32_t modified_ns = 0;     // and nanoseconds within that second
  std::uint32_t mode = 0;           // permission bits (07777); 0 on Windows
  std::uint64_t links = 1;          // hard links to the file
  Id owner = kNoId, group = kNoId;  // st_uid and st_gid; kNoId on Windows
};
// Where Stat and StatAt take the attributes from: asked afresh, or on Linux as the kernel holds
// them (AT_STATX_DONT_SYNC): for a file just opened or looked up, those its lookup brought, so
// that a network file system that revalidates every lookup (GlusterFS with attribute-timeout=0)
// is not asked a second time. A caller that looks for a change by another host asks afresh.
enum class Attributes { kFresh, kAsFound };
// The open file's own status.
Error Stat(const Handle& file, Info& out, Attributes attributes = Attributes::kAsFound);
// The entry `name` below `root`: with Links::kRefuse the entry itself, a link reported as kLink
// and never followed; with Links::kFollow what it names.
Error StatAt(const Root& root, std::string_view name, Info& out, Links links = Links::kRefuse,
             Attributes attributes = Attributes::kFresh);

// Gives the open file permission bits `mode` (07777). Windows: the file keeps the access its
// directory's ACL gives it, and this passes.
Error SetMode(const Handle& file, std::uint32_t mode);
// Gives the open file owner `owner` and group `group`; kNoId leaves either as it is. Windows:
// passes, as above.
Error SetOwner(const Handle& file, Id owner, Id group);
// The process's effective user and group IDs; kNoId on Windows.
Id EffectiveUser();
Id EffectiveGroup();
// Whether user `user`, with the groups the user database gives it, may open a file of status
// `file` for reading and writing by its permission bits. Root always may; on Windows, where
// modes do not apply, anyone may.
bool MayOpenForWriting(Id user, const Info& file);
// The user's or group's name, or its number where the name is unknown.
std::string UserName(Id user);
std::string GroupName(Id group);
// The process's umask, read without changing it for good; 0 on Windows.
std::uint32_t CurrentUmask();

// The seam's Error for a C library errno value: its kind and strerror text.
Error FromErrno(int err);
// The system's text for its own error `code` (Error::code).
std::string ErrorText(int code);

struct Entry {
  std::string name;
  Type type = Type::kOther;  // as the entry itself is: a link is kLink
};
// The entries of directory `name` below `root`, without "." and "..", in no set order.
Error ListDirectory(const Root& root, std::string_view name, std::vector<Entry>& out);

enum class LockMode { kShared, kExclusive };
// Locks the whole of `file` (open for reading for kShared, for writing for kExclusive), polling
// until `deadline` while another handle, in this process or any other, holds a conflicting lock;
// then fails with kTimedOut. The lock is held until the handle is closed. POSIX: an
// open-file-description lock (F_OFD_SETLK); Windows: LockFileEx. Both are honoured across the
// clients of network file systems (NFS, SMB).
Error Lock(const Handle& file, LockMode mode, std::chrono::steady_clock::time_point deadline);

enum class Stream { kOutput, kError };
// Writes `data` to standard output or error with one system call, which may write less than
// all of it (`written` says how much): the caller writes the rest. No failure is kShortWrite.
Error WriteStream(Stream stream, std::string_view data, std::size_t& written);

// Puts standard input, output and error in binary mode, so that "\r\n" is written as two bytes
// and "\n" never gains a CR. On POSIX they are binary already.
Error BinaryStandardStreams();

// The working directory's full path, in the system's code page, '/'-separated.
Error WorkingDirectory(std::string& out);
// The length of the root that begins `path` ("/"; on Windows also "C:/" or "//server/share/",
// with either separator), or 0 for a relative path.
std::size_t RootLength(std::string_view path);

// This process's ID.
std::int64_t ProcessId();

// Lets a write past a file-size limit (ulimit -f) fail with an error, as every other failed
// write does, rather than end the process with SIGXFSZ. Windows has no such signal.
void IgnoreFileSizeSignal();

// `when` in the local time zone, honouring a time zone set since the last conversion.
std::tm LocalTime(std::time_t when);

// A started program: its process handle (Windows) and its process ID.
struct Process {
  Handle handle;
  std::int64_t id = 0;
};
// Starts `command` (searched on PATH when its first word names no directory) with this
// process's environment and standard streams.
Error Start(std::span<const std::string> command, Process& out);
// Waits for a started program to end. `status` is its exit status, or 128 plus the number of
// the signal that ended it.
Error Wait(Process& process, int& status);

// ---- The checker's calls (loomreg-check): directory visits, renames over a file, unnamed
// temporary files, the terminal, and a program run under a lock this process holds. ----

// The entries of directory `name` below `root` (links in its path followed), without "." and
// "..", handed to `visit` one by one as the system gives them, so that a directory of a million
// files costs no string each. Entries visited before a failure stay visited.
using EntryVisitor = std::function<void(std::string_view name, Type type)>;
Error VisitDirectory(const Root& root, std::string_view name, const EntryVisitor& visit);

// Renames `from` over `to`, both below `root`, replacing the file that `to` names: a reader sees
// the old file or the new one, never neither. Unlike Move, an existing `to` is replaced.
Error RenameOver(const Root& root, std::string_view from, std::string_view to);

// Creates an unnamed file in the system's temporary directory (TMPDIR, else /tmp on POSIX;
// GetTempPath on Windows), open for reading and writing, that is gone once its handle closes.
Error OpenUnnamedFile(Handle& out);

// Whether `stream` is a terminal that takes the control sequences "\r" and "\033[K"; `columns`
// is then its width, when the system tells it. On Windows, a console is asked to process them
// (ENABLE_VIRTUAL_TERMINAL_PROCESSING), and one that cannot is no such terminal.
bool IsTerminal(Stream stream, std::size_t& columns);

// Where RunHolding stopped, when it failed.
enum class RunStep { kPass, kStart, kWait };
// Runs `command` (searched on PATH) to its end while this process holds a lock on `lock`, and
// gives its exit status: 128 plus the number of the signal that ended it; 127 when it cannot be
// found and 126 when it cannot be run, as a shell gives. POSIX: the program inherits a
// duplicate of `lock`, whose open file description holds the lock (F_OFD_SETLK), so the lock
// lasts as long as the program however this process ends; it starts with no signal blocked and
// SIGINT and SIGQUIT at their defaults, and SIGTERM, SIGHUP, SIGINT and SIGQUIT sent to this
// process go on to it (one a terminal sent its whole process group is not sent twice) rather
// than ending this process. Windows: the lock stays this process's, which ignores Ctrl+C and
// Ctrl+Break (they reach the program too) until the program has ended. A failure says in
// `failed` which step failed; `status` is set then too.
Error RunHolding(std::span<const std::string> command, const Handle& lock, int& status,
                 RunStep& failed);

}  // namespace loomreg::os

#endif
