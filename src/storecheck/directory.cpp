#include "directory.h"

namespace loomreg {
namespace {

EntryKind KindOf(os::Type type) {
  switch (type) {
    case os::Type::kRegular:
      return EntryKind::kFile;
    case os::Type::kDirectory:
      return EntryKind::kDirectory;
    case os::Type::kLink:
      return EntryKind::kLink;
    default:
      return EntryKind::kOther;
  }
}

}  // namespace

Listing ReadDirectory(const Place& place) {
  Listing listing;
  // The path table's directories may be links, and are followed, as opendir() would.
  const os::Error listed =
      os::VisitDirectory(place.directory(), place.name, [&](std::string_view name, os::Type type) {
        listing.slots_.push_back(
            {listing.names_.size(), static_cast<std::uint32_t>(name.size()), KindOf(type)});
        listing.names_ += name;
      });
  if (!listed.ok()) listing.status_ = Status::SystemError("cannot list", place.shown, listed);
  return listing;
}

}  // namespace loomreg
