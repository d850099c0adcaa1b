#include "output.h"

#include <unistd.h>

#include <cerrno>

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
  std::string_view rest = buffer_;
  while (!rest.empty() && !failed_) {
    ssize_t written = ::write(fd_, rest.data(), rest.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      failed_ = true;
      error_ = errno;
    } else {
      rest.remove_prefix(static_cast<std::size_t>(written));
    }
  }
  buffer_.clear();
  return !failed_;
}

}  // namespace loomreg
