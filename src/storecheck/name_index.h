// Names read from the store, each with the line it was first seen on. The bytes live in an
// arena of large blocks, so that a list of a million names costs a few allocations and each
// lookup is one hash probe.
#ifndef LOOMREG_STORECHECK_NAME_INDEX_H
#define LOOMREG_STORECHECK_NAME_INDEX_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace loomreg {

// Copies of byte strings that stay put until the arena is destroyed.
class NameArena {
 public:
  std::string_view Keep(std::string_view bytes);

 private:
  std::vector<std::unique_ptr<char[]>> blocks_;
  std::size_t used_ = 0;
  std::size_t capacity_ = 0;
};

class NameIndex {
 public:
  struct Sighting {
    std::uint64_t first_line;  // the line the name was first seen on
    bool is_new;               // whether this was the first sighting
  };
  // Adds `name` seen on `line`.
  Sighting Add(std::string_view name, std::uint64_t line);
  bool Contains(std::string_view name) const { return lines_.contains(name); }
  // The line `name` was first seen on, or 0 when it was not.
  std::uint64_t FirstLine(std::string_view name) const;
  std::size_t size() const { return lines_.size(); }

  // Every name with its first line, in no particular order.
  const std::unordered_map<std::string_view, std::uint64_t>& entries() const { return lines_; }

 private:
  NameArena arena_;
  std::unordered_map<std::string_view, std::uint64_t> lines_;
};

}  // namespace loomreg

#endif
