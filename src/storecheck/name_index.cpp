#include "name_index.h"

#include <algorithm>
#include <cstring>

namespace loomreg {
namespace {

constexpr std::size_t kArenaBlock = 1 << 20;

}  // namespace

std::string_view NameArena::Keep(std::string_view bytes) {
  if (bytes.empty()) return {};
  if (capacity_ - used_ < bytes.size()) {
    capacity_ = std::max(kArenaBlock, bytes.size());
    blocks_.push_back(std::make_unique_for_overwrite<char[]>(capacity_));
    used_ = 0;
  }
  char* copy = blocks_.back().get() + used_;
  std::memcpy(copy, bytes.data(), bytes.size());
  used_ += bytes.size();
  return {copy, bytes.size()};
}

NameIndex::Sighting NameIndex::Add(std::string_view name, std::uint64_t line) {
  if (auto found = lines_.find(name); found != lines_.end()) return {found->second, false};
  lines_.emplace(arena_.Keep(name), line);
  return {line, true};
}

std::uint64_t NameIndex::FirstLine(std::string_view name) const {
  auto found = lines_.find(name);
  return found == lines_.end() ? 0 : found->second;
}

}  // namespace loomreg
