#ifndef LOOMREG_STORE_MACHINE_STAMP_H
#define LOOMREG_STORE_MACHINE_STAMP_H

#include <ctime>
#include <string>
#include <string_view>

namespace loomreg {

// "Www Mmm dd hh:mm:ss yyyy": English names whatever the locale, a zero-padded day, 24 bytes
// for years 1000 to 9999.
std::string FormatStamp(const std::tm& local);

// Why `stamp` is not a time stamp FormatStamp could have written ("is not of the form
// Www Mmm dd hh:mm:ss yyyy: " and where it departs from that form, "is not a date of the
// calendar", "names the wrong weekday"), or the empty text when it is one.
std::string StampFault(std::string_view stamp);

// The whole content of a machine's stamp file at time `when`, in local time.
std::string MachineStampText(std::string_view machine, std::time_t when);

}  // namespace loomreg

#endif
