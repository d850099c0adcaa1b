#include "pair_list.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#if defined(__GLIBC__)
#include <sys/mman.h>
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

namespace {

// Releasing a large list. glibc keeps the small blocks it is given back in fast bins, where the
// next requests of their sizes take them back, but folds all of them into larger free blocks
// whenever a block of 64 KiB or more is released. Released after the copies, a large entry
// array would fold the copies of the whole list, and the next parse would carve its copies one
// by one from the merged space. So the entries of a large list move to pages of their own,
// outside the allocator, the array is released first, and then the copies.
constexpr std::int32_t kMovedFromPairs = 65536 / sizeof(NameValuePair);

void FreeCopies(const NameValuePair* pairs, std::int32_t count) {
  for (const NameValuePair *pair = pairs, *end = pairs + count; pair != end; ++pair) {
    std::free(pair->name);
    std::free(pair->value);
  }
}

// False, with nothing released, when the pages cannot be had.
bool FreeArrayFirst(NameValuePair* pairs, std::int32_t count) {
#if defined(__GLIBC__)
  const std::size_t size = static_cast<std::size_t>(count) * sizeof *pairs;
  void* moved = mmap(nullptr, size, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
  if (moved == MAP_FAILED) return false;
  std::memcpy(moved, pairs, size);
  std::free(pairs);
  FreeCopies(static_cast<NameValuePair*>(moved), count);
  munmap(moved, size);
  return true;
#else
  (void)pairs;
  (void)count;
  return false;
#endif
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
  if (pairs != nullptr && (count < loomreg::formdata::kMovedFromPairs ||
                           !loomreg::formdata::FreeArrayFirst(pairs, count))) {
    loomreg::formdata::FreeCopies(pairs, count);
    std::free(pairs);
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
