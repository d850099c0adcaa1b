#include "name_index.h"

#include <algorithm>
#include <cstring>
#include <functional>

namespace loomreg {
namespace {

constexpr std::size_t kArenaBlock = 1 << 20;
constexpr std::size_t kFirstSlots = 64;

std::uint32_t Hash(std::string_view name) {
  return static_cast<std::uint32_t>(std::hash<std::string_view>{}(name));
}

}  // namespace

std::string_view NameArena::Keep(std::string_view bytes) {
  if (bytes.empty()) return "";  // not null: a NameIndex slot with null data is free
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

std::size_t NameIndex::Probe(std::string_view name, std::uint32_t hash) const {
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    const Slot& slot = slots_[i];
    if (slot.data == nullptr) return i;
    if (slot.hash == hash && std::string_view(slot.data, slot.size) == name) return i;
  }
}

NameIndex::Sighting NameIndex::Add(std::string_view name, std::uint64_t line) {
  if ((count_ + 1) * 2 > slots_.size()) Grow();
  const std::uint32_t hash = Hash(name);
  Slot& slot = slots_[Probe(name, hash)];
  if (slot.data != nullptr) return {slot.line, false};
  std::string_view kept = arena_.Keep(name);
  slot = {kept.data(), line, hash, static_cast<std::uint32_t>(kept.size())};
  ++count_;
  return {line, true};
}

bool NameIndex::Contains(std::string_view name) const {
  if (count_ == 0) return false;
  return slots_[Probe(name, Hash(name))].data != nullptr;
}

void NameIndex::Grow() {
  std::vector<Slot> old = std::move(slots_);
  slots_.assign(std::max(kFirstSlots, old.size() * 2), Slot{});
  const std::size_t mask = slots_.size() - 1;
  for (const Slot& slot : old) {
    if (slot.data == nullptr) continue;
    std::size_t i = slot.hash & mask;
    while (slots_[i].data != nullptr) i = (i + 1) & mask;
    slots_[i] = slot;
  }
}

}  // namespace loomreg
