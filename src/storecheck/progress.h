// The one self-updating line that shows, on a terminal, what a long check or repair is reading:
// the file and how many of its bytes are done. It appears only once the run has taken more than
// a second, and is erased before anything else is written.
#ifndef LOOMREG_STORECHECK_PROGRESS_H
#define LOOMREG_STORECHECK_PROGRESS_H

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "os.h"

namespace loomreg {

class ProgressLine {
 public:
  using Clock = std::chrono::steady_clock;

  // Where the line's bytes go.
  using Sink = std::function<void(std::string_view bytes)>;

  // Draws through `sink`, in lines shorter than `width` columns, nothing before `start` +
  // `delay`.
  ProgressLine(Sink sink, std::size_t width, Clock::time_point start,
               Clock::duration delay = std::chrono::seconds(1));
  ~ProgressLine() { Clear(); }
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  // `action` ("reading") `path`, of `total` bytes, starts now.
  void Begin(std::string_view action, std::string_view path, std::uint64_t total,
             Clock::time_point now);
  // `bytes` more of it are done.
  void Advance(std::uint64_t bytes, Clock::time_point now);
  // Erases the line, if one is shown.
  void Clear();

  // The text of the line for what is being done, cut to the width.
  std::string Text() const;

 private:
  void Draw(Clock::time_point now, bool force);

  Sink sink_;
  std::size_t width_;
  Clock::time_point show_from_;
  Clock::time_point drawn_at_{};
  std::string action_;
  std::string path_;
  std::uint64_t total_ = 0;
  std::uint64_t done_ = 0;
  bool active_ = false;
  bool shown_ = false;
};

// The progress line of this process, to standard error: off until EnableProgress(), which
// turns it on only when standard error is a terminal. The run's second counts from then.
void EnableProgress();
// Reading `path`, open as `file`, begins; its size is the total.
void ProgressBegin(std::string_view action, std::string_view path, const os::Handle& file);
void ProgressAdvance(std::uint64_t bytes);
void ClearProgress();

}  // namespace loomreg

#endif
