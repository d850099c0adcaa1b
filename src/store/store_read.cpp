// The C read interface of loomreg_store.h, over the store's own readers: the store value for
// the open data root and its paths, file_io for the never-follow open, list_format for the words
// and lines.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "file_io.h"
#include "list_format.h"
#include "loomreg_store.h"
#include "machine_stamp.h"
#include "message_text.h"
#include "name_rules.h"
#include "store.h"

struct LoomregStore {
  explicit LoomregStore(loomreg::Store opened) : store(std::move(opened)) {}
  loomreg::Store store;
  std::string root;
  std::string last_path;
  std::string error;
};

namespace loomreg {
namespace {

// A save writes a history line of five fields of at most 255 bytes, four commas and CR LF: this
// much of the end of the history holds the last lines whole, one more for the cut first one.
constexpr std::size_t kHistoryLineBound = 1300;

struct Opened {
  LoomregStoreResult result = LOOMREG_STORE_OK;
  Fd fd;
  Status status;
};

// Opens `path` for reading only when it is a regular file. It is looked at first and opened
// only when regular, since opening a device can act on it; the open then never follows a link
// put in its place meanwhile, never blocks on a FIFO, and is judged again by what it opened.
Opened OpenRegular(const Place& place) {
  const std::string& path = place.shown;
  Result<os::Info> st = LinkStatus(place);
  if (!st.ok()) {
    const Status& failed = st.status();
    return {failed.kind() == os::Kind::kNotFound ? LOOMREG_STORE_MISSING : LOOMREG_STORE_OPEN_ERROR,
            Fd(), Status::SystemError("cannot open", path, failed.failure())};
  }
  if (st->type == os::Type::kLink) {
    return {LOOMREG_STORE_LINK, Fd(),
            Status::Error("cannot open " + path + ": a symbolic link, never followed",
                          os::Kind::kLink)};
  }
  if (st->type != os::Type::kRegular) {
    return {LOOMREG_STORE_NOT_REGULAR, Fd(),
            Status::Error("cannot read " + path + ": not a regular file", os::Kind::kNotRegular)};
  }
  Result<OpenedFile> file = OpenFile(place, OpenMode::kRead);
  if (!file.ok()) {
    os::Info now;
    const os::Kind kind = file.status().kind();
    LoomregStoreResult result = kind == os::Kind::kNotFound ? LOOMREG_STORE_MISSING
                                : kind == os::Kind::kLink &&
                                        os::StatAt(place.directory(), place.name, now).ok() &&
                                        now.type == os::Type::kLink
                                    ? LOOMREG_STORE_LINK
                                    : LOOMREG_STORE_OPEN_ERROR;
    return {result, Fd(), file.status()};
  }
  Fd fd = std::move(file->fd);
  if (Status regular = RequireRegular(fd.handle(), "cannot read", path); !regular.ok()) {
    return {regular.kind() == os::Kind::kNotRegular ? LOOMREG_STORE_NOT_REGULAR
                                                    : LOOMREG_STORE_OPEN_ERROR,
            Fd(), std::move(regular)};
  }
  // A regular file never blocks: the caller gets an ordinary descriptor.
  (void)os::SetBlocking(fd.handle());
  return {LOOMREG_STORE_OK, std::move(fd), {}};
}

// Texts gathered one after another, each followed by a NUL, and handed out as one allocation.
class TextBlock {
 public:
  void Add(std::string_view text) {
    spans_.emplace_back(bytes_.size(), text.size());
    bytes_ += text;
    bytes_ += '\0';
  }

  // Moves the texts into `list`; false when memory ran out (then `list` stays empty).
  bool Give(LoomregStoreList* list) const {
    list->items = nullptr;
    list->count = 0;
    if (spans_.empty()) return true;
    const std::size_t head = spans_.size() * sizeof(LoomregStoreText);
    void* block = std::malloc(head + bytes_.size());
    if (block == nullptr) return false;
    auto* items = static_cast<LoomregStoreText*>(block);
    char* text = static_cast<char*>(block) + head;
    std::memcpy(text, bytes_.data(), bytes_.size());
    for (std::size_t i = 0; i < spans_.size(); ++i) {
      items[i] = {text + spans_[i].first, spans_[i].second};
    }
    list->items = items;
    list->count = spans_.size();
    return true;
  }

 private:
  std::string bytes_;
  std::vector<std::pair<std::size_t, std::size_t>> spans_;
};

// Starts a call that reads `below`, a path below the data root: names it as the last path, and
// gives the file to open.
Place Begin(LoomregStore* store, std::string_view below) {
  store->error.clear();
  store->last_path = below;
  return store->store.At(below);
}

LoomregStoreResult Fail(LoomregStore* store, LoomregStoreResult result, const Status& status) {
  store->error = status.message();
  return result;
}

LoomregStoreResult OutOfMemory(LoomregStore* store) {
  store->error = "out of memory";
  return LOOMREG_STORE_NO_MEMORY;
}

bool IsName(const char* text) {
  if (text == nullptr) return false;
  std::string_view name(text);
  return name.size() <= kMaxBytes && !NameFault(name);
}

LoomregStoreResult BadName(LoomregStore* store, const char* text) {
  store->last_path.clear();
  store->error = "not a name of the store: " + QuoteForMessage(text != nullptr ? text : "");
  return LOOMREG_STORE_BAD_NAME;
}

LoomregStoreResult ReadWords(LoomregStore* store, const std::string& path, LoomregStoreList* list) {
  list->items = nullptr;
  list->count = 0;
  const Place place = Begin(store, path);
  Opened opened = OpenRegular(place);
  if (opened.result != LOOMREG_STORE_OK) return Fail(store, opened.result, opened.status);
  TextBlock words;
  LineReader reader(opened.fd.handle(), place.shown);
  LineRead read;
  while ((read = reader.Next()).line != nullptr) {
    ForEachWord(read.line->text, [&](std::string_view word) { words.Add(word); });
  }
  if (!words.Give(list)) return OutOfMemory(store);
  if (!read.status.ok()) return Fail(store, LOOMREG_STORE_READ_ERROR, read.status);
  return LOOMREG_STORE_OK;
}

// The lines of `tail`, the last bytes of the history, newest first: at most `max_lines`, the
// first one skipped when `cut` says that the tail begins inside a line.
void HistoryLines(std::string_view tail, bool cut, std::size_t max_lines, TextBlock& lines) {
  std::size_t start = 0;
  if (cut) {
    start = tail.find('\n');
    start = start == std::string_view::npos ? tail.size() : start + 1;
  }
  std::size_t end = tail.size(), shown = 0;
  while (end > start && shown < max_lines) {
    std::size_t line_end = end;
    if (tail[line_end - 1] == '\n') --line_end;
    std::size_t line_start = line_end;
    while (line_start > start && tail[line_start - 1] != '\n') --line_start;
    end = line_start;
    std::size_t text_end = line_end;
    if (text_end > line_start && tail[text_end - 1] == '\r') --text_end;
    lines.Add(tail.substr(line_start, text_end - line_start));
    ++shown;
  }
}

LoomregStoreResult ReadHistory(LoomregStore* store, std::size_t max_lines,
                               LoomregStoreList* lines) {
  lines->items = nullptr;
  lines->count = 0;
  const Place place = Begin(store, store->store.paths().history);
  const std::string& path = place.shown;
  Opened opened = OpenRegular(place);
  if (opened.result != LOOMREG_STORE_OK) return Fail(store, opened.result, opened.status);
  os::Info st;
  if (os::Error error = os::Stat(opened.fd.handle(), st); !error.ok()) {
    return Fail(store, LOOMREG_STORE_READ_ERROR, Status::SystemError("cannot read", path, error));
  }
  const auto size = static_cast<std::size_t>(st.size);
  const std::size_t tail = max_lines < size / kHistoryLineBound
                               ? (max_lines + 1) * kHistoryLineBound
                               : size;  // the whole file is no more than the tail would be
  const std::size_t from = size > tail ? size - tail : 0;
  // Read at the offset, one read after another, until the size found or the end.
  std::string bytes(size - from, '\0');
  std::size_t have = 0;
  while (have < bytes.size()) {
    std::size_t got = 0;
    if (os::Error error = os::ReadAt(opened.fd.handle(), from + have, bytes.data() + have,
                                     bytes.size() - have, got);
        !error.ok()) {
      return Fail(store, LOOMREG_STORE_READ_ERROR, Status::SystemError("cannot read", path, error));
    }
    if (got == 0) break;
    have += got;
  }
  bytes.resize(have);
  TextBlock found;
  HistoryLines(bytes, from > 0, max_lines, found);
  if (!found.Give(lines)) return OutOfMemory(store);
  return LOOMREG_STORE_OK;
}

LoomregStoreResult ReadStampLine(LoomregStore* store, const char* machine, char** line) {
  *line = nullptr;
  if (!IsName(machine)) return BadName(store, machine);
  const Place place = Begin(store, store->store.paths().Stamp(machine));
  Opened opened = OpenRegular(place);
  if (opened.result != LOOMREG_STORE_OK) return Fail(store, opened.result, opened.status);
  Result<std::string> read = ReadUpTo(opened.fd.handle(), place.shown, kStampReadLimit);
  if (!read.ok()) return Fail(store, LOOMREG_STORE_READ_ERROR, read.status());
  std::string& content = read.value();
  if (content.empty()) return LOOMREG_STORE_OK;
  content.resize(std::min(content.find_first_of(std::string_view("\r\n\0", 3)), content.size()));
  *line = static_cast<char*>(std::malloc(content.size() + 1));
  if (*line == nullptr) return OutOfMemory(store);
  std::memcpy(*line, content.c_str(), content.size() + 1);
  return LOOMREG_STORE_OK;
}

LoomregStoreResult LookAtStored(LoomregStore* store, const char* style, const char* name) {
  if (!IsName(style)) return BadName(store, style);
  if (!IsName(name)) return BadName(store, name);
  const Place place = Begin(store, store->store.paths().Stored(style, name));
  const std::string& path = place.shown;
  Result<os::Info> st = LinkStatus(place);
  if (!st.ok()) {
    const Status& failed = st.status();
    return Fail(
        store,
        failed.kind() == os::Kind::kNotFound ? LOOMREG_STORE_MISSING : LOOMREG_STORE_OPEN_ERROR,
        Status::SystemError("cannot open", path, failed.failure()));
  }
  if (st->type == os::Type::kRegular) return LOOMREG_STORE_OK;
  store->error = path + " is " + std::string(FileTypeText(st->type));
  return st->type == os::Type::kLink ? LOOMREG_STORE_LINK : LOOMREG_STORE_NOT_REGULAR;
}

LoomregStoreResult OpenStored(LoomregStore* store, const char* style, const char* name, int* fd) {
  *fd = -1;
  if (!IsName(style)) return BadName(store, style);
  if (!IsName(name)) return BadName(store, name);
  const Place place = Begin(store, store->store.paths().Stored(style, name));
  Opened opened = OpenRegular(place);
  if (opened.result != LOOMREG_STORE_OK) return Fail(store, opened.result, opened.status);
  if (os::Error error = os::GiveDescriptor(os::Handle(opened.fd.Release()), *fd); !error.ok()) {
    return Fail(store, LOOMREG_STORE_OPEN_ERROR,
                Status::SystemError("cannot open", place.shown, error));
  }
  return LOOMREG_STORE_OK;
}

// Runs `call`, turning a failed allocation inside it into LOOMREG_STORE_NO_MEMORY: no exception
// crosses the C interface.
template <typename Call>
LoomregStoreResult Guarded(LoomregStore* store, Call&& call) {
  try {
    return call();
  } catch (...) {
    return store != nullptr ? OutOfMemory(store) : LOOMREG_STORE_NO_MEMORY;
  }
}

}  // namespace
}  // namespace loomreg

using loomreg::Guarded;
using loomreg::LookAtStored;
using loomreg::OpenStored;
using loomreg::ReadHistory;
using loomreg::ReadStampLine;
using loomreg::ReadWords;

extern "C" {

LoomregStoreResult LoomregStoreOpen(LoomregStore** store) {
  *store = nullptr;
  return Guarded(nullptr, [&] {
    loomreg::Store opened_store = loomreg::Store::OpenSite();
    if (!opened_store.CheckTable().ok()) return LOOMREG_STORE_BAD_TABLE;
    auto* opened = new LoomregStore(std::move(opened_store));
    opened->root = opened->store.Shown("");
    *store = opened;
    return LOOMREG_STORE_OK;
  });
}

void LoomregStoreClose(LoomregStore* store) { delete store; }

const char* LoomregStoreDataRoot(const LoomregStore* store) { return store->root.c_str(); }

const char* LoomregStoreLastPath(const LoomregStore* store) { return store->last_path.c_str(); }

const char* LoomregStoreErrorText(const LoomregStore* store) { return store->error.c_str(); }

LoomregStoreResult LoomregStoreMachines(LoomregStore* store, LoomregStoreList* list) {
  return Guarded(store, [&] { return ReadWords(store, store->store.paths().machine_list, list); });
}

LoomregStoreResult LoomregStoreStyles(LoomregStore* store, LoomregStoreList* list) {
  return Guarded(store, [&] { return ReadWords(store, store->store.paths().kind_list, list); });
}

LoomregStoreResult LoomregStoreMachineFiles(LoomregStore* store, const char* machine,
                                            LoomregStoreList* list) {
  return Guarded(store, [&] {
    list->items = nullptr;
    list->count = 0;
    if (!loomreg::IsName(machine)) return loomreg::BadName(store, machine);
    return ReadWords(store, store->store.paths().MachineFiles(machine), list);
  });
}

LoomregStoreResult LoomregStoreStyleFiles(LoomregStore* store, const char* style,
                                          LoomregStoreList* list) {
  return Guarded(store, [&] {
    list->items = nullptr;
    list->count = 0;
    if (!loomreg::IsName(style)) return loomreg::BadName(store, style);
    return ReadWords(store, store->store.paths().StyleFiles(style), list);
  });
}

LoomregStoreResult LoomregStoreHistory(LoomregStore* store, size_t max_lines,
                                       LoomregStoreList* lines) {
  return Guarded(store, [&] { return ReadHistory(store, max_lines, lines); });
}

void LoomregStoreFreeList(LoomregStoreList* list) {
  if (list == nullptr) return;
  std::free(list->items);
  list->items = nullptr;
  list->count = 0;
}

LoomregStoreResult LoomregStoreMachineStamp(LoomregStore* store, const char* machine, char** line) {
  return Guarded(store, [&] { return ReadStampLine(store, machine, line); });
}

void LoomregStoreFreeText(char* text) { std::free(text); }

LoomregStoreResult LoomregStoreHasFile(LoomregStore* store, const char* style, const char* name) {
  return Guarded(store, [&] { return LookAtStored(store, style, name); });
}

LoomregStoreResult LoomregStoreOpenFile(LoomregStore* store, const char* style, const char* name,
                                        int* fd) {
  *fd = -1;
  return Guarded(store, [&] { return OpenStored(store, style, name, fd); });
}

LoomregStoreResult LoomregOpenRegularFile(const char* path, int* fd) {
  *fd = -1;
  return Guarded(nullptr, [&] {
    loomreg::Opened opened = loomreg::OpenRegular(loomreg::Place::FromWorkingDirectory(path));
    if (opened.result == LOOMREG_STORE_OK &&
        !loomreg::os::GiveDescriptor(loomreg::os::Handle(opened.fd.Release()), *fd).ok()) {
      return LOOMREG_STORE_OPEN_ERROR;
    }
    return opened.result;
  });
}

int LoomregIsStoreName(const char* text) { return loomreg::IsName(text) ? 1 : 0; }

}  // extern "C"
