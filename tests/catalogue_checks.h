// Checks of a whole data store that must hold after any sequence of saves, finished or not.
#ifndef LOOMREG_TESTS_CATALOGUE_CHECKS_H
#define LOOMREG_TESTS_CATALOGUE_CHECKS_H

#include <filesystem>
#include <string>
#include <vector>

namespace loomreg::testing {

// The lines of a catalogue written with CR LF line ends, without them.
std::vector<std::string> CrLfLines(const std::string& text);

// Every catalogue file is empty or ends with CR LF and holds no bare CR or LF; no name stands
// twice in MachineList, KindList or FileList. Returns the violations found, one per entry.
std::vector<std::string> CatalogueViolations(const std::filesystem::path& data);

}  // namespace loomreg::testing

#endif
