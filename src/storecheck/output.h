// Buffered output of a report to a file descriptor, or into memory for tests.
#ifndef LOOMREG_STORECHECK_OUTPUT_H
#define LOOMREG_STORECHECK_OUTPUT_H

#include <string>
#include <string_view>

#include "file_io.h"

namespace loomreg {

class Output {
 public:
  // Writes to `fd`; with -1 keeps everything in memory (see text()).
  explicit Output(int fd = -1) : fd_(fd) {}
  ~Output() { (void)Flush(); }
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;

  Output& operator<<(std::string_view text);
  Output& operator<<(char c) { return *this << std::string_view(&c, 1); }
  // Writes out what is buffered. Fails once any write failed, with the first failure.
  Status Flush();
  const std::string& text() const { return buffer_; }

 private:
  int fd_;
  std::string buffer_;
  Status failure_;
};

}  // namespace loomreg

#endif
