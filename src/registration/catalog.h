// The catalogue operations, reporting what went wrong. The C functions of registration.h are
// these with the message dropped.
#ifndef LOOMREG_REGISTRATION_CATALOG_H
#define LOOMREG_REGISTRATION_CATALOG_H

#include <ctime>
#include <string_view>

#include "file_io.h"

namespace loomreg {

Status AppendLine(const Place& list, std::string_view text);
Status AddIfAbsent(const Place& list, std::string_view name);
Status AddToFileList(const Place& list, std::string_view name);
Status AppendHistory(const Place& history, std::string_view file, std::string_view style,
                     std::string_view beam, std::string_view comment, std::string_view machine);
Status WriteStamp(const Place& stamp, std::string_view machine, std::time_t when);

}  // namespace loomreg

#endif
