// The appends of AppendPair and ParseFormData, for texts whose lengths are known: one pair at a
// time, or the array grown once for a known number of pairs and then filled.
#ifndef LOOMREG_FORMDATA_PAIR_LIST_H
#define LOOMREG_FORMDATA_PAIR_LIST_H

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "formdata.h"

namespace loomreg::formdata {

struct FreeDeleter {
  void operator()(char* text) const { std::free(text); }
};
using OwnedText = std::unique_ptr<char, FreeDeleter>;

// A NUL-terminated heap copy of `text` (which must hold no NUL); null when memory runs out.
OwnedText CopyText(std::string_view text);

// With glibc on Linux, whose allocator folds every small block it holds in its fast bins into
// larger free ones when a block of 1 KiB or more is requested, or one of 64 KiB or more
// released, a large list holds its entries for a moment on pages outside the allocator, so that
// its entry array is requested after its copies and released before them. Not elsewhere, nor
// below kMappedFromPairs entries.
constexpr std::size_t kMappedFromPairs = 65536 / sizeof(NameValuePair);

// Up to `capacity` entries held for a moment on such pages. Mapping pages costs more than
// filling them, so each entry is held as two 32-bit offsets from the first name while every
// copy lies within 2 GiB of it, on half the pages; once one does not, all are held whole.
// mapped() is false where no pages are used, and when they cannot be had.
class StagedEntries {
 public:
  explicit StagedEntries(std::size_t capacity);
  ~StagedEntries();
  StagedEntries(const StagedEntries&) = delete;
  StagedEntries& operator=(const StagedEntries&) = delete;

  bool mapped() const { return packed_ != nullptr || whole_ != nullptr; }
  std::size_t capacity() const { return capacity_; }
  std::size_t size() const { return size_; }
  // Holds one more entry, of at most `capacity`; false, holding it not, when the pages for
  // whole entries cannot be had.
  bool Push(NameValuePair entry);
  NameValuePair operator[](std::size_t index) const;
  // Copies the entries held, in order, to `out`.
  void CopyTo(NameValuePair* out) const;

 private:
  std::size_t capacity_;
  std::size_t size_ = 0;
  std::uintptr_t base_ = 0;
  std::int32_t* packed_ = nullptr;  // name and value offsets of each entry
  NameValuePair* whole_ = nullptr;
};

// Appends copies of `name` and `value` (which must hold no NUL) to the list, growing its entry
// array by exactly one entry. When memory runs out, releases the list, leaves it empty and
// returns false.
bool AppendPairCopy(std::string_view name, std::string_view value, PairList* list);

// Grows the entry array to pairCount + `count` entries in one step, for a caller that appends
// exactly `count` pairs with FillPairCopy next and returns only after that; pairCount stays as
// it is. A count of 0 changes nothing. When memory runs out, releases the list, leaves it
// empty and returns false.
bool ReservePairs(std::size_t count, PairList* list);

// Stores copies of `name` and `value` (which must hold no NUL) in the entry after the last one,
// for which ReservePairs made room, and counts it. When memory runs out, releases the list,
// leaves it empty and returns false.
bool FillPairCopy(std::string_view name, std::string_view value, PairList* list);

}  // namespace loomreg::formdata

#endif
