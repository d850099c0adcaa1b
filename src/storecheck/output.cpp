#include "output.h"

#include "message_text.h"

namespace loomreg {
namespace {

constexpr std::size_t kFlushAt = 64 * 1024;

}  // namespace

Output& Output::operator<<(std::string_view text) {
  buffer_ += text;
  if (fd_ >= 0 && buffer_.size() >= kFlushAt) (void)Flush();
  return *this;
}

Status Output::Flush() {
  if (fd_ < 0) return failure_;
  if (failure_.ok()) {
    if (const int err = WriteAll(fd_, buffer_); err != 0) {
      failure_ = Status::SystemError("cannot write", "the report", err);
    }
  }
  buffer_.clear();
  return failure_;
}

}  // namespace loomreg
