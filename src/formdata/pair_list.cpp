#include "pair_list.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#if defined(__GLIBC__) && defined(__linux__)
#include <sys/mman.h>
#define LOOMREG_MAPPED_ENTRIES 1
#endif

namespace loomreg::formdata {

OwnedText CopyText(std::string_view text) {
  OwnedText copy(static_cast<char*>(std::malloc(text.size() + 1)));
  if (copy) {
    std::memcpy(copy.get(), text.data(), text.size());
    copy.get()[text.size()] = '\0';
  }
  return copy;
}

NameValuePair* MapEntries(std::size_t count) {
#if defined(LOOMREG_MAPPED_ENTRIES)
  if (count < kMappedFromPairs || count > static_cast<std::size_t>(INT32_MAX)) return nullptr;
  // Populated at once: cheaper than a fault for every page.
  void* pages = mmap(nullptr, count * sizeof(NameValuePair), PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
  return pages == MAP_FAILED ? nullptr : static_cast<NameValuePair*>(pages);
#else
  (void)count;
  return nullptr;
#endif
}

void UnmapEntries(NameValuePair* entries, std::size_t count) {
#if defined(LOOMREG_MAPPED_ENTRIES)
  if (entries != nullptr) munmap(entries, count * sizeof *entries);
#else
  (void)entries;
  (void)count;
#endif
}

namespace {

void FreeCopies(const NameValuePair* pairs, std::int32_t count) {
  for (const NameValuePair *pair = pairs, *end = pairs + count; pair != end; ++pair) {
    std::free(pair->name);
    std::free(pair->value);
  }
}

}  // namespace

bool ReservePairs(std::size_t count, PairList* list) {
  if (count == 0) return true;
  // The array only ever holds what the list will count, so it is never larger than
  // INT32_MAX entries.
  const auto held = static_cast<std::size_t>(list->pairCount);
  void* grown = nullptr;
  if (count <= static_cast<std::size_t>(INT32_MAX) - held) {
    grown = std::realloc(list->pairs, (held + count) * sizeof(NameValuePair));
  }
  if (grown == nullptr) {
    FreePairList(list);
    return false;
  }
  list->pairs = static_cast<NameValuePair*>(grown);
  return true;
}

bool FillPairCopy(std::string_view name, std::string_view value, PairList* list) {
  OwnedText name_copy = CopyText(name);
  OwnedText value_copy = CopyText(value);
  if (!name_copy || !value_copy) {
    FreePairList(list);
    return false;
  }
  list->pairs[list->pairCount] = {name_copy.release(), value_copy.release()};
  ++list->pairCount;
  return true;
}

bool AppendPairCopy(std::string_view name, std::string_view value, PairList* list) {
  // No spare capacity: the array always holds exactly pairCount entries.
  return ReservePairs(1, list) && FillPairCopy(name, value, list);
}

}  // namespace loomreg::formdata

namespace {

// The module's one piece of shared state. Only its first byte is promised to callers; the
// rest gives room to a caller that writes a short text into it.
char g_empty_text[LOOMREG_RECORD_SIZE];

}  // namespace

void InitPairList(PairList* list) {
  list->pairCount = 0;
  list->pairs = nullptr;
}

void FreePairList(PairList* list) {
  // Read once: free() could, for all the compiler knows, change *list between calls.
  NameValuePair* const pairs = list->pairs;
  const std::int32_t count = list->pairCount;
  if (pairs != nullptr) {
    // A large list's entries move out of the array, so that it goes first (see MapEntries).
    const auto size = static_cast<std::size_t>(count);
    if (NameValuePair* moved = loomreg::formdata::MapEntries(size)) {
      std::memcpy(moved, pairs, size * sizeof *pairs);
      std::free(pairs);
      loomreg::formdata::FreeCopies(moved, count);
      loomreg::formdata::UnmapEntries(moved, size);
    } else {
      loomreg::formdata::FreeCopies(pairs, count);
      std::free(pairs);
    }
  }
  InitPairList(list);
}

void AppendPair(const char* name, const char* value, PairList* list) {
  loomreg::formdata::AppendPairCopy(name, value, list);
}

char* FindPairValue(const char* name, const PairList* list) {
  for (std::int32_t i = 0; i < list->pairCount; ++i) {
    if (std::strcmp(list->pairs[i].name, name) == 0) return list->pairs[i].value;
  }
  return nullptr;
}

char* GetPairValue(const char* name, const PairList* list) {
  if (char* value = FindPairValue(name, list)) return value;
  // Rewritten on every miss: a caller may have written into it since the last one.
  g_empty_text[0] = '\0';
  return g_empty_text;
}

void PrintPairList(const PairList* list) {
  for (std::int32_t i = 0; i < list->pairCount; ++i) {
    std::printf("%s:%s\n", list->pairs[i].name, list->pairs[i].value);
  }
}
