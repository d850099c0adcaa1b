#include "check.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <tuple>
#include <utility>

#include "directory.h"
#include "file_io.h"
#include "list_format.h"
#include "machine_stamp.h"
#include "message_text.h"
#include "name_index.h"
#include "name_rules.h"
#include "progress.h"
#include "rewrite_planner.h"
#include "shared_file.h"
#include "sorted_merge.h"
#include "store_location.h"

namespace loomreg {
namespace {

// What a name stands for, for the rules a save applies to it.
enum class Role { kFile, kStyle, kMachine };

std::string_view RoleText(Role role) {
  switch (role) {
    case Role::kFile:
      return "file name";
    case Role::kStyle:
      return "style";
    case Role::kMachine:
      return "machine";
  }
  return "name";
}

enum class ListKind {
  kEachOnce,    // FileList, KindList, MachineList: words, each name once
  kRepeatable,  // per-style and per-machine lists: words, repeats allowed
  kHistory,     // the save history: lines of fields, not words
};

// "1 line ends in LF alone", "3 lines end in LF alone (first on line 7)".
std::string LinesText(std::uint64_t count, std::string_view one, std::string_view many,
                      std::uint64_t first) {
  std::string text = std::to_string(count);
  text += count == 1 ? " line " : " lines ";
  text += count == 1 ? one : many;
  if (count > 1) text += " (first on line " + std::to_string(first) + ")";
  return text;
}

std::string AgeText(std::int64_t seconds) {
  auto part = [](std::int64_t n, std::string_view unit) {
    return std::to_string(n) + " " + std::string(unit);
  };
  if (seconds < 60) return part(seconds, "s");
  if (seconds < 3600) return part(seconds / 60, "min");
  if (seconds < 86400) return part(seconds / 3600, "h") + " " + part(seconds % 3600 / 60, "min");
  return part(seconds / 86400, "d") + " " + part(seconds % 86400 / 3600, "h");
}

bool IsLeftover(std::string_view name) { return name.starts_with(kRepairTempPrefix); }

class Checker {
 public:
  Checker(const StorePaths& paths, std::time_t now, CheckResult& result)
      : p_(paths), now_(now), r_(result), planner_(result.rewrites) {}

  void Run() {
    if (!RequireLayout()) return;
    CheckLockFile();
    const bool kind_list_missing = Missing(p_.kind_list);
    const bool machine_list_missing = Missing(p_.machine_list);
    ReadEachOnce(p_.file_list, file_list_, Role::kFile);
    ReadEachOnce(p_.kind_list, kind_list_, Role::kStyle);
    ReadEachOnce(p_.machine_list, machine_list_, Role::kMachine);
    ReadList(p_.history, ListKind::kHistory, [](std::string_view, std::uint64_t) {});
    CheckStyles();
    CheckMachines();
    // A store without styles or machines yet has no use for their lists: the first save
    // creates them. Once there is something to list, a missing list is damage of its own.
    if (kind_list_missing && styles_ > 0) {
      NoteMissingList(p_.kind_list, "the style list does not exist: no style is listed",
                      "every style with a directory");
    }
    if (machine_list_missing && machines_ > 0) {
      NoteMissingList(p_.machine_list, "the machine list does not exist: no machine is listed",
                      "every machine with a file list or a stamp");
    }
    for (const std::string* dir : {&p_.history_dir, &p_.machine_list_dir, &p_.kind_list_dir}) {
      FindLeftovers(*dir);
    }
    // Only FileList's names are needed from here on.
    kind_list_ = NameIndex();
    machine_list_ = NameIndex();
    std::vector<std::pair<std::uint64_t, std::string_view>> unstored;
    file_list_.ForEach([&](std::string_view name, std::uint64_t line) {
      if (!stored_.Contains(name)) unstored.emplace_back(line, name);
    });
    if (!unstored.empty()) {
      std::sort(unstored.begin(), unstored.end());
      RepeatLog log(p_.file_list);
      for (auto [line, name] : unstored) log.Add(line, 0, name);
      r_.unstored.push_back(std::move(log));
    }
    planner_.Finish();
    for (auto& [key, finding] : refused_) r_.findings.push_back(std::move(finding));
    SortFindings(r_.findings);
  }

 private:
  void Add(FindingKind kind, const std::string& file, std::uint64_t line,
           std::optional<std::string_view> name, std::string detail) {
    Finding finding{kind, file, line, std::nullopt, std::move(detail)};
    if (name) finding.name = std::string(*name);
    r_.findings.push_back(std::move(finding));
  }

  void Error(std::string_view action, const std::string& path, int err) {
    r_.errors.push_back(Status::SystemError(action, path, err).message());
  }

  static bool Missing(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) != 0 && errno == ENOENT;
  }

  void NoteMissingList(const std::string& path, std::string_view what, std::string_view holding) {
    Add(FindingKind::kMissingList, path, 0, std::nullopt,
        std::string(what) + "; loomreg-check --repair creates it holding " + std::string(holding));
    planner_.Create(path);
  }

  // The lock file, when there is one: saves refuse to go on without it, so one they cannot
  // open for writing stops every save. Judged for the owner of SetValueFileList/, the user
  // the saves run as on any sound store.
  void CheckLockFile() {
    struct stat st, dir;
    if (::lstat(p_.lock.c_str(), &st) != 0 || ::stat(p_.history_dir.c_str(), &dir) != 0) return;
    if (!S_ISREG(st.st_mode)) {
      Add(FindingKind::kUnusableLock, p_.lock, 0, std::nullopt,
          std::string(FileTypeText(st.st_mode)) +
              ", not a regular file: no save can take the store lock, and every one is "
              "refused; move it aside, and the next save creates the lock file anew");
      return;
    }
    if (MayOpenForWriting(dir.st_uid, st)) return;
    Add(FindingKind::kUnusableLock, p_.lock, 0, std::nullopt,
        "owned by " + OwnerText(st.st_uid, st.st_gid) + " with mode " + ModeText(st.st_mode) +
            ": " + UserText(dir.st_uid) +
            ", the owner of SetValueFileList/, cannot open it for writing, so its saves are "
            "refused; loomreg-check --repair, run as root, mends it");
    r_.mend_lock = p_.lock;
  }

  // A catalogue, stamp, style directory or upload that a save refuses to touch: a symbolic
  // link (never followed), or not `expected` ("a regular file", "a directory"). Returns the
  // detail, for a message.
  std::string WrongType(const std::string& path, std::string_view expected) {
    struct stat st;
    std::string detail;
    if (::lstat(path.c_str(), &st) != 0) {
      detail = "not " + std::string(expected);
    } else if (S_ISLNK(st.st_mode)) {
      detail = "a symbolic link: a save never reads or writes through it";
    } else {
      detail = std::string(FileTypeText(st.st_mode)) + ", not " + std::string(expected);
    }
    Add(FindingKind::kWrongType, path, 0, std::nullopt, detail);
    return detail;
  }

  // Opens a catalogue or stamp for reading, never through a link; reports one that is not a
  // regular file. Invalid when there is nothing to read; `missing` tells a file that is absent.
  Fd OpenRegular(const std::string& path, bool& missing) {
    missing = false;
    Fd fd = OpenFile(path.c_str(), OpenMode::kRead);
    if (!fd.valid()) {
      int err = errno;
      struct stat st;
      if (err == ENOENT) {
        missing = true;
      } else if (err == ELOOP && ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        WrongType(path, "a regular file");
      } else {
        Error("cannot open", path, err);
      }
      return Fd();
    }
    if (Status regular = RequireRegular(fd.get(), "cannot read", path.c_str()); !regular.ok()) {
      // A failed fstat has an errno; a file of another type is a finding.
      if (regular.error() != 0) {
        r_.errors.push_back(regular.message());
      } else {
        WrongType(path, "a regular file");
      }
      return Fd();
    }
    return fd;
  }

  // The directories a save writes into, and FileList, which a save needs and never creates.
  // A missing directory or FileList gets, once, where the store was looked for and how to
  // create it; when no directory at all exists, that one line stands for all of them.
  bool RequireLayout() {
    const std::string* dirs[] = {
        &p_.style_lists, &p_.history_dir,   &p_.machine_lists, &p_.machine_list_dir,
        &p_.values,      &p_.kind_list_dir, &p_.stamps};
    const std::size_t errors_before = r_.errors.size();
    std::size_t missing = 0;
    std::size_t first_missing = 0;  // index in r_.errors
    for (const std::string* dir : dirs) {
      struct stat st;
      if (::stat(dir->c_str(), &st) != 0) {
        const int err = errno;
        if (err == ENOENT && missing++ == 0) first_missing = r_.errors.size();
        Error("cannot find directory", *dir, err);
      } else if (!S_ISDIR(st.st_mode)) {
        Error("cannot use directory", *dir, ENOTDIR);
      }
    }
    if (missing == std::size(dirs)) {
      r_.errors.resize(errors_before);
      r_.errors.push_back("cannot find the data store: none of its directories exists" +
                          MissingStoreHint(ENOENT));
      return false;
    }
    if (missing > 0) r_.errors[first_missing] += MissingStoreHint(ENOENT);
    if (r_.errors.size() != errors_before) return false;
    // FileList itself is never followed: a save refuses a link in its place.
    struct stat st;
    if (::lstat(p_.file_list.c_str(), &st) != 0) {
      const int err = errno;
      if (err == ENOENT) {
        NoteMissingList(p_.file_list,
                        "the file list does not exist, and every save stops at it until it does",
                        "every stored name");
        return true;
      }
      Error("cannot find the file list", p_.file_list, err);
      return false;
    }
    if (!S_ISREG(st.st_mode)) {
      r_.errors.push_back("cannot read " + p_.file_list + ": " +
                          WrongType(p_.file_list, "a regular file"));
      return false;
    }
    return true;
  }

  // Reads a catalogue line by line and notes its form: an unterminated last line, LF-only line
  // ends, and for word lists lines of several words and words too long to be a name. Calls
  // `on_word(word, line)` for every other word. A missing file reads as empty: every list but
  // FileList is created by the first save that needs it. A link or other file that is not a
  // regular one is reported and not read.
  template <typename OnWord>
  void ReadList(const std::string& path, ListKind kind, OnWord&& on_word) {
    bool missing = false;
    Fd fd = OpenRegular(path, missing);
    if (!fd.valid()) return;
    ProgressBegin("reading", path, fd.get());
    LineReader reader(fd.get(), path, LineReader::kBlock, ProgressAdvance);
    LineRead read;
    std::uint64_t lf_only = 0, first_lf_only = 0, several = 0, first_several = 0, last = 0;
    bool unterminated = false;
    while ((read = reader.Next()).line != nullptr) {
      const TextLine& line = *read.line;
      last = line.number;
      if (line.end == LineEnd::kLf && lf_only++ == 0) first_lf_only = line.number;
      if (line.end == LineEnd::kNone) unterminated = true;
      if (kind == ListKind::kHistory) continue;
      int words = 0;
      ForEachWord(line.text, [&](std::string_view word) {
        ++words;
        if (word.size() > kMaxWord) {
          Add(FindingKind::kLongWord, path, line.number, std::nullopt,
              "a word of " + std::to_string(word.size()) + " bytes: longer than " +
                  std::to_string(kMaxWord) + ", it never equals a name");
        } else {
          on_word(word, line.number);
        }
      });
      if (words > 1 && several++ == 0) first_several = line.number;
    }
    if (!read.status.ok()) return Error("cannot read", path, read.status.error());
    if (unterminated) {
      Add(FindingKind::kUnterminatedLine, path, last, std::nullopt,
          "the last line has no line end");
      planner_.Plan(path, kind == ListKind::kEachOnce);
    }
    if (lf_only > 0) {
      Add(FindingKind::kLfLineEnds, path, first_lf_only, std::nullopt,
          LinesText(lf_only, "ends in LF alone", "end in LF alone", first_lf_only));
      r_.findings.back().count = lf_only;
    }
    if (several > 0) {
      Add(FindingKind::kSeveralWords, path, first_several, std::nullopt,
          LinesText(several, "holds several words", "hold several words", first_several));
      r_.findings.back().count = several;
    }
  }

  // Repeats go to a log of the list's own rather than into the findings; those of one line are
  // logged by name, the order of the report. The words go to the index in batches, with their
  // lookups' cache misses overlapping: a big list's index is far larger than the cache.
  void ReadEachOnce(const std::string& path, NameIndex& index, Role role) {
    RepeatLog log(path);
    std::vector<std::pair<std::string_view, std::uint64_t>> line_repeats;  // name, first line
    std::uint64_t repeats_line = 0;
    auto log_line = [&] {
      std::sort(line_repeats.begin(), line_repeats.end());
      for (auto [name, first] : line_repeats) log.Add(repeats_line, first, name);
      line_repeats.clear();
    };
    struct Word {
      std::uint64_t line;
      std::uint64_t hash;
      std::size_t at;  // in `bytes`
      std::size_t size;
    };
    constexpr std::size_t kBatch = 32;
    std::vector<Word> batch;
    std::string bytes;  // the batch's words, copied out of the reader's buffer
    auto add_batch = [&] {
      for (const Word& w : batch) index.PrefetchSlot(w.hash);
      for (const Word& w : batch) index.PrefetchRecord(w.hash);
      for (const Word& w : batch) {
        const std::string_view word(bytes.data() + w.at, w.size);
        NameIndex::Sighting sighting = index.Add(word, w.line, w.hash);
        if (sighting.is_new) {
          NoteName(role, word, path, w.line);
          continue;
        }
        if (w.line != repeats_line) log_line();
        repeats_line = w.line;
        // The index's copy of the word, which outlives the batch.
        line_repeats.emplace_back(sighting.name, sighting.first_line);
      }
      batch.clear();
      bytes.clear();
    };
    ReadList(path, ListKind::kEachOnce, [&](std::string_view word, std::uint64_t line) {
      batch.push_back({line, NameIndex::HashOf(word), bytes.size(), word.size()});
      bytes += word;
      if (batch.size() == kBatch) add_batch();
    });
    add_batch();
    log_line();
    if (log.size() > 0) {
      planner_.Plan(path, true);
      r_.repeats.push_back(std::move(log));
    }
  }

  // Notes a name a save would refuse today, once for each role and name, at the first place it
  // stands in report order.
  void NoteName(Role role, std::string_view name, const std::string& file, std::uint64_t line) {
    if (name.size() > kMaxWord) return;  // reported as too long where it stands in a list
    std::string_view why = NameFault(name);
    if (why.empty() && role == Role::kStyle && IsReservedStyle(name)) why = "is a reserved name";
    if (why.empty()) return;
    auto key = std::make_pair(role, std::string(name));
    auto found = refused_.find(key);
    if (found != refused_.end() &&
        std::tie(found->second.file, found->second.line) <= std::tie(file, line)) {
      return;
    }
    Finding finding{FindingKind::kRefusedName, file, line, std::string(name),
                    "as a " + std::string(RoleText(role)) + " " + std::string(why) +
                        ": a save would refuse it today"};
    refused_.insert_or_assign(std::move(key), std::move(finding));
  }

  // The regular files of a directory holding one file per style or machine, sorted. Anything
  // else there is reported and yields no name: a name is never taken from what a save would
  // refuse to read. With `leftovers`, the repair's temporary files are noted as such.
  std::vector<std::string> ListNames(const std::string& dir, bool leftovers = true) {
    std::vector<std::string> names;
    DirectoryReader reader(dir);
    std::string_view name;
    EntryKind kind;
    while (reader.Next(name, kind)) {
      if (leftovers && IsLeftover(name) && kind == EntryKind::kFile) {
        NoteLeftover(dir, name);
      } else if (kind == EntryKind::kFile) {
        names.emplace_back(name);
      } else {
        WrongType(dir + std::string(name), "a regular file");
      }
    }
    if (reader.error() != 0) Error("cannot list", dir, reader.error());
    std::sort(names.begin(), names.end());
    return names;
  }

  void NoteLeftover(const std::string& dir, std::string_view name) {
    std::string path = dir + std::string(name);
    Add(FindingKind::kLeftoverTemp, path, 0, std::nullopt,
        "a temporary file left by an interrupted repair");
    r_.leftovers.push_back(std::move(path));
  }

  void FindLeftovers(const std::string& dir) {
    DirectoryReader reader(dir);
    std::string_view name;
    EntryKind kind;
    while (reader.Next(name, kind)) {
      if (IsLeftover(name) && kind == EntryKind::kFile) NoteLeftover(dir, name);
    }
    if (reader.error() != 0) Error("cannot list", dir, reader.error());
  }

  void CheckStyles() {
    // SetValueFile/ holds FileList, the upload and one directory per style.
    std::vector<std::string> dirs;
    {
      DirectoryReader reader(p_.values);
      std::string_view name;
      EntryKind kind;
      while (reader.Next(name, kind)) {
        if (kind == EntryKind::kDirectory) {
          // A directory FileData is a style of a reserved name, noted as such.
          dirs.emplace_back(name);
        } else if (name == kSharedUploadName) {
          CheckUpload(p_.upload, kind);
        } else if (name == kFileListName) {
          // judged on its own
        } else if (IsLeftover(name) && kind == EntryKind::kFile) {
          NoteLeftover(p_.values, name);
        } else if (kind == EntryKind::kFile) {
          // An upload named by upload_arg= that its save did not file.
          CheckUpload(p_.NamedUpload(name), kind);
        } else {
          // A link or special file where a style directory would stand.
          WrongType(p_.values + std::string(name), "a directory");
        }
      }
      if (reader.error() != 0) Error("cannot list", p_.values, reader.error());
      std::sort(dirs.begin(), dirs.end());
    }
    // Every style with a directory, a list or both, in order.
    ForEachInEither(dirs, ListNames(p_.style_lists),
                    [&](const std::string& style, bool has_dir, bool has_list) {
                      CheckStyle(style, has_dir, has_list);
                    });
  }

  void CheckUpload(const std::string& path, EntryKind kind) {
    if (kind != EntryKind::kFile) {
      WrongType(path, "a regular file");
      return;
    }
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
    std::int64_t age = std::max<std::int64_t>(0, now_ - st.st_mtime);
    const auto size = static_cast<std::int64_t>(st.st_size);
    Add(FindingKind::kWaitingUpload, path, 0, std::nullopt,
        "an upload of " + std::to_string(size) + (size == 1 ? " byte" : " bytes") +
            " has been waiting for " + AgeText(age));
    r_.findings.back().age_seconds = age;
    r_.findings.back().size_bytes = size;
  }

  void CheckStyle(const std::string& style, bool has_dir, bool has_list) {
    ++styles_;
    const bool listed = kind_list_.Contains(style);
    NameIndex named;  // the names of the style's file list
    const std::string list_path = p_.StyleFiles(style);
    if (has_list) {
      ReadList(list_path, ListKind::kRepeatable, [&](std::string_view word, std::uint64_t line) {
        if (named.Add(word, line).is_new) NoteName(Role::kFile, word, list_path, line);
      });
      if (!listed) Add(FindingKind::kStyleNotListed, list_path, 0, style, "is not in KindList");
    }
    if (!has_dir) {
      NoteName(Role::kStyle, style, list_path, 0);
      return;
    }
    const std::string dir = p_.StyleDir(style);
    NoteName(Role::kStyle, style, dir, 0);
    if (!listed) {
      Add(FindingKind::kStyleNotListed, dir, 0, style, "is not in KindList");
      if (IsListWord(style) && !IsReservedStyle(style)) planner_.AddName(p_.kind_list, style);
    }
    DirectoryReader reader(dir);
    std::string_view name;
    EntryKind kind;
    while (reader.Next(name, kind)) {
      if (kind != EntryKind::kFile) {
        // No save stores anything but a regular file, and none goes through a link.
        WrongType(p_.Stored(style, name), "a regular file");
        continue;
      }
      stored_.Add(name, 0);
      const bool in_file_list = file_list_.Contains(name);
      const bool in_style_list = named.Contains(name);
      if (in_file_list && in_style_list && NameFault(name).empty()) continue;
      const std::string path = p_.Stored(style, name);
      NoteName(Role::kFile, name, path, 0);
      if (!in_file_list) {
        Add(FindingKind::kNotInFileList, path, 0, name, "is stored but not in FileList");
        if (IsListWord(name)) planner_.AddName(p_.file_list, std::string(name));
      }
      if (!in_style_list) {
        Add(FindingKind::kNotInStyleList, path, 0, name,
            has_list ? "is stored but its style's file list does not name it"
                     : "is stored but its style has no file list");
      }
    }
    if (reader.error() != 0) Error("cannot list", dir, reader.error());
  }

  void CheckMachines() {
    const std::vector<std::string> lists = ListNames(p_.machine_lists);
    const std::vector<std::string> stamps = ListNames(p_.stamps, false);
    ForEachInEither(lists, stamps, [&](const std::string& machine, bool has_list, bool has_stamp) {
      ++machines_;
      const bool listed = machine_list_.Contains(machine);
      if (has_list) {
        const std::string path = p_.MachineFiles(machine);
        ReadList(path, ListKind::kRepeatable, [&](std::string_view word, std::uint64_t line) {
          NoteName(Role::kFile, word, path, line);
        });
        NoteName(Role::kMachine, machine, path, 0);
        if (!listed) Add(FindingKind::kMachineNotListed, path, 0, machine, "is not in MachineList");
      }
      if (has_stamp) {
        const std::string path = p_.Stamp(machine);
        CheckStamp(machine, path);
        NoteName(Role::kMachine, machine, path, 0);
        if (!listed) Add(FindingKind::kMachineNotListed, path, 0, machine, "is not in MachineList");
      }
      if (!listed && IsListWord(machine)) planner_.AddName(p_.machine_list, machine);
    });
  }

  // A stamp is "machine,Www Mmm dd hh:mm:ss yyyy", a line end and an empty line.
  void CheckStamp(const std::string& machine, const std::string& path) {
    bool missing = false;
    Fd fd = OpenRegular(path, missing);
    if (!fd.valid()) {
      if (missing) Error("cannot open", path, ENOENT);
      return;
    }
    std::string content;
    if (Status read = ReadUpTo(fd.get(), path.c_str(), kStampReadLimit, content); !read.ok()) {
      return r_.errors.push_back(read.message());
    }
    const StampReading reading = ReadStamp(machine, content);
    switch (reading.form) {
      case StampReading::Form::kGood:
        return;
      case StampReading::Form::kLfLineEnds:
        Add(FindingKind::kLfLineEnds, path, 1, std::nullopt,
            LinesText(2, "ends in LF alone", "end in LF alone", 1));
        r_.findings.back().count = 2;
        return;
      case StampReading::Form::kMalformed:
        Add(FindingKind::kMalformedStamp, path, 1, std::nullopt, reading.fault);
        return;
    }
  }

  const StorePaths& p_;
  const std::time_t now_;
  CheckResult& r_;
  NameIndex file_list_, kind_list_, machine_list_;
  NameIndex stored_;  // every name stored under some style
  RewritePlanner planner_;
  std::map<std::pair<Role, std::string>, Finding> refused_;
  std::size_t styles_ = 0;    // styles with a directory or a file list
  std::size_t machines_ = 0;  // machines with a file list or a stamp
};

}  // namespace

std::size_t CheckResult::Count(Severity severity) const {
  auto count = static_cast<std::size_t>(
      std::count_if(findings.begin(), findings.end(),
                    [severity](const Finding& f) { return SeverityOf(f.kind) == severity; }));
  if (SeverityOf(FindingKind::kRepeatedName) == severity) {
    for (const RepeatLog& log : repeats) count += log.size();
  }
  if (SeverityOf(FindingKind::kListedNotStored) == severity) {
    for (const RepeatLog& log : unstored) count += log.size();
  }
  return count;
}

void ForEachFinding(const CheckResult& result, const std::function<void(const Finding&)>& visit) {
  // One reader per log, each with its next entry made into a finding.
  struct Source {
    RepeatLog::Reader reader;
    RepeatLog::Entry entry;
    Finding finding;
    bool more;
  };
  std::vector<Source> sources;
  sources.reserve(result.repeats.size() + result.unstored.size());
  for (const auto& [logs, kind] : {std::pair{&result.repeats, FindingKind::kRepeatedName},
                                   std::pair{&result.unstored, FindingKind::kListedNotStored}}) {
    for (const RepeatLog& log : *logs) {
      Finding finding{kind, log.file(), 0, std::nullopt, {}};
      sources.push_back({RepeatLog::Reader(log), {}, std::move(finding), true});
    }
  }
  auto advance = [](Source& source) {
    source.more = source.reader.Next(source.entry);
    if (!source.more) return;
    source.finding.line = source.entry.line;
    source.finding.name = source.entry.name;
    source.finding.detail =
        source.finding.kind == FindingKind::kRepeatedName
            ? "is listed again (first on line " + std::to_string(source.entry.first_line) + ")"
            : "is listed but stored under no style";
  };
  for (Source& source : sources) advance(source);
  auto before = [](const Finding& a, const Finding& b) {
    return std::tie(a.file, a.line, a.kind, a.name) < std::tie(b.file, b.line, b.kind, b.name);
  };
  auto next = result.findings.begin();
  for (;;) {
    Source* first = nullptr;
    for (Source& source : sources) {
      if (source.more && (first == nullptr || before(source.finding, first->finding))) {
        first = &source;
      }
    }
    if (first != nullptr && (next == result.findings.end() || before(first->finding, *next))) {
      visit(first->finding);
      advance(*first);
    } else if (next != result.findings.end()) {
      visit(*next++);
    } else {
      return;
    }
  }
}

CheckResult CheckStore(const StorePaths& paths, std::time_t now) {
  CheckResult result;
  Checker(paths, now, result).Run();
  return result;
}

}  // namespace loomreg
