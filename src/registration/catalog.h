// The catalogue operations, reporting what went wrong. The C functions of registration.h are
// these with the message dropped.
#ifndef LOOMREG_REGISTRATION_CATALOG_H
#define LOOMREG_REGISTRATION_CATALOG_H

#include <ctime>
#include <string_view>

#include "file_io.h"

namespace loomreg {

Status AppendLine(const char* path, std::string_view text);
Status AddIfAbsent(const char* path, std::string_view name);
Status AddToFileList(const char* path, std::string_view name);
Status AppendHistory(const char* path, std::string_view file, std::string_view style,
                     std::string_view beam, std::string_view comment, std::string_view machine);
Status WriteStamp(const char* path, std::string_view machine, std::time_t when);

}  // namespace loomreg

#endif
