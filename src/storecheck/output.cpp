#include "output.h"

#include "message_text.h"
#include "raw_descriptor.h"

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
  if (failure_.ok()) failure_ = raw::WriteAll(fd_, "the report", buffer_);
  buffer_.clear();
  return failure_;
}

}  // namespace loomreg
