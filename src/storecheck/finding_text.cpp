#include "finding_text.h"

namespace loomreg {

std::string_view RoleText(Role role) {
  switch (role) {
    case Role::kFile:
      return "file name";
    case Role::kStyle:
      return "style";
    case Role::kMachine:
      return "machine";
  }
  return "name";
}

std::string LinesText(std::uint64_t count, std::string_view one, std::string_view many,
                      std::uint64_t first) {
  std::string text = std::to_string(count);
  text += count == 1 ? " line " : " lines ";
  text += count == 1 ? one : many;
  if (count > 1) text += " (first on line " + std::to_string(first) + ")";
  return text;
}

std::string AgeText(std::int64_t seconds) {
  auto part = [](std::int64_t n, std::string_view unit) {
    return std::to_string(n) + " " + std::string(unit);
  };
  if (seconds < 60) return part(seconds, "s");
  if (seconds < 3600) return part(seconds / 60, "min");
  if (seconds < 86400) return part(seconds / 3600, "h") + " " + part(seconds % 3600 / 60, "min");
  return part(seconds / 86400, "d") + " " + part(seconds % 86400 / 3600, "h");
}

}  // namespace loomreg
