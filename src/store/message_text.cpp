#include "message_text.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

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

Status WriteAll(int fd, std::string_view path, std::string_view text) {
  while (!text.empty()) {
    ssize_t written = ::write(fd, text.data(), text.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return Status::SystemError("cannot write", path, errno);
    }
    text.remove_prefix(static_cast<std::size_t>(written));
  }
  return {};
}

void WriteDiagnostic(std::string_view program, std::string_view message) {
  std::string line(program);
  line += ": ";
  line += message;
  line += '\n';
  (void)WriteAll(STDERR_FILENO, "standard error", line);
}

}  // namespace loomreg
