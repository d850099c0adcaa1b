// Buffered output of a report to standard output or error, or into memory for tests.
#ifndef LOOMREG_STORECHECK_OUTPUT_H
#define LOOMREG_STORECHECK_OUTPUT_H

#include <optional>
#include <string>
#include <string_view>

#include "file_io.h"

namespace loomreg {

class Output {
 public:
  // Keeps everything in memory (see text()).
  Output() = default;
  // Writes to `stream`.
  explicit Output(os::Stream stream) : stream_(stream) {}
  ~Output() { (void)Flush(); }
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;

  Output& operator<<(std::string_view text);
  Output& operator<<(char c) { return *this << std::string_view(&c, 1); }
  // Writes out what is buffered. Fails once any write failed, with the first failure.
  Status Flush();
  const std::string& text() const { return buffer_; }

 private:
  std::optional<os::Stream> stream_;
  std::string buffer_;
  Status failure_;
};

}  // namespace loomreg

#endif
