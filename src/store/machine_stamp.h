#ifndef LOOMREG_STORE_MACHINE_STAMP_H
#define LOOMREG_STORE_MACHINE_STAMP_H

#include <cstddef>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace loomreg {

// A machine's stamp file: "machine,Www Mmm dd hh:mm:ss yyyy", a line end and an empty line.
inline constexpr std::string_view kStampForm = "Www Mmm dd hh:mm:ss yyyy";
inline constexpr std::size_t kStampLength = kStampForm.size();
inline constexpr std::string_view kStampEnd = "\r\n\r\n";
// The most bytes of a stamp file worth reading: what lies beyond only makes it malformed.
inline constexpr std::size_t kStampReadLimit = 1024;

// "Www Mmm dd hh:mm:ss yyyy": English names whatever the locale, a zero-padded day, 24 bytes
// for years 1000 to 9999.
std::string FormatStamp(const std::tm& local);

// Why `stamp` is not a time stamp FormatStamp could have written ("is not of the form
// Www Mmm dd hh:mm:ss yyyy: " and where it departs from that form, "is not a date of the
// calendar", "names the wrong weekday"), or none when it is one.
std::optional<std::string> StampFault(std::string_view stamp);

// How the content of `machine`'s stamp file reads: as a save writes it, as one with LF-only line
// ends, or malformed, with `fault` saying why ("the stamp is empty", "the time stamp "..." is
// not of the form ...").
struct StampReading {
  enum class Form { kGood, kLfLineEnds, kMalformed };
  Form form = Form::kGood;
  std::string fault;
};
StampReading ReadStamp(std::string_view machine, std::string_view content);

// The whole content of a machine's stamp file at time `when`, in local time.
std::string MachineStampText(std::string_view machine, std::time_t when);

}  // namespace loomreg

#endif
