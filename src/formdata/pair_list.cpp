#include "pair_list.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "pages.h"

// Where the allocator gains from entries held outside it (see kMappedFromPairs).
#if defined(__GLIBC__) && defined(__linux__)
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

namespace {

// Pages for `bytes` bytes, or null (see kMappedFromPairs).
void* MapPages(std::size_t bytes) {
#if defined(LOOMREG_MAPPED_ENTRIES)
  return loomreg::os::MapPages(bytes);
#else
  (void)bytes;
  return nullptr;
#endif
}

void UnmapPages(void* pages, std::size_t bytes) { loomreg::os::UnmapPages(pages, bytes); }

// The offset of `text` from `base`, when it fits in 32 bits.
bool OffsetOf(const char* text, std::uintptr_t base, std::int32_t& offset) {
  const auto wide = static_cast<std::int64_t>(reinterpret_cast<std::uintptr_t>(text) - base);
  offset = static_cast<std::int32_t>(wide);
  return offset == wide;
}

char* AtOffset(std::uintptr_t base, std::int32_t offset) {
  return reinterpret_cast<char*>(base + static_cast<std::uintptr_t>(std::int64_t{offset}));
}

}  // namespace

StagedEntries::StagedEntries(std::size_t capacity) : capacity_(capacity) {
  if (capacity >= kMappedFromPairs && capacity <= static_cast<std::size_t>(INT32_MAX)) {
    packed_ = static_cast<std::int32_t*>(MapPages(capacity * 2 * sizeof *packed_));
  }
}

StagedEntries::~StagedEntries() {
  UnmapPages(packed_, capacity_ * 2 * sizeof *packed_);
  UnmapPages(whole_, capacity_ * sizeof *whole_);
}

bool StagedEntries::Push(NameValuePair entry) {
  if (packed_ != nullptr) {
    if (size_ == 0) base_ = reinterpret_cast<std::uintptr_t>(entry.name);
    std::int32_t* offsets = packed_ + 2 * size_;
    if (OffsetOf(entry.name, base_, offsets[0]) && OffsetOf(entry.value, base_, offsets[1])) {
      ++size_;
      return true;
    }
    // Held whole from now on.
    whole_ = static_cast<NameValuePair*>(MapPages(capacity_ * sizeof *whole_));
    if (whole_ == nullptr) return false;
    CopyTo(whole_);
    UnmapPages(packed_, capacity_ * 2 * sizeof *packed_);
    packed_ = nullptr;
  }
  whole_[size_++] = entry;
  return true;
}

NameValuePair StagedEntries::operator[](std::size_t index) const {
  if (packed_ == nullptr) return whole_[index];
  return {AtOffset(base_, packed_[2 * index]), AtOffset(base_, packed_[2 * index + 1])};
}

void StagedEntries::CopyTo(NameValuePair* out) const {
  if (packed_ == nullptr) {
    std::memcpy(out, whole_, size_ * sizeof *out);
    return;
  }
  for (std::size_t i = 0; i < size_; ++i) out[i] = (*this)[i];
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
    // A large list's entries move out of the array, so that it goes first (see kMappedFromPairs).
    loomreg::formdata::StagedEntries moved(static_cast<std::size_t>(count));
    bool all_moved = moved.mapped();
    for (std::int32_t i = 0; all_moved && i < count; ++i) all_moved = moved.Push(pairs[i]);
    if (all_moved) {
      std::free(pairs);
      for (std::size_t i = 0; i < moved.size(); ++i) {
        const NameValuePair pair = moved[i];
        std::free(pair.name);
        std::free(pair.value);
      }
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
