#include "refused_names.h"

#include <tuple>

#include "list_format.h"
#include "name_rules.h"

namespace loomreg {

void RefusedNames::Note(Role role, std::string_view name, const std::string& file,
                        std::uint64_t line) {
  if (name.size() > kMaxWord) return;  // reported as too long where it stands in a list
  std::optional<std::string_view> why = NameFault(name);
  if (!why && role == Role::kStyle && IsReservedStyle(name)) why = "is a reserved name";
  if (!why) return;
  auto key = std::make_pair(role, std::string(name));
  auto found = refused_.find(key);
  if (found != refused_.end() &&
      std::tie(found->second.file, found->second.line) <= std::tie(file, line)) {
    return;
  }
  Finding finding{FindingKind::kRefusedName, file, line, std::string(name),
                  "as a " + std::string(RoleText(role)) + " " + std::string(*why) +
                      ": a save would refuse it today"};
  refused_.insert_or_assign(std::move(key), std::move(finding));
}

void RefusedNames::MoveTo(std::vector<Finding>& findings) {
  for (auto& [key, finding] : refused_) findings.push_back(std::move(finding));
  refused_.clear();
}

}  // namespace loomreg
