// The rules a file name, style or machine must pass to become a path component of the store and
// one word of its lists. Saves refuse names that break them; the store checker notes names
// already stored that a save would refuse today.
#ifndef LOOMREG_STORE_NAME_RULES_H
#define LOOMREG_STORE_NAME_RULES_H

#include <optional>
#include <string_view>

namespace loomreg {

// Why `name` cannot be a file name, style or machine ("is empty", "is not a name",
// "contains '/'", "contains a space or control character"), or none when it can.
std::optional<std::string_view> NameFault(std::string_view name);

// Styles a save refuses whatever their bytes: a style directory of these names would take the
// place of the upload or of the file list.
bool IsReservedStyle(std::string_view style);

}  // namespace loomreg

#endif
