#include "message_text.h"

#include <cstdio>

#include "os.h"

namespace loomreg {

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

Status WriteAll(const os::Handle& file, std::string_view path, std::string_view text) {
  while (!text.empty()) {
    std::size_t written = 0;
    os::Error error = os::Write(file, text, written);
    if (!error.ok() && error.kind != os::Kind::kShortWrite) {
      return Status::SystemError("cannot write", path, error);
    }
    text.remove_prefix(written);
  }
  return {};
}

Status WriteAll(os::Stream stream, std::string_view path, std::string_view text) {
  while (!text.empty()) {
    std::size_t written = 0;
    if (os::Error error = os::WriteStream(stream, text, written); !error.ok()) {
      return Status::SystemError("cannot write", path, error);
    }
    text.remove_prefix(written);
  }
  return {};
}

void WriteDiagnostic(std::string_view program, std::string_view message) {
  std::string line(program);
  line += ": ";
  line += message;
  line += '\n';
  (void)WriteAll(os::Stream::kError, "standard error", line);
}

}  // namespace loomreg
