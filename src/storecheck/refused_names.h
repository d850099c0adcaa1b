// The names a save would refuse today, each noted once for each role it plays, at the first place
// it stands in report order.
#ifndef LOOMREG_STORECHECK_REFUSED_NAMES_H
#define LOOMREG_STORECHECK_REFUSED_NAMES_H

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "finding_text.h"
#include "findings.h"

namespace loomreg {

class RefusedNames {
 public:
  // `name`, found as a `role` in `file` on `line` (0 for a directory entry), is judged by the
  // rules of a save.
  void Note(Role role, std::string_view name, const std::string& file, std::uint64_t line);
  // Hands over one finding for each role and refused name.
  void MoveTo(std::vector<Finding>& findings);

 private:
  std::map<std::pair<Role, std::string>, Finding> refused_;
};

}  // namespace loomreg

#endif
