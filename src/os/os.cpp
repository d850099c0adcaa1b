// The parts of the seam built from its other calls, the same on every system.
#include "os.h"

namespace loomreg::os {

Error ReadAll(const Handle& file, std::size_t limit, std::string& out) {
  out.assign(limit, '\0');
  std::size_t have = 0;
  while (have < limit) {
    std::size_t got = 0;
    if (Error error = Read(file, out.data() + have, limit - have, got); !error.ok()) {
      out.clear();
      return error;
    }
    if (got == 0) break;
    have += got;
  }
  out.resize(have);
  return {};
}

Error ListDirectory(const Root& root, std::string_view name, std::vector<Entry>& out) {
  out.clear();
  return VisitDirectory(root, name, [&](std::string_view entry, Type type) {
    out.push_back({std::string(entry), type});
  });
}

}  // namespace loomreg::os
