// The appends of AppendPair and ParseFormData, for texts whose lengths are known: one pair at a
// time, or the array grown once for a known number of pairs and then filled.
#ifndef LOOMREG_FORMDATA_PAIR_LIST_H
#define LOOMREG_FORMDATA_PAIR_LIST_H

#include <cstddef>
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
// released: pages outside the allocator for `count` entries that a large list holds there for a
// moment, so that its entry array is requested after its copies and released before them.
// Null elsewhere, below kMappedFromPairs entries, and when the pages cannot be had.
constexpr std::size_t kMappedFromPairs = 65536 / sizeof(NameValuePair);
NameValuePair* MapEntries(std::size_t count);
void UnmapEntries(NameValuePair* entries, std::size_t count);

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
