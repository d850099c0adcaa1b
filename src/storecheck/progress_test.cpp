#include "progress.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace loomreg {
namespace {

using std::chrono::milliseconds;

// What the line wrote since the last call.
class Capture {
 public:
  ProgressLine::Sink sink() {
    return [this](std::string_view bytes) { written_ += bytes; };
  }
  std::string Take() { return std::exchange(written_, {}); }

 private:
  std::string written_;
};

constexpr std::string_view kErase = "\r\033[K";

TEST(ProgressLine, ShowsAfterTheDelayRedrawsAtMostEveryTenthAndErases) {
  Capture pipe;
  const auto start = ProgressLine::Clock::time_point{} + std::chrono::hours(1);
  {
    ProgressLine line(pipe.sink(), 80, start);
    line.Begin("reading", "kvrdata/FileList", 2'500'000, start);
    line.Advance(1'000'000, start + milliseconds(999));
    EXPECT_EQ(pipe.Take(), "") << "nothing in the run's first second";

    line.Advance(250'000, start + milliseconds(1000));
    EXPECT_EQ(pipe.Take(),
              std::string(kErase) + "loomreg-check: reading kvrdata/FileList: 1.2 of 2.5 MB (50%)");
    line.Advance(250'000, start + milliseconds(1050));
    EXPECT_EQ(pipe.Take(), "") << "redrawn within a tenth of a second";
    line.Advance(0, start + milliseconds(1100));
    EXPECT_EQ(pipe.Take(),
              std::string(kErase) + "loomreg-check: reading kvrdata/FileList: 1.5 of 2.5 MB (60%)");

    // A new file is shown at once, and never more than its size done.
    line.Begin("rewriting", "kvrdata/KindList", 700, start + milliseconds(1120));
    line.Advance(900, start + milliseconds(1300));
    EXPECT_EQ(pipe.Take(),
              std::string(kErase) +
                  "loomreg-check: rewriting kvrdata/KindList: 0 of 700 bytes (0%)" +
                  std::string(kErase) +
                  "loomreg-check: rewriting kvrdata/KindList: 700 of 700 bytes (100%)");
    line.Clear();
    EXPECT_EQ(pipe.Take(), kErase);
    line.Clear();
    line.Advance(10, start + milliseconds(2000));
    EXPECT_EQ(pipe.Take(), "") << "erased once, and nothing after until a new file begins";
    line.Begin("reading", "x\033[2J\n", 0, start + milliseconds(2100));
    EXPECT_EQ(pipe.Take(),
              std::string(kErase) + "loomreg-check: reading x\\x1b[2J\\x0a: 0 of 0 bytes (100%)")
        << "controls in a name are written escaped";
  }
  EXPECT_EQ(pipe.Take(), kErase) << "a line still shown is erased at the end";

  // Nothing shown, nothing to erase.
  { ProgressLine line(pipe.sink(), 80, start); }
  EXPECT_EQ(pipe.Take(), "");
}

TEST(ProgressLine, LongPathsGiveWayFromTheirStartToFitTheTerminal) {
  Capture pipe;
  const auto start = ProgressLine::Clock::time_point{};
  const std::string path = std::string(100, 'd') + "/SetValueFileList";
  for (std::size_t width : {60, 90, 200}) {
    ProgressLine line(pipe.sink(), width, start, milliseconds(0));
    line.Begin("reading", path, 4'200'000'000, start);
    line.Advance(2'100'000'000, start + milliseconds(500));
    const std::string text = line.Text();
    EXPECT_LT(text.size(), width);
    EXPECT_TRUE(text.ends_with("FileList: 2.1 of 4.2 GB (50%)")) << text;
    EXPECT_EQ(text.find(path) != std::string::npos, width == 200) << text;
  }
}

}  // namespace
}  // namespace loomreg
