#include "list_check.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "finding_text.h"
#include "list_format.h"
#include "repeat_log.h"

namespace loomreg {

Result<Fd> OpenForReading(const Store& store, const std::string& path) {
  const Place place = store.Locate(path);
  Result<OpenedFile> opened = OpenFile(place, OpenMode::kRead);
  if (!opened.ok()) {
    const os::Error& failure = opened.status().failure();
    Result<os::Info> st = LinkStatus(place);
    if (failure.kind == os::Kind::kLink && st.ok() && st->type == os::Type::kLink) {
      return Status::Error("cannot read " + path + ": a symbolic link");
    }
    return Status::SystemError("cannot open", path, failure);
  }
  // A failed stat has the system's error; a file of another type has none.
  if (Status regular = RequireRegular(opened->fd.handle(), "cannot read", path); !regular.ok()) {
    return regular;
  }
  return std::move(opened->fd);
}

bool ListForm::Line(const TextLine& line) {
  last_ = line.number;
  if (line.end == LineEnd::kLf && lf_only_++ == 0) first_lf_only_ = line.number;
  if (line.end == LineEnd::kNone) unterminated_ = true;
  return kind_ != ListKind::kHistory;
}

bool ListForm::Fits(std::string_view word, std::uint64_t line) {
  if (word.size() <= kMaxWord) return true;
  log_.Add(FindingKind::kLongWord, path_, line, std::nullopt,
           "a word of " + std::to_string(word.size()) + " bytes: longer than " +
               std::to_string(kMaxWord) + ", it never equals a name");
  return false;
}

void ListForm::Finish(const Status& read) {
  if (!read.ok()) return log_.Error(read);
  if (unterminated_) {
    log_.Add(FindingKind::kUnterminatedLine, path_, last_, std::nullopt,
             "the last line has no line end");
    log_.planner().Plan(path_, kind_ == ListKind::kEachOnce);
  }
  if (lf_only_ > 0) {
    log_.Add(FindingKind::kLfLineEnds, path_, first_lf_only_, std::nullopt,
             LinesText(lf_only_, "ends in LF alone", "end in LF alone", first_lf_only_))
        .count = lf_only_;
  }
  if (several_ > 0) {
    log_.Add(FindingKind::kSeveralWords, path_, first_several_, std::nullopt,
             LinesText(several_, "holds several words", "hold several words", first_several_))
        .count = several_;
  }
}

namespace {

// The words of an each-once list on their way into its index, in batches whose lookups' cache
// misses overlap: a big list's index is far larger than the cache. Repeats of one line are
// logged by name, the order of the report.
class EachOnceBatch {
 public:
  EachOnceBatch(FindingLog& log, const std::string& path, NameIndex& index, Role role)
      : log_(log), path_(path), index_(index), role_(role), repeats_(path) {}

  void Word(std::string_view word, std::uint64_t line) {
    batch_.push_back({line, NameIndex::HashOf(word), bytes_.size(), word.size()});
    bytes_ += word;
    if (batch_.size() == kBatch) Flush();
  }
  // The repeats logged, once every word went in.
  RepeatLog Finish() {
    Flush();
    LogLine();
    return std::move(repeats_);
  }

 private:
  struct Pending {
    std::uint64_t line;
    std::uint64_t hash;
    std::size_t at;  // in `bytes_`
    std::size_t size;
  };
  static constexpr std::size_t kBatch = 32;

  void Flush() {
    for (const Pending& w : batch_) index_.PrefetchSlot(w.hash);
    for (const Pending& w : batch_) index_.PrefetchRecord(w.hash);
    for (const Pending& w : batch_) {
      const std::string_view word(bytes_.data() + w.at, w.size);
      NameIndex::Sighting sighting = index_.Add(word, w.line, w.hash);
      if (sighting.is_new) {
        log_.NoteName(role_, word, path_, w.line);
        continue;
      }
      if (w.line != repeats_line_) LogLine();
      repeats_line_ = w.line;
      // The index's copy of the word, which outlives the batch.
      line_repeats_.emplace_back(sighting.name, sighting.first_line);
    }
    batch_.clear();
    bytes_.clear();
  }
  void LogLine() {
    std::sort(line_repeats_.begin(), line_repeats_.end());
    for (auto [name, first] : line_repeats_) repeats_.Add(repeats_line_, first, name);
    line_repeats_.clear();
  }

  FindingLog& log_;
  const std::string& path_;
  NameIndex& index_;
  const Role role_;
  RepeatLog repeats_;
  std::vector<std::pair<std::string_view, std::uint64_t>> line_repeats_;  // name, first line
  std::uint64_t repeats_line_ = 0;
  std::vector<Pending> batch_;
  std::string bytes_;  // the batch's words, copied out of the reader's buffer
};

}  // namespace

void ReadEachOnce(FindingLog& log, const std::string& path, NameIndex& index, Role role) {
  EachOnceBatch batch(log, path, index, role);
  ReadList(log, path, ListKind::kEachOnce,
           [&](std::string_view word, std::uint64_t line) { batch.Word(word, line); });
  RepeatLog repeats = batch.Finish();
  if (repeats.size() > 0) {
    log.planner().Plan(path, true);
    log.result().repeats.push_back(std::move(repeats));
  }
}

}  // namespace loomreg
