// The store's directories as the check sees them: each read once, before anything is judged,
// into one picture that every part of the check looks things up in.
#ifndef LOOMREG_STORECHECK_STORE_SCAN_H
#define LOOMREG_STORECHECK_STORE_SCAN_H

#include <map>
#include <string>

#include "directory.h"
#include "store.h"
#include "store_layout.h"

namespace loomreg {

class StoreScan {
 public:
  // Reads the directories of `paths` that hold lists, stamps, uploads and leftovers, and every
  // style directory found in SetValueFile/.
  StoreScan(const Store& store, const StorePaths& paths);

  // The listing of `dir`, one of those read.
  const Listing& Of(const std::string& dir) const { return listings_.at(dir); }

 private:
  void Read(const Store& store, const std::string& dir);

  // By path: a directory the path table names twice is read once.
  std::map<std::string, Listing> listings_;
};

}  // namespace loomreg

#endif
