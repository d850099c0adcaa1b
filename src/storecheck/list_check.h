// Reading the store's lists as a save reads them, noting their form on the way: an unterminated
// last line, LF-only line ends, and for word lists lines of several words, words too long to be
// a name and, in the each-once lists, repeated names.
#ifndef LOOMREG_STORECHECK_LIST_CHECK_H
#define LOOMREG_STORECHECK_LIST_CHECK_H

#include <cstdint>
#include <string>
#include <string_view>

#include "file_io.h"
#include "finding_log.h"
#include "list_format.h"
#include "name_index.h"
#include "progress.h"

namespace loomreg {

enum class ListKind {
  kEachOnce,    // FileList, KindList, MachineList: words, each name once
  kRepeatable,  // per-style and per-machine lists: words, repeats allowed
  kHistory,     // the save history: lines of fields, not words
};

// Opens a catalogue or stamp for reading, never through a link. A file that is not a regular
// one fails with a status without a system error (see FindingLog::NoteUnread); a missing one
// with os::Kind::kNotFound.
Result<Fd> OpenForReading(const Store& store, const std::string& path);

// The form of one list as its lines go by, noted in the log once the list is read.
class ListForm {
 public:
  ListForm(FindingLog& log, const std::string& path, ListKind kind)
      : log_(log), path_(path), kind_(kind) {}

  // Notes the line end of `line`; true when its words are to be read.
  bool Line(const TextLine& line);
  // Whether `word` can be a name; one too long is noted as such.
  bool Fits(std::string_view word, std::uint64_t line);
  // The line numbered `line` held `words` words.
  void Words(std::uint64_t line, int words) {
    if (words > 1 && several_++ == 0) first_several_ = line;
  }
  // The list is read: `read` says whether to its end.
  void Finish(const Status& read);

 private:
  FindingLog& log_;
  const std::string& path_;
  const ListKind kind_;
  std::uint64_t lf_only_ = 0, first_lf_only_ = 0, several_ = 0, first_several_ = 0, last_ = 0;
  bool unterminated_ = false;
};

// Reads the list at `path` and notes its form; calls `on_word(word, line)` for every word that
// can be a name. A missing file reads as empty: every list but FileList is created by the first
// save that needs it. A link or other file that is not a regular one is noted and not read.
template <typename OnWord>
void ReadList(FindingLog& log, const std::string& path, ListKind kind, OnWord&& on_word) {
  Result<Fd> fd = OpenForReading(log.store(), path);
  if (!fd.ok()) {
    if (fd.status().kind() != os::Kind::kNotFound) log.NoteUnread(path, fd.status());
    return;
  }
  ProgressBegin("reading", path, fd->handle());
  ListForm form(log, path, kind);
  LineReader reader(fd->handle(), path, LineReader::kBlock, ProgressAdvance);
  LineRead read;
  while ((read = reader.Next()).line != nullptr) {
    const TextLine& line = *read.line;
    if (!form.Line(line)) continue;
    int words = 0;
    ForEachWord(line.text, [&](std::string_view word) {
      ++words;
      if (form.Fits(word, line.number)) on_word(word, line.number);
    });
    form.Words(line.number, words);
  }
  form.Finish(read.status);
}

// Reads the each-once list at `path` into `index`, and judges each name the first time it
// stands there as a `role`. Repeats go to a log of the list's own rather than into the
// findings, and mark the list for a rewrite.
void ReadEachOnce(FindingLog& log, const std::string& path, NameIndex& index, Role role);

}  // namespace loomreg

#endif
