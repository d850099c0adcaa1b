#include "progress.h"

#include <cstdio>
#include <memory>
#include <utility>

#include "message_text.h"

namespace loomreg {
namespace {

constexpr auto kRedrawEvery = std::chrono::milliseconds(100);
constexpr std::string_view kProgram = "loomreg-check: ";
constexpr std::string_view kErase = "\r\033[K";  // to the line's start, erasing to its end

// `done` of `total` bytes in the unit that suits the total, and the share done.
std::string Amount(std::uint64_t done, std::uint64_t total) {
  struct Unit {
    std::uint64_t size;
    const char* name;
  };
  static constexpr Unit kUnits[] = {{1000000000, "GB"}, {1000000, "MB"}, {1000, "kB"}};
  if (done > total) done = total;
  char text[96];
  const unsigned percent = total == 0 ? 100 : static_cast<unsigned>(done * 100 / total);
  for (const Unit& unit : kUnits) {
    if (total >= unit.size) {
      std::snprintf(text, sizeof text, "%.1f of %.1f %s (%u%%)",
                    static_cast<double>(done) / unit.size, static_cast<double>(total) / unit.size,
                    unit.name, percent);
      return text;
    }
  }
  std::snprintf(text, sizeof text, "%llu of %llu bytes (%u%%)",
                static_cast<unsigned long long>(done), static_cast<unsigned long long>(total),
                percent);
  return text;
}

std::unique_ptr<ProgressLine>& TheLine() {
  static std::unique_ptr<ProgressLine> line;
  return line;
}

}  // namespace

ProgressLine::ProgressLine(Sink sink, std::size_t width, Clock::time_point start,
                           Clock::duration delay)
    : sink_(std::move(sink)), width_(width), show_from_(start + delay) {}

void ProgressLine::Begin(std::string_view action, std::string_view path, std::uint64_t total,
                         Clock::time_point now) {
  action_ = action;
  path_ = EscapeForLine(path);  // a planted name must not move the cursor or end the line
  total_ = total;
  done_ = 0;
  active_ = true;
  Draw(now, true);
}

void ProgressLine::Advance(std::uint64_t bytes, Clock::time_point now) {
  if (!active_) return;
  done_ += bytes;
  Draw(now, done_ >= total_);  // a file read to its end shows so
}

std::string ProgressLine::Text() const {
  const std::string amount = ": " + Amount(done_, total_);
  std::string line = std::string(kProgram) + action_ + " ";
  // The path gives way from its start when the line would not fit: its end names the file.
  const std::size_t room =
      width_ > line.size() + amount.size() + 1 ? width_ - 1 - line.size() - amount.size() : 0;
  if (path_.size() <= room) {
    line += path_;
  } else if (room > 3) {
    line += "...";
    line += std::string_view(path_).substr(path_.size() - (room - 3));
  }
  line += amount;
  if (line.size() >= width_) line.resize(width_ > 0 ? width_ - 1 : 0);
  return line;
}

void ProgressLine::Draw(Clock::time_point now, bool force) {
  if (now < show_from_ || (!force && shown_ && now - drawn_at_ < kRedrawEvery)) return;
  drawn_at_ = now;
  shown_ = true;
  sink_(std::string(kErase) + Text());
}

void ProgressLine::Clear() {
  active_ = false;
  if (!shown_) return;
  shown_ = false;
  sink_(kErase);
}

void EnableProgress() {
  std::size_t width = 80;
  if (!os::IsTerminal(os::Stream::kError, width)) return;
  auto to_standard_error = [](std::string_view bytes) {
    (void)WriteAll(os::Stream::kError, "the progress line", bytes);
  };
  TheLine() = std::make_unique<ProgressLine>(to_standard_error, width, ProgressLine::Clock::now());
}

void ProgressBegin(std::string_view action, std::string_view path, const os::Handle& file) {
  if (!TheLine()) return;
  os::Info info;
  const std::uint64_t total = os::Stat(file, info).ok() ? info.size : 0;
  TheLine()->Begin(action, path, total, ProgressLine::Clock::now());
}

void ProgressAdvance(std::uint64_t bytes) {
  if (TheLine()) TheLine()->Advance(bytes, ProgressLine::Clock::now());
}

void ClearProgress() {
  if (TheLine()) TheLine()->Clear();
}

}  // namespace loomreg
