#include "name_index.h"

#include <algorithm>
#include <cstring>
#include <functional>

namespace loomreg {
namespace {

constexpr std::size_t kBlock = 1 << 20;
constexpr std::size_t kFirstSlots = 64;
constexpr std::uint64_t kPositionMask = (std::uint64_t{1} << 40) - 1;

// A record: the name's length (one byte, or 0xFF and four more), its first line, its bytes.
std::size_t RecordSize(std::size_t name_size) { return (name_size < 0xFF ? 1 : 5) + 8 + name_size; }

}  // namespace

std::uint64_t NameIndex::HashOf(std::string_view name) {
  return std::hash<std::string_view>{}(name);
}

void NameIndex::PrefetchSlot(std::uint64_t hash) const {
  if (!slots_.empty()) __builtin_prefetch(&slots_[hash & (slots_.size() - 1)]);
}

void NameIndex::PrefetchRecord(std::uint64_t hash) const {
  if (slots_.empty()) return;
  const std::uint64_t slot = slots_[hash & (slots_.size() - 1)];
  if (slot == 0) return;
  const std::uint64_t position = (slot & kPositionMask) - 1;
  __builtin_prefetch(blocks_[position / kBlock].get() + position % kBlock);
}

NameIndex::Record NameIndex::At(std::uint64_t slot) const {
  const std::uint64_t position = (slot & kPositionMask) - 1;
  const char* record = blocks_[position / kBlock].get() + position % kBlock;
  std::size_t size = static_cast<unsigned char>(*record++);
  if (size == 0xFF) {
    std::uint32_t long_size;
    std::memcpy(&long_size, record, 4);
    size = long_size;
    record += 4;
  }
  std::uint64_t line;
  std::memcpy(&line, record, 8);
  return {{record + 8, size}, line};
}

std::uint64_t NameIndex::Keep(std::string_view name, std::uint64_t line) {
  const std::size_t size = RecordSize(name.size());
  if (blocks_.empty() || last_size_ - used_ < size) {
    last_size_ = std::max(kBlock, size);
    blocks_.push_back(std::make_unique_for_overwrite<char[]>(last_size_));
    used_ = 0;
  }
  char* record = blocks_.back().get() + used_;
  const std::uint64_t position = (blocks_.size() - 1) * kBlock + used_;
  used_ += size;
  if (name.size() < 0xFF) {
    *record++ = static_cast<char>(name.size());
  } else {
    *record++ = static_cast<char>(0xFF);
    const auto long_size = static_cast<std::uint32_t>(name.size());
    std::memcpy(record, &long_size, 4);
    record += 4;
  }
  std::memcpy(record, &line, 8);
  if (!name.empty()) std::memcpy(record + 8, name.data(), name.size());
  return position;
}

std::size_t NameIndex::Probe(std::string_view name, std::uint64_t hash) const {
  const std::size_t mask = slots_.size() - 1;
  const std::uint64_t tag = hash >> kPositionBits;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    const std::uint64_t slot = slots_[i];
    if (slot == 0) return i;
    if ((slot >> kPositionBits) == tag && At(slot).name == name) return i;
  }
}

NameIndex::Sighting NameIndex::Add(std::string_view name, std::uint64_t line) {
  return Add(name, line, HashOf(name));
}

NameIndex::Sighting NameIndex::Add(std::string_view name, std::uint64_t line, std::uint64_t hash) {
  if ((count_ + 1) * 4 > slots_.size() * 3) Grow();
  std::uint64_t& slot = slots_[Probe(name, hash)];
  if (slot != 0) {
    Record record = At(slot);
    return {record.line, false, record.name};
  }
  const std::uint64_t position = Keep(name, line);
  slot = (hash >> kPositionBits << kPositionBits) | (position + 1);
  ++count_;
  return {line, true, At(slot).name};
}

bool NameIndex::Contains(std::string_view name) const {
  if (count_ == 0) return false;
  return slots_[Probe(name, HashOf(name))] != 0;
}

// Doubles the table. The slots keep only part of each hash, so every name is hashed again.
void NameIndex::Grow() {
  std::vector<std::uint64_t> old = std::move(slots_);
  slots_.assign(std::max(kFirstSlots, old.size() * 2), 0);
  const std::size_t mask = slots_.size() - 1;
  for (std::uint64_t slot : old) {
    if (slot == 0) continue;
    std::size_t i = HashOf(At(slot).name) & mask;
    while (slots_[i] != 0) i = (i + 1) & mask;
    slots_[i] = slot;
  }
}

}  // namespace loomreg
