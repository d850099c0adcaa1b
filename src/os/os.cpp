// The parts of the seam that are the same on every system: the C library's errno values, and what
// is built from the other calls.
#include "os.h"

#include <cerrno>
#include <cstring>

namespace loomreg::os {

Error FromErrno(int err) {
  Kind kind = Kind::kOther;
  switch (err) {
    case ENOENT:  // ENOTDIR, a file where a directory should be, is not "missing"
      kind = Kind::kNotFound;
      break;
    case EEXIST:
      kind = Kind::kExists;
      break;
    case EACCES:
    case EPERM:
    case EROFS:
#ifdef ETXTBSY
    case ETXTBSY:
#endif
      kind = Kind::kAccess;
      break;
#ifdef ELOOP
    case ELOOP:
      kind = Kind::kLink;
      break;
#endif
    default:
      break;
  }
  return {kind, err, std::strerror(err)};
}

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
