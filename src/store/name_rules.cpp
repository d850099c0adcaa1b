#include "name_rules.h"

#include "store_layout.h"

namespace loomreg {

std::optional<std::string_view> NameFault(std::string_view name) {
  if (name.empty()) return "is empty";
  if (name == "." || name == "..") return "is not a name";
  for (unsigned char c : name) {
    if (c == '/') return "contains '/'";
    if (c <= 0x20 || c == 0x7f) return "contains a space or control character";
  }
  return std::nullopt;
}

bool IsReservedStyle(std::string_view style) {
  return style == kSharedUploadName || style == kFileListName;
}

}  // namespace loomreg
