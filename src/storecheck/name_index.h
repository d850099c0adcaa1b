// Names read from the store, each with the line it was first seen on. Each name is one record
// in an arena of large blocks (its length, its line, its bytes), and the index is one flat
// open-addressing table of 8-byte slots (where the record is, and some bits of the name's
// hash), so that a list of a million names costs a few allocations, about 20 bytes beside
// each name's own, and each lookup about one cache miss.
#ifndef LOOMREG_STORECHECK_NAME_INDEX_H
#define LOOMREG_STORECHECK_NAME_INDEX_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace loomreg {

class NameIndex {
 public:
  NameIndex() = default;
  NameIndex(NameIndex&&) = default;
  NameIndex& operator=(NameIndex&&) = default;

  struct Sighting {
    std::uint64_t first_line;  // the line the name was first seen on
    bool is_new;               // whether this was the first sighting
    std::string_view name;     // the index's copy of the name, valid as long as the index
  };
  // Adds `name` seen on `line`.
  Sighting Add(std::string_view name, std::uint64_t line);

  // Many names go in faster in batches, with the cache misses of their lookups overlapping:
  // take each one's hash and PrefetchSlot it, then PrefetchRecord each, then Add each with its
  // hash. Prefetches only warm the cache; they change nothing.
  static std::uint64_t HashOf(std::string_view name);
  void PrefetchSlot(std::uint64_t hash) const;
  void PrefetchRecord(std::uint64_t hash) const;
  Sighting Add(std::string_view name, std::uint64_t line, std::uint64_t hash);
  bool Contains(std::string_view name) const;
  std::size_t size() const { return count_; }

  // Calls `visit(name, first_line)` for every name, in no particular order.
  template <typename Visit>
  void ForEach(Visit&& visit) const {
    for (std::uint64_t slot : slots_) {
      if (slot != 0) {
        Record record = At(slot);
        visit(record.name, record.line);
      }
    }
  }

 private:
  struct Record {
    std::string_view name;
    std::uint64_t line;
  };
  // A slot is 0 while free; else its low 40 bits are the record's position in the arena plus
  // one, and its high 24 bits the top bits of the name's hash.
  static constexpr int kPositionBits = 40;

  Record At(std::uint64_t slot) const;
  // The slot holding `name`, or the free slot where it belongs. Needs a free slot.
  std::size_t Probe(std::string_view name, std::uint64_t hash) const;
  // Copies the record into the arena and returns its position.
  std::uint64_t Keep(std::string_view name, std::uint64_t line);
  void Grow();

  // Blocks of kBlock bytes, each record within one block: a record's position is its block's
  // number times kBlock plus its offset. A record larger than a block gets a block of its own.
  std::vector<std::unique_ptr<char[]>> blocks_;
  std::size_t used_ = 0;  // of the last block
  std::size_t last_size_ = 0;
  std::vector<std::uint64_t> slots_;  // a power of two in size, at most three quarters used
  std::size_t count_ = 0;
};

}  // namespace loomreg

#endif
