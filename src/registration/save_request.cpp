#include "save_request.h"

#include <array>

#include "message_text.h"
#include "name_rules.h"
#include "store_layout.h"

namespace loomreg {
namespace {

constexpr std::string_view kFileKey = "filename_arg=";
constexpr std::string_view kUploadKey = "upload_arg=";

struct Word {
  std::string_view key;
  std::string SaveRequest::*value;
};
constexpr std::array<Word, 6> kWords = {{
    {"filename_arg=", &SaveRequest::file},
    {"style_arg=", &SaveRequest::style},
    {"beam_arg=", &SaveRequest::beam},
    {"koment_arg=", &SaveRequest::comment},
    {"machine_arg=", &SaveRequest::machine},
    {"top_beam_arg=", &SaveRequest::top_beam},
}};

bool StartsWith(const char* word, std::string_view prefix) {
  return word != nullptr && std::string_view(word).starts_with(prefix);
}

// A file name, style or machine becomes a path component: it must name one entry inside its
// directory, and be read back as one word from the lists.
Status CheckName(std::string_view what, std::string_view name) {
  std::optional<std::string_view> fault = NameFault(name);
  if (!fault) return {};
  std::string why(what);
  if (!name.empty()) why += " " + QuoteForMessage(name);
  why += " ";
  why += *fault;
  return Status::Error(std::move(why));
}

Status CheckOneLine(std::string_view what, std::string_view value) {
  if (value.find_first_of("\r\n") != std::string_view::npos) {
    return Status::Error(std::string(what) + " " + QuoteForMessage(value) +
                         " contains a line break");
  }
  return {};
}

// "<what> is N bytes long (at most 255)", for a value or path over the limit.
std::string LengthText(std::size_t size) {
  return " is " + std::to_string(size) + " bytes long (at most " + std::to_string(kMaxBytes) + ")";
}

Status CheckValueLength(std::string_view key, std::string_view value) {
  if (value.size() <= kMaxBytes) return {};
  return Status::Error("the value of \"" + std::string(key) + "\"" + LengthText(value.size()));
}

}  // namespace

Command ParseCommandLine(int argc, const char* const* argv) {
  Command command;
  if (argc == 2 && argv[1] != nullptr) {
    std::string_view option = argv[1];
    if (option == "--help" || option == "-h") command.kind = CommandKind::kHelp;
    if (option == "--version") command.kind = CommandKind::kVersion;
    if (option == "--paths") command.kind = CommandKind::kPaths;
    if (command.kind != CommandKind::kSave) return command;
  }
  int first = 0;
  if (argc >= 7 && !StartsWith(argv[0], kFileKey) && StartsWith(argv[1], kFileKey)) first = 1;
  int words = argc - first;
  // A refusal of a command line that begins with what looks like the program's name (a word
  // without "=") is about the words after it: the web application's form never has that.
  const std::string_view zeroth = argc > 0 && argv[0] != nullptr ? argv[0] : "";
  auto refuse = [&](std::string why) {
    if (first == 0 && zeroth.find('=') == std::string_view::npos) {
      const int after = argc > 1 ? argc - 1 : 0;
      why = QuoteForMessage(zeroth) +
            " holds no \"=\", so it is taken for the program's name: the six words (file name, "
            "style, beam, comment, machine, top beam) must follow it, the first beginning with "
            "\"filename_arg=\", and " +
            std::to_string(after) + (after == 1 ? " word follows it" : " words follow it") +
            "; see loomreg --help";
    }
    command.refusal = Status::Error(std::move(why));
    return command;
  };
  if (words < 6) {
    return refuse("expected six words (file name, style, beam, comment, machine, top beam), got " +
                  std::to_string(words < 0 ? 0 : words) + "; see loomreg --help");
  }
  for (std::size_t i = 0; i < kWords.size(); ++i) {
    const char* word = argv[first + static_cast<int>(i)];
    std::string_view text = word ? word : "";
    const Word& expected = kWords[i];
    if (text.size() < expected.key.size()) {
      return refuse("word " + QuoteForMessage(text) + " is shorter than its key \"" +
                    std::string(expected.key) + "\"");
    }
    command.request.*expected.value = text.substr(expected.key.size());
  }
  if (words > 6 && StartsWith(argv[first + 6], kUploadKey)) {
    command.request.upload =
        std::string(std::string_view(argv[first + 6]).substr(kUploadKey.size()));
  }
  return command;
}

SavePaths BuildSavePaths(const Store& store, const SaveRequest& r) {
  const StorePaths& p = store.paths();
  return {
      .lock = store.At(p.lock),
      .history = store.At(p.history),
      .machine_files = store.At(p.MachineFiles(r.machine)),
      .machine_list = store.At(p.machine_list),
      .file_list = store.At(p.file_list),
      .style_dir = store.At(p.StyleDir(r.style)),
      .upload = store.At(r.upload ? p.NamedUpload(*r.upload) : p.upload),
      .stored = store.At(p.Stored(r.style, r.file)),
      .kind_list = store.At(p.kind_list),
      .style_files = store.At(p.StyleFiles(r.style)),
      .stamp = store.At(p.Stamp(r.machine)),
  };
}

Status CheckRequest(const Store& store, const SaveRequest& r) {
  for (const Word& word : kWords) {
    if (Status s = CheckValueLength(word.key, r.*word.value); !s.ok()) return s;
  }
  for (const Status& s : {CheckName("file name", r.file), CheckName("style", r.style),
                          CheckName("machine", r.machine)}) {
    if (!s.ok()) return s;
  }
  if (IsReservedStyle(r.style)) {
    return Status::Error("style " + QuoteForMessage(r.style) + " is a reserved name");
  }
  if (r.upload) {
    if (Status s = CheckValueLength(kUploadKey, *r.upload); !s.ok()) return s;
    if (Status s = CheckName("upload", *r.upload); !s.ok()) return s;
    if (*r.upload == kFileListName) {
      return Status::Error("upload " + QuoteForMessage(*r.upload) + " is a reserved name");
    }
  }
  for (const Status& s : {CheckOneLine("beam", r.beam), CheckOneLine("comment", r.comment)}) {
    if (!s.ok()) return s;
  }
  if (Status s = store.CheckTable(); !s.ok()) return s;
  SavePaths paths = BuildSavePaths(store, r);
  for (const Place* place : {&paths.lock, &paths.history, &paths.machine_files, &paths.machine_list,
                             &paths.file_list, &paths.style_dir, &paths.upload, &paths.stored,
                             &paths.kind_list, &paths.style_files, &paths.stamp}) {
    const std::string& path = place->shown;
    if (path.size() > kMaxBytes) {
      return Status::Error("path " + QuoteForMessage(path) + LengthText(path.size()));
    }
  }
  return {};
}

}  // namespace loomreg
