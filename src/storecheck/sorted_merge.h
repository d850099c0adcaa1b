// The walk over two sorted lists of names at once, as the checker takes the styles (with a
// directory, a file list or both) and the machines (with a file list, a stamp or both).
#ifndef LOOMREG_STORECHECK_SORTED_MERGE_H
#define LOOMREG_STORECHECK_SORTED_MERGE_H

#include <vector>

namespace loomreg {

// Calls `visit(name, in_first, in_second)` once for every name of either list, in order. Both
// lists are sorted and hold each name once.
template <typename Name, typename Visit>
void ForEachInEither(const std::vector<Name>& first, const std::vector<Name>& second,
                     Visit&& visit) {
  auto a = first.begin();
  auto b = second.begin();
  while (a != first.end() || b != second.end()) {
    const bool take_a = b == second.end() || (a != first.end() && *a <= *b);
    const bool take_b = a == first.end() || (b != second.end() && *b <= *a);
    visit(take_a ? *a : *b, take_a, take_b);
    if (take_a) ++a;
    if (take_b) ++b;
  }
}

}  // namespace loomreg

#endif
