// Site paths of ./KVR_PATH.inf in relative form, as reached from the application directory.
#ifndef LOOMREG_SITECONFIG_RELATIVE_ROOTS_H
#define LOOMREG_SITECONFIG_RELATIVE_ROOTS_H

#include <string>

namespace loomreg {

// Reads the "KVR=" path, then the target with `read_target`, and returns the relative form of
// the target, whole: fitting it into a buffer is the caller's business.
std::string RelativeRoot(const char* (*read_target)());

// The data root: the relative form of the "KVRDATA=" path. The path table and MakeDataRoot both
// take it from here, so they cannot disagree.
std::string DataRoot();

}  // namespace loomreg

#endif
