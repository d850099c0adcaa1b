// The text of the programs' messages: quoting and escaping for one line, the limits messages
// name, and the writers of standard error and standard output.
#ifndef LOOMREG_STORE_MESSAGE_TEXT_H
#define LOOMREG_STORE_MESSAGE_TEXT_H

#include <cstddef>
#include <string>
#include <string_view>

#include "config_file.h"
#include "file_io.h"

namespace loomreg {

// The longest value, path, list word or name the store knows: the longest text of the site
// settings and of the path table, which hold 255 bytes and a NUL.
inline constexpr std::size_t kMaxBytes = kMaxText;

// `text` quoted for a one-line message: controls, DEL, '"' and '\' are escaped.
std::string QuoteForMessage(std::string_view text);

// `text` made safe for one line of a message: controls and DEL as \xHH, '\' doubled, and '"'
// escaped too when `escape_quotes`.
std::string EscapeForLine(std::string_view text, bool escape_quotes = false);

// Writes all of `text` to `file`, retrying after a partial write; a failed write fails as
// "cannot write <path>: <error>".
Status WriteAll(const os::Handle& file, std::string_view path, std::string_view text);
// The same for standard output or error.
Status WriteAll(os::Stream stream, std::string_view path, std::string_view text);

// Writes "<program>: <message>" and a newline to standard error, in one write when the system
// takes it whole.
void WriteDiagnostic(std::string_view program, std::string_view message);

}  // namespace loomreg

#endif
