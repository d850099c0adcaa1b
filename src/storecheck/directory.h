// One directory of the store read whole, entry by entry with each entry's kind. A symbolic link
// is recorded as a link, never by what it points to: a save never follows one.
#ifndef LOOMREG_STORECHECK_DIRECTORY_H
#define LOOMREG_STORECHECK_DIRECTORY_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "file_io.h"

namespace loomreg {

enum class EntryKind {
  kFile,       // a regular file
  kDirectory,  // a directory
  kLink,       // a symbolic link, whatever it points to
  kOther,      // a device, FIFO or socket
};

// The entries of a directory other than "." and "..", in the order the system gave them. The
// names share one buffer, so that a directory of a million files costs little beside its names.
class Listing {
 public:
  struct Entry {
    std::string_view name;
    EntryKind kind;
  };

  std::size_t size() const { return slots_.size(); }
  Entry operator[](std::size_t i) const {
    const Slot& slot = slots_[i];
    return {std::string_view(names_).substr(slot.at, slot.size), slot.kind};
  }
  // Why the directory could not be listed, or listed only in part ("cannot list DIR: ...").
  const Status& status() const { return status_; }

  template <typename Visit>
  void ForEach(Visit&& visit) const {
    for (std::size_t i = 0; i < size(); ++i) {
      const Entry entry = (*this)[i];
      visit(entry.name, entry.kind);
    }
  }

 private:
  friend Listing ReadDirectory(const Place& place);
  struct Slot {
    std::size_t at;
    std::uint32_t size;
    EntryKind kind;
  };
  std::string names_;
  std::vector<Slot> slots_;
  Status status_;
};

// Lists the directory at `path`. What was read before a failure is kept.
Listing ReadDirectory(const Place& place);

}  // namespace loomreg

#endif
