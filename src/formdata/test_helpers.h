// Helpers shared by the module's unit tests: a list that frees itself, a list's pairs as
// strings, and taking over a text the module returned.
#ifndef LOOMREG_FORMDATA_TEST_HELPERS_H
#define LOOMREG_FORMDATA_TEST_HELPERS_H

#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "formdata.h"

namespace loomreg::formdata::testing {

using Pairs = std::vector<std::pair<std::string, std::string>>;

struct ScopedList {
  ScopedList() { InitPairList(&list); }
  explicit ScopedList(const Pairs& pairs) : ScopedList() {
    for (const auto& [name, value] : pairs) AppendPair(name.c_str(), value.c_str(), &list);
  }
  ~ScopedList() { FreePairList(&list); }
  ScopedList(const ScopedList&) = delete;
  ScopedList& operator=(const ScopedList&) = delete;
  PairList* get() { return &list; }
  PairList list;
};

inline Pairs PairsOf(const PairList& list) {
  Pairs pairs;
  for (int i = 0; i < list.pairCount; ++i)
    pairs.emplace_back(list.pairs[i].name, list.pairs[i].value);
  return pairs;
}

// The text, released with free(); nullopt for NULL.
inline std::optional<std::string> TakeText(char* text) {
  if (text == nullptr) return std::nullopt;
  std::string copy(text);
  std::free(text);
  return copy;
}

}  // namespace loomreg::formdata::testing

#endif
