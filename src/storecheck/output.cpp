#include "output.h"

#include "message_text.h"

namespace loomreg {
namespace {

constexpr std::size_t kFlushAt = 64 * 1024;

}  // namespace

Output& Output::operator<<(std::string_view text) {
  buffer_ += text;
  if (stream_ && buffer_.size() >= kFlushAt) (void)Flush();
  return *this;
}

Status Output::Flush() {
  if (!stream_) return failure_;
  if (failure_.ok()) failure_ = WriteAll(*stream_, "the report", buffer_);
  buffer_.clear();
  return failure_;
}

}  // namespace loomreg
