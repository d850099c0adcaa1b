#include "save_request.h"

#include <array>
#include <cstdio>
#include <cstring>

#include "name_rules.h"
#include "siteconfig.h"
#include "store_lock.h"

namespace loomreg {
namespace {

constexpr std::size_t kMaxValue = 255;
constexpr std::size_t kMaxPath = 255;
constexpr std::string_view kFileKey = "filename_arg=";
constexpr std::string_view kUploadKey = "upload_arg=";
constexpr std::string_view kSharedUpload = "FileData";

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
std::string CheckName(std::string_view what, std::string_view name) {
  std::string_view fault = NameFault(name);
  if (fault.empty()) return {};
  std::string why(what);
  if (!name.empty()) why += " " + QuoteForMessage(name);
  why += " ";
  why += fault;
  return why;
}

std::string CheckOneLine(std::string_view what, std::string_view value) {
  if (value.find_first_of("\r\n") != std::string_view::npos) {
    return std::string(what) + " " + QuoteForMessage(value) + " contains a line break";
  }
  return {};
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
  if (words < 6) {
    command.refusal =
        "expected six words (file name, style, beam, comment, machine, top beam), got " +
        std::to_string(words < 0 ? 0 : words) + "; see loomreg --help";
    return command;
  }
  for (std::size_t i = 0; i < kWords.size(); ++i) {
    const char* word = argv[first + static_cast<int>(i)];
    std::string_view text = word ? word : "";
    const Word& expected = kWords[i];
    if (text.size() < expected.key.size()) {
      command.refusal = "word " + QuoteForMessage(text) + " is shorter than its key \"" +
                        std::string(expected.key) + "\"";
      return command;
    }
    command.request.*expected.value = text.substr(expected.key.size());
  }
  if (words > 6 && StartsWith(argv[first + 6], kUploadKey)) {
    command.request.upload =
        std::string(std::string_view(argv[first + 6]).substr(kUploadKey.size()));
  }
  return command;
}

SavePaths BuildSavePaths(const SaveRequest& r) {
  std::string values = SetValueFileDir;
  return {
      .lock = std::string(SetValueFileListDir) + std::string(kLockFileName),
      .history = std::string(SetValueFileListDir) + "SetValueList",
      .machine_files = MachineFDir + r.machine,
      .machine_list = MachineListFile,
      .file_list = values + "FileList",
      .style_dir = values + r.style,
      .upload = values + r.upload.value_or(std::string(kSharedUpload)),
      .stored = values + r.style + "/" + r.file,
      .kind_list = std::string(StyleListDir) + "KindList",
      .style_files = StyleFileDir + r.style,
      .stamp = MachineDir + r.machine,
  };
}

std::string CheckSaveRequest(const SaveRequest& r) {
  for (const Word& word : kWords) {
    const std::string& value = r.*word.value;
    if (value.size() > kMaxValue) {
      return "the value of \"" + std::string(word.key) + "\" is " + std::to_string(value.size()) +
             " bytes long (at most 255)";
    }
  }
  for (const std::string& why : {CheckName("file name", r.file), CheckName("style", r.style),
                                 CheckName("machine", r.machine)}) {
    if (!why.empty()) return why;
  }
  if (IsReservedStyle(r.style)) {
    return "style " + QuoteForMessage(r.style) + " is a reserved name";
  }
  if (r.upload) {
    if (r.upload->size() > kMaxValue) {
      return "the value of \"" + std::string(kUploadKey) + "\" is " +
             std::to_string(r.upload->size()) + " bytes long (at most 255)";
    }
    if (std::string why = CheckName("upload", *r.upload); !why.empty()) return why;
    if (*r.upload == "FileList") {
      return "upload " + QuoteForMessage(*r.upload) + " is a reserved name";
    }
  }
  for (const std::string& why :
       {CheckOneLine("beam", r.beam), CheckOneLine("comment", r.comment)}) {
    if (!why.empty()) return why;
  }
  if (!PathTableIsComplete()) {
    return "the data store paths of ./KVR_PATH.inf are longer than 255 bytes";
  }
  SavePaths paths = BuildSavePaths(r);
  for (const std::string* path :
       {&paths.lock, &paths.history, &paths.machine_files, &paths.machine_list, &paths.file_list,
        &paths.style_dir, &paths.upload, &paths.stored, &paths.kind_list, &paths.style_files,
        &paths.stamp}) {
    if (path->size() > kMaxPath) {
      return "path " + QuoteForMessage(*path) + " is " + std::to_string(path->size()) +
             " bytes long (at most 255)";
    }
  }
  return {};
}

std::string QuoteForMessage(std::string_view text) {
  return "\"" + EscapeForLine(text, true) + "\"";
}

std::string EscapeForLine(std::string_view text, bool escape_quotes) {
  std::string escaped;
  escaped.reserve(text.size());
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7f) {
      char code[8];
      std::snprintf(code, sizeof code, "\\x%02x", c);
      escaped += code;
    } else {
      if (c == '\\' || (escape_quotes && c == '"')) escaped += '\\';
      escaped += static_cast<char>(c);
    }
  }
  return escaped;
}

}  // namespace loomreg
