// The entries of the path table, in the order BuildPathTable writes them: the one list of the
// store's directories and files below the data root.
#ifndef LOOMREG_SITECONFIG_PATH_TABLE_H
#define LOOMREG_SITECONFIG_PATH_TABLE_H

#include <span>
#include <string_view>

namespace loomreg {

struct PathTableEntry {
  std::string_view name;   // the buffer's name, as --paths shows it: "StyleFileDir"
  char* buffer;            // the C interface's buffer
  std::string_view below;  // the path below the data root: "StyleFile/"
};

std::span<const PathTableEntry> PathTableEntries();

}  // namespace loomreg

#endif
