#include <cstring>

#include "list_format.h"

namespace loomreg {

LineReader::LineReader(const os::Handle& file, std::string_view path, std::size_t block,
                       ReadHook on_read)
    : file_(&file), path_(path), block_(block == 0 ? 1 : block), on_read_(on_read) {}

LineReader::LineReader(std::string_view text) : data_(text.data()), end_(text.size()), eof_(true) {}

// Makes room for one more block after the bytes not yet returned, then reads it. scanned_
// counts from begin_, so it holds across the move.
Status LineReader::Fill() {
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
  std::size_t got = 0;
  if (os::Error error = os::Read(*file_, buffer_.get() + end_, capacity_ - end_, got);
      !error.ok()) {
    return Status::SystemError("cannot read", path_, error);
  }
  if (got == 0) eof_ = true;
  end_ += got;
  if (on_read_ != nullptr) on_read_(got);
  return {};
}

LineRead LineReader::Next() {
  for (;;) {
    if (!error_.ok()) return {nullptr, error_};
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
          line_.end = LineEnd::kCrLf;
        } else {
          line_.end = LineEnd::kLf;
        }
      } else {
        length = end_ - begin_;
        begin_ = end_;
        line_.end = LineEnd::kNone;
      }
      scanned_ = 0;
      line_.text = {start, length};
      ++line_.number;
      return {&line_, {}};
    }
    if (eof_) return {};
    scanned_ = end_ - begin_;
    error_ = Fill();
  }
}

}  // namespace loomreg
