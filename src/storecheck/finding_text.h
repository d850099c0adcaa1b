// The wording the check gives its findings: what a name stands for, counts of lines, ages.
#ifndef LOOMREG_STORECHECK_FINDING_TEXT_H
#define LOOMREG_STORECHECK_FINDING_TEXT_H

#include <cstdint>
#include <string>
#include <string_view>

namespace loomreg {

// What a name stands for, for the rules a save applies to it.
enum class Role { kFile, kStyle, kMachine };

// "file name", "style", "machine".
std::string_view RoleText(Role role);

// "1 line ends in LF alone", "3 lines end in LF alone (first on line 7)": `one` and `many` are
// the verb phrases for one line and for several.
std::string LinesText(std::uint64_t count, std::string_view one, std::string_view many,
                      std::uint64_t first);

// "42 s", "5 min", "2 h 5 min", "3 d 4 h".
std::string AgeText(std::int64_t seconds);

}  // namespace loomreg

#endif
