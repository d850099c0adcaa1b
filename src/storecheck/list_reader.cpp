#include "list_reader.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "progress.h"

namespace loomreg {

LineReader::LineReader(int fd, std::size_t block) : fd_(fd), block_(block == 0 ? 1 : block) {}

LineReader::LineReader(std::string_view text) : data_(text.data()), end_(text.size()), eof_(true) {}

// Makes room for one more block after the bytes not yet returned, then reads it. scanned_
// counts from begin_, so it holds across the move.
bool LineReader::Fill() {
  const std::size_t kept = end_ - begin_;
  if (buffer_ && begin_ > 0) {
    std::memmove(buffer_.get(), buffer_.get() + begin_, kept);
    begin_ = 0;
    end_ = kept;
  }
  if (capacity_ - end_ < block_) {
    // A line longer than the buffer: grow, keeping what was read of it.
    std::size_t capacity = capacity_ == 0 ? block_ : capacity_ * 2;
    while (capacity - kept < block_) capacity *= 2;
    auto bigger = std::make_unique_for_overwrite<char[]>(capacity);
    if (kept > 0) std::memcpy(bigger.get(), buffer_.get() + begin_, kept);
    buffer_ = std::move(bigger);
    capacity_ = capacity;
    begin_ = 0;
    end_ = kept;
  }
  data_ = buffer_.get();
  for (;;) {
    ssize_t got = ::read(fd_, buffer_.get() + end_, capacity_ - end_);
    if (got < 0) {
      if (errno == EINTR) continue;
      error_ = errno;
      return false;
    }
    if (got == 0) eof_ = true;
    end_ += static_cast<std::size_t>(got);
    ProgressAdvance(static_cast<std::uint64_t>(got));
    return true;
  }
}

bool LineReader::Next(TextLine& line) {
  for (;;) {
    if (error_ != 0) return false;
    const char* from = data_ + begin_ + scanned_;
    const std::size_t left = end_ - begin_ - scanned_;
    const void* lf = left == 0 ? nullptr : std::memchr(from, '\n', left);
    if (lf != nullptr || (eof_ && end_ > begin_)) {
      const char* start = data_ + begin_;
      std::size_t length;
      if (lf != nullptr) {
        length = static_cast<const char*>(lf) - start;
        begin_ += length + 1;
        if (length > 0 && start[length - 1] == '\r') {
          --length;
          line.end = LineEnd::kCrLf;
        } else {
          line.end = LineEnd::kLf;
        }
      } else {
        length = end_ - begin_;
        begin_ = end_;
        line.end = LineEnd::kNone;
      }
      scanned_ = 0;
      line.text = {start, length};
      line.number = ++number_;
      return true;
    }
    if (eof_) return false;
    scanned_ = end_ - begin_;
    if (!Fill()) return false;
  }
}

}  // namespace loomreg
