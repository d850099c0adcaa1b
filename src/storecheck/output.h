// Buffered output of a report to a file descriptor, or into memory for tests.
#ifndef LOOMREG_STORECHECK_OUTPUT_H
#define LOOMREG_STORECHECK_OUTPUT_H

#include <string>
#include <string_view>

namespace loomreg {

class Output {
 public:
  // Writes to `fd`; with -1 keeps everything in memory (see text()).
  explicit Output(int fd = -1) : fd_(fd) {}
  ~Output() { Flush(); }
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;

  Output& operator<<(std::string_view text);
  Output& operator<<(char c) { return *this << std::string_view(&c, 1); }
  // Writes out what is buffered. False once any write failed; error() then tells why.
  bool Flush();
  // The errno of the first write that failed, or 0.
  int error() const { return error_; }
  const std::string& text() const { return buffer_; }

 private:
  int fd_;
  std::string buffer_;
  bool failed_ = false;
  int error_ = 0;
};

}  // namespace loomreg

#endif
