// Repeated names of one each-once list, as a check finds them or a repair removes them. A damaged
// list can repeat millions of names, so the entries go to an unnamed temporary file as they
// come, and memory holds only a buffer and their count; they are read back in the order
// written. Without a temporary file (none can be created, or a write fails) they stay in memory.
#ifndef LOOMREG_STORECHECK_REPEAT_LOG_H
#define LOOMREG_STORECHECK_REPEAT_LOG_H

#include <cstdint>
#include <string>
#include <string_view>

#include "os.h"

namespace loomreg {

class RepeatLog {
 public:
  struct Entry {
    std::uint64_t line = 0;        // where the name stands again
    std::uint64_t first_line = 0;  // where it stood first
    std::string name;
  };

  // `file` is the path of the list, as findings and repairs name it.
  explicit RepeatLog(std::string file);
  ~RepeatLog();
  RepeatLog(RepeatLog&& other) noexcept;
  RepeatLog& operator=(RepeatLog&& other) noexcept;
  RepeatLog(const RepeatLog&) = delete;
  RepeatLog& operator=(const RepeatLog&) = delete;

  void Add(std::uint64_t line, std::uint64_t first_line, std::string_view name);

  const std::string& file() const { return file_; }
  std::uint64_t size() const { return count_; }

  // Reads the entries back from the first; the log must not grow meanwhile.
  class Reader {
   public:
    explicit Reader(const RepeatLog& log) : log_(log) {}
    bool Next(Entry& entry);

   private:
    // Makes `n` bytes from the read position available at buffer_[at_]; false past the end.
    bool Have(std::size_t n);

    const RepeatLog& log_;
    std::uint64_t offset_ = 0;  // of buffer_[0] in the log's bytes
    std::string buffer_;
    std::size_t at_ = 0;
  };

 private:
  void Spill();

  std::string file_;
  os::Handle temp_;            // the temporary file, once one was needed
  std::uint64_t spilled_ = 0;  // bytes in the temporary file; the rest are in pending_
  std::string pending_;
  std::uint64_t count_ = 0;
  bool spilling_ = true;  // false once the file could not be made or written
};

}  // namespace loomreg

#endif
