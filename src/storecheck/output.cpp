#include "output.h"

#include "message_text.h"

namespace loomreg {
namespace {

constexpr std::size_t kFlushAt = 64 * 1024;

}  // namespace

Output& Output::operator<<(std::string_view text) {
  buffer_ += text;
  if (fd_ >= 0 && buffer_.size() >= kFlushAt) Flush();
  return *this;
}

bool Output::Flush() {
  if (fd_ < 0) return !failed_;
  if (!failed_) {
    error_ = WriteAll(fd_, buffer_);
    failed_ = error_ != 0;
  }
  buffer_.clear();
  return !failed_;
}

}  // namespace loomreg
