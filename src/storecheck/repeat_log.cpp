#include "repeat_log.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace loomreg {
namespace {

constexpr std::size_t kSpillAt = 1 << 20;
constexpr std::size_t kReadBlock = 1 << 20;
// line, first line, name length
constexpr std::size_t kHeader = 8 + 8 + 4;

void PutU64(std::string& out, std::uint64_t value) {
  char bytes[8];
  std::memcpy(bytes, &value, 8);
  out.append(bytes, 8);
}

std::uint64_t GetU64(const char* bytes) {
  std::uint64_t value;
  std::memcpy(&value, bytes, 8);
  return value;
}

}  // namespace

RepeatLog::RepeatLog(std::string file) : file_(std::move(file)) {}

RepeatLog::~RepeatLog() = default;

RepeatLog::RepeatLog(RepeatLog&& other) noexcept
    : file_(std::move(other.file_)),
      temp_(std::move(other.temp_)),
      spilled_(other.spilled_),
      pending_(std::move(other.pending_)),
      count_(other.count_),
      spilling_(other.spilling_) {}

RepeatLog& RepeatLog::operator=(RepeatLog&& other) noexcept {
  if (this != &other) {
    file_ = std::move(other.file_);
    temp_ = std::move(other.temp_);
    spilled_ = other.spilled_;
    pending_ = std::move(other.pending_);
    count_ = other.count_;
    spilling_ = other.spilling_;
  }
  return *this;
}

void RepeatLog::Add(std::uint64_t line, std::uint64_t first_line, std::string_view name) {
  PutU64(pending_, line);
  PutU64(pending_, first_line);
  const auto size = static_cast<std::uint32_t>(name.size());
  char bytes[4];
  std::memcpy(bytes, &size, 4);
  pending_.append(bytes, 4);
  pending_.append(name.data(), size);
  ++count_;
  if (pending_.size() >= kSpillAt) Spill();
}

// Appends what is pending to the temporary file, creating it the first time. When that fails
// the entries stay in memory: a report in full matters more than the memory it takes.
void RepeatLog::Spill() {
  if (!spilling_) return;
  if (!temp_.valid() && !os::OpenUnnamedFile(temp_).ok()) {
    spilling_ = false;
    return;
  }
  std::size_t done = 0;
  while (done < pending_.size()) {
    std::size_t written = 0;
    const os::Error error =
        os::WriteAt(temp_, spilled_ + done, std::string_view(pending_).substr(done), written);
    if (written == 0 || (!error.ok() && error.kind != os::Kind::kShortWrite)) {
      // What was written of this batch is ignored: the file ends at spilled_ for the reader.
      spilling_ = false;
      return;
    }
    done += written;
  }
  spilled_ += done;
  pending_.clear();
}

bool RepeatLog::Reader::Have(std::size_t n) {
  if (buffer_.size() - at_ >= n) return true;
  // The bytes not yet taken, then the next block from the file or from memory.
  buffer_.erase(0, at_);
  offset_ += at_;
  at_ = 0;
  while (buffer_.size() < n) {
    const std::uint64_t from = offset_ + buffer_.size();
    if (from < log_.spilled_) {
      const std::size_t want =
          static_cast<std::size_t>(std::min<std::uint64_t>(kReadBlock, log_.spilled_ - from));
      const std::size_t old = buffer_.size();
      buffer_.resize(old + want);
      std::size_t got = 0;
      const os::Error error = os::ReadAt(log_.temp_, from, buffer_.data() + old, want, got);
      buffer_.resize(old + (error.ok() ? got : 0));
      if (!error.ok() || got == 0) return false;
    } else {
      const std::uint64_t in_memory = from - log_.spilled_;
      if (in_memory >= log_.pending_.size()) return false;
      buffer_.append(log_.pending_, static_cast<std::size_t>(in_memory),
                     std::min(kReadBlock, log_.pending_.size() - in_memory));
    }
  }
  return true;
}

bool RepeatLog::Reader::Next(Entry& entry) {
  if (!Have(kHeader)) return false;
  const char* header = buffer_.data() + at_;
  entry.line = GetU64(header);
  entry.first_line = GetU64(header + 8);
  std::uint32_t size;
  std::memcpy(&size, header + 16, 4);
  if (!Have(kHeader + size)) return false;
  entry.name.assign(buffer_.data() + at_ + kHeader, size);
  at_ += kHeader + size;
  return true;
}

}  // namespace loomreg
