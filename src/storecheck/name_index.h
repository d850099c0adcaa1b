// Names read from the store, each with the line it was first seen on. The bytes live in an
// arena of large blocks and the index is one flat open-addressing table, so that a list of a
// million names costs a few allocations and each lookup about one cache miss.
#ifndef LOOMREG_STORECHECK_NAME_INDEX_H
#define LOOMREG_STORECHECK_NAME_INDEX_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
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
  bool Contains(std::string_view name) const;
  std::size_t size() const { return count_; }

  // Calls `visit(name, first_line)` for every name, in no particular order.
  template <typename Visit>
  void ForEach(Visit&& visit) const {
    for (const Slot& slot : slots_) {
      if (slot.data != nullptr) visit(std::string_view(slot.data, slot.size), slot.line);
    }
  }

 private:
  // 24 bytes; a slot is free while `data` is null.
  struct Slot {
    const char* data = nullptr;
    std::uint64_t line = 0;
    std::uint32_t hash = 0;
    std::uint32_t size = 0;
  };

  // The slot holding `name`, or the free slot where it belongs. Needs a free slot.
  std::size_t Probe(std::string_view name, std::uint32_t hash) const;
  void Grow();

  NameArena arena_;
  std::vector<Slot> slots_;  // a power of two in size, at most half used
  std::size_t count_ = 0;
};

}  // namespace loomreg

#endif
