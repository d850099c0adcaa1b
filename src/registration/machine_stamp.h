#ifndef LOOMREG_REGISTRATION_MACHINE_STAMP_H
#define LOOMREG_REGISTRATION_MACHINE_STAMP_H

#include <ctime>
#include <string>

namespace loomreg {

// "Www Mmm dd hh:mm:ss yyyy": English names whatever the locale, a zero-padded day, 24 bytes
// for years 1000 to 9999.
std::string FormatStamp(const std::tm& local);

// The whole content of a machine's stamp file at time `when`, in local time.
std::string MachineStampText(std::string_view machine, std::time_t when);

}  // namespace loomreg

#endif
